// kestro-convert as a user runs it: a night's folder with a file that is no capture among good
// ones, frame lists, bad options, existing outputs, an unwritable folder, captures side by side,
// the sharpest frames of a capture of known blur, and Ctrl+C in the middle of an export or of the
// scoring. Outputs are read back with ffprobe.
#include "avifile.h"
#include "convert_fixture.h"
#include "frame_list.h"
#include "planet_scene.h"
#include "restricted_folder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace kestro::test;
namespace fs = std::filesystem;

// kestro-convert started on its own with standard error going to `errPath` (a file or a terminal),
// for a test that interrupts it.
pid_t spawnConvert(std::vector<std::string> args, const std::string& errPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0644);
    args.insert(args.begin(), KESTRO_CONVERT);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, KESTRO_CONVERT, &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST_F(Convert, ANightFolderIsConvertedAroundAFileThatIsNoCapture)
{
    capture("night/a.avi", "--width 64 --height 48 --frames 6 --dropped 2");
    capture("night/b.AVI", "--width 64 --height 48 --frames 5 --dropped none");
    writeFile(dir.file("night/notes.avi"), {'n', 'o', 't', 'e', 's'});
    writeFile(dir.file("night/readme.txt"), {'x'});
    const Outcome r = convert("--to avi --mode raw-y --jobs 2 -o out night"); // out/ is made
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "out"), (std::vector<std::string>{"a_rlum.avi", "b_rlum.avi"}));
    EXPECT_EQ(probe(dir.file("out/a_rlum.avi"), "nb_read_frames", true), "5") << "the dropped frame is left out";
    EXPECT_EQ(probe(dir.file("out/b_rlum.avi"), "nb_read_frames", true), "5");
    EXPECT_EQ(probe(dir.file("out/a_rlum.avi"), "pix_fmt"), "pal8");
    EXPECT_TRUE(contains(r.err, "FAILED: night/notes.avi")) << r.err;
    EXPECT_TRUE(contains(r.err, "2 of 3 captures exported, 1 failed")) << r.err;
    EXPECT_FALSE(contains(r.err, "frames/s")) << "no progress lines when standard error is no terminal";
}

TEST_F(Convert, FrameListsPickFramesAndNameWhatACaptureLacks)
{
    capture("m42.avi", "--width 32 --height 16 --frames 10 --dropped 2,5");
    const std::pair<std::string, std::string> cases[] = {
        {"", "8"},                // every frame that holds data
        {"--frames 0-3,7-", "6"}, // 0, 1, 3, 7, 8, 9
        {"--frames 5", "0"},      // a dropped frame only: nothing to write, and the run fails
        {"--frames 9-", "1"},     //
    };
    for (const auto& [frames, count] : cases) {
        SCOPED_TRACE(frames);
        std::filesystem::remove(dir.file("m42_rgb.avi"));
        const Outcome r = convert("--to avi --overwrite " + frames + " m42.avi");
        if (count == "0") {
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_TRUE(contains(r.err, "Nothing was written.")) << r.err;
            EXPECT_FALSE(std::filesystem::exists(dir.file("m42_rgb.avi")));
        } else {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(probe(dir.file("m42_rgb.avi"), "nb_read_frames", true), count);
        }
    }
    const Outcome outside = convert("--to avi --overwrite --frames 3,12-14,20- m42.avi");
    EXPECT_EQ(outside.status, 2);
    EXPECT_TRUE(contains(outside.err, "--frames: m42.avi has 10 frames (0 to 9), not 12-14, 20-")) << outside.err;
}

