// The SER writer: every header field, sample and frame time at its place as a reader of its own
// (tests/support/ser_dump.py) finds them, and failures that leave no part of a file behind.
#include "restricted_folder.h"
#include "ser_check.h"
#include "ser_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using namespace kestro::ser;
using namespace kestro::test;

constexpr std::int64_t kTicksPerHour = 36'000'000'000;
// 2024-05-01T21:13:07.1234567Z
constexpr std::int64_t kFirstTime = 638'501'947'871'234'567;

std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Case {
    const char* name = "";
    WriteFormat format;
    // Frames as the caller holds them: rows top-down, samples in host order.
    std::vector<Samples> frames;
    std::vector<std::optional<std::int64_t>> times;
    // Rows handed over bottom-up with padding, as a bitmap holds them.
    bool bottomUp = false;
    // What the file must say.
    std::vector<std::int64_t> table; // the trailer's times, empty for none
    std::int64_t dateTimeUtc = 0;
    std::int64_t dateTime = 0;
};

WriteFormat FormatOf(ColorId id, std::int32_t width, std::int32_t height, std::int32_t depth)
{
    WriteFormat f;
    f.colorId = id;
    f.width = width;
    f.height = height;
    f.pixelDepth = depth;
    return f;
}

Case Named(const char* name)
{
    Case c;
    c.name = name;
    return c;
}

std::vector<Case> Cases()
{
    std::vector<Case> cases;
    {
        Case c = Named("8-bit MONO handed bottom-up, no times");
        c.format = FormatOf(ColorId::Mono, 5, 3, 8);
        c.frames = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                    {255, 0, 128, 7, 9, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4}};
        c.times = {std::nullopt, std::nullopt};
        c.bottomUp = true;
        cases.push_back(c);
    }
    {
        // Values whose two bytes differ, so that either byte order misread shows.
        Case c = Named("12-bit RGGB, every frame timed, local time two hours ahead");
        c.format = FormatOf(ColorId::RGGB, 4, 2, 12);
        c.format.observer = "An observer whose name is longer than forty bytes";
        c.format.instrument = "Planetary camera";
        c.format.telescope = "C11";
        c.format.localOffsetTicks = 2 * kTicksPerHour;
        c.frames = {{0x0102, 0x0a0b, 4095, 0, 1, 2, 3, 0x0800},
                    {4095, 4094, 4093, 4092, 0x0123, 0x0456, 0x0789, 7},
                    {0, 0, 0, 0, 0, 0, 0, 0}};
        c.times = {kFirstTime, kFirstTime + 400'000, kFirstTime + 800'000};
        c.table = {kFirstTime, kFirstTime + 400'000, kFirstTime + 800'000};
        c.dateTimeUtc = kFirstTime;
        c.dateTime = kFirstTime + 2 * kTicksPerHour;
        cases.push_back(c);
    }
    {
        // The format has a time for every frame or none: a table with a gap would shift the rest.
        Case c = Named("16-bit BGGR, the second frame without a time");
        c.format = FormatOf(ColorId::BGGR, 2, 2, 16);
        c.frames = {{65535, 1, 256, 257}, {2, 3, 4, 5}, {6, 7, 8, 9}};
        c.times = {kFirstTime, std::nullopt, kFirstTime + 2};
        c.dateTimeUtc = kFirstTime;
        c.dateTime = kFirstTime;
        cases.push_back(c);
    }
    {
        Case c = Named("8-bit BGR, the first frame without a time");
        c.format = FormatOf(ColorId::BGR, 2, 1, 8);
        c.frames = {{10, 20, 30, 40, 50, 60}, {1, 2, 3, 4, 5, 6}};
        c.times = {std::nullopt, kFirstTime};
        cases.push_back(c);
    }
    return cases;
}

// The frame as the caller's buffer holds it: host-order samples, rows top-down or bottom-up with
// two bytes of padding after each; returns the first row and the stride to the next one down.
std::pair<const std::uint8_t*, std::ptrdiff_t> Hold(const Case& c, const Samples& frame,
                                                    std::vector<std::uint8_t>& buffer)
{
    const int planes = c.format.colorId == ColorId::BGR || c.format.colorId == ColorId::RGB ? 3 : 1;
    const std::size_t bytes = c.format.pixelDepth > 8 ? 2 : 1;
    const std::size_t row = static_cast<std::size_t>(c.format.width) * planes * bytes;
    const std::size_t stride = c.bottomUp ? row + 2 : row;
    const auto rows = static_cast<std::size_t>(c.format.height);
    buffer.assign(stride * rows, 0xEE);
    for (std::size_t y = 0; y < rows; ++y) {
        std::uint8_t* dst = buffer.data() + (c.bottomUp ? rows - 1 - y : y) * stride;
        for (std::size_t i = 0; i < row / bytes; ++i) {
            const std::uint16_t v = frame[y * row / bytes + i];
            if (bytes == 1)
                dst[i] = static_cast<std::uint8_t>(v);
            else
                std::memcpy(dst + 2 * i, &v, 2);
        }
    }
    if (!c.bottomUp)
        return {buffer.data(), static_cast<std::ptrdiff_t>(stride)};
    return {buffer.data() + (rows - 1) * stride, -static_cast<std::ptrdiff_t>(stride)};
}

