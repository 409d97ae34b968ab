// Tells from the data whether a capture's stored plane is a raw Bayer mosaic and in which order,
// and how sure it is of each step.
//
// Three questions, each answered with its own certainty:
//  - Is the plane a mosaic at all? Its four sites (the 2 x 2 block that repeats over the sensor)
//    see the object through different filters, so over the object they differ by steady gains.
//    A monochrome sensor, a decoded video's luma or a grey object after white balance gives four
//    sites that agree.
//  - Which diagonal carries green? The two green sites of a block sit behind the same filter and
//    agree with each other; red and blue sites differ from them and, on any coloured object,
//    from each other. A pair of sites that disagrees by much more than a sensor's green
//    imbalance cannot be the green pair: that is the one step the data can prove ("sure").
//  - Which of the two other sites is red? Nothing in the plane proves it. In raw, unbalanced data
//    of planets, the Moon and the Sun blue is the dimmest channel (and after white balance the
//    noisiest), so this step is at best "likely".
//
// Everything is measured on the object (the bright 2 x 2 cells of each frame, the sky's level
// taken off), never over the black sky, and must hold in most parts of the data, not only on
// their total. docs/MOSAIC.md describes the statistics and what they rest on.
#pragma once

#include "bayer_pattern.h"
#include "ser_reader.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CVideoSource;

namespace kestro::video {

enum class Certainty { Unsure, Likely, Sure };

// "unsure", "likely", "sure": the words the command line's --info prints and its JSON carries.
const char* CertaintyName(Certainty c);

struct MosaicGuess {
    bool mosaic = false;
    // The order the data show, when the plane is a mosaic and its green diagonal is at least
    // likely; null otherwise. With redBlue unsure, red and blue may be the other way round.
    const bayer::Pattern* pattern = nullptr;
    Certainty diagonal = Certainty::Unsure;
    Certainty redBlue = Certainty::Unsure;
    // What the answer rests on, in words, for messages and --info: why it is not a mosaic, or
    // which step is unsure and why. Empty when both steps are at least likely.
    std::string reason;

    // What was looked at: frames read and bright 2 x 2 cells used.
    int frames = 0;
    std::int64_t cells = 0;
    // The four sites' mean levels over the object, sky taken off, relative to the brightest
    // (top-left, top-right, bottom-left, bottom-right of the block), for --info and the docs.
    std::array<double, 4> levels{};

    // The weaker of the two steps: what a single word about the order can claim.
    Certainty Overall() const { return diagonal < redBlue ? diagonal : redBlue; }
};

// The answer in a few words, for the command line: "Bayer RGGB (green sites sure, red and blue
// likely)", "a Bayer mosaic whose green sites are unclear (...)", "not a Bayer mosaic (...)".
std::string DescribeGuess(const MosaicGuess& guess);

// Evidence gathered plane by plane, judged at the end. No input or output of its own, so the
// tests and the validation feed it planes directly.
class MosaicEvidence {
public:
    // One plane of width x height samples of 1 or 2 bytes (host order), top row first, row k at
    // rows + k * stride; depth is the bits the data use (values above 2^depth - 1 are clipped
    // light). Planes of one capture must share a size.
    void AddPlane(const std::uint8_t* rows, std::ptrdiff_t stride, int width, int height, int sampleBytes, int depth);
    MosaicGuess Judge() const;

    // Per plane and per band of rows: the sums the judgement compares. Public for the tests.
    struct Part {
        std::array<double, 4> sum{};       // the four sites' sums over the bright cells, sky taken off
        std::array<double, 4> roughness{}; // sums of squared differences to the next cell's same site
        std::int64_t cells = 0;
        std::int64_t pairs = 0; // neighbouring bright cells the roughness was summed over
    };
    const std::vector<Part>& Parts() const { return m_parts; }

private:
    std::vector<Part> m_parts;
    int m_planes = 0;
};

// The frames a detection reads: at most this many, spread evenly over the frames with data.
inline constexpr int kMosaicFrames = 8;

// Reads up to kMosaicFrames frames with data, spread over the capture open in `source`, and judges
// their planes. Tells no one: a frame that cannot be read is passed over. Stops early, with
// what it has judged unsure, once *stop is set. A capture without a stored plane that the RAW
// modes can show is not a mosaic.
MosaicGuess DetectMosaic(const CVideoSource& source, const std::atomic<bool>* stop = nullptr);

// The same on a capture it opens itself, with a video source of its own that tells no one, so
// it may run on a worker thread while the window shows the same file. byteOrder: the user's
// choice for 16-bit SER samples (none: the data decide). *pError, when given, receives why the
// capture could not be opened.
MosaicGuess DetectMosaic(const std::string& path, std::optional<ser::ByteOrder> byteOrder,
                         const std::atomic<bool>* stop = nullptr, std::string* pError = nullptr);

// The pattern a capture should be shown with, given the detector's answer and the order the file
// states (the SER header's Bayer id; null for none): the stated order unless the data contradict
// it on the green diagonal for sure; where they agree on the diagonal, the file's word settles
// red and blue, which the data can only guess. Null when neither gives an order.
const bayer::Pattern* ChoosePattern(const MosaicGuess& guess, const bayer::Pattern* stated);

// Whether the data contradict a stated order for sure: the green sites lie on the other diagonal.
bool ContradictsDiagonal(const MosaicGuess& guess, const bayer::Pattern& stated);

} // namespace kestro::video
