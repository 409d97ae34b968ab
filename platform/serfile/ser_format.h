// The SER capture format as it is found on disk: the 178-byte header, the colour ids and what
// each one means, the signature test that chooses this reader, and the frame times (100 ns
// ticks since 0001-01-01, UTC). Nothing here opens a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kestro::ser {

inline constexpr std::size_t kHeaderBytes = 178;

enum class ColorId : std::int32_t {
    Mono = 0,
    RGGB = 8,
    GRBG = 9,
    GBRG = 10,
    BGGR = 11,
    CYYM = 16,
    YCMY = 17,
    YMCY = 18,
    MYYC = 19,
    RGB = 100,
    BGR = 101,
};

// How the samples of one pixel are laid out: one sensor value (grey, or one site of a colour
// filter mosaic) or three colour values side by side.
enum class Sampling { Mono, Bayer, Cmy, Rgb, Bgr };

struct ColorInfo {
    ColorId id;
    const char* name; // the id's name in the format ("RGGB", "MONO", "RGB", ...)
    Sampling sampling;
    int planes;        // samples per pixel: 3 for RGB and BGR, interleaved, 1 otherwise
    const char* sites; // the top-left 2x2 filter sites in reading order, "" without a mosaic
};

// The one table of colour ids; nullptr for an id the format does not define.
const ColorInfo* findColor(std::int32_t id);
std::span<const ColorInfo> colors();

// The header as stored, fields in file order. Texts end at their first NUL, trailing spaces cut.
struct Header {
    std::string fileId;
    std::int32_t luId = 0;
    std::int32_t colorId = 0;
    std::int32_t littleEndian = 0; // the byte-order flag, whatever its writer meant by it
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t pixelDepth = 0; // bits per sample as the writer claims them
    std::int32_t frameCount = 0;
    std::string observer;
    std::string instrument;
    std::string telescope;
    std::int64_t dateTime = 0;    // local time, ticks
    std::int64_t dateTimeUtc = 0; // ticks
};

// Reads the fields from the first kHeaderBytes bytes; no judgement of their values.
Header parseHeader(std::span<const std::uint8_t, kHeaderBytes> bytes);
// The header's bytes as a file stores them, little-endian whatever the host. Texts longer than
// their field are cut (before a character, not inside one), shorter ones padded with NULs.
std::array<std::uint8_t, kHeaderBytes> encodeHeader(const Header& header);

// True when the bytes begin like a SER file: a readable file id ("LUCAM-RECORDER",
// "INDI-RECORDER", any printable text padded with NULs or spaces) followed, as far as the bytes
// reach, by a byte-order flag of 0 or 1. It needs only the first 26 bytes, so that a SER file
// cut inside its header, or one whose sizes are hostile, is still given to this reader and
// refused with its own reason instead of as "not an AVI file".
bool looksLikeSer(std::span<const std::uint8_t> firstBytes);

// Why a header cannot be read as frames, in words (no file name, no final stop), or empty when
// its colour id, sizes and depth describe frames this reader can hold. fileBytes is the size of
// the whole file, header included.
std::string headerProblem(const Header& header, std::uint64_t fileBytes);

// A frame time split into its calendar fields, UTC, proleptic Gregorian.
struct CivilTime {
    int year = 1;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int ticks = 0; // 100 ns units within the second, 0..9'999'999
};

// Ticks of 0001-01-01T00:00:00 to 9999-12-31T23:59:59.9999999; anything else is no time.
inline constexpr std::int64_t kMaxTicks = 3'155'378'975'999'999'999;
// The Unix epoch in ticks.
inline constexpr std::int64_t kUnixEpochTicks = 621'355'968'000'000'000;

std::optional<CivilTime> civilTime(std::int64_t ticks);
// "2024-05-01T21:13:07.123Z": milliseconds cut, not rounded, so that a time never moves into
// the next second. Empty for ticks outside the range above.
std::string formatIso8601(std::int64_t ticks);

} // namespace kestro::ser
