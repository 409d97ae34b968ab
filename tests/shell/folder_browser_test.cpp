// The folder picker as a user meets it: it opens at the start folder, lists folders only, its
// status line follows the selection with the full path, and Browse hands back the folder chosen
// (or nothing after a cancel). The folder seam's real handler shows the same picker. And the save
// dialog, built on the same file dialog, as Save As uses it.
#include "folder_browser.h"
#include "qt_seams.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// What a test saw while the picker was open. The picker is closed however the look went, so a
// failed expectation never leaves a modal dialog waiting for a person.
struct Seen {
    bool bOpened = false;
    QString directory;
    QString title;
    QString status;
    QStringList listed;
    bool bFoldersOnly = false;
    QString statusAfterClick;
    QString statusAfterEntering;
    bool bSettersRefused = false;
};

QFileDialog* OpenPicker() { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); }

QListView* ListOf(QFileDialog& dialog) { return dialog.findChild<QListView*>(QStringLiteral("listView")); }

QString StatusOf(QFileDialog& dialog)
{
    const auto* pStatus = dialog.findChild<QLabel*>(QStringLiteral("statusText"));
    return pStatus ? pStatus->text() : QStringLiteral("<no status line>");
}

// The names the folder view lists, once the file-system model has read the folder.
QStringList Listed(QFileDialog& dialog, int nAtLeast)
{
    QListView* pList = ListOf(dialog);
    if (pList == nullptr)
        return {};
    QStringList names;
    const bool bRead = QTest::qWaitFor(
        [&] {
            names.clear();
            const QModelIndex root = pList->rootIndex();
            for (int i = 0; i < pList->model()->rowCount(root); ++i)
                names << pList->model()->index(i, 0, root).data().toString();
            return names.size() >= nAtLeast;
        },
        5000);
    if (!bRead)
        qWarning("the folder view listed only %lld entries", static_cast<long long>(names.size()));
    names.sort();
    return names;
}

QModelIndex Entry(QFileDialog& dialog, const QString& name)
{
    QListView* pList = ListOf(dialog);
    const QModelIndex root = pList->rootIndex();
    for (int i = 0; i < pList->model()->rowCount(root); ++i) {
        const QModelIndex index = pList->model()->index(i, 0, root);
        if (index.data().toString() == name)
            return index;
    }
    return {};
}

// Runs look on the picker once it is open, then presses Choose (bChoose) or Cancel.
void WhenOpen(std::function<void(QFileDialog&)> look, bool bChoose)
{
    QTimer::singleShot(0, [look = std::move(look), bChoose] {
        QFileDialog* pDialog = OpenPicker();
        if (pDialog == nullptr)
            return;
        look(*pDialog);
        if (!pDialog->isVisible())
            return;
        auto* pButtons = pDialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QAbstractButton* pPress =
            pButtons ? pButtons->button(bChoose ? QDialogButtonBox::Open : QDialogButtonBox::Cancel) : nullptr;
        if (pPress != nullptr)
            QTest::mouseClick(pPress, Qt::LeftButton);
        if (pDialog->isVisible())
            pDialog->reject();
    });
}

} // namespace

class FolderBrowserTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void opensAtTheStartFolderAndFollowsTheSelection();
    void choosingTheFolderShownReturnsIt();
    void cancelLeavesThePathAlone();
    void aMissingStartFolderOpensAtTheNearestOneAbove();
    void theFolderSeamShowsThePicker();
    void aNameTypedWithoutExtensionTakesThatOfTheFileTypeShown();

private:
    QTemporaryDir m_tree;
    QString m_root; // holds a/ (with b/ and inner.txt inside) and top.txt
};

