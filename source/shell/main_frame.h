// The main window: menu, toolbar and display bar at the top, the status bar at the bottom,
// and a splitter with the frame list on the left and the frame view on the right.
//
// Every menu item, key, toolbar button and display-bar control issues a command number
// (resource_ids.h), and OnCommand routes it as the program's commands have always gone: to the
// active view, then the document, then this frame, then the application; the first that
// handles it ends the route.
#pragma once

#include "cmd_target.h"

#include <QMainWindow>

#include <array>
#include <map>

class CDisplayBar;
class CKestroDoc;
class CKestroView;
class CLeftView;
class CMosaicBar;
class CPlayback;
class CTimeline;
class CLevelsBar;
class CRecentFileList;
class CStatusBar;
class QAction;
class QMenu;
class QSplitter;
class QToolBar;

class CMainFrame : public QMainWindow, public CCmdTarget {
    Q_OBJECT
public:
    static constexpr int kFrameListWidth = 130;
    // The frame view keeps at least this much beside a frame list that shows both its columns.
    static constexpr int kRoomForPicture = 800;

    explicit CMainFrame(CKestroDoc& doc);
    ~CMainFrame() override;

    // Builds menu, keys, toolbar, display bar and status bar after OnCreateClient; 0, or -1
    // when a step fails.
    int OnCreate();
    // Builds the splitter with both views.
    bool OnCreateClient();

    CDisplayBar& GetDisplayBar() const { return *m_wndDlgBar; }
    CStatusBar& GetStatusBar() const { return *m_wndStatusBar; }
    QToolBar& GetToolBar() const { return *m_wndToolBar; }
    QToolBar& GetDisplayBand() const { return *m_wndDisplayBand; }
    QSplitter& GetSplitter() const { return *m_wndSplitter; }
    CLeftView* GetFrameList() const { return m_pFrameList; }
    CKestroView* GetFrameView() const { return m_pFrameView; }
    // Null until OnCreateClient has run.
    CMosaicBar* GetMosaicBar() const { return m_pMosaicBar; }
    CTimeline* GetTimeline() const { return m_pTimeline; }
    CPlayback* GetPlayback() const { return m_pPlayback; }
    QToolBar& GetLevelsBand() const { return *m_wndLevelsBand; }
    CLevelsBar& GetLevelsBar() const { return *m_pLevelsBar; }

    // The pane commands go to first: the frame list after start-up, the frame view once the
    // user works in it; F6 and Shift+F6 move between them.
    QWidget* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(QWidget* pView);

    // Routes a command; see the top of this file.
    void OnCommand(int nId);
    bool OnCmdMsg(int nId) override;

    // The caption: the document's title, " - ", the program's title.
    void OnUpdateFrameTitle(const QString& strDocTitle);
    // Shows the recent files in the File menu in place of the grey "Recent File" item.
    void UpdateRecentFileMenu(const CRecentFileList& list);

    // The actions of the menus, the toolbar and the keys, by command (several for some).
    QList<QAction*> GetCommandActions(int nId) const;
    // Enables or greys every menu item, button and key of a command.
    void EnableCommand(int nId, bool bEnable);
    // While an export runs: the commands that would change the capture or start another export
    // (Open, the recent files, the exports, Check Best) are grey, Esc and the status bar's
    // Cancel button stop the export, and the message pane keeps the export's message.
    void ShowExportRunning(bool bRunning);
    QMenu* GetFileMenu() const { return m_pFileMenu; }
    // Checks the byte-order item of the choice in force for the open capture, and greys the three
    // unless it is a SER capture of 16-bit samples, the only kind whose byte order is in doubt.
    void ShowByteOrderInForce();

    QMenu* createPopupMenu() override;

protected:
    bool event(QEvent* pEvent) override;
    // A running export is stopped and waited for before the window goes.
    void closeEvent(QCloseEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    QAction* AddCommand(QWidget* pOwner, int nId, const QString& text);
    void BuildMenu();
    void BuildAccelerators();
    bool BuildToolBar();
    void UpdateViewMenu();
    void OnFocusChanged(QWidget* pNow);
    // Tells the display bar how wide it may be in this window.
    void FitDisplayBar();
    // View > Play/Pause and its Playback menu.
    void BuildPlaybackMenu(QMenu& viewMenu);
    // The play button, the menu's checks and the grey items as playback stands.
    void ShowPlaybackInForce();

    CKestroDoc& m_doc;
    QSplitter* m_wndSplitter = nullptr;
    CStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QToolBar* m_wndDisplayBand = nullptr; // holds the display bar as the toolbar row's second band
    CDisplayBar* m_wndDlgBar = nullptr;

    CLeftView* m_pFrameList = nullptr;
    CKestroView* m_pFrameView = nullptr;
    CMosaicBar* m_pMosaicBar = nullptr;
    CTimeline* m_pTimeline = nullptr;
    CPlayback* m_pPlayback = nullptr;
    QAction* m_pOwnRateItem = nullptr;
    // The display levels, a row of their own under the display bar, hidden until asked for.
    QToolBar* m_wndLevelsBand = nullptr;
    CLevelsBar* m_pLevelsBar = nullptr;
    QAction* m_pViewLevels = nullptr;
    QWidget* m_pActiveView = nullptr;

    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentPlaceholder = nullptr;
    std::array<QAction*, 8> m_recentActions{};
    QAction* m_pViewToolBar = nullptr;
    QAction* m_pViewStatusBar = nullptr;
    QAction* m_pUndoItem = nullptr;
    QAction* m_pCancelExport = nullptr;
    bool m_bExportRunning = false;
    std::multimap<int, QAction*> m_actions;
    QMetaObject::Connection m_focusConnection;
};
