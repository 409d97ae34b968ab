#include "main_frame.h"

#include "display_bar.h"
#include "frame_list_model.h"
#include "frame_scoring.h"
#include "icons.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "levels_bar.h"
#include "mosaic_bar.h"
#include "playback.h"
#include "recent_file_list.h"
#include "resource_ids.h"
#include "resource_strings.h"
#include "status_bar.h"
#include "teardown.h"
#include "timeline.h"

#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct Accelerator {
    QKeyCombination key;
    int nId;
};

// Keys of the main window. The edit keys but Undo are claimed although nothing handles them, so
// they do nothing in the panes; an edit field (the algorithm list's) still takes them first.
const std::array kAccelerators{
    Accelerator{Qt::CTRL | Qt::Key_N, ids::ID_FILE_NEW},
    Accelerator{Qt::CTRL | Qt::Key_O, ids::ID_FILE_OPEN},
    Accelerator{Qt::CTRL | Qt::Key_S, ids::ID_FILE_SAVE},
    Accelerator{Qt::CTRL | Qt::Key_Z, ids::ID_EDIT_UNDO},
    Accelerator{Qt::ALT | Qt::Key_Backspace, ids::ID_EDIT_UNDO},
    Accelerator{Qt::CTRL | Qt::Key_X, ids::ID_EDIT_CUT},
    Accelerator{Qt::SHIFT | Qt::Key_Delete, ids::ID_EDIT_CUT},
    Accelerator{Qt::CTRL | Qt::Key_C, ids::ID_EDIT_COPY},
    Accelerator{Qt::CTRL | Qt::Key_Insert, ids::ID_EDIT_COPY},
    Accelerator{Qt::CTRL | Qt::Key_V, ids::ID_EDIT_PASTE},
    Accelerator{Qt::SHIFT | Qt::Key_Insert, ids::ID_EDIT_PASTE},
    Accelerator{QKeyCombination(Qt::Key_F6), ids::ID_NEXT_PANE},
    Accelerator{Qt::SHIFT | Qt::Key_F6, ids::ID_PREV_PANE},
};

struct ToolButton {
    int nId; // 0: a separator
    const char* icon;
};

const std::array kToolButtons{
    ToolButton{ids::ID_FILE_OPEN, ":/icons/open.svg"},        ToolButton{ids::ID_FILE_SAVE, ":/icons/save.svg"},
    ToolButton{ids::ID_TOOLBAR_RGB, ":/icons/save_rgb.svg"},  ToolButton{0, nullptr},
    ToolButton{ids::ID_CHECK_BEST, ":/icons/check_best.svg"}, ToolButton{0, nullptr},
    ToolButton{ids::ID_PLAY_PAUSE, ":/icons/play.svg"},       ToolButton{0, nullptr},
    ToolButton{ids::ID_APP_ABOUT, ":/icons/about.svg"},
};

bool Contains(const QWidget* pOuter, const QWidget* pInner)
{
    return pOuter != nullptr && pInner != nullptr && (pOuter == pInner || pOuter->isAncestorOf(pInner));
}

} // namespace

CMainFrame::CMainFrame(CKestroDoc& doc) : m_doc(doc)
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(LoadAppIcon());
}

CMainFrame::~CMainFrame()
{
    // An export still running gives its bar and buttons back while they stand.
    m_doc.EndExportNow();
    // QWidget's destructor still moves the focus about, and deletes the bars and menus, after
    // this part of the object is gone.
    disconnect(m_focusConnection);
    DisconnectDescendants(*this);
}

