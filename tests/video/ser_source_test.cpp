// CVideoSource on SER captures written by an independent numpy script: every display mode shows
// the values the script stored (scaled to 8 bits from the real depth), the header's Bayer id
// gives the right colours without a pattern chosen, and what cannot be opened or shown is
// refused with its reason.
#include "video_source.h"

#include "depth_scale.h"
#include "frame_bitmaps.h"
#include "message_box.h"
#include "ser_fixtures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

using kestro::test::NpyArray;
using kestro::test::SerFixtures;
using kestro::ui::MessageRecorder;
using Bytes = std::vector<std::uint8_t>;
using namespace kestro::test::bitmaps;

// Every capture these tests open, written once per test process.
const SerFixtures& fixtures()
{
    static const SerFixtures made{
        "mono8",          "bayer8-RGGB",     "bayer8-CYYM",    "le12-flag0",   "le12-flag1",
        "be12-flag0",     "be12-flag1",      "depth16-data12", "indi-id",      "count0",
        "cut-in-frame",   "times-missing",   "rgb8",           "bgr8",         "rgb16",
        "colour8-RGGB",   "colour8-GRBG",    "colour8-GBRG",   "colour8-BGGR", "colour12-GBRG",
        "width0",         "height-negative", "depth17",        "color7",       "frame-too-large",
        "no-whole-frame", "cut-header"};
    return made;
}

struct Plane {
    const char* name;
    int realDepth;
    friend void PrintTo(const Plane& p, std::ostream* os) { *os << p.name; }
};

const Plane kPlanes[] = {
    {"mono8", 8},       {"bayer8-RGGB", 8}, {"bayer8-CYYM", 8},  {"le12-flag0", 12},
    {"le12-flag1", 12}, {"be12-flag0", 12}, {"be12-flag1", 12},  {"depth16-data12", 12},
    {"indi-id", 12},    {"count0", 8},      {"cut-in-frame", 8}, {"times-missing", 8},
};

class SerPlane : public testing::TestWithParam<Plane> {};

