#include "sample_fixture.h"

#include "avifile.h"
#include "bench_report.h"

#include <cstdint>
#include <cstdio>

namespace kestro::bench {

bool isWholeI420Capture(const std::filesystem::path& path, int width, int height, int frames)
{
    const auto frameBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3 / 2;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info{};
    bool ok = AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
              AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK &&
              AVIStreamInfoA(stream, &info, sizeof info) == AVIERR_OK &&
              info.fccHandler == mmioFOURCC('I', '4', '2', '0') && info.rcFrame.right - info.rcFrame.left == width &&
              info.rcFrame.bottom - info.rcFrame.top == height && AVIStreamLength(stream) == frames;
    const LONG start = ok ? AVIStreamStart(stream) : 0;
    for (LONG i = start; ok && i < start + frames; ++i) {
        LONG bytes = 0;
        ok = AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr) == AVIERR_OK &&
             static_cast<std::uint64_t>(bytes) == frameBytes;
    }
    if (stream)
        AVIStreamRelease(stream);
    if (file)
        AVIFileRelease(file);
    return ok;
}

bool ensureSampleCapture(const std::filesystem::path& path, int width, int height, int frames,
                         const std::string& sampleTool)
{
    if (std::filesystem::exists(path) && isWholeI420Capture(path, width, height, frames)) {
        std::printf("Reusing %s\n", path.c_str());
        return true;
    }
    std::printf("Writing %s (%d frames of %dx%d I420, a Bayer mosaic in Y)\n", path.c_str(), frames, width, height);
    std::fflush(stdout);
    return writeSample(path, sampleTool,
                       {"--width", std::to_string(width), "--height", std::to_string(height), "--frames",
                        std::to_string(frames), "--dropped", "none"}) &&
           isWholeI420Capture(path, width, height, frames);
}

std::string sampleCaptureName(int width, int height, int frames)
{
    return "export-" + std::to_string(frames) + "f-" + std::to_string(width) + "x" + std::to_string(height) +
           "-bg-i420.avi";
}

} // namespace kestro::bench
