// shell_bench: the frame list and the frame view in the real main window, on Qt's offscreen
// platform.
//
//   shell_bench [--dir DIR] [--sample PATH] [--benchmark_... flags]
//
// Filling: a capture of 1,000,000 frames (2x2 pixels, so the file is small) is opened once;
// each iteration empties the list and fills it again with FillFrameList, which asks the video
// source about every frame, resets the model, makes frame 0 current and repaints. The heap a
// fresh list grows by when filled, divided by the frames, is the memory figure. The peer is
// Qt's stock item model (QStandardItemModel) given one checkable item per frame in one call.
//
// Stepping: the 300-frame 1920x1080 capture of the video source benchmark (the same file when
// DIR is shared), in RAW colour with algorithm 11, in a window of 1920x1080 (the whole frame
// drawn) and in one of the start-up size, each at actual size and at Fit to Window (the frame
// scaled down to the pane, smoothed). One iteration is one Down key sent to the frame list
// and the events handled until the frame view has painted. The peer is the video source alone
// stepping through the same capture in the same run (GoToFrame and GetFrameBitmap), so the
// difference is what the windows cost on top. The full-HD window also steps in RAW Y-channel
// (against the video source alone in that mode), and in both modes with display levels set,
// which must cost little on top of the same step without them. The last thing printed is a Markdown table for
// docs/PERFORMANCE.md.
#include "bench_report.h"
#include "source_step.h"
#include "frame_list_model.h"
#include "frame_scoring.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "message_box.h"
#include "resource_ids.h"

#include <QApplication>
#include <QListView>
#include <QStandardItemModel>
#include <QKeyEvent>
#include <QSettings>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

constexpr int kListFrames = 1000000;
constexpr int kStepFrames = 300;
constexpr int kStepWidth = 1920;
constexpr int kStepHeight = 1080;

std::string listCaptureName() { return "list-" + std::to_string(kListFrames) + "f-2x2-i420.avi"; }
// The video source benchmark's name for the same capture, so a shared folder holds it once.
std::string stepCaptureName() { return "step-" + std::to_string(kStepFrames) + "f-1920x1080-bg-i420.avi"; }

// Bytes the heap holds now, from glibc: small blocks and those mapped on their own.
double heapBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

bool ensureCapture(const fs::path& path, const std::string& sampleTool, int width, int height, int frames)
{
    if (fs::exists(path)) {
        std::printf("Reusing %s\n", path.c_str());
        return true;
    }
    std::printf("Writing %s\n", path.c_str());
    std::fflush(stdout);
    return writeSample(path, sampleTool,
                       {"--width", std::to_string(width), "--height", std::to_string(height), "--frames",
                        std::to_string(frames), "--dropped", "none"});
}

// A message means the document took another path than the one being timed.
int g_nMessages = 0;

kestro::ui::Answer recordMessage(const kestro::ui::Message& m)
{
    std::fprintf(stderr, "shell_bench: message \"%s: %s\"\n", m.caption.c_str(), m.text.c_str());
    ++g_nMessages;
    return kestro::ui::cautiousAnswer(m.buttons);
}

// The program as the user starts it, with one capture open.
class Program {
public:
    explicit Program(const fs::path& capture)
    {
        m_app.InitInstance({QString::fromStdString(capture.string())});
        // The window scores the capture's frames in the background as soon as it opens; these
        // figures are of the list and the view (scoring has its own benchmark), so it is
        // stopped before anything is timed.
        list().GetScoring().Clear();
        QCoreApplication::processEvents();
    }
    CMainFrame& frame() { return *m_app.GetMainFrame(); }
    CKestroDoc& doc() { return *m_app.GetDocument(); }
    CLeftView& list() { return *frame().GetFrameList(); }

private:
    CKestroApp m_app;
};

// Counts the paints the frame view receives.
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

// Figures measured once per run rather than timed: heap bytes a frame, and the frame view's
// size while stepping.
double g_listBytesPerFrame = 0;
double g_peerBytesPerFrame = 0;
std::map<std::string, QSize> g_viewSizes;

void benchFill(benchmark::State& state, fs::path capture)
{
    Program program(capture);
    CLeftView& list = program.list();
    if (list.model()->rowCount() != kListFrames || g_nMessages != 0) {
        state.SkipWithError("the capture did not open with its frames");
        return;
    }
    // Memory: a list that has never held rows, filled once. The window's own list cannot show
    // it, because Qt keeps the capacity of its row tables once they have grown.
    {
        const double before = heapBytes();
        CLeftView fresh(program.doc());
        fresh.FillFrameList();
        g_listBytesPerFrame = (heapBytes() - before) / kListFrames;
        program.doc().m_pFrameList = &list;
    }
    for (auto _ : state) {
        state.PauseTiming();
        list.GetModel().Reset({});
        QCoreApplication::processEvents();
        state.ResumeTiming();

        list.FillFrameList();
        QCoreApplication::processEvents();
    }
    if (list.model()->rowCount() != kListFrames)
        state.SkipWithError("the fill lost rows");
}

