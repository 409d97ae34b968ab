#include "left_view.h"

#include "file_drop.h"
#include "frame_list_model.h"
#include "frame_scoring.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "main_frame.h"
#include "resource_ids.h"
#include "teardown.h"
#include "wait_cursor.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>

#include <array>
#include <vector>

std::set<std::int32_t> g_checkedFrames;

bool IsFrameChecked(std::int32_t nFrame) { return g_checkedFrames.contains(nFrame); }

namespace {

struct PopupEntry {
    int nId;
    const char* text;
};
constexpr std::array<PopupEntry, 2> kPopupMenu{
    PopupEntry{ids::ID_CHECK_SELECTED, "&Check selected"},
    PopupEntry{ids::ID_UNCHECK_SELECTED, "&Uncheck selected"},
};

// The Quality column: a bar as long as the frame's score within the range of the capture's
// scores, so the sharpest frame fills the cell and the blurriest keeps a sliver; the number is in
// the tooltip. A bar reads faster than a column of decimals when scrolling through thousands.
class CQualityDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* pPainter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        const QWidget* pWidget = option.widget;
        const QStyle* pStyle = pWidget != nullptr ? pWidget->style() : QApplication::style();
        pStyle->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, pPainter, pWidget);

        const QVariant value = index.data(Qt::DisplayRole);
        const auto* pModel = qobject_cast<const CFrameListModel*>(index.model());
        if (!value.isValid() || pModel == nullptr)
            return;
        const double lowest = pModel->GetLowestScore();
        const double highest = pModel->GetHighestScore();
        const double share = highest > lowest ? (value.toDouble() - lowest) / (highest - lowest) : 1.0;
        const QRect area = option.rect.adjusted(kMargin, kMargin + 1, -kMargin, -kMargin - 1);
        if (area.width() <= 0 || area.height() <= 0)
            return;
        const int nLength = kSliver + static_cast<int>(share * (area.width() - kSliver) + 0.5);
        const bool bSelected = (option.state & QStyle::State_Selected) != 0;
        pPainter->fillRect(QRect(area.left(), area.top(), std::min(nLength, area.width()), area.height()),
                           bSelected ? option.palette.color(QPalette::HighlightedText) : QColor(kBarColour));
    }

private:
    static constexpr int kMargin = 3;
    static constexpr int kSliver = 2;
    static constexpr QRgb kBarColour = 0x3d6fb8;
};

} // namespace

CLeftView::CLeftView(CKestroDoc& doc, QWidget* pParent)
    : QTableView(pParent),
      m_doc(doc),
      m_pModel(new CFrameListModel(this)),
      m_pScoring(std::make_unique<CFrameScoring>(*m_pModel))
{
    setObjectName(QStringLiteral("frameList"));
    setModel(m_pModel);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows of one fixed height: the table then keeps no per-row geometry beyond its header.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setItemDelegateForColumn(CFrameListModel::kQualityColumn, new CQualityDelegate(this));
    SetColumnWidths();
    // The picture follows the row the list has just moved to, however it got there.
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            m_doc.SetCurrentFrame(current.row());
    });
    // A click in the Quality column makes its row current like a click on the frame's name, and
    // the focus stays in the first column, where Space ticks and clears.
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid() && current.column() != CFrameListModel::kFrameColumn)
            selectionModel()->setCurrentIndex(m_pModel->index(current.row(), CFrameListModel::kFrameColumn),
                                              QItemSelectionModel::NoUpdate);
    });
}

CLeftView::~CLeftView()
{
    // The selection model goes with QWidget's part of this object.
    DisconnectDescendants(*this);
    m_pScoring.reset();
    if (m_doc.m_pFrameList == this)
        m_doc.m_pFrameList = nullptr;
}

void CLeftView::OnInitialUpdate()
{
    setAcceptDrops(true);
    m_doc.m_pFrameList = this;
    SetColumnWidths();
}

void CLeftView::SetColumnWidths()
{
    setColumnWidth(CFrameListModel::kFrameColumn, kColumnWidth);
    setColumnWidth(CFrameListModel::kQualityColumn, kQualityColumnWidth);
}

void CLeftView::FillFrameList()
{
    CWaitCursor wait;
    // The list is drawn once, when it is complete.
    setUpdatesEnabled(false);
    const CVideoSource& source = m_doc.m_videoSource;
    const std::int32_t nCount = std::max<std::int32_t>(source.GetFrameCount(), 0);
    std::vector<std::uint8_t> ticked(static_cast<std::size_t>(nCount));
    // A frame stored empty (dropped by the recorder) starts unticked.
    std::int32_t nDropped = 0;
    for (std::int32_t i = 0; i < nCount; ++i) {
        const bool bData = source.FindDataFrame(i) == i;
        ticked[static_cast<std::size_t>(i)] = bData ? 1 : 0;
        nDropped += bData ? 0 : 1;
    }
    m_doc.m_nDroppedFrames = nDropped;
    m_pModel->Reset(std::move(ticked));
    // A new capture shows from its first row, the frame made current below. Laying the rows
    // out now, not at the next turn of the event loop, keeps the list to the one paint below.
    scrollToTop();
    executeDelayedItemsLayout();
    // Row 0 gets the focus frame without being selected, so the first Down steps to frame 1
    // and the picture follows it.
    if (nCount > 0)
        selectionModel()->setCurrentIndex(m_pModel->index(0, 0), QItemSelectionModel::NoUpdate);
    m_doc.SetCurrentFrame(0);
    setUpdatesEnabled(true);
    repaint();
}

