#include "ffmpeg_library.h"

#include "opened_library.h"

#include <cstdio>
#include <cstdlib>

// A function left out of the table below would stay a null pointer and crash the first frame
// that calls it; the compiler is made to refuse that instead.
#pragma GCC diagnostic error "-Wmissing-field-initializers"

namespace kestro::avi {

using dynlib::OpenedLibrary;

FfmpegNames ffmpegNames()
{
    return {"libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR),
            "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR),
            "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR)};
}

FfmpegLoad loadFfmpeg(const FfmpegNames& names)
{
    FfmpegLoad load;
    OpenedLibrary avutil(names.avutil, load.error);
    OpenedLibrary swscale(names.swscale, load.error);
    OpenedLibrary avcodec(names.avcodec, load.error);

// The member, the symbol and the type from one name, so that none of the three can drift.
#define KESTRO_FIND(library, name) .name = library.find<decltype(&::name)>(#name)
    FfmpegLibrary library{
        KESTRO_FIND(avcodec, avcodec_find_decoder),
        KESTRO_FIND(avcodec, avcodec_alloc_context3),
        KESTRO_FIND(avcodec, avcodec_open2),
        KESTRO_FIND(avcodec, avcodec_flush_buffers),
        KESTRO_FIND(avcodec, avcodec_send_packet),
        KESTRO_FIND(avcodec, avcodec_receive_frame),
        KESTRO_FIND(avcodec, avcodec_free_context),
        KESTRO_FIND(avcodec, av_packet_alloc),
        KESTRO_FIND(avcodec, av_packet_unref),
        KESTRO_FIND(avcodec, av_packet_free),
        KESTRO_FIND(avutil, av_frame_alloc),
        KESTRO_FIND(avutil, av_frame_unref),
        KESTRO_FIND(avutil, av_frame_move_ref),
        KESTRO_FIND(avutil, av_frame_free),
        KESTRO_FIND(avutil, av_mallocz),
        KESTRO_FIND(avutil, av_pix_fmt_desc_get),
        KESTRO_FIND(avutil, av_log_set_level),
        KESTRO_FIND(swscale, sws_getContext),
        KESTRO_FIND(swscale, sws_scale),
        KESTRO_FIND(swscale, sws_freeContext),
        KESTRO_FIND(swscale, sws_getColorspaceDetails),
        KESTRO_FIND(swscale, sws_getCoefficients),
        KESTRO_FIND(swscale, sws_setColorspaceDetails),
    };
#undef KESTRO_FIND

    if (!load.error.empty())
        return load;
    // Never unloaded: the codecs' worker threads and the scalers' code tables live as long as
    // the process, and unloading at exit would only cost time.
    avutil.keep();
    swscale.keep();
    avcodec.keep();
    load.library = library;
    return load;
}

const FfmpegLibrary* ffmpeg()
{
    static const FfmpegLoad load = [] {
        FfmpegLoad loaded = loadFfmpeg(ffmpegNames());
        if (!loaded.library) {
            std::fprintf(stderr, "FFmpeg: %s; compressed and YUV video cannot be decoded\n", loaded.error.c_str());
            std::fflush(stderr);
            return loaded;
        }
        // libavcodec reports damaged pictures on standard error, which in a desktop program only
        // scares; failures reach the caller as null frames. KESTRO_AV_LOG=1 brings the messages
        // back for diagnosis.
        const char* env = std::getenv("KESTRO_AV_LOG");
        if (!env || !*env || *env == '0')
            loaded.library->av_log_set_level(AV_LOG_QUIET);
        return loaded;
    }();
    return load.library ? &*load.library : nullptr;
}

} // namespace kestro::avi
