// The application: settings, the recent-file list, start-up and the About box. It owns the
// document and the main window for the whole run.
#pragma once

#include "cmd_target.h"

#include <QString>
#include <QStringList>

#include <memory>

class CKestroDoc;
class CMainFrame;
class CRecentFileList;

class CKestroApp : public CCmdTarget {
public:
    CKestroApp();
    ~CKestroApp() override;
    CKestroApp(const CKestroApp&) = delete;
    CKestroApp& operator=(const CKestroApp&) = delete;

    // The one application object while it lives, else null.
    static CKestroApp* Instance();
    // Its main frame, or null while there is none.
    static CMainFrame* MainFrame();

    // Start-up: settings, recent files, document, main window with its bars and views, the
    // document's first New, the views' initial update; then the window is shown and a file
    // named in arguments (the program's command line, without the program's name) is opened.
    // False when the window cannot be built.
    bool InitInstance(const QStringList& arguments = {});
    // Writes the recent-file list back to the settings store; destruction does it when this
    // has not run.
    void ExitInstance();

    bool OnCmdMsg(int nId) override;
    void OnAppAbout();
    // The framework's New on the existing document: title "Untitled", the document's
    // OnNewDocument, and the views' initial update again.
    void OnFileNew();

    void AddToRecentList(const QString& path);
    // Entry n counted from 1; empty text above the list's size.
    QString GetRecentFile(int n) const;

    CKestroDoc* GetDocument() const { return m_pDocument.get(); }
    // The main frame, from the moment it exists (also while the first New runs).
    CMainFrame* GetMainFrame() const { return m_pMainFrame.get(); }

private:
    void InitialUpdateViews();

    std::unique_ptr<CRecentFileList> m_pRecentFileList;
    // Declared before the frame, so the frame with its views goes first at the end.
    std::unique_ptr<CKestroDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainFrame;
    bool m_bListLoaded = false;
};
