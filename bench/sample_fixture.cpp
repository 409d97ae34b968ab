#include "sample_fixture.h"

#include "avi_handles.h"
#include "avifile.h"
#include "bench_report.h"

#include <cstdint>
#include <cstdio>

namespace kestro::bench {

bool isWholeI420Capture(const std::filesystem::path& path, int width, int height, int frames)
{
    const auto frameBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3 / 2;
    const kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    AVISTREAMINFOA info{};
    bool ok = AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
              AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) == AVIERR_OK &&
              AVIStreamInfoA(stream.get(), &info, sizeof info) == AVIERR_OK &&
              info.fccHandler == mmioFOURCC('I', '4', '2', '0') && info.rcFrame.right - info.rcFrame.left == width &&
              info.rcFrame.bottom - info.rcFrame.top == height && AVIStreamLength(stream.get()) == frames;
    const LONG start = ok ? AVIStreamStart(stream.get()) : 0;
    for (LONG i = start; ok && i < start + frames; ++i) {
        LONG bytes = 0;
        ok = AVIStreamRead(stream.get(), i, 1, nullptr, 0, &bytes, nullptr) == AVIERR_OK &&
             static_cast<std::uint64_t>(bytes) == frameBytes;
    }
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
