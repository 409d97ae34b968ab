// export_bench: how fast the export engines write the ticked frames of a 1080p capture, and how
// much memory they hold whatever the number of frames, beside ffmpeg and dd doing the same jobs
// timed in the same run.
//
//   export_bench [--dir DIR] [--out DIR] [--disk-out DIR|none] [--frames N] [--runs R]
//                [--sample PATH] [--benchmark_... flags for the channel split alone]
//   export_bench --export-once KIND MODE INPUT OUTPUT [--report FILE]
//
// The fixtures are I420 captures whose Y plane holds a Bayer mosaic ("BG"), written by the sample
// tool (PATH) into DIR (default $KESTRO_BENCH_DIR, else a fresh temporary folder removed at the
// end) and reused when DIR already holds valid ones: N frames (default 1000) of 1920x1080 for the
// speed, 1,000 and 10,000 frames of 320x240 for the memory.
//
// The goals are checked on outputs written to a file system in memory (--out, default a fresh
// folder in /dev/shm): the page cache takes every byte and nothing is written back, so the figures
// are the programs' own. A 6 GB output on a disk cannot stay in the page cache (the kernel starts
// writing back at a tenth of the memory and holds writers at a fifth), so the same exports to the
// disk (--disk-out, default a fresh folder in DIR) are shown beside them without a verdict.
//
// Every export is a whole process on both sides: this program runs itself with --export-once,
// which opens the capture, sets the display mode (normal, or rawy for RAW Y-channel), ticks every
// frame and runs one engine (avi, bmp, rgb; or open, which only opens the capture and shows its
// first frame). Timing a child puts our start-up in the figure as the peer's is in its own, and
// lets the child's peak memory be read from the child alone: it writes its frame count and VmHWM
// to FILE. Before each run the input is read (untimed), the run's output folder emptied and the
// file systems synced, so that every run, ours or a peer's, starts with its input in the page
// cache and nothing waiting to be written back; after it the output is removed at once.
//
// One untimed round of every command, then R rounds (default 5), each running every command once
// in an order of its own; figures are medians over the rounds. The channel split alone is timed
// in process by Google Benchmark. The last thing printed is a Markdown table for
// docs/PERFORMANCE.md, then the ratios round by round.
#include "bench_report.h"
#include "sample_fixture.h"
#include "channel_split.h"
#include "export_report.h"
#include "message_box.h"
#include "process_timing.h"
#include "video_source.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

struct Size {
    int width, height;
};
constexpr Size kLarge{1920, 1080};
// Small enough that 10,000 frames fit the disk and the time, large enough that a frame (77 KB of
// 24-bit picture) held per exported frame would show at once.
constexpr Size kSmall{320, 240};
constexpr int kMemoryCounts[] = {1000, 10000};

// ---- the child: one export ---------------------------------------------------------------

// The process's peak resident memory so far, from the kernel's own count for this address space
// (fresh at exec, unlike the rusage a parent sees).
long peakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Exit status 0 when every frame was written without a message.
int exportOnce(const std::string& kind, const std::string& mode, const std::string& input, const std::string& output,
               const std::string& reportFile)
{
    int messages = 0;
    kestro::ui::setMessageHandler([&](const kestro::ui::Message& m) {
        std::fprintf(stderr, "export_bench: %s: %s\n", m.caption.c_str(), m.text.c_str());
        ++messages;
        return kestro::ui::cautiousAnswer(m.buttons);
    });
    CVideoSource source;
    if (!source.Open(input))
        return 1;
    source.m_bRaw = mode == "rawy";
    source.m_bRawColour = false;
    // As the window does: every frame ticked in a list the predicate reads, a progress step each.
    const std::vector<bool> ticks(static_cast<std::size_t>(source.GetFrameCount()), true);
    const FramePredicate take = [&](std::int32_t i) { return ticks[static_cast<std::size_t>(i)]; };
    std::int64_t steps = 0;
    const ProgressCallback step = [&] { ++steps; };

    ExportReport report;
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    if (kind == "avi")
        ok = source.SaveFramesAsAvi(output, take, step, &report);
    else if (kind == "bmp")
        ok = source.SaveFramesAsBmp(output, take, step, &report);
    else if (kind == "rgb")
        ok = source.SaveRgbChannels(output, take, step, &report);
    else if (kind == "ser")
        ok = source.SaveFramesAsSer(output, take, step, &report);
    else if (kind == "open") {
        // What the viewer holds before any export: the capture open, its first frame shown.
        ok = source.GetFrameBitmap() != nullptr;
        report.nFramesWritten = source.GetFrameCount();
    } else {
        std::fprintf(stderr, "export_bench: unknown export %s\n", kind.c_str());
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (const auto m = DescribeExport(report))
        std::fprintf(stderr, "export_bench: %s: %s\n", m->caption.c_str(), m->text.c_str());
    ok = ok && report.Complete() && messages == 0 && report.nFramesWritten == source.GetFrameCount();
    if (!reportFile.empty()) {
        std::ofstream out(reportFile);
        out << report.nFramesWritten << ' ' << peakRssKiB() << ' ' << seconds << '\n';
    }
    return ok ? 0 : 1;
}

// ---- fixtures ----------------------------------------------------------------------------

void emptyFolder(const fs::path& dir)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        fs::remove_all(entry.path(), ec);
}

