// kestro-convert given paths a user can type that are not plain captures and plain folders: names
// too long for the file system, loops of links, links that lead nowhere, FIFOs, sockets and
// devices, files where folders are meant and the other way round, outputs that are captures. Each
// gets a message naming the path and why, and the program ends: no abort, no wait on a FIFO.
#include "convert_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace kestro::test;
namespace fs = std::filesystem;

void makeFifo(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << path; }

void makeSocket(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path) << path;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
    ::close(fd);
}

bool isFifo(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

struct Case {
    std::string args;
    int status;
    std::string said; // on standard error, once
};

class ConvertPaths : public Convert {
protected:
    void SetUp() override
    {
        Convert::SetUp();
        if (IsSkipped())
            return;
        capture("m.avi", "--width 32 --height 16 --frames 3 --dropped none");
    }

    // Runs each case, and checks that it wrote nothing: the folder holds what it held before.
    void expectRefusals(const std::vector<Case>& cases)
    {
        const std::vector<std::string> before = namesIn(dir.path());
        for (const Case& c : cases) {
            SCOPED_TRACE(c.args);
            const Outcome r = convert(c.args);
            EXPECT_EQ(r.status, c.status) << r.err;
            EXPECT_EQ(occurrences(r.err, c.said), 1u) << r.err;
            EXPECT_FALSE(contains(r.err, "terminate called")) << r.err;
            EXPECT_EQ(namesIn(dir.path()), before) << "nothing was written";
        }
    }
};

TEST_F(ConvertPaths, LongNamesAndLinkLoopsAreToldNotAborted)
{
    // 245 characters before .avi: its BMP names pass 255 bytes; 248: so do its AVI and FITS names.
    const std::string n245 = std::string(245, 'a') + ".avi", n252 = std::string(248, 'b') + ".avi";
    fs::copy_file(dir.file("m.avi"), dir.file(n245));
    fs::copy_file(dir.file("m.avi"), dir.file(n252));
    fs::create_symlink("loop2", dir.path() / "loop1");
    fs::create_symlink("loop1", dir.path() / "loop2");
    fs::create_symlink("nowhere.avi", dir.path() / "gone.avi");
    const std::string bmp245 = std::string(245, 'a') + "_rgb_0000.bmp";
    const std::string tooLong = std::string(300, 'c') + ".avi";
    expectRefusals({
        {"--to bmp " + n245, 1, "FAILED: " + n245 + ": its output " + bmp245 + " would have a name of 258 bytes"},
        {"--to avi " + n252, 1, "its output " + std::string(248, 'b') + "_rgb.avi would have a name of 256 bytes"},
        {"--to fits " + n252, 1, "its output " + std::string(248, 'b') + "_0000.fit would have a name of 257 bytes"},
        {"--to fits -o loop1 m.avi", 2, "kestro-convert: --output loop1: its symbolic links go round in a loop"},
        {"--to avi -o loop1 m.avi", 2, "kestro-convert: --output loop1: its symbolic links go round in a loop"},
        {"--to avi loop1", 2, "kestro-convert: loop1: its symbolic links go round in a loop"},
        {"--to avi gone.avi", 2,
         "kestro-convert: gone.avi: it is a symbolic link to nowhere.avi, which does not exist"},
        {"--to avi -o m.avi/x.avi m.avi", 2, "--output m.avi/x.avi: a part of the path is a file, not a folder"},
        {"--to avi -o " + tooLong + " m.avi", 2, "--output " + tooLong + ": the name is too long"},
        {"--to bmp -o " + tooLong + " m.avi", 2, "--output " + tooLong + ": the name is too long"},
    });

    // The capture whose names are too long fails alone; the others are converted.
    const Outcome r = convert("--to bmp -o out m.avi " + n245);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "1 of 2 captures exported, 1 failed")) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "out"),
              (std::vector<std::string>{"m_rgb_0000.bmp", "m_rgb_0001.bmp", "m_rgb_0002.bmp"}));
}

// A FIFO waits for a writer when it is opened, and a device may never end: neither is opened, as
// a capture or as an output, and each is named with what it is.
TEST_F(ConvertPaths, SpecialFilesAreNamedForWhatTheyAreAndNeverOpened)
{
    makeFifo(dir.file("x.avi"));
    makeFifo(dir.file("pipe"));
    makeFifo(dir.file("m_rgb.avi"));
    std::vector<Case> cases = {
        {"--to avi x.avi", 1, "FAILED: x.avi: it is a FIFO (named pipe), not a capture file"},
        {"--to avi -o pipe m.avi", 2,
         "kestro-convert: --output pipe is a FIFO (named pipe); it takes the name of a file or a folder"},
        {"--to fits -o pipe m.avi", 2, "kestro-convert: --output pipe is a FIFO (named pipe); it takes a folder name"},
        {"--to avi --overwrite m.avi", 1,
         "kestro-convert: m_rgb.avi is a FIFO (named pipe), which an export does not replace"},
    };
    // A device of the null device's numbers, here rather than /dev/null itself: run as root, an
    // export that renamed its file onto the output's name once replaced /dev/null with it.
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        cases.push_back({"--to avi null", 1, "FAILED: null: it is a character device, not a capture file"});
        cases.push_back(
            {"--to avi --overwrite -o null m.avi", 2, "kestro-convert: --output null is a character device"});
    }
    expectRefusals(cases);
    EXPECT_TRUE(isFifo(dir.file("m_rgb.avi"))) << "--overwrite does not replace a FIFO";

    // Found in a night's folder among captures: the FIFO and the socket are told, the capture converted.
    capture("night/a.avi", "--width 32 --height 16 --frames 2 --dropped none");
    makeFifo(dir.file("night/b.avi"));
    makeSocket(dir.file("night/c.avi"));
    const Outcome r = convert("--to avi -o out night");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "FAILED: night/b.avi: it is a FIFO (named pipe), not a capture file")) << r.err;
    EXPECT_TRUE(contains(r.err, "FAILED: night/c.avi: it is a socket, not a capture file")) << r.err;
    EXPECT_TRUE(contains(r.err, "1 of 3 captures exported, 2 failed")) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "out"), std::vector<std::string>{"a_rgb.avi"});
}

