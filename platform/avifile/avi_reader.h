// Reads the structure of an AVI file (AVI 1.0 and OpenDML AVI 2.0) into per-stream
// headers, format blocks and sample indexes. Sample bytes are read on demand.
//
// Every size, offset and count taken from the file is checked against the file's size
// before it is used, so hostile or damaged files are handled without reading out of
// bounds or allocating by an unchecked header value. A missing or damaged index is
// rebuilt by walking the movi lists, which is also how the frames a crashed recorder
// left behind its last index become reachable.
#pragma once

#include "avifile.h"
#include "input_file.h"
#include "sample_index.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestro::avi {

// Where a stream's index came from, for the dump tool and tests.
enum class IndexSource { None, OpenDml, Idx1, Scan };

struct StreamData {
    int number = 0;                   // position of the strl list, used in chunk ids ("00db")
    AVISTREAMINFOA info{};            // from strh; dwStart, dwLength and dwSuggestedBufferSize as served
    std::vector<std::uint8_t> format; // strf, as stored
    SampleIndex index;
    IndexSource indexSource = IndexSource::None;
    std::int32_t scannedSamples = 0; // samples found by walking movi after the index ended
    // Samples the file promised: the stream header's length as stored, or the index's entries
    // before those past the end of the file were dropped, whichever is more. More than the index
    // holds when the file ends early (a recording cut short).
    std::int64_t promisedSamples = 0;
};

struct FileSummary {
    bool openDml = false; // AVIX RIFFs or an odml list present
    std::uint32_t riffCount = 0;
    std::uint32_t avihTotalFrames = 0;
    std::uint32_t dmlhTotalFrames = 0;
    std::uint32_t avihWidth = 0;
    std::uint32_t avihHeight = 0;
    std::uint32_t microSecPerFrame = 0;
    bool hasIdx1 = false;
    // No movi list, and the RIFF claims more than the file holds: a recording cut short inside
    // its headers. Streams may still be listed, with what was left of their headers.
    bool headersCut = false;
};

class AviReader {
public:
    // AVIERR_FILEOPEN when the file cannot be opened, AVIERR_BADFORMAT when it is not
    // an AVI file (or its headers are unusable); *pWhy then says why, in words.
    static HRESULT open(const std::string& path, std::unique_ptr<AviReader>& out, std::string* pWhy = nullptr);

    int streamCount() const { return static_cast<int>(m_streams.size()); }
    const StreamData& stream(int i) const { return *m_streams[static_cast<std::size_t>(i)]; }
    const FileSummary& summary() const { return m_summary; }
    std::uint64_t fileSize() const { return m_file.size(); }

    // Reads the stored bytes of one index entry; AVIERR_FILEREAD on an I/O failure.
    HRESULT read(const SampleEntry& entry, void* buffer) const;
    // Reads n bytes of an entry from byte `from` of its data on, in rows of rowBytes, row k to
    // firstRow + k * stride (the last row may be short); the caller keeps within the entry.
    HRESULT readPart(const SampleEntry& entry, std::uint32_t from, std::uint32_t rowBytes, std::uint32_t n,
                     std::uint8_t* firstRow, std::int64_t stride) const;

private:
    AviReader() = default;
    struct Parser;

    fileio::InputFile m_file;
    std::vector<std::unique_ptr<StreamData>> m_streams;
    FileSummary m_summary;
};

} // namespace kestro::avi
