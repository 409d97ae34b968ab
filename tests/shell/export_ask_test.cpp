// What the window checks and asks before an export writes: an output that is the capture itself
// (under any name) is refused at once; files of the export's names are replaced only when the user
// says so, once for all of them; old files of an earlier, longer series are named and removed only
// when asked and only after the export completed; temporary files a stopped export left are named
// once and kept.
#include "shell_fixture.h"

#include "export_gate.h"
#include "frame_list_model.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "main_frame.h"
#include "resource_ids.h"
#include "status_bar.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTest>

#include <unistd.h>

namespace {

using kestro::ui::Answer;
using kestro::ui::Message;

QStringList FilesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("%s cannot be written", qPrintable(path));
}

// Records every message and answers questions as told; everything else with OK.
class Answering {
public:
    explicit Answering(Answer answer)
        : m_answering(kestro::ui::messageSeam(), [this, answer](const Message& m) {
              messages.push_back(m);
              return m.icon == kestro::ui::Icon::Question ? answer : kestro::ui::cautiousAnswer(m.buttons);
          })
    {
    }

    std::vector<Message> messages;

private:
    kestro::ui::MessageSeam::Override m_answering;
};

// Counts the progress bars the status bar gets: none means the export never began.
class BarCount : public QObject {
public:
    explicit BarCount(QWidget* pStatusBar) { pStatusBar->installEventFilter(this); }
    int nBars = 0;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::ChildAdded &&
            qobject_cast<QProgressBar*>(static_cast<QChildEvent*>(pEvent)->child()) != nullptr)
            ++nBars;
        return false;
    }
};

// Starts the window on a capture of 12 frames holding data, the first nTicked of them ticked.
QString StartWithCapture(ShellFixture& f, int nTicked)
{
    const QString capture =
        f.sample(QStringLiteral("cap.avi"), {"--width", "32", "--height", "16", "--frames", "12", "--dropped", "none"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CFrameListModel& rows = f.frame().GetFrameList()->GetModel();
    for (int i = 0; i < rows.rowCount(); ++i)
        rows.SetTicked(i, i < nTicked);
    return capture;
}

// Runs an export command answering its dialog: a path for the save dialogs, a prefix in the
// test's folder for FITS (block size nBlock).
void Export(ShellFixture& f, int nCommand, const QString& answer, std::uint32_t nBlock = 1)
{
    if (nCommand == ids::ID_EXPORT_FITS)
        f.dialogs().answerFits(
            kestro::shell::FitsExportRequest{nBlock, answer.toStdString(), f.folder().toStdString() + "/"});
    else
        f.dialogs().answer((f.folder() + "/" + answer).toStdString());
    f.command(nCommand);
}

} // namespace

class ExportAskTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void refusalsComeRightAfterTheDialog_data();
    void refusalsComeRightAfterTheDialog();
    void numberedOutputsAskOnceBeforeReplacing_data();
    void numberedOutputsAskOnceBeforeReplacing();
    void olderFilesOfALongerSeriesAreRemovedOnlyWhenAsked_data();
    void olderFilesOfALongerSeriesAreRemovedOnlyWhenAsked();
    void olderFilesStayWhenTheExportDoesNotComplete();
    void aFileThatCannotBeRemovedIsToldOnce();
    void leftoverTemporariesAreNamedOnceAndKept();
};

void ExportAskTest::init()
{
    if (!kestro::test::haveTool("ffprobe"))
        QSKIP("ffprobe reads what the exports write");
}

