// Playback and the timeline in the real window: frames shown in order at a fixed rate (the clock
// ticked by the test) and as fast as they are painted; what stops it (a click or a key in the
// list, opening a capture, the end); Loop; Ticked frames only passing over unticked and dropped
// frames; the play key beside the list's own keys; the capture's own rate; and the timeline
// agreeing with the list after drags and keys, with its marks drawn per pixel.
#include "shell_fixture.h"

#include "frame_list_model.h"
#include "frame_scoring.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "playback.h"
#include "resource_ids.h"
#include "status_bar.h"
#include "test_support.h"
#include "timeline.h"

#include <QAction>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace {

// A clock that ticks only when the test says so.
class ManualClock : public CPlaybackClock {
public:
    void Start(std::chrono::microseconds interval) override
    {
        m_interval = interval;
        m_bRunning = true;
    }
    void Stop() override { m_bRunning = false; }
    void tick() const
    {
        if (m_bRunning)
            Tick();
    }
    std::chrono::microseconds m_interval{};
    bool m_bRunning = false;
};

CPlayback& Playback(ShellFixture& f) { return *f.frame().GetPlayback(); }
CLeftView& List(ShellFixture& f) { return *f.frame().GetFrameList(); }
QSlider& Slider(ShellFixture& f) { return f.frame().GetTimeline()->GetSlider(); }

// Opens a capture of nFrames frames (`dropped` as kestro-sample takes it) with a hand-ticked
// clock in place; returns the clock.
ManualClock& OpenWithClock(ShellFixture& f, int nFrames, const QString& dropped = QStringLiteral("none"))
{
    const QString capture =
        f.sample(QStringLiteral("capture.avi"), {"--frames", QString::number(nFrames), "--dropped", dropped});
    f.start();
    f.doc().OpenVideoFile(capture);
    auto pClock = std::make_unique<ManualClock>();
    ManualClock& clock = *pClock;
    Playback(f).SetClock(std::move(pClock));
    QTest::qWait(0);
    return clock;
}

// The rows whose picture the frame view painted, in order.
struct ShownFrames {
    explicit ShownFrames(ShellFixture& f)
    {
        QObject::connect(f.frame().GetFrameView(), &CKestroView::pictureShown, &m_context,
                         [this, &f] { rows << f.doc().GetCurrentRow(); });
    }
    QList<int> rows;

private:
    QObject m_context;
};

// One tick of the clock, then the events it leads to until its frame has been painted.
bool TickAndShow(ShellFixture& f, const ManualClock& clock)
{
    clock.tick();
    return QTest::qWaitFor([&] { return !Playback(f).IsWaitingForPicture(); }, 5000);
}

// The list, the slider, the document and the status bar all on the same frame.
void VerifyAllOn(ShellFixture& f, int nRow)
{
    QCOMPARE(f.doc().GetCurrentRow(), nRow);
    QCOMPARE(List(f).currentIndex().row(), nRow);
    QCOMPARE(Slider(f).value(), nRow);
    QVERIFY2(f.frame().GetStatusBar().GetFrameText().startsWith(QStringLiteral("Frame %1 of").arg(nRow)),
             qPrintable(f.frame().GetStatusBar().GetFrameText()));
}

QMenu* PlaybackMenu(ShellFixture& f)
{
    for (QAction* a : f.frame().menuBar()->actions()[2]->menu()->actions())
        if (a->menu() != nullptr && a->text() == QStringLiteral("Pla&yback"))
            return a->menu();
    return nullptr;
}

bool MakeSer(const QString& folder, const QString& name)
{
    const std::string command = "/usr/bin/python3 " + kestro::test::quote(KESTRO_MAKE_SER_SCRIPT) + " " +
                                kestro::test::quote(folder.toStdString()) + " " +
                                kestro::test::quote(name.toStdString());
    return kestro::test::run(command + " >/dev/null 2>&1") == 0;
}

} // namespace

class PlaybackTest : public QObject {
    Q_OBJECT
private slots:
    void fixedRateShowsEachFrameInOrderThenStops();
    void fastestStepsOnEachPaint();
    void stopsOnListClickKeyAndOpen();
    void playKeyLeavesSpaceToTheList();
    void loopStartsAgain();
    void passesOverDroppedAndUntickedFrames_data();
    void passesOverDroppedAndUntickedFrames();
    void captureOwnRate_data();
    void captureOwnRate();
    void menuAndButtonShowTheStateInForce();
    void timelineAndListAgree();
    void timelineMarksArePerPixel();
};

