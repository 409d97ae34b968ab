// kestro-convert --info: what each capture holds, as a person reads it or, with --json, as one
// JSON object a line for scripts. The keys "file", "format", "width", "height", "frames",
// "data_frames", "bit_depth", "stored_order" and "detected" {"mosaic", "order", "diagonal",
// "red_blue"} are promised to scripts; others may be added.
#pragma once

#include "convert_options.h"
#include "mosaic_detect.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::cli {

struct CaptureInfo {
    std::string file;
    std::string error;  // why it could not be read; nothing else is known then
    std::string format; // "AVI", "SER"
    std::int32_t width = 0, height = 0;
    std::int32_t frames = 0, dataFrames = 0;
    int bitDepth = 0;      // bits the data use
    int storedBits = 0;    // bits each sample is stored in
    std::string colourId;  // the SER header's colour id ("MONO", "RGGB", "RGB", ...); empty for AVI
    std::string byteOrder; // "little" or "big" for 16-bit SER samples; empty otherwise
    const kestro::bayer::Pattern* stored = nullptr; // the order the SER header states
    std::vector<std::string> notes;                 // what opening it told (a file that ends early)
    kestro::video::MosaicGuess detected;
};

CaptureInfo describeCapture(const std::string& path, std::optional<kestro::ser::ByteOrder> byteOrder);
std::string infoText(const CaptureInfo& info);
std::string infoJson(const CaptureInfo& info);
// A JSON string literal of arbitrary bytes: bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

// Describes the captures, --jobs at a time, and prints them in the order given. Exit status 0 when
// every capture was read, 1 when any was not.
int printInfo(const ConvertOptions& options, const std::vector<std::string>& captures);

} // namespace kestro::cli
