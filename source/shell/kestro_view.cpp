#include "kestro_view.h"

#include "draw_dib.h"
#include "file_drop.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "resource_ids.h"
#include "teardown.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPointer>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

// Captures are mostly a bright disc on black sky; a dark grey around the frame keeps its edge
// visible without glaring.
const QColor kBackground(0x2b, 0x2b, 0x2b);
const QColor kNoteColour(0xc8, 0xc8, 0xc8);

// The zoom steps. Below 1 they halve, above they grow by whole numbers first, so the common
// enlargements keep each sensor pixel a square of equal size.
constexpr std::array kZoomSteps{1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3, 1.0,
                                2.0,      3.0,     4.0,     6.0,     8.0,     12.0,    16.0};

bool IsWholeNumber(double d) { return d >= 1.0 && std::abs(d - std::round(d)) < 1e-9; }

} // namespace

CKestroView::CKestroView(CKestroDoc& doc, QWidget* pParent)
    : QWidget(pParent),
      m_doc(doc),
      m_pHBar(new QScrollBar(Qt::Horizontal, this)),
      m_pVBar(new QScrollBar(Qt::Vertical, this))
{
    setObjectName(QStringLiteral("frameView"));
    setFocusPolicy(Qt::StrongFocus);
    // Everything is painted here, so Qt need not clear the pane before each paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (QScrollBar* pBar : {m_pHBar, m_pVBar}) {
        pBar->hide();
        pBar->setFocusPolicy(Qt::NoFocus);
    }
    m_histogramTimer.setSingleShot(true);
    m_histogramTimer.setInterval(kHistogramIntervalMs);
    // Frames shown since the last count are counted once the interval is over, so the histogram
    // ends on the frame that stays in sight.
    connect(&m_histogramTimer, &QTimer::timeout, this, [this] {
        if (m_bHistogramStale && m_bHistogramWanted)
            RequestRender();
    });
    connect(m_pHBar, &QScrollBar::valueChanged, this, [this](int v) { ScrollTo({v, m_scroll.y()}); });
    connect(m_pVBar, &QScrollBar::valueChanged, this, [this](int v) { ScrollTo({m_scroll.x(), v}); });
}

CKestroView::~CKestroView()
{
    DisconnectDescendants(*this);
    if (m_doc.m_pFrameView == this)
        m_doc.m_pFrameView = nullptr;
}

void CKestroView::OnInitialUpdate()
{
    setAcceptDrops(true);
    m_doc.m_pFrameView = this;
    // The document's requests before this went nowhere; the pane shows what it holds now.
    RequestRender();
}

void CKestroView::RequestRender(bool bErase)
{
    m_bErasePending = m_bErasePending || bErase;
    if (m_bRenderQueued)
        return;
    m_bRenderQueued = true;
    QMetaObject::invokeMethod(this, &CKestroView::Render, Qt::QueuedConnection);
}

void CKestroView::Render()
{
    if (!m_bRenderQueued)
        return;
    m_bRenderQueued = false;
    FrameRendering rendering = m_doc.RenderCurrentFrame();
    // The histogram and Auto read the frame before the levels, while the video source's bitmap
    // is still the frame's: it is replaced at the source's next call.
    const bool bCount = m_bAutoPending || (m_bHistogramWanted && !m_histogramTimer.isActive());
    if (bCount) {
        m_histogram = kestro::shell::CountFrame(rendering.pBitmap);
        m_bHistogramStale = false;
        if (m_bHistogramWanted)
            m_histogramTimer.start();
        emit histogramChanged();
    } else {
        m_bHistogramStale = m_bHistogramWanted;
    }
    if (m_bAutoPending) {
        m_bAutoPending = false;
        if (m_histogram.bValid)
            StoreLevels(kestro::shell::AutoLevels(m_histogram));
    }
    // The view's one copy of the picture: the video source replaces its bitmap at its next call,
    // which may come from an export before this pane paints again.
    CDrawDib::MakeImage(rendering.pBitmap, m_image, m_levels.IsIdentity() ? nullptr : &m_levelsTable);
    m_strNote = std::move(rendering.note);
    if (m_image.isNull() && m_strNote.isEmpty() && rendering.pBitmap != nullptr)
        m_strNote = UnreadableFrameNote(m_doc.m_videoSource.GetCurrentPosition());

    // A new picture size (another capture, or an algorithm that draws less of the frame)
    // changes what the scroll bars cover.
    const QSize pictureSize = m_image.isNull() ? QSize() : m_image.size();
    if (pictureSize != m_pictureSize) {
        m_pictureSize = pictureSize;
        UpdateScrollBars();
        if (m_bFit)
            m_bErasePending = true;
    }
    m_bPictureUnshown = true;
    update(PictureArea());

    if (rendering.tell.empty())
        return;
    m_toTell.insert(m_toTell.end(), rendering.tell.begin(), rendering.tell.end());
    if (!m_bTellQueued && !m_bTelling) {
        m_bTellQueued = true;
        QMetaObject::invokeMethod(this, &CKestroView::TellHeldMessages, Qt::QueuedConnection);
    }
}

