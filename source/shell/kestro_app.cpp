#include "kestro_app.h"

#include "about_dlg.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "message_box.h"
#include "recent_file_list.h"
#include "resource_ids.h"
#include "resource_strings.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

CKestroApp* g_pApp = nullptr;

} // namespace

CKestroApp::CKestroApp() : m_pRecentFileList(std::make_unique<CRecentFileList>(8, 30)) { g_pApp = this; }

CKestroApp::~CKestroApp()
{
    ExitInstance();
    m_pMainFrame.reset();
    m_pDocument.reset();
    if (g_pApp == this)
        g_pApp = nullptr;
}

CKestroApp* CKestroApp::Instance() { return g_pApp; }

CMainFrame* CKestroApp::MainFrame() { return g_pApp ? g_pApp->GetMainFrame() : nullptr; }

bool CKestroApp::InitInstance(const QStringList& arguments)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tollbeck"));
    QCoreApplication::setApplicationName(LoadResourceString(ids::AFX_IDS_APP_TITLE));

    m_pRecentFileList->ReadList();
    m_bListLoaded = true;

    m_pDocument = std::make_unique<CKestroDoc>();
    m_pMainFrame = std::make_unique<CMainFrame>(*m_pDocument);
    bool bCreated = m_pMainFrame->OnCreate() == 0;
    if (bCreated) {
        m_pDocument->SetTitle(LoadResourceString(ids::AFX_IDS_UNTITLED));
        bCreated = m_pDocument->OnNewDocument();
    }
    if (!bCreated) {
        kestro::ui::showMessage(LoadResourceString(ids::AFX_IDP_FAILED_TO_CREATE_DOC).toStdString(),
                                LoadResourceString(ids::AFX_IDS_APP_TITLE).toStdString());
        m_pMainFrame.reset();
        return false;
    }
    m_pMainFrame->UpdateRecentFileMenu(*m_pRecentFileList);
    InitialUpdateViews();
    m_pMainFrame->show();
    m_pMainFrame->GetFrameList()->setFocus(Qt::OtherFocusReason);

    // A capture named on the command line opens like one chosen with Open, with its full path
    // as the title and in the recent-file list.
    if (!arguments.isEmpty() && !arguments.front().isEmpty())
        m_pDocument->OpenVideoFile(QFileInfo(arguments.front()).absoluteFilePath());
    return true;
}

void CKestroApp::ExitInstance()
{
    // Written once, and only after it was read, so a run that failed early leaves the stored
    // list alone.
    if (m_bListLoaded)
        m_pRecentFileList->WriteList();
    m_bListLoaded = false;
}

void CKestroApp::InitialUpdateViews()
{
    m_pMainFrame->GetFrameList()->OnInitialUpdate();
    m_pMainFrame->GetFrameView()->OnInitialUpdate();
}

bool CKestroApp::OnCmdMsg(int nId)
{
    switch (nId) {
    case ids::ID_APP_ABOUT: OnAppAbout(); return true;
    case ids::ID_FILE_NEW: OnFileNew(); return true;
    default: return false;
    }
}

void CKestroApp::OnAppAbout()
{
    CAboutDlg dlg(m_pMainFrame.get());
    dlg.exec();
}

void CKestroApp::OnFileNew()
{
    // New keeps the open capture, its rows and its ticks, so the caption goes on naming it.
    const CVideoSource& source = m_pDocument->m_videoSource;
    m_pDocument->SetTitle(source.IsOpen() ? QString::fromStdString(source.GetFileName())
                                          : LoadResourceString(ids::AFX_IDS_UNTITLED));
    if (m_pDocument->OnNewDocument())
        InitialUpdateViews();
}

void CKestroApp::AddToRecentList(const QString& path)
{
    // Text already standing in a slot, byte for byte, leaves the order as it is.
    for (int i = 0; i < m_pRecentFileList->GetSize(); ++i) {
        if ((*m_pRecentFileList)[i] == path)
            return;
    }
    m_pRecentFileList->Add(path);
    if (m_pMainFrame)
        m_pMainFrame->UpdateRecentFileMenu(*m_pRecentFileList);
}

QString CKestroApp::GetRecentFile(int n) const
{
    if (n < 1 || n > m_pRecentFileList->GetSize())
        return {};
    return (*m_pRecentFileList)[n - 1];
}