TEST_F(ConvertPaths, FilesWhereFoldersAreMeantAndFoldersWhereFilesAre)
{
    writeFile(dir.file("notes.txt"), {'x'});
    fs::create_directory(dir.path() / "m_rgb_0001.bmp");
    fs::create_directory(dir.path() / "set.avi");
    expectRefusals({
        {"--to bmp -o notes.txt m.avi", 2,
         "kestro-convert: --output notes.txt is a file, but with --to bmp it names the folder the outputs go in"},
        {"--to avi -o notes.txt/ m.avi", 2, "--output notes.txt/: a part of the path is a file, not a folder"},
        {"--to bmp --overwrite m.avi", 1,
         "kestro-convert: m_rgb_0001.bmp is a folder, which an export does not replace"},
        {"--to avi -o set.avi m.avi", 2,
         "kestro-convert: --output set.avi is a folder, but a name ending in .avi names the AVI file to write; write "
         "set.avi/ to put the AVI in that folder"},
    });
    // Written with its slash, the folder is meant.
    const Outcome r = convert("--to avi -o set.avi/ m.avi");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "set.avi"), std::vector<std::string>{"m_rgb.avi"});
}

// With several captures --output is a folder: "one.avi" was made a folder of that name, silently.
TEST_F(ConvertPaths, AnAviNameWhereAFolderIsMeantIsAUsageError)
{
    capture("n.avi", "--width 32 --height 16 --frames 2 --dropped none");
    expectRefusals({
        {"--to avi -o one.avi m.avi n.avi", 2,
         "kestro-convert: --output one.avi: with 2 captures --output names the folder the outputs go in, and a name "
         "ending in .avi is almost surely meant as one file; give a folder name (one.avi/ if that is what is meant)"},
        {"--to avi -o ONE.AVI m.avi n.avi", 2, "--output ONE.AVI: with 2 captures --output names the folder"},
        {"--to rgb -o one.avi m.avi", 2, "--output one.avi: with --to rgb --output names the folder"},
    });
    const Outcome r = convert("--to avi -o one.avi/ m.avi n.avi");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "one.avi"), (std::vector<std::string>{"m_rgb.avi", "n_rgb.avi"}));
}

// --overwrite replaces old outputs, never a capture: not the one being read, not another of the
// night's, not one under a second name.
TEST_F(ConvertPaths, AnExportNeverWritesOverACapture)
{
    capture("night/a.avi", "--width 32 --height 16 --frames 2 --dropped none");
    fs::copy_file(dir.file("m.avi"), dir.file("night/a_rgb.avi"));
    fs::create_hard_link(dir.file("m.avi"), dir.file("hard.avi"));
    fs::create_symlink("m.avi", dir.path() / "soft.avi");
    const Bytes original = readFile(dir.file("m.avi"));
    expectRefusals({
        {"--to avi --overwrite -o m.avi m.avi", 1, "the export of m.avi would write m.avi, which is the capture m.avi"},
        {"--to avi --overwrite -o hard.avi m.avi", 1,
         "the export of m.avi would write hard.avi, which is the capture m.avi"},
        {"--to avi --overwrite -o soft.avi m.avi", 1,
         "the export of m.avi would write soft.avi, which is the capture m.avi"},
        {"--to avi --overwrite night", 1,
         "the export of night/a.avi would write night/a_rgb.avi, which is the capture night/a_rgb.avi"},
    });
    EXPECT_EQ(readFile(dir.file("m.avi")), original);
    EXPECT_EQ(readFile(dir.file("night/a_rgb.avi")), original);
}

// What went wrong with a capture is said once, as its reason in the summary: not once by the
// video source or the engine and again by the summary.
TEST_F(ConvertPaths, EachRefusalIsSaidOnce)
{
    writeFile(dir.file("notes.avi"), {'n', 'o', 't', 'e', 's'});
    const Case cases[] = {
        {"--to avi notes.avi", 1, "FAILED: notes.avi: AVIFileOpen: Unable to open notes.avi\n  Not an AVI file."},
        {"--to avi --dry-run notes.avi m.avi", 1, "FAILED: notes.avi: AVIFileOpen: Unable to open notes.avi"},
        {"--to rgb --mode raw-y m.avi", 1,
         "FAILED: m.avi: Input is not 24 bit frame: Unable to split video into R, G, B channels"},
        {"--to avi -o nowhere/x.avi m.avi", 1,
         "FAILED: m.avi: AVIFileOpen: Unable to create nowhere/x.avi: the folder does not exist."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Outcome r = convert(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(occurrences(r.err, c.said), 1u) << r.err;
        // The cause's own words, wherever they are said, are said once.
        const std::string cause = c.said.substr(c.said.rfind(": ") + 2);
        EXPECT_EQ(occurrences(r.err, cause), 1u) << cause << " in\n" << r.err;
    }
}

} // namespace
