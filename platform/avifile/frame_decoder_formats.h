// The four-character codes the decoder converts itself, without a codec: uncompressed
// DIB rows and the raw YUV layouts capture programs store. Every other code goes to
// libavcodec. The table is the single place that maps a code to a stored layout; the
// decoder and its tests both read it.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <optional>

namespace kestro::avi {

enum class StoredLayout : std::uint8_t {
    Dib,  // DIB rows: 1/4/8-bit palettised, 16-bit 555/565, 24-bit BGR, 32-bit BGRX
    I420, // planar 4:2:0, Y then U then V
    YV12, // planar 4:2:0, Y then V then U
    NV12, // Y plane, then one plane of interleaved U/V pairs at 4:2:0
    NV21, // as NV12 with V first in each pair
    YUY2, // packed 4:2:2: Y0 U Y1 V
    UYVY, // packed 4:2:2: U Y0 V Y1
    YVYU, // packed 4:2:2: Y0 V Y1 U
    Gray, // luma only, one byte a pixel
};

struct StoredFourcc {
    FOURCC fourcc;
    StoredLayout layout;
};

// Ordered by layout, then by how common the alias is in captures; lookups are linear,
// the table is short. BI_RGB (0) and BI_BITFIELDS (3) are not codes and are handled
// before the table is consulted.
inline constexpr StoredFourcc kStoredFourccs[] = {
    {mmioFOURCC('D', 'I', 'B', ' '), StoredLayout::Dib},  {mmioFOURCC('R', 'G', 'B', ' '), StoredLayout::Dib},
    {mmioFOURCC('R', 'A', 'W', ' '), StoredLayout::Dib},  {mmioFOURCC('I', '4', '2', '0'), StoredLayout::I420},
    {mmioFOURCC('I', 'Y', 'U', 'V'), StoredLayout::I420}, {mmioFOURCC('Y', 'V', '1', '2'), StoredLayout::YV12},
    {mmioFOURCC('N', 'V', '1', '2'), StoredLayout::NV12}, {mmioFOURCC('N', 'V', '2', '1'), StoredLayout::NV21},
    {mmioFOURCC('Y', 'U', 'Y', '2'), StoredLayout::YUY2}, {mmioFOURCC('Y', 'U', 'Y', 'V'), StoredLayout::YUY2},
    {mmioFOURCC('Y', 'U', 'N', 'V'), StoredLayout::YUY2}, {mmioFOURCC('V', '4', '2', '2'), StoredLayout::YUY2},
    {mmioFOURCC('U', 'Y', 'V', 'Y'), StoredLayout::UYVY}, {mmioFOURCC('U', 'Y', 'N', 'V'), StoredLayout::UYVY},
    {mmioFOURCC('Y', '4', '2', '2'), StoredLayout::UYVY}, {mmioFOURCC('H', 'D', 'Y', 'C'), StoredLayout::UYVY},
    {mmioFOURCC('Y', 'V', 'Y', 'U'), StoredLayout::YVYU}, {mmioFOURCC('Y', '8', '0', '0'), StoredLayout::Gray},
    {mmioFOURCC('Y', '8', ' ', ' '), StoredLayout::Gray}, {mmioFOURCC('Y', '8', 0, 0), StoredLayout::Gray},
    {mmioFOURCC('G', 'R', 'E', 'Y'), StoredLayout::Gray},
};

// Case-insensitive ("yuy2" and "i420" appear in the wild); the table holds upper case.
std::optional<StoredLayout> storedLayoutOf(FOURCC fourcc);

// Bytes one picture of a raw YUV layout occupies: rows unpadded, chroma sizes rounded
// up for odd dimensions. 0 for Dib, whose size depends on the bit depth.
std::uint64_t rawYuvPictureBytes(StoredLayout layout, std::int64_t width, std::int64_t height);

} // namespace kestro::avi
