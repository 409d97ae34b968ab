// Dor2Ezu: Kestro's de-mosaic library.
//
// Turns one raw Bayer plane (one byte per photosite, rows top first, no padding) into a 24-bit
// colour image. The image leaves out a margin of four photosites on every side: the margin is read
// as neighbours, so the edge of the picture is interpolated as well as its centre, but it is not
// shown. The result is bottom-up (the first row in memory is the picture's bottom row), blue, green,
// red per pixel, rows of 3 * (width - 8) bytes without padding.
//
// Pattern codes are those of bayer_pattern.h (0 "BG", 1 "GB", 2 "GR", 3 "RG"). Any other code is
// read as 0, the same rule the program's own converter follows, so a picture keeps its colours
// whichever algorithm draws it.
#pragma once

#include <cstdint>

// Results of Dor2EzuPlane. Every failure leaves the output area exactly as it was.
inline constexpr std::int32_t DOR2EZU_OK = 0;
inline constexpr std::int32_t DOR2EZU_ERR_ARGUMENT = -1;  // null plane or output
inline constexpr std::int32_t DOR2EZU_ERR_TOO_SMALL = -2; // 8 or fewer photosites across or down
inline constexpr std::int32_t DOR2EZU_ERR_ALGORITHM = -3; // not a number the library lists
inline constexpr std::int32_t DOR2EZU_ERR_MEMORY = -4;    // working memory could not be had

// The margin the library's images leave out on each side, in photosites.
inline constexpr std::int32_t DOR2EZU_MARGIN = 4;

// Lists the algorithms: *names receives an array of *count zero-terminated names, each beginning
// with the algorithm's number in two decimal digits ("03-VNG"). The array and the strings belong to
// the library and stay valid for the life of the process. Returns DOR2EZU_OK, or
// DOR2EZU_ERR_ARGUMENT (and touches nothing) when either pointer is null.
std::int32_t Dor2EzuEnumAlgorithms(const char* const** names, std::int32_t* count);

// De-mosaics a width x height plane with the algorithm numbered `algorithm` into `pixels`, which
// must hold at least (width - 8) * (height - 8) * 3 bytes; only those bytes are written.
// Returns DOR2EZU_OK or one of the negative results above.
std::int32_t Dor2EzuPlane(std::int32_t width, std::int32_t height, const std::uint8_t* plane, std::uint8_t* pixels,
                          std::int32_t algorithm, std::int32_t pattern);