void ExportAskTest::refusalsComeRightAfterTheDialog_data()
{
    QTest::addColumn<int>("nCommand");
    QTest::addColumn<QString>("answer"); // the dialog's answer; "CAPTURE" is the capture itself
    QTest::addColumn<QString>("link");   // made before the export, to the capture
    QTest::addColumn<bool>("bSymbolic"); // the link is symbolic, not hard
    QTest::addColumn<int>("nTicked");
    QTest::addColumn<QString>("caption"); // of the one message
    QTest::addColumn<QString>("named");   // file the message names

    QTest::newRow("the capture's own path") << ids::ID_FILE_SAVE << "CAPTURE"
                                            << "" << false << 12 << "Output is the capture"
                                            << "cap.avi";
    QTest::newRow("a hard link to it") << ids::ID_FILE_SAVE << "hard.avi"
                                       << "hard.avi" << false << 12 << "Output is the capture"
                                       << "hard.avi";
    QTest::newRow("a symbolic link to it") << ids::ID_FILE_SAVE << "soft.avi"
                                           << "soft.avi" << true << 12 << "Output is the capture"
                                           << "soft.avi";
    // The file exists, so the replace question would come; the refusal comes first.
    QTest::newRow("a link among the BMP files") << ids::ID_FILE_SAVE_AS << "out.bmp"
                                                << "out_0003.bmp" << true << 12 << "Output is the capture"
                                                << "out_0003.bmp";
    QTest::newRow("a link as an RGB channel file") << ids::ID_SAVE_RGB_CHANNELS << "out.avi"
                                                   << "out_g.avi" << false << 12 << "Output is the capture"
                                                   << "out_g.avi";
    QTest::newRow("a link as a FITS file") << ids::ID_EXPORT_FITS << "m42"
                                           << "m42_0000.fit" << true << 12 << "Output is the capture"
                                           << "m42_0000.fit";
    QTest::newRow("nothing ticked") << ids::ID_FILE_SAVE << "none.avi"
                                    << "" << false << 0 << "Nothing to export"
                                    << "cap.avi";
}

void ExportAskTest::refusalsComeRightAfterTheDialog()
{
    QFETCH(int, nCommand);
    QFETCH(QString, answer);
    QFETCH(QString, link);
    QFETCH(bool, bSymbolic);
    QFETCH(int, nTicked);
    QFETCH(QString, caption);
    QFETCH(QString, named);
    ShellFixture f;
    const QString capture = StartWithCapture(f, nTicked);
    const QByteArray bytes = Read(capture);
    if (!link.isEmpty()) {
        const QByteArray target = capture.toLocal8Bit(), made = (f.folder() + "/" + link).toLocal8Bit();
        QCOMPARE(bSymbolic ? ::symlink(target.constData(), made.constData())
                           : ::link(target.constData(), made.constData()),
                 0);
    }
    const QStringList before = FilesIn(f.folder());
    BarCount bars(&f.frame().GetStatusBar());
    Answering answering(Answer::Yes);
    Export(f, nCommand, answer == "CAPTURE" ? QStringLiteral("cap.avi") : answer);

    // One message, naming the file, before any question or progress bar; nothing written.
    QCOMPARE(answering.messages.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(answering.messages.front().caption), caption);
    QVERIFY2(QString::fromStdString(answering.messages.front().text).contains(named),
             answering.messages.front().text.c_str());
    QVERIFY(!f.doc().IsExporting());
    QCOMPARE(bars.nBars, 0);
    QCOMPARE(FilesIn(f.folder()), before);
    QCOMPARE(Read(capture), bytes);
}

void ExportAskTest::numberedOutputsAskOnceBeforeReplacing_data()
{
    QTest::addColumn<int>("nCommand");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("existing"); // files there before, each "old"
    QTest::addColumn<QStringList>("written");  // every file the export writes
    QTest::addColumn<QString>("question");     // with %1 for the folder; empty: none asked

    const QStringList bmp{"x_0000.bmp", "x_0001.bmp", "x_0002.bmp", "x_0003.bmp", "x_0004.bmp"};
    const QStringList fits{"m_0000.fit", "m_0001.fit", "m_0002.fit", "m_0003.fit", "m_0004.fit"};
    const QStringList rgb{"x_b.avi", "x_g.avi", "x_r.avi"};
    QTest::newRow("BMP series") << ids::ID_FILE_SAVE_AS << "x.bmp" << bmp << bmp
                                << "5 files named x_0000.bmp \u2026 x_0004.bmp exist in %1. Replace them?";
    QTest::newRow("one BMP file of the series") << ids::ID_FILE_SAVE_AS << "x.bmp" << QStringList{"x_0002.bmp"} << bmp
                                                << "x_0002.bmp exists in %1. Replace it?";
    QTest::newRow("FITS files") << ids::ID_EXPORT_FITS << "m" << fits << fits
                                << "5 files named m_0000.fit \u2026 m_0004.fit exist in %1. Replace them?";
    QTest::newRow("RGB channel files") << ids::ID_SAVE_RGB_CHANNELS << "x.avi" << rgb << rgb
                                       << "x_b.avi, x_g.avi and x_r.avi exist in %1. Replace them?";
    QTest::newRow("two RGB channel files") << ids::ID_SAVE_RGB_CHANNELS << "x.avi" << QStringList{"x_b.avi", "x_r.avi"}
                                           << rgb << "x_b.avi and x_r.avi exist in %1. Replace them?";
    // The save dialog asked about it already.
    QTest::newRow("one AVI file") << ids::ID_FILE_SAVE << "x.avi" << QStringList{"x.avi"} << QStringList{"x.avi"} << "";
}