// Every refusal of the command line is one plain sentence naming the option and what it takes,
// said once, with exit status 2 and nothing written.
TEST_F(Convert, BadOptionsAreUsageErrorsSayingWhatTheOptionTakes)
{
    capture("m42.avi", "--width 32 --height 16 --frames 2 --dropped none");
    const std::pair<const char*, const char*> cases[] = {
        {"--to fits --block 0 m42.avi", "--block takes a positive whole number of frames (1 to 16843009), not \"0\""},
        {"--to fits --block -1 m42.avi", "--block takes a positive whole number of frames (1 to 16843009), not \"-1\""},
        {"--to fits --block 12a m42.avi",
         "--block takes a positive whole number of frames (1 to 16843009), not \"12a\""},
        {"--to fits --block 16843010 m42.avi", "--block takes a positive whole number of frames (1 to 16843009)"},
        {"--to avi --jobs 0 m42.avi", "--jobs takes a positive whole number of captures to convert side by side"},
        {"--to avi --jobs 2x m42.avi", "--jobs takes a positive whole number of captures to convert side by side"},
        {"--to xyz m42.avi", "--to takes avi, bmp, rgb, fits or ser, not \"xyz\""},
        {"--to avi --mode rawy m42.avi", "--mode takes normal, raw-y or raw-colour, not \"rawy\""},
        {"--to avi --pattern RGGB m42.avi",
         "--pattern takes BG, GB, GR, RG or auto, not \"RGGB\" (the sensor order RGGB is the GB button)"},
        {"--to avi --algorithm 9 m42.avi", "--algorithm takes 11, 1 to 5, or a name such as AHD, not \"9\""},
        {"--to avi --frames 3-1 m42.avi", "--frames: \"3-1\" ends before it begins"},
        {"--to avi --frames 1,x m42.avi", "--frames: \"x\" is not a frame number or a range"},
        {"--to avi --best 0 m42.avi", "--best: keeping 0 frames keeps nothing"},
        {"--to avi --speed 2 m42.avi", "there is no option --speed"},
        {"--to avi -x m42.avi", "there is no option -x"},
        {"m42.avi", "--to is required: what to write, avi, bmp, rgb, fits or ser"},
        {"--to avi", "no capture given"},
        {"m42.avi --to", "--to needs a value after it"},
        {"m42.avi --to avi --block", "--block needs a value after it"},
        {"--to avi --output= m42.avi", "--output needs a value after the ="},
        {"--to avi -o -n m42.avi", "--output needs a value after it; -n is an option"},
        {"--to --mode raw-y m42.avi", "--to needs a value after it; --mode is an option"},
        {"--to avi --to bmp m42.avi", "--to is given 2 times; give it once"},
        {"--to avi -j 2 --jobs 3 m42.avi", "--jobs is given 2 times; give it once"},
        {"--to avi missing.avi", "missing.avi: it does not exist"},
    };
    for (const auto& [args, said] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = convert(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(occurrences(r.err, "kestro-convert: " + std::string(said)), 1u) << r.err;
        EXPECT_EQ(occurrences(r.err, "kestro-convert: "), 1u) << "one refusal, one sentence: " << r.err;
        EXPECT_FALSE(contains(r.err, "0000000")) << r.err;
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"m42.avi"}) << "nothing was written";
    const Outcome version = convert("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(contains(version.out, "kestro-convert 3.1")) << version.out;
    EXPECT_TRUE(contains(convert("--help").out, "Examples:"));
    // The words that follow "--" are captures, whatever they look like.
    EXPECT_TRUE(contains(convert("--to avi -- -n").err, "kestro-convert: -n: it does not exist"));
}

TEST_F(Convert, AnExistingOutputStopsTheRunUnlessOverwriteIsGiven)
{
    capture("m42.avi", "--width 32 --height 16 --frames 4 --dropped none");
    capture("m43.avi", "--width 32 --height 16 --frames 4 --dropped none");
    writeFile(dir.file("m43_rgb.avi"), {'o', 'l', 'd'});
    const Outcome refused = convert("--to avi m42.avi m43.avi");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "m43_rgb.avi exists; --overwrite replaces it")) << refused.err;
    EXPECT_FALSE(fs::exists(dir.file("m42_rgb.avi"))) << "nothing is written when any output exists";
    EXPECT_EQ(readFile(dir.file("m43_rgb.avi")), (Bytes{'o', 'l', 'd'}));

    const Outcome replaced = convert("--to avi --overwrite m42.avi m43.avi");
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(probe(dir.file("m43_rgb.avi"), "nb_read_frames", true), "4");

    // Dry run: says what would be written and writes nothing.
    const Outcome dry = convert("--to bmp --mode raw-colour --algorithm ahd --dry-run m42.avi");
    EXPECT_EQ(dry.status, 0);
    EXPECT_TRUE(contains(dry.out, "m42.avi: 4 frames → m42_rcol04_0000.bmp … m42_rcol04_0003.bmp (4 files)"))
        << dry.out;
    EXPECT_FALSE(fs::exists(dir.file("m42_rcol04_0000.bmp")));
}

