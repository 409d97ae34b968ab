// playback_bench: playback "as fast as possible" in the real main window, on Qt's offscreen
// platform, beside the video source alone stepping the same frames.
//
//   playback_bench [--dir DIR] [--sample PATH] [--benchmark_... flags]
//
// The 300-frame 1920x1080 capture of the video source and shell benchmarks (the same file when
// DIR is shared) is opened in a window of 1920x1080, RAW colour, algorithm 11, actual size, and
// played with Loop on so it never ends. One iteration is one frame of playback: the events are
// handled until the frame view has painted the next picture. Playback itself takes every step
// (on the paint of the one before); the benchmark only turns the event loop. Beside the rate it
// checks that nothing piles up: no step is taken while the frame view still has a render
// waiting, every step is painted, and the list paints no more than once a step. The peer is the
// video source alone, GoToFrame and GetFrameBitmap through the same frames in the same run.
#include "bench_report.h"
#include "source_step.h"
#include "frame_scoring.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "message_box.h"
#include "playback.h"
#include "resource_ids.h"

#include <QApplication>
#include <QSettings>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

constexpr int kFrames = 300;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// The video source and shell benchmarks' name for the same capture.
std::string captureName() { return "step-" + std::to_string(kFrames) + "f-1920x1080-bg-i420.avi"; }

int g_nMessages = 0;

kestro::ui::Answer recordMessage(const kestro::ui::Message& m)
{
    std::fprintf(stderr, "playback_bench: message \"%s: %s\"\n", m.caption.c_str(), m.text.c_str());
    ++g_nMessages;
    return kestro::ui::cautiousAnswer(m.buttons);
}

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* pWidget) { pWidget->installEventFilter(this); }
    int nPaints = 0;

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::Paint)
            ++nPaints;
        return false;
    }
};

// What the run found about backlogs, for the table.
struct Backlog {
    std::uint64_t nSteps = 0;
    std::uint64_t nOverPending = 0;
    int nShown = 0;
    int nListPaints = 0;
    // The most steps ever ahead of the pictures painted.
    std::int64_t nMostAhead = 0;
    QSize view;
};
Backlog g_backlog;

void benchPlayFastest(benchmark::State& state, fs::path capture)
{
    CKestroApp app;
    app.InitInstance({QString::fromStdString(capture.string())});
    CMainFrame& frame = *app.GetMainFrame();
    CKestroDoc& doc = *app.GetDocument();
    // The scoring of the capture has its own benchmark; here it would share the cores.
    frame.GetFrameList()->GetScoring().Clear();
    frame.resize(kWidth, kHeight);
    frame.OnCommand(ids::IDC_DISPLAY_RAW_COLOUR);
    QCoreApplication::processEvents();
    if (frame.GetFrameList()->model()->rowCount() != kFrames || !doc.m_videoSource.m_bRawColour ||
        doc.m_nSelAlgorithm != CCfaConverter::kOwnAlgorithm || g_nMessages != 0) {
        state.SkipWithError("the capture did not open in RAW colour with algorithm 11");
        return;
    }
    CKestroView& view = *frame.GetFrameView();
    CPlayback& playback = *frame.GetPlayback();
    int nShown = 0;
    QObject::connect(&view, &CKestroView::pictureShown, &view, [&nShown] { ++nShown; });
    PaintCounter listPaints(frame.GetFrameList()->viewport());
    frame.OnCommand(ids::ID_PLAY_RATE_FASTEST);
    frame.OnCommand(ids::ID_PLAY_LOOP);
    frame.OnCommand(ids::ID_PLAY_PAUSE);
    std::int64_t nMostAhead = 0;
    const int nShownBefore = nShown;
    for (auto _ : state) {
        const int nBefore = nShown;
        while (nShown == nBefore && playback.IsPlaying())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        nMostAhead = std::max<std::int64_t>(nMostAhead,
                                            static_cast<std::int64_t>(playback.GetSteps()) - (nShown - nShownBefore));
    }
    const bool bPlaying = playback.IsPlaying();
    frame.OnCommand(ids::ID_PLAY_PAUSE);
    QCoreApplication::processEvents();
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
    g_backlog = {playback.GetSteps(),
                 playback.GetStepsOverPendingRender(),
                 nShown - nShownBefore,
                 listPaints.nPaints,
                 nMostAhead,
                 view.size()};
    if (!bPlaying || g_nMessages != 0)
        state.SkipWithError("playback stopped before the benchmark did");
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir;
    std::string sample = KESTRO_SAMPLE;
    if (!initialiseBenchmark(argc, argv, {{"--dir", &dir}, {"--sample", &sample}}, 5))
        return 2;

    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "playback_bench"))
        return 1;
    const fs::path capture = fixtures.path() / captureName();
    if (!fs::exists(capture) && !writeSample(capture, sample,
                                             {"--width", std::to_string(kWidth), "--height", std::to_string(kHeight),
                                              "--frames", std::to_string(kFrames), "--dropped", "none"})) {
        std::fprintf(stderr, "playback_bench: cannot write the fixture capture\n");
        return 1;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication qtApp(qtArgc, argv);
    const fs::path settings = fixtures.path() / "settings";
    fs::create_directories(settings);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.string()));
    kestro::ui::setMessageHandler(recordMessage);

    benchmark::RegisterBenchmark("PlayFastest", benchPlayFastest, capture)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("PeerStepSource", benchStepSource, capture, true, kFrames)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime()
        ->MeasureProcessCPUTime();

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kestro::ui::setMessageHandler({});
    for (const std::string& e : reporter.errors())
        std::fprintf(stderr, "playback_bench: %s\n", e.c_str());
    if (!reporter.errors().empty() || g_nMessages != 0)
        return 1;

    std::vector<Row> rows;
    const ProcessTime play = reporter.median("PlayFastest");
    const ProcessTime source = reporter.median("PeerStepSource");
    if (play.wall > 0 && source.wall > 0) {
        const double share = source.wall / play.wall;
        rows.push_back({"Play as fast as possible, RAW colour, 11-DeBayerToRGB, frame view " +
                            fmt("%.0f", g_backlog.view.width()) + fmt("×%.0f, actual size", g_backlog.view.height()),
                        frameRate(play), frameRate(source) + ", the video source alone", fmt("%.2f× its rate", share),
                        "≥ 0.8× its rate", yesNo(share >= 0.8)});
    }
    // The last repetition's counts: a backlog would show as steps ahead of the paints.
    rows.push_back({"… steps taken while a render still waited (last repetition)",
                    fmt("%.0f", double(g_backlog.nOverPending)) + fmt(" of %.0f steps", double(g_backlog.nSteps)), "—",
                    "—", "0", yesNo(g_backlog.nOverPending == 0)});
    rows.push_back({"… most steps ever ahead of the pictures painted", fmt("%.0f", double(g_backlog.nMostAhead)), "—",
                    "—", "≤ 1", yesNo(g_backlog.nMostAhead <= 1)});
    rows.push_back({"… list paints a picture shown",
                    fmt("%.2f", double(g_backlog.nListPaints) / std::max(g_backlog.nShown, 1)), "—", "—", "≤ 1",
                    yesNo(g_backlog.nListPaints <= g_backlog.nShown + 1)});
    std::printf("\nMedians over the repetitions, interleaved with the peer's.\n");
    printTable(rows);
    return 0;
}
