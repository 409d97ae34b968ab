// Every de-mosaic algorithm over planes of every small size, odd and tiny ones included, with every
// pattern code (also codes outside 0..3, which read as BG) and fuzzed photosite values.
//
// Input: width byte, height byte, pattern byte, then the photosites, repeated to fill the plane
// (a plane of zeros when none are given). Sizes run from 1 to 64, which covers the refusals at 8
// and below, planes narrower than a vector, and more than one band of rows.
//
// Properties, for the library's algorithms (by Dor2EzuPlane and through CCfaConverter) and the
// converter's own algorithm 11:
// - an algorithm takes exactly the planes it says it takes (its result, the converter's CanConvert
//   and the reported picture size agree), and a refused plane leaves the output as it was;
// - every byte of the picture is written, and the same plane gives the same picture: the output
//   is prefilled with two different values (for the library's algorithms, once by Dor2EzuPlane
//   and once through the converter) and both runs must agree;
// - a uniform plane gives its value everywhere (in algorithm 11, inside the black ring);
// - algorithm 11's vector code gives the same bytes as its reference loop.
// Writes past the picture show up under AddressSanitizer: every buffer is exactly its size. The
// mosaic detector reads the same planes.
#include "algorithms.h"
#include "cfa_converter.h"
#include "debayer_bilinear.h"
#include "dor2ezu.h"
#include "fuzz_support.h"
#include "mosaic_detect.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using kestro::fuzz::require;
using Bytes = std::vector<std::uint8_t>;

std::string where(int width, int height, int algorithm, int pattern)
{
    return std::to_string(width) + " x " + std::to_string(height) + ", algorithm " + std::to_string(algorithm) +
           ", pattern " + std::to_string(pattern);
}

// The library's numbers as it lists them, and two it does not list.
std::vector<std::int32_t> algorithmNumbers()
{
    std::vector<std::int32_t> numbers;
    const char* const* names = nullptr;
    std::int32_t count = 0;
    if (Dor2EzuEnumAlgorithms(&names, &count) == DOR2EZU_OK)
        for (std::int32_t i = 0; i < count; ++i)
            numbers.push_back((names[i][0] - '0') * 10 + (names[i][1] - '0'));
    return numbers;
}

// Dor2EzuPlane into an output of exactly the picture's size prefilled with `fill`; a refused plane
// gets a one-byte output, which must stay as it was.
std::int32_t library(int w, int h, const Bytes& plane, int algorithm, int pattern, std::uint8_t fill, Bytes& out)
{
    const bool fits = w > 2 * DOR2EZU_MARGIN && h > 2 * DOR2EZU_MARGIN;
    out.assign(fits ? static_cast<std::size_t>(w - 8) * static_cast<std::size_t>(h - 8) * 3 : 1, fill);
    const std::int32_t result = Dor2EzuPlane(w, h, plane.data(), out.data(), algorithm, pattern);
    if (result != DOR2EZU_OK)
        require(std::all_of(out.begin(), out.end(), [fill](std::uint8_t b) { return b == fill; }),
                "a refused plane changed the output, " + where(w, h, algorithm, pattern));
    return result;
}

void checkLibrary(int w, int h, const Bytes& plane, int algorithm, bool listed, int pattern)
{
    Bytes zeros;
    const std::int32_t result = library(w, h, plane, algorithm, pattern, 0x00, zeros);
    const std::int32_t expected = w <= 2 * DOR2EZU_MARGIN || h <= 2 * DOR2EZU_MARGIN ? DOR2EZU_ERR_TOO_SMALL
                                  : listed                                           ? DOR2EZU_OK
                                                                                     : DOR2EZU_ERR_ALGORITHM;
    require(result == expected, "Dor2EzuPlane returned " + std::to_string(result) + " instead of " +
                                    std::to_string(expected) + ", " + where(w, h, algorithm, pattern));
    // The converter's way to the same algorithm: CanConvert says what the library does, and the
    // picture, written over 0xFF where the library's went over 0x00, is the library's to the byte;
    // a byte left unwritten would differ.
    CCfaConverter converter;
    converter.SetAlgorithm(algorithm);
    converter.SetPattern(pattern);
    require(converter.CanConvert(w, h) == (result == DOR2EZU_OK),
            "CanConvert does not say what the library does, " + where(w, h, algorithm, pattern));
    if (result != DOR2EZU_OK)
        return;
    Bytes ones(zeros.size(), 0xFF);
    std::int32_t ow = 0, oh = 0;
    require(converter.ConvertPlane(w, h, plane.data(), ones.data(), ow, oh) && ow == w - 8 && oh == h - 8,
            "the converter refused a plane the library takes, " + where(w, h, algorithm, pattern));
    require(ones == zeros, "a byte of the picture was not written, or the converter's picture is not the library's, " +
                               where(w, h, algorithm, pattern));

    if (std::all_of(plane.begin(), plane.end(), [&](std::uint8_t b) { return b == plane[0]; }))
        require(std::all_of(zeros.begin(), zeros.end(), [&](std::uint8_t b) { return b == plane[0]; }),
                "a uniform plane did not give its value everywhere, " + where(w, h, algorithm, pattern));
}

