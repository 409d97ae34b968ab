// Rows of frame bitmaps turned into the 32-bit pixels the window's backing store holds (blue,
// green, red, then 0xFF), so a frame is drawn by a plain copy. Qt would convert 24-bit and
// indexed images itself, but through its general per-pixel path, several times slower on a
// full-HD frame than these loops.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::shell {

// 24-bit blue, green, red; vectorised with run-time dispatch.
void BgrRowToRgb32(const std::uint8_t* pBgr, std::uint32_t* pOut, int nWidth);
// 8-bit through a 256-entry table of finished pixels.
void IndexedRowToRgb32(const std::uint8_t* pIndexes, const std::uint32_t* pTable, std::uint32_t* pOut, int nWidth);
// 32-bit blue, green, red and a fourth byte, which the bitmap format leaves unused.
void Bgrx32RowToRgb32(const std::uint8_t* pBgrx, std::uint32_t* pOut, int nWidth);

// 8-bit grey values as opaque grey pixels.
void GreyRowToRgb32(const std::uint8_t* pGrey, std::uint32_t* pOut, int nWidth);
// Each of n bytes through a 256-entry table (the display levels); pIn may be pOut. 64 bytes at a
// time on processors with byte permutes, one at a time elsewhere.
void MapBytes(const std::uint8_t* pIn, std::uint8_t* pOut, std::size_t n, const std::uint8_t* pTable);

} // namespace kestro::shell
