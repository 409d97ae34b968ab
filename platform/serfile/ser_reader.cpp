#include "ser_reader.h"

#include "input_file.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <limits>

namespace kestro::ser {

namespace {

constexpr std::size_t kTimeBytes = 8;
// Rows sampled to judge byte order and depth: a few frames spread over the capture, a few rows
// spread over each, and at most this many bytes of each row, so that opening costs the same
// for any frame size.
constexpr std::int32_t kProbeFrames = 8;
constexpr std::int32_t kProbeRows = 16;
constexpr std::size_t kProbeRowBytes = 16 * 1024;
// A table of frame times is believed when these many of its entries, spread over it, are times
// a capture can have been made at.
constexpr std::uint64_t kTimesChecked = 4096;
// 1970-01-01 and 2200-01-01: no camera recorded before, and a value past is not a time.
constexpr std::int64_t kEarliestCapture = kUnixEpochTicks;
constexpr std::int64_t kLatestCapture = kUnixEpochTicks + 84'006LL * 86'400 * 10'000'000; // 84006 days on

std::int64_t int64At(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return static_cast<std::int64_t>(v);
}

bool hostIsLittle() { return std::endian::native == std::endian::little; }

std::string frames(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

} // namespace

SerReader::SerReader() = default;
SerReader::~SerReader() = default;

OpenResult openSer(const std::string& path) { return openSer(path, OpenOptions{}); }

OpenResult openSer(const std::string& path, const OpenOptions& options)
{
    OpenResult result;
    std::unique_ptr<SerReader> reader(new SerReader);
    Status status = reader->open(path, options);
    if (status)
        result.reader = std::move(reader);
    else
        result.error = std::move(status.error);
    return result;
}

Status SerReader::open(const std::string& path, const OpenOptions& options)
{
    auto file = std::make_unique<fileio::InputFile>();
    std::string why;
    if (!file->open(path, &why))
        return {why};
    std::uint8_t bytes[kHeaderBytes] = {};
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(file->size(), kHeaderBytes));
    if (have > 0 && !file->readAt(0, bytes, have, &why))
        return {why};
    if (!looksLikeSer(std::span<const std::uint8_t>(bytes, have)))
        return {have < 26 ? "it is too short to be a SER file (" + std::to_string(have) + " bytes)"
                          : "it is not a SER file: it does not begin with a readable file id and a byte-order flag "
                            "of 0 or 1"};
    if (have < kHeaderBytes)
        return {"the file ends inside its " + std::to_string(kHeaderBytes) + "-byte header (it holds " +
                std::to_string(have) + " bytes)"};
    m_header = parseHeader(std::span<const std::uint8_t, kHeaderBytes>(bytes));
    if (std::string problem = headerProblem(m_header, file->size()); !problem.empty())
        return {problem};

