// The frame list: the left pane, one row per frame with a check box and, beside it, the frame's
// quality as a bar once the background scoring has reached it. A click or the arrow keys make a
// frame current; the ticked rows are what the exports write.
//
// Selection, ticks and the current frame are three separate things. The current frame is the
// list's current row (the one with the focus frame), whatever moved it: a click, a key, Go to
// Frame; the pop-up menu ticks or clears the selected rows; only a collection copies the ticks
// into g_checkedFrames.
#pragma once

#include "cmd_target.h"

#include <QTableView>

#include <cstdint>
#include <memory>
#include <set>

class CFrameListModel;
class CFrameScoring;
class CKestroDoc;

// The frames ticked at the last collection; the exports consult it frame by frame.
extern std::set<std::int32_t> g_checkedFrames;
bool IsFrameChecked(std::int32_t nFrame);

// A table rather than a tree: its rows cost a few bytes each, so a capture of a million frames
// lists at once. The keyboard and the current row stay in the first column, the one with the
// check boxes; the Quality column only shows.
class CLeftView : public QTableView, public CCmdTarget {
    Q_OBJECT
public:
    static constexpr int kColumnWidth = 110;
    static constexpr int kQualityColumnWidth = 60;
    // Where the keyboard's pop-up menu opens, from the list's top-left corner.
    static constexpr int kPopupOffset = 5;

    CLeftView(CKestroDoc& doc, QWidget* pParent = nullptr);
    ~CLeftView() override;

    CKestroDoc& GetDocument() const { return m_doc; }
    CFrameListModel& GetModel() const { return *m_pModel; }
    CFrameScoring& GetScoring() const { return *m_pScoring; }

    // Registers with the document and accepts dropped files; repeating it is harmless.
    void OnInitialUpdate();
    // Rebuilds the rows from the video source (frames holding data ticked) and makes frame 0
    // current: row 0 has the focus frame, and no row is selected.
    void FillFrameList();
    // Selects row n alone, makes it current and scrolls it into sight.
    void GoToRow(int n);
    // Copies the ticked rows into g_checkedFrames.
    void CollectCheckedFrames();

    bool OnCmdMsg(int nId) override;
    void OnSaveFrames();
    void OnSaveRgbChannels();
    void OnCheckSelected();
    void OnUncheckSelected();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dragMoveEvent(QDragMoveEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

private:
    // Shows the pop-up menu with its top-left corner at a screen position; the chosen command
    // goes through the main frame's routing.
    void ShowPopupMenu(const QPoint& globalPos);
    // Makes the current row the current frame (and so repaints the frame view).
    void ShowCurrentRow();
    void SetSelectedTicked(bool bTicked);
    void SetColumnWidths();

    CKestroDoc& m_doc;
    CFrameListModel* m_pModel;
    // Before the model in the order of destruction: its threads are stopped and waited for
    // while the rows they fill still exist.
    std::unique_ptr<CFrameScoring> m_pScoring;
};
