#include "mosaic_detect.h"

#include "video_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kestro::video {

namespace {

// Site numbers within the 2 x 2 block: top-left, top-right, bottom-left, bottom-right. The main
// diagonal is sites 0 and 3, the other 1 and 2.
constexpr int kTopLeft = 0, kTopRight = 1, kBottomLeft = 2, kBottomRight = 3;

// A part closes once it holds this many bright cells, so that each part's sums are steady
// enough to be compared with the others'.
constexpr std::int64_t kPartCells = 256;
// Below this many bright cells in all, there is too little object to judge.
constexpr std::int64_t kMinCells = 400;

// Thresholds on natural logarithms of level ratios (0.05 is a 5% difference). A sensor's two
// green sites differ by a few percent at most (the green imbalance of the rows); red and blue
// of any coloured object differ by much more.
constexpr double kGreenPairAgrees = 0.035;  // the green pair, for the diagonal to be sure
constexpr double kPairDisagrees = 0.08;     // the other pair, for the diagonal to be sure
constexpr double kSureSeparation = 0.06;    // between the two pairs, for sure
constexpr double kLikelySeparation = 0.035; // between the two pairs, for likely
constexpr double kMosaicPairAgrees = 0.06;  // one pair must agree this well for a mosaic
constexpr double kMosaicStructure = 0.08;   // and the block must differ by this much somewhere
// A monochrome sensor whose even columns and even rows have gains of their own (c and r) gives
// the block 1, c / r, rc: the rows differ by the same ratio in both columns, and the two
// diagonals are equally bright. A mosaic is like that only when green is exactly the geometric
// mean of red and blue, which raw data never are (green is the brightest); so a block this close
// to one made of a row and a column gain is not taken for a mosaic.
constexpr double kSeparable = 0.03;
constexpr double kLevelCue = 0.10; // green above the other diagonal, for likely
constexpr double kLevelContradiction = 0.15;
constexpr double kRedBlueLevels = 0.05;
constexpr double kRedBlueNoise = 1.25; // ratio of relative roughness, blue the rougher

// Sums of a histogram bin range, to read percentiles of the cells' sums.
struct Histogram {
    std::vector<std::uint32_t> bins;
    int shift = 0;
    std::uint64_t total = 0;

    std::uint32_t percentile(double q) const
    {
        const auto want = static_cast<std::uint64_t>(q * static_cast<double>(total));
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < bins.size(); ++i) {
            seen += bins[i];
            if (seen > want)
                return static_cast<std::uint32_t>(((i << shift) + (std::size_t{1} << shift) / 2));
        }
        return static_cast<std::uint32_t>(bins.size() << shift);
    }
};

template <class Sample> Sample at(const std::uint8_t* row, int x)
{
    Sample v;
    std::memcpy(&v, row + static_cast<std::size_t>(x) * sizeof(Sample), sizeof(Sample));
    return v;
}

struct PlaneView {
    const std::uint8_t* rows;
    std::ptrdiff_t stride;
    int width, height;
    const std::uint8_t* row(int y) const { return rows + static_cast<std::ptrdiff_t>(y) * stride; }
};

// The cells' sums of a plane, as a histogram of at most 4096 bins, from every other row of cells
// (the percentiles need no more).
template <class Sample> Histogram CellHistogram(const PlaneView& p, int depth)
{
    const std::uint32_t maxSum = 4u * ((1u << depth) - 1u);
    Histogram h;
    while ((maxSum >> h.shift) >= 4096)
        ++h.shift;
    h.bins.assign((maxSum >> h.shift) + 1, 0);
    const std::uint32_t limit = maxSum;
    const int cellsX = p.width / 2;
    for (int cy = 0; cy < p.height / 2; cy += 2) {
        const std::uint8_t* top = p.row(2 * cy);
        const std::uint8_t* bottom = p.row(2 * cy + 1);
        for (int cx = 0; cx < cellsX; ++cx) {
            std::uint32_t s = std::uint32_t{at<Sample>(top, 2 * cx)} + at<Sample>(top, 2 * cx + 1) +
                              at<Sample>(bottom, 2 * cx) + at<Sample>(bottom, 2 * cx + 1);
            ++h.bins[std::min(s, limit) >> h.shift];
        }
        h.total += static_cast<std::uint64_t>(cellsX);
    }
    return h;
}

