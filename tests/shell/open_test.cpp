// Opening captures: success, failures with and without a capture to go back to, the file
// dialog, and the recent-file list with its rules, its menu and its survival across a restart.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "qt_seams.h"
#include "recent_file_list.h"
#include "resource_ids.h"
#include "status_bar.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

QStringList RecentFiles(const CKestroApp& app)
{
    QStringList files;
    for (int n = 1; n <= 8; ++n) {
        if (!app.GetRecentFile(n).isEmpty())
            files << app.GetRecentFile(n);
    }
    return files;
}

QStringList RecentMenuTexts(const CMainFrame& frame)
{
    QStringList texts;
    for (int id = ids::ID_FILE_MRU_FIRST; id <= ids::ID_FILE_MRU_LAST; ++id) {
        for (const QAction* a : frame.GetCommandActions(id)) {
            if (a->isVisible())
                texts << a->text();
        }
    }
    return texts;
}

QStringList RowTexts(const CLeftView& list)
{
    QStringList rows;
    for (int i = 0; i < list.model()->rowCount(); ++i) {
        const QModelIndex index = list.model()->index(i, 0);
        rows << index.data().toString() + (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? " x" : " -");
    }
    return rows;
}

// Where frame n's chunk starts in an AVI file with one video stream and an idx1 index whose
// offsets count from the movi list's type code, as ffmpeg writes them.
qsizetype ChunkStart(const QByteArray& file, int n)
{
    const qsizetype idx1 = file.lastIndexOf("idx1");
    const qsizetype movi = file.indexOf("movi");
    const auto le32 = [&](qsizetype at) {
        return quint32(quint8(file[at])) | quint32(quint8(file[at + 1])) << 8 | quint32(quint8(file[at + 2])) << 16 |
               quint32(quint8(file[at + 3])) << 24;
    };
    if (idx1 < 0 || movi < 0)
        qFatal("no idx1 or movi");
    return movi + le32(idx1 + 8 + 16 * n + 8);
}

} // namespace

class OpenTest : public QObject {
    Q_OBJECT
private slots:
    void openSucceeds();
    void failureWithoutPreviousFile();
    void failureKeepsTheOpenCapture();
    void fileDialog();
    void recentFileRules();
    void recentListSurvivesARestart();
    void recentEntriesOpenTheirFiles();
    void abbreviatedNames_data();
    void abbreviatedNames();
    void captureThatEndsEarlySaysSo_data();
    void captureThatEndsEarlySaysSo();
};

void OpenTest::openSucceeds()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("three.avi"), {"--frames", "3", "--dropped", "1"});
    f.start();
    f.doc().OpenVideoFile(capture);

    QVERIFY(f.messages().empty());
    QCOMPARE(f.doc().GetTitle(), capture);
    QCOMPARE(f.frame().windowTitle(), capture + QStringLiteral(" - Kestro"));
    QCOMPARE(RecentFiles(f.app()), QStringList{capture});
    QCOMPARE(RecentMenuTexts(f.frame()),
             QStringList{QStringLiteral("&1 ") + CRecentFileList::AbbreviatePath(capture, 30).replace("&", "&&")});
    for (const QAction* a : f.frame().GetFileMenu()->actions())
        QVERIFY2(a->text() != QStringLiteral("Recent File") || !a->isVisible(), "the placeholder gives way");
    QCOMPARE(RowTexts(*f.frame().GetFrameList()), (QStringList{"frame 0000 x", "frame 0001 -", "frame 0002 x"}));
    QCOMPARE(f.doc().m_videoSource.GetCurrentPosition(), 0);
    QVERIFY(f.frame().GetFrameList()->selectionModel()->selectedRows().isEmpty());

    // The frame view shows frame 0 at its top-left corner.
    QTest::qWait(0);
    const QImage view = f.frame().GetFrameView()->grab().toImage();
    const BITMAPINFOHEADER* pFrame = f.doc().m_videoSource.GetFrameBitmap();
    QVERIFY(pFrame != nullptr);
    const QColor background = view.pixelColor(view.width() - 1, view.height() - 1);
    QVERIFY(view.width() > pFrame->biWidth);
    QVERIFY(view.pixelColor(pFrame->biWidth - 1, 0) != background); // the sky is black, not grey
}

