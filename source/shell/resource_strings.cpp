#include "resource_strings.h"

#include "resource_ids.h"

#include <array>
#include <utility>

namespace {

struct StringEntry {
    int nId;
    const char* text;
};

constexpr std::array kStringTable{
    StringEntry{ids::AFX_IDS_APP_TITLE, "Kestro"},
    StringEntry{ids::AFX_IDS_IDLEMESSAGE, "Ready"},
    StringEntry{ids::IDR_MAINFRAME, "Kestro\n\nKestro\n\n\nKestro.Document\nKestro Document"},
    StringEntry{ids::AFX_IDS_UNTITLED, "Untitled"},
    StringEntry{ids::AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document."},
    StringEntry{ids::ID_FILE_OPEN, "Open an existing document\nOpen"},
    StringEntry{ids::ID_FILE_SAVE, "Save the active document\nSave"},
    StringEntry{ids::ID_FILE_SAVE_AS, "Save the active document with a new name\nSave As"},
    StringEntry{ids::ID_FILE_MRU_FIRST, "Open this document"}, // for every recent-file entry
    StringEntry{ids::ID_APP_ABOUT, "Show the program's version and its home page\nAbout"},
    StringEntry{ids::ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"},
    StringEntry{ids::ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"},
    StringEntry{ids::ID_VIEW_LEVELS,
                "Show or hide the display levels (the display only, never an export)\nDisplay Levels"},
    StringEntry{ids::ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"},
    StringEntry{ids::ID_NEXT_PANE, "Switch to the next window pane\nNext Pane"},
    StringEntry{ids::ID_EDIT_UNDO, "Put the ticks back as they were before the last change\nUndo"},
    StringEntry{ids::ID_CHECK_BEST, "Keep only the sharpest frames ticked\nCheck best"},
    StringEntry{ids::ID_PREV_PANE, "Switch back to the previous window pane\nPrevious Pane"},
    StringEntry{ids::ID_PLAY_PAUSE, "Play the capture as a film, or pause it\nPlay"},
    StringEntry{ids::ID_PLAY_RATE_OWN, "Play at the rate the capture was recorded at"},
    StringEntry{ids::ID_PLAY_RATE_FASTEST, "Play each frame as soon as the one before it has been shown"},
    StringEntry{ids::ID_PLAY_LOOP, "Start again from the first frame at the end"},
    StringEntry{ids::ID_PLAY_TICKED_ONLY, "Play only the ticked frames"},
    StringEntry{ids::ID_BYTE_ORDER_AUTO,
                "Read the 16-bit samples of this SER capture in the byte order their values show\nByte order: auto"},
    StringEntry{ids::ID_BYTE_ORDER_LITTLE,
                "Read the 16-bit samples of this SER capture low byte first\nByte order: little-endian"},
    StringEntry{ids::ID_BYTE_ORDER_BIG,
                "Read the 16-bit samples of this SER capture high byte first\nByte order: big-endian"},
};

std::pair<QString, QString> Split(int nId)
{
    const QString entry = LoadResourceString(nId);
    const qsizetype lf = entry.indexOf(u'\n');
    if (lf < 0)
        return {entry, QString()};
    return {entry.left(lf), entry.mid(lf + 1)};
}

} // namespace

QString LoadResourceString(int nId)
{
    if (nId > ids::ID_FILE_MRU_FIRST && nId <= ids::ID_FILE_MRU_LAST)
        nId = ids::ID_FILE_MRU_FIRST;
    for (const StringEntry& e : kStringTable) {
        if (e.nId == nId)
            return QString::fromUtf8(e.text);
    }
    return {};
}

QString LoadPrompt(int nId) { return Split(nId).first; }

QString LoadToolTip(int nId) { return Split(nId).second; }
