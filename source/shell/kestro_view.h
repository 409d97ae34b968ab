// The frame view: the right pane. It draws the current frame in the current display settings,
// with its top-left corner at the pane's top-left corner, at actual size unless the user zooms,
// and hands the export commands to the frame list.
//
// A picture larger than the pane can be scrolled with the scroll bars, the wheel or by
// dragging it. Zooms are steps of a fixed table; whole-number steps show each sensor pixel as
// a sharp square, the others and Fit to Window are smoothed.
#pragma once

#include "cmd_target.h"

#include <QWidget>

class CKestroDoc;
class QScrollBar;

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

    void OnZoomIn();
    void OnZoomOut();
    void OnActualSize();
    void OnFitToWindow();
    // The scale the picture is drawn at (1: actual size); with Fit to Window, the one that
    // fits the pane now.
    double GetZoom() const;
    bool IsFitToWindow() const { return m_bFit; }
    // How far the picture is scrolled: the picture's point (in drawn pixels) at the pane's
    // top-left corner.
    QPoint GetScrollPosition() const { return m_scroll; }
    void ScrollToTopLeft();
    QScrollBar& GetHorizontalScrollBar() const { return *m_pHBar; }
    QScrollBar& GetVerticalScrollBar() const { return *m_pVBar; }
    // The note drawn where a frame stored empty has no picture.
    static QString MissingFrameNote(int nFrame);

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void wheelEvent(QWheelEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void dragEnterEvent(QDragEnterEvent* pEvent) override;
    void dragMoveEvent(QDragMoveEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    // Changes the zoom keeping the picture's point under `anchor` (pane coordinates) in place.
    void SetZoom(double dZoom, bool bFit, const QPoint& anchor);
    void ZoomAt(bool bIn, const QPoint& anchor);
    // The pane less the scroll bars shown.
    QRect PictureArea() const;
    // The picture's size as drawn at the current zoom.
    QSize ScaledSize() const;
    // Shows the scroll bars the drawn picture needs, with their ranges, and keeps the scroll
    // position inside them.
    void UpdateScrollBars();
    void ScrollTo(QPoint pos);

    CKestroDoc& m_doc;
    bool m_bErasePending = false;
    double m_dZoom = 1.0;
    bool m_bFit = false;
    QPoint m_scroll;
    // The size of the last picture drawn, empty when there was none.
    QSize m_pictureSize;
    QScrollBar* m_pHBar;
    QScrollBar* m_pVBar;
    bool m_bDragging = false;
    QPoint m_dragStart;
    QPoint m_dragScroll;
};