int CMainFrame::OnCreate()
{
    if (!OnCreateClient())
        return -1;
    BuildMenu();
    BuildAccelerators();
    if (!BuildToolBar())
        return -1;

    m_wndDlgBar = new CDisplayBar(this);
    m_wndDlgBar->setObjectName(QStringLiteral("displayBar"));
    connect(m_wndDlgBar, &CDisplayBar::command, this, &CMainFrame::OnCommand);
    // A choice in the bar hands the keyboard back to the pane that had it, so the arrow keys go
    // on stepping through frames; the algorithm list's field then shows the algorithm in use.
    connect(m_wndDlgBar, &CDisplayBar::choiceMade, this, [this] {
        if (m_pActiveView != nullptr)
            m_pActiveView->setFocus(Qt::OtherFocusReason);
    });
    connect(m_wndDlgBar, &CDisplayBar::algorithmEditFinished, this, [this] { m_doc.ShowAlgorithmInUse(); });
    m_wndDisplayBand = new QToolBar(QStringLiteral("Display"), this);
    m_wndDisplayBand->setObjectName(QStringLiteral("displayBand"));
    m_wndDisplayBand->addWidget(m_wndDlgBar);
    // Its own row under the toolbar: side by side, a narrow window would push the toolbar's
    // buttons out of sight.
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_wndDisplayBand);
    // Both bars can slide along the top but not leave it: anywhere else the display bar
    // would squeeze the frame view to nothing.
    for (QToolBar* pBar : {m_wndToolBar, m_wndDisplayBand}) {
        pBar->setAllowedAreas(Qt::TopToolBarArea);
        pBar->setFloatable(false);
    }

    // Display levels: their own row under the display bar, hidden until View > Levels. The
    // histogram is only counted while the row shows.
    m_pLevelsBar = new CLevelsBar(*m_pFrameView, this);
    m_wndLevelsBand = new QToolBar(QStringLiteral("Levels"), this);
    m_wndLevelsBand->setObjectName(QStringLiteral("levelsBand"));
    m_wndLevelsBand->addWidget(m_pLevelsBar);
    m_wndLevelsBand->setAllowedAreas(Qt::TopToolBarArea);
    m_wndLevelsBand->setFloatable(false);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_wndLevelsBand);
    m_wndLevelsBand->hide();
    connect(m_wndLevelsBand, &QToolBar::visibilityChanged, m_pFrameView, &CKestroView::SetHistogramWanted);

    m_wndStatusBar = new CStatusBar(this);
    m_wndStatusBar->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(m_wndStatusBar);

    static_cast<QRadioButton*>(m_wndDlgBar->GetDlgItem(ids::IDC_DISPLAY_NORMAL))->setChecked(true);

    // Scoring's progress in its pane; Undo and Check best only while they can do something.
    connect(&m_pFrameList->GetScoring(), &CFrameScoring::statusChanged, m_wndStatusBar, &CStatusBar::SetScoringText);
    // Only the menu item greys: Ctrl+Z with nothing to undo does nothing, like the other edit
    // keys, rather than reaching the pane.
    connect(&m_pFrameList->GetModel(), &CFrameListModel::undoAvailable, m_pUndoItem, &QAction::setEnabled);
    m_pUndoItem->setEnabled(m_pFrameList->GetModel().CanUndo());
    EnableCommand(ids::ID_CHECK_BEST, false);
    ShowByteOrderInForce();
    ShowPlaybackInForce();
    connect(m_wndStatusBar, &CStatusBar::cancelClicked, this, [this] { OnCommand(ids::ID_EXPORT_CANCEL); });
    // Esc stops the scoring while either pane has the keyboard; anywhere else it keeps its uses.
    m_pFrameList->installEventFilter(this);
    m_pFrameView->installEventFilter(this);

    // The platform's default size would fit the bars and leave a tiny frame view; start at a
    // size that shows a whole capture on most screens instead.
    if (const QScreen* pScreen = screen()) {
        const QSize avail = pScreen->availableSize();
        resize(std::min(std::max(sizeHint().width(), 1100), avail.width()),
               std::min(std::max(sizeHint().height(), 760), avail.height()));
    }
    // The Quality column is in sight from the start where the window has room for it beside a
    // whole picture; on a small screen the picture keeps the room and the column is a scroll or
    // a drag of the splitter away.
    const int nBothColumns = kFrameListWidth + CLeftView::kQualityColumnWidth;
    if (width() - nBothColumns >= kRoomForPicture)
        m_wndSplitter->setSizes({nBothColumns, width() - nBothColumns});
    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* pNow) { OnFocusChanged(pNow); });
    return 0;
}