bool CKestroView::StoreLevels(const kestro::shell::DisplayLevels& levels)
{
    const kestro::shell::DisplayLevels clamped = levels.Clamped();
    if (clamped == m_levels)
        return false;
    m_levels = clamped;
    m_levelsTable = kestro::shell::MakeLevelsTable(m_levels);
    emit levelsChanged();
    return true;
}

void CKestroView::SetLevels(const kestro::shell::DisplayLevels& levels)
{
    // The levels are applied as the picture is copied, so new ones take a render.
    if (StoreLevels(levels))
        RequestRender();
}

void CKestroView::RequestAutoLevels()
{
    m_bAutoPending = true;
    RequestRender();
}

void CKestroView::SetHistogramWanted(bool bWanted)
{
    if (bWanted == m_bHistogramWanted)
        return;
    m_bHistogramWanted = bWanted;
    if (bWanted) {
        // The frame on show was rendered without a count.
        m_histogramTimer.stop();
        RequestRender();
    }
}

void CKestroView::TellHeldMessages()
{
    m_bTellQueued = false;
    // A box runs an event loop of its own, in which another render may hold back more: those
    // wait in the queue for this box to close rather than opening a box on top of it.
    if (m_bTelling)
        return;
    m_bTelling = true;
    const QPointer<CKestroView> self(this);
    while (!m_toTell.empty()) {
        const kestro::ui::Message m = std::move(m_toTell.front());
        m_toTell.pop_front();
        kestro::ui::showMessage(m.text, m.caption, m.icon, m.buttons);
        if (!self)
            return;
    }
    m_bTelling = false;
}

void CKestroView::Invalidate(bool bErase)
{
    m_bErasePending = m_bErasePending || bErase;
    // Only the picture's part of the pane: the scroll bars would otherwise be drawn again at
    // every step, which costs more than the picture itself.
    update(PictureArea());
}

bool CKestroView::OnCmdMsg(int nId)
{
    switch (nId) {
    case ids::ID_FILE_SAVE:
    case ids::ID_FILE_SAVE_AS:
    case ids::ID_SAVE_RGB_CHANNELS: return m_doc.m_pFrameList != nullptr && m_doc.m_pFrameList->OnCmdMsg(nId);
    default: return false;
    }
}

QString CKestroView::MissingFrameNote(int nFrame) { return QStringLiteral("no data stored for frame %1").arg(nFrame); }

QString CKestroView::UnreadableFrameNote(int nFrame)
{
    return QStringLiteral("frame %1 could not be read").arg(nFrame);
}

QString CKestroView::NoCaptureNote()
{
    return QStringLiteral("No capture is open: choose File \u25b8 Open (Ctrl+O), or drop a capture here.");
}

double CKestroView::GetZoom() const
{
    if (!m_bFit || m_pictureSize.isEmpty())
        return m_dZoom;
    return std::min(double(width()) / m_pictureSize.width(), double(height()) / m_pictureSize.height());
}

QSize CKestroView::ScaledSize() const
{
    if (m_pictureSize.isEmpty())
        return {};
    const double dZoom = GetZoom();
    return {static_cast<int>(std::lround(m_pictureSize.width() * dZoom)),
            static_cast<int>(std::lround(m_pictureSize.height() * dZoom))};
}

