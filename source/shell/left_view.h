// The frame list: the left pane, one row per frame with a check box. A click or the arrow
// keys make a frame current; the ticked rows are what the exports write.
#pragma once

#include "cmd_target.h"

#include <QTreeView>

#include <cstdint>
#include <set>

class CFrameListModel;
class CKestroDoc;

// The frames ticked at the last collection; the exports consult it frame by frame.
extern std::set<std::int32_t> g_checkedFrames;
bool IsFrameChecked(std::int32_t nFrame);

class CLeftView : public QTreeView, public CCmdTarget {
    Q_OBJECT
public:
    static constexpr int kColumnWidth = 110;

    CLeftView(CKestroDoc& doc, QWidget* pParent = nullptr);
    ~CLeftView() override;

    CKestroDoc& GetDocument() const { return m_doc; }
    CFrameListModel& GetModel() const { return *m_pModel; }

    // Registers with the document; repeating it is harmless.
    void OnInitialUpdate();
    // Rebuilds the rows from the video source (frames holding data ticked) and makes frame 0
    // current.
    void FillFrameList();
    // Copies the ticked rows into g_checkedFrames.
    void CollectCheckedFrames();

    bool OnCmdMsg(int nId) override;
    void OnSaveFrames();
    void OnSaveRgbChannels();

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    int LowestSelectedRow() const;

    CKestroDoc& m_doc;
    CFrameListModel* m_pModel;
};
