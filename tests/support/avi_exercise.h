// Drives every reading operation over a whole file: open, stream, info, searches, reads
// and decodes at every position. Used by the malformed-file tests and the fuzzer, where
// the sanitizers turn any out-of-bounds access or uninitialised read into a failure.
#pragma once

#include "avi_handles.h"
#include "avifile.h"
#include "dib.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace kestro::test {

struct ExerciseResult {
    HRESULT open = -1;
    HRESULT stream = -1;
    LONG length = -1;
    DWORD suggestedBuffer = 0;
    bool decoder = false;
    int framesRead = 0;         // positions whose stored bytes were read
    int framesDecoded = 0;      // positions that gave a bitmap
    std::int64_t positions = 0; // positions asked about: the stream's, and one on either side
    bool bitmapsConsistent = true;
};

// Every bitmap handed out must describe itself exactly: 40-byte header, positive
// dimensions, rows padded to 4 bytes, biSizeImage equal to the pixel bytes.
inline bool bitmapConsistent(const BITMAPINFOHEADER* b)
{
    if (b->biSize != 40 || b->biWidth <= 0 || b->biHeight <= 0 || b->biPlanes != 1)
        return false;
    if (b->biBitCount != 8 && b->biBitCount != 24 && b->biBitCount != 32)
        return false;
    return b->biSizeImage == kestro::dib::stride(*b) * kestro::dib::rows(*b);
}

// Sums every pixel byte so that a sanitizer or valgrind sees each one read.
inline std::uint32_t touchBitmap(const BITMAPINFOHEADER* b)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(b);
    const std::size_t total = kestro::dib::formatBytes(*b) + b->biSizeImage;
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < total; ++i)
        sum += p[i];
    return sum;
}

inline ExerciseResult exerciseAvi(const std::string& path, LONG maxPositions = 64)
{
    ExerciseResult r;
    const kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    kestro::avi::GetFrameHandle gf;
    r.open = AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr);
    if (r.open == AVIERR_OK)
        r.stream = AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0);
    volatile std::uint32_t sink = 0;
    if (r.stream == AVIERR_OK) {
        AVISTREAMINFOA info;
        if (AVIStreamInfoA(stream.get(), &info, sizeof info) == AVIERR_OK)
            r.suggestedBuffer = info.dwSuggestedBufferSize;
        // The bounds are 64-bit: a stream may start at the largest LONG, and the position after
        // its last one is then past what a LONG holds; such positions are not asked about.
        const std::int64_t start = AVIStreamStart(stream.get());
        r.length = AVIStreamLength(stream.get());
        gf = kestro::avi::GetFrameHandle(AVIStreamGetFrameOpen(stream.get(), nullptr));
        r.decoder = static_cast<bool>(gf);
        const std::int64_t n = r.length < maxPositions ? r.length : maxPositions;
        const std::int64_t first = std::max<std::int64_t>(start - 1, std::numeric_limits<LONG>::min());
        const std::int64_t last = std::min<std::int64_t>(start + n, std::numeric_limits<LONG>::max());
        std::vector<std::uint8_t> buffer;
        for (std::int64_t position = first; position <= last; ++position) {
            const auto i = static_cast<LONG>(position);
            ++r.positions;
            sink = sink + static_cast<std::uint32_t>(AVIStreamFindSample(stream.get(), i, FIND_ANY | FIND_PREV));
            sink = sink + static_cast<std::uint32_t>(AVIStreamFindSample(stream.get(), i, FIND_ANY | FIND_NEXT));
            sink = sink + static_cast<std::uint32_t>(AVIStreamFindSample(stream.get(), i, FIND_KEY | FIND_PREV));
            LONG size = 0;
            if (AVIStreamRead(stream.get(), i, 1, nullptr, 0, &size, nullptr) == AVIERR_OK && size >= 0) {
                buffer.assign(static_cast<std::size_t>(size) + 1, 0);
                LONG got = 0;
                if (AVIStreamRead(stream.get(), i, 1, buffer.data(), size, &got, nullptr) == AVIERR_OK) {
                    ++r.framesRead;
                    for (LONG k = 0; k < got; ++k)
                        sink = sink + buffer[static_cast<std::size_t>(k)];
                }
            }
            if (gf) {
                if (const auto* b = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(gf.get(), i))) {
                    ++r.framesDecoded;
                    if (!bitmapConsistent(b))
                        r.bitmapsConsistent = false;
                    else
                        sink = sink + touchBitmap(b);
                }
            }
        }
    }
    (void)sink;
    return r;
}

} // namespace kestro::test