TEST_F(Convert, AnUnwritableOutputFolderFailsTheCaptureWithItsReason)
{
    capture("m42.avi", "--width 32 --height 16 --frames 4 --dropped none");
    RestrictedFolder folder(RestrictedFolder::Kind::ReadOnly);
    if (!folder.available())
        GTEST_SKIP() << folder.reason();
    const Outcome r = convert("--to rgb -o " + quote(folder.path().string()) + " m42.avi");
    EXPECT_EQ(r.status, 1);
    // The engine's message is the capture's reason in the summary, said there once.
    EXPECT_TRUE(contains(r.err, "FAILED: m42.avi: AVIFileOpen: Unable to create " + folder.file("m42_rgb_b.avi")))
        << r.err;
    EXPECT_EQ(occurrences(r.err, "Unable to create"), 1u) << r.err;
    EXPECT_TRUE(namesIn(folder.path()).empty());
}

TEST_F(Convert, CapturesSideBySideGiveTheSameFiles)
{
    for (const char* name : {"a", "b", "c"})
        capture(std::string("night/") + name + ".avi",
                std::string("--width 48 --height 32 --frames 7 --dropped 3 --pattern ") +
                    (name[0] == 'b' ? "GR" : "BG"));
    for (const char* target : {"fits --block 3 --mode raw-y", "rgb --mode raw-colour --algorithm 5"}) {
        SCOPED_TRACE(target);
        fs::remove_all(dir.path() / "one");
        fs::remove_all(dir.path() / "two");
        fs::create_directory(dir.path() / "one");
        fs::create_directory(dir.path() / "two");
        const std::string env = "SOURCE_DATE_EPOCH=1765370096";
        ASSERT_EQ(convert(std::string("--to ") + target + " --jobs 1 -o one night", env).status, 0);
        ASSERT_EQ(convert(std::string("--to ") + target + " --jobs 2 -o two night", env).status, 0);
        const std::vector<std::string> names = namesIn(dir.path() / "one");
        // Six frames a capture: two sums of three each, or three channel files.
        EXPECT_EQ(names.size(), std::string(target).starts_with("fits") ? 6u : 9u);
        EXPECT_EQ(namesIn(dir.path() / "two"), names);
        for (const std::string& n : names)
            EXPECT_TRUE(readFile(dir.file("one/" + n)) == readFile(dir.file("two/" + n))) << n;
    }
}

// --jobs 64 on a machine of few cores ran 64 exports at once, for no speed and 20 times the
// memory: the jobs are lowered to the cores, and the run says so once.
TEST_F(Convert, JobsBeyondTheCoresAreLoweredAndSaidSo)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(::sched_getaffinity(0, sizeof set, &set), 0);
    const int cores = CPU_COUNT(&set);
    if (cores >= 64)
        GTEST_SKIP() << cores << " cores run 64 jobs";
    for (int i = 0; i <= cores; ++i)
        capture("night/c" + std::to_string(i) + ".avi", "--width 32 --height 16 --frames 2 --dropped none");
    const Outcome r = convert("--to avi --jobs 64 -o out night");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string said = "kestro-convert: --jobs 64 lowered to " + std::to_string(cores) + ": this machine has " +
                             std::to_string(cores) + (cores == 1 ? " core\n" : " cores\n");
    EXPECT_EQ(occurrences(r.err, said), 1u) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "out").size(), static_cast<std::size_t>(cores + 1));
    // One capture is one job whatever --jobs says: nothing to lower, nothing said.
    EXPECT_FALSE(contains(convert("--to avi --jobs 64 --overwrite night/c0.avi").err, "lowered")) << r.err;
}