void CLeftView::GoToRow(int n)
{
    if (n < 0 || n >= m_pModel->rowCount())
        return;
    const QModelIndex index = m_pModel->index(n, 0);
    const QModelIndex before = currentIndex();
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
    if (before == index)
        ShowCurrentRow();
}

void CLeftView::ShowCurrentRow()
{
    if (const QModelIndex current = currentIndex(); current.isValid())
        m_doc.SetCurrentFrame(current.row());
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
    case ids::ID_FILE_SAVE_AS: OnSaveFrames(); return true;
    case ids::ID_SAVE_RGB_CHANNELS: OnSaveRgbChannels(); return true;
    case ids::ID_CHECK_SELECTED: OnCheckSelected(); return true;
    case ids::ID_UNCHECK_SELECTED: OnUncheckSelected(); return true;
    default: return false;
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

void CLeftView::OnCheckSelected() { SetSelectedTicked(true); }

void CLeftView::OnUncheckSelected() { SetSelectedTicked(false); }

void CLeftView::SetSelectedTicked(bool bTicked)
{
    const QItemSelection selection = selectionModel()->selection();
    if (selection.isEmpty())
        return;
    m_pModel->SaveTicksForUndo();
    // By ranges: a selection of every row of a long capture is one range, not a million rows.
    for (const QItemSelectionRange& range : selection)
        m_pModel->SetTicked(range.top(), range.bottom(), bTicked);
}

void CLeftView::ShowPopupMenu(const QPoint& globalPos)
{
    QMenu menu(this);
    for (const PopupEntry& entry : kPopupMenu) {
        const int nId = entry.nId;
        connect(menu.addAction(QString::fromLatin1(entry.text)), &QAction::triggered, this, [this, nId] {
            // The main frame routes it to the active view, which is this list once it was
            // right-clicked or had the keyboard.
            if (CMainFrame* pFrame = CKestroApp::MainFrame())
                pFrame->OnCommand(nId);
            else
                OnCmdMsg(nId);
        });
    }
    menu.exec(globalPos);
}

void CLeftView::contextMenuEvent(QContextMenuEvent* pEvent)
{
    // From the keyboard the menu opens just inside the list's top-left corner, wherever the
    // mouse happens to be.
    const QPoint pos = pEvent->reason() == QContextMenuEvent::Mouse
                           ? pEvent->globalPos()
                           : mapToGlobal(contentsRect().topLeft() + QPoint(kPopupOffset, kPopupOffset));
    ShowPopupMenu(pos);
    pEvent->accept();
}

void CLeftView::keyPressEvent(QKeyEvent* pEvent)
{
    // Shift+F10 is the other keyboard way to the pop-up menu; the menu key arrives as a
    // context-menu event of its own.
    if (pEvent->key() == Qt::Key_F10 && pEvent->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(), QPoint(), pEvent->modifiers());
        contextMenuEvent(&menuEvent);
        pEvent->accept();
        return;
    }
    // The list moves first; a row it moved to is shown through currentRowChanged. A key that
    // left the row where it was (Down on the last row) still repaints it.
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(pEvent);
    if (currentIndex() == before)
        ShowCurrentRow();
}

QModelIndex CLeftView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const int nRows = m_pModel->rowCount();
    if (nRows == 0)
        return QTableView::moveCursor(action, modifiers);
    // A list, not a table: Home and End go to the first and last rows.
    if (action == MoveHome)
        return m_pModel->index(0, 0);
    if (action == MoveEnd)
        return m_pModel->index(nRows - 1, 0);
    // Left and Right have nowhere to go in a list: the Quality column is not a place to be.
    if (action == MoveLeft || action == MoveRight)
        return currentIndex();
    return QTableView::moveCursor(action, modifiers);
}

void CLeftView::dragEnterEvent(QDragEnterEvent* pEvent) { AcceptFileDrag(pEvent, m_doc); }

void CLeftView::dragMoveEvent(QDragMoveEvent* pEvent) { AcceptFileDrag(pEvent, m_doc); }

void CLeftView::dropEvent(QDropEvent* pEvent) { OpenDroppedFile(pEvent, m_doc, this); }
