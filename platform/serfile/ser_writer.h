// Writes a SER capture: the header, the frames as they come, rows top-down, and at the end the UTC
// time of every frame when each one has a time. Samples are written little-endian whatever the
// host, with the byte-order flag 0: that flag is read the other way round by almost every program
// of the field, and 0 is what they all write for little-endian data and read right.
//
// The file is written under a hidden temporary name beside its target and renamed over it only
// once complete, so a failure or an interruption leaves no part of it and an earlier file of that
// name as it was. Every size is 64-bit: a night's capture passes 4 GiB easily.
#pragma once

#include "ser_format.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro::fileio {
class StagedFile;
}

namespace kestro::ser {

// What a new file says of its frames. The frame count and the two dates are the writer's to fill.
struct WriteFormat {
    ColorId colorId = ColorId::Mono;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Bits per sample as the header states them, 1 to 16; above 8 each sample takes 2 bytes.
    std::int32_t pixelDepth = 8;
    std::string observer;
    std::string instrument;
    std::string telescope;
    // The local time's distance from UTC, in ticks: DateTime is DateTime_UTC plus this. 0 when
    // the local time is not known, which writes the UTC time in both.
    std::int64_t localOffsetTicks = 0;
};

// Which step of the writing failed, for a message that says what was lost.
enum class WriteStep { None, Create, Frame, Complete, Rename };

class SerWriter {
public:
    explicit SerWriter(std::string target);
    // Closes the file; the temporary file goes unless commit() put it in place.
    ~SerWriter();
    SerWriter(const SerWriter&) = delete;
    SerWriter& operator=(const SerWriter&) = delete;

    const std::string& target() const;

    // Creates the temporary file and writes the header of a file without frames. `expectedFrames`
    // sets room aside on the disk for that many, so that a disk too small for them is told before
    // the first frame rather than after most of them.
    bool open(const WriteFormat& format, std::uint64_t expectedFrames);

    // Bytes a frame takes in the file: width * height * planes * bytes per sample.
    std::uint64_t frameBytes() const { return m_frameBytes; }
    std::int32_t framesWritten() const { return m_frames; }

    // Appends one frame: `height` rows from the top, row k at firstRow + k * strideBytes (the
    // stride may be negative, for a bottom-up bitmap), each width * planes samples in host order,
    // 1 byte a sample up to 8 bits and a uint16_t above. utcTicks is the frame's time, if known.
    bool writeFrame(const std::uint8_t* firstRow, std::ptrdiff_t strideBytes, std::optional<std::int64_t> utcTicks);

    // Ends the file: the table of frame times (only when every frame written has one: the format
    // has one per frame or none), the header's frame count and dates (DateTime_UTC the first
    // frame's time, both 0 when it has none), and closes it.
    bool complete();
    // Renames the completed file over the target.
    bool commit();

    // What failed, and the operating system's reason (an errno value), after a false result.
    WriteStep failedStep() const { return m_failedStep; }
    int error() const { return m_error; }

private:
    bool fail(WriteStep step, int error);
    bool writeAt(std::uint64_t offset, const void* data, std::size_t n);

    std::unique_ptr<fileio::StagedFile> m_staged;
    int m_fd = -1;
    Header m_header;
    std::int64_t m_localOffset = 0;
    int m_planes = 1;
    int m_bytesPerSample = 1;
    std::size_t m_rowBytes = 0;
    std::uint64_t m_frameBytes = 0;
    std::int32_t m_frames = 0;
    std::uint64_t m_end = 0; // where the next frame goes
    std::vector<std::int64_t> m_times;
    bool m_allTimed = true;
    std::vector<std::uint8_t> m_frameBuffer;
    bool m_completed = false;
    WriteStep m_failedStep = WriteStep::None;
    int m_error = 0;
};

} // namespace kestro::ser