bool CMainFrame::OnCreateClient()
{
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("splitter"));
    m_wndSplitter->setChildrenCollapsible(false);
    m_pFrameList = new CLeftView(m_doc, m_wndSplitter);
    // The right pane: the Bayer-order bar, hidden unless it has something to say, over the
    // picture it talks about.
    auto* pPictureColumn = new QWidget(m_wndSplitter);
    pPictureColumn->setObjectName(QStringLiteral("pictureColumn"));
    m_pMosaicBar = new CMosaicBar(m_doc, pPictureColumn);
    m_pFrameView = new CKestroView(m_doc, pPictureColumn);
    auto* pColumn = new QVBoxLayout(pPictureColumn);
    pColumn->setContentsMargins(0, 0, 0, 0);
    pColumn->setSpacing(0);
    pColumn->addWidget(m_pMosaicBar);
    pColumn->addWidget(m_pFrameView, 1);
    // The timeline under the picture, and the playback it gives way to when taken in hand.
    m_pTimeline = new CTimeline(m_doc, *m_pFrameList, pPictureColumn);
    pColumn->addWidget(m_pTimeline);
    m_pPlayback = new CPlayback(m_doc, *m_pFrameList, *m_pFrameView, this);
    connect(m_pTimeline, &CTimeline::scrubbed, m_pPlayback, &CPlayback::Stop);
    connect(m_pMosaicBar, &CMosaicBar::command, this, &CMainFrame::OnCommand);
    connect(m_pMosaicBar, &CMosaicBar::choiceMade, this, [this] {
        if (m_pActiveView != nullptr)
            m_pActiveView->setFocus(Qt::OtherFocusReason);
    });
    m_wndSplitter->addWidget(m_pFrameList);
    m_wndSplitter->addWidget(pPictureColumn);
    // The frame list keeps its width when the window grows; the frame view takes the rest.
    m_wndSplitter->setStretchFactor(0, 0);
    m_wndSplitter->setStretchFactor(1, 1);
    m_wndSplitter->setSizes({kFrameListWidth, 100});
    setCentralWidget(m_wndSplitter);
    m_pActiveView = m_pFrameList;
    return true;
}

QAction* CMainFrame::AddCommand(QWidget* pOwner, int nId, const QString& text)
{
    auto* pAction = new QAction(text, pOwner);
    pAction->setStatusTip(LoadPrompt(nId));
    connect(pAction, &QAction::triggered, this, [this, nId] { OnCommand(nId); });
    pOwner->addAction(pAction);
    m_actions.emplace(nId, pAction);
    return pAction;
}

