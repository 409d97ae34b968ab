// Saves the disk refuses: a missing folder, a read-only one, a full one, a folder where the file
// should go. Each returns false with the file's name and the operating system's reason in words,
// and leaves the folder as it found it: no temporary file, an earlier file of the name unchanged.
#include "kxfits_fixture.h"

#include "restricted_folder.h"

namespace {

using namespace kestro::test;

const std::string kEarlier = "an earlier file";

void putEarlierFile(const std::filesystem::path& folder)
{
    writeFile((folder / "m42.fit").string(), {kEarlier.begin(), kEarlier.end()});
}

std::string contents(const std::string& path)
{
    const auto bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

// Saves an image whose file takes two FITS blocks, 5760 bytes, to `path` and expects the failure
// described.
void expectRefused(const std::string& path, const std::vector<std::string>& anyOfReasons)
{
    kxFitsFile file;
    EXPECT_FALSE(save(file, path, pattern(8, 6, 65535), 8, 6));
    const std::string& error = file.lastError();
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_TRUE(std::any_of(anyOfReasons.begin(), anyOfReasons.end(), [&](const std::string& reason) {
        return error.find(reason) != std::string::npos;
    })) << error;
}

TEST_F(KxFitsTest, MissingFolder)
{
    expectRefused(scratch.file("no such folder") + "/m42.fit", {"No such file or directory"});
    EXPECT_TRUE(listing(scratch.path()).empty());
}

TEST_F(KxFitsTest, ReadOnlyFolderKeepsTheEarlierFile)
{
    RestrictedFolder folder(RestrictedFolder::Kind::ReadOnly, putEarlierFile);
    if (!folder.available())
        GTEST_SKIP() << folder.reason();
    // Read-only file system under root, permission denied to anyone else.
    expectRefused(folder.file("m42.fit"), {"Read-only file system", "Permission denied"});
    EXPECT_EQ(listing(folder.path()), std::set<std::string>{"m42.fit"});
    EXPECT_EQ(contents(folder.file("m42.fit")), kEarlier);
}

TEST_F(KxFitsTest, FullDiskKeepsTheEarlierFileAndLeavesNoTemporary)
{
    // With no room at all nothing can be written. With one 4096-byte page free the first part of
    // the file fits and the rest does not, which is how a half-written file would come about; the
    // C library's buffer then holds the rest until the file is closed.
    for (const bool onePageFree : {false, true}) {
        SCOPED_TRACE(onePageFree ? "one page free" : "no room");
        RestrictedFolder folder(RestrictedFolder::Kind::Full, [&](const std::filesystem::path& path) {
            putEarlierFile(path);
            if (onePageFree)
                writeFile((path / "spare").string(), std::vector<std::uint8_t>(4096, 0));
        });
        if (!folder.available())
            GTEST_SKIP() << folder.reason();
        std::filesystem::remove(folder.path() / "spare");

        expectRefused(folder.file("m42.fit"), {"No space left on device"});
        EXPECT_EQ(listing(folder.path()), std::set<std::string>{"m42.fit"});
        EXPECT_EQ(contents(folder.file("m42.fit")), kEarlier);
    }
}

// The last step fails here, after the whole file was written under its temporary name.
TEST_F(KxFitsTest, FolderInTheWayLeavesNoTemporary)
{
    std::filesystem::create_directory(scratch.path() / "m42.fit");
    expectRefused(scratch.file("m42.fit"), {"Is a directory"});
    EXPECT_EQ(listing(scratch.path()), std::set<std::string>{"m42.fit"});
    EXPECT_TRUE(std::filesystem::is_directory(scratch.path() / "m42.fit"));
}

} // namespace