QRect CKestroView::PictureArea() const
{
    return QRect(0, 0, width() - (m_pVBar->isVisibleTo(this) ? m_pVBar->width() : 0),
                 height() - (m_pHBar->isVisibleTo(this) ? m_pHBar->height() : 0));
}

void CKestroView::UpdateScrollBars()
{
    const QSize content = m_bFit ? QSize() : ScaledSize();
    const int nExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    bool bH = content.width() > width();
    bool bV = content.height() > height();
    // A bar takes room from the other direction, which may then need its bar too.
    bH = bH || (bV && content.width() > width() - nExtent);
    bV = bV || (bH && content.height() > height() - nExtent);
    const int nAreaWidth = width() - (bV ? nExtent : 0);
    const int nAreaHeight = height() - (bH ? nExtent : 0);
    m_pHBar->setGeometry(0, height() - nExtent, nAreaWidth, nExtent);
    m_pVBar->setGeometry(width() - nExtent, 0, nExtent, nAreaHeight);
    {
        const QSignalBlocker blockH(m_pHBar), blockV(m_pVBar);
        m_pHBar->setRange(0, bH ? content.width() - nAreaWidth : 0);
        m_pHBar->setPageStep(std::max(1, nAreaWidth));
        m_pHBar->setSingleStep(std::max(1, nAreaWidth / 20));
        m_pVBar->setRange(0, bV ? content.height() - nAreaHeight : 0);
        m_pVBar->setPageStep(std::max(1, nAreaHeight));
        m_pVBar->setSingleStep(std::max(1, nAreaHeight / 20));
    }
    m_pHBar->setVisible(bH);
    m_pVBar->setVisible(bV);
    ScrollTo(m_scroll);
}

void CKestroView::ScrollTo(QPoint pos)
{
    pos.setX(std::clamp(pos.x(), 0, m_pHBar->isVisibleTo(this) ? m_pHBar->maximum() : 0));
    pos.setY(std::clamp(pos.y(), 0, m_pVBar->isVisibleTo(this) ? m_pVBar->maximum() : 0));
    {
        const QSignalBlocker blockH(m_pHBar), blockV(m_pVBar);
        m_pHBar->setValue(pos.x());
        m_pVBar->setValue(pos.y());
    }
    if (pos != m_scroll) {
        m_scroll = pos;
        update(PictureArea());
    }
}

void CKestroView::ScrollToTopLeft() { ScrollTo({0, 0}); }

void CKestroView::SetZoom(double dZoom, bool bFit, const QPoint& anchor)
{
    const double dOld = GetZoom();
    m_dZoom = dZoom;
    m_bFit = bFit;
    const double dNew = GetZoom();
    // The picture's point under the anchor stays there.
    const QPointF picturePoint = (QPointF(anchor) + QPointF(m_scroll)) / dOld;
    const QPointF scroll = picturePoint * dNew - QPointF(anchor);
    m_scroll = QPoint(static_cast<int>(std::lround(scroll.x())), static_cast<int>(std::lround(scroll.y())));
    UpdateScrollBars();
    Invalidate(true);
}

void CKestroView::ZoomAt(bool bIn, const QPoint& anchor)
{
    const double dNow = GetZoom();
    double dNext = dNow;
    if (bIn) {
        const auto it = std::find_if(kZoomSteps.begin(), kZoomSteps.end(), [&](double d) { return d > dNow + 1e-9; });
        if (it != kZoomSteps.end())
            dNext = *it;
    } else {
        const auto it = std::find_if(kZoomSteps.rbegin(), kZoomSteps.rend(), [&](double d) { return d < dNow - 1e-9; });
        if (it != kZoomSteps.rend())
            dNext = *it;
    }
    SetZoom(dNext, false, anchor);
}

void CKestroView::OnZoomIn() { ZoomAt(true, PictureArea().center()); }

void CKestroView::OnZoomOut() { ZoomAt(false, PictureArea().center()); }

void CKestroView::OnActualSize()
{
    // Back to how a capture first shows: actual size from the top-left corner.
    m_dZoom = 1.0;
    m_bFit = false;
    m_scroll = {};
    UpdateScrollBars();
    Invalidate(true);
}

void CKestroView::OnFitToWindow()
{
    m_bFit = true;
    m_scroll = {};
    UpdateScrollBars();
    Invalidate(true);
}