void CMainFrame::BuildMenu()
{
    m_pFileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    AddCommand(m_pFileMenu, ids::ID_FILE_OPEN, QStringLiteral("&Open...\tCtrl+O"));
    // Save and Save As do the same (the name is always asked for); Save is here for its key.
    AddCommand(m_pFileMenu, ids::ID_FILE_SAVE, QStringLiteral("&Save\tCtrl+S"));
    AddCommand(m_pFileMenu, ids::ID_FILE_SAVE_AS, QStringLiteral("Save &As..."));
    AddCommand(m_pFileMenu, ids::ID_SAVE_RGB_CHANNELS, QStringLiteral("Save RGB channels..."));
    m_pFileMenu->addSeparator();
    AddCommand(m_pFileMenu, ids::ID_EXPORT_FITS, QStringLiteral("Export Fits Frames..."));
    m_pFileMenu->addSeparator();
    // The recent files stand where the grey placeholder stands; it shows while there are none.
    m_pRecentPlaceholder = m_pFileMenu->addAction(QStringLiteral("Recent File"));
    m_pRecentPlaceholder->setEnabled(false);
    for (std::size_t i = 0; i < m_recentActions.size(); ++i) {
        QAction* pAction = AddCommand(m_pFileMenu, ids::ID_FILE_MRU_FIRST + static_cast<int>(i), QString());
        pAction->setVisible(false);
        m_recentActions[i] = pAction;
    }
    m_pFileMenu->addSeparator();
    AddCommand(m_pFileMenu, ids::ID_APP_EXIT, QStringLiteral("E&xit"));

    QMenu* pEditMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_pUndoItem = AddCommand(pEditMenu, ids::ID_EDIT_UNDO, QStringLiteral("&Undo\tCtrl+Z"));
    pEditMenu->addSeparator();
    AddCommand(pEditMenu, ids::ID_CHECK_BEST, QStringLiteral("Check &Best..."));

    QMenu* pViewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    m_pViewToolBar = AddCommand(pViewMenu, ids::ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"));
    m_pViewStatusBar = AddCommand(pViewMenu, ids::ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"));
    m_pViewToolBar->setCheckable(true);
    m_pViewStatusBar->setCheckable(true);
    m_pViewLevels = AddCommand(pViewMenu, ids::ID_VIEW_LEVELS, QStringLiteral("&Levels"));
    m_pViewLevels->setCheckable(true);
    connect(pViewMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateViewMenu);
    pViewMenu->addSeparator();
    // Ctrl+= as well as Ctrl++: on most keyboards "+" needs Shift, "=" shares its key.
    const struct {
        int nId;
        const char* text;
        QList<QKeySequence> keys;
    } zoomItems[] = {
        {ids::ID_VIEW_ZOOM_IN,
         "Zoom &In",
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)}},
        {ids::ID_VIEW_ZOOM_OUT, "Zoom &Out", {QKeySequence(Qt::CTRL | Qt::Key_Minus)}},
        {ids::ID_VIEW_ACTUAL_SIZE, "&Actual Size", {QKeySequence(Qt::CTRL | Qt::Key_0)}},
        {ids::ID_VIEW_FIT, "&Fit to Window", {QKeySequence(Qt::CTRL | Qt::Key_9)}},
        {0, nullptr, {}},
        {ids::ID_GOTO_FRAME, "&Go to Frame...", {QKeySequence(Qt::CTRL | Qt::Key_G)}},
        // The display bar's R<->B button by its full name, with a key.
        {ids::IDC_SWAP_RED_BLUE, "S&wap red and blue", {QKeySequence(Qt::CTRL | Qt::Key_B)}},
    };
    for (const auto& item : zoomItems) {
        if (item.nId == 0) {
            pViewMenu->addSeparator();
            continue;
        }
        QAction* pAction = AddCommand(pViewMenu, item.nId, QString::fromLatin1(item.text));
        pAction->setShortcuts(item.keys);
        pAction->setShortcutContext(Qt::WindowShortcut);
        // The menu bar is not the only way in: the keys work while the menu is closed.
        addAction(pAction);
    }
    pViewMenu->addSeparator();
    QMenu* pOrderMenu = pViewMenu->addMenu(QStringLiteral("&Byte Order"));
    auto* pOrderGroup = new QActionGroup(pOrderMenu);
    for (const auto& [nId, text] :
         {std::pair{ids::ID_BYTE_ORDER_AUTO, "&Auto (from the data)"},
          std::pair{ids::ID_BYTE_ORDER_LITTLE, "&Little-endian"}, std::pair{ids::ID_BYTE_ORDER_BIG, "&Big-endian"}}) {
        QAction* pAction = AddCommand(pOrderMenu, nId, QString::fromLatin1(text));
        pAction->setCheckable(true);
        pOrderGroup->addAction(pAction);
    }

    BuildPlaybackMenu(*pViewMenu);

    QMenu* pHelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    AddCommand(pHelpMenu, ids::ID_APP_ABOUT, QStringLiteral("&About Kestro..."));
}

