// The --frames list: what it takes, what it names when a capture lacks some of it, and frames
// written back as such a list.
#include "frame_list.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using kestro::cli::FrameList;

TEST(FrameList, TakesSingleFramesRangesAndOpenRanges)
{
    const auto list = FrameList::parse("0-9,12,200-", nullptr);
    ASSERT_TRUE(list);
    for (int taken : {0, 5, 9, 12, 200, 1000000})
        EXPECT_TRUE(list->contains(taken)) << taken;
    for (int left : {10, 11, 13, 199, -1})
        EXPECT_FALSE(list->contains(left)) << left;
    EXPECT_TRUE(list->outOfRange(201).empty());
    EXPECT_EQ(list->outOfRange(100), (std::vector<std::string>{"200-"}));
    EXPECT_EQ(list->outOfRange(5), (std::vector<std::string>{"5-9", "12", "200-"}));
}

TEST(FrameList, RefusesWhatIsNoListAndSaysWhy)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "empty"},
        {"1,,2", "empty"},
        {"a", "\"a\""},
        {"5-3", "\"5-3\" ends before it begins"},
        {"5-x", "\"5-x\" is not a frame number"},
        {"-3", "\"-3\""},
        {"1-2-3", "\"1-2-3\""},
        {"1.5", "\"1.5\""},
        {"99999999999", "\"99999999999\""},
        {" 1", "\" 1\""},
    };
    for (const auto& [text, part] : cases) {
        std::string why;
        EXPECT_FALSE(FrameList::parse(text, &why)) << text;
        EXPECT_NE(why.find(part), std::string::npos) << text << ": " << why;
    }
}

// What --dry-run prints of the frames --best keeps must read back as the same frames.
TEST(FrameList, FramesAreWrittenAsRangesThatReadBackTheSame)
{
    const std::pair<std::vector<std::int32_t>, const char*> cases[] = {
        {{}, ""},
        {{7}, "7"},
        {{0, 1, 2}, "0-2"},
        {{3, 5, 6, 7, 9, 12, 13}, "3,5-7,9,12-13"},
    };
    for (const auto& [frames, text] : cases) {
        EXPECT_EQ(kestro::cli::rangesText(frames), text);
        if (frames.empty())
            continue;
        const auto list = FrameList::parse(text, nullptr);
        ASSERT_TRUE(list) << text;
        for (std::int32_t i = 0; i < 15; ++i)
            EXPECT_EQ(list->contains(i), std::count(frames.begin(), frames.end(), i) == 1) << text << ": " << i;
    }
}

} // namespace
