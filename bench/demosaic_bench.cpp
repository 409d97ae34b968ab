// demosaic_bench: how fast each de-mosaic algorithm turns a raw plane into a colour picture, at
// three frame sizes, beside OpenCV's Bayer conversions (bilinear and VNG) timed in the same run,
// and beside the memory-bandwidth bound of the own algorithm: reading 1 byte and writing 3 bytes
// per pixel, which no conversion can beat.
//
//   demosaic_bench [--benchmark_... flags]
//
// The last thing printed is a Markdown table for docs/PERFORMANCE.md, built from the medians when
// repetitions are asked for (bench/run-demosaic does).
// Single-threaded figures are the comparable ones: the own algorithm is single-threaded by design
// and OpenCV is limited to one thread for them. The library's multi-threaded figures and OpenCV's
// are printed as well.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "algorithms.h"
#include "cfa_converter.h"
#include "debayer_bilinear.h"
#include "dor2ezu.h"

#ifdef KESTRO_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

struct Size {
    int width, height;
};
const Size kSizes[] = {{640, 480}, {1920, 1080}, {4096, 3000}};

// A planet-like scene with soft bands and hard limbs, mosaicked as "BG": the algorithms that adapt
// to the content see edges and flat areas as they do in a real capture.
std::vector<std::uint8_t> scenePlane(int w, int h)
{
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(w) * h);
    const double cx = w * 0.5, cy = h * 0.5, radius = std::min(w, h) * 0.4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = (x - cx) / radius, dy = (y - cy) / radius, r2 = dx * dx + dy * dy;
            double r = 8, g = 8, b = 12;
            if (r2 < 1.0) {
                const double limb = std::sqrt(1.0 - r2), band = 0.75 + 0.25 * std::sin(dy * 18.0);
                r = 230 * limb * band;
                g = 190 * limb * band;
                b = 140 * limb * (1.6 - band);
            }
            const bool evenRow = (y & 1) == 0, evenCol = (x & 1) == 0;
            const double v = evenRow ? (evenCol ? g : r) : (evenCol ? b : g);
            plane[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(std::min(255.0, v));
        }
    return plane;
}