void CMainFrame::BuildPlaybackMenu(QMenu& viewMenu)
{
    viewMenu.addSeparator();
    // F5 because no pane or bar of the window has a use for it: Space ticks rows in the list,
    // and a letter would be the list's search or the algorithm field's text. The keyboard's own
    // play key does the same.
    QAction* pPlay = AddCommand(&viewMenu, ids::ID_PLAY_PAUSE, QStringLiteral("&Play/Pause"));
    pPlay->setShortcuts({QKeySequence(Qt::Key_F5), QKeySequence(Qt::Key_MediaTogglePlayPause)});
    pPlay->setShortcutContext(Qt::WindowShortcut);
    addAction(pPlay);

    QMenu* pPlaybackMenu = viewMenu.addMenu(QStringLiteral("Pla&yback"));
    auto* pRates = new QActionGroup(pPlaybackMenu);
    const struct {
        int nId;
        const char* text;
    } rates[] = {
        {ids::ID_PLAY_RATE_OWN, "&Capture's own rate"},
        {ids::ID_PLAY_RATE_5, "&5 frames/s"},
        {ids::ID_PLAY_RATE_10, "&10 frames/s"},
        {ids::ID_PLAY_RATE_25, "&25 frames/s"},
        {ids::ID_PLAY_RATE_50, "5&0 frames/s"},
        {ids::ID_PLAY_RATE_100, "100 frames/s"},
        {ids::ID_PLAY_RATE_FASTEST, "&As fast as possible"},
    };
    for (const auto& rate : rates) {
        QAction* pAction = AddCommand(pPlaybackMenu, rate.nId, QString::fromLatin1(rate.text));
        pAction->setCheckable(true);
        pRates->addAction(pAction);
    }
    m_pOwnRateItem = GetCommandActions(ids::ID_PLAY_RATE_OWN).front();
    pPlaybackMenu->addSeparator();
    AddCommand(pPlaybackMenu, ids::ID_PLAY_LOOP, QStringLiteral("&Loop"))->setCheckable(true);
    AddCommand(pPlaybackMenu, ids::ID_PLAY_TICKED_ONLY, QStringLiteral("&Ticked frames only"))->setCheckable(true);
    // The capture's own rate in its item, for the capture on show.
    connect(pPlaybackMenu, &QMenu::aboutToShow, this, [this] {
        QString text = QStringLiteral("&Capture's own rate");
        if (m_doc.m_videoSource.IsOpen())
            text += QStringLiteral(" (%1 frames/s)")
                        .arg(QString::number(CPlayback::CaptureRate(m_doc.m_videoSource), 'g', 4));
        m_pOwnRateItem->setText(text);
    });
    connect(m_pPlayback, &CPlayback::stateChanged, this, &CMainFrame::ShowPlaybackInForce);
    connect(&m_pFrameList->GetModel(), &QAbstractItemModel::modelReset, this, &CMainFrame::ShowPlaybackInForce);
}

void CMainFrame::ShowPlaybackInForce()
{
    const bool bPlaying = m_pPlayback->IsPlaying();
    const int nRate = m_pPlayback->GetRate();
    const int nRateId = nRate == CPlayback::kOwnRate   ? ids::ID_PLAY_RATE_OWN
                        : nRate == CPlayback::kFastest ? ids::ID_PLAY_RATE_FASTEST
                        : nRate == 5                   ? ids::ID_PLAY_RATE_5
                        : nRate == 10                  ? ids::ID_PLAY_RATE_10
                        : nRate == 25                  ? ids::ID_PLAY_RATE_25
                        : nRate == 50                  ? ids::ID_PLAY_RATE_50
                                                       : ids::ID_PLAY_RATE_100;
    for (const int nId : {ids::ID_PLAY_RATE_OWN, ids::ID_PLAY_RATE_5, ids::ID_PLAY_RATE_10, ids::ID_PLAY_RATE_25,
                          ids::ID_PLAY_RATE_50, ids::ID_PLAY_RATE_100, ids::ID_PLAY_RATE_FASTEST})
        for (QAction* pAction : GetCommandActions(nId))
            pAction->setChecked(nId == nRateId);
    for (QAction* pAction : GetCommandActions(ids::ID_PLAY_LOOP))
        pAction->setChecked(m_pPlayback->IsLoop());
    for (QAction* pAction : GetCommandActions(ids::ID_PLAY_TICKED_ONLY))
        pAction->setChecked(m_pPlayback->IsTickedOnly());
    // The button shows what a press of it does next.
    const QIcon icon = LoadSvgIcon(bPlaying ? QStringLiteral(":/icons/pause.svg") : QStringLiteral(":/icons/play.svg"));
    for (QAction* pAction : GetCommandActions(ids::ID_PLAY_PAUSE)) {
        if (!pAction->icon().isNull())
            pAction->setIcon(icon);
        if (pAction->parent() == m_wndToolBar)
            pAction->setText(bPlaying ? QStringLiteral("Pause") : QStringLiteral("Play"));
    }
    EnableCommand(ids::ID_PLAY_PAUSE, m_pFrameList->GetModel().rowCount() > 0);
}