// RAW Y-channel is the stored plane, top row at the top; Normal shows the same grey.
TEST_P(SerPlane, RawYAndNormalShowTheStoredPlaneScaledByTheRealDepth)
{
    const Plane& p = GetParam();
    const NpyArray truth = fixtures().truth(p.name);
    MessageRecorder messages;
    CVideoSource source;
    ASSERT_TRUE(source.Open(fixtures().ser(p.name)));
    EXPECT_STREQ(source.GetCaptureFormatName(), "SER");
    EXPECT_EQ(source.GetRealDepth(), p.realDepth);
    EXPECT_EQ(source.GetStoredDepth(), static_cast<int>(truth.itemBytes * 8));
    ASSERT_EQ(static_cast<std::size_t>(source.GetFrameCount()), truth.frames());
    EXPECT_EQ(static_cast<std::size_t>(source.GetFrameHeight()), truth.shape[1]);
    EXPECT_EQ(static_cast<std::size_t>(source.GetFrameWidth()), truth.shape[2]);
    const std::size_t notesAtOpen = messages.messages().size();

    for (bool raw : {true, false}) {
        source.m_bRaw = raw;
        source.m_bRawColour = false;
        for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
            SCOPED_TRACE((raw ? "RAW Y-channel, frame " : "Normal, frame ") + std::to_string(i));
            ASSERT_EQ(source.FindDataFrame(i), i);
            ASSERT_EQ(source.GoToFrame(i), i);
            const BITMAPINFOHEADER* b = source.GetFrameBitmap();
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->biBitCount, 8);
            EXPECT_TRUE(hasGreyTable(b));
            EXPECT_EQ(topDown(b), kestro::test::storedIn8Bits(truth, static_cast<std::size_t>(i), p.realDepth));
        }
        EXPECT_TRUE(source.m_bRaw == raw) << "no fallback to Normal";
    }
    EXPECT_EQ(messages.messages().size(), notesAtOpen) << "nothing told while stepping";

    // The plane at full depth, whole and as a band of rows, any frame without making it current:
    // what the exports that keep the stored values read. The truth is little-endian, as the host.
    ASSERT_EQ(source.GetPlaneSampleBytes(), static_cast<int>(truth.itemBytes));
    const std::size_t rowBytes = truth.shape[2] * truth.itemBytes;
    const auto height = static_cast<std::int32_t>(truth.shape[1]);
    for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
        const Bytes stored(truth.frame(static_cast<std::size_t>(i)),
                           truth.frame(static_cast<std::size_t>(i)) + truth.frameBytes());
        Bytes whole(stored.size());
        ASSERT_TRUE(source.ReadPlaneRows(i, 0, height, whole.data(), static_cast<std::ptrdiff_t>(rowBytes)));
        EXPECT_EQ(whole, stored) << "frame " << i;
        Bytes band(2 * rowBytes);
        ASSERT_TRUE(
            source.ReadPlaneRows(i, height - 2, 2, band.data() + rowBytes, -static_cast<std::ptrdiff_t>(rowBytes)));
        EXPECT_TRUE(std::equal(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(rowBytes),
                               stored.end() - static_cast<std::ptrdiff_t>(rowBytes)))
            << "a negative stride puts the band's first row last";
    }
    EXPECT_FALSE(
        source.ReadPlaneRows(0, height - 1, 2, Bytes(4 * rowBytes).data(), static_cast<std::ptrdiff_t>(rowBytes)));
    EXPECT_FALSE(source.ReadPlaneRows(source.GetFrameCount(), 0, 1, Bytes(rowBytes).data(),
                                      static_cast<std::ptrdiff_t>(rowBytes)));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SerPlane, testing::ValuesIn(kPlanes), [](const auto& info) {
    std::string n = info.param.name;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

// The one rule from any depth to 8 bits: the top of the real range is white, values above it
// stay white instead of wrapping round, and below 8 bits the range is stretched.
TEST(DepthScale, TheRealRangeFillsTheGreyRangeAndValuesAboveItStayWhite)
{
    struct Case {
        int depth;
        std::uint16_t in;
        std::uint8_t out;
    };
    const Case cases[] = {
        {12, 0, 0},   {12, 4095, 255}, {12, 2048, 128}, {12, 4096, 255}, {12, 65535, 255}, {16, 65535, 255},
        {16, 256, 1}, {9, 511, 255},   {9, 2, 1},       {8, 200, 200},   {8, 300, 255},    {4, 15, 255},
        {4, 8, 136},  {4, 200, 255},   {1, 1, 255},     {1, 0, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t out = 7;
        kestro::video::scaleTo8(&c.in, &out, 1, c.depth);
        EXPECT_EQ(out, c.out) << c.in << " at " << c.depth << " bits";
        if (c.in <= 255) {
            const auto narrow = static_cast<std::uint8_t>(c.in);
            kestro::video::scaleTo8(&narrow, &out, 1, c.depth);
            EXPECT_EQ(out, c.depth >= 8 ? narrow : c.out) << "8-bit samples keep their values from 8 bits on";
        }
        // The same value in a long row, as frames are scaled: every lane of the vector code and
        // the odd samples after the last whole vector.
        const std::vector<std::uint16_t> row(1001, c.in);
        std::vector<std::uint8_t> scaled(row.size(), 7);
        kestro::video::scaleTo8(row.data(), scaled.data(), row.size(), c.depth);
        EXPECT_EQ(scaled, std::vector<std::uint8_t>(row.size(), c.out)) << c.in << " at " << c.depth << " bits, a row";
    }
}

// The mosaics of flat known colours, one per Bayer id (and one of 12 bits): with no pattern
// chosen by the user, and a wrong one set before, RAW colour shows the colours the mosaic was
// sampled from everywhere but the border the bilinear algorithm leaves black.
TEST(SerSource, RawColourOfEachBayerIdShowsTheSourceColours)
{
    for (const char* name : {"colour8-RGGB", "colour8-GRBG", "colour8-GBRG", "colour8-BGGR", "colour12-GBRG"}) {
        SCOPED_TRACE(name);
        const NpyArray colour = kestro::test::loadNpy(fixtures().dir().file(std::string(name) + ".colour.npy"));
        MessageRecorder messages;
        CVideoSource source;
        source.m_converter.SetPattern(0);
        ASSERT_TRUE(source.Open(fixtures().ser(name)));
        ASSERT_TRUE(source.GetHeaderPattern().has_value());
        EXPECT_EQ(source.m_converter.GetPattern(), *source.GetHeaderPattern());
        source.m_bRaw = source.m_bRawColour = true;
        const std::size_t height = colour.shape[1], width = colour.shape[2];
        for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
            ASSERT_EQ(source.GoToFrame(i), i);
            const BITMAPINFOHEADER* b = source.GetFrameBitmap();
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->biBitCount, 24);
            ASSERT_EQ(static_cast<std::size_t>(b->biWidth), width);
            const Bytes shown = topDown(b);
            int wrong = 0;
            for (std::size_t y = 1; y + 1 < height; ++y)
                for (std::size_t x = 1; x + 1 < width; ++x) {
                    const std::uint8_t* rgb = colour.frame(static_cast<std::size_t>(i)) + (y * width + x) * 3;
                    const std::uint8_t* bgr = shown.data() + (y * width + x) * 3;
                    wrong += bgr[0] != rgb[2] || bgr[1] != rgb[1] || bgr[2] != rgb[0];
                }
            EXPECT_EQ(wrong, 0) << "frame " << i;
        }
        EXPECT_TRUE(source.m_bRaw && source.m_bRawColour);
        EXPECT_TRUE(messages.messages().empty());
    }
    // Without a Bayer id the user's pattern stays.
    CVideoSource source;
    source.m_converter.SetPattern(3);
    ASSERT_TRUE(source.Open(fixtures().ser("mono8")));
    EXPECT_FALSE(source.GetHeaderPattern().has_value());
    EXPECT_EQ(source.m_converter.GetPattern(), 3);
}

