// video_source_bench: how fast stepping through a capture goes in every display mode, frame by
// frame in order as holding the Down key in the frame list does, beside ffmpeg decoding the same
// capture to 24-bit timed in the same run.
//
//   video_source_bench [--dir DIR] [--frames N] [--sample PATH] [--benchmark_... flags]
//
// The fixture is a 1920x1080 I420 capture whose Y plane holds a Bayer mosaic ("BG"), written by
// the sample tool (PATH) into DIR (default $KESTRO_BENCH_DIR, else a fresh temporary folder
// removed at the end) and reused when DIR already holds a valid one. N frames (default 300) make
// the long capture; a short one of 30 frames is timed with ffmpeg as well, so that the peer's
// start-up and per-file costs can be told apart from its rate per frame.
//
// A second capture of the same size, written by ffmpeg (testsrc2 as raw yuv420p, 'I420'), is
// stepped in RAW Y-channel and RAW colour beside two peers in the same run: ffmpeg decoding it,
// and reading the same plane bytes of every frame with pread alone, in process (the floor for a
// step that must get the plane out of the page cache).
//
// One benchmark iteration is one step: GoToFrame(i) and GetFrameBitmap(), i running through the
// capture in order and starting again at 0, so a slow de-mosaic steps through fewer frames in
// the same time. Five repetitions of each by default, in random order with the peer's, so that
// a neighbour's build slows both alike. The last thing printed is a Markdown table for
// docs/PERFORMANCE.md.
#include "avi_reader.h"
#include "message_box.h"
#include "bench_report.h"
#include "sample_fixture.h"
#include "process_timing.h"
#include "video_source.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kShortFrames = 30;
// The library's pictures leave out this many pixels on every side.
constexpr int kLibraryMargin = 4;

std::string captureName(int frames) { return "step-" + std::to_string(frames) + "f-1920x1080-bg-i420.avi"; }
std::string ffmpegCaptureName(int frames) { return "ffmpeg-" + std::to_string(frames) + "f-1920x1080-i420.avi"; }

// ---- fixtures ---------------------------------------------------------------------------

// The same size of capture as ffmpeg writes it: its own AVI muxer, its own index.
bool ensureFfmpegCapture(const fs::path& path, int frames)
{
    if (fs::exists(path) && isWholeI420Capture(path, kWidth, kHeight, frames)) {
        std::printf("Reusing %s\n", path.c_str());
        return true;
    }
    std::printf("Writing %s with ffmpeg (%d frames of %dx%d I420)\n", path.c_str(), frames, kWidth, kHeight);
    std::fflush(stdout);
    const std::vector<std::string> args = {
        "ffmpeg",     "-v",
        "error",      "-y",
        "-f",         "lavfi",
        "-i",         "testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + ":rate=25",
        "-frames:v",  std::to_string(frames),
        "-c:v",       "rawvideo",
        "-pix_fmt",   "yuv420p",
        "-vtag",      "I420",
        path.string()};
    return timeProcess(args).has_value() && isWholeI420Capture(path, kWidth, kHeight, frames);
}

// ---- messages ---------------------------------------------------------------------------

// Stepping through a valid capture tells the user nothing. A message means the source took
// another path than the one being timed (a fallback to Normal, a refused conversion), so the
// benchmark that saw it stops with an error and the run fails.
std::vector<kestro::ui::Message> g_messages;

kestro::ui::Answer recordMessage(const kestro::ui::Message& m)
{
    std::fprintf(stderr, "video_source_bench: the video source showed a message: \"%s: %s\"\n", m.caption.c_str(),
                 m.text.c_str());
    g_messages.push_back(m);
    return kestro::ui::cautiousAnswer(m.buttons);
}

// ---- in-process benchmarks --------------------------------------------------------------

struct Mode {
    std::string name;  // benchmark name
    std::string label; // row of the table
    bool raw = false;
    bool colour = false;
    bool grey = false;
    std::int32_t algorithm = CCfaConverter::kOwnAlgorithm;

    // The picture GetFrameBitmap must hand out in this mode.
    int expectedBitCount() const { return grey || (raw && !colour) ? 8 : 24; }
    int expectedWidth() const { return libraryAlgorithm() ? kWidth - 2 * kLibraryMargin : kWidth; }
    int expectedHeight() const { return libraryAlgorithm() ? kHeight - 2 * kLibraryMargin : kHeight; }
    bool libraryAlgorithm() const { return raw && colour && algorithm != CCfaConverter::kOwnAlgorithm; }
};