void CMainFrame::BuildAccelerators()
{
    for (const Accelerator& a : kAccelerators) {
        QAction* pAction = AddCommand(this, a.nId, QString());
        pAction->setShortcut(QKeySequence(a.key));
        pAction->setShortcutContext(Qt::WindowShortcut);
    }
    // Esc stops a running export wherever the keyboard is in the window; between exports the key
    // is free for its other uses (stopping the scoring in the panes, closing a list).
    m_pCancelExport = AddCommand(this, ids::ID_EXPORT_CANCEL, QString());
    m_pCancelExport->setShortcut(QKeySequence(Qt::Key_Escape));
    m_pCancelExport->setShortcutContext(Qt::WindowShortcut);
    m_pCancelExport->setEnabled(false);
}

bool CMainFrame::BuildToolBar()
{
    m_wndToolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_wndToolBar->setObjectName(QStringLiteral("toolBar"));
    m_wndToolBar->setIconSize(QSize(17, 16));
    for (const ToolButton& b : kToolButtons) {
        if (b.nId == 0) {
            m_wndToolBar->addSeparator();
            continue;
        }
        const QIcon icon = LoadSvgIcon(QString::fromLatin1(b.icon));
        if (icon.isNull())
            return false;
        // The button's text is its tooltip; a command without one (the RGB button) shows none.
        QAction* pAction = AddCommand(m_wndToolBar, b.nId, LoadToolTip(b.nId));
        pAction->setIcon(icon);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    return true;
}

void CMainFrame::ShowByteOrderInForce()
{
    const CVideoSource& source = m_doc.m_videoSource;
    const std::optional<kestro::ser::ByteOrder> choice = source.GetByteOrderChoice();
    const int nChecked = !choice                                  ? ids::ID_BYTE_ORDER_AUTO
                         : *choice == kestro::ser::ByteOrder::Big ? ids::ID_BYTE_ORDER_BIG
                                                                  : ids::ID_BYTE_ORDER_LITTLE;
    for (int nId : {ids::ID_BYTE_ORDER_AUTO, ids::ID_BYTE_ORDER_LITTLE, ids::ID_BYTE_ORDER_BIG}) {
        for (QAction* pAction : GetCommandActions(nId)) {
            pAction->setChecked(nId == nChecked);
            pAction->setEnabled(source.HasByteOrder());
        }
    }
}

void CMainFrame::SetActiveView(QWidget* pView)
{
    if (pView == m_pFrameList || pView == m_pFrameView)
        m_pActiveView = pView;
}

void CMainFrame::OnFocusChanged(QWidget* pNow)
{
    // Focus in the bars leaves the active view as it was, so display controls and toolbar
    // commands still reach the pane the user worked in last.
    if (Contains(m_pFrameList, pNow))
        SetActiveView(m_pFrameList);
    else if (Contains(m_pFrameView, pNow))
        SetActiveView(m_pFrameView);
}

void CMainFrame::OnCommand(int nId)
{
    if (auto* pView = dynamic_cast<CCmdTarget*>(m_pActiveView); pView && pView->OnCmdMsg(nId))
        return;
    if (m_doc.OnCmdMsg(nId))
        return;
    if (OnCmdMsg(nId))
        return;
    CKestroApp::Instance()->OnCmdMsg(nId);
}

bool CMainFrame::OnCmdMsg(int nId)
{
    switch (nId) {
    case ids::ID_VIEW_TOOLBAR:
        m_wndToolBar->setVisible(m_wndToolBar->isHidden());
        UpdateViewMenu();
        return true;
    case ids::ID_VIEW_STATUS_BAR:
        m_wndStatusBar->setVisible(m_wndStatusBar->isHidden());
        UpdateViewMenu();
        return true;
    case ids::ID_VIEW_LEVELS:
        m_wndLevelsBand->setVisible(m_wndLevelsBand->isHidden());
        UpdateViewMenu();
        return true;
    case ids::ID_NEXT_PANE:
    case ids::ID_PREV_PANE: {
        // Two panes: the next and the previous one are both the other one.
        QWidget* pOther = m_pActiveView == m_pFrameList ? static_cast<QWidget*>(m_pFrameView) : m_pFrameList;
        SetActiveView(pOther);
        pOther->setFocus(Qt::OtherFocusReason);
        return true;
    }
    case ids::ID_APP_EXIT: close(); return true;
    case ids::ID_VIEW_ZOOM_IN: m_pFrameView->OnZoomIn(); return true;
    case ids::ID_VIEW_ZOOM_OUT: m_pFrameView->OnZoomOut(); return true;
    case ids::ID_VIEW_ACTUAL_SIZE: m_pFrameView->OnActualSize(); return true;
    case ids::ID_VIEW_FIT: m_pFrameView->OnFitToWindow(); return true;
    case ids::ID_PLAY_PAUSE: m_pPlayback->Toggle(); return true;
    case ids::ID_PLAY_RATE_OWN: m_pPlayback->SetRate(CPlayback::kOwnRate); return true;
    case ids::ID_PLAY_RATE_5: m_pPlayback->SetRate(5); return true;
    case ids::ID_PLAY_RATE_10: m_pPlayback->SetRate(10); return true;
    case ids::ID_PLAY_RATE_25: m_pPlayback->SetRate(25); return true;
    case ids::ID_PLAY_RATE_50: m_pPlayback->SetRate(50); return true;
    case ids::ID_PLAY_RATE_100: m_pPlayback->SetRate(100); return true;
    case ids::ID_PLAY_RATE_FASTEST: m_pPlayback->SetRate(CPlayback::kFastest); return true;
    case ids::ID_PLAY_LOOP: m_pPlayback->SetLoop(!m_pPlayback->IsLoop()); return true;
    case ids::ID_PLAY_TICKED_ONLY: m_pPlayback->SetTickedOnly(!m_pPlayback->IsTickedOnly()); return true;
    default: return false;
    }
}

void CMainFrame::UpdateViewMenu()
{
    m_pViewToolBar->setChecked(!m_wndToolBar->isHidden());
    m_pViewStatusBar->setChecked(!m_wndStatusBar->isHidden());
    m_pViewLevels->setChecked(!m_wndLevelsBand->isHidden());
}

void CMainFrame::OnUpdateFrameTitle(const QString& strDocTitle)
{
    // "[*]" in a window title is Qt's placeholder for the modified mark; a path holding it is
    // shown as typed by doubling it.
    QString title = strDocTitle + QStringLiteral(" - ") + LoadResourceString(ids::AFX_IDS_APP_TITLE);
    title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(title);
}

void CMainFrame::UpdateRecentFileMenu(const CRecentFileList& list)
{
    const int nShown = std::min<int>(list.GetCount(), static_cast<int>(m_recentActions.size()));
    for (int i = 0; i < static_cast<int>(m_recentActions.size()); ++i) {
        QAction* pAction = m_recentActions[static_cast<std::size_t>(i)];
        if (i < nShown) {
            QString name = list.GetDisplayName(i);
            name.replace(u'&', QStringLiteral("&&"));
            pAction->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(name));
        }
        pAction->setVisible(i < nShown);
    }
    m_pRecentPlaceholder->setVisible(nShown == 0);
}

