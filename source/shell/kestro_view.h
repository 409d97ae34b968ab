// The frame view: the right pane. It draws the current frame 1:1 at its top-left corner in
// the current display settings, and hands the export commands to the frame list.
#pragma once

#include "cmd_target.h"

#include <QWidget>

class CKestroDoc;

class CKestroView : public QWidget, public CCmdTarget {
    Q_OBJECT
public:
    CKestroView(CKestroDoc& doc, QWidget* pParent = nullptr);
    ~CKestroView() override;

    CKestroDoc& GetDocument() const { return m_doc; }

    // Registers with the document and accepts dropped files; repeating it is harmless.
    void OnInitialUpdate();
    // Asks for a repaint of the whole pane. With bErase the old picture is wiped before the
    // new one is drawn; without it only the part the new picture leaves uncovered is.
    void Invalidate(bool bErase = false);
    bool IsErasePending() const { return m_bErasePending; }

    bool OnCmdMsg(int nId) override;

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dragMoveEvent(QDragMoveEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    CKestroDoc& m_doc;
    bool m_bErasePending = false;
};
