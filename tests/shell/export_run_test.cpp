// Exports run in the background: the window repaints and takes clicks meanwhile, Cancel and Esc
// stop them without leaving an unfinished file, closing the window stops and waits for them, the
// commands that would disturb them are grey until they end, and the status bar says afterwards
// what was written.
#include "shell_fixture.h"

#include "export_gate.h"
#include "frame_list_model.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "progress_bar.h"
#include "resource_ids.h"
#include "status_bar.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QUrl>

namespace {

QStringList FilesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

QStringList Temporaries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
}

// The commands an export greys while it runs.
const int kLockedCommands[] = {ids::ID_FILE_OPEN,         ids::ID_FILE_SAVE,     ids::ID_FILE_SAVE_AS,
                               ids::ID_SAVE_RGB_CHANNELS, ids::ID_TOOLBAR_RGB,   ids::ID_EXPORT_FITS,
                               ids::ID_CHECK_BEST,        ids::ID_FILE_MRU_FIRST};

bool CommandEnabled(ShellFixture& f, int nId)
{
    const QList<QAction*> actions = f.frame().GetCommandActions(nId);
    return !actions.isEmpty() && std::all_of(actions.begin(), actions.end(), [](QAction* a) { return a->isEnabled(); });
}

bool CommandDisabled(ShellFixture& f, int nId)
{
    const QList<QAction*> actions = f.frame().GetCommandActions(nId);
    return !actions.isEmpty() &&
           std::none_of(actions.begin(), actions.end(), [](QAction* a) { return a->isEnabled(); });
}

// Whether the frame view shows frame n of the capture, as a video source of its own draws it.
bool ShowsFrame(ShellFixture& f, const QString& capture, int n)
{
    const QImage expected = ShellFixture::framePicture(capture, n);
    const QImage drawn = ShellFixture::grab(*f.frame().GetFrameView());
    return drawn.copy(0, 0, expected.width(), expected.height()) == expected;
}

enum class Stop { Button, EscInList, EscInView };

} // namespace

class ExportRunTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cancelStopsTheExportWhileTheWindowWorks_data();
    void cancelStopsTheExportWhileTheWindowWorks();
    void closingTheWindowStopsTheExportAndWaits_data();
    void closingTheWindowStopsTheExportAndWaits();
    void displayControlsChangeThePictureNotTheExport();
    void statusBarSaysWhatWasWritten_data();
    void statusBarSaysWhatWasWritten();
    void framesLeftOutAreCountedInTheStatusBar();
};

void ExportRunTest::init()
{
    if (!kestro::test::haveTool("ffprobe"))
        QSKIP("ffprobe reads what the exports write");
}

void ExportRunTest::cancelStopsTheExportWhileTheWindowWorks_data()
{
    QTest::addColumn<Stop>("how");
    QTest::addColumn<bool>("bBmp");
    QTest::newRow("Cancel button, AVI") << Stop::Button << false;
    QTest::newRow("Esc in the list, AVI") << Stop::EscInList << false;
    QTest::newRow("Esc in the picture, BMP series") << Stop::EscInView << true;
}

