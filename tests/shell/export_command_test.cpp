// The export commands end to end through the seams: the names the save dialog proposes, a
// cancelled dialog, the progress bar, the ticked frames written from either pane, and one message
// after the bar and the wait cursor are gone when an export fails.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "progress_bar.h"
#include "resource_ids.h"
#include "status_bar.h"
#include "test_support.h"

#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QProgressBar>
#include <QTest>

namespace {

using kestro::shell::FileDialogRequest;

// Notes every progress control the status bar gets and counts the values it shows.
class ProgressWatch : public QObject {
public:
    explicit ProgressWatch(QWidget* pStatusBar) { pStatusBar->installEventFilter(this); }
    int nBars = 0;
    QList<int> values;
    QPointer<QProgressBar> pLast;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        // Polished when first shown, by then a whole progress bar (when it is added it is not yet).
        if (pEvent->type() == QEvent::ChildPolished) {
            if (auto* pBar = qobject_cast<QProgressBar*>(static_cast<QChildEvent*>(pEvent)->child())) {
                ++nBars;
                pLast = pBar;
                connect(pBar, &QProgressBar::valueChanged, this, [this](int n) { values << n; });
            }
        }
        return false;
    }
};

QStringList FilesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

std::string FrameCount(const QString& path) { return kestro::test::probe(path.toStdString(), "nb_read_frames", true); }

} // namespace

class ExportCommandTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void saveProposesANameForTheDisplayMode();
    void cancelWritesNothingAndShowsNoBar();
    void progressStepsOncePerSourceFrameAndGoesAway();
    void exportsWriteTheTickedFramesFromEitherPane();
    void aFailureIsToldOnceAfterTheBarIsGone();
    void fitsExportProposesTheCapturesFolderAndSumsTheTickedFrames();
};

void ExportCommandTest::init()
{
    if (!kestro::test::haveTool("ffprobe"))
        QSKIP("ffprobe reads what the exports write");
}

void ExportCommandTest::saveProposesANameForTheDisplayMode()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("m42.avi"), {"--width", "64", "--height", "48", "--frames", "3"});
    f.start();
    f.doc().OpenVideoFile(capture);
    struct Case {
        int nMode;
        std::int32_t nAlgorithm;
        const char* save;
        const char* rgb;
    };
    const Case cases[] = {
        {ids::IDC_DISPLAY_NORMAL, 11, "m42_rgb", "m42_rgb"},
        {ids::IDC_DISPLAY_RAW_Y, 11, "m42_rlum", "m42_raw"},
        {ids::IDC_DISPLAY_RAW_COLOUR, 11, "m42_rcol11", "m42_raw"},
        {ids::IDC_DISPLAY_RAW_COLOUR, 5, "m42_rcol05", "m42_raw"},
    };
    for (const Case& c : cases) {
        f.command(c.nMode);
        f.doc().m_videoSource.m_converter.SetAlgorithm(c.nAlgorithm);
        f.command(ids::ID_FILE_SAVE);
        f.command(ids::ID_SAVE_RGB_CHANNELS);
        const std::vector<FileDialogRequest>& asked = f.dialogs().fileRequests();
        QVERIFY(asked.size() >= 2);
        FileDialogRequest save;
        save.mode = kestro::shell::FileDialogMode::Save;
        save.defaultExtension = "avi";
        save.fileName = c.save;
        save.startFolder = f.folder().toStdString(); // the capture's
        save.filter =
            "One AVI File (*.avi)|*.avi|BMP Files (*.bmp)|*.bmp|SER capture (*.ser)|*.ser|All Files (*.*)|*.*||";
        save.confirmOverwrite = true;
        QVERIFY(asked[asked.size() - 2] == save);
        FileDialogRequest rgb = save;
        rgb.fileName = c.rgb;
        rgb.filter = "3 AVI Files (*.avi)|*.avi|All Files (*.*)|*.*||";
        rgb.confirmOverwrite = false;
        QVERIFY(asked.back() == rgb);
    }
    QVERIFY(f.messages().empty());
}

void ExportCommandTest::cancelWritesNothingAndShowsNoBar()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("cancel.avi"), {"--width", "64", "--height", "48", "--frames", "4"});
    f.start();
    f.doc().OpenVideoFile(capture);
    ProgressWatch watch(&f.frame().GetStatusBar());
    const QStringList before = FilesIn(f.folder());
    for (int nId : {ids::ID_FILE_SAVE, ids::ID_FILE_SAVE_AS, ids::ID_SAVE_RGB_CHANNELS, ids::ID_TOOLBAR_RGB})
        f.command(nId); // the script has no answer: every dialog is cancelled
    QCOMPARE(f.dialogs().fileRequests().size(), std::size_t(4));
    QCOMPARE(watch.nBars, 0);
    QCOMPARE(FilesIn(f.folder()), before);
    QVERIFY(f.messages().empty());
}

void ExportCommandTest::progressStepsOncePerSourceFrameAndGoesAway()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("steps.avi"), {"--width", "64", "--height", "48", "--frames", "9", "--dropped", "3"});
    f.start();
    f.doc().OpenVideoFile(capture);
    f.frame().GetFrameList()->GetModel().SetTicked(5, false);
    ProgressWatch watch(&f.frame().GetStatusBar());
    const QString out = f.folder() + QStringLiteral("/steps_rgb.avi");
    f.dialogs().answer(out.toStdString());
    f.command(ids::ID_FILE_SAVE);
    QVERIFY(f.waitForExport());
    QCOMPARE(watch.nBars, 1);
    // One step per frame, ticked, unticked and dropped alike (after the range has set it to 0).
    QCOMPARE(watch.values, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    QVERIFY(watch.pLast.isNull());
    QCOMPARE(g_pProgressBar, nullptr);
    // The pane has its text back, and says for a while what was written.
    QCOMPARE(f.frame().GetStatusBar().GetPaneText(0), QStringLiteral("7 frames saved to steps_rgb.avi"));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    QCOMPARE(FrameCount(out), std::string("7"));
    QVERIFY(f.messages().empty());
}