// What the fill asks the video source, alone: FindDataFrame for every frame.
void benchFindDataFrame(benchmark::State& state, fs::path capture)
{
    CVideoSource source;
    if (!source.Open(capture.string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    for (auto _ : state) {
        std::int32_t nTicked = 0;
        const std::int32_t nCount = source.GetFrameCount();
        for (std::int32_t i = 0; i < nCount; ++i)
            nTicked += source.FindDataFrame(i) == i;
        benchmark::DoNotOptimize(nTicked);
    }
}

// Qt's stock item model: one checkable item per frame, handed over in one call, in a list
// view with uniform rows (its fastest layout).
void benchFillStandardModel(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const double before = heapBytes();
        {
            QStandardItemModel model;
            QListView view;
            view.setUniformItemSizes(true);
            view.setModel(&model);
            view.resize(130, 600);
            view.show();
            QCoreApplication::processEvents();
            state.ResumeTiming();

            QList<QStandardItem*> items;
            items.reserve(kListFrames);
            for (int i = 0; i < kListFrames; ++i) {
                auto* pItem = new QStandardItem(QString::asprintf("frame %.4d", i));
                pItem->setCheckable(true);
                pItem->setCheckState(Qt::Checked);
                items.append(pItem);
            }
            view.setUpdatesEnabled(false);
            model.appendColumn(items);
            view.setUpdatesEnabled(true);
            view.repaint();
            QCoreApplication::processEvents();

            state.PauseTiming();
            g_peerBytesPerFrame = (heapBytes() - before) / kListFrames;
        }
        state.ResumeTiming();
    }
}

void benchStepShell(benchmark::State& state, fs::path capture, std::string name, QSize window, bool bFit, bool bColour)
{
    Program program(capture);
    program.frame().resize(window);
    program.frame().OnCommand(bColour ? ids::IDC_DISPLAY_RAW_COLOUR : ids::IDC_DISPLAY_RAW_Y);
    if (bFit)
        program.frame().OnCommand(ids::ID_VIEW_FIT);
    CLeftView& list = program.list();
    CKestroView& view = *program.frame().GetFrameView();
    QCoreApplication::processEvents();
    if (list.model()->rowCount() != kStepFrames || !program.doc().m_videoSource.m_bRaw ||
        program.doc().m_videoSource.m_bRawColour != bColour ||
        program.doc().m_nSelAlgorithm != CCfaConverter::kOwnAlgorithm || g_nMessages != 0) {
        state.SkipWithError("the capture did not open in the RAW mode asked for");
        return;
    }
    g_viewSizes[name] = view.size();
    // A stretch of the kind Auto gives a dim capture, with the shadows lifted.
    if (name.ends_with("Levels"))
        view.SetLevels({16, 200, 1.5});
    PaintCounter paints(&view);
    list.setFocus();
    auto startOver = [&] {
        list.clearSelection();
        list.selectRow(0);
        program.doc().SetCurrentFrame(0);
        QCoreApplication::processEvents();
    };
    startOver();
    std::int32_t nRow = 0;
    for (auto _ : state) {
        if (nRow == kStepFrames - 1) {
            state.PauseTiming();
            startOver();
            nRow = 0;
            state.ResumeTiming();
        }
        const int nBefore = paints.nPaints;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(&list, &press);
        while (paints.nPaints == nBefore)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        ++nRow;
    }
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
    if (program.doc().m_videoSource.GetCurrentPosition() != nRow || g_nMessages != 0)
        state.SkipWithError("the steps did not reach the frames they should");
}

std::string milliseconds(const ProcessTime& t)
{
    return fmt("%.1f ms", t.wall * 1e3) + fmt(" (CPU %.1f ms)", t.cpu * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir;
    std::string sample = KESTRO_SAMPLE;
    if (!initialiseBenchmark(argc, argv, {{"--dir", &dir}, {"--sample", &sample}}, 5))
        return 2;

    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "shell_bench"))
        return 1;
    const fs::path listCapture = fixtures.path() / listCaptureName();
    const fs::path stepCapture = fixtures.path() / stepCaptureName();
    if (!ensureCapture(listCapture, sample, 2, 2, kListFrames) ||
        !ensureCapture(stepCapture, sample, kStepWidth, kStepHeight, kStepFrames)) {
        std::fprintf(stderr, "shell_bench: cannot write the fixture captures\n");
        return 1;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication qtApp(qtArgc, argv);
    // The recent-file list of a run must not land in the user's settings.
    const fs::path settings = fixtures.path() / "settings";
    fs::create_directories(settings);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.string()));
    kestro::ui::setMessageHandler(recordMessage);

    const QSize fullHd(kStepWidth, kStepHeight);
    const QSize usual(1100, 760); // the window's size at start-up on a large enough screen
    benchmark::RegisterBenchmark("Fill", benchFill, listCapture)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("FillFindDataFrame", benchFindDataFrame, listCapture)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("PeerFillStandardModel", benchFillStandardModel)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    const struct {
        std::string name;
        QSize window;
        bool bFit;
        bool bColour;
    } steps[] = {
        {"StepFullHdWindow", fullHd, false, true},       {"StepFullHdWindowRawY", fullHd, false, false},
        {"StepFullHdWindowLevels", fullHd, false, true}, {"StepFullHdWindowRawYLevels", fullHd, false, false},
        {"StepUsualWindow", usual, false, true},         {"StepFullHdWindowFit", fullHd, true, true},
        {"StepUsualWindowFit", usual, true, true},
    };
    for (const auto& [name, window, bFit, bColour] : steps)
        benchmark::RegisterBenchmark(name.c_str(), benchStepShell, stepCapture, name, window, bFit, bColour)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    for (const auto& [name, bColour] : {std::pair{"PeerStepSource", true}, std::pair{"PeerStepSourceRawY", false}})
        benchmark::RegisterBenchmark(name, benchStepSource, stepCapture, bColour, kStepFrames)
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
        std::fprintf(stderr, "shell_bench: %s\n", e.c_str());
    if (!reporter.errors().empty() || g_nMessages != 0)
        return 1;

    std::vector<Row> rows;
    const ProcessTime fill = reporter.median("Fill");
    const ProcessTime peerFill = reporter.median("PeerFillStandardModel");
    const ProcessTime find = reporter.median("FillFindDataFrame");
    if (fill.wall > 0) {
        rows.push_back({"Fill the frame list, 1,000,000 frames", milliseconds(fill),
                        peerFill.wall > 0 ? milliseconds(peerFill) + ", QStandardItemModel in a QListView" : "—",
                        peerFill.wall > 0 ? fmt("%.0f×", peerFill.wall / fill.wall) : "—", "< 100 ms",
                        yesNo(fill.wall < 0.1)});
        rows.push_back({"Memory of the filled list", fmt("%.1f bytes a frame", g_listBytesPerFrame),
                        fmt("%.0f bytes a frame", g_peerBytesPerFrame), "—", "< 16 bytes a frame",
                        yesNo(g_listBytesPerFrame < 16)});
    }
    if (find.wall > 0)
        rows.push_back({"… of the fill: FindDataFrame for every frame", milliseconds(find), "—", "—", "—", "info"});
    for (const char* name :
         {"StepFullHdWindow", "StepFullHdWindowRawY", "StepFullHdWindowLevels", "StepFullHdWindowRawYLevels",
          "StepUsualWindow", "StepFullHdWindowFit", "StepUsualWindowFit"}) {
        const std::string strName = name;
        const bool bRawY = strName.find("RawY") != std::string::npos;
        const bool bLevels = strName.ends_with("Levels");
        const ProcessTime source = reporter.median(bRawY ? "PeerStepSourceRawY" : "PeerStepSource");
        const ProcessTime step = reporter.median(name);
        if (step.wall <= 0 || source.wall <= 0)
            continue;
        const QSize view = g_viewSizes[name];
        const bool bGoal = strName.starts_with("StepFullHdWindow") && !strName.ends_with("Fit") && !bLevels;
        const bool bFit = strName.ends_with("Fit");
        rows.push_back({std::string("Step with Down, ") + (bRawY ? "RAW Y-channel" : "RAW colour, 11-DeBayerToRGB") +
                            fmt(", frame view %.0f", view.width()) + fmt("×%.0f", view.height()) +
                            (bFit ? ", Fit to Window" : ", actual size") + (bLevels ? ", levels set" : ""),
                        frameRate(step), frameRate(source) + ", the video source alone",
                        fmt("%.2f× its time", step.wall / source.wall), bGoal ? "≤ 1.25× its time" : "—",
                        bGoal ? yesNo(step.wall <= 1.25 * source.wall) : "info"});
    }
    std::printf("\nMedians over the repetitions, interleaved with the peers'.\n");
    printTable(rows);
    return 0;
}