TEST_F(Convert, ProgressLinesAreDrawnOnATerminal)
{
    if (!haveTool("script"))
        GTEST_SKIP() << "script gives the program a terminal";
    capture("m42.avi", "--width 640 --height 480 --frames 60 --dropped none");
    std::string out;
    // script keeps a copy of the session in the file named last, here in the test's own folder.
    run("cd " + quote(dir.path().string()) + " && script -qec " +
            quote(std::string(KESTRO_CONVERT) + " --to avi --mode raw-colour --algorithm ahd m42.avi") + " " +
            quote(dir.file("typescript")),
        &out);
    EXPECT_TRUE(contains(out, "m42.avi  ")) << out;
    EXPECT_TRUE(contains(out, "/60 frames")) << out;
    EXPECT_TRUE(contains(out, "1 of 1 captures exported")) << out;
}

// Ctrl+C in the middle of an export: the export stops at its next frame and leaves nothing
// unfinished, and the summary says so.
TEST_F(Convert, AnInterruptLeavesNoPartialOutput)
{
    capture("big.avi", "--width 640 --height 480 --frames 300 --dropped none");
    fs::create_directory(dir.path() / "out");
    const std::string err = dir.file("stderr.txt");
    const pid_t pid = spawnConvert(
        {"--to", "avi", "--mode", "raw-colour", "--algorithm", "ahd", "-o", dir.file("out"), dir.file("big.avi")}, err);
    ASSERT_GT(pid, 0);
    // Interrupt once the export has begun writing its (temporary) file.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (namesIn(dir.path() / "out").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_TRUE(namesIn(dir.path() / "out").empty()) << "a partial or temporary file was left";
    const Bytes text = readFile(err);
    const std::string said(text.begin(), text.end());
    EXPECT_TRUE(contains(said, "stopped: ")) << said;
    EXPECT_TRUE(contains(said, "0 of 1 captures exported")) << said;
}

// A capture whose frames are blurred by known amounts, the sharpest few by far less than the rest:
// --best must keep exactly those, of the frames taken, and export them in frame order.
class ConvertBest : public Convert {
protected:
    static constexpr int kWidth = 160, kHeight = 120, kFrames = 30;

    void SetUp() override
    {
        Convert::SetUp();
        if (IsSkipped())
            return;
        // Sigmas 0.2 apart from 0 to 5.8, in shuffled order, with the brightness, drift and noise
        // of a night's seeing.
        seeings = kestro::scene::MakeSeeings(kFrames, 5.8, 0.3, 15.0, 17);
        ASSERT_TRUE(kestro::scene::WriteRawCapture(
            dir.file("planet.avi"), kWidth, kHeight, kFrames, [&](int i) { return mosaic(i); }, kEmpty));
    }

    std::vector<std::uint8_t> mosaic(int frame) const
    {
        return kestro::scene::RenderMosaic(kWidth, kHeight, 30, kestro::bayer::kGB,
                                           seeings[static_cast<std::size_t>(frame)], 900 + frame);
    }

    // The `count` sharpest frames with data in [first, last], in frame order.
    std::vector<std::int32_t> sharpest(int first, int last, std::size_t count) const
    {
        std::vector<std::int32_t> frames;
        for (int i = first; i <= last; ++i)
            if (!kEmpty.count(i))
                frames.push_back(i);
        std::sort(frames.begin(), frames.end(), [&](std::int32_t a, std::int32_t b) {
            return seeings[static_cast<std::size_t>(a)].sigma < seeings[static_cast<std::size_t>(b)].sigma;
        });
        frames.resize(std::min(count, frames.size()));
        std::sort(frames.begin(), frames.end());
        return frames;
    }