void ExportAskTest::numberedOutputsAskOnceBeforeReplacing()
{
    QFETCH(int, nCommand);
    QFETCH(QString, answer);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, written);
    QFETCH(QString, question);
    for (const Answer reply : {Answer::No, Answer::Yes}) {
        ShellFixture f;
        StartWithCapture(f, 5);
        for (const QString& name : existing)
            Write(f.folder() + "/" + name, "old");
        const QStringList before = FilesIn(f.folder());
        Answering answering(reply);
        Export(f, nCommand, answer);
        QVERIFY(f.waitForExport());

        if (question.isEmpty()) {
            QVERIFY(answering.messages.empty());
        } else {
            QCOMPARE(answering.messages.size(), std::size_t(1));
            const Message& asked = answering.messages.front();
            QCOMPARE(QString::fromStdString(asked.text), question.arg(f.folder()));
            QCOMPARE(asked.caption, std::string("Replace files"));
            QCOMPARE(asked.buttons, kestro::ui::Buttons::YesNo);
        }
        const bool bWritten = reply == Answer::Yes || question.isEmpty();
        if (!bWritten) {
            // No writes nothing: the old files as they were, and no new ones.
            QCOMPARE(FilesIn(f.folder()), before);
            for (const QString& name : existing)
                QCOMPARE(Read(f.folder() + "/" + name), QByteArray("old"));
            continue;
        }
        for (const QString& name : written) {
            QVERIFY2(QFile::exists(f.folder() + "/" + name), qPrintable(name));
            QVERIFY2(Read(f.folder() + "/" + name) != "old", qPrintable(name));
        }
    }
}

void ExportAskTest::olderFilesOfALongerSeriesAreRemovedOnlyWhenAsked_data()
{
    QTest::addColumn<int>("nCommand");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("nOldFirst"); // the earlier series' numbers
    QTest::addColumn<int>("nOldLast");
    QTest::addColumn<int>("reply"); // Answer
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<bool>("bWritten");
    QTest::addColumn<bool>("bRemoved");

    const QStringList three{"Replace and remove the rest", "Replace", "Cancel"};
    const QString both =
        "5 files named x_0000.bmp \u2026 x_0004.bmp exist in %1. Replace them?\n\nAn earlier, longer export also left "
        "7 files named x_0005.bmp \u2026 x_0011.bmp, which this one does not write: a stacking program given the "
        "folder would take them for frames of this export. They can be removed once the export has completed.";
    QTest::newRow("replace and remove the rest")
        << ids::ID_FILE_SAVE_AS << "x.bmp" << 0 << 11 << int(Answer::Yes) << both << three << true << true;
    QTest::newRow("replace, keep the rest")
        << ids::ID_FILE_SAVE_AS << "x.bmp" << 0 << 11 << int(Answer::No) << both << three << true << false;
    QTest::newRow("cancel") << ids::ID_FILE_SAVE_AS << "x.bmp" << 0 << 11 << int(Answer::Cancel) << both << three
                            << false << false;
    // Nothing of the new names is in the way; the old files are asked about alone.
    const QString alone = "An earlier export left x_0009.bmp, x_0010.bmp and x_0011.bmp in %1, beside the 5 "
                          "files this export writes: a stacking program given the folder would take them for "
                          "frames of this export.\n\nRemove them once the export has completed?";
    const QStringList removeKeep{"Remove them", "Keep them", "Cancel"};
    QTest::newRow("old files alone, removed")
        << ids::ID_FILE_SAVE_AS << "x.bmp" << 9 << 11 << int(Answer::Yes) << alone << removeKeep << true << true;
    QTest::newRow("old files alone, kept")
        << ids::ID_FILE_SAVE_AS << "x.bmp" << 9 << 11 << int(Answer::No) << alone << removeKeep << true << false;
    QTest::newRow("FITS sums in fewer blocks") << ids::ID_EXPORT_FITS << "x" << 0 << 11 << int(Answer::Yes)
                                               << QString(both).replace(".bmp", ".fit") << three << true << true;
}

