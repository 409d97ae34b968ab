// The frame decoder: stored samples in, packed bottom-up bitmaps out. Most tests feed it
// hand-made samples through an in-memory source; the end-to-end ones at the bottom read
// files ffmpeg wrote and compare with ffmpeg's own decode.

#include "avi_handles.h"
#include "avifile.h"
#include "dib.h"
#include "frame_decoder.h"
#include "frame_decoder_formats.h"
#include "riff.h"
#include "test_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestro::avi;
using Bytes = std::vector<std::uint8_t>;

struct FakeSample {
    Bytes bytes; // empty: a dropped frame
    bool key = true;
};

// A stream held in memory, searched the way AVIStreamFindSample searches.
class FakeSource : public SampleSource {
public:
    std::vector<FakeSample> samples;

    std::int32_t start() const override { return 0; }
    std::int32_t length() const override { return static_cast<std::int32_t>(samples.size()); }
    std::int32_t findSample(std::int32_t position, std::int32_t flags) const override
    {
        const auto matches = [&](std::int32_t i) {
            const auto& s = samples[static_cast<std::size_t>(i)];
            return !s.bytes.empty() && (!(flags & FIND_KEY) || s.key);
        };
        if (flags & FIND_PREV) {
            for (std::int32_t i = std::min(position, length() - 1); i >= 0; --i)
                if (matches(i))
                    return i;
        } else {
            for (std::int32_t i = std::max(position, 0); i < length(); ++i)
                if (matches(i))
                    return i;
        }
        return -1;
    }
    std::uint64_t largestSample() const override
    {
        std::uint64_t largest = 0;
        for (const auto& s : samples)
            largest = std::max<std::uint64_t>(largest, s.bytes.size());
        return largest;
    }
    HRESULT readSample(std::int32_t position, Bytes& out) const override
    {
        if (position < 0 || position >= length())
            return AVIERR_BADPARAM;
        out = samples[static_cast<std::size_t>(position)].bytes;
        return AVIERR_OK;
    }
};

Bytes makeStrf(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
               const Bytes& extra = {}, std::uint32_t clrUsed = 0)
{
    Bytes strf(40 + extra.size());
    std::copy(extra.begin(), extra.end(), strf.begin() + 40);
    putLe32(&strf[0], 40);
    putLe32(&strf[4], static_cast<std::uint32_t>(width));
    putLe32(&strf[8], static_cast<std::uint32_t>(height));
    putLe16(&strf[12], 1);
    putLe16(&strf[14], bits);
    putLe32(&strf[16], compression);
    putLe32(&strf[32], clrUsed);
    return strf;
}

Bytes le32Bytes(std::initializer_list<std::uint32_t> values)
{
    Bytes out;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return out;
}

AVISTREAMINFOA videoInfo(FOURCC handler = 0)
{
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = handler;
    return info;
}

std::unique_ptr<FrameDecoder> makeDecoder(const Bytes& strf, const SampleSource& source, FOURCC handler = 0)
{
    return FrameDecoder::create(videoInfo(handler), strf.data(), strf.size(), source);
}

// Checks everything about a packed bitmap that does not depend on the picture: the
// header fields, the block size the header implies, zero padding. Returns its pixels
// top row first, unpadded.
Bytes unpack(const BITMAPINFOHEADER* bih, std::int32_t width, std::int32_t height, int bits)
{
    EXPECT_NE(bih, nullptr);
    if (!bih)
        return {};
    EXPECT_EQ(bih->biSize, 40u);
    EXPECT_EQ(bih->biWidth, width);
    EXPECT_EQ(bih->biHeight, height);
    EXPECT_EQ(bih->biPlanes, 1);
    EXPECT_EQ(bih->biBitCount, bits);
    EXPECT_EQ(bih->biCompression, BI_RGB);
    EXPECT_EQ(bih->biClrUsed, bits == 8 ? 256u : 0u);
    EXPECT_EQ(bih->biClrImportant, 0u);
    EXPECT_EQ(bih->biXPelsPerMeter, 0);
    EXPECT_EQ(bih->biYPelsPerMeter, 0);
    const std::size_t stride = kestro::dib::stride(width, bits);
    const std::size_t used = static_cast<std::size_t>(width) * bits / 8;
    EXPECT_EQ(bih->biSizeImage, stride * static_cast<std::size_t>(height));
    const std::uint8_t* pixels = kestro::dib::pixels(*bih);
    Bytes out;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * stride;
        out.insert(out.end(), row, row + used);
        for (std::size_t i = used; i < stride; ++i)
            EXPECT_EQ(row[i], 0) << "padding byte " << i << " of stored row " << y;
    }
    return out;
}

const RGBQUAD* paletteOf(const BITMAPINFOHEADER* bih)
{
    return reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(bih) + 40);
}