void CKestroView::paintEvent(QPaintEvent* pEvent)
{
    // Only what the last render left: a paint never decodes, so it never has anything to tell.
    const bool bPicture = m_doc.m_hDrawDib && !m_image.isNull();

    QPainter painter(this);
    if (m_bErasePending)
        painter.fillRect(pEvent->rect(), kBackground);
    m_bErasePending = false;

    QRegion uncovered = pEvent->region();
    // The picture stays clear of the scroll bars and of the corner between them.
    const QRect area = pEvent->rect() & PictureArea();
    if (bPicture && !area.isEmpty()) {
        const double dZoom = GetZoom();
        QRect covered;
        if (dZoom == 1.0) {
            // Actual size: a plain copy of the rows in sight.
            CDrawDib::DrawImage(painter, -m_scroll, m_image, area);
            covered = QRect(-m_scroll, m_pictureSize);
        } else {
            const QSize scaled = ScaledSize();
            const QRectF target(QPointF(-m_scroll), QSizeF(scaled));
            CDrawDib::DrawImageScaled(painter, target, m_image, area, !IsWholeNumber(dZoom));
            covered = target.toAlignedRect();
        }
        uncovered -= covered & area;
    }
    for (const QRect& r : uncovered)
        painter.fillRect(r, kBackground);

    if (!m_strNote.isEmpty()) {
        painter.setPen(kNoteColour);
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_strNote);
    }
    if (m_bPictureUnshown) {
        m_bPictureUnshown = false;
        emit pictureShown();
    }
}

void CKestroView::resizeEvent(QResizeEvent* pEvent)
{
    QWidget::resizeEvent(pEvent);
    UpdateScrollBars();
    if (m_bFit)
        Invalidate(true);
}

void CKestroView::wheelEvent(QWheelEvent* pEvent)
{
    if (pEvent->modifiers() & Qt::ControlModifier) {
        // One notch a step; a touchpad's small deltas add up to one.
        if (pEvent->angleDelta().y() != 0)
            ZoomAt(pEvent->angleDelta().y() > 0, pEvent->position().toPoint());
        pEvent->accept();
        return;
    }
    QScrollBar* pBar = (pEvent->modifiers() & Qt::ShiftModifier) || !m_pVBar->isVisibleTo(this) ? m_pHBar : m_pVBar;
    if (pBar->isVisibleTo(this)) {
        QWheelEvent barEvent(pEvent->position(), pEvent->globalPosition(), pEvent->pixelDelta(), pEvent->angleDelta(),
                             pEvent->buttons(), pEvent->modifiers() & ~Qt::ShiftModifier, pEvent->phase(),
                             pEvent->inverted());
        QCoreApplication::sendEvent(pBar, &barEvent);
        pEvent->accept();
        return;
    }
    QWidget::wheelEvent(pEvent);
}

void CKestroView::mousePressEvent(QMouseEvent* pEvent)
{
    // A picture larger than the pane is dragged about with the left button.
    if (pEvent->button() == Qt::LeftButton && (m_pHBar->isVisibleTo(this) || m_pVBar->isVisibleTo(this))) {
        m_bDragging = true;
        m_dragStart = pEvent->position().toPoint();
        m_dragScroll = m_scroll;
        setCursor(Qt::ClosedHandCursor);
    }
    QWidget::mousePressEvent(pEvent);
}

void CKestroView::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (m_bDragging)
        ScrollTo(m_dragScroll - (pEvent->position().toPoint() - m_dragStart));
    QWidget::mouseMoveEvent(pEvent);
}

void CKestroView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (m_bDragging && pEvent->button() == Qt::LeftButton) {
        m_bDragging = false;
        unsetCursor();
    }
    QWidget::mouseReleaseEvent(pEvent);
}

void CKestroView::dragEnterEvent(QDragEnterEvent* pEvent) { AcceptFileDrag(pEvent, m_doc); }

void CKestroView::dragMoveEvent(QDragMoveEvent* pEvent) { AcceptFileDrag(pEvent, m_doc); }

void CKestroView::dropEvent(QDropEvent* pEvent) { OpenDroppedFile(pEvent, m_doc, this); }