    const ColorInfo& color = *findColor(m_header.colorId);
    m_layout.width = m_header.width;
    m_layout.height = m_header.height;
    m_layout.planes = color.planes;
    m_layout.bytesPerSample = m_header.pixelDepth > 8 ? 2 : 1;
    m_layout.colorId = color.id;
    m_layout.sampling = color.sampling;
    m_layout.sites = color.sites;
    m_layout.rowBytes = static_cast<std::size_t>(m_header.width) * static_cast<std::size_t>(color.planes) *
                        static_cast<std::size_t>(m_layout.bytesPerSample);
    m_layout.frameBytes = m_layout.rowBytes * static_cast<std::size_t>(m_header.height);
    m_file = std::move(file);
    m_userOrder = options.byteOrder;
    countFrames(std::filesystem::path(path).filename().string());
    probeData();
    return {};
}

void SerReader::countFrames(const std::string& name)
{
    const std::uint64_t payload = m_file->size() - kHeaderBytes;
    const std::uint64_t frameBytes = m_layout.frameBytes;
    const std::uint64_t fit = payload / frameBytes; // at least 1: the header check saw to it
    const std::int32_t said = m_header.frameCount;
    std::uint64_t count = fit;

    if (said > 0 && static_cast<std::uint64_t>(said) <= fit) {
        count = static_cast<std::uint64_t>(said);
        const std::uint64_t rest = payload - count * frameBytes;
        if (rest >= count * kTimeBytes && timesLookReal(kHeaderBytes + count * frameBytes, count)) {
            m_timesOffset = kHeaderBytes + count * frameBytes;
            m_extraBytes = rest - count * kTimeBytes;
        } else if (rest >= count * kTimeBytes) {
            // A count written before the capture ended leaves frames where the times would be.
            m_extraBytes = rest;
            m_notes.push_back(name + " ends with " + std::to_string(rest) + " bytes after its " + frames(count) +
                              " that do not hold their times: no frame times are shown.");
        } else {
            m_extraBytes = rest;
            if (rest > 0)
                m_notes.push_back(name + " ends with " + std::to_string(rest) + " bytes where the times of its " +
                                  frames(count) + " take " + std::to_string(count * kTimeBytes) +
                                  ": no frame times are shown.");
        }
        m_frameCount = static_cast<std::int32_t>(count);
        return;
    }

    if (said <= 0) {
        // A writer that stopped before it wrote the count may still have written the times, and
        // with small frames their table can fill whole frames: it is recognised by its length
        // and by holding times, so that it is never shown as pictures.
        const std::uint64_t withTimes = payload / (frameBytes + kTimeBytes);
        if (payload % (frameBytes + kTimeBytes) == 0 && withTimes <= std::numeric_limits<std::int32_t>::max() &&
            timesLookReal(kHeaderBytes + withTimes * frameBytes, withTimes)) {
            count = withTimes;
            m_timesOffset = kHeaderBytes + count * frameBytes;
        }
    }
    std::string holds = "it holds " + std::to_string(count) + " whole " + (count == 1 ? "frame" : "frames");
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        count = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
        holds += ", of which the first " + std::to_string(count) + " are shown";
    }
    if (m_timesOffset == 0)
        m_extraBytes = payload - count * frameBytes;
    m_frameCount = static_cast<std::int32_t>(count);
    if (said <= 0)
        m_notes.push_back(name + " does not say how many frames it holds (its count is " + std::to_string(said) +
                          "); " + holds + ".");
    else
        m_notes.push_back(name + " says it holds " + frames(static_cast<std::uint64_t>(said)) + "; " + holds + ".");
}

bool SerReader::timesLookReal(std::uint64_t offset, std::uint64_t count) const
{
    if (count == 0)
        return false;
    const std::uint64_t checks = std::min(count, kTimesChecked);
    for (std::uint64_t k = 0; k < checks; ++k) {
        // First and last included, the rest evenly between.
        const std::uint64_t i = checks == 1 ? 0 : k * (count - 1) / (checks - 1);
        std::uint8_t bytes[kTimeBytes];
        if (!m_file->readAt(offset + i * kTimeBytes, bytes, kTimeBytes, nullptr))
            return false;
        const std::int64_t t = int64At(bytes);
        if (t < kEarliestCapture || t >= kLatestCapture)
            return false;
    }
    return true;
}