void CMainFrame::EnableCommand(int nId, bool bEnable)
{
    for (auto [it, end] = m_actions.equal_range(nId); it != end; ++it)
        it->second->setEnabled(bEnable);
}

void CMainFrame::ShowExportRunning(bool bRunning)
{
    m_bExportRunning = bRunning;
    for (const int nId : {ids::ID_FILE_OPEN, ids::ID_FILE_SAVE, ids::ID_FILE_SAVE_AS, ids::ID_SAVE_RGB_CHANNELS,
                          ids::ID_TOOLBAR_RGB, ids::ID_EXPORT_FITS})
        EnableCommand(nId, !bRunning);
    for (int nId = ids::ID_FILE_MRU_FIRST; nId <= ids::ID_FILE_MRU_LAST; ++nId)
        EnableCommand(nId, !bRunning);
    EnableCommand(ids::ID_CHECK_BEST, !bRunning && m_doc.m_videoSource.IsOpen());
    m_pCancelExport->setEnabled(bRunning);
    m_wndStatusBar->ShowCancelButton(bRunning);
}

QList<QAction*> CMainFrame::GetCommandActions(int nId) const
{
    QList<QAction*> actions;
    for (auto [it, end] = m_actions.equal_range(nId); it != end; ++it)
        actions.push_back(it->second);
    return actions;
}

