// --dry-run against the real run: for every export the real run refuses (a RAW mode the capture
// cannot take, RGB channels of grey frames, nothing taken, an output that is the capture, outputs
// in the way) the dry run says the same reason and ends with the same status, and writes nothing.
#include "convert_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace kestro::test;
namespace fs = std::filesystem;

// Every entry under the folder, by its path relative to it, so that a new file anywhere shows.
std::vector<std::string> tree(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        names.push_back(fs::relative(e.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

// Removes what a run added, so that the next case starts from the same folder.
void removeAllBut(const fs::path& folder, const std::vector<std::string>& keep)
{
    for (const std::string& name : tree(folder))
        if (std::find(keep.begin(), keep.end(), name) == keep.end())
            fs::remove_all(folder / name);
}

class ConvertDryRun : public Convert {
protected:
    void SetUp() override
    {
        Convert::SetUp();
        if (IsSkipped())
            return;
        if (!haveTool("ffmpeg"))
            GTEST_SKIP() << "ffmpeg writes the compressed and the 32-bit captures";
        capture("ok.avi", "--width 32 --height 16 --frames 6 --dropped 2,4");
        capture("w30.avi", "--width 30 --height 16 --frames 3 --dropped none");
        capture("busy.avi", "--width 32 --height 16 --frames 3 --dropped none");
        writeFile(dir.file("busy_rgb.avi"), {'o', 'l', 'd'});
        fs::create_directory(dir.path() / "busy_rgb_0001.bmp");
        const std::string lavfi = "ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 4 ";
        ASSERT_EQ(run(lavfi + "-c:v mjpeg " + quote(dir.file("mj.avi"))), 0);
        ASSERT_EQ(run(lavfi + "-c:v rawvideo -pix_fmt bgra " + quote(dir.file("b32.avi"))), 0);
    }
};

TEST_F(ConvertDryRun, SaysWhatTheRealRunSaysAndEndsAsItDoes)
{
    const std::string nothingTaken = "FAILED: ok.avi: Nothing to export: every frame --frames takes (2,4) was "
                                     "dropped by the camera and holds no picture.\n  Nothing was written.";
    struct Case {
        std::string args;
        int status;
        std::string reason; // said once on standard error by both runs
    };
    const std::vector<Case> cases = {
        {"--to avi --mode raw-y w30.avi", 1,
         "FAILED: w30.avi: RAW display: w30.avi cannot be exported in RAW Y-channel: its frame width of 30 pixels is "
         "not a multiple of 4."},
        {"--to bmp --mode raw-colour mj.avi", 1,
         "FAILED: mj.avi: RAW display: mj.avi cannot be exported in RAW colour: frame 0 is stored in"},
        {"--to fits --mode raw-y b32.avi", 1,
         "FAILED: b32.avi: RAW display: b32.avi cannot be exported in RAW Y-channel: its frames decode to 32 bits "
         "per pixel, not 24."},
        {"--to rgb --mode raw-y ok.avi", 1,
         "FAILED: ok.avi: Input is not 24 bit frame: Unable to split video into R, G, B channels"},
        {"--to rgb --greyscale ok.avi", 1,
         "FAILED: ok.avi: Input is not 24 bit frame: Unable to split video into R, G, B channels"},
        // Nothing taken, for every target, and with --best, whose share of nothing is nothing.
        {"--to avi --frames 2,4 ok.avi", 1, nothingTaken},
        {"--to bmp --frames 4,2 ok.avi", 1, nothingTaken},
        {"--to bmp --frames 2 ok.avi", 1,
         "FAILED: ok.avi: Nothing to export: the one frame --frames takes, 2, was dropped by the camera and holds no "
         "picture."},
        {"--to rgb --frames 2,4 ok.avi", 1, nothingTaken},
        {"--to fits --block 2 --frames 2,4 ok.avi", 1, nothingTaken},
        {"--to avi --mode raw-y --best 50% --frames 2,4 ok.avi", 1, nothingTaken},
        {"--to avi --overwrite -o ok.avi ok.avi", 2,
         "kestro-convert: the export of ok.avi would write ok.avi, which is the capture ok.avi"},
        {"--to avi busy.avi ok.avi", 1, "kestro-convert: busy_rgb.avi exists; --overwrite replaces it"},
        {"--to bmp --overwrite busy.avi", 1,
         "kestro-convert: busy_rgb_0001.bmp is a folder, which an export does not replace"},
        // One refusal among captures that can be exported: they are, and the run ends in 1.
        {"--to avi --mode raw-y -o out w30.avi ok.avi", 1,
         "FAILED: w30.avi: RAW display: w30.avi cannot be exported in RAW Y-channel"},
        {"--to fits --block 3 -o out ok.avi", 0, ""},
    };
    const std::vector<std::string> before = tree(dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Outcome dry = convert("--dry-run " + c.args);
        EXPECT_EQ(tree(dir.path()), before) << "a dry run writes nothing";
        const Outcome real = convert(c.args);
        EXPECT_EQ(dry.status, c.status) << dry.out << dry.err;
        EXPECT_EQ(real.status, c.status) << real.err;
        if (!c.reason.empty()) {
            EXPECT_EQ(occurrences(dry.err, c.reason), 1u) << dry.err;
            EXPECT_EQ(occurrences(real.err, c.reason), 1u) << real.err;
        }
        if (c.status == 2 || (c.status == 1 && !contains(c.args, "-o out"))) {
            EXPECT_EQ(tree(dir.path()), before) << "the real run wrote nothing either";
        }
        removeAllBut(dir.path(), before);
    }
}

// What the dry run prints for the exports that go ahead is what the real run writes.
TEST_F(ConvertDryRun, ListsWhatTheRealRunWrites)
{
    const Outcome dry = convert("--dry-run --to fits --block 3 --mode raw-y -o out w30.avi ok.avi");
    EXPECT_EQ(dry.status, 1);
    EXPECT_TRUE(contains(dry.out, "ok.avi: 4 frames → out/ok_0000.fit, out/ok_0001.fit")) << dry.out;
    EXPECT_FALSE(contains(dry.out, "w30.avi:")) << dry.out;
    const Outcome real = convert("--to fits --block 3 --mode raw-y -o out w30.avi ok.avi");
    EXPECT_EQ(real.status, 1);
    EXPECT_EQ(namesIn(dir.path() / "out"), (std::vector<std::string>{"ok_0000.fit", "ok_0001.fit"}));
    EXPECT_TRUE(contains(real.err, "1 of 2 captures exported, 1 failed")) << real.err;
}

} // namespace