TEST(SerWriter, WritesEveryFieldSampleAndTimeWhereReadersLookForThem)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.file("out.ser");
        {
            SerWriter writer(path);
            ASSERT_TRUE(writer.open(c.format, c.frames.size())) << writer.error();
            std::vector<std::uint8_t> buffer;
            for (std::size_t i = 0; i < c.frames.size(); ++i) {
                const auto [first, stride] = Hold(c, c.frames[i], buffer);
                ASSERT_TRUE(writer.writeFrame(first, stride, c.times[i])) << writer.error();
            }
            ASSERT_TRUE(writer.complete()) << writer.error();
            ASSERT_TRUE(writer.commit()) << writer.error();
        }
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.ser"});
        const SerDump d = dumpSer(path);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.text("FileID"), "LUCAM-RECORDER");
        EXPECT_EQ(d.number("LuID"), 0);
        EXPECT_EQ(d.number("ColorID"), static_cast<int>(c.format.colorId));
        EXPECT_EQ(d.number("LittleEndian"), 0);
        EXPECT_EQ(d.number("ImageWidth"), c.format.width);
        EXPECT_EQ(d.number("ImageHeight"), c.format.height);
        EXPECT_EQ(d.number("PixelDepthPerPlane"), c.format.pixelDepth);
        EXPECT_EQ(d.number("FrameCount"), static_cast<std::int64_t>(c.frames.size()));
        EXPECT_EQ(d.text("Observer"), c.format.observer.substr(0, 40));
        EXPECT_EQ(d.text("Instrument"), c.format.instrument);
        EXPECT_EQ(d.text("Telescope"), c.format.telescope);
        EXPECT_EQ(d.number("DateTime_UTC"), c.dateTimeUtc);
        EXPECT_EQ(d.number("DateTime"), c.dateTime);
        EXPECT_EQ(d.frames, c.frames);
        EXPECT_EQ(d.trailerBytes, static_cast<std::int64_t>(8 * c.table.size()));
        EXPECT_EQ(d.times, c.table);
    }
}

const WriteFormat kSmall = FormatOf(ColorId::Mono, 128, 128, 8); // 16 KiB a frame
const std::vector<std::uint8_t> kEarlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

void PutEarlier(const std::filesystem::path& folder) { writeFile((folder / "x.ser").string(), kEarlier); }

TEST(SerWriter, AReadOnlyFolderIsRefusedWithItsReasonAndKeepsItsFile)
{
    RestrictedFolder folder(RestrictedFolder::Kind::ReadOnly, PutEarlier);
    if (!folder.available())
        GTEST_SKIP() << folder.reason();
    SerWriter writer(folder.file("x.ser"));
    EXPECT_FALSE(writer.open(kSmall, 1));
    EXPECT_EQ(writer.failedStep(), WriteStep::Create);
    EXPECT_TRUE(writer.error() == EROFS || writer.error() == EACCES) << writer.error();
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"x.ser"});
    EXPECT_EQ(readFile(folder.file("x.ser")), kEarlier);
}

TEST(SerWriter, AFullDiskLeavesNoPartOfTheFile)
{
    const std::vector<std::uint8_t> frame(128 * 128, 77);
    // Room set aside for the frames asked for: a disk too small says so before the first frame.
    {
        RestrictedFolder folder(RestrictedFolder::Kind::Full, PutEarlier, 64 * 1024);
        if (!folder.available())
            GTEST_SKIP() << folder.reason();
        SerWriter writer(folder.file("x.ser"));
        EXPECT_FALSE(writer.open(kSmall, 100));
        EXPECT_EQ(writer.failedStep(), WriteStep::Create);
        EXPECT_EQ(writer.error(), ENOSPC);
    }
    // Without room set aside, the disk fills up while frames are written.
    RestrictedFolder folder(RestrictedFolder::Kind::Full, PutEarlier, 64 * 1024);
    {
        SerWriter writer(folder.file("x.ser"));
        ASSERT_TRUE(writer.open(kSmall, 0)) << writer.error();
        int written = 0;
        while (written < 100 && writer.writeFrame(frame.data(), 128, kFirstTime + written))
            ++written;
        EXPECT_LT(written, 100);
        EXPECT_EQ(writer.failedStep(), WriteStep::Frame);
        EXPECT_EQ(writer.error(), ENOSPC);
        EXPECT_FALSE(writer.complete());
        EXPECT_FALSE(writer.commit());
    }
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"x.ser"});
    EXPECT_EQ(readFile(folder.file("x.ser")), kEarlier);
}

} // namespace
