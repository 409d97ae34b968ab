// Writes an AVI file: AVI 1.0 layout with an idx1 index for the first RIFF, and the
// OpenDML extensions (indx super index, ix## standard indexes, AVIX continuation RIFFs,
// odml/dmlh) so that files past 1 GiB keep going and every frame stays reachable.
#pragma once

#include "avifile.h"
#include "file_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestro::avi {

class AviWriter {
public:
    // Creates or replaces the file. AVIERR_FILEOPEN when the path cannot be written, with the
    // system's error number in *systemError when asked for.
    static HRESULT create(const std::string& path, std::unique_ptr<AviWriter>& out, int* systemError = nullptr);
    ~AviWriter(); // completes the file if finish() was not called

    // Adds a stream; allowed until the first sample is written. Returns its number in
    // `stream`. The header is taken as given (dwLength and friends are filled at finish).
    HRESULT addStream(const AVISTREAMINFOA& info, int& stream);
    // Sets the stream's format block (strf), before its first sample.
    HRESULT setFormat(int stream, const void* format, std::size_t size);
    // Appends one sample at `position`, which must be the stream's next position or later
    // (a gap is filled with samples without data). `key` goes into the indexes.
    HRESULT write(int stream, std::int32_t position, const void* data, std::uint32_t size, bool key);
    // Patches the headers, writes the indexes and closes the file. Idempotent: returns the
    // first error met by any write or by the completion itself.
    HRESULT finish();

    std::int32_t length(int stream) const;
    // The first position of the stream whose bytes a failed write kept from the file, or -1 when
    // none was lost. Small samples wait in a buffer, so a failure reported while writing one
    // sample may have lost earlier ones, which is what a user must be told.
    std::int32_t firstLost(int stream) const;

    // The system's error number behind the first failed write (EFBIG when the file reached the
    // largest size the format can index), 0 when nothing failed.
    int systemError() const;

    // Size of each RIFF before the writer starts the next one. Tests lower it to exercise
    // the OpenDML layout without writing gigabytes.
    void setRiffLimit(std::uint64_t bytes) { m_riffLimit = bytes; }

private:
    AviWriter() = default;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::uint64_t m_riffLimit = 1ull << 30;
};

} // namespace kestro::avi
