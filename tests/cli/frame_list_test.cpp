// The --frames list: what it takes, and what it names when a capture lacks some of it.
#include "frame_list.h"

#include <gtest/gtest.h>

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
        {"", "empty"},    {"1,,2", "empty"},      {"a", "\"a\""},     {"5-3", "\"5-3\""},
        {"-3", "\"-3\""}, {"1-2-3", "\"1-2-3\""}, {"1.5", "\"1.5\""}, {"99999999999", "\"99999999999\""},
        {" 1", "\" 1\""},
    };
    for (const auto& [text, part] : cases) {
        std::string why;
        EXPECT_FALSE(FrameList::parse(text, &why)) << text;
        EXPECT_NE(why.find(part), std::string::npos) << text << ": " << why;
    }
}

} // namespace