void OpenTest::failureWithoutPreviousFile()
{
    ShellFixture f;
    f.start();
    const QString gone = f.missing(QStringLiteral("gone.avi"));
    f.doc().OpenVideoFile(gone);

    QCOMPARE(f.messages().size(), std::size_t(1));
    QCOMPARE(f.messages().front().caption, std::string("AVIFileOpen"));
    QCOMPARE(f.frame().windowTitle(), QStringLiteral("Untitled - Kestro"));
    QVERIFY(RecentFiles(f.app()).isEmpty());
    QVERIFY(!f.doc().m_videoSource.IsOpen());
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), 0);
}

void OpenTest::failureKeepsTheOpenCapture()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("previous.avi"),
                                     {"--width", "64", "--height", "48", "--frames", "300", "--dropped", "7"});
    const QString broken = f.folder() + QStringLiteral("/broken.avi");
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("RIFF\x04\x00\x00\x00"
                   "AVI ",
                   12);
    }
    f.start();
    f.doc().OpenVideoFile(capture);
    CLeftView& list = *f.frame().GetFrameList();
    list.GoToRow(250);
    list.GetModel().SetTicked(2, false);
    list.GetModel().SetTicked(7, true);
    const int nScroll = list.verticalScrollBar()->value();
    QVERIFY(nScroll > 0);
    f.frame().GetFrameView()->OnZoomIn();

    // The ticks are the user's work: a file that fails leaves the capture on show exactly as
    // it was, rather than opening it again with every tick reset.
    for (const QString& failing : {f.missing(QStringLiteral("gone.avi")), broken, f.folder()}) {
        f.clearMessages();
        f.doc().OpenVideoFile(failing);
        QCOMPARE(f.messages().size(), std::size_t(1));
        QCOMPARE(f.doc().m_videoSource.GetFileName(), capture.toStdString());
        QCOMPARE(f.doc().m_videoSource.GetCurrentPosition(), 250);
        QCOMPARE(f.doc().GetCurrentRow(), 250);
        QCOMPARE(list.currentIndex().row(), 250);
        QCOMPARE(list.verticalScrollBar()->value(), nScroll);
        QCOMPARE(f.frame().windowTitle(), capture + QStringLiteral(" - Kestro"));
        QCOMPARE(RecentFiles(f.app()), QStringList{capture});
        QCOMPARE(list.model()->rowCount(), 300);
        QVERIFY(!list.GetModel().IsTicked(2));
        QVERIFY(list.GetModel().IsTicked(7));
        QCOMPARE(f.frame().GetFrameView()->GetZoom(), 2.0);
    }
}

