#include "mosaic_detect.h"

#include "video_source.h"

namespace kestro::video {

const char* CertaintyName(Certainty c)
{
    switch (c) {
    case Certainty::Sure:
        return "sure";
    case Certainty::Likely:
        return "likely";
    case Certainty::Unsure:
        break;
    }
    return "unsure";
}

void MosaicEvidence::AddPlane(const std::uint8_t*, std::ptrdiff_t, int, int, int, int) {}

MosaicGuess MosaicEvidence::Judge() const { return {}; }

MosaicGuess DetectMosaic(const CVideoSource&, const std::atomic<bool>*) { return {}; }

MosaicGuess DetectMosaic(const std::string&, std::optional<ser::ByteOrder>, const std::atomic<bool>*, std::string*)
{
    return {};
}

const bayer::Pattern* ChoosePattern(const MosaicGuess&, const bayer::Pattern* stated) { return stated; }

bool ContradictsDiagonal(const MosaicGuess&, const bayer::Pattern&) { return false; }

} // namespace kestro::video