void SerReader::probeData()
{
    const int bytes = m_layout.bytesPerSample;
    const std::size_t sampleBytes = static_cast<std::size_t>(m_layout.planes * bytes);
    const std::size_t rowBytes = std::min(m_layout.rowBytes, kProbeRowBytes / sampleBytes * sampleBytes);
    const std::size_t samples = rowBytes / static_cast<std::size_t>(bytes);
    // Same-colour neighbours: the next pixel of a grey picture, two sites on in a mosaic, the
    // same channel of the next pixel of RGB.
    const int step = m_layout.planes == 3 ? 3 : m_layout.sampling == Sampling::Mono ? 1 : 2;
    const std::int32_t nFrames = std::min(kProbeFrames, m_frameCount);
    const std::int32_t nRows = std::min(kProbeRows, m_layout.height);
    std::vector<std::uint8_t> row(rowBytes);
    for (std::int32_t f = 0; f < nFrames; ++f) {
        const auto frame = static_cast<std::int32_t>((2 * std::int64_t(f) + 1) * m_frameCount / (2 * nFrames));
        for (std::int32_t r = 0; r < nRows; ++r) {
            const auto y = static_cast<std::int32_t>((2 * std::int64_t(r) + 1) * m_layout.height / (2 * nRows));
            // A row that cannot be read adds no evidence; reading the frame later says why.
            if (m_file->readAt(frameOffset(frame) + static_cast<std::uint64_t>(y) * m_layout.rowBytes, row.data(),
                               rowBytes, nullptr))
                addRow(m_probe, row.data(), samples, bytes, step);
        }
    }
    if (bytes == 2)
        m_dataOrder = orderFromData(m_probe);
}

ByteOrder SerReader::byteOrder() const
{
    if (m_layout.bytesPerSample == 1)
        return ByteOrder::Little;
    if (m_userOrder)
        return *m_userOrder;
    return m_dataOrder.value_or(ByteOrder::Little);
}

OrderBasis SerReader::orderBasis() const
{
    if (m_layout.bytesPerSample == 1)
        return OrderBasis::OneByteSamples;
    if (m_userOrder)
        return OrderBasis::User;
    return m_dataOrder ? OrderBasis::Data : OrderBasis::Convention;
}

int SerReader::realDepth() const
{
    const int bits = bitsUsed(m_probe, byteOrder());
    if (bits == 0)
        return m_header.pixelDepth;
    // Only the 16-bit container hides the depth: 8-bit data are shown as stored, like an 8-bit
    // AVI, unless their values exceed the depth the header claims.
    if (m_layout.bytesPerSample == 1)
        return std::max(m_header.pixelDepth, bits);
    return bits;
}

std::optional<std::int64_t> SerReader::frameTimeUtc(std::int32_t frame) const
{
    if (m_timesOffset == 0 || frame < 0 || frame >= m_frameCount)
        return std::nullopt;
    std::uint8_t bytes[kTimeBytes];
    if (!m_file->readAt(m_timesOffset + static_cast<std::uint64_t>(frame) * kTimeBytes, bytes, kTimeBytes, nullptr))
        return std::nullopt;
    const std::int64_t t = int64At(bytes);
    if (t <= 0 || t > kMaxTicks)
        return std::nullopt;
    return t;
}

std::uint64_t SerReader::frameOffset(std::int32_t frame) const
{
    return kHeaderBytes + static_cast<std::uint64_t>(frame) * m_layout.frameBytes;
}

Status SerReader::checkRead(std::int32_t frame, std::ptrdiff_t strideBytes, std::size_t rowBytes) const
{
    if (frame < 0 || frame >= m_frameCount)
        return {"frame " + std::to_string(frame) + " is not in the file, which holds " + std::to_string(m_frameCount) +
                (m_frameCount == 1 ? " whole frame" : " whole frames")};
    const std::size_t stride =
        strideBytes < 0 ? static_cast<std::size_t>(-(strideBytes + 1)) + 1 : static_cast<std::size_t>(strideBytes);
    if (m_layout.height > 1 && stride < rowBytes)
        return {"a row of the frame takes " + std::to_string(rowBytes) + " bytes, more than the row stride of " +
                std::to_string(stride)};
    return {};
}

Status SerReader::readStoredBytes(std::int32_t frame, std::span<std::uint8_t> out) const
{
    if (Status s = checkRead(frame, static_cast<std::ptrdiff_t>(m_layout.rowBytes), m_layout.rowBytes); !s)
        return s;
    if (out.size() < m_layout.frameBytes)
        return {"a frame takes " + std::to_string(m_layout.frameBytes) + " bytes, more than the " +
                std::to_string(out.size()) + " given to read it into"};
    std::string why;
    if (!m_file->readAt(frameOffset(frame), out.data(), m_layout.frameBytes, &why))
        return {"frame " + std::to_string(frame) + " could not be read: " + why};
    return {};
}

