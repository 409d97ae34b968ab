// Every good capture the independent writer makes, read back frame by frame against the values
// it stored; how the reader judges byte order, real depth, frame count and frame times; reads
// into strided buffers; and a capture whose last frame lies past 4 GiB.
#include "ser_fixtures.h"
#include "ser_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <unistd.h>

namespace {

using namespace kestro::ser;
using kestro::test::NpyArray;
using kestro::test::SerFixtures;

std::vector<std::uint8_t> swappedPairs(const std::uint8_t* p, std::size_t n)
{
    std::vector<std::uint8_t> out(p, p + n);
    for (std::size_t i = 0; i + 1 < n; i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}

std::vector<std::uint8_t> bytesOf(const std::vector<std::uint16_t>& v)
{
    std::vector<std::uint8_t> out(v.size() * 2);
    std::memcpy(out.data(), v.data(), out.size());
    return out;
}

struct Good {
    const char* name;
    ColorId color;
    const char* sites;
    int planes;
    int bytesPerSample;
    int storedDepth;
    int realDepth;
    OrderBasis basis;
    ByteOrder order;
    bool bigEndianData;
    const char* note; // the one note expected, "" for none
    std::uint64_t extraBytes;
    const char* fileId = "LUCAM-RECORDER";
    friend void PrintTo(const Good& g, std::ostream* os) { *os << g.name; }
};

constexpr auto k8 = OrderBasis::OneByteSamples;
constexpr auto kData = OrderBasis::Data;
constexpr auto kConvention = OrderBasis::Convention;
constexpr auto kLE = ByteOrder::Little;
constexpr auto kBE = ByteOrder::Big;

const Good kGood[] = {
    {"mono8", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-RGGB", ColorId::RGGB, "RGGB", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-GRBG", ColorId::GRBG, "GRBG", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-GBRG", ColorId::GBRG, "GBRG", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-BGGR", ColorId::BGGR, "BGGR", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-CYYM", ColorId::CYYM, "CYYM", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-YCMY", ColorId::YCMY, "YCMY", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-YMCY", ColorId::YMCY, "YMCY", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"bayer8-MYYC", ColorId::MYYC, "MYYC", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"rgb8", ColorId::RGB, "", 3, 1, 8, 8, k8, kLE, false, "", 0},
    {"bgr8", ColorId::BGR, "", 3, 1, 8, 8, k8, kLE, false, "", 0},
    // The flag says nothing reliable: the data decide, against it where it lies.
    {"le12-flag0", ColorId::RGGB, "RGGB", 1, 2, 12, 12, kData, kLE, false, "", 0},
    {"le12-flag1", ColorId::RGGB, "RGGB", 1, 2, 12, 12, kData, kLE, false, "", 0},
    {"be12-flag0", ColorId::RGGB, "RGGB", 1, 2, 12, 12, kData, kBE, true, "", 0},
    {"be12-flag1", ColorId::Mono, "", 1, 2, 12, 12, kData, kBE, true, "", 0},
    {"depth16-data12", ColorId::Mono, "", 1, 2, 16, 12, kData, kLE, false, "", 0},
    {"rgb16", ColorId::RGB, "", 3, 2, 14, 14, kData, kLE, false, "", 0},
    // Flat, empty, tiny or rough frames cannot tell: little-endian, with either flag.
    {"flat16", ColorId::Mono, "", 1, 2, 16, 9, kConvention, kLE, false, "", 0},
    {"zero16", ColorId::Mono, "", 1, 2, 12, 12, kConvention, kLE, false, "", 0},
    {"tiny16", ColorId::Mono, "", 1, 2, 12, 12, kConvention, kLE, false, "", 0},
    {"rough16", ColorId::Mono, "", 1, 2, 16, 16, kConvention, kLE, false, "", 0},
    {"count0", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false,
     "count0.ser does not say how many frames it holds (its count is 0); it holds 4 whole frames.", 0},
    // Eight-byte frames: the table of their times is as long as five more frames.
    {"count0-times", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false,
     "count0-times.ser does not say how many frames it holds (its count is 0); it holds 5 whole frames.", 0},
    {"count-large", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false,
     "count-large.ser says it holds 500 frames; it holds 3 whole frames.", 0},
    {"cut-in-frame", ColorId::GRBG, "GRBG", 1, 1, 8, 8, k8, kLE, false,
     "cut-in-frame.ser says it holds 4 frames; it holds 3 whole frames.", 192 - 100},
    {"times-missing", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false, "", 0},
    {"times-short", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false,
     "times-short.ser ends with 20 bytes where the times of its 3 frames take 24: no frame times are shown.", 20},
    {"times-not-times", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false,
     "times-not-times.ser ends with 192 bytes after its 3 frames that do not hold their times: no frame times are "
     "shown.",
     192},
    {"times-extra", ColorId::Mono, "", 1, 1, 8, 8, k8, kLE, false, "", 5},
    {"indi-id", ColorId::BGGR, "BGGR", 1, 2, 12, 12, kData, kLE, false, "", 0, "INDI-RECORDER"},
};

class GoodCapture : public testing::TestWithParam<Good> {};

TEST_P(GoodCapture, ReadsTheStoredValuesAndWhatTheFileSaysAboutThem)
{
    const Good& g = GetParam();
    SerFixtures fx{g.name};
    const NpyArray truth = fx.truth(g.name);
    OpenResult opened = openSer(fx.ser(g.name));
    ASSERT_TRUE(opened.reader) << opened.error;
    const SerReader& r = *opened.reader;

    const FrameLayout& l = r.layout();
    EXPECT_EQ(l.colorId, g.color);
    EXPECT_EQ(l.sites, g.sites);
    EXPECT_EQ(l.planes, g.planes);
    EXPECT_EQ(l.bytesPerSample, g.bytesPerSample);
    EXPECT_EQ(static_cast<std::size_t>(l.height), truth.shape[1]);
    EXPECT_EQ(static_cast<std::size_t>(l.width), truth.shape[2]);
    EXPECT_EQ(truth.shape.size() == 4 ? truth.shape[3] : 1, static_cast<std::size_t>(g.planes));
    EXPECT_EQ(r.header().fileId, g.fileId);
    EXPECT_EQ(r.storedDepth(), g.storedDepth);
    EXPECT_EQ(r.realDepth(), g.realDepth);
    EXPECT_EQ(r.orderBasis(), g.basis);
    EXPECT_EQ(r.byteOrder(), g.order);
    EXPECT_EQ(r.extraBytes(), g.extraBytes);
    if (*g.note)
        EXPECT_EQ(r.notes(), std::vector<std::string>{g.note});
    else
        EXPECT_TRUE(r.notes().empty()) << r.notes().front();

    ASSERT_EQ(static_cast<std::size_t>(r.frameCount()), truth.frames());
    ASSERT_EQ(l.frameBytes, truth.frameBytes());
    const std::size_t samples = l.frameBytes / static_cast<std::size_t>(l.bytesPerSample);
    for (std::int32_t i = 0; i < r.frameCount(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const std::uint8_t* want = truth.frame(static_cast<std::size_t>(i));
        std::vector<std::uint8_t> stored(l.frameBytes);
        ASSERT_TRUE(r.readStoredBytes(i, stored));
        EXPECT_EQ(stored, g.bigEndianData ? swappedPairs(want, l.frameBytes)
                                          : std::vector<std::uint8_t>(want, want + l.frameBytes));

        std::vector<std::uint16_t> wide(samples);
        ASSERT_TRUE(r.readFrame(i, wide.data(), static_cast<std::ptrdiff_t>(l.width * l.planes * 2)));
        if (l.bytesPerSample == 2) {
            EXPECT_EQ(bytesOf(wide), std::vector<std::uint8_t>(want, want + l.frameBytes));
        } else {
            EXPECT_TRUE(std::equal(wide.begin(), wide.end(), want));
            std::vector<std::uint8_t> narrow(samples);
            ASSERT_TRUE(r.readFrame(i, narrow.data(), static_cast<std::ptrdiff_t>(l.rowBytes)));
            EXPECT_EQ(narrow, std::vector<std::uint8_t>(want, want + samples));
        }
    }

    if (fx.hasTimes(g.name)) {
        const NpyArray times = fx.times(g.name);
        const std::vector<std::string> iso = fx.isoTimes(g.name);
        ASSERT_TRUE(r.hasFrameTimes());
        ASSERT_EQ(iso.size(), truth.frames());
        for (std::int32_t i = 0; i < r.frameCount(); ++i) {
            const auto t = r.frameTimeUtc(i);
            ASSERT_TRUE(t) << "frame " << i;
            EXPECT_EQ(*t, times.int64(static_cast<std::size_t>(i)));
            EXPECT_EQ(formatIso8601(*t), iso[static_cast<std::size_t>(i)]);
        }
    } else {
        EXPECT_FALSE(r.hasFrameTimes());
        EXPECT_FALSE(r.frameTimeUtc(0));
    }
    EXPECT_FALSE(r.frameTimeUtc(r.frameCount()));
    EXPECT_FALSE(r.frameTimeUtc(-1));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GoodCapture, testing::ValuesIn(kGood), [](const auto& info) {
    std::string n = info.param.name;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

TEST(ByteOrder, TheUsersChoiceOverridesTheDataUntilItIsWithdrawn)
{
    SerFixtures fx{"le12-flag0"};
    const NpyArray truth = fx.truth("le12-flag0");
    OpenResult opened = openSer(fx.ser("le12-flag0"), OpenOptions{ByteOrder::Big});
    ASSERT_TRUE(opened.reader) << opened.error;
    SerReader& r = *opened.reader;
    const std::size_t n = r.layout().frameBytes;
    std::vector<std::uint16_t> got(n / 2);

    EXPECT_EQ(r.orderBasis(), OrderBasis::User);
    EXPECT_EQ(r.byteOrder(), ByteOrder::Big);
    ASSERT_TRUE(r.readFrame(2, got.data(), r.layout().width * 2));
    EXPECT_EQ(bytesOf(got), swappedPairs(truth.frame(2), n));
    // Swapped, the noisy low bits land in the high byte.
    EXPECT_EQ(r.realDepth(), 16);

    r.setByteOrder(std::nullopt);
    EXPECT_EQ(r.orderBasis(), OrderBasis::Data);
    EXPECT_EQ(r.byteOrder(), ByteOrder::Little);
    EXPECT_EQ(r.realDepth(), 12);
    ASSERT_TRUE(r.readFrame(2, got.data(), r.layout().width * 2));
    EXPECT_EQ(bytesOf(got), std::vector<std::uint8_t>(truth.frame(2), truth.frame(2) + n));

    // Eight-bit data have no byte order to choose.
    SerFixtures mono{"mono8"};
    OpenResult eight = openSer(mono.ser("mono8"), OpenOptions{ByteOrder::Big});
    ASSERT_TRUE(eight.reader) << eight.error;
    EXPECT_EQ(eight.reader->orderBasis(), OrderBasis::OneByteSamples);
}

struct Stride {
    const char* name;
    const char* fixture;
    int padding; // bytes after each row
    bool bottomUp;
    friend void PrintTo(const Stride& s, std::ostream* os) { *os << s.name; }
};

class StridedRead : public testing::TestWithParam<Stride> {};

// Rows land where the stride puts them, top row first, and the bytes between rows are left alone.
TEST_P(StridedRead, PutsEachRowInItsPlace)
{
    const Stride& s = GetParam();
    SerFixtures fx{s.fixture};
    const NpyArray truth = fx.truth(s.fixture);
    OpenResult opened = openSer(fx.ser(s.fixture));
    ASSERT_TRUE(opened.reader) << opened.error;
    const SerReader& r = *opened.reader;
    const FrameLayout& l = r.layout();
    const bool wide = l.bytesPerSample == 2;
    const std::size_t rowBytes = l.rowBytes;
    const std::size_t pitch = rowBytes + static_cast<std::size_t>(s.padding);
    const std::size_t height = static_cast<std::size_t>(l.height);
    std::vector<std::uint8_t> buffer(pitch * height, 0xAB);
    std::uint8_t* first = s.bottomUp ? buffer.data() + (height - 1) * pitch : buffer.data();
    const auto stride = static_cast<std::ptrdiff_t>(pitch) * (s.bottomUp ? -1 : 1);
    if (wide)
        ASSERT_TRUE(r.readFrame(1, reinterpret_cast<std::uint16_t*>(first), stride));
    else
        ASSERT_TRUE(r.readFrame(1, first, stride));
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* row = first + static_cast<std::ptrdiff_t>(y) * stride;
        EXPECT_EQ(0, std::memcmp(row, truth.frame(1) + y * rowBytes, rowBytes)) << "row " << y;
        EXPECT_TRUE(std::all_of(row + rowBytes, row + pitch, [](std::uint8_t b) { return b == 0xAB; }))
            << "padding of row " << y;
    }
}

const Stride kStrides[] = {
    {"padded8", "rgb8", 5, false},
    {"bottomUp8", "bayer8-RGGB", 0, true},
    {"padded16", "be12-flag0", 6, false},
    {"bottomUpPadded16", "le12-flag0", 2, true},
};
INSTANTIATE_TEST_SUITE_P(Strides, StridedRead, testing::ValuesIn(kStrides),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadRefusal, SaysWhyAFrameCannotBeReadAndTouchesNothing)
{
    SerFixtures fx{"le12-flag0"};
    OpenResult opened = openSer(fx.ser("le12-flag0"));
    ASSERT_TRUE(opened.reader) << opened.error;
    const SerReader& r = *opened.reader;
    const std::ptrdiff_t row = r.layout().width * 2;
    std::vector<std::uint16_t> wide(r.layout().frameBytes / 2 + 1, 0x5A5A);
    std::vector<std::uint8_t> narrow(r.layout().frameBytes, 0x5A);

    const struct {
        const char* what;
        Status status;
        const char* reason;
    } cases[] = {
        {"before the first", r.readFrame(-1, wide.data(), row),
         "frame -1 is not in the file, which holds 4 whole frames"},
        {"past the last", r.readFrame(4, wide.data(), row), "frame 4 is not in the file"},
        {"stored, past the last", r.readStoredBytes(4, narrow), "frame 4 is not in the file"},
        {"8-bit output", r.readFrame(0, narrow.data(), row), "samples are 12-bit, stored in 16 bits"},
        {"short stride", r.readFrame(0, wide.data(), row - 2), "more than the row stride of 62"},
        {"short negative stride", r.readFrame(0, wide.data(), -(row - 2)), "more than the row stride of 62"},
        {"odd stride", r.readFrame(0, wide.data(), row + 1), "does not hold whole 16-bit samples"},
        {"small buffer", r.readStoredBytes(0, std::span(narrow).first(narrow.size() - 1)), "more than the 1023"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.status) << c.what;
        EXPECT_NE(c.status.error.find(c.reason), std::string::npos) << c.what << ": " << c.status.error;
    }
    EXPECT_TRUE(std::all_of(wide.begin(), wide.end(), [](std::uint16_t v) { return v == 0x5A5A; }));
    EXPECT_TRUE(std::all_of(narrow.begin(), narrow.end(), [](std::uint8_t v) { return v == 0x5A; }));
}

TEST(ReadRefusal, AFileCutShortAfterOpeningNamesTheCause)
{
    SerFixtures fx{"times-missing"};
    OpenResult opened = openSer(fx.ser("times-missing"));
    ASSERT_TRUE(opened.reader) << opened.error;
    const SerReader& r = *opened.reader;
    ASSERT_EQ(r.frameCount(), 3);
    ASSERT_EQ(::truncate(fx.ser("times-missing").c_str(), 178 + 2 * 192 + 10), 0);
    std::vector<std::uint8_t> frame(r.layout().frameBytes);
    const Status lost = r.readFrame(2, frame.data(), 16);
    EXPECT_EQ(lost.error, "frame 2 could not be read: the file is shorter than when it was opened");
    EXPECT_TRUE(r.readFrame(1, frame.data(), 16));
}

TEST(LargeFile, TheLastFramePastFourGibibytesIsReadWhole)
{
    SerFixtures fx{"sparse"};
    if (!fx.has("sparse"))
        GTEST_SKIP() << "the file system here cannot hold a sparse file past 4 GiB";
    const NpyArray truth = fx.truth("sparse");
    OpenResult opened = openSer(fx.ser("sparse"));
    ASSERT_TRUE(opened.reader) << opened.error;
    const SerReader& r = *opened.reader;
    const std::size_t frameBytes = r.layout().frameBytes;
    const std::int32_t last = r.frameCount() - 1;
    ASSERT_EQ(r.frameCount(), (1 << 20) + 2);
    ASSERT_GT(178 + static_cast<std::uint64_t>(last) * frameBytes, std::uint64_t(1) << 32);
    EXPECT_TRUE(r.notes().empty());

    std::vector<std::uint8_t> frame(frameBytes);
    ASSERT_TRUE(r.readFrame(last, frame.data(), r.layout().width));
    EXPECT_EQ(0, std::memcmp(frame.data(), truth.frame(1), frameBytes));
    ASSERT_TRUE(r.readStoredBytes(0, frame));
    EXPECT_EQ(0, std::memcmp(frame.data(), truth.frame(0), frameBytes));
}

} // namespace