void PlaybackTest::fixedRateShowsEachFrameInOrderThenStops()
{
    ShellFixture f;
    const ManualClock& clock = OpenWithClock(f, 6);
    const QString capture = f.folder() + QStringLiteral("/capture.avi");
    ShownFrames shown(f);
    f.command(ids::ID_PLAY_RATE_10);
    f.command(ids::ID_PLAY_PAUSE);
    QVERIFY(Playback(f).IsPlaying());
    QCOMPARE(clock.m_interval, std::chrono::microseconds(100000));
    for (int n = 1; n <= 5; ++n) {
        QVERIFY(TickAndShow(f, clock));
        VerifyAllOn(f, n);
        if (n == 3)
            QCOMPARE(ShellFixture::grab(*f.frame().GetFrameView()).copy(0, 0, 64, 48),
                     ShellFixture::framePicture(capture, 3).copy(0, 0, 64, 48));
    }
    QCOMPARE(shown.rows, (QList<int>{1, 2, 3, 4, 5}));
    // The end: the next tick stops, on the last frame.
    QVERIFY(TickAndShow(f, clock));
    QVERIFY(!Playback(f).IsPlaying());
    QVERIFY(!clock.m_bRunning);
    VerifyAllOn(f, 5);
    // Play on the last frame starts from the first.
    f.command(ids::ID_PLAY_PAUSE);
    QVERIFY(Playback(f).IsPlaying());
    QCOMPARE(f.doc().GetCurrentRow(), 0);
    QTRY_VERIFY(!Playback(f).IsWaitingForPicture());
    QCOMPARE(shown.rows.last(), 0);
    QVERIFY(TickAndShow(f, clock));
    // Ticks that come faster than the pictures are painted wait for them: one step, one render.
    clock.tick();
    clock.tick();
    clock.tick();
    QCOMPARE(f.doc().GetCurrentRow(), 2);
    QVERIFY(QTest::qWaitFor([&] { return !Playback(f).IsWaitingForPicture(); }, 5000));
    QCOMPARE(shown.rows.last(), 2);
    QCOMPARE(Playback(f).GetStepsOverPendingRender(), std::uint64_t{0});
    QVERIFY(f.messages().empty());
}

void PlaybackTest::fastestStepsOnEachPaint()
{
    ShellFixture f;
    OpenWithClock(f, 12, QStringLiteral("4"));
    ShownFrames shown(f);
    f.command(ids::IDC_DISPLAY_RAW_COLOUR);
    QTRY_VERIFY(!shown.rows.isEmpty());
    shown.rows.clear();
    f.command(ids::ID_PLAY_RATE_FASTEST);
    f.command(ids::ID_PLAY_PAUSE);
    // The test's clock never ticks: every step is the paint of the one before.
    QTRY_VERIFY_WITH_TIMEOUT(!Playback(f).IsPlaying(), 20000);
    QCOMPARE(shown.rows, (QList<int>{1, 2, 3, 5, 6, 7, 8, 9, 10, 11}));
    QCOMPARE(Playback(f).GetSteps(), std::uint64_t{10});
    // No step was taken while the frame view still had a render waiting.
    QCOMPARE(Playback(f).GetStepsOverPendingRender(), std::uint64_t{0});
    VerifyAllOn(f, 11);
    QVERIFY(f.messages().empty());
}

void PlaybackTest::stopsOnListClickKeyAndOpen()
{
    ShellFixture f;
    const ManualClock& clock = OpenWithClock(f, 10);
    CLeftView& list = List(f);
    const auto play = [&] {
        f.command(ids::ID_PLAY_PAUSE);
        return Playback(f).IsPlaying() && TickAndShow(f, clock);
    };

    QVERIFY(play());
    const QModelIndex seven = list.model()->index(7, 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(seven).center());
    QVERIFY(!Playback(f).IsPlaying());
    clock.tick();
    QTest::qWait(0);
    VerifyAllOn(f, 7);

    list.setFocus();
    QVERIFY(play());
    QTest::keyClick(&list, Qt::Key_Up);
    QVERIFY(!Playback(f).IsPlaying());
    VerifyAllOn(f, 7);

    QVERIFY(play());
    const QString other = f.sample(QStringLiteral("other.avi"), {"--frames", "4"});
    f.doc().OpenVideoFile(other);
    QVERIFY(!Playback(f).IsPlaying());
    clock.tick();
    QTest::qWait(0);
    VerifyAllOn(f, 0);
    // Even a capture that fails to open has stopped it.
    QVERIFY(play());
    f.doc().OpenVideoFile(f.missing(QStringLiteral("gone.avi")));
    QVERIFY(!Playback(f).IsPlaying());
    QCOMPARE(f.messages().size(), std::size_t{1});
}

