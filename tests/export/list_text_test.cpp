#include "list_text.h"

#include "export_report.h"

#include <gtest/gtest.h>

namespace {

using kestro::exports::ListFirst;
using kestro::exports::ListWording;

TEST(ListText, NamesTheFirstAndCountsTheRest)
{
    const ListWording sentence = kestro::exports::SentenceWording();
    ListWording lines;
    lines.separator = lines.lastSeparator = "";
    lines.moreBefore = "\nand ";
    struct Case {
        std::vector<std::string> items;
        std::size_t named;
        std::size_t total;
        ListWording wording;
        std::string expected;
    };
    const std::vector<Case> cases{
        {{}, 8, 0, sentence, ""},
        {{"5"}, 8, 1, sentence, "5"},
        {{"1", "2"}, 8, 2, sentence, "1 and 2"},
        {{"1", "2", "3"}, 8, 3, sentence, "1, 2 and 3"},
        // Cut short: no "and" before the last one named, the count says the rest.
        {{"1", "2", "3"}, 2, 3, sentence, "1, 2 and 1 more"},
        // Only the first items at hand, of more there are.
        {{"1", "2"}, 8, 12, sentence, "1, 2 and 10 more"},
        {{"a", "b", "c", "d"}, 3, 4, {}, "a, b, c and 1 more"},
        {{"a", "b"}, 5, 2, {}, "a, b"},
        {{"\nx", "\ny"}, 1, 2, lines, "\nx\nand 1 more"},
        // A total below the items at hand is taken as all of them.
        {{"a", "b"}, 8, 0, sentence, "a and b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ListFirst(c.items, c.named, c.total, c.wording), c.expected)
            << c.items.size() << " items, " << c.named << " named of " << c.total;
    EXPECT_EQ(kestro::exports::MoreText(0), "");
    EXPECT_EQ(kestro::exports::FirstToLast("a_0000.bmp", "a_0099.bmp"), "a_0000.bmp \u2026 a_0099.bmp");
}

// The frames an export left out: named whole as a sentence, or the first eight and a count.
TEST(ListText, FramesLeftOutByAnExport)
{
    struct Case {
        std::vector<std::int32_t> frames;
        std::string list;
    };
    for (const Case& c :
         std::vector<Case>{{{4}, "frame 4."},
                           {{3, 4, 9}, "frames 3, 4 and 9."},
                           {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, "frames 0, 1, 2, 3, 4, 5, 6, 7 and 2 more."}}) {
        ExportReport report;
        report.strCapture = "m42.avi";
        for (std::int32_t frame : c.frames)
            report.LeaveOut(frame, "it cannot be decoded");
        const std::optional<kestro::ui::Message> m = DescribeExport(report);
        ASSERT_TRUE(m);
        EXPECT_NE(m->text.find("of m42.avi could not be read and " +
                               std::string(c.frames.size() == 1 ? "was" : "were") + " left out: " + c.list),
                  std::string::npos)
            << m->text;
    }
}

} // namespace
