// Compiled once per SIMD target (Highway's foreach_target); the best one for the running
// processor is chosen at the first call.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dib_rows.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "dib_rows.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

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

void GreyRowToRgb32Simd(const std::uint8_t* pGrey, std::uint32_t* pOut, int nWidth)
{
    const hn::ScalableTag<std::uint8_t> d8;
    const int nLanes = static_cast<int>(hn::Lanes(d8));
    const auto opaque = hn::Set(d8, 0xFF);
    auto* pBytes = reinterpret_cast<std::uint8_t*>(pOut);
    int x = 0;
    for (; x + nLanes <= nWidth; x += nLanes) {
        const auto g = hn::LoadU(d8, pGrey + x);
        hn::StoreInterleaved4(g, g, g, opaque, d8, pBytes + 4 * static_cast<std::ptrdiff_t>(x));
    }
    for (; x < nWidth; ++x)
        pOut[x] = 0xFF000000u | (std::uint32_t(pGrey[x]) * 0x010101u);
}

} // namespace kestro::shell::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::shell {

HWY_EXPORT(BgrRowToRgb32Simd);
HWY_EXPORT(GreyRowToRgb32Simd);

namespace {

void MapBytesPlain(const std::uint8_t* pIn, std::uint8_t* pOut, std::size_t n, const std::uint8_t* pTable)
{
    for (std::size_t i = 0; i < n; ++i)
        pOut[i] = pTable[pIn[i]];
}

#if defined(__x86_64__) && defined(__GNUC__)
// A 256-entry byte table is four 64-byte registers: two two-register permutes look up the low
// seven bits of 64 values at once, and each value's top bit picks which half it came from.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void MapBytesVbmi(const std::uint8_t* pIn, std::uint8_t* pOut,
                                                                         std::size_t n, const std::uint8_t* pTable)
{
    const __m512i t0 = _mm512_loadu_si512(pTable);
    const __m512i t1 = _mm512_loadu_si512(pTable + 64);
    const __m512i t2 = _mm512_loadu_si512(pTable + 128);
    const __m512i t3 = _mm512_loadu_si512(pTable + 192);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i v = _mm512_loadu_si512(pIn + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
        _mm512_storeu_si512(pOut + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high));
    }
    MapBytesPlain(pIn + i, pOut + i, n - i, pTable);
}

using MapBytesFn = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t, const std::uint8_t*);
const MapBytesFn g_pfnMapBytes =
    __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") ? &MapBytesVbmi : &MapBytesPlain;
#endif

} // namespace

void MapBytes(const std::uint8_t* pIn, std::uint8_t* pOut, std::size_t n, const std::uint8_t* pTable)
{
#if defined(__x86_64__) && defined(__GNUC__)
    g_pfnMapBytes(pIn, pOut, n, pTable);
#else
    MapBytesPlain(pIn, pOut, n, pTable);
#endif
}

void GreyRowToRgb32(const std::uint8_t* pGrey, std::uint32_t* pOut, int nWidth)
{
    HWY_DYNAMIC_DISPATCH(GreyRowToRgb32Simd)(pGrey, pOut, nWidth);
}

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