void ExportAskTest::olderFilesOfALongerSeriesAreRemovedOnlyWhenAsked()
{
    QFETCH(int, nCommand);
    QFETCH(QString, answer);
    QFETCH(int, nOldFirst);
    QFETCH(int, nOldLast);
    QFETCH(int, reply);
    QFETCH(QString, question);
    QFETCH(QStringList, buttons);
    QFETCH(bool, bWritten);
    QFETCH(bool, bRemoved);
    ShellFixture f;
    StartWithCapture(f, 5);
    const QString ext = nCommand == ids::ID_EXPORT_FITS ? QStringLiteral(".fit") : QStringLiteral(".bmp");
    for (int n = nOldFirst; n <= nOldLast; ++n)
        Write(f.folder() + QStringLiteral("/x_%1").arg(n, 4, 10, QChar(u'0')) + ext, "old");
    // Not of the series: another name, another number format, a letter after the number.
    for (const QString& name : {"y_0006" + ext, "x_06" + ext, "x_0006b" + ext})
        Write(f.folder() + "/" + name, "other");
    Answering answering(static_cast<Answer>(reply));
    Export(f, nCommand, answer, 1);
    QVERIFY(f.waitForExport());

    QCOMPARE(answering.messages.size(), std::size_t(1));
    const Message& asked = answering.messages.front();
    QCOMPARE(QString::fromStdString(asked.text), question.arg(f.folder()));
    QCOMPARE(asked.buttons, kestro::ui::Buttons::YesNoCancel);
    QStringList texts;
    for (const std::string& t : asked.buttonTexts)
        texts << QString::fromStdString(t);
    QCOMPARE(texts, buttons);

    for (int n = 0; n <= 11; ++n) {
        const QString name = QStringLiteral("x_%1").arg(n, 4, 10, QChar(u'0')) + ext;
        const bool bOld = n >= nOldFirst && n <= nOldLast;
        const bool bNew = bWritten && n < 5;
        const QString path = f.folder() + "/" + name;
        if (bNew) {
            QVERIFY2(Read(path) != "old" && !Read(path).isEmpty(), qPrintable(name));
        } else if (bOld) {
            QCOMPARE(QFile::exists(path), !bRemoved);
            if (!bRemoved)
                QCOMPARE(Read(path), QByteArray("old"));
        } else {
            QVERIFY2(!QFile::exists(path), qPrintable(name));
        }
    }
    for (const QString& name : {"y_0006" + ext, "x_06" + ext, "x_0006b" + ext})
        QCOMPARE(Read(f.folder() + "/" + name), QByteArray("other"));
    if (bRemoved) {
        const int nGone = nOldLast - std::max(nOldFirst, 5) + 1;
        QVERIFY(
            f.frame().GetStatusBar().GetPaneText(0).endsWith(QStringLiteral("; %1 older files removed").arg(nGone)));
    }
}

// Asked to remove the rest, the export is stopped: the old files stay, and the message says so.
void ExportAskTest::olderFilesStayWhenTheExportDoesNotComplete()
{
    ShellFixture f;
    StartWithCapture(f, 5);
    for (int n = 0; n <= 11; ++n)
        Write(f.folder() + QStringLiteral("/x_%1.bmp").arg(n, 4, 10, QChar(u'0')), "old");
    Answering answering(Answer::Yes);
    {
        ExportGate gate(f, 2);
        Export(f, ids::ID_FILE_SAVE_AS, "x.bmp");
        QVERIFY(gate.waitUntilReached());
        QVERIFY(f.doc().CancelExport());
        QVERIFY(f.waitForExport());
    }
    QCOMPARE(answering.messages.size(), std::size_t(2));
    QCOMPARE(answering.messages[1].caption, std::string("Stopped"));
    QVERIFY(answering.messages[1].text.find("The older files of the earlier export were not removed.") !=
            std::string::npos);
    for (int n = 5; n <= 11; ++n)
        QCOMPARE(Read(f.folder() + QStringLiteral("/x_%1.bmp").arg(n, 4, 10, QChar(u'0'))), QByteArray("old"));
}

