// FFmpeg is loaded when a frame first needs it. Libraries that are not there, or not the ones
// the program was built for, must leave the decoders without functions and say why in words,
// never crash the process at the first call.
#include "ffmpeg_library.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace kestro::avi;

TEST(FfmpegLibrary, MissingLibraryOrFunctionGivesNoFunctionsAndNamesIt)
{
    const FfmpegNames installed = ffmpegNames();
    FfmpegNames newerCodec = installed;
    newerCodec.avcodec = "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR + 100);
    FfmpegNames utilAsScaler = installed;
    utilAsScaler.swscale = installed.avutil;

    const struct {
        const char* what;
        FfmpegNames names;
        std::string named;
    } cases[] = {
        {"a major version that is not installed", newerCodec, newerCodec.avcodec},
        {"a library without the functions looked up in it", utilAsScaler, "sws_getContext"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FfmpegLoad load = loadFfmpeg(c.names);
        EXPECT_FALSE(load.library.has_value());
        EXPECT_NE(load.error.find(c.named), std::string::npos) << load.error;
    }
}

} // namespace