// Times `convert(plane, pixels)` once per iteration on the scene plane of size s, with a picture
// buffer large enough for every algorithm, and reports pixels, bytes and frames per second.
template <typename Convert> void timeFrames(benchmark::State& state, const Size& s, Convert convert)
{
    const auto plane = scenePlane(s.width, s.height);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(s.width) * s.height * 3);
    for (auto _ : state) {
        if (!convert(plane, out)) {
            state.SkipWithError("refused");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const auto pixels = static_cast<std::int64_t>(s.width) * s.height;
    state.SetItemsProcessed(state.iterations() * pixels);
    state.SetBytesProcessed(state.iterations() * pixels * 4); // 1 byte in, 3 bytes out
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

using Plane = std::vector<std::uint8_t>;

void ownAlgorithm(benchmark::State& state, Size s)
{
    CCfaConverter converter;
    converter.SetPattern(0);
    timeFrames(state, s, [&](const Plane& plane, Plane& out) {
        std::int32_t w = 0, h = 0;
        return converter.ConvertPlane(s.width, s.height, plane.data(), out.data(), w, h);
    });
}

// The own algorithm as written, two sites per step without vectors: what the vector kernel gains.
void ownReference(benchmark::State& state, Size s)
{
    const auto layout = kestro::video::BayerLayout::fromCode(41);
    timeFrames(state, s, [&](const Plane& plane, Plane& out) {
        kestro::video::deBayerInteriorReference(layout, s.width, s.height, plane.data(), out.data());
        return true;
    });
}

// Reads every byte of the plane once and writes three bytes per pixel once, as fast as the C
// library's vectorised routines go: memchr for a byte value the plane does not hold scans all of
// it, memset fills the picture.
void bandwidthBound(benchmark::State& state, Size s)
{
    const Plane scene = scenePlane(s.width, s.height);
    std::array<bool, 256> present{};
    for (std::uint8_t v : scene)
        present[v] = true;
    const auto absent = std::find(present.begin(), present.end(), false);
    if (absent == present.end()) {
        state.SkipWithError("the plane holds every byte value");
        return;
    }
    const int missing = static_cast<int>(absent - present.begin());
    std::uint8_t fill = 0;
    timeFrames(state, s, [&](const Plane& plane, Plane& out) {
        benchmark::DoNotOptimize(std::memchr(plane.data(), missing, plane.size()));
        std::memset(out.data(), fill++, out.size());
        return true;
    });
}

void libraryAlgorithm(benchmark::State& state, Size s, int algorithm, int threads)
{
    kestro::dor2ezu::setThreadCount(threads);
    timeFrames(state, s, [&](const Plane& plane, Plane& out) {
        return Dor2EzuPlane(s.width, s.height, plane.data(), out.data(), algorithm, 0) == DOR2EZU_OK;
    });
    kestro::dor2ezu::setThreadCount(0);
}

#ifdef KESTRO_HAVE_OPENCV
void openCv(benchmark::State& state, Size s, int code, int threads)
{
    const int before = cv::getNumThreads();
    cv::setNumThreads(threads);
    timeFrames(state, s, [&](const Plane& plane, Plane& out) {
        const cv::Mat bayer(s.height, s.width, CV_8UC1, const_cast<std::uint8_t*>(plane.data()));
        cv::Mat bgr(s.height, s.width, CV_8UC3, out.data());
        cv::cvtColor(bayer, bgr, code);
        return true;
    });
    cv::setNumThreads(before);
}
#endif

std::string sizeName(const Size& s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

// The part of a benchmark's name that gives its frame size, "/640x480".
std::string sizeSuffix(const Size& s)
{
    std::string suffix = "/";
    return suffix.append(sizeName(s)); // appending, since g++ 12 warns wrongly on "/" + string
}

void registerAll()
{
    const char* const* names = nullptr;
    std::int32_t count = 0;
    Dor2EzuEnumAlgorithms(&names, &count);
    for (const Size& s : kSizes) {
        const std::string size = sizeSuffix(s);
        benchmark::RegisterBenchmark(("bound" + size).c_str(), bandwidthBound, s)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("11-DeBayerToRGB" + size).c_str(), ownAlgorithm, s)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("11-reference" + size).c_str(), ownReference, s)->Unit(benchmark::kMillisecond);
#ifdef KESTRO_HAVE_OPENCV
        benchmark::RegisterBenchmark(("opencv-bilinear" + size + "/threads:1").c_str(), openCv, s,
                                     cv::COLOR_BayerBG2BGR, 1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("opencv-vng" + size + "/threads:1").c_str(), openCv, s, cv::COLOR_BayerBG2BGR_VNG,
                                     1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("opencv-bilinear" + size + "/threads:all").c_str(), openCv, s,
                                     cv::COLOR_BayerBG2BGR, -1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("opencv-vng" + size + "/threads:all").c_str(), openCv, s,
                                     cv::COLOR_BayerBG2BGR_VNG, -1)
            ->Unit(benchmark::kMillisecond);
#endif
        for (std::int32_t i = 0; i < count; ++i) {
            const int number = std::stoi(std::string(names[i], 2));
            for (int threads : {1, 0})
                benchmark::RegisterBenchmark(
                    (std::string(names[i]) + size + (threads == 1 ? "/threads:1" : "/threads:all")).c_str(),
                    libraryAlgorithm, s, number, threads)
                    ->Unit(benchmark::kMillisecond);
        }
    }
}

// Prints Google Benchmark's console report and keeps each benchmark's time per frame in
// milliseconds: the median when there are repetitions, else the single run.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median)
                continue;
            const std::string& name = run.run_name.function_name;
            if (median || !m_ms.count(name))
                m_ms[name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printTable(const std::vector<std::string>& algorithms) const
    {
        std::printf("\n| Size | Algorithm | 1 thread | All cores | Peer, 1 thread | Peer, all cores |\n");
        std::printf("|---|---|---:|---:|---:|---:|\n");
        for (const Size& s : kSizes) {
            const std::string size = sizeSuffix(s);
            std::printf("| %s | bound: read 1 B, write 3 B a pixel | %s | | | |\n", sizeName(s).c_str(),
                        ms("bound" + size).c_str());
            std::printf("| | 11-DeBayerToRGB (scalar reference) | %s | | | |\n", ms("11-reference" + size).c_str());
            std::printf("| | 11-DeBayerToRGB | %s | | %s (OpenCV bilinear) | %s |\n",
                        ms("11-DeBayerToRGB" + size).c_str(), ms("opencv-bilinear" + size + "/threads:1").c_str(),
                        ms("opencv-bilinear" + size + "/threads:all").c_str());
            for (const std::string& a : algorithms) {
                const bool vng = a.find("VNG") != std::string::npos;
                std::printf("| | %s | %s | %s | %s | %s |\n", a.c_str(), ms(a + size + "/threads:1").c_str(),
                            ms(a + size + "/threads:all").c_str(),
                            vng ? (ms("opencv-vng" + size + "/threads:1") + " (OpenCV VNG)").c_str() : "",
                            vng ? ms("opencv-vng" + size + "/threads:all").c_str() : "");
            }
        }
        std::printf("\nTimes are milliseconds per frame (medians).\n");
    }

private:
    std::string ms(const std::string& name) const
    {
        const auto it = m_ms.find(name);
        if (it == m_ms.end())
            return "—";
        char text[32];
        std::snprintf(text, sizeof text, it->second < 1.0 ? "%.3f ms" : "%.2f ms", it->second);
        return text;
    }
    std::map<std::string, double> m_ms;
};

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* const* names = nullptr;
    std::int32_t count = 0;
    Dor2EzuEnumAlgorithms(&names, &count);
    reporter.printTable(std::vector<std::string>(names, names + count));
    benchmark::Shutdown();
    return 0;
}