QMenu* CMainFrame::createPopupMenu()
{
    // Qt's menu of bars would let the display bar be hidden with no way back; the View menu
    // shows and hides what may be hidden.
    return nullptr;
}

void CMainFrame::resizeEvent(QResizeEvent* pEvent)
{
    QMainWindow::resizeEvent(pEvent);
    FitDisplayBar();
}

void CMainFrame::FitDisplayBar()
{
    if (m_wndDlgBar == nullptr || m_wndDisplayBand == nullptr)
        return;
    // The band's handle and margins come off the window's width; the bar wraps its controls
    // into the rest, so none is ever out of reach.
    const QStyle* pStyle = m_wndDisplayBand->style();
    const int nOverhead = pStyle->pixelMetric(QStyle::PM_ToolBarHandleExtent, nullptr, m_wndDisplayBand) +
                          2 * pStyle->pixelMetric(QStyle::PM_ToolBarFrameWidth, nullptr, m_wndDisplayBand) +
                          2 * pStyle->pixelMetric(QStyle::PM_ToolBarItemMargin, nullptr, m_wndDisplayBand) +
                          pStyle->pixelMetric(QStyle::PM_ToolBarItemSpacing, nullptr, m_wndDisplayBand) +
                          pStyle->pixelMetric(QStyle::PM_ToolBarExtensionExtent, nullptr, m_wndDisplayBand) + 4;
    m_wndDlgBar->SetAvailableWidth(width() - nOverhead);
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyPress && (pWatched == m_pFrameList || pWatched == m_pFrameView)) {
        const auto* pKey = static_cast<const QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_Escape && pKey->modifiers() == Qt::NoModifier && m_pFrameList->GetScoring().Cancel())
            return true;
    }
    return QMainWindow::eventFilter(pWatched, pEvent);
}

bool CMainFrame::event(QEvent* pEvent)
{
    // Prompts of hovered menu items and toolbar buttons go to the message pane; when the
    // pointer leaves, the pane says "Ready" again, or for a while after an export what it wrote.
    // While an export runs the pane keeps the export's message beside its progress bar.
    if (pEvent->type() == QEvent::StatusTip && m_wndStatusBar != nullptr) {
        if (!m_bExportRunning) {
            const QString tip = static_cast<QStatusTipEvent*>(pEvent)->tip();
            m_wndStatusBar->SetPaneText(0, tip.isEmpty() ? m_wndStatusBar->GetIdleText() : tip);
        }
        return true;
    }
    return QMainWindow::event(pEvent);
}

void CMainFrame::closeEvent(QCloseEvent* pEvent)
{
    m_doc.EndExportNow();
    QMainWindow::closeEvent(pEvent);
}