void PlaybackTest::playKeyLeavesSpaceToTheList()
{
    ShellFixture f;
    OpenWithClock(f, 5);
    CLeftView& list = List(f);
    list.setFocus();
    QTRY_VERIFY(list.hasFocus());
    // F5 reaches the window's action although the list has the keyboard, and ticks nothing.
    QTest::keyClick(&list, Qt::Key_F5);
    QVERIFY(Playback(f).IsPlaying());
    QCOMPARE(list.GetModel().TickedRows(), (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
    QTest::keyClick(&list, Qt::Key_F5);
    QVERIFY(!Playback(f).IsPlaying());
    // Space still ticks the row, and starts nothing.
    QTest::keyClick(&list, Qt::Key_Space);
    QVERIFY(!Playback(f).IsPlaying());
    QVERIFY(!list.GetModel().IsTicked(0));
    // While playing, Space ticks the row shown and stops there.
    QTest::keyClick(&list, Qt::Key_F5);
    QVERIFY(Playback(f).IsPlaying());
    QTest::keyClick(&list, Qt::Key_Space);
    QVERIFY(!Playback(f).IsPlaying());
    QCOMPARE(list.GetModel().TickedRows(), (std::vector<std::int32_t>{0, 1, 2, 3, 4}));
    // From the frame view too.
    f.frame().GetFrameView()->setFocus();
    QTRY_VERIFY(f.frame().GetFrameView()->hasFocus());
    QTest::keyClick(f.frame().GetFrameView(), Qt::Key_F5);
    QVERIFY(Playback(f).IsPlaying());
}

void PlaybackTest::loopStartsAgain()
{
    ShellFixture f;
    const ManualClock& clock = OpenWithClock(f, 4, QStringLiteral("0"));
    ShownFrames shown(f);
    f.command(ids::ID_PLAY_LOOP);
    QVERIFY(Playback(f).IsLoop());
    List(f).GoToRow(2);
    QTest::qWait(0);
    f.command(ids::ID_PLAY_PAUSE);
    for (int i = 0; i < 5; ++i)
        QVERIFY(TickAndShow(f, clock));
    // Frame 0 holds no data: the loop starts again at 1.
    QCOMPARE(shown.rows.mid(shown.rows.size() - 5), (QList<int>{3, 1, 2, 3, 1}));
    QVERIFY(Playback(f).IsPlaying());
    // Loop off: the end stops it.
    f.command(ids::ID_PLAY_LOOP);
    QVERIFY(TickAndShow(f, clock));
    QVERIFY(TickAndShow(f, clock));
    QVERIFY(TickAndShow(f, clock));
    QVERIFY(!Playback(f).IsPlaying());
    QCOMPARE(f.doc().GetCurrentRow(), 3);
}

void PlaybackTest::passesOverDroppedAndUntickedFrames_data()
{
    QTest::addColumn<bool>("bTickedOnly");
    QTest::addColumn<QList<int>>("expected");
    // Frames 3 and 4 were dropped, 6 and 7 unticked by hand.
    QTest::newRow("all frames with data") << false << QList<int>{1, 2, 5, 6, 7, 8, 9};
    QTest::newRow("ticked frames only") << true << QList<int>{1, 2, 5, 8, 9};
}

void PlaybackTest::passesOverDroppedAndUntickedFrames()
{
    QFETCH(bool, bTickedOnly);
    QFETCH(QList<int>, expected);
    ShellFixture f;
    const ManualClock& clock = OpenWithClock(f, 10, QStringLiteral("3,4"));
    List(f).GetModel().SetTicked(6, 7, false);
    if (bTickedOnly)
        f.command(ids::ID_PLAY_TICKED_ONLY);
    QCOMPARE(Playback(f).IsTickedOnly(), bTickedOnly);
    ShownFrames shown(f);
    f.command(ids::ID_PLAY_PAUSE);
    while (Playback(f).IsPlaying() && shown.rows.size() < 20)
        QVERIFY(TickAndShow(f, clock));
    QCOMPARE(shown.rows, expected);
    // What the picture showed was each frame itself, never the one before a dropped frame.
    QVERIFY(!f.frame().GetStatusBar().GetFrameText().contains(QStringLiteral("(dropped)")));

    // Nothing ticked: there is nothing to play.
    if (bTickedOnly) {
        List(f).GetModel().SetTicked(0, 9, false);
        f.command(ids::ID_PLAY_PAUSE);
        QVERIFY(!Playback(f).IsPlaying());
    }
}

void PlaybackTest::captureOwnRate_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("rate");
    QTest::newRow("AVI by ffmpeg at 30 frames/s") << "ffmpeg30" << 30.0;
    QTest::newRow("AVI at 30000/1001") << "ffmpegNtsc" << 30000.0 / 1001;
    QTest::newRow("AVI by the sample tool at 12") << "sample12" << 12.0;
    // Three frames 47 and 47 ms apart (make_ser.py's times).
    QTest::newRow("SER with frame times") << "mono8" << 2 * 1e7 / 940000;
    QTest::newRow("SER without frame times") << "times-missing" << CPlayback::kDefaultRate;
}

void PlaybackTest::captureOwnRate()
{
    QFETCH(QString, kind);
    QFETCH(double, rate);
    ShellFixture f;
    QString capture;
    if (kind == QStringLiteral("ffmpeg30") || kind == QStringLiteral("ffmpegNtsc"))
        capture = f.ffmpegCapture(QStringLiteral("peer.avi"),
                                  {"-f", "lavfi", "-i",
                                   kind == QStringLiteral("ffmpeg30") ? "testsrc=size=64x48:rate=30:duration=0.2"
                                                                      : "testsrc=size=64x48:rate=30000/1001:d=0.2",
                                   "-c:v", "rawvideo", "-pix_fmt", "bgr24"});
    else if (kind == QStringLiteral("sample12"))
        capture = f.sample(QStringLiteral("twelve.avi"), {"--frames", "3", "--rate", "12"});
    else {
        QVERIFY(MakeSer(f.folder(), kind));
        capture = f.folder() + u'/' + kind + QStringLiteral(".ser");
    }
    f.start();
    f.doc().OpenVideoFile(capture);
    QVERIFY(f.doc().m_videoSource.IsOpen());
    QVERIFY(qAbs(CPlayback::CaptureRate(f.doc().m_videoSource) - rate) < 1e-6);

    auto pClock = std::make_unique<ManualClock>();
    const ManualClock& clock = *pClock;
    Playback(f).SetClock(std::move(pClock));
    f.command(ids::ID_PLAY_PAUSE);
    QVERIFY(Playback(f).IsPlaying());
    QCOMPARE(clock.m_interval.count(), std::llround(1e6 / rate));
    // The menu item names it.
    QMenu* pPlaybackMenu = PlaybackMenu(f);
    QVERIFY(pPlaybackMenu != nullptr);
    emit pPlaybackMenu->aboutToShow();
    const QString text = f.frame().GetCommandActions(ids::ID_PLAY_RATE_OWN).front()->text();
    QVERIFY2(text.contains(QStringLiteral("(%1 frames/s)").arg(QString::number(rate, 'g', 4))), qPrintable(text));
}

void PlaybackTest::menuAndButtonShowTheStateInForce()
{
    ShellFixture f;
    f.start();
    // No capture: nothing to play.
    QAction* pPlay = f.frame().GetCommandActions(ids::ID_PLAY_PAUSE).front();
    QVERIFY(!pPlay->isEnabled());
    QVERIFY(!Slider(f).isEnabled());
    f.command(ids::ID_PLAY_PAUSE);
    QVERIFY(!Playback(f).IsPlaying());
    QVERIFY(pPlay->shortcuts().contains(QKeySequence(Qt::Key_F5)));

    f.doc().OpenVideoFile(f.sample(QStringLiteral("capture.avi"), {"--frames", "5"}));
    Playback(f).SetClock(std::make_unique<ManualClock>());
    QVERIFY(pPlay->isEnabled());
    QVERIFY(Slider(f).isEnabled());
    const auto checked = [&f](int nId) { return f.frame().GetCommandActions(nId).front()->isChecked(); };
    QVERIFY(checked(ids::ID_PLAY_RATE_OWN));
    QVERIFY(!checked(ids::ID_PLAY_LOOP));
    QVERIFY(!checked(ids::ID_PLAY_TICKED_ONLY));
    // A second click of a checked rate keeps it checked.
    for (int i = 0; i < 2; ++i) {
        f.frame().GetCommandActions(ids::ID_PLAY_RATE_50).front()->trigger();
        QVERIFY(checked(ids::ID_PLAY_RATE_50));
        QVERIFY(!checked(ids::ID_PLAY_RATE_OWN));
        QCOMPARE(Playback(f).GetRate(), 50);
    }
    f.frame().GetCommandActions(ids::ID_PLAY_LOOP).front()->trigger();
    QVERIFY(checked(ids::ID_PLAY_LOOP) && Playback(f).IsLoop());

    // The toolbar's button says what it does next.
    QAction* pButton = nullptr;
    for (QAction* a : f.frame().GetToolBar().actions())
        if (f.frame().GetCommandActions(ids::ID_PLAY_PAUSE).contains(a))
            pButton = a;
    QVERIFY(pButton != nullptr);
    const QImage playIcon = pButton->icon().pixmap(17, 16).toImage();
    QCOMPARE(pButton->text(), QStringLiteral("Play"));
    pButton->trigger();
    QVERIFY(Playback(f).IsPlaying());
    QCOMPARE(pButton->text(), QStringLiteral("Pause"));
    QVERIFY(pButton->icon().pixmap(17, 16).toImage() != playIcon);
    pButton->trigger();
    QVERIFY(!Playback(f).IsPlaying());
    QCOMPARE(pButton->text(), QStringLiteral("Play"));
}

void PlaybackTest::timelineAndListAgree()
{
    ShellFixture f;
    OpenWithClock(f, 40);
    CTimelineSlider& slider = f.frame().GetTimeline()->GetSlider();
    QCOMPARE(slider.minimum(), 0);
    QCOMPARE(slider.maximum(), 39);
    QSignalSpy rowChanges(List(f).selectionModel(), &QItemSelectionModel::currentRowChanged);

    // A drag: the picture follows at every move, not only where the handle is let go.
    const int y = slider.height() / 2;
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(slider.FirstX(), y));
    VerifyAllOn(f, 0);
    for (int x : {slider.FirstX() + (slider.LastX() - slider.FirstX()) / 4,
                  slider.FirstX() + (slider.LastX() - slider.FirstX()) * 3 / 4}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, y), slider.mapToGlobal(QPointF(x, y)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&slider, &move);
        QVERIFY(slider.isSliderDown());
        VerifyAllOn(f, slider.ValueAt(x));
        QVERIFY(slider.value() > 0);
        QVERIFY(f.frame().GetFrameView()->IsRenderPending());
    }
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(slider.LastX(), y));
    // A click beside the handle puts it there.
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(slider.LastX(), y));
    VerifyAllOn(f, 39);

    // The slider's keys.
    slider.setFocus();
    const struct {
        Qt::Key key;
        int nRow;
    } keys[] = {{Qt::Key_Home, 0},   {Qt::Key_Right, 1}, {Qt::Key_PageUp, 3}, {Qt::Key_PageDown, 1},
                {Qt::Key_PageUp, 3}, {Qt::Key_End, 39},  {Qt::Key_Left, 38}};
    for (const auto& k : keys) {
        QTest::keyClick(&slider, k.key);
        VerifyAllOn(f, k.nRow);
    }
    // The list's keys and Go to Frame move the slider.
    List(f).setFocus();
    QTest::keyClick(&List(f), Qt::Key_Up);
    VerifyAllOn(f, 37);
    f.dialogs().answerNumber(12);
    f.command(ids::ID_GOTO_FRAME);
    VerifyAllOn(f, 12);
    // One change of the list's row for each move, never an echo back from the slider.
    QCOMPARE(rowChanges.size(), 2 + 1 + 7 + 1 + 1);

    // A drag of the slider stops playback.
    f.command(ids::ID_PLAY_PAUSE);
    QVERIFY(Playback(f).IsPlaying());
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(slider.FirstX(), y));
    QVERIFY(!Playback(f).IsPlaying());
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(slider.FirstX(), y));
    VerifyAllOn(f, 0);

    // Another capture: the slider's range and place are its.
    f.doc().OpenVideoFile(f.sample(QStringLiteral("short.avi"), {"--frames", "3"}));
    QCOMPARE(slider.maximum(), 2);
    VerifyAllOn(f, 0);
    QVERIFY(f.messages().empty());
}

