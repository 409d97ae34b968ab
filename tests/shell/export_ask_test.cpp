// What the window checks and asks before an export writes: an output that is the capture itself
// (under any name), or nothing ticked, is refused at once, before anything else is shown.
#include "shell_fixture.h"

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

// Records every message and answers questions as told; everything else with OK.
class Answering {
public:
    explicit Answering(Answer answer) : m_answer(answer)
    {
        m_previous = kestro::ui::setMessageHandler([this](const Message& m) {
            messages.push_back(m);
            return m.icon == kestro::ui::Icon::Question ? m_answer : kestro::ui::cautiousAnswer(m.buttons);
        });
    }
    ~Answering() { kestro::ui::setMessageHandler(std::move(m_previous)); }
    Answering(const Answering&) = delete;
    Answering& operator=(const Answering&) = delete;

    std::vector<Message> messages;

private:
    Answer m_answer;
    kestro::ui::MessageHandler m_previous;
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
            kestro::ui::FitsExportRequest{nBlock, answer.toStdString(), f.folder().toStdString() + "/"});
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

QTEST_MAIN(ExportAskTest)
#include "export_ask_test.moc"