void checkOwnAlgorithm(int w, int h, const Bytes& plane, int pattern)
{
    CCfaConverter converter;
    converter.SetAlgorithm(CCfaConverter::kOwnAlgorithm);
    converter.SetPattern(pattern);
    require(converter.CanConvert(w, h), "algorithm 11 refuses a plane, " + where(w, h, 11, pattern));
    const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3;
    Bytes zeros(bytes, 0x00), ones(bytes, 0xFF);
    std::int32_t ow = 0, oh = 0;
    require(converter.ConvertPlane(w, h, plane.data(), zeros.data(), ow, oh) && ow == w && oh == h,
            "algorithm 11 did not convert at full size, " + where(w, h, 11, pattern));
    converter.ConvertPlane(w, h, plane.data(), ones.data(), ow, oh);
    require(zeros == ones, "a byte of algorithm 11's picture was not written, " + where(w, h, 11, pattern));

    // The interior again, by the reference loop and the vector code, into outputs whose ring is
    // left as prefilled: only the interior is compared. The layout codes are taken from the
    // pattern byte, so that each of the four is met.
    const std::int32_t layout = 40 + (pattern & 3);
    Bytes reference(bytes, 0x11), fast(bytes, 0x11);
    kestro::video::deBayerInteriorReference(kestro::video::BayerLayout::fromCode(layout), w, h, plane.data(),
                                            reference.data());
    kestro::video::deBayerInterior(kestro::video::BayerLayout::fromCode(layout), w, h, plane.data(), fast.data());
    require(reference == fast, "algorithm 11's vector code differs from its reference, layout " +
                                   std::to_string(layout) + ", " + where(w, h, 11, pattern));

    if (std::all_of(plane.begin(), plane.end(), [&](std::uint8_t b) { return b == plane[0]; }))
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const bool ring = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                    const std::uint8_t v = zeros[(static_cast<std::size_t>(y) * w + x) * 3 + c];
                    require(v == (ring ? 0 : plane[0]), "a uniform plane gave " + std::to_string(v) + " at (" +
                                                            std::to_string(x) + ", " + std::to_string(y) + "), " +
                                                            where(w, h, 11, pattern));
                }
}

// The mosaic detector on the same plane, as 8-bit samples and as 16-bit ones of any depth: it reads
// inside the plane (AddressSanitizer) and names an order only for a mosaic.
void checkMosaicDetector(int w, int h, const Bytes& plane, std::uint8_t choice)
{
    kestro::video::MosaicEvidence evidence;
    evidence.AddPlane(plane.data(), w, w, h, 1, 1 + choice % 8);
    const int wide = w / 2 > 0 ? w / 2 : 1;
    if (plane.size() >= static_cast<std::size_t>(wide) * 2 * static_cast<std::size_t>(h))
        evidence.AddPlane(plane.data(), 2 * wide, wide, h, 2, 1 + choice % 16);
    for (const kestro::video::MosaicEvidence::Part& part : evidence.Parts())
        require(part.cells > 0 && part.pairs < part.cells,
                "a part of the evidence holds no cells, or more pairs than cells");
    const kestro::video::MosaicGuess guess = evidence.Judge();
    require(!guess.pattern || guess.mosaic, "an order was named for a plane that is no mosaic");
    require(guess.redBlue != kestro::video::Certainty::Sure, "red and blue were called sure");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::int32_t> listed = [] {
        // One thread: the picture must not depend on it, and the fuzzer's runs stay comparable.
        kestro::dor2ezu::setThreadCount(1);
        return algorithmNumbers();
    }();
    if (size < 3)
        return 0;
    const int w = 1 + data[0] % 64;
    const int h = 1 + data[1] % 64;
    // -2..5: the four codes and some that are not codes.
    const int pattern = static_cast<int>(data[2] % 8) - 2;
    Bytes plane(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    if (size > 3)
        for (std::size_t i = 0; i < plane.size(); ++i)
            plane[i] = data[3 + i % (size - 3)];

    checkOwnAlgorithm(w, h, plane, pattern);
    for (const std::int32_t algorithm : listed)
        checkLibrary(w, h, plane, algorithm, true, pattern);
    for (const std::int32_t algorithm : {0, 6, 99, -1})
        if (std::find(listed.begin(), listed.end(), algorithm) == listed.end())
            checkLibrary(w, h, plane, algorithm, false, pattern);
    checkMosaicDetector(w, h, plane, data[2]);
    return 0;
}