void ExportCommandTest::exportsWriteTheTickedFramesFromEitherPane()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("panes.avi"), {"--width", "64", "--height", "48", "--frames", "6", "--dropped", "4"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CFrameListModel& rows = f.frame().GetFrameList()->GetModel();
    rows.SetTicked(1, false);
    rows.SetTicked(3, false); // frames 0, 2 and 5 stay ticked (4 holds no data)
    for (QWidget* pPane :
         {static_cast<QWidget*>(f.frame().GetFrameView()), static_cast<QWidget*>(f.frame().GetFrameList())}) {
        pPane->setFocus(Qt::MouseFocusReason);
        const QString tag = pPane == f.frame().GetFrameList() ? QStringLiteral("list") : QStringLiteral("view");
        const QString avi = f.folder() + "/" + tag + ".AVI";
        const QString bmp = f.folder() + "/" + tag + ".bmp";
        const QString rgb = f.folder() + "/" + tag + "-rgb.avi";
        f.dialogs().answer(avi.toStdString());
        f.command(ids::ID_FILE_SAVE);
        QVERIFY(f.waitForExport());
        QCOMPARE(FrameCount(avi), std::string("3"));
        f.dialogs().answer(bmp.toStdString());
        f.command(ids::ID_FILE_SAVE_AS);
        QVERIFY(f.waitForExport());
        QVERIFY(FilesIn(f.folder()).contains(tag + "_0002.bmp"));
        QVERIFY(!FilesIn(f.folder()).contains(tag + "_0003.bmp"));
        f.dialogs().answer(rgb.toStdString());
        f.command(ids::ID_TOOLBAR_RGB);
        QVERIFY(f.waitForExport());
        for (const char* channel : {"_b", "_g", "_r"})
            QCOMPARE(FrameCount(f.folder() + "/" + tag + "-rgb" + channel + ".avi"), std::string("3"));
    }
    QVERIFY(f.messages().empty());
}

void ExportCommandTest::aFailureIsToldOnceAfterTheBarIsGone()
{
    ShellFixture f;
    const QString capture = f.sample(QStringLiteral("fail.avi"), {"--width", "64", "--height", "48", "--frames", "3"});
    f.start();
    f.doc().OpenVideoFile(capture);
    struct Seen {
        kestro::ui::Message message;
        bool bBar;
        bool bWaitCursor;
    };
    std::vector<Seen> seen;
    const kestro::ui::MessageHandler previous = kestro::ui::setMessageHandler([&](const kestro::ui::Message& m) {
        seen.push_back({m, g_pProgressBar != nullptr, QGuiApplication::overrideCursor() != nullptr});
        return kestro::ui::Answer::Ok;
    });
    const QString target = f.folder() + QStringLiteral("/missing/out.avi");
    f.dialogs().answer(target.toStdString());
    f.command(ids::ID_FILE_SAVE);
    QVERIFY(f.waitForExport());
    kestro::ui::setMessageHandler(previous);
    QCOMPARE(seen.size(), std::size_t(1));
    QCOMPARE(seen[0].message.caption, std::string("AVIFileOpen"));
    QVERIFY(seen[0].message.text.find(target.toStdString()) != std::string::npos);
    QVERIFY(!seen[0].bBar);
    QVERIFY(!seen[0].bWaitCursor);
}

void ExportCommandTest::fitsExportProposesTheCapturesFolderAndSumsTheTickedFrames()
{
    ShellFixture f;
    const QString capture =
        f.sample(QStringLiteral("m42.avi"), {"--width", "16", "--height", "8", "--frames", "8", "--dropped", "4"});
    f.start();
    f.doc().OpenVideoFile(capture);
    f.frame().GetFrameList()->GetModel().SetTicked(1, false); // frames 0, 2, 3, 5, 6, 7 stay ticked
    QVERIFY(QDir(f.folder()).mkdir(QStringLiteral("sums")));

    // Cancelled: nothing is written and no bar is shown.
    ProgressWatch watch(&f.frame().GetStatusBar());
    f.command(ids::ID_EXPORT_FITS);
    QCOMPARE(watch.nBars, 0);
    kestro::shell::FitsExportRequest proposed;
    proposed.blockSize = 1;
    proposed.prefix = "m42";
    proposed.folder = f.folder().toStdString() + "/";
    QVERIFY(f.dialogs().fitsRequests() == std::vector<kestro::shell::FitsExportRequest>{proposed});

    // A folder without its separator still receives the files.
    kestro::shell::FitsExportRequest answer = proposed;
    answer.blockSize = 4;
    answer.prefix = "jup.lum";
    answer.folder = f.folder().toStdString() + "/sums";
    f.dialogs().answerFits(answer);
    f.command(ids::ID_EXPORT_FITS);
    QVERIFY(f.waitForExport());
    QCOMPARE(watch.nBars, 1);
    QCOMPARE(watch.values.size(), 9); // the range's 0, then one step per frame
    QCOMPARE(FilesIn(f.folder() + "/sums"), (QStringList{"jup_0000.lum.fit", "jup_0001.lum.fit"}));
    QVERIFY(f.messages().empty());
    QCOMPARE(f.frame().GetStatusBar().GetPaneText(0),
             QStringLiteral("6 frames summed into 2 files, jup_0000.lum.fit and jup_0001.lum.fit"));
}

QTEST_MAIN(ExportCommandTest)
#include "export_command_test.moc"
