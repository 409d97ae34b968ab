#include "best_frames.h"

#include <gtest/gtest.h>

namespace {

using kestro::quality::BestCount;
using kestro::quality::ChooseBest;
using kestro::quality::FrameScore;

TEST(BestCount, ReadsSharesAndNumbersAndRefusesTheRest)
{
    struct Case {
        const char* text;
        bool ok;
        BestCount::Kind kind;
        double value;
    };
    const Case cases[] = {
        {"25%", true, BestCount::Kind::Percent, 25},
        {"12.5 %", true, BestCount::Kind::Percent, 12.5},
        {"100%", true, BestCount::Kind::Percent, 100},
        {"500", true, BestCount::Kind::Frames, 500},
        {"1", true, BestCount::Kind::Frames, 1},
        // More digits than "%g" keeps: written back, the share must still be this one.
        {"21.00001%", true, BestCount::Kind::Percent, 21.00001},
        {"0.000123456789%", true, BestCount::Kind::Percent, 0.000123456789},
        // More frames than any capture holds keeps all of them, as the most a capture can hold does.
        {"9223372036854775807", true, BestCount::Kind::Frames, 2147483647},
        {"0", false, {}, 0},
        {"0%", false, {}, 0},
        {"100.5%", false, {}, 0},
        {"-5", false, {}, 0},
        {"25%%", false, {}, 0},
        {"abc", false, {}, 0},
        {"", false, {}, 0},
        {"%", false, {}, 0},
        {"2.5", false, {}, 0},
        {"10x", false, {}, 0},
        {"nan%", false, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        const auto count = BestCount::Parse(c.text, &why);
        ASSERT_EQ(count.has_value(), c.ok) << why;
        if (c.ok) {
            EXPECT_EQ(count->kind, c.kind);
            EXPECT_EQ(count->value, c.value);
            const auto again = BestCount::Parse(count->Text(), nullptr);
            ASSERT_TRUE(again.has_value()) << count->Text();
            EXPECT_EQ(again->kind, c.kind);
            EXPECT_EQ(again->value, c.value) << count->Text();
        } else {
            EXPECT_FALSE(why.empty());
        }
    }
}

TEST(BestCount, RoundsASharUpAndNeverBeyondTheCandidates)
{
    EXPECT_EQ((BestCount{BestCount::Kind::Percent, 10}.Of(30)), 3u);
    EXPECT_EQ((BestCount{BestCount::Kind::Percent, 10}.Of(31)), 4u);
    EXPECT_EQ((BestCount{BestCount::Kind::Percent, 1}.Of(5)), 1u);
    // However small the share, a share above 0 keeps one frame: the tolerance must not round it away.
    EXPECT_EQ((BestCount{BestCount::Kind::Percent, 1e-12}.Of(38)), 1u);
    EXPECT_EQ(BestCount::Parse("1e-12%", nullptr)->Of(38), 1u);
    EXPECT_EQ((BestCount{BestCount::Kind::Percent, 100}.Of(7)), 7u);
    EXPECT_EQ((BestCount{BestCount::Kind::Percent, 50}.Of(0)), 0u);
    EXPECT_EQ((BestCount{BestCount::Kind::Frames, 500}.Of(20)), 20u);
}

TEST(ChooseBest, KeepsTheBestCandidatesByScoreThenFrameNumber)
{
    const std::vector<FrameScore> scores = {
        {0, 0.5, true},  {1, 0.9, true}, {2, 0.7, true}, {3, 0.9, true},
        {4, 0.0, false}, {5, 0.1, true}, {6, 0.7, true}, {7, 0.99, false},
    };
    const BestCount two{BestCount::Kind::Frames, 2};
    // Of all: 1 and 3 tie at the top; the earlier of a tie wins when only one fits.
    EXPECT_EQ(ChooseBest({0, 1, 2, 3, 4, 5, 6, 7}, scores, two), (std::vector<std::int32_t>{1, 3}));
    EXPECT_EQ(ChooseBest({0, 1, 2, 3, 5, 6}, scores, BestCount{BestCount::Kind::Frames, 3}),
              (std::vector<std::int32_t>{1, 2, 3}));
    // Of the ticked ones only, whatever order they come in.
    EXPECT_EQ(ChooseBest({6, 0, 5, 2}, scores, two), (std::vector<std::int32_t>{2, 6}));
    // Invalid and unscored frames are never kept and do not count in the share: half of the four
    // scored candidates.
    EXPECT_EQ(ChooseBest({4, 7, 9, 0, 5, 2, 6}, scores, BestCount{BestCount::Kind::Percent, 50}),
              (std::vector<std::int32_t>{2, 6}));
    EXPECT_TRUE(ChooseBest({4, 7, 9}, scores, two).empty());
    EXPECT_TRUE(ChooseBest({}, scores, two).empty());
    // A candidate listed twice is kept once.
    EXPECT_EQ(ChooseBest({3, 3, 3}, scores, two), (std::vector<std::int32_t>{3}));
}

} // namespace
