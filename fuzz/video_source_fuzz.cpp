// Feeds arbitrary bytes to the video source as a capture and asks for every frame in every
// display mode, reading every byte of each bitmap it hands out, so that a plane or an image
// that does not lie inside its buffer shows up under the sanitizers. The mosaic detector reads the
// planes first.
#include "algorithms.h"
#include "dib.h"
#include "fuzz_support.h"
#include "memory_file.h"
#include "mosaic_detect.h"
#include "video_source.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

volatile std::uint8_t g_sink;

void touch(const BITMAPINFOHEADER* b)
{
    if (!b)
        return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(b);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kestro::dib::formatBytes(*b) + b->biSizeImage; ++i)
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    g_sink = sum;
}

void exercise(const std::string& path)
{
    CVideoSource source;
    if (!source.Open(path))
        return;
    // The mosaic detector reads the planes of whatever opened, as the window does at every open.
    const kestro::video::MosaicGuess guess = kestro::video::DetectMosaic(source);
    if (guess.pattern && !guess.mosaic)
        __builtin_trap();
    const std::int32_t frames = std::min(source.GetFrameCount(), 8);
    for (const std::int32_t algorithm : {11, 2}) {
        for (int mode = 0; mode < 8; ++mode) {
            source.m_bRaw = mode & 1;
            source.m_bRawColour = mode & 2;
            source.m_bGreyscale = mode & 4;
            source.m_converter.SetAlgorithm(algorithm);
            source.m_converter.SetPattern(mode & 3);
            for (std::int32_t n = -1; n <= frames; ++n) {
                source.GoToFrame(n);
                source.FindDataFrame(n);
                touch(source.GetFrameBitmap());
            }
        }
    }
    source.GetFrameWidth();
    source.GetFrameHeight();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = [] {
        kestro::fuzz::silenceMessages();
        // One thread for the library's algorithms, as in the other fuzzers: the picture does not
        // depend on it, and the runs stay comparable.
        kestro::dor2ezu::setThreadCount(1);
        return true;
    }();
    (void)ready;
    kestro::fuzz::withMemoryFile(data, size, [](const std::string& path) { exercise(path); });
    return 0;
}
