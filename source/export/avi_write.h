// The AVI writer: eight free operations over the AVI file services that create a file holding one
// uncompressed video stream and append frame bitmaps to it as key frames. The caller holds the
// handles; each operation returns true on success and never throws. Two engines use it: the single
// AVI export (5 frames per second) and the RGB channel split (three files at 2 frames per second).
//
// Calling order per output file: AviWriteInit once per export, AviWriteOpenFile,
// AviWriteCreateStream, AviWriteSetCompression with the bitmap that fixes the format, AviWriteFrame
// at positions 0, 1, 2, ..., then AviWriteReleaseStreams and AviWriteReleaseFile, and AviWriteExit
// once the last file is released. Exporters call AVIFileCommit before the releases: releasing
// completes the file too but cannot say that the disk filled up on the way.
#pragma once

#include "avifile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

bool AviWriteInit();
// Creates the file, replacing one of that name.
bool AviWriteOpenFile(PAVIFILE* ppFile, const std::string& strPath);
// A video stream of dwRate frames per second whose frame rectangle is nWidth x nHeight.
bool AviWriteCreateStream(PAVIFILE pFile, PAVISTREAM* ppStream, DWORD dwRate, DWORD dwSuggestedBufferSize, LONG nWidth,
                          LONG nHeight);
// The stream that stores frames unchanged ('DIB '), with the bitmap's header and colour table as
// its format.
bool AviWriteSetCompression(PAVISTREAM pStream, PAVISTREAM* ppCompressed, const BITMAPINFOHEADER* pBitmap);
// The bitmap's pixels as the key frame at nPosition.
bool AviWriteFrame(PAVISTREAM pCompressed, LONG nPosition, const BITMAPINFOHEADER* pBitmap);
// Each handle that is not null is released, in the order given.
bool AviWriteReleaseStreams(PAVISTREAM pFirst, PAVISTREAM pSecond, PAVISTREAM pThird);
bool AviWriteReleaseFile(PAVIFILE pFile);
bool AviWriteExit();

// A file or stream handle released through the writer when it goes, so that an export which
// stops half-way cannot leave one behind.
template <class Handle, bool (*Release)(Handle)> class CAviHandle {
public:
    CAviHandle() = default;
    ~CAviHandle() { Reset(); }
    CAviHandle(CAviHandle&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    CAviHandle& operator=(CAviHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_h = std::exchange(other.m_h, nullptr);
        }
        return *this;
    }
    CAviHandle(const CAviHandle&) = delete;
    CAviHandle& operator=(const CAviHandle&) = delete;

    Handle Get() const { return m_h; }
    // For the operations that hand a new handle out: whatever was held is released first.
    Handle* Out()
    {
        Reset();
        return &m_h;
    }
    // Gives the handle up to a caller who releases it.
    Handle Detach() { return std::exchange(m_h, nullptr); }
    void Reset()
    {
        if (m_h)
            Release(std::exchange(m_h, nullptr));
    }

private:
    Handle m_h = nullptr;
};

namespace kestro::exports::detail {
inline bool ReleaseOneStream(PAVISTREAM p) { return AviWriteReleaseStreams(p, nullptr, nullptr); }
} // namespace kestro::exports::detail

using CAviFileHandle = CAviHandle<PAVIFILE, AviWriteReleaseFile>;
using CAviStreamHandle = CAviHandle<PAVISTREAM, kestro::exports::detail::ReleaseOneStream>;

// AviWriteInit now and AviWriteExit when it goes, around one export.
class CAviWriteSession {
public:
    CAviWriteSession() { AviWriteInit(); }
    ~CAviWriteSession() { AviWriteExit(); }
    CAviWriteSession(const CAviWriteSession&) = delete;
    CAviWriteSession& operator=(const CAviWriteSession&) = delete;
};