template <class Sample> void AddPlaneOf(const PlaneView& p, int depth, std::vector<MosaicEvidence::Part>& parts)
{
    const Histogram h = CellHistogram<Sample>(p, depth);
    if (h.total == 0)
        return;
    // The darkest fifth of the cells is sky wherever there is sky; its spread is the sky's noise.
    const double p2 = h.percentile(0.02), p20 = h.percentile(0.20), top = h.percentile(0.999);
    // Only a frame with black sky around the object tells the sky's level per site and its noise;
    // one filled by the object (the Sun, the Moon close up) is measured as it is.
    const bool hasSky = p20 < 0.2 * top;
    double threshold = p2 + 0.3 * (top - p2);
    if (hasSky) {
        // Noise peaks of the sky are no object: the darkest fifth of the cells is sky, and its
        // spread the sky's noise.
        const double sigma = std::max((p20 - p2) / 1.21, 1.0);
        threshold = std::max(threshold, p20 + 0.84 * sigma + 8.0 * sigma);
    }
    // Cells where a site is clipped hold no ratio.
    const std::uint32_t clip = static_cast<std::uint32_t>(0.97 * static_cast<double>((1u << depth) - 1u));

    std::array<double, 4> skySum{};
    std::int64_t skyCells = 0;
    std::vector<MosaicEvidence::Part> planeParts;
    MosaicEvidence::Part current;
    std::int64_t pairs = 0;
    const int cellsX = p.width / 2;
    // Whole numbers in the loop: the sums of a row fit 64 bits by far, and the loop stays free of
    // conversions; each row's totals go into the part's doubles.
    const auto skyLimit = static_cast<std::uint32_t>(p20);
    const auto brightLimit = static_cast<std::uint32_t>(std::min(threshold, 4.0 * 65535.0));
    for (int cy = 0; cy < p.height / 2; ++cy) {
        const std::uint8_t* topRow = p.row(2 * cy);
        const std::uint8_t* bottomRow = p.row(2 * cy + 1);
        std::uint64_t sum[4] = {}, rough[4] = {}, sky[4] = {};
        std::int64_t cells = 0, rowPairs = 0, rowSky = 0;
        bool previousBright = false;
        std::uint32_t previous[4] = {};
        for (int cx = 0; cx < cellsX; ++cx) {
            const std::uint32_t v[4] = {at<Sample>(topRow, 2 * cx), at<Sample>(topRow, 2 * cx + 1),
                                        at<Sample>(bottomRow, 2 * cx), at<Sample>(bottomRow, 2 * cx + 1)};
            const std::uint32_t cell = v[0] + v[1] + v[2] + v[3];
            if (cell <= skyLimit) {
                for (int i = 0; i < 4; ++i)
                    sky[i] += v[i];
                ++rowSky;
            }
            if (cell <= brightLimit || std::max(std::max(v[0], v[1]), std::max(v[2], v[3])) >= clip) {
                previousBright = false;
                continue;
            }
            for (int i = 0; i < 4; ++i)
                sum[i] += v[i];
            ++cells;
            if (previousBright) {
                for (int i = 0; i < 4; ++i) {
                    const std::int64_t d = std::int64_t{v[i]} - previous[i];
                    rough[i] += static_cast<std::uint64_t>(d * d);
                }
                ++rowPairs;
            }
            std::copy(v, v + 4, previous);
            previousBright = true;
        }
        for (int i = 0; i < 4; ++i) {
            current.sum[i] += static_cast<double>(sum[i]);
            current.roughness[i] += static_cast<double>(rough[i]);
            skySum[i] += static_cast<double>(sky[i]);
        }
        current.cells += cells;
        pairs += rowPairs;
        skyCells += rowSky;
        if (current.cells >= kPartCells) {
            current.pairs = pairs;
            planeParts.push_back(current);
            current = {};
            pairs = 0;
        }
    }
    if (current.cells > 0) {
        current.pairs = pairs;
        if (current.cells >= kPartCells / 2 || planeParts.empty())
            planeParts.push_back(current);
        else {
            MosaicEvidence::Part& last = planeParts.back();
            for (int i = 0; i < 4; ++i)
                last.sum[i] += current.sum[i], last.roughness[i] += current.roughness[i];
            last.cells += current.cells;
            last.pairs += current.pairs;
        }
    }
    for (MosaicEvidence::Part& part : planeParts) {
        if (hasSky && skyCells > 0)
            for (int i = 0; i < 4; ++i)
                part.sum[i] -= static_cast<double>(part.cells) * skySum[i] / static_cast<double>(skyCells);
        parts.push_back(part);
    }
}

