#include "cfa_converter.h"

#include "algorithm_list.h"
#include "bayer_pattern.h"
#include "debayer_bilinear.h"
#include "dor2ezu.h"

#include <algorithm>

namespace {

// Layout code of the own algorithm for a pattern code: 40 + 1 when the plane's second row has its
// green sites at odd x, + 2 when its other sites are red. Unknown codes read as BG, as everywhere.
std::int32_t layoutFromPattern(std::int32_t pattern)
{
    const kestro::bayer::Pattern& p = kestro::bayer::patternFromCode(pattern);
    const bool greenOdd = p.at(1, 1) == kestro::bayer::kGreen;
    const bool red = p.at(0, 1) == kestro::bayer::kRed || p.at(1, 1) == kestro::bayer::kRed;
    return 40 + (greenOdd ? 1 : 0) + (red ? 2 : 0);
}

} // namespace

CCfaConverter::CCfaConverter() : CCfaConverter(Dor2EzuEnumAlgorithms) {}

CCfaConverter::CCfaConverter(EnumAlgorithmsFn enumerate)
{
    const char* const* names = nullptr;
    std::int32_t count = 0;
    enumerate(&names, &count);
    if (count <= 0 || names == nullptr)
        return;
    m_algorithmNames.reserve(static_cast<std::size_t>(count));
    // Empty names are kept: the list mirrors the library's numbering of its entries, and the
    // shell is the one that leaves them out of the combo box.
    for (std::int32_t i = 0; i < count; ++i)
        m_algorithmNames.emplace_back(names[i] ? names[i] : "");
}

CCfaConverter::~CCfaConverter() = default;

bool CCfaConverter::ConvertPlane(std::int32_t nWidth, std::int32_t nHeight, const std::uint8_t* pPlane,
                                 std::uint8_t* pPixels, std::int32_t& nOutWidth, std::int32_t& nOutHeight)
{
    if (m_nAlgorithm != kOwnAlgorithm) {
        const std::int32_t result = Dor2EzuPlane(nWidth, nHeight, pPlane, pPixels, m_nAlgorithm, m_nPattern);
        nOutWidth = nWidth - 2 * DOR2EZU_MARGIN;
        nOutHeight = nHeight - 2 * DOR2EZU_MARGIN;
        return result >= 0;
    }
    m_nLayout = layoutFromPattern(m_nPattern);
    DeBayerToRgb(nWidth, nHeight, pPlane, pPixels);
    nOutWidth = nWidth;
    nOutHeight = nHeight;
    return true;
}

bool CCfaConverter::CanConvert(std::int32_t nWidth, std::int32_t nHeight) const
{
    if (nWidth <= 0 || nHeight <= 0)
        return false;
    if (m_nAlgorithm == kOwnAlgorithm)
        return true;
    if (nWidth <= 2 * DOR2EZU_MARGIN || nHeight <= 2 * DOR2EZU_MARGIN)
        return false;
    return std::any_of(m_algorithmNames.begin(), m_algorithmNames.end(), [this](const std::string& name) {
        return kestro::video::AlgorithmNumberOf(name) == m_nAlgorithm;
    });
}

void CCfaConverter::DeBayerToRgb(std::int32_t nWidth, std::int32_t nHeight, const std::uint8_t* pPlane,
                                 std::uint8_t* pPixels)
{
    if (nWidth <= 0 || nHeight <= 0)
        return;
    // The ring has no full neighbourhood and is not interpolated. It is blacked out at every
    // conversion so that neither fresh memory nor an earlier picture shows through it.
    kestro::video::clearRing(nWidth, nHeight, pPixels);
    kestro::video::deBayerInterior(kestro::video::BayerLayout::fromCode(m_nLayout), nWidth, nHeight, pPlane, pPixels);
}