std::uint64_t folderBytes(const fs::path& dir)
{
    std::uint64_t total = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.is_regular_file(ec))
            total += entry.file_size(ec);
    return total;
}

std::uint64_t freeBytes(const fs::path& dir)
{
    struct statvfs s {};
    return statvfs(dir.c_str(), &s) == 0 ? std::uint64_t(s.f_bavail) * s.f_frsize : 0;
}

bool isTmpfs(const fs::path& p)
{
    struct statfs s {};
    return statfs(p.c_str(), &s) == 0 && s.f_type == TMPFS_MAGIC;
}

std::uint64_t memAvailableBytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key, unit;
    std::uint64_t kib = 0;
    while (meminfo >> key >> kib >> unit)
        if (key == "MemAvailable:")
            return kib * 1024;
    return 0;
}

// Room for the largest output (Normal, 24-bit: every frame's picture) and, in memory, beside the
// capture that must stay in the page cache.
bool checkRoom(const fs::path& dir, std::uint64_t need, std::uint64_t inputBytes)
{
    if (freeBytes(dir) < need) {
        std::fprintf(stderr, "export_bench: %s has %.1f GB free, %.1f GB needed\n", dir.c_str(), freeBytes(dir) / 1e9,
                     need / 1e9);
        return false;
    }
    const std::uint64_t memoryNeed = need + inputBytes + (1ull << 30);
    if (isTmpfs(dir) && memAvailableBytes() < memoryNeed) {
        std::fprintf(stderr,
                     "export_bench: %s is in memory, which has %.1f GB available; %.1f GB are needed for the "
                     "output beside the capture\n",
                     dir.c_str(), memAvailableBytes() / 1e9, memoryNeed / 1e9);
        return false;
    }
    return true;
}