// The quantities the judgement compares, from four sums.
struct Block {
    bool valid = false;
    double mainPair = 0;  // |ln(top-left / bottom-right)|
    double otherPair = 0; // |ln(top-right / bottom-left)|
    double level = 0;     // ln of the main diagonal's geometric mean over the other's
    std::array<double, 4> sum{};

    explicit Block(const std::array<double, 4>& s) : sum(s)
    {
        for (double v : s)
            if (!(v > 0))
                return;
        valid = true;
        mainPair = std::fabs(std::log(s[kTopLeft] / s[kBottomRight]));
        otherPair = std::fabs(std::log(s[kTopRight] / s[kBottomLeft]));
        level = 0.5 * std::log(s[kTopLeft] * s[kBottomRight] / (s[kTopRight] * s[kBottomLeft]));
    }
    double greenPair(bool mainGreen) const { return mainGreen ? mainPair : otherPair; }
    double nonGreenPair(bool mainGreen) const { return mainGreen ? otherPair : mainPair; }
    // How far green stands above the other diagonal, when green is where mainGreen says.
    double greenLevel(bool mainGreen) const { return mainGreen ? level : -level; }
};

// The share of the parts' cells for which pred holds (parts whose sums cannot be compared count
// against).
template <class Pred> double ShareOfCells(const std::vector<MosaicEvidence::Part>& parts, Pred pred)
{
    std::int64_t yes = 0, all = 0;
    for (const MosaicEvidence::Part& part : parts) {
        all += part.cells;
        const Block b(part.sum);
        if (b.valid && pred(b, part))
            yes += part.cells;
    }
    return all > 0 ? static_cast<double>(yes) / static_cast<double>(all) : 0.0;
}

const bayer::Pattern& PatternWith(bool mainGreen, int redSite)
{
    for (const bayer::Pattern& p : bayer::kPatterns)
        if (bayer::greenOnMainDiagonal(p) == mainGreen && p.at(redSite & 1, redSite >> 1) == bayer::kRed)
            return p;
    return bayer::kBG;
}

} // namespace

const char* CertaintyName(Certainty c)
{
    switch (c) {
    case Certainty::Sure: return "sure";
    case Certainty::Likely: return "likely";
    case Certainty::Unsure: break;
    }
    return "unsure";
}

std::string DescribeGuess(const MosaicGuess& g)
{
    if (!g.mosaic)
        return "not a Bayer mosaic (" + g.reason + ")";
    if (!g.pattern)
        return "a Bayer mosaic whose green sites are unclear (" + g.reason + ")";
    std::string text = std::string("Bayer ") + g.pattern->sensorName + " (green sites " + CertaintyName(g.diagonal) +
                       ", red and blue " + CertaintyName(g.redBlue);
    if (g.redBlue == Certainty::Unsure)
        text += std::string(": it may be ") + bayer::withRedBlueSwapped(*g.pattern).sensorName;
    return text + ")";
}

void MosaicEvidence::AddPlane(const std::uint8_t* rows, std::ptrdiff_t stride, int width, int height, int sampleBytes,
                              int depth)
{
    if (!rows || width < 2 || height < 2 || depth < 1 || depth > 16 || (sampleBytes != 1 && sampleBytes != 2) ||
        (sampleBytes == 1 && depth > 8))
        return;
    const PlaneView view{rows, stride, width, height};
    if (sampleBytes == 1)
        AddPlaneOf<std::uint8_t>(view, depth, m_parts);
    else
        AddPlaneOf<std::uint16_t>(view, depth, m_parts);
    ++m_planes;
}