// One of the old files turns into a folder with something in it while the export runs: the
// others go, and that one is named once with the reason.
void ExportAskTest::aFileThatCannotBeRemovedIsToldOnce()
{
    ShellFixture f;
    StartWithCapture(f, 5);
    for (int n = 0; n <= 11; ++n)
        Write(f.folder() + QStringLiteral("/x_%1.bmp").arg(n, 4, 10, QChar(u'0')), "old");
    Answering answering(Answer::Yes);
    {
        ExportGate gate(f, 2);
        Export(f, ids::ID_FILE_SAVE_AS, "x.bmp");
        QVERIFY(gate.waitUntilReached());
        const QString stuck = f.folder() + "/x_0009.bmp";
        QVERIFY(QFile::remove(stuck) && QDir().mkpath(stuck + "/inside"));
        gate.release();
        QVERIFY(f.waitForExport());
    }
    QCOMPARE(answering.messages.size(), std::size_t(2));
    const Message& told = answering.messages[1];
    QCOMPARE(told.caption, std::string("Remove older files"));
    QVERIFY2(told.text.find("Unable to remove " + f.folder().toStdString() + "/x_0009.bmp: ") == 0, told.text.c_str());
    QVERIFY(QDir(f.folder() + "/x_0009.bmp").exists());
    for (int n : {5, 6, 7, 8, 10, 11})
        QVERIFY(!QFile::exists(f.folder() + QStringLiteral("/x_%1.bmp").arg(n, 4, 10, QChar(u'0'))));
    QCOMPARE(f.frame().GetStatusBar().GetPaneText(0),
             QStringLiteral("5 frames saved as x_0000.bmp \u2026 x_0004.bmp; 6 older files removed"));
}

void ExportAskTest::leftoverTemporariesAreNamedOnceAndKept()
{
    ShellFixture f;
    StartWithCapture(f, 5);
    const QString first = f.folder() + "/.x.avi.0123abcd.part";
    Write(first, "half");
    Answering answering(Answer::Yes);
    Export(f, ids::ID_FILE_SAVE, "x.avi");
    QVERIFY(f.waitForExport());
    QCOMPARE(answering.messages.size(), std::size_t(1));
    QCOMPARE(answering.messages.front().caption, std::string("Temporary files in the folder"));
    QCOMPARE(answering.messages.front().icon, kestro::ui::Icon::Information);
    QCOMPARE(QString::fromStdString(answering.messages.front().text),
             QStringLiteral("The folder %1 holds a temporary file, .x.avi.0123abcd.part.\nAn export that was stopped "
                            "before it finished left it, or one still running is writing it. Kestro leaves it alone: "
                            "remove it once no export is writing there.")
                 .arg(f.folder()));
    QCOMPARE(Read(first), QByteArray("half"));

    // Said once: the next export into the folder says nothing of it, but names one that is new.
    answering.messages.clear();
    Export(f, ids::ID_FILE_SAVE, "y.avi");
    QVERIFY(f.waitForExport());
    QVERIFY(answering.messages.empty());
    Write(f.folder() + "/.m_0000.fit.89abcdef.part", "half");
    Export(f, ids::ID_EXPORT_FITS, "m");
    QVERIFY(f.waitForExport());
    QCOMPARE(answering.messages.size(), std::size_t(1));
    QVERIFY(answering.messages.front().text.find(".m_0000.fit.89abcdef.part.") != std::string::npos);
    QVERIFY(answering.messages.front().text.find(".x.avi") == std::string::npos);
    QCOMPARE(Read(first), QByteArray("half"));
}

QTEST_MAIN(ExportAskTest)
#include "export_ask_test.moc"
