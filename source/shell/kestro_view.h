// The frame view: the right pane. It draws the current frame in the current display settings,
// with its top-left corner at the pane's top-left corner, at actual size unless the user zooms,
// and hands the export commands to the frame list.
//
// A frame is rendered when the document asks for it (another frame, another display setting),
// in a queued call of its own: many requests before it runs make one render. The render asks
// the document for the picture with the video source's messages held, makes one copy of it in
// the window's own pixel format (the display levels applied on the way) and asks for a paint;
// a paint only draws that copy, unconverted. So no paint ever decodes a frame
// or waits on a message box, and the pane needs nothing of the video source while it paints.
// What the video source had to say is shown after the render, one box at a time.
//
// A picture larger than the pane can be scrolled with the scroll bars, the wheel or by
// dragging it. Zooms are steps of a fixed table; whole-number steps show each sensor pixel as
// a sharp square, the others and Fit to Window are smoothed.
#pragma once

#include "cmd_target.h"
#include "display_levels.h"
#include "message_box.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <deque>

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
    // Asks for the current frame to be rendered again and shown. With bErase the old picture
    // is wiped before the new one is drawn; without it only the part the new picture leaves
    // uncovered is.
    void RequestRender(bool bErase = false);
    bool IsRenderPending() const { return m_bRenderQueued; }
    // Asks for a repaint of what was rendered last (a new zoom, say).
    void Invalidate(bool bErase = false);
    bool IsErasePending() const { return m_bErasePending; }
    // What was rendered last: whether there is a picture, its size, and the note drawn in
    // the pane (why there is no picture, or how to open a capture).
    bool HasPicture() const { return !m_image.isNull(); }
    // The picture as painted: the rendered frame through the display levels.
    const QImage& GetImage() const { return m_image; }
    QSize GetPictureSize() const { return m_pictureSize; }
    const QString& GetNote() const { return m_strNote; }

    bool OnCmdMsg(int nId) override;

    // Display levels: how the picture is shown, never what an export writes. They belong to the
    // capture on show: the document resets them when a capture opens.
    const kestro::shell::DisplayLevels& GetLevels() const { return m_levels; }
    void SetLevels(const kestro::shell::DisplayLevels& levels);
    void ResetLevels() { SetLevels({}); }
    // Stretches the levels from the histogram of the frame on show, at its next render.
    void RequestAutoLevels();
    // The histogram of the frame on show before the levels, kept while someone wants it (the
    // levels bar while it shows). While frames follow each other quickly it is counted a few
    // times a second, and once more when they stop.
    void SetHistogramWanted(bool bWanted);
    const kestro::shell::FrameHistogram& GetHistogram() const { return m_histogram; }
    static constexpr int kHistogramIntervalMs = 200;

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
    // The notes drawn in place of a picture: a frame stored empty with none before it, a frame
    // that could not be read, and no capture open.
    static QString MissingFrameNote(int nFrame);
    static QString UnreadableFrameNote(int nFrame);
    static QString NoCaptureNote();

    QSize sizeHint() const override { return {100, 100}; }

signals:
    // A picture rendered since the last such signal has been painted (playback paces on it).
    // Connect queued: it is sent from inside the paint.
    void pictureShown();
    void levelsChanged();
    void histogramChanged();

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
    // The queued render: the picture and the note of the chosen frame, then a paint.
    void Render();
    // Shows the messages a render held back, one box at a time, in the order they came.
    void TellHeldMessages();
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
    bool m_bRenderQueued = false;
    bool m_bErasePending = false;
    // Changes the levels without asking for a render (the render in progress applies them).
    bool StoreLevels(const kestro::shell::DisplayLevels& levels);

    // The picture rendered last, in the window's pixel format through the levels (null: none),
    // and the note.
    QImage m_image;
    kestro::shell::DisplayLevels m_levels;
    kestro::shell::LevelsTable m_levelsTable{};
    kestro::shell::FrameHistogram m_histogram;
    bool m_bHistogramWanted = false;
    // A frame was rendered since the histogram was last counted.
    bool m_bHistogramStale = false;
    bool m_bAutoPending = false;
    QTimer m_histogramTimer;
    QString m_strNote;
    // Messages waiting for their box, and whether a box is up or a call to show them queued.
    std::deque<kestro::ui::Message> m_toTell;
    bool m_bTellQueued = false;
    bool m_bTelling = false;
    double m_dZoom = 1.0;
    bool m_bFit = false;
    QPoint m_scroll;
    // The size of the last picture rendered, empty when there was none.
    QSize m_pictureSize;
    QScrollBar* m_pHBar;
    QScrollBar* m_pVBar;
    bool m_bDragging = false;
    bool m_bPictureUnshown = false;
    QPoint m_dragStart;
    QPoint m_dragScroll;
};
