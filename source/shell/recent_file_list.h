// The recent-file list: a fixed number of slots holding full paths, the most recent first,
// kept in the settings store between runs.
#pragma once

#include <QString>
#include <vector>

class CRecentFileList {
public:
    // The settings group and the key format of the stored entries ("File1" is the most recent).
    static constexpr const char* kSection = "Recent File List";
    static constexpr const char* kEntryFormat = "File%1";

    explicit CRecentFileList(int nSize = 8, int nMaxDisplayLength = 30);

    int GetSize() const { return static_cast<int>(m_slots.size()); }
    // Slot i counted from 0; empty text for an empty slot.
    const QString& operator[](int i) const { return m_slots[static_cast<std::size_t>(i)]; }
    int GetCount() const; // slots in use, from the top

    // Makes the path a full path and puts it at the top. An entry naming the same file moves up
    // instead of being repeated; on Linux that is the same absolute path, letter case included.
    void Add(const QString& path);

    // The text of slot i for the File menu, shortened to the display length.
    QString GetDisplayName(int i) const;

    void ReadList();        // from the settings store; missing keys leave slots empty
    void WriteList() const; // to the settings store; empty slots are removed from it

    // A path shortened to at most nMax characters: the root, "...", then as many of the
    // trailing folders as fit in front of the file name; a file name too long by itself is cut
    // in the middle.
    static QString AbbreviatePath(const QString& path, int nMax);

private:
    std::vector<QString> m_slots;
    int m_nMaxDisplayLength;
};
