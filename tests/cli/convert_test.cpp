// kestro-convert as a user runs it: a night's folder with a file that is no capture among good
// ones, frame lists, bad options, existing outputs, an unwritable folder, captures side by side,
// and Ctrl+C in the middle of an export. Outputs are read back with ffprobe.
#include "restricted_folder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace kestro::test;
namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

class Convert : public testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffprobe"))
            GTEST_SKIP() << "ffprobe reads what kestro-convert writes";
    }

    // kestro-convert with the arguments (a shell word list), in the test's folder.
    Outcome convert(const std::string& args, const std::string& env = "")
    {
        Outcome r;
        const std::string err = dir.file("stderr.txt");
        r.status = run("cd " + quote(dir.path().string()) + " && " + env + " " + KESTRO_CONVERT + " " + args + " 2>" +
                           quote(err),
                       &r.out);
        const Bytes bytes = readFile(err);
        r.err.assign(bytes.begin(), bytes.end());
        fs::remove(err);
        return r;
    }

    std::string capture(const std::string& name, const std::string& args)
    {
        fs::create_directories(dir.path() / fs::path(name).parent_path());
        makeSample(dir.file(name), args);
        return dir.file(name);
    }

    using Bytes = std::vector<std::uint8_t>;
    ScratchDir dir;
};

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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
        {"--frames 5", "0"},      // a dropped frame only: an empty file
        {"--frames 9-", "1"},     //
    };
    for (const auto& [frames, count] : cases) {
        SCOPED_TRACE(frames);
        const Outcome r = convert("--to avi --overwrite " + frames + " m42.avi");
        EXPECT_EQ(r.status, 0) << r.err;
        if (count == "0")
            EXPECT_EQ(probe(dir.file("m42_rgb.avi"), "codec_name"), "rawvideo");
        else
            EXPECT_EQ(probe(dir.file("m42_rgb.avi"), "nb_read_frames", true), count);
    }
    const Outcome outside = convert("--to avi --overwrite --frames 3,12-14,20- m42.avi");
    EXPECT_EQ(outside.status, 2);
    EXPECT_TRUE(contains(outside.err, "--frames: m42.avi has 10 frames (0 to 9), not 12-14, 20-")) << outside.err;
}

TEST_F(Convert, BadOptionValuesAreUsageErrorsNamingTheOption)
{
    capture("m42.avi", "--width 32 --height 16 --frames 2 --dropped none");
    const std::pair<const char*, const char*> cases[] = {
        {"--to xyz m42.avi", "--to"},
        {"--to avi --mode rawy m42.avi", "--mode"},
        {"--to avi --pattern RGGB m42.avi", "--pattern"},
        {"--to avi --algorithm 9 m42.avi", "--algorithm"},
        {"--to fits --block 0 m42.avi", "--block"},
        {"--to avi --jobs 0 m42.avi", "--jobs"},
        {"--to avi --frames 3-1 m42.avi", "--frames"},
        {"m42.avi", "--to"},
        {"--to avi --speed 2 m42.avi", "--speed"},
        {"--to avi missing.avi", "missing.avi"},
    };
    for (const auto& [args, option] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = convert(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(contains(r.err, option)) << r.err;
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"m42.avi"}) << "nothing was written";
    const Outcome version = convert("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(contains(version.out, "kestro-convert 3.1")) << version.out;
    EXPECT_TRUE(contains(convert("--help").out, "Examples:"));
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
    EXPECT_TRUE(contains(r.err, "AVIFileOpen: Unable to create " + folder.file("m42_rgb_b.avi"))) << r.err;
    EXPECT_TRUE(contains(r.err, "FAILED: m42.avi: Unable to create")) << r.err;
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

TEST_F(Convert, ProgressLinesAreDrawnOnATerminal)
{
    if (!haveTool("script"))
        GTEST_SKIP() << "script gives the program a terminal";
    capture("m42.avi", "--width 640 --height 480 --frames 60 --dropped none");
    std::string out;
    run("cd " + quote(dir.path().string()) + " && script -qec " +
            quote(std::string(KESTRO_CONVERT) + " --to avi --mode raw-colour --algorithm ahd m42.avi") + " /dev/null",
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string captureArg = dir.file("big.avi"), outArg = dir.file("out");
    std::vector<std::string> args = {KESTRO_CONVERT, "--to", "avi", "--mode", "raw-colour",
                                     "--algorithm",  "ahd",  "-o",  outArg,   captureArg};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, KESTRO_CONVERT, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
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

} // namespace
