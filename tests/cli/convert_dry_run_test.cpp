// --dry-run against the real run: for every export the real run refuses (a RAW mode the capture
// cannot take, RGB channels of grey frames, nothing taken, an output that is the capture, outputs
// in the way) the dry run says the same reason and ends with the same status, and writes nothing.
// Then what both tell before a run: files of an earlier, longer series left beside the new ones,
// and temporary files an export that was killed left in an output folder.
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
        {"--to avi --overwrite -o ok.avi ok.avi", 1,
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

// A series written again with fewer files (fewer frames, or larger FITS blocks) replaces the first
// files of the old one and leaves the rest, which a stacking program given the folder reads with
// the new ones. They are never removed; the user is told which, once per capture.
TEST_F(Convert, AShorterSeriesOverALongerOneNamesTheOldFilesLeftBeside)
{
    capture("m.avi", "--width 32 --height 16 --frames 20 --dropped none");
    capture("n.avi", "--width 32 --height 16 --frames 20 --dropped none");
    ASSERT_EQ(convert("--to bmp m.avi n.avi").status, 0);
    ASSERT_EQ(convert("--to fits -o sums m.avi").status, 0);
    const Bytes old19 = readFile(dir.file("m_rgb_0019.bmp"));

    const std::string bmpWarning = "m_rgb_0005.bmp … m_rgb_0019.bmp, 15 files from an earlier export, stay beside "
                                   "the new ones; remove them before stacking";
    const Outcome dry = convert("--to bmp --overwrite --frames 0-4 --dry-run m.avi n.avi");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(occurrences(dry.out, bmpWarning), 1u) << dry.out;
    EXPECT_EQ(occurrences(dry.out, "n_rgb_0005.bmp … n_rgb_0019.bmp, 15 files"), 1u) << dry.out;

    const Outcome real = convert("--to bmp --overwrite --frames 0-4 m.avi n.avi");
    EXPECT_EQ(real.status, 0) << "the export itself is complete: " << real.err;
    EXPECT_EQ(occurrences(real.err, bmpWarning), 1u) << real.err;
    EXPECT_EQ(occurrences(real.err, "n_rgb_0005.bmp … n_rgb_0019.bmp, 15 files"), 1u) << real.err;
    EXPECT_EQ(readFile(dir.file("m_rgb_0019.bmp")), old19) << "the old files are left as they were";

    const Outcome fits = convert("--to fits --block 8 --overwrite -o sums m.avi");
    EXPECT_EQ(fits.status, 0) << fits.err;
    EXPECT_EQ(occurrences(fits.err, "m_0003.fit … m_0019.fit, 17 files from an earlier export"), 1u) << fits.err;
    EXPECT_EQ(namesIn(dir.path() / "sums").size(), 20u);

    // One file left over is named alone.
    ASSERT_EQ(convert("--to fits --block 5 -o sums2 m.avi").status, 0);
    EXPECT_TRUE(contains(convert("--to fits --block 5 --overwrite -o sums2 --frames 0-14 m.avi").err,
                         "m_0003.fit, from an earlier export, stays beside the new ones; remove it before stacking"));
    // A series as long as the old one, or an AVI, leaves nothing beside it.
    for (const char* args : {"--to bmp --overwrite m.avi", "--to avi m.avi"}) {
        const Outcome r = convert(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(contains(r.err, "earlier export")) << args << "\n" << r.err;
    }
}

// Temporary files a killed export left are told once per output folder, before the run, and
// never removed: an export still running elsewhere may be writing them.
TEST_F(Convert, TemporaryFilesAKilledExportLeftAreToldAndKept)
{
    capture("night/a.avi", "--width 32 --height 16 --frames 3 --dropped none");
    capture("night/b.avi", "--width 32 --height 16 --frames 3 --dropped none");
    fs::create_directory(dir.path() / "out");
    const std::vector<std::string> leftovers = {"out/.a_rgb.avi.0c1d2e3f.part", "out/.old_0001.bmp.89abcdef.part"};
    for (const std::string& f : leftovers)
        writeFile(dir.file(f), {'p'});
    writeFile(dir.file("out/.notes.part"), {'n'});
    const std::string said = "kestro-convert: the folder out holds 2 temporary files of an export that was killed "
                             "or is still running: .a_rgb.avi.0c1d2e3f.part, .old_0001.bmp.89abcdef.part. They are "
                             "kept; remove them once no export is writing there.";
    for (const char* dryRun : {"--dry-run ", ""}) {
        SCOPED_TRACE(dryRun);
        const Outcome r = convert(std::string(dryRun) + "--to avi -o out night");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(occurrences(r.err, said), 1u) << "once for the folder, not per capture: " << r.err;
        for (const std::string& f : leftovers)
            EXPECT_TRUE(fs::exists(dir.file(f))) << f << " is kept";
    }
    EXPECT_TRUE(fs::exists(dir.file("out/a_rgb.avi")));
    // Beside the captures, where none was left, nothing is said.
    EXPECT_FALSE(contains(convert("--to avi night").err, "temporary")) << "no leftovers in night/";
}

} // namespace