void OpenTest::fileDialog()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("chosen.avi"), {"--frames", "2", "--dropped", ""});
    f.start();

    f.command(ids::ID_FILE_OPEN); // cancelled
    QVERIFY(!f.doc().m_videoSource.IsOpen());
    QCOMPARE(f.frame().windowTitle(), QStringLiteral("Untitled - Kestro"));

    f.dialogs().answer(capture.toStdString());
    QTest::keyClick(&f.frame(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(f.doc().m_videoSource.GetFileName(), capture.toStdString());

    QCOMPARE(f.dialogs().fileRequests().size(), std::size_t(2));
    const kestro::shell::FileDialogRequest r = f.dialogs().fileRequests().back(); // a copy: more requests follow
    QVERIFY(r.mode == kestro::shell::FileDialogMode::Open);
    QCOMPARE(r.defaultExtension, std::string("avi"));
    QCOMPARE(r.fileName, std::string());
    QCOMPARE(r.filter, std::string("Captures (*.avi *.ser)|*.avi;*.ser|All Files (*.*)|*.*||"));
    // With nothing open the dialog starts where it likes; with a capture open, in its folder.
    QCOMPARE(r.startFolder, std::string());
    f.command(ids::ID_FILE_OPEN);
    QCOMPARE(f.dialogs().fileRequests().back().startFolder, f.folder().toStdString());
    QVERIFY(f.messages().empty());

    // The real dialog opens there.
    const QString other = f.folder() + QStringLiteral("/other");
    QVERIFY(QDir().mkpath(other));
    QString shown;
    QTimer::singleShot(0, [&shown] {
        if (auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            shown = pDialog->directory().absolutePath();
            pDialog->reject();
        }
    });
    kestro::shell::FileDialogRequest request = r;
    request.startFolder = other.toStdString();
    QVERIFY(!ShowFileDialog(request));
    QCOMPARE(shown, other);
}

void OpenTest::recentFileRules()
{
    ShellFixture f;
    f.start();
    CKestroApp& app = f.app();
    const QString dir = f.folder();
    for (int i = 1; i <= 3; ++i)
        app.AddToRecentList(dir + QStringLiteral("/c%1.avi").arg(i));
    const QStringList three{dir + "/c3.avi", dir + "/c2.avi", dir + "/c1.avi"};
    QCOMPARE(RecentFiles(app), three);

    // The same text again: the order stays.
    app.AddToRecentList(dir + "/c1.avi");
    QCOMPARE(RecentFiles(app), three);
    // The same file named another way moves to the top without a second entry.
    app.AddToRecentList(dir + "/sub/../c1.avi");
    QCOMPARE(RecentFiles(app), (QStringList{dir + "/c1.avi", dir + "/c3.avi", dir + "/c2.avi"}));
    // Letter case makes another file here.
    app.AddToRecentList(dir + "/C2.avi");
    QCOMPARE(RecentFiles(app), (QStringList{dir + "/C2.avi", dir + "/c1.avi", dir + "/c3.avi", dir + "/c2.avi"}));
    // A relative name is stored with its full path.
    const QString oldCwd = QDir::currentPath();
    QDir::setCurrent(dir);
    app.AddToRecentList(QStringLiteral("rel.avi"));
    QDir::setCurrent(oldCwd);
    QCOMPARE(app.GetRecentFile(1), dir + "/rel.avi");
    // Eight at most: the oldest drops off.
    for (int i = 4; i <= 9; ++i)
        app.AddToRecentList(dir + QStringLiteral("/c%1.avi").arg(i));
    QCOMPARE(RecentFiles(app).size(), 8);
    QCOMPARE(app.GetRecentFile(1), dir + "/c9.avi");
    QCOMPARE(app.GetRecentFile(7), dir + "/rel.avi");
    QCOMPARE(app.GetRecentFile(8), dir + "/C2.avi");
    for (const char* dropped : {"/c1.avi", "/c2.avi", "/c3.avi"})
        QVERIFY(!RecentFiles(app).contains(dir + dropped));
    QCOMPARE(app.GetRecentFile(9), QString());
    QCOMPARE(app.GetRecentFile(0), QString());
    app.AddToRecentList(QString()); // an empty slot's text: nothing happens
    QCOMPARE(app.GetRecentFile(1), dir + "/c9.avi");
}

void OpenTest::recentListSurvivesARestart()
{
    ShellFixture f;
    f.start();
    QVERIFY(RecentMenuTexts(f.frame()).isEmpty());
    const QStringList paths{"/data/a&b.avi", "/home/observer/captures/2026-12-09/jupiter-0412.avi"};
    for (const QString& p : paths)
        f.app().AddToRecentList(p);

    f.restart();
    QCOMPARE(RecentFiles(f.app()), (QStringList{paths[1], paths[0]}));
    QCOMPARE(RecentMenuTexts(f.frame()), (QStringList{"&1 /.../jupiter-0412.avi", "&2 /data/a&&b.avi"}));
    for (const QAction* a : f.frame().GetFileMenu()->actions())
        QVERIFY2(a->text() != QStringLiteral("Recent File") || !a->isVisible(), "the placeholder gives way");

    // What is stored: group "Recent File List", File1 the most recent, nothing for empty slots.
    f.restart();
    QSettings settings(QStringLiteral("Tollbeck"), QStringLiteral("Kestro"));
    settings.beginGroup(QStringLiteral("Recent File List"));
    QCOMPARE(settings.childKeys(), (QStringList{"File1", "File2"}));
    QCOMPARE(settings.value("File1").toString(), paths[1]);
    QCOMPARE(settings.value("File2").toString(), paths[0]);
}

void OpenTest::recentEntriesOpenTheirFiles()
{
    ShellFixture f;
    const QString a = f.sample(QStringLiteral("a.avi"), {"--frames", "3", "--dropped", ""});
    const QString b = f.sample(QStringLiteral("b.avi"), {"--frames", "5", "--dropped", ""});
    f.start();
    f.doc().OpenVideoFile(a);
    f.doc().OpenVideoFile(b);
    QCOMPARE(RecentFiles(f.app()), (QStringList{b, a}));

    f.frame().GetCommandActions(ids::ID_FILE_MRU_FIRST + 1).front()->trigger();
    QCOMPARE(f.doc().m_videoSource.GetFileName(), a.toStdString());
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), 3);
    QCOMPARE(RecentFiles(f.app()), (QStringList{b, a})); // already listed: the order stays

    // A file that has gone: one message, the capture open before stays, the entry stays.
    QVERIFY(QFile::remove(b));
    f.frame().GetCommandActions(ids::ID_FILE_MRU_FIRST).front()->trigger();
    QCOMPARE(f.messages().size(), std::size_t(1));
    QCOMPARE(f.doc().m_videoSource.GetFileName(), a.toStdString());
    QCOMPARE(RecentFiles(f.app()), (QStringList{b, a}));
}

