#include "left_view.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "resource_ids.h"
#include "wait_cursor.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <vector>

std::set<std::int32_t> g_checkedFrames;

bool IsFrameChecked(std::int32_t nFrame) { return g_checkedFrames.contains(nFrame); }

CLeftView::CLeftView(CKestroDoc& doc, QWidget* pParent)
    : QTreeView(pParent), m_doc(doc), m_pModel(new CFrameListModel(this))
{
    setObjectName(QStringLiteral("frameList"));
    setModel(m_pModel);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setColumnWidth(0, kColumnWidth);
}

CLeftView::~CLeftView()
{
    if (m_doc.m_pFrameList == this)
        m_doc.m_pFrameList = nullptr;
}

void CLeftView::OnInitialUpdate()
{
    m_doc.m_pFrameList = this;
    setColumnWidth(0, kColumnWidth);
}

void CLeftView::FillFrameList()
{
    CWaitCursor wait;
    const CVideoSource& source = m_doc.m_videoSource;
    const std::int32_t nCount = std::max<std::int32_t>(source.GetFrameCount(), 0);
    std::vector<std::uint8_t> ticked(static_cast<std::size_t>(nCount));
    for (std::int32_t i = 0; i < nCount; ++i)
        ticked[static_cast<std::size_t>(i)] = source.FindDataFrame(i) == i ? 1 : 0;
    m_pModel->Reset(std::move(ticked));
    m_doc.SetCurrentFrame(0);
}

void CLeftView::CollectCheckedFrames()
{
    g_checkedFrames.clear();
    const int nRows = m_pModel->rowCount();
    for (int i = 0; i < nRows; ++i) {
        if (m_pModel->IsTicked(i))
            g_checkedFrames.insert(g_checkedFrames.end(), i);
    }
}

bool CLeftView::OnCmdMsg(int nId)
{
    switch (nId) {
    case ids::ID_FILE_SAVE:
    case ids::ID_FILE_SAVE_AS:
        OnSaveFrames();
        return true;
    case ids::ID_SAVE_RGB_CHANNELS:
        OnSaveRgbChannels();
        return true;
    default:
        return false;
    }
}

void CLeftView::OnSaveFrames()
{
    CollectCheckedFrames();
    m_doc.OnSaveFrames();
}

void CLeftView::OnSaveRgbChannels()
{
    CollectCheckedFrames();
    m_doc.OnSaveRgbChannels();
}

int CLeftView::LowestSelectedRow() const
{
    int nLowest = -1;
    for (const QModelIndex& i : selectionModel()->selectedRows()) {
        if (nLowest < 0 || i.row() < nLowest)
            nLowest = i.row();
    }
    return nLowest;
}

void CLeftView::keyPressEvent(QKeyEvent* pEvent)
{
    // The current frame is decided before the list moves its selection: the arrows step from
    // the lowest selected row, every other key keeps that row.
    const int s = LowestSelectedRow();
    if (s >= 0) {
        int n = s;
        if (pEvent->key() == Qt::Key_Up)
            n = s - 1;
        else if (pEvent->key() == Qt::Key_Down)
            n = s + 1;
        m_doc.SetCurrentFrame(n);
    }
    QTreeView::keyPressEvent(pEvent);
}

void CLeftView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    QTreeView::mouseReleaseEvent(pEvent);
    if (const int s = LowestSelectedRow(); s >= 0)
        m_doc.SetCurrentFrame(s);
}