void ExportRunTest::cancelStopsTheExportWhileTheWindowWorks()
{
    QFETCH(Stop, how);
    QFETCH(bool, bBmp);
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("run.avi"), {"--width", "64", "--height", "48", "--frames", "12", "--dropped", "none"});
    const QString other = f.sample(QStringLiteral("other.avi"), {"--width", "32", "--height", "16", "--frames", "2"});
    f.start();
    CMainFrame& frame = f.frame();
    frame.resize(1100, 760);
    QTRY_COMPARE(frame.width(), 1100);
    f.doc().OpenVideoFile(capture);
    CStatusBar& statusBar = frame.GetStatusBar();
    QAbstractButton& cancel = *statusBar.GetCancelButton();
    QVERIFY(cancel.isHidden());
    const int nBarHeight = statusBar.height();

    ExportGate gate(f, 3);
    const QString out = f.folder() + (bBmp ? QStringLiteral("/out.bmp") : QStringLiteral("/out.avi"));
    f.dialogs().answer(out.toStdString());
    f.command(ids::ID_FILE_SAVE);
    QVERIFY(gate.waitUntilReached());

    // The export runs: its bar has reached the frame the worker is at, the Cancel button stands
    // beside it, and nothing has widened the window or made the status bar jump.
    QVERIFY(f.doc().IsExporting());
    QVERIFY(g_pProgressBar != nullptr);
    QTRY_COMPARE(g_pProgressBar->GetControl()->value(), 4);
    QCOMPARE(statusBar.GetPaneText(0), QStringLiteral("Saving AVI Frames"));
    QVERIFY(cancel.isVisible() && cancel.isEnabled());
    // Beside the bar: right after the pane the bar fills to its right edge.
    const QRect barRect = g_pProgressBar->GetControl()->geometry();
    QCOMPARE(barRect.right(), statusBar.GetItemRect(0).right());
    QVERIFY(cancel.geometry().left() > barRect.right() && cancel.geometry().left() - barRect.right() < 16);
    QCOMPARE(frame.width(), 1100);
    QCOMPARE(statusBar.height(), nBarHeight);
    for (const int nId : kLockedCommands)
        QVERIFY2(CommandDisabled(f, nId), qPrintable(QString::number(nId)));

    // The window goes on working: another frame is shown, a prompt leaves the export's message
    // alone, and neither a drop nor an open reaches the capture.
    f.frame().GetFrameList()->GoToRow(7);
    QTRY_VERIFY(ShowsFrame(f, capture, 7));
    QStatusTipEvent tip(QStringLiteral("Open an existing document"));
    QCoreApplication::sendEvent(&frame, &tip);
    QCOMPARE(statusBar.GetPaneText(0), QStringLiteral("Saving AVI Frames"));
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(other)});
    QDragEnterEvent drag(QPoint(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame.GetFrameList()->viewport(), &drag);
    QVERIFY(!drag.isAccepted());
    f.doc().OpenVideoFile(other);
    QCOMPARE(f.messages().size(), std::size_t(1));
    QCOMPARE(f.messages().front().caption, std::string("Export running"));
    QCOMPARE(f.doc().m_videoSource.GetFileName(), capture.toStdString());
    f.clearMessages();

    switch (how) {
    case Stop::Button: QTest::mouseClick(&cancel, Qt::LeftButton); break;
    case Stop::EscInList: QTest::keyClick(frame.GetFrameList(), Qt::Key_Escape); break;
    case Stop::EscInView: QTest::keyClick(frame.GetFrameView(), Qt::Key_Escape); break;
    }
    // Pressed, it has done its work; the export stops at its next frame.
    QVERIFY(!cancel.isEnabled());
    QVERIFY(f.waitForExport());

    // Told once that it stopped and left nothing unfinished; what was finished stays.
    QCOMPARE(f.messages().size(), std::size_t(1));
    QCOMPARE(f.messages().front().caption, std::string("Stopped"));
    QVERIFY(f.messages().front().text.find("Stopped before frame 4") != std::string::npos);
    QVERIFY(f.messages().front().text.find("no unfinished file was left") != std::string::npos);
    QCOMPARE(Temporaries(f.folder()), QStringList());
    if (bBmp) {
        QCOMPARE(FilesIn(f.folder()).filter(QStringLiteral("out_")),
                 (QStringList{"out_0000.bmp", "out_0001.bmp", "out_0002.bmp", "out_0003.bmp"}));
        QCOMPARE(statusBar.GetPaneText(0),
                 QStringLiteral("Stopped: 4 frames saved as out_0000.bmp \u2026 out_0003.bmp"));
    } else {
        QVERIFY(!QFile::exists(out));
        QCOMPARE(statusBar.GetPaneText(0), QStringLiteral("Ready"));
    }

    // The window is back as before the export, on the frame chosen meanwhile.
    for (const int nId : kLockedCommands)
        QVERIFY2(CommandEnabled(f, nId), qPrintable(QString::number(nId)));
    QVERIFY(cancel.isHidden());
    QVERIFY(!f.frame().GetCommandActions(ids::ID_EXPORT_CANCEL).front()->isEnabled());
    QCOMPARE(g_pProgressBar, nullptr);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(f.doc().GetCurrentRow(), 7);
    QVERIFY(ShowsFrame(f, capture, 7));
}