    const std::set<int> kEmpty{4, 11};
    std::vector<kestro::scene::Seeing> seeings;
};

TEST_F(ConvertBest, DryRunListsTheSharpestOfTheFramesTaken)
{
    struct Case {
        const char* args;
        const char* best;
        int first, last;     // the frames taken
        std::size_t kept;    // how many --best keeps of them
        const char* outputs; // what the dry run says it writes
    };
    const Case cases[] = {
        {"--to avi --mode raw-y", "10%", 0, 29, 3, "planet_rlum.avi"}, // 10% of the 28 frames with data
        {"--to avi --mode raw-colour", "3", 0, 29, 3, "planet_rcol11.avi"},
        {"--to bmp", "3", 0, 29, 3, "planet_rgb_0000.bmp, planet_rgb_0001.bmp, planet_rgb_0002.bmp"}, // decoded frames
        {"--to avi --mode raw-y --frames 10-29", "2", 10, 29, 2, "planet_rlum.avi"},
        {"--to fits --mode raw-y --block 2 --frames 0-9", "50%", 0, 9, 5,
         "planet_0000.fit, planet_0001.fit, planet_0002.fit"},
        {"--to avi --mode raw-y", "100", 0, 29, 28, "planet_rlum.avi"}, // more than there are
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.args) + " --best " + c.best);
        const Outcome r = convert(std::string(c.args) + " --best " + c.best + " --dry-run planet.avi");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::int32_t> all = sharpest(c.first, c.last, kFrames);
        const std::string expected = "planet.avi: " + std::to_string(c.kept) + " of " + std::to_string(all.size()) +
                                     " frames (best " + c.best + ": " +
                                     kestro::cli::rangesText(sharpest(c.first, c.last, c.kept)) + ") → " + c.outputs;
        EXPECT_TRUE(contains(r.out, expected)) << "expected " << expected << "\nsaid " << r.out;
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"planet.avi"}) << "a dry run writes nothing";
    }
}

// The export takes the frames the dry run names, and only those: each frame of the RAW Y-channel
// AVI, as ffmpeg decodes it, is the sensor plane of one of the sharpest frames, in frame order.
// The AVI's palette is the grey table, so its indices are the values (ffmpeg's own conversion to
// grey rounds some of them).
TEST_F(ConvertBest, TheExportHoldsExactlyTheSharpestFrames)
{
    const Outcome r = convert("--to avi --mode raw-y --best 10% planet.avi");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = dir.file("planet_rlum.avi");
    const std::vector<std::int32_t> kept = sharpest(0, kFrames - 1, 3);
    ASSERT_EQ(probe(out, "nb_read_frames", true), "3");
    const std::vector<std::vector<std::uint8_t>> frames =
        kestro::test::ffmpegFrames(out, "pal8", std::size_t{kWidth} * kHeight + 1024);
    ASSERT_EQ(frames.size(), kept.size());
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const std::vector<std::uint8_t> plane = mosaic(kept[k]);
        EXPECT_TRUE(std::equal(plane.begin(), plane.end(), frames[k].begin()))
            << "output frame " << k << " is not source frame " << kept[k];
    }
}

// Frames stored too short to hold a sensor plane cannot be scored: they are left out and named in
// one message, and the capture counts as not completely exported, as an export's unread frames do.
TEST_F(ConvertBest, FramesThatCannotBeScoredAreLeftOutAndSaidOnce)
{
    const std::string path = dir.file("short.avi");
    // Frames 2 and 5 keep 100 of their bytes.
    ASSERT_TRUE(kestro::scene::WriteRawCapture(path, kWidth, kHeight, 8, [&](int i) { return mosaic(i); }, {},
                                               {{2, 100}, {5, 100}}));

    const Outcome r = convert("--to avi --mode raw-y --best 4 short.avi");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "FAILED: short.avi: 2 of the frames to score could not be read and were left out: "
                                "2,5. The first: frame 2 is stored in 100 bytes"))
        << r.err;
    EXPECT_EQ(occurrences(r.err, "could not be read"), 1u) << "said once: " << r.err;
    EXPECT_EQ(probe(dir.file("short_rlum.avi"), "nb_read_frames", true), "4");
}

