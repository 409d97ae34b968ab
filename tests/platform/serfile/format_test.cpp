// The header's fields at their places, the colour table, and frame times as calendar text.
#include "ser_fixtures.h"
#include "ser_reader.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace kestro::ser;
using kestro::test::SerFixtures;

TEST(Header, EveryFieldIsReadFromItsPlace)
{
    SerFixtures fx{"le12-flag1"};
    const OpenResult opened = openSer(fx.ser("le12-flag1"));
    ASSERT_TRUE(opened.reader) << opened.error;
    const Header& h = opened.reader->header();
    EXPECT_EQ(h.fileId, "LUCAM-RECORDER");
    EXPECT_EQ(h.luId, 0);
    EXPECT_EQ(h.colorId, 8);
    EXPECT_EQ(h.littleEndian, 1);
    EXPECT_EQ(h.width, 32);
    EXPECT_EQ(h.height, 16);
    EXPECT_EQ(h.pixelDepth, 12);
    EXPECT_EQ(h.frameCount, 4);
    EXPECT_EQ(h.observer, "Observer");
    EXPECT_EQ(h.instrument, "Camera");
    EXPECT_EQ(h.telescope, "Telescope");
    const std::int64_t first = fx.times("le12-flag1").int64(0);
    EXPECT_EQ(h.dateTime, first);
    EXPECT_EQ(h.dateTimeUtc, first);
}

TEST(Colors, EachIdHasOneEntryWithItsPlanesAndSites)
{
    std::set<std::int32_t> ids;
    for (const ColorInfo& c : colors()) {
        const auto id = static_cast<std::int32_t>(c.id);
        EXPECT_TRUE(ids.insert(id).second) << id;
        EXPECT_EQ(findColor(id), &c);
        EXPECT_EQ(c.planes, c.sampling == Sampling::Rgb || c.sampling == Sampling::Bgr ? 3 : 1) << c.name;
        const bool mosaic = c.sampling == Sampling::Bayer || c.sampling == Sampling::Cmy;
        EXPECT_EQ(std::string(c.sites), mosaic ? std::string(c.name) : "") << c.name;
    }
    EXPECT_EQ(ids, (std::set<std::int32_t>{0, 8, 9, 10, 11, 16, 17, 18, 19, 100, 101}));
    for (std::int32_t unknown : {-1, 1, 7, 12, 20, 99, 102})
        EXPECT_EQ(findColor(unknown), nullptr) << unknown;
}

// Ticks from Python's datetime; the times the fixtures carry are checked against its text too.
TEST(FrameTime, FormatsTicksAsUtcWithMillisecondsCutNotRounded)
{
    const struct {
        std::int64_t ticks;
        const char* text;
    } cases[] = {
        {0, "0001-01-01T00:00:00.000Z"},
        {kUnixEpochTicks, "1970-01-01T00:00:00.000Z"},
        {599'317'056'000'000'000, "1900-03-01T00:00:00.000Z"}, // 1900 has no 29 February
        {630'874'224'009'999'999, "2000-02-29T12:00:00.999Z"}, // 2000 has one; .9999999 stays in its second
        {638'447'653'230'040'000, "2024-02-29T01:02:03.004Z"},
        {638'396'639'999'990'000, "2023-12-31T23:59:59.999Z"},
        {kMaxTicks, "9999-12-31T23:59:59.999Z"},
        {kMaxTicks + 1, ""},
        {-1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatIso8601(c.ticks), c.text) << c.ticks;
}

} // namespace
