// The FFmpeg functions the decoders call, taken from the shared libraries when a frame first
// needs them rather than linked. libavcodec and libavutil bring about a hundred libraries of
// their own (every encoder, hardware access, X11), and the dynamic loader would map all of them
// before main() in every run, also in those that never decode a compressed or YUV frame: the
// command line's --version or a capture of plain DIB frames.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <optional>
#include <string>

namespace kestro::avi {

// Each member has the name and, through decltype, the type of the function it points to, so the
// headers the program was built with check every call.
struct FfmpegLibrary {
    // libavcodec
    decltype(&::avcodec_find_decoder) avcodec_find_decoder;
    decltype(&::avcodec_alloc_context3) avcodec_alloc_context3;
    decltype(&::avcodec_open2) avcodec_open2;
    decltype(&::avcodec_flush_buffers) avcodec_flush_buffers;
    decltype(&::avcodec_send_packet) avcodec_send_packet;
    decltype(&::avcodec_receive_frame) avcodec_receive_frame;
    decltype(&::avcodec_free_context) avcodec_free_context;
    decltype(&::av_packet_alloc) av_packet_alloc;
    decltype(&::av_packet_unref) av_packet_unref;
    decltype(&::av_packet_free) av_packet_free;
    // libavutil
    decltype(&::av_frame_alloc) av_frame_alloc;
    decltype(&::av_frame_unref) av_frame_unref;
    decltype(&::av_frame_move_ref) av_frame_move_ref;
    decltype(&::av_frame_free) av_frame_free;
    decltype(&::av_mallocz) av_mallocz;
    decltype(&::av_pix_fmt_desc_get) av_pix_fmt_desc_get;
    decltype(&::av_log_set_level) av_log_set_level;
    // libswscale
    decltype(&::sws_getContext) sws_getContext;
    decltype(&::sws_scale) sws_scale;
    decltype(&::sws_freeContext) sws_freeContext;
    decltype(&::sws_getColorspaceDetails) sws_getColorspaceDetails;
    decltype(&::sws_getCoefficients) sws_getCoefficients;
    decltype(&::sws_setColorspaceDetails) sws_setColorspaceDetails;
};

// The functions, or why there are none: dlerror's words, which name the library and, when the
// library is there but lacks a function, that function.
struct FfmpegLoad {
    std::optional<FfmpegLibrary> library;
    std::string error;
};

// The file names to load: the major versions of the headers the program was built with, so the
// libraries found at run time have the ABI the program was compiled against.
struct FfmpegNames {
    std::string avcodec;
    std::string avutil;
    std::string swscale;
};
FfmpegNames ffmpegNames();

// Loads the three libraries and finds every function. Libraries stay loaded once every function
// is found, and are released again when something is missing.
FfmpegLoad loadFfmpeg(const FfmpegNames& names);

// The process's FFmpeg, loaded by the first call from whichever thread makes it; null when it
// could not be loaded. That failure is told once on standard error, as the decoders themselves
// can only fail. After loading, the libraries' own log is silenced (see the definition).
const FfmpegLibrary* ffmpeg();

} // namespace kestro::avi