void OpenTest::abbreviatedNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("shown");
    QTest::newRow("fits") << "/data/jupiter.avi"
                          << "/data/jupiter.avi";
    QTest::newRow("exactly 30") << "/0123456789/0123456789/abc.avi"
                                << "/0123456789/0123456789/abc.avi";
    QTest::newRow("folders dropped from the front") << "/home/observer/captures/2026/mars/m1.avi"
                                                    << "/.../captures/2026/mars/m1.avi";
    QTest::newRow("no folder fits") << "/home/observer/long-capture-name.avi"
                                    << "/.../long-capture-name.avi";
    QTest::newRow("only the name fits") << "/home/observer/a-very-long-capture-name.avi"
                                        << "a-very-long-capture-name.avi";
    QTest::newRow("name too long") << "/d/saturn-2026-12-09-2315-rings-wide-open.avi"
                                   << "saturn-2026-12...wide-open.avi";
    QTest::newRow("relative") << "captures/2026/mars/long-folder/m1.avi"
                              << ".../mars/long-folder/m1.avi";
}

void OpenTest::abbreviatedNames()
{
    QFETCH(QString, path);
    QFETCH(QString, shown);
    const QString abbreviated = CRecentFileList::AbbreviatePath(path, 30);
    QCOMPARE(abbreviated, shown);
    QVERIFY(abbreviated.size() <= 30);
}

void OpenTest::captureThatEndsEarlySaysSo_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("nRows");
    QTest::addColumn<QString>("said");
    QTest::newRow("cut inside frame 9") << "inside" << 9 << "9 of 20 frames hold data; the file ends early";
    QTest::newRow("cut after frame 9") << "after" << 10 << "10 of 20 frames hold data; the file ends early";
    QTest::newRow("header promises 30") << "header" << 20 << "20 of 30 frames hold data; the file ends early";
    QTest::newRow("whole") << "none" << 20 << "";
}

// A recording cut short: its headers promised more frames than the file holds. It opens with
// the frames there are, and the status bar says so.
void OpenTest::captureThatEndsEarlySaysSo()
{
    QFETCH(QString, damage);
    QFETCH(int, nRows);
    QFETCH(QString, said);
    ShellFixture f;
    const QString capture =
        f.ffmpegCapture(QStringLiteral("short.avi"), {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-frames:v",
                                                      "20", "-c:v", "rawvideo", "-pix_fmt", "yuv420p"});
    const QString whole = f.ffmpegCapture(QStringLiteral("whole.avi"), {"-f", "lavfi", "-i", "testsrc2=size=64x48",
                                                                        "-frames:v", "3", "-c:v", "rawvideo"});
    {
        QFile file(capture);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (damage == QStringLiteral("inside")) {
            QVERIFY(file.resize(ChunkStart(bytes, 9) + 8 + 64 * 48));
        } else if (damage == QStringLiteral("after")) {
            QVERIFY(file.resize(ChunkStart(bytes, 10)));
        } else if (damage == QStringLiteral("header")) {
            // strh's length, 32 bytes into its data, after the stream type and handler.
            const qsizetype strh = bytes.indexOf("strh");
            QVERIFY(strh > 0);
            const char thirty[4] = {30, 0, 0, 0};
            bytes.replace(strh + 8 + 32, 4, QByteArray(thirty, 4));
            QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
        }
    }
    f.start();
    f.doc().OpenVideoFile(capture);
    QVERIFY(f.messages().empty());
    QCOMPARE(f.frame().GetFrameList()->model()->rowCount(), nRows);
    CStatusBar& bar = f.frame().GetStatusBar();
    QCOMPARE(bar.GetCaptureNote(), said);
    QCOMPARE(bar.findChild<QWidget*>(QStringLiteral("capturePane"))->isVisible(), !said.isEmpty());

    // Another capture, whole, takes the note away.
    f.doc().OpenVideoFile(whole);
    QCOMPARE(bar.GetCaptureNote(), QString());
}

QTEST_MAIN(OpenTest)
#include "open_test.moc"
