// COwnedBitmap: a block of memory the video source owns. It holds a frame bitmap the video
// source builds (header, the grey colour table of 8-bit images, pixel rows), or the stored
// sample the RAW modes read. Empty stands for "none".
#pragma once

#include "avifile.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class COwnedBitmap {
public:
    // A zeroed block of nBytes; empty afterwards when the memory could not be had.
    void Allocate(std::size_t nBytes);
    void Release();
    bool IsEmpty() const { return !m_pBytes; }
    BITMAPINFOHEADER* Header() { return reinterpret_cast<BITMAPINFOHEADER*>(m_pBytes.get()); }
    std::uint8_t* Bytes() { return m_pBytes.get(); }
    std::size_t Size() const { return m_nSize; }

private:
    std::unique_ptr<std::uint8_t[]> m_pBytes;
    std::size_t m_nSize = 0;
};
