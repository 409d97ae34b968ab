#include "shell_fixture.h"

#include "display_bar.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "main_frame.h"
#include "resource_ids.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QProcess>
#include <QSettings>
#include <QTest>

ShellFixture::ShellFixture() : m_folderPath(m_folder.path())
{
    QDir(m_folderPath).mkpath(QStringLiteral("settings"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folderPath + QStringLiteral("/settings"));
}

ShellFixture::~ShellFixture() { m_pApp.reset(); }

CKestroApp& ShellFixture::start(const QStringList& arguments)
{
    m_pApp = std::make_unique<CKestroApp>();
    if (!m_pApp->InitInstance(arguments))
        qFatal("the program did not start");
    if (!QTest::qWaitForWindowExposed(m_pApp->GetMainFrame()))
        qFatal("the main window was not shown");
    return *m_pApp;
}

CKestroApp& ShellFixture::restart(const QStringList& arguments)
{
    m_pApp.reset();
    return start(arguments);
}

CMainFrame& ShellFixture::frame() const { return *m_pApp->GetMainFrame(); }

CKestroDoc& ShellFixture::doc() const { return *m_pApp->GetDocument(); }

QAbstractButton& ShellFixture::button(int nId) const
{
    return *static_cast<QAbstractButton*>(frame().GetDisplayBar().GetDlgItem(nId));
}

QComboBox& ShellFixture::algorithmList() const
{
    return *static_cast<QComboBox*>(frame().GetDisplayBar().GetDlgItem(ids::IDC_ALGORITHM));
}

QStringList ShellFixture::algorithmEntries() const
{
    QStringList entries;
    for (int i = 0; i < algorithmList().count(); ++i)
        entries << algorithmList().itemText(i);
    return entries;
}

void ShellFixture::command(int nId) const { frame().OnCommand(nId); }

QString ShellFixture::sample(const QString& name, const QStringList& arguments) const
{
    const QString path = m_folderPath + u'/' + name;
    QProcess tool;
    tool.start(QStringLiteral(KESTRO_SAMPLE_TOOL), QStringList{QStringLiteral("--output"), path} + arguments);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        qFatal("the sample tool failed: %s", tool.readAllStandardError().constData());
    return path;
}

QString ShellFixture::missing(const QString& name) const { return m_folderPath + u'/' + name; }