MosaicGuess MosaicEvidence::Judge() const
{
    MosaicGuess g;
    g.frames = m_planes;
    std::array<double, 4> total{}, roughness{};
    std::int64_t pairs = 0;
    for (const Part& part : m_parts) {
        for (int i = 0; i < 4; ++i)
            total[i] += part.sum[i], roughness[i] += part.roughness[i];
        g.cells += part.cells;
        pairs += part.pairs;
    }
    const double brightest = *std::max_element(total.begin(), total.end());
    if (brightest > 0)
        for (int i = 0; i < 4; ++i)
            g.levels[i] = total[i] / brightest;
    if (g.cells < kMinCells) {
        g.reason = "too little of a bright object to measure";
        return g;
    }
    const Block all(total);
    if (!all.valid) {
        g.reason = "a site of the sensor's 2 x 2 block holds no light above the sky";
        return g;
    }

    // A mosaic: one diagonal's two sites agree, and the block is not flat.
    const bool mainAgrees = all.mainPair <= all.otherPair;
    const double agreeing = std::min(all.mainPair, all.otherPair);
    const double separation = std::fabs(all.mainPair - all.otherPair);
    auto looksLikeMosaic = [](const Block& b, double agree, double structure) {
        return std::min(b.mainPair, b.otherPair) <= agree &&
               std::max(std::fabs(b.mainPair - b.otherPair), std::fabs(b.level)) >= structure;
    };
    const double mosaicShare = ShareOfCells(m_parts, [&](const Block& b, const Part&) {
        return looksLikeMosaic(b, kMosaicPairAgrees * 1.5, kMosaicStructure * 0.6);
    });
    if (!looksLikeMosaic(all, kMosaicPairAgrees, kMosaicStructure) || mosaicShare < 0.75) {
        g.reason = "the four sites of the 2 x 2 block agree over the object, as on a monochrome sensor, in a decoded "
                   "picture or after white balance";
        return g;
    }
    if (std::fabs(all.level) < kSeparable) {
        g.reason = "the 2 x 2 block differs only as gains of even and odd rows and columns would make it, as on a "
                   "monochrome sensor";
        return g;
    }
    g.mosaic = true;

    // The green diagonal: the pair that agrees, where the other pair clearly does not; else, by
    // the assumption that green is brightest in raw data, the brighter diagonal.
    bool mainGreen = mainAgrees;
    const double agreementShare = ShareOfCells(
        m_parts, [&](const Block& b, const Part&) { return b.greenPair(mainAgrees) < b.nonGreenPair(mainAgrees); });
    const double strongAgreementShare = ShareOfCells(m_parts, [&](const Block& b, const Part&) {
        return b.nonGreenPair(mainAgrees) - b.greenPair(mainAgrees) >= kLikelySeparation;
    });
    const bool levelContradicts = all.greenLevel(mainAgrees) < -kLevelContradiction;
    if (separation >= kSureSeparation && agreeing <= kGreenPairAgrees &&
        std::max(all.mainPair, all.otherPair) >= kPairDisagrees && agreementShare >= 0.9 &&
        strongAgreementShare >= 0.75 && !levelContradicts && m_parts.size() >= 2) {
        g.diagonal = Certainty::Sure;
    } else if (separation >= kLikelySeparation && agreementShare >= 0.75 && !levelContradicts) {
        g.diagonal = Certainty::Likely;
    } else if (separation < kLikelySeparation && std::fabs(all.level) >= kLevelCue) {
        mainGreen = all.level > 0;
        const double levelShare =
            ShareOfCells(m_parts, [&](const Block& b, const Part&) { return b.greenLevel(mainGreen) > 0; });
        if (levelShare >= 0.75)
            g.diagonal = Certainty::Likely;
    }
    if (g.diagonal == Certainty::Unsure) {
        g.reason = "the data do not show which diagonal of the 2 x 2 block carries green";
        return g;
    }

    // Red: the brighter of the other two sites (blue is the dimmest channel of raw data); when
    // they are level, the smoother (white balance amplifies blue the most).
    const int siteA = mainGreen ? kTopRight : kTopLeft;
    const int siteB = mainGreen ? kBottomLeft : kBottomRight;
    const double ratio = std::log(total[siteA] / total[siteB]);
    int redSite = ratio >= 0 ? siteA : siteB;
    if (std::fabs(ratio) >= kRedBlueLevels && ShareOfCells(m_parts, [&](const Block& b, const Part&) {
                                                  return (b.sum[siteA] > b.sum[siteB]) == (ratio > 0);
                                              }) >= 0.75) {
        g.redBlue = Certainty::Likely;
    } else if (pairs > 0) {
        auto relativeRoughness = [&](int site) {
            const double mean = total[site] / static_cast<double>(g.cells);
            return std::sqrt(roughness[site] / static_cast<double>(pairs)) / mean;
        };
        const double a = relativeRoughness(siteA), b = relativeRoughness(siteB);
        if (std::max(a, b) >= kRedBlueNoise * std::min(a, b)) {
            redSite = a < b ? siteA : siteB;
            g.redBlue = Certainty::Likely;
        }
    }
    g.pattern = &PatternWith(mainGreen, redSite);
    if (g.redBlue == Certainty::Unsure)
        g.reason = "red and blue sites are alike in level and noise";
    return g;
}

