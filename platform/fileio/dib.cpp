#include "dib.h"

#include <algorithm>
#include <cstring>

namespace kestro::dib {

BITMAPINFOHEADER header(std::int32_t width, std::int32_t height, int bitCount)
{
    BITMAPINFOHEADER h{};
    h.biSize = kHeaderBytes;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(stride(width, bitCount) * rows(h));
    h.biClrUsed = bitCount == 8 ? kGreyTableEntries : 0;
    return h;
}

BITMAPINFOHEADER greyHeader(const BITMAPINFOHEADER& like)
{
    BITMAPINFOHEADER grey = like;
    grey.biSize = kHeaderBytes;
    grey.biBitCount = 8;
    grey.biCompression = BI_RGB;
    grey.biSizeImage = static_cast<DWORD>(stride(like.biWidth, 8) * rows(like));
    grey.biClrUsed = kGreyTableEntries;
    grey.biClrImportant = 0;
    return grey;
}

void fillGreyTable(std::uint8_t* table)
{
    for (std::size_t i = 0; i < kGreyTableEntries; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        table[4 * i] = v;
        table[4 * i + 1] = v;
        table[4 * i + 2] = v;
        table[4 * i + 3] = 0;
    }
}

std::vector<std::uint8_t> bmpFileHead(const BITMAPINFOHEADER& bitmap)
{
    const bool withTable = bitmap.biBitCount <= 8;
    const std::size_t offBits = kFileHeaderBytes + kHeaderBytes + (withTable ? kGreyTableBytes : 0);
    const std::size_t image = imageBytes(bitmap);
    std::vector<std::uint8_t> head(offBits, 0);
    auto put32 = [&](std::size_t at, std::uint64_t v) {
        for (int k = 0; k < 4; ++k)
            head[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    head[0] = 'B';
    head[1] = 'M';
    put32(2, offBits + image);
    put32(10, offBits);
    BITMAPINFOHEADER info = bitmap;
    info.biSize = kHeaderBytes;
    info.biSizeImage = static_cast<DWORD>(image);
    std::memcpy(head.data() + kFileHeaderBytes, &info, sizeof info);
    if (withTable) {
        const std::size_t listed = formatBytes(bitmap) - bitmap.biSize;
        std::memcpy(head.data() + kFileHeaderBytes + kHeaderBytes, colourTable(bitmap),
                    std::min(listed, kGreyTableBytes));
    }
    return head;
}

} // namespace kestro::dib
