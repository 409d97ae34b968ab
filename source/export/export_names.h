// The names exports propose and write, shared by the window's commands and the command line so
// that both name their outputs alike.
#pragma once

#include "video_source.h"

#include <cstdint>
#include <string>

namespace kestro::exports {

// The capture's file name without folder and extension, followed by what the display mode
// makes of it: "_rgb" (Normal), "_rlum" (RAW Y-channel), "_rcol" and the algorithm number in at
// least two digits (RAW colour): m42.avi in RAW colour with algorithm 11 proposes m42_rcol11.
std::string ProposedSaveName(const CVideoSource& source);
// The same for the RGB channel files: "_raw" in either RAW mode, "_rgb" otherwise.
std::string ProposedRgbName(const CVideoSource& source);

// A path split before the extension of its file name (the text from the name's last dot on,
// empty when the name has none): "/out/m42.bmp" is "/out/m42" and ".bmp".
struct SplitPath {
    std::string base;
    std::string extension;
};
SplitPath SplitExtension(const std::string& strPath);

// Whether the path names one AVI file (its extension is "avi" in any case) rather than a BMP
// series.
bool IsAviPath(const std::string& strPath);

// base + "_%.4d" of n + extension: m42_rgb_0000.bmp ... m42_rgb_9999.bmp, m42_rgb_10000.bmp.
std::string NumberedName(const SplitPath& parts, std::int32_t n);

// The RGB channel files of a chosen path: the path without its extension + "_b.avi", "_g.avi"
// and "_r.avi", in channel order (blue, green, red).
std::string RgbChannelFile(const std::string& strPath, int nChannel);

} // namespace kestro::exports