// RGB and BGR frames show in colour in Normal; having no sensor plane, they are refused by the
// RAW modes, once, with the reason, and shown Normal.
TEST(SerSource, RgbAndBgrShowInColourAndRefuseTheRawModes)
{
    for (const auto& [name, depth] : {std::pair{"rgb8", 8}, std::pair{"bgr8", 8}, std::pair{"rgb16", 14}}) {
        SCOPED_TRACE(name);
        const NpyArray truth = fixtures().truth(name);
        const bool redFirst = std::string(name).starts_with("rgb");
        MessageRecorder messages;
        CVideoSource source;
        ASSERT_TRUE(source.Open(fixtures().ser(name)));
        EXPECT_EQ(source.GetRealDepth(), depth);
        for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
            ASSERT_EQ(source.GoToFrame(i), i);
            const BITMAPINFOHEADER* b = source.GetFrameBitmap();
            ASSERT_NE(b, nullptr);
            ASSERT_EQ(b->biBitCount, 24);
            Bytes want = kestro::test::storedIn8Bits(truth, static_cast<std::size_t>(i), depth);
            if (redFirst)
                for (std::size_t k = 0; k + 2 < want.size(); k += 3)
                    std::swap(want[k], want[k + 2]);
            EXPECT_EQ(topDown(b), want) << "frame " << i;
        }
        std::string why;
        EXPECT_FALSE(source.CanShowRaw(false, &why));
        EXPECT_NE(why.find("colour pictures, not raw sensor values"), std::string::npos) << why;
        source.m_bRaw = true;
        const BITMAPINFOHEADER* b = source.GetFrameBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->biBitCount, 24);
        EXPECT_FALSE(source.m_bRaw);
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].caption, "RAW display");
        EXPECT_NE(messages.messages()[0].text.find("Its frames hold"), std::string::npos)
            << messages.messages()[0].text;
    }
}