void benchStep(benchmark::State& state, Mode mode, std::string path)
{
    CVideoSource source;
    if (!source.Open(path)) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    source.m_bRaw = mode.raw;
    source.m_bRawColour = mode.colour;
    source.m_bGreyscale = mode.grey;
    if (mode.colour) {
        source.m_converter.SetAlgorithm(mode.algorithm);
        source.m_converter.SetPattern(0);
    }
    const std::int32_t frames = source.GetFrameCount();

    // One untimed step, on the last frame: the source makes its images for a display mode once
    // per file, and the picture it hands out shows whether the mode is the one asked for.
    source.GoToFrame(frames - 1);
    const BITMAPINFOHEADER* bih = source.GetFrameBitmap();
    if (!g_messages.empty() || !bih) {
        state.SkipWithError(!g_messages.empty() ? "the video source showed a message"
                                                : "the first step gave no picture");
        return;
    }
    if (bih->biBitCount != mode.expectedBitCount() || bih->biWidth != mode.expectedWidth() ||
        bih->biHeight != mode.expectedHeight() || source.m_bRaw != mode.raw) {
        char text[160];
        std::snprintf(text, sizeof text, "a %dx%d %d-bit picture, %dx%d %d-bit expected",
                      static_cast<int>(bih->biWidth), static_cast<int>(bih->biHeight),
                      static_cast<int>(bih->biBitCount), mode.expectedWidth(), mode.expectedHeight(),
                      mode.expectedBitCount());
        state.SkipWithError(text);
        return;
    }

    std::int32_t next = 0;
    for (auto _ : state) {
        if (source.GoToFrame(next) != next) {
            state.SkipWithError("GoToFrame did not make the frame current");
            break;
        }
        bih = source.GetFrameBitmap();
        if (!g_messages.empty() || !bih) {
            state.SkipWithError(!g_messages.empty() ? "the video source showed a message"
                                                    : "GetFrameBitmap gave no picture");
            break;
        }
        benchmark::DoNotOptimize(bih->biSizeImage);
        if (++next == frames)
            next = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// The floor for a RAW step: the plane bytes of frame i (the first W x H bytes of its sample) read
// with one pread into one buffer, i running through the capture as in benchStep. The offsets come
// from the reader's index, so the peer pays nothing for finding them.
void benchPlanePread(benchmark::State& state, std::string path)
{
    std::unique_ptr<kestro::avi::AviReader> reader;
    if (kestro::avi::AviReader::open(path, reader) != AVIERR_OK || reader->streamCount() < 1) {
        state.SkipWithError("cannot read the capture's index");
        return;
    }
    const kestro::avi::SampleIndex& index = reader->stream(0).index;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    const std::size_t plane = static_cast<std::size_t>(kWidth) * kHeight;
    std::vector<std::uint8_t> buffer(plane);
    std::int32_t next = 0;
    for (auto _ : state) {
        const auto& entry = index[next];
        if (::pread(fd, buffer.data(), plane, static_cast<off_t>(entry.offset)) != static_cast<ssize_t>(plane)) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
        if (++next == index.size())
            next = 0;
    }
    ::close(fd);
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// ---- whole processes --------------------------------------------------------------------

// A peer program as a benchmark, so that its repetitions interleave with ours.
void benchProcess(benchmark::State& state, std::vector<std::string> args, int frames)
{
    runPeer(state, args);
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
}

std::vector<std::string> ffmpegDecode(const fs::path& capture)
{
    return {"ffmpeg", "-v", "error", "-i", capture.string(), "-pix_fmt", "bgr24", "-f", "null", "-"};
}

// ---- summary ----------------------------------------------------------------------------

// "812 frames/s (CPU 1.84 ms a frame)" from the seconds a frame takes.
std::string rate(double wallPerFrame, double cpuPerFrame)
{
    return fmt("%.0f frames/s", 1.0 / wallPerFrame) + fmt(" (CPU %.2f ms a frame)", cpuPerFrame * 1e3);
}

struct Options {
    fs::path dir;
    int frames = 300;
    std::string sample = KESTRO_SAMPLE;
};

std::vector<Mode> displayModes()
{
    std::vector<Mode> modes;
    auto both = [&](Mode m) {
        modes.push_back(m);
        m.name += "/greyscale";
        m.label += ", greyscale";
        m.grey = true;
        modes.push_back(m);
    };
    both({"Normal", "Normal (decoded to 24-bit)"});
    both({"RawY", "RAW Y-channel", true});
    both({"RawColour/" + std::string(CCfaConverter::kOwnAlgorithmName),
          "RAW colour, " + std::string(CCfaConverter::kOwnAlgorithmName), true, true});
    const CCfaConverter converter;
    for (const std::string& name : converter.GetAlgorithmNames()) {
        // The library numbers its algorithms by the first two digits of their names.
        if (name.size() < 2 || !std::isdigit(static_cast<unsigned char>(name[0])) ||
            !std::isdigit(static_cast<unsigned char>(name[1])))
            continue;
        both({"RawColour/" + name, "RAW colour, " + name, true, true, false, std::stoi(name.substr(0, 2))});
    }
    return modes;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    std::string dir, frameCount;
    if (!initialiseBenchmark(argc, argv, {{"--dir", &dir}, {"--frames", &frameCount}, {"--sample", &o.sample}}, 5))
        return 2;
    o.dir = dir;
    if (!frameCount.empty())
        o.frames = std::max(kShortFrames + 1, std::atoi(frameCount.c_str()));

    FixtureDir fixtures;
    if (!fixtures.prepare(o.dir, "video_source_bench"))
        return 1;
    o.dir = fixtures.path();

    const fs::path longPath = o.dir / captureName(o.frames);
    const fs::path shortPath = o.dir / captureName(kShortFrames);
    const fs::path ffmpegPath = o.dir / ffmpegCaptureName(o.frames);
    for (const auto& [path, frames] : {std::pair{longPath, o.frames}, std::pair{shortPath, kShortFrames}}) {
        if (!ensureSampleCapture(path, kWidth, kHeight, frames, o.sample) || !warmPageCache(path)) {
            std::fprintf(stderr, "video_source_bench: cannot prepare %s\n", path.c_str());
            return 1;
        }
    }
    if (!ensureFfmpegCapture(ffmpegPath, o.frames) || !warmPageCache(ffmpegPath)) {
        std::fprintf(stderr, "video_source_bench: cannot prepare %s\n", ffmpegPath.c_str());
        return 1;
    }

    kestro::ui::setMessageHandler(recordMessage);
    // ffmpeg's first run loads its libraries from the disk; that belongs to no repetition.
    if (!timeProcess(ffmpegDecode(shortPath))) {
        std::fprintf(stderr, "video_source_bench: ffmpeg cannot decode %s\n", shortPath.c_str());
        return 1;
    }

    const std::vector<Mode> modes = displayModes();
    for (const Mode& m : modes)
        benchmark::RegisterBenchmark(m.name.c_str(), benchStep, m, longPath.string())
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime()
            ->MeasureProcessCPUTime(); // the decoder and the library work on more than one thread
    // The ffmpeg-written capture: RAW modes against reading the plane alone and against ffmpeg.
    // Its Y plane is a test picture, not a mosaic, which changes nothing for the time a step takes.
    const Mode ffmpegModes[] = {{"FfmpegCapture/RawY", "RAW Y-channel", true},
                                {"FfmpegCapture/RawColour", "RAW colour, 11-DeBayerToRGB", true, true}};
    for (const Mode& m : ffmpegModes)
        benchmark::RegisterBenchmark(m.name.c_str(), benchStep, m, ffmpegPath.string())
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("FfmpegCapture/PeerPlanePread", benchPlanePread, ffmpegPath.string())
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("FfmpegCapture/PeerFfmpeg", benchProcess, ffmpegDecode(ffmpegPath), o.frames)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("PeerFfmpeg", benchProcess, ffmpegDecode(longPath), o.frames)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("PeerFfmpegShort", benchProcess, ffmpegDecode(shortPath), kShortFrames)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kestro::ui::setMessageHandler({});

    if (!g_messages.empty() || !reporter.errors().empty()) {
        for (const std::string& e : reporter.errors())
            std::fprintf(stderr, "video_source_bench: %s\n", e.c_str());
        std::fprintf(stderr,
                     "video_source_bench: %zu message(s) from the video source, %zu failed run(s); no figures\n",
                     g_messages.size(), reporter.errors().size());
        return 1;
    }

    const ProcessTime peer = reporter.median("PeerFfmpeg");
    const ProcessTime peerShort = reporter.median("PeerFfmpegShort");
    const double frames = o.frames;
    std::string peerText = "—";
    if (peer.wall > 0)
        peerText = rate(peer.wall / frames, peer.cpu / frames) + ", whole process";

    std::vector<Row> rows;
    for (const Mode& m : modes) {
        const ProcessTime ours = reporter.median(m.name);
        if (ours.wall <= 0)
            continue;
        Row row{"Step through every frame, " + m.label, rate(ours.wall, ours.cpu), peerText, "—", "—", "info"};
        if (peer.wall > 0) {
            const double ratio = peer.wall / frames / ours.wall;
            row.ratio = fmt("%.2f×", ratio);
            if (m.name == "Normal") {
                row.goal = "≥ 1.0× the peer";
                row.met = yesNo(ratio >= 1.0);
            } else if (m.name == "RawY") {
                row.goal = "≥ 3× the peer";
                row.met = yesNo(ratio >= 3.0);
            }
        }
        rows.push_back(row);
    }

    // Two capture lengths separate what ffmpeg pays once per run (loading its libraries,
    // probing the file, setting up the conversion) from what it pays per frame.
    if (peer.wall > 0 && peerShort.wall > 0 && peer.wall > peerShort.wall) {
        const double perFrame = (peer.wall - peerShort.wall) / (frames - kShortFrames);
        const double cpuPerFrame = (peer.cpu - peerShort.cpu) / (frames - kShortFrames);
        const double fixed = peerShort.wall - kShortFrames * perFrame;
        rows.push_back({"Peer's costs once per run (start-up, probing), from its " + std::to_string(kShortFrames) +
                            "- and " + std::to_string(o.frames) + "-frame runs",
                        "—", fmt("%.0f ms", fixed * 1e3) + fmt(" of %.0f ms", peer.wall * 1e3), "—", "—", "info"});
        const std::string steady = rate(perFrame, cpuPerFrame) + ", without its once-per-run costs";
        for (const char* name : {"Normal", "RawY"}) {
            const auto it = std::find_if(modes.begin(), modes.end(), [&](const Mode& m) { return m.name == name; });
            const ProcessTime ours = reporter.median(name);
            if (it != modes.end() && ours.wall > 0)
                rows.push_back({"Step through every frame, " + it->label + ", against the peer's rate per frame",
                                rate(ours.wall, ours.cpu), steady, fmt("%.2f×", perFrame / ours.wall), "—", "info"});
        }
    }

    // The ffmpeg-written capture.
    const ProcessTime pread = reporter.median("FfmpegCapture/PeerPlanePread");
    const ProcessTime ffmpegPeer = reporter.median("FfmpegCapture/PeerFfmpeg");
    for (const Mode& m : ffmpegModes) {
        const ProcessTime ours = reporter.median(m.name);
        if (ours.wall <= 0)
            continue;
        const bool y = !m.colour;
        if (pread.wall > 0) {
            const double ratio = pread.wall / ours.wall;
            rows.push_back({"Step through every frame of the ffmpeg-written capture, " + m.label +
                                ", against reading its plane bytes with pread alone",
                            rate(ours.wall, ours.cpu), rate(pread.wall, pread.cpu) + ", pread of 2,073,600 bytes",
                            fmt("%.2f×", ratio), y ? "≥ 0.9× pread" : "—", y ? yesNo(ratio >= 0.9) : "info"});
        }
        if (ffmpegPeer.wall > 0) {
            const double ratio = ffmpegPeer.wall / frames / ours.wall;
            rows.push_back({"Step through every frame of the ffmpeg-written capture, " + m.label,
                            rate(ours.wall, ours.cpu),
                            rate(ffmpegPeer.wall / frames, ffmpegPeer.cpu / frames) + ", ffmpeg, whole process",
                            fmt("%.2f×", ratio), y ? "≥ 3× the peer" : "—", y ? yesNo(ratio >= 3.0) : "info"});
        }
    }

    std::printf("\nCapture: %d frames of %dx%d I420 (a \"BG\" mosaic in Y), in the page cache; the last rows "
                "step through the same number of frames written by ffmpeg. Medians over the repetitions, "
                "interleaved with the peer's.\n",
                o.frames, kWidth, kHeight);
    printTable(rows);
    return 0;
}