// Stores a top-down picture of tight rows as DIB rows: padded to 4 with a filler that
// must never reach the output, bottom-up unless topDown.
Bytes dibRows(const Bytes& topDown, std::size_t rowBytes, bool storeTopDown, bool padded = true)
{
    const std::size_t rows = topDown.size() / rowBytes;
    const std::size_t stride = padded ? kestro::dib::stride(static_cast<std::int64_t>(rowBytes), 8) : rowBytes;
    Bytes out(stride * rows, 0xEE);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t stored = storeTopDown ? r : rows - 1 - r;
        std::copy_n(topDown.begin() + static_cast<std::ptrdiff_t>(r * rowBytes), rowBytes,
                    out.begin() + static_cast<std::ptrdiff_t>(stored * stride));
    }
    return out;
}

// A small picture whose every byte differs from its neighbours, so a flipped, shifted
// or mis-strided copy cannot pass.
Bytes pattern(std::size_t bytes, std::uint8_t seed = 1)
{
    Bytes out(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(seed + i * 7);
    return out;
}

// --- Uncompressed -------------------------------------------------------------------

struct CopyCase {
    const char* name;
    std::uint16_t bits;
    bool topDown;
    bool paddedRows;
};

TEST(DibDecode, CopiesRowsIntoBottomUpPaddedBitmap)
{
    // Width 5 leaves 24-bit rows 1 byte short of a multiple of 4.
    const CopyCase cases[] = {
        {"24-bit bottom-up", 24, false, true},
        {"24-bit top-down", 24, true, true},
        {"24-bit rows stored without padding", 24, false, false},
        {"32-bit bottom-up", 32, false, true},
        {"32-bit top-down", 32, true, true},
    };
    constexpr std::int32_t w = 5;
    constexpr std::int32_t h = 3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t rowBytes = static_cast<std::size_t>(w) * c.bits / 8;
        const Bytes picture = pattern(rowBytes * h);
        FakeSource source;
        source.samples.push_back({dibRows(picture, rowBytes, c.topDown, c.paddedRows)});
        auto decoder = makeDecoder(makeStrf(w, c.topDown ? -h : h, c.bits, BI_RGB), source);
        ASSERT_NE(decoder, nullptr);
        EXPECT_EQ(decoder->outputBitCount(), c.bits);
        EXPECT_EQ(unpack(decoder->frame(0), w, h, c.bits), picture);
    }
}