// A CMY mosaic shows grey in Normal and RAW Y-channel (above); RAW colour has no algorithm for it.
TEST(SerSource, CmyMosaicIsRefusedByRawColourWithTheReason)
{
    MessageRecorder messages;
    CVideoSource source;
    ASSERT_TRUE(source.Open(fixtures().ser("bayer8-CYYM")));
    EXPECT_FALSE(source.GetHeaderPattern().has_value());
    EXPECT_EQ(source.GetColorIdName(), "CYYM");
    EXPECT_TRUE(source.CanShowRaw(false));
    std::string why;
    EXPECT_FALSE(source.CanShowRaw(true, &why));
    EXPECT_NE(why.find("cyan, yellow and magenta"), std::string::npos) << why;
    source.m_bRaw = source.m_bRawColour = true;
    const BITMAPINFOHEADER* b = source.GetFrameBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biBitCount, 8) << "the Normal picture, grey";
    EXPECT_FALSE(source.m_bRaw);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text,
              "Its sensor has a cyan, yellow and magenta filter (CYYM), which the de-mosaic algorithms do not "
              "take.\nReverting to normal display");
}

struct Refused {
    const char* name;
    const char* reason;
    friend void PrintTo(const Refused& r, std::ostream* os) { *os << r.name; }
};

// Refused at open, by the SER reader (not as "not an AVI file"), naming the file and the reason.
TEST(SerSource, HostileHeadersAreRefusedAtOpenWithTheReason)
{
    const Refused refused[] = {
        {"width0", "Its frame width is 0; a frame is at least one pixel wide."},
        {"height-negative", "Its frame height is -4; a frame is at least one pixel high."},
        {"depth17", "Its bit depth is 17; the format holds 1 to 16 bits per sample."},
        {"color7", "Its colour id 7 is not one of the format's"},
        {"frame-too-large", "would each take more than 2 GiB"},
        {"no-whole-frame", "It holds no whole frame: a frame takes 32 bytes, and 31 follow the header."},
        {"cut-header", "The file ends inside its 178-byte header (it holds 100 bytes)."},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.name);
        MessageRecorder messages;
        CVideoSource source;
        const std::string path = fixtures().ser(r.name);
        EXPECT_FALSE(source.Open(path));
        EXPECT_FALSE(source.IsOpen());
        EXPECT_EQ(source.GetFrameCount(), 0);
        EXPECT_EQ(source.GetCaptureFormat(), CaptureFormat::None);
        EXPECT_EQ(source.GetFileName(), "");
        ASSERT_EQ(messages.messages().size(), 1u);
        const kestro::ui::Message& m = messages.messages()[0];
        EXPECT_EQ(m.caption, "SER capture");
        EXPECT_TRUE(m.text.starts_with("Unable to open " + path + "\n")) << m.text;
        EXPECT_NE(m.text.find(r.reason), std::string::npos) << m.text;
    }
}

// What the reader noticed is told once, at open; the frames it counts are whole and all hold data.
TEST(SerSource, ReaderNotesAreToldOnceAtOpen)
{
    MessageRecorder messages;
    CVideoSource source;
    ASSERT_TRUE(source.Open(fixtures().ser("cut-in-frame")));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].caption, "SER capture");
    EXPECT_EQ(messages.messages()[0].text, "cut-in-frame.ser says it holds 4 frames; it holds 3 whole frames.");
    EXPECT_EQ(source.GetFrameCount(), 3);
    EXPECT_EQ(source.GetPromisedFrameCount(), 3);
    EXPECT_EQ(source.GoToFrame(3), 0) << "past the last whole frame nothing changes";
    for (bool raw : {false, true}) {
        source.m_bRaw = raw;
        for (std::int32_t i = 0; i < 3; ++i) {
            ASSERT_EQ(source.GoToFrame(i), i);
            EXPECT_NE(source.GetFrameBitmap(), nullptr);
        }
    }
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_FALSE(source.GetFrameTimeUtc(0).has_value()) << "the file holds no times";
}

