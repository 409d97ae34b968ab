// Compiled once per SIMD target (Highway's foreach_target); the best one for the running
// processor is chosen at the first call.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dib_rows.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "dib_rows.h"

#include <cstddef>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace kestro::shell::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void BgrRowToRgb32Simd(const std::uint8_t* pBgr, std::uint32_t* pOut, int nWidth)
{
    const hn::ScalableTag<std::uint8_t> d8;
    const int nLanes = static_cast<int>(hn::Lanes(d8));
    const auto opaque = hn::Set(d8, 0xFF);
    auto* pBytes = reinterpret_cast<std::uint8_t*>(pOut);
    int x = 0;
    for (; x + nLanes <= nWidth; x += nLanes) {
        hn::Vec<decltype(d8)> b, g, r;
        hn::LoadInterleaved3(d8, pBgr + 3 * static_cast<std::ptrdiff_t>(x), b, g, r);
        hn::StoreInterleaved4(b, g, r, opaque, d8, pBytes + 4 * static_cast<std::ptrdiff_t>(x));
    }
    for (; x < nWidth; ++x) {
        const std::uint8_t* p = pBgr + 3 * static_cast<std::ptrdiff_t>(x);
        pOut[x] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
    }
}

} // namespace kestro::shell::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::shell {

HWY_EXPORT(BgrRowToRgb32Simd);

void BgrRowToRgb32(const std::uint8_t* pBgr, std::uint32_t* pOut, int nWidth)
{
    HWY_DYNAMIC_DISPATCH(BgrRowToRgb32Simd)(pBgr, pOut, nWidth);
}

void IndexedRowToRgb32(const std::uint8_t* pIndexes, const std::uint32_t* pTable, std::uint32_t* pOut, int nWidth)
{
    for (int x = 0; x < nWidth; ++x)
        pOut[x] = pTable[pIndexes[x]];
}

void Bgrx32RowToRgb32(const std::uint8_t* pBgrx, std::uint32_t* pOut, int nWidth)
{
    // The bitmap's rows need not be aligned for 32-bit access.
    std::memcpy(pOut, pBgrx, static_cast<std::size_t>(nWidth) * 4);
    for (int x = 0; x < nWidth; ++x)
        pOut[x] |= 0xFF000000u;
}

} // namespace kestro::shell
#endif