TEST_F(ConvertBest, BadCountsAreUsageErrorsSayingWhy)
{
    const std::pair<const char*, const char*> cases[] = {
        {"0", "keeps nothing"},  {"150%", "at most 100%"}, {"abc", "is not a number"},
        {"-3", "keeps nothing"}, {"0%", "more than 0%"},
    };
    for (const auto& [value, why] : cases) {
        SCOPED_TRACE(value);
        const Outcome r = convert(std::string("--to avi --best ") + value + " planet.avi");
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(contains(r.err, "--best")) << r.err;
        EXPECT_TRUE(contains(r.err, why)) << r.err;
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"planet.avi"});
    EXPECT_TRUE(contains(convert("--help").out, "--best"));
}

// What the export would refuse is refused before any frame is scored: a compressed capture in a
// RAW mode (its samples hold no sensor plane), and an AVI that is already there.
TEST_F(ConvertBest, WhatTheExportWouldRefuseIsRefusedBeforeScoring)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg writes the compressed capture";
    ASSERT_EQ(run("ffmpeg -v error -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 20 -c:v mjpeg " +
                  dir.file("mjpeg.avi")),
              0);
    for (const char* dryRun : {" --dry-run", ""}) {
        SCOPED_TRACE(dryRun);
        const Outcome r = convert(std::string("--to avi --mode raw-y --best 10%") + dryRun + " mjpeg.avi");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "FAILED: mjpeg.avi: RAW display: mjpeg.avi cannot be exported in RAW Y-channel"))
            << r.err;
        EXPECT_FALSE(contains(r.out + r.err, "best 10%: ")) << r.out;
    }

    writeFile(dir.file("planet_rlum.avi"), {'o', 'l', 'd'});
    const Outcome r = convert("--to avi --mode raw-y --best 10% planet.avi");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "planet_rlum.avi exists; --overwrite replaces it")) << r.err;
    EXPECT_EQ(readFile(dir.file("planet_rlum.avi")), (Bytes{'o', 'l', 'd'}));
}

// Ctrl+C while the frames are scored: the run ends as an interrupted export does, before anything
// is written. Standard error is a terminal, so the scoring's progress line shows when to press it.
TEST_F(Convert, AnInterruptWhileScoringWritesNothing)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg writes the capture";
    // Compressed full-HD frames, so that decoding them for their score takes a few seconds.
    ASSERT_EQ(run("ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 400 -c:v ffv1 " +
                  quote(dir.file("hd.avi"))),
              0);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const pid_t pid =
        spawnConvert({"--to", "avi", "--best", "10%", "-o", dir.file("out"), dir.file("hd.avi")}, ::ptsname(master));
    ASSERT_GT(pid, 0);
    std::string said;
    bool interrupted = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int status = 0;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                said.append(buf, static_cast<std::size_t>(n));
        }
        if (!interrupted && (contains(said, "scoring hd.avi  ") || std::chrono::steady_clock::now() > deadline)) {
            ::kill(pid, SIGINT);
            interrupted = true;
        }
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 130);
            break;
        }
    }
    ::close(master);
    EXPECT_TRUE(contains(said, "%")) << said;
    EXPECT_TRUE(
        contains(said, "stopped: " + dir.file("hd.avi") + " (while its frames were scored; nothing was written)"))
        << said;
    EXPECT_TRUE(contains(said, "0 of 1 captures exported")) << said;
    EXPECT_FALSE(fs::exists(dir.path() / "out"));
}

} // namespace
