// What is not a SER capture, or not one that can be read, is refused at open with the reason in
// words: hostile headers before anything they size is allocated, and paths that are not files,
// named pipes among them, without waiting on them.
#include "ser_fixtures.h"
#include "ser_reader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kestro::ser;
using kestro::test::ScratchDir;
using kestro::test::SerFixtures;

struct Hostile {
    const char* name;
    const char* reason; // a part of the reason given
    friend void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }
};

const Hostile kHostile[] = {
    {"width0", "its frame width is 0; a frame is at least one pixel wide"},
    {"width-negative", "its frame width is -8;"},
    {"height0", "its frame height is 0; a frame is at least one pixel high"},
    {"height-negative", "its frame height is -4;"},
    {"depth0", "its bit depth is 0; the format holds 1 to 16 bits per sample"},
    {"depth17", "its bit depth is 17;"},
    {"color7", "its colour id 7 is not one of the format's (0 MONO, 8 RGGB, 9 GRBG,"},
    {"color-negative", "its colour id -100 is not"},
    {"frame-overflow", "its frames of 2147483647 x 2147483647 pixels would each take more than 2 GiB"},
    {"frame-too-large", "its frames of 65536 x 65536 pixels would each take more than 2 GiB"},
    {"no-whole-frame", "it holds no whole frame: a frame takes 32 bytes, and 31 follow the header"},
    {"header-only", "it holds no whole frame: a frame takes 32 bytes, and 0 follow the header"},
    {"cut-header", "the file ends inside its 178-byte header (it holds 100 bytes)"},
    {"flag5", "it is not a SER file"},
    {"text", "it is not a SER file"},
    {"empty", "it is too short to be a SER file (0 bytes)"},
};

class HostileHeader : public testing::TestWithParam<Hostile> {};

TEST_P(HostileHeader, IsRefusedWithItsReason)
{
    const Hostile& h = GetParam();
    SerFixtures fx{h.name};
    const OpenResult opened = openSer(fx.ser(h.name));
    EXPECT_FALSE(opened.reader);
    EXPECT_NE(opened.error.find(h.reason), std::string::npos) << opened.error;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HostileHeader, testing::ValuesIn(kHostile), [](const auto& info) {
    std::string n = info.param.name;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

TEST(OpenPath, WhatIsNotAFileIsRefusedWithoutWaiting)
{
    ScratchDir dir;
    SerFixtures fx{"mono8"};
    const std::string fifo = dir.file("x.ser");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.file("folder.ser");
    std::filesystem::create_directory(folder);
    const std::string loop = dir.file("loop.ser");
    std::filesystem::create_symlink(loop, loop);
    const std::string link = dir.file("link.ser");
    std::filesystem::create_symlink(fx.ser("mono8"), link);

    const struct {
        std::string path;
        const char* reason; // empty: it opens
    } cases[] = {
        {fifo, "it is a named pipe (FIFO), not a file"},
        {folder, "it is a folder"},
        {dir.file("missing.ser"), "no such file"},
        {loop, "too many symbolic links"},
        {dir.file(std::string(300, 'n') + ".ser"), "the name is too long"},
        {fx.ser("mono8") + "/x.ser", "a part of the path is not a folder"},
        {link, ""},
    };
    for (const auto& c : cases) {
        const OpenResult opened = openSer(c.path);
        EXPECT_EQ(opened.error, c.reason) << c.path;
        EXPECT_EQ(static_cast<bool>(opened.reader), !*c.reason) << c.path;
    }
}

std::vector<std::uint8_t> headerBytes(const char* id, std::size_t idBytes, std::int32_t flag, std::size_t size = 178)
{
    std::vector<std::uint8_t> b(size);
    std::memcpy(b.data(), id, std::min<std::size_t>(idBytes, 14));
    for (int i = 0; i < 4 && 22u + i < size; ++i)
        b[22 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(flag) >> (8 * i));
    return b;
}

TEST(Signature, RecognisesAnyPrintableIdFollowedByAFlagOfZeroOrOne)
{
    std::vector<std::uint8_t> avi = headerBytes("RIFF~~~~AVI LIST", 14, 0);
    const std::string text(200, 'a');
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool ser;
    } cases[] = {
        {"LUCAM-RECORDER, flag 0", headerBytes("LUCAM-RECORDER", 14, 0), true},
        {"LUCAM-RECORDER, flag 1", headerBytes("LUCAM-RECORDER", 14, 1), true},
        {"INDI-RECORDER padded with a NUL", headerBytes("INDI-RECORDER", 14, 0), true},
        {"an id padded with spaces", headerBytes("MyCapture     ", 14, 1), true},
        {"the first 26 bytes only", headerBytes("LUCAM-RECORDER", 14, 0, 26), true},
        {"25 bytes", headerBytes("LUCAM-RECORDER", 14, 0, 25), false},
        {"flag 2", headerBytes("LUCAM-RECORDER", 14, 2), false},
        {"flag -1", headerBytes("LUCAM-RECORDER", 14, -1), false},
        {"an id beginning with a space", headerBytes(" UCAM-RECORDER", 14, 0), false},
        {"an id holding a control byte", headerBytes("LUCAM\x01RECORDER", 14, 0), false},
        {"an empty id", headerBytes("", 0, 0), false},
        {"an AVI whose size bytes are printable", avi, false},
        {"text", std::vector<std::uint8_t>(text.begin(), text.end()), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(looksLikeSer(c.bytes), c.ser) << c.what;
}

} // namespace