void PlaybackTest::timelineMarksArePerPixel()
{
    ShellFixture f;
    // More frames than pixels: one column stands for many frames.
    const int nFrames = 6000;
    const QString capture = f.sample(QStringLiteral("long.avi"), {"--frames", QString::number(nFrames), "--width", "8",
                                                                  "--height", "8", "--dropped", "1500"});
    f.start();
    f.doc().OpenVideoFile(capture);
    CTimeline& timeline = *f.frame().GetTimeline();
    const CTimelineSlider& slider = timeline.GetSlider();
    const int nColumns = slider.LastX() - slider.FirstX() + 1;
    QVERIFY2(nColumns > 100 && nColumns < nFrames, qPrintable(QString::number(nColumns)));
    List(f).GetModel().SetTicked(4500, 4500, false);
    const auto columnOf = [&](int nFrame) {
        return static_cast<int>(std::lround(double(nFrame) * (nColumns - 1) / (nFrames - 1)));
    };

    // The marks are drawn where the handle stands for those frames, as the window paints
    // them of itself.
    List(f).GoToRow(1500);
    const QImage strip = ShellFixture::grab(timeline);
    const int xDropped = timeline.StripLeft() + columnOf(1500);
    const int yMark = CTimeline::kScoreHeight + 3;
    QCOMPARE(QColor(strip.pixel(xDropped, yMark)), QColor(0xd0, 0x3a, 0x3a));
    QCOMPARE(QColor(strip.pixel(timeline.StripLeft() + columnOf(4500), yMark)), QColor(0xe8, 0xa0, 0x30));
    QVERIFY(QColor(strip.pixel(timeline.StripLeft() + columnOf(3000), yMark)) != QColor(0xd0, 0x3a, 0x3a));
    QCOMPARE(slider.value(), 1500);

    const std::vector<CTimeline::Column>& summary = timeline.GetSummary();
    QCOMPARE(static_cast<int>(summary.size()), nColumns);
    for (int c = 0; c < nColumns; ++c) {
        QCOMPARE(summary[static_cast<std::size_t>(c)].bDropped, c == columnOf(1500));
        QCOMPARE(summary[static_cast<std::size_t>(c)].bUnticked, c == columnOf(4500));
    }
    // Scores: grey until scored, then each column's best share of the capture's range, with the
    // sharpest frame's column at the top.
    QTRY_VERIFY_WITH_TIMEOUT(!List(f).GetScoring().IsRunning(), 60000);
    const QImage painted = ShellFixture::grab(timeline);
    const std::vector<CTimeline::Column>& scored = timeline.GetSummary();
    int nBest = -1;
    double best = -1;
    for (int n = 0; n < nFrames; ++n) {
        if (const std::optional<double> s = List(f).GetModel().ScoreOf(n); s && *s > best) {
            best = *s;
            nBest = n;
        }
    }
    QVERIFY(nBest >= 0);
    QCOMPARE(scored[static_cast<std::size_t>(columnOf(nBest))].score, 1.0F);
    // Painted brightest there, and no longer grey anywhere.
    const int yScore = 3;
    QCOMPARE(QColor(painted.pixel(timeline.StripLeft() + columnOf(nBest), yScore)), QColor(0x9c, 0xd2, 0xff));
    for (int c = 0; c < nColumns; c += 7)
        QVERIFY(QColor(painted.pixel(timeline.StripLeft() + c, yScore)) != QColor(0x80, 0x80, 0x80));
    for (const CTimeline::Column& c : scored)
        QVERIFY(c.score >= 0.0F && c.score <= 1.0F);
}

QTEST_MAIN(PlaybackTest)
#include "playback_test.moc"