void FolderBrowserTest::initTestCase()
{
    // The file dialog remembers its state in the user's settings; keep that out of them.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_tree.path() + QStringLiteral("/settings"));
    m_root = m_tree.path() + QStringLiteral("/tree");
    QVERIFY(QDir().mkpath(m_root + QStringLiteral("/a/b")));
    for (const char* file : {"/a/inner.txt", "/top.txt"}) {
        QFile f(m_root + QString::fromLatin1(file));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
}

void FolderBrowserTest::opensAtTheStartFolderAndFollowsTheSelection()
{
    CStartFolderBrowser browser;
    browser.m_strStartFolder = m_root + QStringLiteral("/a/");
    browser.SetTitle(QStringLiteral("Pick a folder:"));
    browser.SetFlags(CFolderBrowser::OnlyFileSystemFolders | CFolderBrowser::StatusText);
    Seen seen;
    WhenOpen(
        [&](QFileDialog& dialog) {
            seen.bOpened = true;
            seen.directory = dialog.directory().absolutePath();
            seen.title = dialog.windowTitle();
            seen.status = StatusOf(dialog);
            seen.bFoldersOnly =
                dialog.fileMode() == QFileDialog::Directory && dialog.testOption(QFileDialog::ShowDirsOnly);
            seen.listed = Listed(dialog, 1);
            seen.bSettersRefused = !browser.SetTitle(QStringLiteral("x")) && !browser.SetFlags(0) &&
                                   !browser.SetRoot(QStringLiteral("/")) && !browser.SetOwner(nullptr);
            QListView* pList = ListOf(dialog);
            const QModelIndex b = Entry(dialog, QStringLiteral("b"));
            if (!b.isValid())
                return;
            QTest::mouseClick(pList->viewport(), Qt::LeftButton, {}, pList->visualRect(b).center());
            seen.statusAfterClick = StatusOf(dialog);
        },
        true);
    QVERIFY(browser.Browse());
    QVERIFY(seen.bOpened);
    QCOMPARE(seen.directory, m_root + QStringLiteral("/a"));
    QCOMPARE(seen.title, QStringLiteral("Pick a folder:"));
    QCOMPARE(seen.status, m_root + QStringLiteral("/a"));
    QVERIFY(seen.bFoldersOnly);
    QCOMPARE(seen.listed, QStringList{QStringLiteral("b")});
    QVERIFY(seen.bSettersRefused);
    QCOMPARE(seen.statusAfterClick, m_root + QStringLiteral("/a/b"));
    QCOMPARE(browser.m_strPath, m_root + QStringLiteral("/a/b"));
    QVERIFY(!browser.IsOpen());
    QVERIFY(browser.SetTitle(QStringLiteral("closed again")));
}

void FolderBrowserTest::choosingTheFolderShownReturnsIt()
{
    // Entering a folder (a double click) makes it the selection; "/" keeps its separator.
    struct Case {
        QString start;
        QString enter;
        QString chosen;
    };
    const Case cases[] = {
        {m_root, QStringLiteral("a"), m_root + QStringLiteral("/a")},
        {QStringLiteral("/"), QString(), QStringLiteral("/")},
    };
    for (const Case& c : cases) {
        CStartFolderBrowser browser;
        browser.m_strStartFolder = c.start;
        browser.SetFlags(CFolderBrowser::OnlyFileSystemFolders | CFolderBrowser::StatusText);
        Seen seen;
        WhenOpen(
            [&](QFileDialog& dialog) {
                seen.status = StatusOf(dialog);
                if (c.enter.isEmpty())
                    return;
                Listed(dialog, 1);
                QListView* pList = ListOf(dialog);
                const QModelIndex entry = Entry(dialog, c.enter);
                if (!entry.isValid())
                    return;
                QTest::mouseDClick(pList->viewport(), Qt::LeftButton, {}, pList->visualRect(entry).center());
                seen.statusAfterEntering = StatusOf(dialog);
            },
            true);
        QVERIFY(browser.Browse());
        QCOMPARE(seen.status, QDir::cleanPath(c.start));
        if (!c.enter.isEmpty())
            QCOMPARE(seen.statusAfterEntering, c.chosen);
        QCOMPARE(browser.m_strPath, c.chosen);
    }
}

void FolderBrowserTest::cancelLeavesThePathAlone()
{
    CStartFolderBrowser browser;
    browser.m_strPath = QStringLiteral("/before");
    browser.m_strStartFolder = m_root;
    WhenOpen([](QFileDialog&) {}, false);
    QVERIFY(!browser.Browse());
    QCOMPARE(browser.m_strPath, QStringLiteral("/before"));
}

void FolderBrowserTest::aMissingStartFolderOpensAtTheNearestOneAbove()
{
    CStartFolderBrowser browser;
    browser.m_strStartFolder = m_root + QStringLiteral("/a/gone/deeper");
    browser.SetFlags(CFolderBrowser::StatusText);
    Seen seen;
    WhenOpen(
        [&](QFileDialog& dialog) {
            seen.directory = dialog.directory().absolutePath();
            seen.status = StatusOf(dialog);
            seen.listed = Listed(dialog, 2);
        },
        false);
    QVERIFY(!browser.Browse());
    QCOMPARE(seen.directory, m_root + QStringLiteral("/a"));
    QCOMPARE(seen.status, m_root + QStringLiteral("/a"));
    // Without "folders only" the files are listed too.
    QCOMPARE(seen.listed, (QStringList{QStringLiteral("b"), QStringLiteral("inner.txt")}));
}

void FolderBrowserTest::theFolderSeamShowsThePicker()
{
    const kestro::shell::FolderSeam::Override showing(kestro::shell::folderSeam(), ShowFolderBrowser);
    Seen seen;
    WhenOpen(
        [&](QFileDialog& dialog) {
            seen.title = dialog.windowTitle();
            seen.status = StatusOf(dialog);
            seen.bFoldersOnly = dialog.testOption(QFileDialog::ShowDirsOnly);
        },
        true);
    const std::optional<std::string> chosen =
        kestro::shell::askForFolder({"Where do they go?", (m_root + QStringLiteral("/a/b/")).toStdString()});
    WhenOpen([](QFileDialog&) {}, false);
    const std::optional<std::string> cancelled =
        kestro::shell::askForFolder({"Where do they go?", m_root.toStdString()});
    QCOMPARE(seen.title, QStringLiteral("Where do they go?"));
    QCOMPARE(seen.status, m_root + QStringLiteral("/a/b"));
    QVERIFY(seen.bFoldersOnly);
    QCOMPARE(chosen, std::optional<std::string>((m_root + QStringLiteral("/a/b")).toStdString()));
    QCOMPARE(cancelled, std::nullopt);
}

// Save As decides by the extension of the name returned: "m42" typed under "SER capture" must come
// back as m42.ser, not with the AVI extension of the first file type.
void FolderBrowserTest::aNameTypedWithoutExtensionTakesThatOfTheFileTypeShown()
{
    struct Case {
        int nType; // 0 AVI, 1 BMP, 2 SER, 3 All Files
        const char* typed;
        const char* returned;
    };
    const Case cases[] = {
        {2, "m42", "m42.ser"}, {1, "m42", "m42.bmp"},     {0, "m42", "m42.avi"},
        {3, "m42", "m42.avi"}, {2, "m42.avi", "m42.avi"},
    };
    for (const Case& c : cases) {
        kestro::shell::FileDialogRequest request;
        request.mode = kestro::shell::FileDialogMode::Save;
        request.defaultExtension = "avi";
        request.filter =
            "One AVI File (*.avi)|*.avi|BMP Files (*.bmp)|*.bmp|SER capture (*.ser)|*.ser|All Files (*.*)|*.*||";
        request.startFolder = m_root.toStdString();
        bool bShown = false;
        QTimer::singleShot(0, [&] {
            QFileDialog* pDialog = OpenPicker();
            if (pDialog == nullptr)
                return;
            auto* pTypes = pDialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            auto* pName = pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            bShown = pTypes != nullptr && pName != nullptr;
            if (bShown) {
                // As a click on the entry does.
                pTypes->setCurrentIndex(c.nType);
                emit pTypes->activated(c.nType);
                emit pTypes->textActivated(pTypes->currentText());
                pName->setText(QString::fromLatin1(c.typed));
                auto* pButtons = pDialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
                if (QAbstractButton* pSave = pButtons ? pButtons->button(QDialogButtonBox::Save) : nullptr)
                    QTest::mouseClick(pSave, Qt::LeftButton);
            }
            if (pDialog->isVisible())
                pDialog->reject();
        });
        const std::optional<std::string> path = ShowFileDialog(request);
        QVERIFY2(bShown, c.typed);
        QCOMPARE(QString::fromStdString(path.value_or("(cancelled)")), m_root + u'/' + QString::fromLatin1(c.returned));
    }
}

QTEST_MAIN(FolderBrowserTest)
#include "folder_browser_test.moc"
