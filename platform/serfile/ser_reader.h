// Reads SER captures: the frames a file holds whole, their samples in the byte order the data
// show, their real bit depth and, when the file ends with a complete table of them, the UTC
// time of each frame. Opening reads the header, a few sampled rows and the time table; frames
// are read at their offsets when asked, never the whole file. Reads are const and positioned, so
// several threads may read frames of one reader at once.
#pragma once

#include "data_probe.h"
#include "ser_format.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::fileio {
class InputFile;
}

namespace kestro::ser {

// The outcome of an operation: empty error on success, otherwise the reason in words, without
// the file's name (the caller puts it in front) and without a final stop.
struct [[nodiscard]] Status {
    std::string error;
    explicit operator bool() const noexcept { return error.empty(); }
};

// Where the byte order in use came from.
enum class OrderBasis {
    OneByteSamples, // 8-bit data have none
    Data,           // neighbouring samples are smooth in this order and not in the other
    // The data could not tell (flat or empty frames, a near tie): little-endian, whatever the
    // flag says. Nearly every writer puts 0 there for little-endian data, and those that put 1
    // follow the published description, where 1 means little-endian too; big-endian data come
    // from old hosts only, and show in their samples.
    Convention,
    User, // forced by the caller
};

struct OpenOptions {
    // Forces the byte order of 16-bit data; without it the data decide.
    std::optional<ByteOrder> byteOrder;
};

// What the picture code needs to lay out one frame.
struct FrameLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int planes = 1;         // 3 for RGB and BGR, interleaved per pixel; 1 otherwise
    int bytesPerSample = 1; // 1 for depths 1 to 8, 2 for 9 to 16
    ColorId colorId = ColorId::Mono;
    Sampling sampling = Sampling::Mono;
    // The filter colours of the top-left 2x2 pixels of the top-down picture ("RGGB", "CYYM",
    // ...); empty for MONO, RGB and BGR.
    std::string_view sites;
    std::size_t rowBytes = 0;   // width * planes * bytesPerSample
    std::size_t frameBytes = 0; // rowBytes * height
};

class SerReader;

struct OpenResult {
    std::unique_ptr<SerReader> reader; // null when the file was refused
    std::string error;                 // why, in words, when it was
};

// Opens a SER capture. Refuses, with the reason, anything that is not a regular file, a header
// that does not describe frames (see headerProblem) and a file without one whole frame, before
// anything sized by the header is allocated.
OpenResult openSer(const std::string& path, const OpenOptions& options);
OpenResult openSer(const std::string& path);

class SerReader {
public:
    ~SerReader();
    SerReader(const SerReader&) = delete;
    SerReader& operator=(const SerReader&) = delete;

    const Header& header() const { return m_header; }
    const FrameLayout& layout() const { return m_layout; }

    // The frames the file holds whole, whatever its header says (at most INT32_MAX).
    std::int32_t frameCount() const { return m_frameCount; }
    // Bytes the reader leaves unread: past the last whole frame and, when present, the table of
    // frame times. A partial frame left by a crash, or anything a writer appended.
    std::uint64_t extraBytes() const { return m_extraBytes; }
    // What the user should be told once about this file, each a sentence naming it: a frame
    // count that disagrees with the file, a table of frame times cut short.
    const std::vector<std::string>& notes() const { return m_notes; }

    // The depth the header claims, and the bits the sampled data use: what the display scales
    // by. 16-bit data in 12 bits give 16 and 12. Samples are always handed out as stored.
    int storedDepth() const { return m_header.pixelDepth; }
    int realDepth() const;

    ByteOrder byteOrder() const;
    OrderBasis orderBasis() const;
    // The user's choice of byte order, or nothing to go back to the data's. Takes effect for the
    // reads that follow and changes realDepth(); not to be called while other threads read.
    void setByteOrder(std::optional<ByteOrder> order) { m_userOrder = order; }

    // True when the file ends with a time for every counted frame.
    bool hasFrameTimes() const { return m_timesOffset != 0; }
    // The UTC time of a frame in ticks, nothing when unknown (no table, or a zero or impossible
    // value in it). Format it with formatIso8601. Read from the file at each call: the table is
    // as long as the capture, and a display asks for one frame's time at a time.
    std::optional<std::int64_t> frameTimeUtc(std::int32_t frame) const;

    // The stored bytes of a frame, unchanged: frameBytes into out.
    Status readStoredBytes(std::int32_t frame, std::span<std::uint8_t> out) const;
    // The samples of a frame in host order, rows top-down, row r at firstRow + r * strideBytes.
    // A stride may be negative (a bottom-up bitmap) and must hold a row. 8-bit output is for
    // files of 1-byte samples; 16-bit output takes either, 1-byte samples widened.
    Status readFrame(std::int32_t frame, std::uint8_t* firstRow, std::ptrdiff_t strideBytes) const;
    Status readFrame(std::int32_t frame, std::uint16_t* firstRow, std::ptrdiff_t strideBytes) const;
    // Rows firstRow .. firstRow + rowCount - 1 (from the top) of a frame as stored: bytesPerSample
    // bytes a sample, 16-bit samples in host order. Row k goes to out + k * strideBytes (which may
    // be negative). What a caller that works band by band reads, without the rest of the frame.
    Status readRows(std::int32_t frame, std::int32_t firstRow, std::int32_t rowCount, std::uint8_t* out,
                    std::ptrdiff_t strideBytes) const;

private:
    friend OpenResult openSer(const std::string& path, const OpenOptions& options);
    SerReader();
    Status open(const std::string& path, const OpenOptions& options);
    void countFrames(const std::string& name);
    bool timesLookReal(std::uint64_t offset, std::uint64_t count) const;
    void probeData();
    Status checkRead(std::int32_t frame, std::ptrdiff_t strideBytes, std::size_t rowBytes) const;
    std::uint64_t frameOffset(std::int32_t frame) const;

    std::unique_ptr<fileio::InputFile> m_file;
    Header m_header;
    FrameLayout m_layout;
    std::int32_t m_frameCount = 0;
    std::uint64_t m_extraBytes = 0;
    std::vector<std::string> m_notes;
    std::uint64_t m_timesOffset = 0; // where the table of frame times begins; 0 without one
    ProbeTotals m_probe;
    std::optional<ByteOrder> m_dataOrder;
    std::optional<ByteOrder> m_userOrder;
};

} // namespace kestro::ser