// A folder made for this run and removed with everything in it at the end.
class RunFolder {
public:
    RunFolder() = default;
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder()
    {
        std::error_code ec;
        if (!m_path.empty())
            fs::remove_all(m_path, ec);
    }
    bool make(const fs::path& parent)
    {
        std::string tmpl = (parent / "kestro-export-bench.XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            return false;
        m_path = tmpl;
        return true;
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// ---- one command, timed ------------------------------------------------------------------

// A command that writes into a folder of its own. Ours also leaves its frame count, peak memory
// and the time of the export call alone in a report file.
struct Job {
    std::string name;
    std::vector<std::string> command;
    fs::path input;
    fs::path outDir;
    fs::path reportFile; // empty for a peer
    int frames = 0;
    std::uint64_t minOutputBytes = 0; // what a complete output cannot be smaller than
};

struct Outcome {
    ProcessTime time;
    long peakKiB = 0;       // ours: the child's VmHWM; a peer: its ru_maxrss
    double callSeconds = 0; // ours: the export call alone, inside the child
};

// Untimed: reads the input (this machine pages out file pages left unread for a minute), empties
// the job's folder and syncs. Then runs the job, checks what it wrote and empties the folder
// again, so that a 6 GB output neither fills the disk nor waits to be written back while the next
// command runs: removing a file whose pages are still dirty drops them unwritten.
std::optional<Outcome> runJob(const Job& job, std::string& why)
{
    if (!warmPageCache(job.input)) {
        why = "cannot read " + job.input.string();
        return std::nullopt;
    }
    emptyFolder(job.outDir);
    std::error_code ec;
    fs::remove(job.reportFile, ec);
    ::sync();
    const auto t = timeProcess(job.command);
    const std::uint64_t written = folderBytes(job.outDir);
    emptyFolder(job.outDir);
    if (!t) {
        why = job.command[0] + " failed";
        return std::nullopt;
    }
    Outcome o{*t, t->maxRssKiB, 0};
    if (!job.reportFile.empty()) {
        std::ifstream in(job.reportFile);
        int frames = -1;
        if (!(in >> frames >> o.peakKiB >> o.callSeconds) || frames != job.frames) {
            why = "the export wrote " + std::to_string(frames) + " of " + std::to_string(job.frames) + " frames";
            return std::nullopt;
        }
    }
    if (written < job.minOutputBytes) {
        why =
            "wrote " + std::to_string(written) + " bytes, at least " + std::to_string(job.minOutputBytes) + " expected";
        return std::nullopt;
    }
    return o;
}

// Makes the commands of one run: ours run this program with --export-once, a peer's command names
// its input and has "OUT/" where its output folder goes. Every job writes into a folder of its own
// under `root`.
struct JobMaker {
    std::string self;
    fs::path root;

    fs::path folder(const std::string& name) const
    {
        std::string safe = name;
        std::replace(safe.begin(), safe.end(), '/', '-');
        fs::path p = root / safe;
        std::error_code ec;
        fs::create_directories(p, ec);
        return p;
    }
    Job ours(const std::string& name, const char* kind, const char* mode, const fs::path& input,
             const std::string& file, int frames, std::uint64_t minBytes) const
    {
        const fs::path d = folder(name);
        const fs::path report = d.string() + ".report";
        return Job{
            name,
            {self, "--export-once", kind, mode, input.string(), (d / file).string(), "--report", report.string()},
            input,
            d,
            report,
            frames,
            minBytes};
    }
    Job peer(const std::string& name, const fs::path& input, std::vector<std::string> command, int frames,
             std::uint64_t minBytes) const
    {
        const fs::path d = folder(name);
        for (auto& a : command) {
            if (a.rfind("OUT/", 0) == 0)
                a = (d / a.substr(4)).string();
            else if (a.rfind("of=OUT/", 0) == 0)
                a = "of=" + (d / a.substr(7)).string();
        }
        return Job{name, command, input, d, {}, frames, minBytes};
    }
};

std::vector<std::string> ffmpegToAvi(const fs::path& input)
{
    return {"ffmpeg", "-v",       "error",    "-y",    "-i",         input.string(),
            "-c:v",   "rawvideo", "-pix_fmt", "bgr24", "OUT/out.avi"};
}

std::vector<std::string> ffmpegToBmp(const fs::path& input)
{
    return {"ffmpeg", "-v", "error", "-y", "-i", input.string(), "-pix_fmt", "bgr24", "OUT/out_%04d.bmp"};
}

// The exports of the 1080p capture and their peers; `suffix` tells the disk's runs apart.
std::vector<Job> speedJobs(const JobMaker& make, const std::string& suffix, const fs::path& input, int frames,
                           bool withFixedCosts)
{
    const std::uint64_t picture24 = std::uint64_t(kLarge.width) * kLarge.height * 3;
    const std::uint64_t picture8 = std::uint64_t(kLarge.width) * kLarge.height;
    const std::uint64_t all24 = picture24 * frames;
    std::vector<Job> jobs = {
        make.ours("AviNormal" + suffix, "avi", "normal", input, "out.avi", frames, all24),
        make.ours("AviRawY" + suffix, "avi", "rawy", input, "out.avi", frames, picture8 * frames),
        make.ours("BmpNormal" + suffix, "bmp", "normal", input, "out.bmp", frames, all24),
        make.ours("RgbNormal" + suffix, "rgb", "normal", input, "out.avi", frames, all24),
        make.peer("PeerFfmpegAvi" + suffix, input, ffmpegToAvi(input), frames, all24),
        make.peer("PeerFfmpegBmp" + suffix, input, ffmpegToBmp(input), frames, all24),
        make.peer("PeerDd" + suffix, input, {"dd", "if=" + input.string(), "of=OUT/copy.avi", "bs=4M"}, frames,
                  fs::file_size(input)),
        // The SER file of the stored planes holds as many bytes as the planes: dd copies that many.
        make.ours("SerRawY" + suffix, "ser", "rawy", input, "out.ser", frames, picture8 * frames),
        make.peer("PeerDdPlanes" + suffix, input,
                  {"dd", "if=" + input.string(), "of=OUT/copy.ser", "bs=4M", "iflag=count_bytes",
                   "count=" + std::to_string(picture8 * frames)},
                  frames, picture8 * frames),
    };
    if (withFixedCosts) {
        jobs.push_back(make.ours("OpenOnly" + suffix, "open", "normal", input, "unused", frames, 0));
        // One frame: what ffmpeg spends once per run (start-up, probing, setting up the conversion).
        std::vector<std::string> one = ffmpegToAvi(input);
        one.insert(one.end() - 1, {"-frames:v", "1"});
        jobs.push_back(make.peer("PeerFfmpegAvi1Frame" + suffix, input, one, 1, picture24));
    }
    return jobs;
}

using Results = std::map<std::string, std::vector<Outcome>>;

// One untimed round of every job, then `runs` rounds, each running every job once in an order of
// its own, so that a neighbour's build that starts or stops between rounds slows ours and the
// peers alike, and round k of ours can be set against round k of a peer. The untimed round loads
// the programs' libraries from the disk, and the first pages a large write takes cost more in
// this virtual machine than reused ones.
bool runRounds(const std::vector<Job>& jobs, int runs, Results& results)
{
    std::vector<std::size_t> order(jobs.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::mt19937 shuffle(20261210);
    for (int round = -1; round < runs; ++round) {
        if (round >= 0)
            std::shuffle(order.begin(), order.end(), shuffle);
        for (std::size_t i : order) {
            const Job& job = jobs[i];
            std::string why;
            const auto o = runJob(job, why);
            if (!o) {
                std::fprintf(stderr, "export_bench: %s: %s\n", job.name.c_str(), why.c_str());
                return false;
            }
            if (round < 0) {
                std::printf("warm-up   %-24s %8.0f ms\n", job.name.c_str(), o->time.wall * 1e3);
            } else {
                std::printf("round %d/%d %-24s %8.0f ms  CPU %8.0f ms  peak %6.1f MiB\n", round + 1, runs,
                            job.name.c_str(), o->time.wall * 1e3, o->time.cpu * 1e3, o->peakKiB / 1024.0);
                results[job.name].push_back(*o);
            }
            std::fflush(stdout);
        }
    }
    return true;
}

struct Summary {
    ProcessTime time;
    long peakKiB = 0;
    double callSeconds = 0;
};

Summary summarise(const Results& results, const std::string& name)
{
    const auto it = results.find(name);
    if (it == results.end() || it->second.empty())
        return {};
    std::vector<ProcessTime> times;
    std::vector<double> peaks, calls;
    for (const Outcome& o : it->second) {
        times.push_back(o.time);
        peaks.push_back(static_cast<double>(o.peakKiB));
        calls.push_back(o.callSeconds);
    }
    return {medianOf(times), static_cast<long>(median(peaks)), median(calls)};
}

// Round by round, the first job's time over the second's, e.g. the peer's over ours.
std::vector<double> roundRatios(const Results& results, const std::string& over, const std::string& under)
{
    std::vector<double> r;
    const auto a = results.find(over), b = results.find(under);
    if (a == results.end() || b == results.end())
        return r;
    for (std::size_t k = 0; k < a->second.size() && k < b->second.size(); ++k)
        r.push_back(a->second[k].time.wall / b->second[k].time.wall);
    return r;
}

// ---- memory ------------------------------------------------------------------------------

constexpr int kMemoryRuns = 5;

struct MemoryCase {
    std::string label;
    const char* kind;
    const char* mode;
    std::string file;
    int aviFiles; // AVI files written, each with an index of 24 bytes a frame
    std::uint64_t bytesPerFrame;
    bool peer; // ffmpeg does the same export in the same runs
};

const std::vector<MemoryCase>& memoryCases()
{
    const std::uint64_t small24 = std::uint64_t(kSmall.width) * kSmall.height * 3;
    const std::uint64_t small8 = std::uint64_t(kSmall.width) * kSmall.height;
    static const std::vector<MemoryCase> cases = {
        {"AVI, RAW Y-channel", "avi", "rawy", "out.avi", 1, small8, false},
        {"BMP series, RAW Y-channel", "bmp", "rawy", "out.bmp", 0, small8, false},
        {"AVI, Normal", "avi", "normal", "out.avi", 1, small24, true},
        {"BMP series, Normal", "bmp", "normal", "out.bmp", 0, small24, true},
        {"RGB channels, Normal", "rgb", "normal", "out.avi", 3, small24, false},
        {"Capture open, first frame shown (no export)", "open", "normal", "unused", 0, 0, false},
    };
    return cases;
}

// Peak memory of every case at both frame counts: the median of kMemoryRuns rounds, each running
// every case once. Keys "label/frames", ffmpeg's "peer/label/frames".
bool measureMemory(const JobMaker& make, const fs::path& dir, std::map<std::string, long>& peaks)
{
    std::map<std::string, std::vector<double>> runs;
    for (int run = 0; run < kMemoryRuns; ++run) {
        for (int n : kMemoryCounts) {
            const fs::path input = dir / sampleCaptureName(kSmall.width, kSmall.height, n);
            const std::string count = "/" + std::to_string(n);
            for (const MemoryCase& c : memoryCases()) {
                std::vector<std::pair<std::string, Job>> jobs = {
                    {c.label + count, make.ours("Memory", c.kind, c.mode, input, c.file, n, c.bytesPerFrame * n)}};
                if (c.peer)
                    jobs.push_back({"peer/" + c.label + count,
                                    make.peer("Memory", input,
                                              std::string(c.kind) == "avi" ? ffmpegToAvi(input) : ffmpegToBmp(input), n,
                                              c.bytesPerFrame * n)});
                for (const auto& [key, job] : jobs) {
                    std::string why;
                    const auto got = runJob(job, why);
                    if (!got) {
                        std::fprintf(stderr, "export_bench: %s: %s\n", key.c_str(), why.c_str());
                        return false;
                    }
                    runs[key].push_back(static_cast<double>(got->peakKiB));
                }
            }
        }
    }
    for (const auto& [key, v] : runs)
        peaks[key] = static_cast<long>(median(v));
    return true;
}

// ---- the channel split alone -------------------------------------------------------------

// One 1920x1080 24-bit frame split row by row, as the RGB channel export does, on one core; and
// a copy of the same bytes (the frame into one buffer of its size) as the bound: the split reads
// and writes as many bytes as that copy does.
struct SplitBuffers {
    static constexpr std::size_t kWidth = 1920, kRows = 1080, kStride = 3 * kWidth, kPixels = kWidth * kRows;
    std::vector<std::uint8_t> bgr = std::vector<std::uint8_t>(kStride * kRows);
    std::vector<std::uint8_t> planes = std::vector<std::uint8_t>(3 * kPixels);
    SplitBuffers()
    {
        for (std::size_t k = 0; k < bgr.size(); ++k)
            bgr[k] = static_cast<std::uint8_t>(k * 7 + k / 4099);
    }
};

void benchSplit(benchmark::State& state)
{
    SplitBuffers b;
    const std::size_t n = SplitBuffers::kPixels;
    for (auto _ : state) {
        for (std::size_t y = 0; y < SplitBuffers::kRows; ++y) {
            const std::size_t at = y * SplitBuffers::kWidth;
            kestro::exports::SplitChannels(b.bgr.data() + y * SplitBuffers::kStride, SplitBuffers::kWidth,
                                           b.planes.data() + at, b.planes.data() + n + at,
                                           b.planes.data() + 2 * n + at);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t(b.bgr.size()));
}

void benchCopy(benchmark::State& state)
{
    SplitBuffers b;
    for (auto _ : state) {
        std::memcpy(b.planes.data(), b.bgr.data(), b.bgr.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * std::int64_t(b.bgr.size()));
}

// ---- summary -----------------------------------------------------------------------------

std::string rate(const ProcessTime& t, int frames)
{
    return fmt("%.0f frames/s", frames / t.wall) + fmt(" (CPU %.2f ms a frame)", t.cpu / frames * 1e3);
}

std::string mib(double kib) { return fmt("%.1f MiB", kib / 1024.0); }

std::string listed(const std::vector<double>& v)
{
    std::string s;
    for (double x : v)
        s += fmt(s.empty() ? "%.2f" : " %.2f", x);
    return s;
}

struct Options {
    fs::path dir;     // fixtures
    fs::path out;     // the outputs the goals are checked on: a file system in memory
    fs::path diskOut; // the same exports to a disk, for comparison; empty: not run
    int frames = 1000;
    int runs = 5;
    std::string sample = KESTRO_SAMPLE;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 6 && std::strcmp(argv[1], "--export-once") == 0) {
        const std::string report = argc >= 8 && std::strcmp(argv[6], "--report") == 0 ? argv[7] : "";
        return exportOnce(argv[2], argv[3], argv[4], argv[5], report);
    }

    Options o;
    std::string dir, out, diskOut, frameCount, runCount;
    if (!initialiseBenchmark(argc, argv,
                             {{"--dir", &dir},
                              {"--out", &out},
                              {"--disk-out", &diskOut},
                              {"--frames", &frameCount},
                              {"--runs", &runCount},
                              {"--sample", &o.sample}},
                             5))
        return 2;
    if (!frameCount.empty())
        o.frames = std::max(2, std::atoi(frameCount.c_str()));
    if (!runCount.empty())
        o.runs = std::max(1, std::atoi(runCount.c_str()));

    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "export_bench"))
        return 1;
    o.dir = fixtures.path();
    RunFolder memoryFolder, diskFolder;
    if (!out.empty()) {
        o.out = out;
    } else if (isTmpfs("/dev/shm") && memoryFolder.make("/dev/shm")) {
        o.out = memoryFolder.path();
    } else {
        std::fprintf(stderr, "export_bench: /dev/shm is not a file system in memory; name one with --out DIR\n");
        return 1;
    }
    if (diskOut != "none") {
        if (!diskOut.empty())
            o.diskOut = diskOut;
        else if (diskFolder.make(o.dir))
            o.diskOut = diskFolder.path();
    }

    const fs::path large = o.dir / sampleCaptureName(kLarge.width, kLarge.height, o.frames);
    bool ready = ensureSampleCapture(large, kLarge.width, kLarge.height, o.frames, o.sample);
    for (int n : kMemoryCounts)
        ready = ready && ensureSampleCapture(o.dir / sampleCaptureName(kSmall.width, kSmall.height, n), kSmall.width,
                                             kSmall.height, n, o.sample);
    if (!ready) {
        std::fprintf(stderr, "export_bench: cannot prepare the fixtures in %s\n", o.dir.c_str());
        return 1;
    }
    const std::uint64_t need = std::uint64_t(kLarge.width) * kLarge.height * 3 * o.frames + (64u << 20);
    std::error_code ec;
    for (const fs::path& d : {o.out, o.diskOut}) {
        if (d.empty())
            continue;
        fs::create_directories(d, ec);
        if (!checkRoom(d, need, fs::file_size(large)))
            return 1;
    }

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const JobMaker inMemory{self, o.out};
    std::vector<Job> jobs = speedJobs(inMemory, "", large, o.frames, true);
    if (!o.diskOut.empty())
        for (Job& j : speedJobs(JobMaker{self, o.diskOut}, "/disk", large, o.frames, false))
            jobs.push_back(std::move(j));

    // The memory runs come first, while this process is still small: a peer's ru_maxrss is never
    // below the high-water mark of the process that started it.
    std::printf("Memory: every export in %d rounds at 1,000 and 10,000 frames of %dx%d\n", kMemoryRuns, kSmall.width,
                kSmall.height);
    std::fflush(stdout);
    std::map<std::string, long> memory;
    if (!measureMemory(inMemory, o.dir, memory))
        return 1;
    const long harnessKiB = peakRssKiB();

    Results results;
    if (!runRounds(jobs, o.runs, results))
        return 1;

    // The channel split alone, in process.
    benchmark::RegisterBenchmark("SplitChannels", benchSplit)->Unit(benchmark::kMillisecond)->MinTime(0.5);
    benchmark::RegisterBenchmark("CopyFrame", benchCopy)->Unit(benchmark::kMillisecond)->MinTime(0.5);
    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.errors().empty()) {
        for (const std::string& e : reporter.errors())
            std::fprintf(stderr, "export_bench: %s\n", e.c_str());
        return 1;
    }

    // ---- the table ----
    const int n = o.frames;
    const std::string frames = std::to_string(n) + " frames";
    std::vector<Row> rows;
    std::vector<std::string> notes;

    // Ours: rate, CPU, peak memory and the export call alone (what the program spends once the
    // capture is open, without this process's start-up).
    auto oursText = [&](const Summary& s) {
        return rate(s.time, n) + ", peak " + mib(s.peakKiB) +
               fmt("; the export call alone %.0f frames/s", n / s.callSeconds);
    };
    auto peerText = [&](const Summary& s, const std::string& what, bool peak) {
        return rate(s.time, n) + ", " + what + (peak ? ", peak " + mib(s.peakKiB) : "");
    };
    // The exports against their peers; on the disk the same comparisons are shown for what the
    // disk does to them, without a verdict.
    auto speedRows = [&](const std::string& suffix, const std::string& where) {
        const bool goals = suffix.empty();
        auto add = [&](const char* goal, bool met, std::string what, std::string ours, std::string peer,
                       std::string ratio, const std::string& over, const std::string& under) {
            rows.push_back({what, ours, peer, ratio, goals ? goal : "—", goals ? yesNo(met) : "info"});
            notes.push_back(what + ": " + listed(roundRatios(results, over + suffix, under + suffix)));
        };
        const Summary aviNormal = summarise(results, "AviNormal" + suffix);
        const Summary aviRaw = summarise(results, "AviRawY" + suffix);
        const Summary bmp = summarise(results, "BmpNormal" + suffix);
        const Summary rgb = summarise(results, "RgbNormal" + suffix);
        const Summary ffAvi = summarise(results, "PeerFfmpegAvi" + suffix);
        const Summary ffBmp = summarise(results, "PeerFfmpegBmp" + suffix);
        const Summary dd = summarise(results, "PeerDd" + suffix);
        const Summary serRaw = summarise(results, "SerRawY" + suffix);
        const Summary ddPlanes = summarise(results, "PeerDdPlanes" + suffix);
        if (aviNormal.time.wall > 0 && ffAvi.time.wall > 0) {
            const double r = ffAvi.time.wall / aviNormal.time.wall;
            add("≥ 1.0× the peer", r >= 1.0, "AVI, Normal (decoded to 24-bit), " + frames + where, oursText(aviNormal),
                peerText(ffAvi, "ffmpeg to raw BGR AVI", true), fmt("%.2f×", r), "PeerFfmpegAvi", "AviNormal");
        }
        if (aviRaw.time.wall > 0 && ffAvi.time.wall > 0) {
            const double r = ffAvi.time.wall / aviRaw.time.wall;
            add("≥ 3× the peer", r >= 3.0, "AVI, RAW Y-channel (8-bit), " + frames + where, oursText(aviRaw),
                peerText(ffAvi, "ffmpeg to raw BGR AVI (Normal's peer)", false), fmt("%.2f×", r), "PeerFfmpegAvi",
                "AviRawY");
        }
        if (aviRaw.time.wall > 0 && dd.time.wall > 0) {
            const double r = aviRaw.time.wall / dd.time.wall;
            add("≤ 1.5× its time", r <= 1.5, "AVI, RAW Y-channel, against copying the capture" + where,
                fmt("%.2f s", aviRaw.time.wall) + fmt(" (CPU %.2f s)", aviRaw.time.cpu),
                fmt("%.2f s", dd.time.wall) + fmt(" (CPU %.2f s), dd bs=4M, ", dd.time.cpu) +
                    fmt("%.2f GB/s", fs::file_size(large) / 1e9 / dd.time.wall),
                fmt("%.2f× its time", r), "AviRawY", "PeerDd");
        }
        if (serRaw.time.wall > 0 && ddPlanes.time.wall > 0) {
            const double r = serRaw.time.wall / ddPlanes.time.wall;
            const double bytes = double(kLarge.width) * kLarge.height * n;
            add("≤ 1.3× its time", r <= 1.3,
                "SER, RAW Y-channel (the stored planes), against copying as many bytes" + where,
                fmt("%.2f s", serRaw.time.wall) + fmt(" (CPU %.2f s), peak ", serRaw.time.cpu) + mib(serRaw.peakKiB),
                fmt("%.2f s", ddPlanes.time.wall) +
                    fmt(" (CPU %.2f s), dd bs=4M of the capture's first ", ddPlanes.time.cpu) +
                    fmt("%.2f GB", bytes / 1e9),
                fmt("%.2f× its time", r), "SerRawY", "PeerDdPlanes");
        }
        if (bmp.time.wall > 0 && ffBmp.time.wall > 0) {
            const double r = ffBmp.time.wall / bmp.time.wall;
            add("≥ 1.0× the peer", r >= 1.0, "BMP series, Normal, " + frames + where, oursText(bmp),
                peerText(ffBmp, "ffmpeg to BMP files", true), fmt("%.2f×", r), "PeerFfmpegBmp", "BmpNormal");
        }
        if (rgb.time.wall > 0 && aviNormal.time.wall > 0) {
            const double r = rgb.time.wall / aviNormal.time.wall;
            add("≤ 1.25× its time", r <= 1.25, "RGB channels, Normal, " + frames + " (three 8-bit AVI files)" + where,
                oursText(rgb), rate(aviNormal.time, n) + ", our AVI export, Normal, in the same run",
                fmt("%.2f× its time", r), "RgbNormal", "AviNormal");
        }
    };
    speedRows("", ", to memory (tmpfs)");
    if (!o.diskOut.empty())
        speedRows("/disk", ", to the disk");

    const ProcessTime split = reporter.median("SplitChannels");
    const ProcessTime copy = reporter.median("CopyFrame");
    if (split.wall > 0 && copy.wall > 0) {
        const double bytes = 3.0 * SplitBuffers::kPixels;
        rows.push_back(
            {"Channel split alone, one 1920×1080 frame, one core (SplitChannels row by row)",
             fmt("%.3f ms", split.wall * 1e3) + fmt(", %.1f GB/s", bytes / split.wall / 1e9),
             fmt("%.3f ms", copy.wall * 1e3) + fmt(", %.1f GB/s, memcpy of the same 6.2 MB", bytes / copy.wall / 1e9),
             fmt("%.2f× its time", split.wall / copy.wall), "—", "info"});
    }
    const Summary open = summarise(results, "OpenOnly");
    const Summary ff1 = summarise(results, "PeerFfmpegAvi1Frame");
    if (open.time.wall > 0 && ff1.time.wall > 0)
        rows.push_back({"Costs once per run: start, open the capture, first frame (ours); a 1-frame export (peer)",
                        fmt("%.0f ms", open.time.wall * 1e3) + fmt(" (CPU %.0f ms)", open.time.cpu * 1e3),
                        fmt("%.0f ms", ff1.time.wall * 1e3) + fmt(" (CPU %.0f ms)", ff1.time.cpu * 1e3), "—", "—",
                        "info"});

    // Memory: what the export holds above the open capture, at 1,000 and at 10,000 frames. The
    // capture's own index (16 bytes a frame) is in both and left out of the growth.
    const std::string base = memoryCases().back().label;
    const std::string few = "/" + std::to_string(kMemoryCounts[0]);
    const std::string many = "/" + std::to_string(kMemoryCounts[1]);
    const double added = kMemoryCounts[1] - kMemoryCounts[0];
    for (const MemoryCase& c : memoryCases()) {
        const long a = memory[c.label + few], b = memory[c.label + many];
        const bool isBase = c.label == base;
        const double growth = isBase ? double(b - a) : double((b - memory[base + many]) - (a - memory[base + few]));
        std::string peer = "—";
        if (c.peer) {
            const long pa = memory["peer/" + c.label + few], pb = memory["peer/" + c.label + many];
            peer = mib(pa) + " / " + mib(pb) + ", ffmpeg";
            if (harnessKiB >= std::min(pa, pb))
                peer += " (not below the harness's " + mib(harnessKiB) + ")";
        }
        Row row{"Peak RSS, " + c.label + ", 1,000 / 10,000 frames of 320×240",
                mib(a) + " / " + mib(b) + fmt(isBase ? "; %+.0f KiB, " : "; the export's own %+.0f KiB, ", growth) +
                    fmt("%.1f B a frame added", growth * 1024.0 / added),
                peer,
                "—",
                "—",
                "info"};
        if (!isBase) {
            // Flat: nothing kept per frame but the index each AVI file ends with (24 bytes a
            // frame, in vectors that grow by doubling, so up to twice that), give or take the
            // 128 KiB by which identical runs differ.
            const double allowedKiB = 48.0 * c.aviFiles * added / 1024.0 + 128.0;
            row.goal = c.aviFiles ? fmt("flat: ≤ %.0f B a frame added (index) + 128 KiB", 48.0 * c.aviFiles)
                                  : "flat: ≤ 128 KiB";
            row.met = yesNo(growth <= allowedKiB);
        }
        rows.push_back(row);
    }

    std::printf("\nCapture: %d frames of %dx%d I420 (a \"BG\" mosaic in Y), in the page cache; outputs to %s%s%s. "
                "Medians of %d rounds; memory medians of %d rounds. The harness's own peak RSS: %s.\n",
                n, kLarge.width, kLarge.height, o.out.c_str(), o.diskOut.empty() ? "" : " and ", o.diskOut.c_str(),
                o.runs, kMemoryRuns, mib(harnessKiB).c_str());
    printTable(rows);
    std::printf("\nRatios round by round (as in the table's ratio column):\n");
    for (const std::string& line : notes)
        std::printf("- %s\n", line.c_str());
    return 0;
}
