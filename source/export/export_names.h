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

// What an export writes: one AVI, a BMP series, three RGB channel AVIs, FITS sums, or one SER
// file.
enum class ExportKind { Avi, Bmp, Rgb, Fits, Ser };

// What Save and Save As write to the path chosen: the extension decides, in any case, whatever
// file type the dialog showed. ".avi" one AVI file, ".ser" one SER file, anything else (none
// too) a BMP series.
ExportKind SaveKindOf(const std::string& strPath);
// Whether the export writes exactly one file, named by the path itself.
constexpr bool WritesOneFile(ExportKind kind) { return kind == ExportKind::Avi || kind == ExportKind::Ser; }

// What a FITS export appends to each file's numbered name.
inline constexpr const char* kFitsExtension = ".fit";

// The names of the files an export writes, output n being the n-th it writes (from 0). The one
// place they are made: the engines ask it for each file as they write it, and the plan, the
// checks before an export and the command line's dry run list the same names from it.
//   AVI, SER: the path itself.
//   BMP:  base + "_%.4d" of n + extension: m42_rgb_0000.bmp ... m42_rgb_9999.bmp, m42_rgb_10000.bmp.
//   RGB:  the path without its extension + "_b.avi", "_g.avi", "_r.avi" (outputs 0, 1, 2).
//   FITS: base + "_%.4d" of the block number + extension + ".fit": m42.lum gives m42_0000.lum.fit.
class OutputNames {
public:
    OutputNames() = default;
    OutputNames(ExportKind kind, std::string strPath, std::uint32_t nBlockSize);

    // How many files an export of nFrames frames writes: 1 (AVI, SER), nFrames, 3, or one per
    // block of nBlockSize frames (none when the block size is 0).
    std::int64_t Count(std::int64_t nFrames) const;
    std::string Name(std::int32_t n) const;

private:
    ExportKind m_kind = ExportKind::Avi;
    std::string m_strPath;
    SplitPath m_parts;
    std::uint32_t m_nBlockSize = 1;
};

} // namespace kestro::exports
