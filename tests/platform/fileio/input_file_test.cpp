// Reads at offsets into rows: the rows land where the stride puts them (upside down for a
// bottom-up bitmap), a short last row ends where the bytes asked for end, and a read past the
// file's end says so instead of leaving bytes unread.
#include "input_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using kestro::fileio::InputFile;

struct Fixture {
    kestro::test::ScratchDir dir;
    std::string path = dir.file("bytes.bin");
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(100);
    InputFile file;

    Fixture()
    {
        std::iota(bytes.begin(), bytes.end(), 0);
        kestro::test::writeFile(path, bytes);
        EXPECT_TRUE(file.open(path));
    }
};

TEST(InputFile, RowsGoWhereTheStrideSaysAndTheLastRowMayBeShort)
{
    Fixture f;
    // 10 bytes from offset 3 in rows of 4 (the last holds 2), written bottom row first into rows
    // of 6 with padding that must stay untouched.
    std::vector<std::uint8_t> out(18, 0xEE);
    ASSERT_TRUE(f.file.readRowsAt(3, 4, 10, out.data() + 12, -6));
    const std::vector<std::uint8_t> expected = {11, 12,   0xEE, 0xEE, 0xEE, 0xEE, 7, 8,    9,
                                                10, 0xEE, 0xEE, 3,    4,    5,    6, 0xEE, 0xEE};
    EXPECT_EQ(out, expected);

    // A stride equal to the row is one plain read.
    std::vector<std::uint8_t> plain(8);
    ASSERT_TRUE(f.file.readRowsAt(90, 4, 8, plain.data(), 4));
    EXPECT_EQ(plain, std::vector<std::uint8_t>(f.bytes.begin() + 90, f.bytes.begin() + 98));
}

TEST(InputFile, ReadsPastTheEndFailWithTheReason)
{
    Fixture f;
    std::vector<std::uint8_t> out(64);
    std::string why;
    EXPECT_FALSE(f.file.readAt(95, out.data(), 6, &why));
    EXPECT_EQ(why, "the read reaches past the end of the file");
    why.clear();
    EXPECT_FALSE(f.file.readRowsAt(90, 4, 12, out.data() + 32, -8, &why));
    EXPECT_EQ(why, "the read reaches past the end of the file");
    EXPECT_TRUE(f.file.readAt(100, out.data(), 0)) << "an empty read at the end is no fault";
}

} // namespace