TEST(SerSource, FrameTimesAreThoseTheFileHolds)
{
    MessageRecorder messages;
    CVideoSource source;
    ASSERT_TRUE(source.Open(fixtures().ser("mono8")));
    const NpyArray times = fixtures().times("mono8");
    ASSERT_EQ(static_cast<std::size_t>(source.GetFrameCount()), times.frames());
    for (std::int32_t i = 0; i < source.GetFrameCount(); ++i)
        EXPECT_EQ(source.GetFrameTimeUtc(i), times.int64(static_cast<std::size_t>(i)));
    EXPECT_FALSE(source.GetFrameTimeUtc(source.GetFrameCount()).has_value());
    ASSERT_TRUE(source.Open(fixtures().ser("times-missing")));
    EXPECT_FALSE(source.GetFrameTimeUtc(0).has_value());
}

// Big-endian data are read as such from their look; the user may force an order, which changes
// the picture, and going back to Auto restores it. The choice stays for the next capture.
TEST(SerSource, ByteOrderComesFromTheDataUnlessTheUserSetsIt)
{
    const NpyArray truth = fixtures().truth("be12-flag0");
    MessageRecorder messages;
    CVideoSource source;
    ASSERT_TRUE(source.Open(fixtures().ser("be12-flag0")));
    ASSERT_TRUE(source.HasByteOrder());
    EXPECT_EQ(source.GetByteOrder(), kestro::ser::ByteOrder::Big);
    EXPECT_EQ(source.GetOrderBasis(), kestro::ser::OrderBasis::Data);
    source.m_bRaw = false;
    const Bytes right = kestro::test::storedIn8Bits(truth, 0, 12);
    ASSERT_NE(source.GetFrameBitmap(), nullptr);
    EXPECT_EQ(topDown(source.GetFrameBitmap()), right);

    source.SetByteOrder(kestro::ser::ByteOrder::Little);
    EXPECT_EQ(source.GetOrderBasis(), kestro::ser::OrderBasis::User);
    EXPECT_EQ(source.GetRealDepth(), 16) << "the noisy low byte now stands high";
    ASSERT_NE(source.GetFrameBitmap(), nullptr);
    EXPECT_NE(topDown(source.GetFrameBitmap()), right) << "the Normal picture is made again in the order chosen";

    ASSERT_TRUE(source.Open(fixtures().ser("le12-flag1")));
    EXPECT_EQ(source.GetOrderBasis(), kestro::ser::OrderBasis::User);
    source.SetByteOrder(std::nullopt);
    EXPECT_EQ(source.GetOrderBasis(), kestro::ser::OrderBasis::Data);
    ASSERT_TRUE(source.Open(fixtures().ser("mono8")));
    EXPECT_FALSE(source.HasByteOrder());
    EXPECT_TRUE(messages.messages().empty());
}

// The file's first bytes choose the reader, not its name.
TEST(SerSource, TheSignatureChoosesTheReaderNotTheExtension)
{
    kestro::test::ScratchDir dir;
    const std::string serNamedAvi = dir.file("capture.avi");
    std::filesystem::copy_file(fixtures().ser("mono8"), serNamedAvi);
    const std::string aviNamedSer = dir.file("capture.ser");
    kestro::test::makeSample(aviNamedSer, "--width 64 --height 48 --frames 3 --dropped none");

    MessageRecorder messages;
    CVideoSource source;
    ASSERT_TRUE(source.Open(serNamedAvi));
    EXPECT_EQ(source.GetCaptureFormat(), CaptureFormat::Ser);
    ASSERT_TRUE(source.Open(aviNamedSer));
    EXPECT_EQ(source.GetCaptureFormat(), CaptureFormat::Avi);
    EXPECT_STREQ(source.GetCaptureFormatName(), "AVI");
    EXPECT_EQ(source.GetFrameCount(), 3);
    EXPECT_NE(source.GetStreamInfo().fccType, 0u);
    ASSERT_TRUE(source.Open(serNamedAvi));
    EXPECT_EQ(source.GetStreamInfo().fccHandler, 0u) << "no stream header of the AVI file opened before";
    EXPECT_EQ(source.GetStreamInfo().dwRate, 0u);
    EXPECT_TRUE(messages.messages().empty());
}

} // namespace