MosaicGuess DetectMosaic(const CVideoSource& source, const std::atomic<bool>* stop)
{
    MosaicGuess none;
    std::string why;
    if (!source.CanShowRaw(false, &why)) {
        none.reason = "its stored frames are not a sensor plane: " + why;
        return none;
    }
    const int sampleBytes = source.GetPlaneSampleBytes();
    const std::int32_t width = source.GetPlaneWidth(), height = source.GetPlaneHeight();
    if (sampleBytes == 0 || width < 2 || height < 2) {
        none.reason = "it stores no sensor plane";
        return none;
    }
    const int depth = source.GetRealDepth() > 0 ? source.GetRealDepth() : 8 * sampleBytes;

    // Frames spread evenly over the capture, each the first with data at or after its place.
    const std::int32_t count = source.GetFrameCount();
    std::vector<std::int32_t> frames;
    for (int k = 0; k < kMosaicFrames && count > 0; ++k) {
        const auto place = static_cast<std::int32_t>((std::int64_t{2 * k + 1} * count) / (2 * kMosaicFrames));
        const std::int32_t frame = source.FindDataFrame(place);
        if (frame >= 0 && std::find(frames.begin(), frames.end(), frame) == frames.end())
            frames.push_back(frame);
    }

    const auto stride = static_cast<std::ptrdiff_t>(width) * sampleBytes;
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    MosaicEvidence evidence;
    for (const std::int32_t frame : frames) {
        if (stop && stop->load(std::memory_order_relaxed))
            break;
        CVideoSource::ReadFailure failure;
        if (source.ReadPlaneRows(frame, 0, height, plane.data(), stride, &failure))
            evidence.AddPlane(plane.data(), stride, width, height, sampleBytes, depth);
    }
    return evidence.Judge();
}

MosaicGuess DetectMosaic(const std::string& path, std::optional<ser::ByteOrder> byteOrder,
                         const std::atomic<bool>* stop, std::string* pError)
{
    CVideoSource source;
    std::vector<kestro::ui::Message> held;
    source.HoldMessages(&held);
    source.SetByteOrder(byteOrder);
    if (!source.Open(path)) {
        MosaicGuess none;
        none.reason = held.empty() ? std::string("it could not be opened") : held.front().text;
        if (pError)
            *pError = none.reason;
        return none;
    }
    return DetectMosaic(source, stop);
}

const bayer::Pattern* ChoosePattern(const MosaicGuess& guess, const bayer::Pattern* stated)
{
    if (stated && !ContradictsDiagonal(guess, *stated))
        return stated;
    return guess.mosaic ? guess.pattern : stated;
}

bool ContradictsDiagonal(const MosaicGuess& guess, const bayer::Pattern& stated)
{
    return guess.mosaic && guess.pattern && guess.diagonal == Certainty::Sure &&
           bayer::greenOnMainDiagonal(*guess.pattern) != bayer::greenOnMainDiagonal(stated);
}

} // namespace kestro::video
