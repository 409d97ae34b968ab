#include "ser_writer.h"

#include "staged_file.h"
#include "write_all.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::ser {

namespace {

constexpr char kFileId[] = "LUCAM-RECORDER";
constexpr std::uint64_t kTimeBytes = 8;

bool validTime(std::int64_t ticks) { return ticks > 0 && ticks <= kMaxTicks; }

} // namespace

SerWriter::SerWriter(std::string target) : m_staged(std::make_unique<fileio::StagedFile>(std::move(target))) {}

SerWriter::~SerWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

const std::string& SerWriter::target() const { return m_staged->target(); }

bool SerWriter::fail(WriteStep step, int error)
{
    if (m_failedStep == WriteStep::None) {
        m_failedStep = step;
        m_error = error != 0 ? error : EIO;
    }
    return false;
}

bool SerWriter::writeAt(std::uint64_t offset, const void* data, std::size_t n)
{
    const fileio::WriteResult put = fileio::writeAllAt(m_fd, offset, data, n);
    m_error = put.error;
    return put.error == 0;
}

bool SerWriter::open(const WriteFormat& format, std::uint64_t expectedFrames)
{
    const ColorInfo* color = findColor(static_cast<std::int32_t>(format.colorId));
    // What only a caller's mistake can give; no file is made for it.
    if (!color || format.width <= 0 || format.height <= 0 || format.pixelDepth < 1 || format.pixelDepth > 16)
        return fail(WriteStep::Create, EINVAL);
    m_planes = color->planes;
    m_bytesPerSample = format.pixelDepth > 8 ? 2 : 1;
    m_rowBytes = static_cast<std::size_t>(format.width) * static_cast<std::size_t>(m_planes * m_bytesPerSample);
    m_frameBytes = static_cast<std::uint64_t>(m_rowBytes) * static_cast<std::uint64_t>(format.height);

    m_header = {};
    m_header.fileId = kFileId;
    m_header.colorId = static_cast<std::int32_t>(format.colorId);
    m_header.littleEndian = 0;
    m_header.width = format.width;
    m_header.height = format.height;
    m_header.pixelDepth = format.pixelDepth;
    m_header.observer = format.observer;
    m_header.instrument = format.instrument;
    m_header.telescope = format.telescope;
    m_localOffset = format.localOffsetTicks;

    int error = 0;
    if (!m_staged->create(&error))
        return fail(WriteStep::Create, error);
    // Not O_TRUNC: the staged file was just created empty, and ext4 takes a truncation, even of an
    // empty file, as a file rewritten in place and writes all of it back at close.
    m_fd = ::open(m_staged->tempPath().c_str(), O_WRONLY | O_CLOEXEC);
    if (m_fd < 0)
        return fail(WriteStep::Create, errno);
    // Saturates rather than wraps for a count no file could hold: the room is then refused.
    const std::uint64_t perFrame = m_frameBytes + kTimeBytes;
    const std::uint64_t room = expectedFrames > (std::numeric_limits<std::uint64_t>::max() - kHeaderBytes) / perFrame
                                   ? std::numeric_limits<std::uint64_t>::max() / 2
                                   : kHeaderBytes + expectedFrames * perFrame;
    if (!m_staged->makeRoom(room, &error))
        return fail(WriteStep::Create, error);
    const std::array<std::uint8_t, kHeaderBytes> head = encodeHeader(m_header);
    if (!writeAt(0, head.data(), head.size()))
        return fail(WriteStep::Create, m_error);
    m_end = kHeaderBytes;
    return true;
}