Status SerReader::readFrame(std::int32_t frame, std::uint8_t* firstRow, std::ptrdiff_t strideBytes) const
{
    if (m_layout.bytesPerSample != 1)
        return {"its samples are " + std::to_string(m_header.pixelDepth) +
                "-bit, stored in 16 bits: they are read as 16-bit values"};
    return readRows(frame, 0, m_layout.height, firstRow, strideBytes);
}

Status SerReader::readFrame(std::int32_t frame, std::uint16_t* firstRow, std::ptrdiff_t strideBytes) const
{
    const std::size_t samples = static_cast<std::size_t>(m_layout.width) * static_cast<std::size_t>(m_layout.planes);
    if (strideBytes % 2 != 0)
        return {"the row stride of " + std::to_string(strideBytes) + " bytes does not hold whole 16-bit samples"};
    auto* out = reinterpret_cast<std::uint8_t*>(firstRow);
    if (m_layout.bytesPerSample == 2)
        return readRows(frame, 0, m_layout.height, out, strideBytes);
    if (Status s = checkRead(frame, strideBytes, samples * 2); !s)
        return s;
    std::vector<std::uint8_t> stored(m_layout.frameBytes);
    std::string why;
    if (!m_file->readAt(frameOffset(frame), stored.data(), stored.size(), &why))
        return {"frame " + std::to_string(frame) + " could not be read: " + why};
    const auto height = static_cast<std::size_t>(m_layout.height);
    for (std::size_t y = 0; y < height; ++y) {
        auto* dst = reinterpret_cast<std::uint16_t*>(out + static_cast<std::ptrdiff_t>(y) * strideBytes);
        const std::uint8_t* src = stored.data() + y * samples;
        for (std::size_t i = 0; i < samples; ++i)
            dst[i] = src[i];
    }
    return {};
}

Status SerReader::readRows(std::int32_t frame, std::int32_t firstRow, std::int32_t rowCount, std::uint8_t* out,
                           std::ptrdiff_t strideBytes) const
{
    if (Status s = checkRead(frame, strideBytes, m_layout.rowBytes); !s)
        return s;
    if (firstRow < 0 || rowCount < 0 || rowCount > m_layout.height - firstRow)
        return {"rows " + std::to_string(firstRow) + " to " + std::to_string(std::int64_t{firstRow} + rowCount - 1) +
                " are not all in a frame of " + std::to_string(m_layout.height) + " rows"};
    if (m_layout.bytesPerSample == 2 && strideBytes % 2 != 0)
        return {"the row stride of " + std::to_string(strideBytes) + " bytes does not hold whole 16-bit samples"};
    const auto rows = static_cast<std::size_t>(rowCount);
    std::string why;
    if (!m_file->readRowsAt(frameOffset(frame) + static_cast<std::uint64_t>(firstRow) * m_layout.rowBytes,
                            m_layout.rowBytes, rows * m_layout.rowBytes, out, strideBytes, &why))
        return {"frame " + std::to_string(frame) + " could not be read: " + why};
    if (m_layout.bytesPerSample == 2 && (byteOrder() == ByteOrder::Little) != hostIsLittle()) {
        const std::size_t samples = m_layout.rowBytes / 2;
        for (std::size_t y = 0; y < rows; ++y) {
            auto* dst = reinterpret_cast<std::uint16_t*>(out + static_cast<std::ptrdiff_t>(y) * strideBytes);
            for (std::size_t i = 0; i < samples; ++i)
                dst[i] = static_cast<std::uint16_t>(dst[i] >> 8 | dst[i] << 8);
        }
    }
    return {};
}

} // namespace kestro::ser
