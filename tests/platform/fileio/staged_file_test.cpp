// The staged file: the temporary names it claims, which the rule for leftovers must recognise,
// and when the target is replaced and the temporary file removed.
#include "staged_file.h"
#include "temporary_names.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using kestro::fileio::isTemporaryName;
using kestro::fileio::StagedFile;
using namespace kestro::test;
namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string text(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeText(const std::string& path, const std::string& s) { writeFile(path, {s.begin(), s.end()}); }

TEST(StagedFile, TemporaryFilesAreRecognisedByTheirPattern)
{
    for (const TemporaryNameCase& c : kTemporaryNameCases)
        EXPECT_EQ(isTemporaryName(c.name), c.temporary) << c.name;
}

// Until commit the target keeps what it held; commit puts the new file in its place and leaves
// nothing else behind, and a staged file dropped without commit takes its temporary file along.
TEST(StagedFile, ReplacesTheTargetOnlyWhenCommitted)
{
    ScratchDir dir;
    const std::string target = dir.file("x.avi");
    writeText(target, "earlier");
    {
        StagedFile dropped(target);
        int error = 0;
        ASSERT_TRUE(dropped.create(&error)) << std::strerror(error);
        writeText(dropped.tempPath(), "half");
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"x.avi"});
    EXPECT_EQ(text(target), "earlier");

    StagedFile staged(target);
    int error = 0;
    ASSERT_TRUE(staged.create(&error)) << std::strerror(error);
    EXPECT_EQ(fs::path(staged.tempPath()).parent_path(), dir.path());
    EXPECT_TRUE(isTemporaryName(fs::path(staged.tempPath()).filename().string())) << staged.tempPath();
    writeText(staged.tempPath(), "whole");
    EXPECT_EQ(text(target), "earlier");
    ASSERT_TRUE(staged.commit(&error)) << std::strerror(error);
    EXPECT_TRUE(staged.commit(&error)) << "committed once, it stays committed";
    EXPECT_EQ(text(target), "whole");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"x.avi"});
}

// Whatever the target's name, the temporary one fits the file system and is recognised: a long
// name is shortened before a character, never inside one, and a folder whose path leaves no room
// for the decoration gets a short name of its own.
TEST(StagedFile, LongNamesStillGetATemporaryFileThatIsRecognised)
{
    ScratchDir dir;
    fs::path deep = dir.path();
    // A folder path that leaves room for a 20-byte target name but not for its decoration (4096
    // bytes with the terminating zero).
    while (deep.string().size() + 1 + 200 < 4065 - 1)
        deep /= std::string(200, 'd');
    deep /= std::string(4065 - deep.string().size() - 1, 'e');
    ASSERT_EQ(deep.string().size(), 4065u);
    fs::create_directories(deep);

    const std::string accented = std::string(199, 'a') + "\xC3\xA9" + ".avi"; // é across byte 200
    const std::string targets[] = {dir.file(std::string(251, 'l') + ".avi"), dir.file(accented),
                                   (deep / (std::string(16, 't') + ".avi")).string()};
    for (const std::string& target : targets) {
        SCOPED_TRACE(target.size());
        StagedFile staged(target);
        int error = 0;
        ASSERT_TRUE(staged.create(&error)) << std::strerror(error);
        const std::string name = fs::path(staged.tempPath()).filename().string();
        EXPECT_TRUE(isTemporaryName(name)) << name;
        EXPECT_LE(name.size(), 255u);
        if (target == targets[1]) {
            EXPECT_EQ(name.substr(0, 201), "." + std::string(199, 'a') + ".") << "cut before the é";
        } else if (target == targets[2]) {
            EXPECT_EQ(name.substr(0, 15), ".kestro-export.");
        }
        ASSERT_TRUE(staged.commit(&error)) << std::strerror(error);
        EXPECT_TRUE(fs::exists(target));
    }
}

TEST(StagedFile, AFolderThatRefusesItGivesTheSystemsReason)
{
    ScratchDir dir;
    StagedFile staged(dir.file("missing/x.avi"));
    int error = 0;
    EXPECT_FALSE(staged.create(&error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(staged.commit(&error)) << "nothing was created to put in place";
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

// A writer that must create the file itself gets the name free; what then stands there is removed
// only once the writer said it made it.
TEST(StagedFile, AYieldedNameIsRemovedOnlyAfterItWasReclaimed)
{
    ScratchDir dir;
    for (const bool reclaimed : {false, true}) {
        SCOPED_TRACE(reclaimed);
        std::string temp;
        {
            StagedFile staged(dir.file("x.fit"));
            int error = 0;
            ASSERT_TRUE(staged.create(&error)) << std::strerror(error);
            temp = staged.tempPath();
            staged.yield();
            EXPECT_FALSE(fs::exists(temp));
            writeText(temp, "made by the writer");
            if (reclaimed)
                staged.reclaim();
        }
        EXPECT_EQ(fs::exists(temp), !reclaimed);
        fs::remove(temp);
    }
}

} // namespace