TEST(DibDecode, SixteenBitBecomes24WithBitsReplicated)
{
    struct Case {
        const char* name;
        std::uint32_t compression;
        Bytes masks;
        std::vector<std::uint16_t> pixels;
        Bytes bgr; // expected, B G R per pixel
    };
    const Case cases[] = {
        {"555 as BI_RGB",
         BI_RGB,
         {},
         {0x7FFF, 0x0000, 0x7C00, 0x03E0, 0x001F, 0x4210},
         {255, 255, 255, 0, 0, 0, 0, 0, 255, 0, 255, 0, 255, 0, 0, 132, 132, 132}},
        {"565 bit fields",
         BI_BITFIELDS,
         le32Bytes({0xF800, 0x07E0, 0x001F}),
         {0xFFFF, 0x0000, 0xF800, 0x07E0, 0x001F, 0x0841},
         {255, 255, 255, 0, 0, 0, 0, 0, 255, 0, 255, 0, 255, 0, 0, 8, 8, 8}},
        {"555 bit fields",
         BI_BITFIELDS,
         le32Bytes({0x7C00, 0x03E0, 0x001F}),
         {0x7FFF, 0x0000, 0x7C00, 0x03E0, 0x001F, 0x4210},
         {255, 255, 255, 0, 0, 0, 0, 0, 255, 0, 255, 0, 255, 0, 0, 132, 132, 132}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // One row of 3 and one of 3 pixels: 6 stored bytes a row, padded to 8.
        Bytes tight;
        for (std::uint16_t p : c.pixels) {
            tight.push_back(static_cast<std::uint8_t>(p));
            tight.push_back(static_cast<std::uint8_t>(p >> 8));
        }
        FakeSource source;
        source.samples.push_back({dibRows(tight, 6, false)});
        auto decoder = makeDecoder(makeStrf(3, 2, 16, c.compression, c.masks), source);
        ASSERT_NE(decoder, nullptr);
        EXPECT_EQ(decoder->outputBitCount(), 24);
        EXPECT_EQ(unpack(decoder->frame(0), 3, 2, 24), c.bgr);
    }
}

TEST(DibDecode, PalettisedFramesCarryA256EntryTable)
{
    struct Case {
        const char* name;
        std::uint16_t bits;
        std::uint32_t clrUsed;
        Bytes palette;              // as stored after the header
        Bytes storedRow;            // one row, tight
        Bytes indices;              // expected 8-bit row
        std::vector<RGBQUAD> table; // expected leading entries; the rest must be black
    };
    const Bytes three = {10, 20, 30, 99, 40, 50, 60, 99, 70, 80, 90, 99};
    const Case cases[] = {
        {"8-bit, clrUsed 3",
         8,
         3,
         three,
         {0, 1, 2, 1, 0},
         {0, 1, 2, 1, 0},
         {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}},
        {"8-bit, clrUsed 0 means 256, table cut short by the chunk",
         8,
         0,
         three,
         {2, 2, 0, 1, 0},
         {2, 2, 0, 1, 0},
         {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}},
        {"8-bit, clrUsed past the chunk",
         8,
         5000,
         three,
         {1, 0, 0, 0, 2},
         {1, 0, 0, 0, 2},
         {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}},
        {"4-bit",
         4,
         3,
         three,
         {0x12, 0x01, 0x20},
         {1, 2, 0, 1, 2},
         {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}},
        {"1-bit", 1, 2, three, {0xA8}, {1, 0, 1, 0, 1}, {{10, 20, 30, 0}, {40, 50, 60, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSource source;
        const Bytes row = dibRows(c.storedRow, c.storedRow.size(), false);
        source.samples.push_back({row});
        auto decoder = makeDecoder(makeStrf(5, 1, c.bits, BI_RGB, c.palette, c.clrUsed), source);
        ASSERT_NE(decoder, nullptr);
        EXPECT_EQ(decoder->outputBitCount(), 8);
        const BITMAPINFOHEADER* bih = decoder->frame(0);
        EXPECT_EQ(unpack(bih, 5, 1, 8), c.indices);
        ASSERT_NE(bih, nullptr);
        const RGBQUAD* table = paletteOf(bih);
        for (std::size_t i = 0; i < 256; ++i) {
            const RGBQUAD want = i < c.table.size() ? c.table[i] : RGBQUAD{0, 0, 0, 0};
            ASSERT_EQ(std::memcmp(&table[i], &want, 4), 0) << "entry " << i;
        }
    }
}

TEST(DibDecode, EightBitWithoutPaletteIsGrey)
{
    FakeSource source;
    source.samples.push_back({Bytes{0, 128, 255, 7}});
    auto decoder = makeDecoder(makeStrf(4, 1, 8, BI_RGB), source);
    ASSERT_NE(decoder, nullptr);
    const BITMAPINFOHEADER* bih = decoder->frame(0);
    EXPECT_EQ(unpack(bih, 4, 1, 8), (Bytes{0, 128, 255, 7}));
    ASSERT_NE(bih, nullptr);
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& e = paletteOf(bih)[i];
        ASSERT_TRUE(e.rgbBlue == i && e.rgbGreen == i && e.rgbRed == i && e.rgbReserved == 0) << i;
    }
}

TEST(DibDecode, UncompressedFourccsNameTheSameRows)
{
    for (const char* name : {"DIB ", "RGB ", "RAW "}) {
        SCOPED_TRACE(name);
        const Bytes picture = pattern(4 * 3 * 2);
        FakeSource source;
        source.samples.push_back({dibRows(picture, 12, false)});
        auto decoder = makeDecoder(makeStrf(4, 2, 24, mmioFOURCC(name[0], name[1], name[2], name[3])), source);
        ASSERT_NE(decoder, nullptr);
        EXPECT_EQ(unpack(decoder->frame(0), 4, 2, 24), picture);
    }
}

// --- Raw YUV ------------------------------------------------------------------------

// One picture in a raw YUV layout: luma per row (top first), chroma constant.
Bytes packYuv(StoredLayout layout, int w, int h, const std::vector<std::uint8_t>& rowLuma, std::uint8_t u,
              std::uint8_t v)
{
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    Bytes out;
    const auto lumaPlane = [&] {
        for (int y = 0; y < h; ++y)
            out.insert(out.end(), static_cast<std::size_t>(w), rowLuma[static_cast<std::size_t>(y)]);
    };
    const auto plane = [&](std::uint8_t value) { out.insert(out.end(), static_cast<std::size_t>(cw * ch), value); };
    const auto pairs = [&](std::uint8_t a, std::uint8_t b) {
        for (int i = 0; i < cw * ch; ++i) {
            out.push_back(a);
            out.push_back(b);
        }
    };
    const auto packed = [&](int yAt, int uAt, int vAt) {
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < cw; ++i) {
                std::uint8_t quad[4];
                quad[yAt] = quad[yAt + 2] = rowLuma[static_cast<std::size_t>(y)];
                quad[uAt] = u;
                quad[vAt] = v;
                out.insert(out.end(), quad, quad + 4);
            }
    };
    switch (layout) {
    case StoredLayout::I420:
        lumaPlane();
        plane(u);
        plane(v);
        break;
    case StoredLayout::YV12:
        lumaPlane();
        plane(v);
        plane(u);
        break;
    case StoredLayout::NV12:
        lumaPlane();
        pairs(u, v);
        break;
    case StoredLayout::NV21:
        lumaPlane();
        pairs(v, u);
        break;
    case StoredLayout::YUY2: packed(0, 1, 3); break;
    case StoredLayout::UYVY: packed(1, 0, 2); break;
    case StoredLayout::YVYU: packed(0, 3, 1); break;
    case StoredLayout::Gray: lumaPlane(); break;
    case StoredLayout::Dib: break;
    }
    return out;
}

// BT.601, limited range, as B G R.
std::array<double, 3> bt601(double y, double u, double v)
{
    const double l = 1.164383 * (y - 16);
    return {l + 2.017232 * (u - 128), l - 0.391762 * (u - 128) - 0.812968 * (v - 128), l + 1.596027 * (v - 128)};
}

std::uint8_t clamp8(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

TEST(RawYuvDecode, EveryTableFourccConvertsWithBt601LimitedRange)
{
    struct Colour {
        const char* name;
        std::uint8_t u;
        std::uint8_t v;
    };
    // Neutral chroma pins black and white; the coloured pair tells U from V.
    const Colour colours[] = {{"neutral", 128, 128}, {"orange", 80, 190}, {"teal", 170, 70}};
    const std::vector<std::uint8_t> luma = {16, 235, 126, 60, 200, 90};
    for (const auto& entry : kStoredFourccs) {
        if (entry.layout == StoredLayout::Dib)
            continue;
        for (const auto& [w, h] : {std::pair{6, 4}, std::pair{5, 3}}) {
            for (const auto& colour : colours) {
                SCOPED_TRACE(fourccText(entry.fourcc) + " " + std::to_string(w) + "x" + std::to_string(h) + " " +
                             colour.name);
                FakeSource source;
                source.samples.push_back({packYuv(entry.layout, w, h, luma, colour.u, colour.v)});
                auto decoder = makeDecoder(makeStrf(w, h, 16, entry.fourcc), source);
                ASSERT_NE(decoder, nullptr);
                EXPECT_EQ(decoder->outputBitCount(), 24);
                const Bytes got = unpack(decoder->frame(0), w, h, 24);
                ASSERT_EQ(got.size(), static_cast<std::size_t>(w * h * 3));
                // The scaler's fixed-point paths stray up to 3 from the exact formula on
                // some colours; its results against ffmpeg's are checked end to end.
                for (int y = 0; y < h; ++y) {
                    // Grey samples carry luma only, over the full range.
                    const auto want = entry.layout == StoredLayout::Gray
                                          ? std::array<double, 3>{1.0 * luma[y], 1.0 * luma[y], 1.0 * luma[y]}
                                          : bt601(luma[y], colour.u, colour.v);
                    for (int x = 0; x < w; ++x)
                        for (int c = 0; c < 3; ++c)
                            ASSERT_NEAR(got[static_cast<std::size_t>((y * w + x) * 3 + c)], clamp8(want[c]), 3)
                                << "pixel " << x << "," << y << " channel " << c;
                }
            }
        }
    }
}

TEST(RawYuvDecode, BlackAndWhiteAreExact)
{
    FakeSource source;
    source.samples.push_back({packYuv(StoredLayout::I420, 4, 2, {16, 235}, 128, 128)});
    auto decoder = makeDecoder(makeStrf(4, 2, 12, mmioFOURCC('I', '4', '2', '0')), source);
    ASSERT_NE(decoder, nullptr);
    const Bytes got = unpack(decoder->frame(0), 4, 2, 24);
    ASSERT_EQ(got.size(), 24u);
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_LE(got[i], 1) << i;
    for (std::size_t i = 12; i < 24; ++i)
        EXPECT_GE(got[i], 254) << i;
}

TEST(RawYuvDecode, ShortSampleGivesNullAndNextFrameStillDecodes)
{
    for (const auto& entry : kStoredFourccs) {
        if (entry.layout == StoredLayout::Dib)
            continue;
        SCOPED_TRACE(fourccText(entry.fourcc));
        Bytes full = packYuv(entry.layout, 5, 3, {50, 60, 70}, 100, 150);
        ASSERT_EQ(full.size(), rawYuvPictureBytes(entry.layout, 5, 3));
        FakeSource source;
        source.samples.push_back({Bytes(full.begin(), full.end() - 1)});
        source.samples.push_back({full});
        auto decoder = makeDecoder(makeStrf(5, 3, 16, entry.fourcc), source);
        ASSERT_NE(decoder, nullptr);
        EXPECT_EQ(decoder->frame(0), nullptr);
        EXPECT_NE(decoder->frame(1), nullptr);
    }
}

TEST(FourccTable, LookupIgnoresCaseAndLeavesCodecsAlone)
{
    EXPECT_EQ(storedLayoutOf(mmioFOURCC('y', 'u', 'y', '2')), StoredLayout::YUY2);
    EXPECT_EQ(storedLayoutOf(mmioFOURCC('i', '4', '2', '0')), StoredLayout::I420);
    EXPECT_EQ(storedLayoutOf(mmioFOURCC('M', 'J', 'P', 'G')), std::nullopt);
    // Every code appears once, or the order of the table would decide.
    for (std::size_t i = 0; i < std::size(kStoredFourccs); ++i)
        for (std::size_t j = i + 1; j < std::size(kStoredFourccs); ++j)
            EXPECT_NE(kStoredFourccs[i].fourcc, kStoredFourccs[j].fourcc) << fourccText(kStoredFourccs[i].fourcc);
}

// --- Positions ----------------------------------------------------------------------

TEST(FrameDecode, DroppedFrameShowsTheLastFrameWithData)
{
    const Bytes a = pattern(12, 1);
    const Bytes b = pattern(12, 90);
    FakeSource source;
    source.samples = {{{}}, {a}, {{}}, {{}}, {b}};
    auto decoder = makeDecoder(makeStrf(4, 1, 24, BI_RGB), source);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->frame(0), nullptr) << "nothing before the first dropped frame";
    EXPECT_EQ(unpack(decoder->frame(3), 4, 1, 24), a);
    EXPECT_EQ(unpack(decoder->frame(4), 4, 1, 24), b);
    EXPECT_EQ(unpack(decoder->frame(2), 4, 1, 24), a);
    EXPECT_EQ(decoder->frame(5), nullptr) << "past the end";
    EXPECT_EQ(decoder->frame(-1), nullptr);
}

TEST(FrameDecode, ShortUncompressedSampleGivesNull)
{
    FakeSource source;
    source.samples.push_back({Bytes(5 * 3 * 2 - 1)}); // not even tight rows fit
    source.samples.push_back({Bytes(16 * 2)});        // padded rows
    auto decoder = makeDecoder(makeStrf(5, 2, 24, BI_RGB), source);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->frame(0), nullptr);
    EXPECT_NE(decoder->frame(1), nullptr);
}

// Uncompressed frames larger than every stored sample are refused, with the sizes, before the
// header can size a bitmap: a 14 KB stream claiming 18000 x 18000 pixels would take a gigabyte.
TEST(FrameDecode, UncompressedFramesLargerThanAnySampleAreRefusedWithTheReason)
{
    struct Case {
        const char* name;
        Bytes strf;
        std::size_t sample;
        std::string why;
    };
    const Case cases[] = {
        {"24-bit", makeStrf(18000, 18000, 24, BI_RGB), 14000,
         "its frames of 18000\u00d718000 pixels need 972000000 bytes each, but the largest stored frame holds 14000"},
        {"I420", makeStrf(18000, -18000, 12, mmioFOURCC('I', '4', '2', '0')), 14000,
         "its frames of 18000\u00d718000 pixels need 486000000 bytes each, but the largest stored frame holds 14000"},
        {"no data at all", makeStrf(64, 48, 24, BI_RGB), 0, "none of its 64\u00d748 frames holds data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSource source;
        source.samples.push_back({Bytes(c.sample)});
        std::string why;
        EXPECT_EQ(FrameDecoder::create(videoInfo(), c.strf.data(), c.strf.size(), source, &why), nullptr);
        EXPECT_EQ(why, c.why);
    }
}

// --- Hostile formats ----------------------------------------------------------------

TEST(FrameDecode, RejectsFormatsItCannotDecodeSafely)
{
    struct Case {
        const char* name;
        Bytes strf;
    };
    Bytes tooShort = makeStrf(4, 4, 24, BI_RGB);
    tooShort.pop_back();
    const Case cases[] = {
        {"strf shorter than the header", tooShort},
        {"zero width", makeStrf(0, 4, 24, BI_RGB)},
        {"negative width", makeStrf(-4, 4, 24, BI_RGB)},
        {"zero height", makeStrf(4, 0, 24, BI_RGB)},
        {"most negative height", makeStrf(4, INT_MIN, 24, BI_RGB)},
        {"width past the cap", makeStrf(32769, 1, 24, BI_RGB)},
        {"height past the cap", makeStrf(1, -32769, 24, BI_RGB)},
        {"bitmap past 1 GiB", makeStrf(32768, 32768, 32, BI_RGB)},
        {"YUV bitmap past 1 GiB", makeStrf(32768, 32768, 12, mmioFOURCC('I', '4', '2', '0'))},
        {"zero bit count", makeStrf(4, 4, 0, BI_RGB)},
        {"odd bit count", makeStrf(4, 4, 7, BI_RGB)},
        {"48-bit", makeStrf(4, 4, 48, BI_RGB)},
        {"bit fields without masks", makeStrf(4, 4, 16, BI_BITFIELDS)},
        {"bit fields with a gap in a mask",
         makeStrf(4, 4, 16, BI_BITFIELDS, le32Bytes({0xF000 | 0x0400, 0x07E0, 0x1F}))},
        {"bit fields with a zero mask", makeStrf(4, 4, 16, BI_BITFIELDS, le32Bytes({0, 0x07E0, 0x1F}))},
        {"bit fields with a mask past 16 bits", makeStrf(4, 4, 16, BI_BITFIELDS, le32Bytes({0x1F0000, 0x07E0, 0x1F}))},
        {"bit fields on 24-bit", makeStrf(4, 4, 24, BI_BITFIELDS, le32Bytes({0xFF0000, 0xFF00, 0xFF}))},
        {"32-bit bit fields in another order", makeStrf(4, 4, 32, BI_BITFIELDS, le32Bytes({0xFF, 0xFF00, 0xFF0000}))},
        {"unknown codec", makeStrf(4, 4, 24, mmioFOURCC('Z', 'Q', 'X', '9'))},
    };
    FakeSource source;
    source.samples.push_back({Bytes(4096, 0x55)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(makeDecoder(c.strf, source), nullptr);
    }
    EXPECT_EQ(FrameDecoder::create(videoInfo(), nullptr, 40, source), nullptr);
}

TEST(FrameDecode, HandlerNamesTheCodecWhenCompressionIsUnknown)
{
    FakeSource source;
    source.samples.push_back({packYuv(StoredLayout::YUY2, 4, 2, {16, 235}, 128, 128)});
    const Bytes strf = makeStrf(4, 2, 16, mmioFOURCC('Z', 'Q', 'X', '9'));
    EXPECT_EQ(makeDecoder(strf, source, mmioFOURCC('D', 'I', 'B', ' ')), nullptr);
    auto decoder = makeDecoder(strf, source, mmioFOURCC('Y', 'U', 'Y', '2'));
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(unpack(decoder->frame(0), 4, 2, 24).size(), 24u);
}

// --- libavcodec ---------------------------------------------------------------------

struct EncoderDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

// Grey source pictures: a diagonal ramp that moves by 5 pixels a frame, so neighbouring
// frames tell apart clearly and a wrong position shows.
std::uint8_t rampLuma(int x, int y, int n) { return static_cast<std::uint8_t>(40 + ((x + y + 5 * n) * 3) % 160); }

// Encodes frames with libavcodec into samples in decode order, key frames flagged.
std::vector<FakeSample> encodeClip(const char* encoderName, AVPixelFormat format, int w, int h, int frames, int gop,
                                   int bFrames)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec)
        return {};
    std::unique_ptr<AVCodecContext, EncoderDeleter> enc(avcodec_alloc_context3(codec));
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = format;
    enc->time_base = {1, 25};
    enc->gop_size = gop;
    enc->max_b_frames = bFrames;
    enc->global_quality = FF_QP2LAMBDA * 3;
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        return {};

    std::vector<FakeSample> out;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    frame->width = w;
    frame->height = h;
    frame->format = format;
    av_frame_get_buffer(frame, 0);
    const auto drain = [&] {
        while (avcodec_receive_packet(enc.get(), packet) >= 0) {
            out.push_back({Bytes(packet->data, packet->data + packet->size), (packet->flags & AV_PKT_FLAG_KEY) != 0});
            av_packet_unref(packet);
        }
    };
    for (int n = 0; n < frames; ++n) {
        av_frame_make_writable(frame);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                frame->data[0][y * frame->linesize[0] + x] = rampLuma(x, y, n);
        for (int p = 1; p <= 2; ++p)
            for (int y = 0; y < (h + 1) / 2; ++y)
                std::memset(frame->data[p] + y * frame->linesize[p], 128, static_cast<std::size_t>((w + 1) / 2));
        frame->pts = n;
        avcodec_send_frame(enc.get(), frame);
        drain();
    }
    avcodec_send_frame(enc.get(), nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    return out;
}

// Mean absolute difference between a decoded grey picture and source frame n.
double differenceToSource(const Bytes& bgr, int w, int h, int n, bool fullRange)
{
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double luma = rampLuma(x, y, n);
            const double want = fullRange ? luma : 255.0 * (luma - 16) / 219.0;
            sum += std::abs(bgr[static_cast<std::size_t>((y * w + x) * 3 + 1)] - want);
        }
    return sum / (w * h);
}

struct ClipCase {
    const char* name;
    const char* encoder;
    FOURCC fourcc;
    AVPixelFormat format;
    int gop;
    int bFrames;
    bool fullRange;
};

const ClipCase kClips[] = {
    {"MJPG", "mjpeg", mmioFOURCC('M', 'J', 'P', 'G'), AV_PIX_FMT_YUVJ420P, 1, 0, true},
    {"MPEG-4 part 2, key frame every 5", "mpeg4", mmioFOURCC('F', 'M', 'P', '4'), AV_PIX_FMT_YUV420P, 5, 0, false},
    {"MPEG-4 part 2 with B-frames", "mpeg4", mmioFOURCC('F', 'M', 'P', '4'), AV_PIX_FMT_YUV420P, 6, 2, false},
};

TEST(CodecDecode, AnyOrderOfPositionsShowsTheRightPicture)
{
    constexpr int w = 48;
    constexpr int h = 32;
    constexpr int frames = 14;
    for (const auto& clip : kClips) {
        SCOPED_TRACE(clip.name);
        FakeSource source;
        source.samples = encodeClip(clip.encoder, clip.format, w, h, frames, clip.gop, clip.bFrames);
        ASSERT_EQ(source.samples.size(), static_cast<std::size_t>(frames));
        const Bytes strf = makeStrf(w, h, 24, clip.fourcc);

        auto stepping = makeDecoder(strf, source);
        ASSERT_NE(stepping, nullptr);
        EXPECT_EQ(stepping->outputBitCount(), 24);
        std::vector<Bytes> sequential;
        for (int n = 0; n < frames; ++n) {
            sequential.push_back(unpack(stepping->frame(n), w, h, 24));
            ASSERT_EQ(sequential.back().size(), static_cast<std::size_t>(w * h * 3)) << "frame " << n;
            EXPECT_LT(differenceToSource(sequential.back(), w, h, n, clip.fullRange), 4.0) << "frame " << n;
        }

        auto jumping = makeDecoder(strf, source);
        ASSERT_NE(jumping, nullptr);
        for (int n : {7, 2, 9, 10, 13, 12, 0, 4, 5, 6, 11, 3}) {
            SCOPED_TRACE("frame " + std::to_string(n));
            EXPECT_EQ(unpack(jumping->frame(n), w, h, 24), sequential[static_cast<std::size_t>(n)]);
        }
    }
}

TEST(CodecDecode, DroppedFrameRepeatsThePreviousPicture)
{
    constexpr int w = 32;
    constexpr int h = 16;
    FakeSource source;
    source.samples = encodeClip("mpeg4", AV_PIX_FMT_YUV420P, w, h, 8, 4, 0);
    ASSERT_EQ(source.samples.size(), 8u);
    // Dropped frames are extra index entries without data; the encoded frames keep
    // their order around them.
    source.samples.insert(source.samples.begin() + 3, FakeSample{});
    source.samples.insert(source.samples.begin() + 3, FakeSample{});
    auto decoder = makeDecoder(makeStrf(w, h, 24, mmioFOURCC('F', 'M', 'P', '4')), source);
    ASSERT_NE(decoder, nullptr);
    const Bytes two = unpack(decoder->frame(2), w, h, 24);
    EXPECT_EQ(unpack(decoder->frame(4), w, h, 24), two);
    EXPECT_EQ(unpack(decoder->frame(3), w, h, 24), two);
    EXPECT_LT(differenceToSource(unpack(decoder->frame(5), w, h, 24), w, h, 3, false), 4.0);
    EXPECT_LT(differenceToSource(unpack(decoder->frame(9), w, h, 24), w, h, 7, false), 4.0);
}

TEST(CodecDecode, DamagedSamplesGiveNullAndDoNotStopLaterOnes)
{
    constexpr int w = 32;
    constexpr int h = 16;
    FakeSource source;
    source.samples = encodeClip("mjpeg", AV_PIX_FMT_YUVJ420P, w, h, 3, 1, 0);
    ASSERT_EQ(source.samples.size(), 3u);
    source.samples[1].bytes = pattern(300, 3);
    auto decoder = makeDecoder(makeStrf(w, h, 24, mmioFOURCC('M', 'J', 'P', 'G')), source);
    ASSERT_NE(decoder, nullptr);
    EXPECT_NE(decoder->frame(0), nullptr);
    EXPECT_EQ(decoder->frame(1), nullptr);
    EXPECT_LT(differenceToSource(unpack(decoder->frame(2), w, h, 24), w, h, 2, true), 4.0);
}

// --- End to end: files ffmpeg wrote, read through the public services ---------------

// Open file, stream and decoder, released in reverse order whatever the test does.
class OpenedVideo {
public:
    explicit OpenedVideo(const std::string& path)
    {
        if (AVIFileOpenA(m_file.out(), path.c_str(), OF_READ, nullptr) != AVIERR_OK)
            return;
        if (AVIFileGetStream(m_file.get(), m_stream.out(), streamtypeVIDEO, 0) != AVIERR_OK)
            return;
        m_frames = kestro::avi::GetFrameHandle(AVIStreamGetFrameOpen(m_stream.get(), nullptr));
    }

    bool ok() const { return static_cast<bool>(m_frames); }
    const BITMAPINFOHEADER* frame(LONG n) const
    {
        return static_cast<const BITMAPINFOHEADER*>(
            AVIStreamGetFrame(m_frames.get(), AVIStreamStart(m_stream.get()) + n));
    }

private:
    kestro::avi::Session m_session;
    kestro::avi::FileHandle m_file;
    kestro::avi::StreamHandle m_stream;
    kestro::avi::GetFrameHandle m_frames;
};

// Our bitmap as ffmpeg prints a frame: top row first, no padding, colour table
// applied to 8-bit frames, 32-bit frames kept at 4 bytes a pixel.
Bytes asTopDown(const BITMAPINFOHEADER* bih)
{
    const int bits = bih->biBitCount;
    const Bytes rows = unpack(bih, bih->biWidth, bih->biHeight, bits);
    if (bits != 8)
        return rows;
    Bytes bgr;
    const RGBQUAD* table = paletteOf(bih);
    for (std::uint8_t i : rows) {
        bgr.push_back(table[i].rgbBlue);
        bgr.push_back(table[i].rgbGreen);
        bgr.push_back(table[i].rgbRed);
    }
    return bgr;
}

struct FileCase {
    const char* name;
    const char* encode; // ffmpeg output options
    int outputBits;     // what our decoder delivers
    int tolerance;      // per channel, against ffmpeg's decode
    bool interFrame = false;
};

const FileCase kFileCases[] = {
    {"I420", "-c:v rawvideo -pix_fmt yuv420p", 24, 2},
    {"YV12", "-c:v rawvideo -pix_fmt yuv420p -vtag YV12", 24, 2},
    {"NV12", "-c:v rawvideo -pix_fmt nv12", 24, 2},
    {"YUY2", "-c:v rawvideo -pix_fmt yuyv422", 24, 2},
    {"UYVY", "-c:v rawvideo -pix_fmt uyvy422", 24, 2},
    {"grey", "-c:v rawvideo -pix_fmt gray", 24, 2},
    {"8-bit palette", "-c:v rawvideo -pix_fmt pal8", 8, 0},
    {"16-bit 555", "-c:v rawvideo -pix_fmt rgb555le", 24, 0},
    {"24-bit", "-c:v rawvideo -pix_fmt bgr24", 24, 0},
    {"32-bit", "-c:v rawvideo -pix_fmt bgra", 32, 0},
    {"MJPG", "-c:v mjpeg -q:v 3", 24, 2},
    {"MPEG-4 part 2, key frame every 10", "-c:v mpeg4 -g 10 -q:v 3", 24, 2, true},
};

TEST(DecodeFile, MatchesFfmpegsOwnDecode)
{
    if (!kestro::test::haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    kestro::test::ScratchDir dir;
    constexpr int frames = 24;
    for (const auto& c : kFileCases) {
        // 62 leaves 24-bit rows 2 bytes short of a multiple of 4, 61 makes chroma round up.
        for (const auto& [w, h] : {std::pair{64, 48}, std::pair{62, 46}, std::pair{61, 45}}) {
            const std::string size = std::to_string(w) + "x" + std::to_string(h);
            SCOPED_TRACE(std::string(c.name) + " " + size);
            const std::string path = dir.file("clip.avi");
            const std::string cmd = "ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size + ":rate=25 -frames:v " +
                                    std::to_string(frames) + " " + c.encode + " " + kestro::test::quote(path) + " 2>&1";
            std::string log;
            if (kestro::test::run(cmd, &log) != 0) {
                // Some layouts need even sizes; ffmpeg refusing is not our fault.
                ASSERT_NE(w, 64) << log;
                continue;
            }
            OpenedVideo video(path);
            ASSERT_TRUE(video.ok());
            const std::string ffmpegFormat = c.outputBits == 32 ? "bgra" : "bgr24";
            // Backwards and across key frames, as a user scrubs; every frame of the other
            // formats stands alone, so two of them say as much.
            const std::vector<int> order =
                c.interFrame ? std::vector<int>{7, 2, 9, 23, 15, 14, 0, 1} : std::vector<int>{9, 0};
            for (int n : order) {
                SCOPED_TRACE("frame " + std::to_string(n));
                const BITMAPINFOHEADER* bih = video.frame(n);
                ASSERT_NE(bih, nullptr);
                ASSERT_EQ(bih->biBitCount, c.outputBits);
                const Bytes ours = asTopDown(bih);
                const Bytes theirs = kestro::test::ffmpegFrame(path, n, ffmpegFormat);
                ASSERT_EQ(ours.size(), theirs.size());
                int worst = 0;
                std::size_t worstAt = 0;
                for (std::size_t i = 0; i < ours.size(); ++i) {
                    const int d = std::abs(int{ours[i]} - int{theirs[i]});
                    if (d > worst) {
                        worst = d;
                        worstAt = i;
                    }
                }
                EXPECT_LE(worst, c.tolerance)
                    << "byte " << worstAt << ": ours " << int{ours[worstAt]} << ", ffmpeg " << int{theirs[worstAt]};
            }
        }
    }
}

} // namespace

namespace {

// Pictures from VGA up are converted in bands, by two threads each taking half of them;
// the seam, the remainder band and both halves must still match ffmpeg, and the packed
// layouts, converted whole, too.
TEST(DecodeFile, LargePicturesSplitAcrossThreadsMatchFfmpeg)
{
    if (!kestro::test::haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    kestro::test::ScratchDir dir;
    // 4:2:0 and grey take the same converter as ffmpeg's own and match it byte for byte,
    // so any seam between bands or threads shows; packed 4:2:2 may round by 2.
    for (const auto& [pixFmt, tolerance] : {std::pair{"yuv420p", 0}, std::pair{"yuyv422", 2}, std::pair{"gray", 0}}) {
        for (const auto& [w, h] : {std::pair{1280, 720}, std::pair{656, 490}}) {
            const std::string size = std::to_string(w) + "x" + std::to_string(h);
            SCOPED_TRACE(std::string(pixFmt) + " " + size);
            const std::string path = dir.file("large.avi");
            ASSERT_EQ(kestro::test::run("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size +
                                        ":rate=25 -frames:v 2 -c:v rawvideo -pix_fmt " + pixFmt + " " +
                                        kestro::test::quote(path)),
                      0);
            OpenedVideo video(path);
            ASSERT_TRUE(video.ok());
            const BITMAPINFOHEADER* bih = video.frame(1);
            ASSERT_NE(bih, nullptr);
            const Bytes ours = asTopDown(bih);
            const Bytes theirs = kestro::test::ffmpegFrame(path, 1, "bgr24");
            ASSERT_EQ(ours.size(), theirs.size());
            int worst = 0;
            for (std::size_t i = 0; i < ours.size(); ++i)
                worst = std::max(worst, std::abs(int{ours[i]} - int{theirs[i]}));
            EXPECT_LE(worst, tolerance);
        }
    }
}

} // namespace