bool SerWriter::writeFrame(const std::uint8_t* firstRow, std::ptrdiff_t strideBytes,
                           std::optional<std::int64_t> utcTicks)
{
    if (m_fd < 0 || m_completed || m_failedStep != WriteStep::None)
        return fail(WriteStep::Frame, EBADF);
    // The header counts frames in 32 bits.
    if (m_frames == std::numeric_limits<std::int32_t>::max())
        return fail(WriteStep::Frame, EFBIG);
    const bool swap = m_bytesPerSample == 2 && std::endian::native != std::endian::little;
    const void* data = firstRow;
    if (swap || strideBytes != static_cast<std::ptrdiff_t>(m_rowBytes)) {
        try {
            m_frameBuffer.resize(m_frameBytes);
        } catch (const std::bad_alloc&) {
            return fail(WriteStep::Frame, ENOMEM);
        }
        for (std::int32_t r = 0; r < m_header.height; ++r) {
            const std::uint8_t* src = firstRow + static_cast<std::ptrdiff_t>(r) * strideBytes;
            std::uint8_t* dst = m_frameBuffer.data() + static_cast<std::size_t>(r) * m_rowBytes;
            if (!swap) {
                std::memcpy(dst, src, m_rowBytes);
                continue;
            }
            for (std::size_t i = 0; i + 1 < m_rowBytes; i += 2) {
                std::uint16_t v;
                std::memcpy(&v, src + i, 2);
                dst[i] = static_cast<std::uint8_t>(v);
                dst[i + 1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
        data = m_frameBuffer.data();
    }
    if (!writeAt(m_end, data, static_cast<std::size_t>(m_frameBytes)))
        return fail(WriteStep::Frame, m_error);
    m_end += m_frameBytes;
    ++m_frames;
    const bool timed = utcTicks && validTime(*utcTicks);
    m_allTimed = m_allTimed && timed;
    if (m_allTimed)
        m_times.push_back(*utcTicks);
    else
        m_times.clear();
    if (m_frames == 1 && timed)
        m_header.dateTimeUtc = *utcTicks;
    return true;
}

bool SerWriter::complete()
{
    if (m_fd < 0 || m_completed || m_failedStep != WriteStep::None)
        return fail(WriteStep::Complete, EBADF);
    std::uint64_t expected = m_end;
    if (m_frames > 0 && m_allTimed) {
        std::vector<std::uint8_t> table(m_times.size() * kTimeBytes);
        for (std::size_t i = 0; i < m_times.size(); ++i)
            for (std::size_t b = 0; b < kTimeBytes; ++b)
                table[i * kTimeBytes + b] =
                    static_cast<std::uint8_t>(static_cast<std::uint64_t>(m_times[i]) >> (8 * b));
        if (!writeAt(m_end, table.data(), table.size()))
            return fail(WriteStep::Complete, m_error);
        expected += table.size();
    }
    const std::int64_t offset = m_localOffset;
    m_header.frameCount = m_frames;
    if (m_header.dateTimeUtc != 0) {
        // A local time the offset would push out of the calendar is no time at all: UTC stands in.
        const bool inRange = offset >= 0 ? m_header.dateTimeUtc <= kMaxTicks - offset : m_header.dateTimeUtc >= -offset;
        m_header.dateTime = inRange ? m_header.dateTimeUtc + offset : m_header.dateTimeUtc;
    } else {
        m_header.dateTime = 0;
    }
    const std::array<std::uint8_t, kHeaderBytes> head = encodeHeader(m_header);
    if (!writeAt(0, head.data(), head.size()))
        return fail(WriteStep::Complete, m_error);
    // Some file systems report a full disk or a lost connection only when the file is closed.
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return fail(WriteStep::Complete, errno);
    int error = 0;
    const std::int64_t size = m_staged->size(&error);
    if (size < 0)
        return fail(WriteStep::Complete, error);
    if (static_cast<std::uint64_t>(size) != expected)
        return fail(WriteStep::Complete, EIO);
    m_completed = true;
    return true;
}

bool SerWriter::commit()
{
    if (!m_completed)
        return fail(WriteStep::Rename, EBADF);
    int error = 0;
    if (!m_staged->commit(&error))
        return fail(WriteStep::Rename, error);
    return true;
}

} // namespace kestro::ser