void ExportRunTest::closingTheWindowStopsTheExportAndWaits_data()
{
    QTest::addColumn<bool>("bProgramEnds");
    QTest::newRow("window closed") << false;
    QTest::newRow("program ends") << true;
}

void ExportRunTest::closingTheWindowStopsTheExportAndWaits()
{
    QFETCH(bool, bProgramEnds);
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("close.avi"),
                                     {"--width", "64", "--height", "48", "--frames", "12", "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    const QString out = f.folder() + QStringLiteral("/close_rgb.avi");
    {
        ExportGate gate(f, 3);
        f.dialogs().answer(out.toStdString());
        f.command(ids::ID_FILE_SAVE);
        QVERIFY(gate.waitUntilReached());
        if (bProgramEnds) {
            f.restart();
        } else {
            f.frame().close();
            QVERIFY(!f.frame().isVisible());
            QVERIFY(!f.doc().IsExporting());
        }
    }
    // Stopped and waited for: no file, no temporary one, and no message about it.
    QVERIFY(!QFile::exists(out));
    QCOMPARE(Temporaries(f.folder()), QStringList());
    QVERIFY(f.messages().empty());
    QCOMPARE(g_pProgressBar, nullptr);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

// The worker renders with the settings the window had when the export started: a display control
// changed meanwhile changes the picture on show, not the frames written. The controls stay usable.
void ExportRunTest::displayControlsChangeThePictureNotTheExport()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("mode.avi"), {"--width", "64", "--height", "48", "--frames", "8", "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    QTest::mouseClick(&f.button(ids::IDC_DISPLAY_RAW_Y), Qt::LeftButton);
    const QString out = f.folder() + QStringLiteral("/mode_rlum.avi");
    ExportGate gate(f, 2);
    f.dialogs().answer(out.toStdString());
    f.command(ids::ID_FILE_SAVE);
    QVERIFY(gate.waitUntilReached());
    for (const int nId : {ids::IDC_DISPLAY_NORMAL, ids::IDC_PATTERN_RG, ids::IDC_GRAYSCALE})
        QVERIFY(f.button(nId).isEnabled());
    QTest::mouseClick(&f.button(ids::IDC_DISPLAY_NORMAL), Qt::LeftButton);
    QTRY_VERIFY(ShowsFrame(f, capture, 0));
    gate.release();
    QVERIFY(f.waitForExport());
    QVERIFY(f.messages().empty());
    // Eight grey frames with their palette, as RAW Y-channel writes them, not 24-bit Normal ones.
    QCOMPARE(kestro::test::probe(out.toStdString(), "pix_fmt"), std::string("pal8"));
    QCOMPARE(kestro::test::probe(out.toStdString(), "nb_read_frames", true), std::string("8"));
    QVERIFY(f.button(ids::IDC_DISPLAY_NORMAL).isChecked());
}

void ExportRunTest::statusBarSaysWhatWasWritten_data()
{
    QTest::addColumn<int>("nCommand");
    QTest::addColumn<QString>("name"); // the save dialog's answer, or for FITS the prefix
    QTest::addColumn<int>("nBlock");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QString>("said");

    const QList<int> ten{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    QTest::newRow("AVI") << ids::ID_FILE_SAVE << "x_rlum.avi" << 0 << ten << "10 frames saved to x_rlum.avi";
    QTest::newRow("BMP series") << ids::ID_FILE_SAVE_AS << "x.bmp" << 0 << ten
                                << "10 frames saved as x_0000.bmp \u2026 x_0009.bmp";
    QTest::newRow("one BMP file") << ids::ID_FILE_SAVE_AS << "x.bmp" << 0 << QList<int>{4}
                                  << "1 frame saved as x_0000.bmp";
    QTest::newRow("RGB channels") << ids::ID_SAVE_RGB_CHANNELS << "x.avi" << 0 << ten
                                  << "10 frames saved to x_b.avi, x_g.avi and x_r.avi";
    QTest::newRow("FITS, two files") << ids::ID_EXPORT_FITS << "m42" << 5 << ten
                                     << "10 frames summed into 2 files, m42_0000.fit and m42_0001.fit";
    QTest::newRow("FITS, three files") << ids::ID_EXPORT_FITS << "m42" << 4 << ten
                                       << "10 frames summed into 3 files, m42_0000.fit \u2026 m42_0002.fit";
    QTest::newRow("FITS, one file") << ids::ID_EXPORT_FITS << "m42" << 10 << ten
                                    << "10 frames summed into m42_0000.fit";
    const QString longName = QStringLiteral("a-long-name-").repeated(18);
    QTest::newRow("a name longer than the window")
        << ids::ID_FILE_SAVE << longName + ".avi" << 0 << ten << "10 frames saved to " + longName + ".avi";
}

void ExportRunTest::statusBarSaysWhatWasWritten()
{
    QFETCH(int, nCommand);
    QFETCH(QString, name);
    QFETCH(int, nBlock);
    QFETCH(QList<int>, ticked);
    QFETCH(QString, said);
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("said.avi"),
                                     {"--width", "32", "--height", "16", "--frames", "12", "--dropped", "none"});
    f.start();
    CMainFrame& frame = f.frame();
    frame.resize(1100, 760);
    QTRY_COMPARE(frame.width(), 1100);
    f.doc().OpenVideoFile(capture);
    CFrameListModel& rows = frame.GetFrameList()->GetModel();
    for (int i = 0; i < rows.rowCount(); ++i)
        rows.SetTicked(i, ticked.contains(i));
    if (nCommand == ids::ID_EXPORT_FITS)
        f.dialogs().answerFits(kestro::shell::FitsExportRequest{static_cast<std::uint32_t>(nBlock), name.toStdString(),
                                                                f.folder().toStdString() + "/"});
    else
        f.dialogs().answer((f.folder() + "/" + name).toStdString());
    f.command(nCommand);
    QVERIFY(f.waitForExport());
    QVERIFY(f.messages().empty());
    CStatusBar& statusBar = frame.GetStatusBar();
    QCOMPARE(statusBar.GetPaneText(0), said);
    // A long text is cut short in the pane, whole in its tooltip, and never widens the window.
    QTest::qWait(20);
    QCOMPARE(frame.width(), 1100);
    QCOMPARE(statusBar.GetPane(0)->toolTip(), said.size() > 100 ? said : QString());
    // A prompt shown meanwhile gives the pane back to it when the pointer leaves.
    QStatusTipEvent prompt(QStringLiteral("Open an existing document")), leave{QString()};
    QCoreApplication::sendEvent(&frame, &prompt);
    QCoreApplication::sendEvent(&frame, &leave);
    QCOMPARE(statusBar.GetPaneText(0), said);
}

// Frames that cannot be read are counted in the status bar as well as in the one message.
void ExportRunTest::framesLeftOutAreCountedInTheStatusBar()
{
    ShellFixture f;
    const QString capture =
        f.ffmpegCapture(QStringLiteral("cut.avi"), {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-frames:v",
                                                    "8", "-c:v", "rawvideo", "-pix_fmt", "yuv420p"});
    ShellFixture::setIndexedSize(capture, 3, 100);
    ShellFixture::setIndexedSize(capture, 5, 100);
    f.start();
    f.doc().OpenVideoFile(capture);
    QTest::mouseClick(&f.button(ids::IDC_DISPLAY_RAW_Y), Qt::LeftButton);
    QTest::qWait(0);
    f.clearMessages();
    f.dialogs().answer((f.folder() + "/cut_rlum.avi").toStdString());
    f.command(ids::ID_FILE_SAVE);
    QVERIFY(f.waitForExport());
    QCOMPARE(f.messages().size(), std::size_t(1));
    QCOMPARE(f.messages().front().caption, std::string("Frames left out"));
    QCOMPARE(f.frame().GetStatusBar().GetPaneText(0),
             QStringLiteral("6 frames saved to cut_rlum.avi; 2 frames left out"));
}

QTEST_MAIN(ExportRunTest)
#include "export_run_test.moc"
