// The write loop: a large block arrives whole and in order although the kernel gets it in
// pieces, and a write the system stops says how much of it reached the file.
#include "restricted_folder.h"
#include "test_support.h"
#include "write_all.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using kestro::fileio::writeAll;
using kestro::fileio::writeAllAt;
using kestro::fileio::WriteResult;
using namespace kestro::test;

// Bytes that differ from one 64 KiB piece to the next, so that a piece written twice or skipped
// shows.
std::vector<std::uint8_t> pattern(std::size_t n, unsigned seed)
{
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 65536 + seed);
    return bytes;
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

TEST(WriteAll, LargeBlocksArriveWholeAtThePositionOrTheOffset)
{
    ScratchDir dir;
    const std::string path = dir.file("out.bin");
    const std::vector<std::uint8_t> first = pattern(300000, 1), patch = pattern(70000, 2), tail = pattern(10, 3);
    {
        Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        ASSERT_GE(fd.get(), 0) << std::strerror(errno);
        WriteResult r = writeAll(fd.get(), first.data(), first.size());
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.written, first.size());
        // Across a piece's boundary, without moving the position the next append starts from.
        r = writeAllAt(fd.get(), 65000, patch.data(), patch.size());
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.written, patch.size());
        r = writeAll(fd.get(), tail.data(), tail.size());
        EXPECT_EQ(r.written, tail.size());
    }
    std::vector<std::uint8_t> expected = first;
    std::copy(patch.begin(), patch.end(), expected.begin() + 65000);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(readFile(path), expected);
}

// What `written` says is what the file holds: the writers report the first byte that did not
// reach the disk from it.
TEST(WriteAll, AStoppedWriteSaysHowMuchReachedTheFileAndWhy)
{
    RestrictedFolder full(RestrictedFolder::Kind::Full, {}, 100 * 1024);
    if (!full.available())
        GTEST_SKIP() << full.reason();
    const std::string path = full.file("out.bin");
    const std::vector<std::uint8_t> bytes = pattern(400 * 1024, 4);
    WriteResult r;
    {
        Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        ASSERT_GE(fd.get(), 0) << std::strerror(errno);
        r = writeAll(fd.get(), bytes.data(), bytes.size());
    }
    EXPECT_EQ(r.error, ENOSPC);
    EXPECT_GT(r.written, 0u);
    EXPECT_LT(r.written, bytes.size());
    const std::vector<std::uint8_t> onDisk = readFile(path);
    EXPECT_EQ(onDisk.size(), r.written);
    EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), bytes.begin()));

    Fd readOnly(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    r = writeAllAt(readOnly.get(), 0, bytes.data(), 10);
    EXPECT_EQ(r.error, EBADF);
    EXPECT_EQ(r.written, 0u);
}

} // namespace
