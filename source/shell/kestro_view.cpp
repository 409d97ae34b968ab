#include "kestro_view.h"

#include "file_drop.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "resource_ids.h"

#include <QPainter>
#include <QPaintEvent>

namespace {

// Captures are mostly a bright disc on black sky; a dark grey around the frame keeps its edge
// visible without glaring.
const QColor kBackground(0x2b, 0x2b, 0x2b);

} // namespace

CKestroView::CKestroView(CKestroDoc& doc, QWidget* pParent) : QWidget(pParent), m_doc(doc)
{
    setObjectName(QStringLiteral("frameView"));
    setFocusPolicy(Qt::StrongFocus);
    // Everything is painted here, so Qt need not clear the pane before each paint.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CKestroView::~CKestroView()
{
    if (m_doc.m_pFrameView == this)
        m_doc.m_pFrameView = nullptr;
}

void CKestroView::OnInitialUpdate()
{
    setAcceptDrops(true);
    m_doc.m_pFrameView = this;
}

void CKestroView::Invalidate(bool bErase)
{
    m_bErasePending = m_bErasePending || bErase;
    update();
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

void CKestroView::paintEvent(QPaintEvent* pEvent)
{
    // The bitmap first: converting it may tell the user something in a message box, and no
    // painter may be open on the window while that box runs. One request per paint: a second
    // would convert the frame again, and show a read error twice, for the same picture.
    const BITMAPINFOHEADER* pBitmap = m_doc.m_hDrawDib ? m_doc.m_videoSource.GetFrameBitmap() : nullptr;

    QPainter painter(this);
    if (m_bErasePending)
        painter.fillRect(rect(), kBackground);
    m_bErasePending = false;

    QRegion uncovered = pEvent->region();
    if (pBitmap != nullptr && m_doc.m_hDrawDib->Draw(painter, 0, 0, pBitmap, pEvent->rect()))
        uncovered -= QRect(0, 0, pBitmap->biWidth, std::abs(pBitmap->biHeight));
    for (const QRect& r : uncovered)
        painter.fillRect(r, kBackground);
}

void CKestroView::dragEnterEvent(QDragEnterEvent* pEvent) { AcceptFileDrag(pEvent); }

void CKestroView::dragMoveEvent(QDragMoveEvent* pEvent) { AcceptFileDrag(pEvent); }

void CKestroView::dropEvent(QDropEvent* pEvent) { OpenDroppedFile(pEvent, m_doc, this); }
