#include "mosaic_advice.h"

namespace kestro::shell {

namespace {

using kestro::bayer::Pattern;
using kestro::video::Certainty;
using kestro::video::MosaicGuess;

std::string Name(const Pattern& p) { return p.sensorName; }

// The order offered, and how sure that is. The file's word settles red and blue where the data
// agree with it on the diagonal; the data alone can only make red and blue likely, and when even
// that fails both ways round are named, since the display bar's swap is one click away.
std::string OrderText(const MosaicGuess& guess, const Pattern& offer, bool bFromFile)
{
    if (bFromFile)
        return Name(offer) + " (as the file states)";
    if (guess.redBlue == Certainty::Unsure)
        return Name(offer) + " or " + Name(kestro::bayer::withRedBlueSwapped(offer)) + " (red and blue unclear)";
    return Name(offer) + " (" + kestro::video::CertaintyName(guess.Overall()) + ")";
}

// The data's order where they contradict a stated one: the diagonal is sure, red and blue at best
// likely, which a plain name claims; unsure, both are named.
std::string DataOrderText(const MosaicGuess& guess, const Pattern& offer)
{
    if (guess.redBlue == Certainty::Unsure)
        return Name(offer) + " or " + Name(kestro::bayer::withRedBlueSwapped(offer)) + " (red and blue unclear)";
    return Name(offer);
}

MosaicAdvice ShowInRawColour(MosaicCase which, std::string text, const Pattern& offer)
{
    return {which,
            std::move(text),
            &offer,
            true,
            "Show in RAW colour",
            "Shows the frames in RAW colour, de-mosaiced as " + Name(offer) + " (the " + offer.button + " button)"};
}

MosaicAdvice UsePattern(MosaicCase which, std::string text, const Pattern& offer)
{
    return {which,
            std::move(text),
            &offer,
            false,
            "Use " + Name(offer),
            "Sets the Bayer pattern to " + Name(offer) + " (the " + offer.button +
                " button); the display mode stays as it is"};
}

} // namespace

MosaicAdvice ChooseMosaicAdvice(const MosaicAdviceInput& in)
{
    const MosaicGuess& guess = in.guess;
    // Every case rests on an order the data show; a plane that is no mosaic, or one whose green
    // diagonal is unsure, gives nothing to say.
    if (!guess.mosaic || guess.pattern == nullptr || in.inForce == nullptr)
        return {};
    const Pattern& data = *guess.pattern;

    if (!in.bOpeningJudged) {
        if (in.header != nullptr && kestro::video::ContradictsDiagonal(guess, *in.header)) {
            const Pattern* offer = kestro::video::ChoosePattern(guess, in.header);
            if (offer == nullptr)
                offer = &data;
            if (in.inForce != offer)
                return UsePattern(MosaicCase::HeaderContradicted,
                                  "The file says its Bayer order is " + Name(*in.header) + ", but its data show " +
                                      DataOrderText(guess, *offer) + ".",
                                  *offer);
        }
        if (in.colorId == "MONO") {
            if (in.mode != DisplayMode::RawColour || in.inForce != &data)
                return ShowInRawColour(MosaicCase::MonoHeader,
                                       "The file says it holds monochrome data, but its data look like a raw Bayer "
                                       "mosaic, " +
                                           OrderText(guess, data, false) + ".",
                                       data);
        } else if (in.mode == DisplayMode::Normal) {
            const Pattern* offer = kestro::video::ChoosePattern(guess, in.header);
            if (offer == nullptr)
                offer = &data;
            const bool bFromFile = in.header != nullptr && offer == in.header;
            return ShowInRawColour(MosaicCase::ShowRaw,
                                   "This capture holds raw colour sensor data, Bayer " +
                                       OrderText(guess, *offer, bFromFile) + ".",
                                   *offer);
        }
    }

    if (!in.bPatternTold && in.mode == DisplayMode::RawColour &&
        kestro::video::ContradictsDiagonal(guess, *in.inForce)) {
        // Where the file states an order the data agree with, its red and blue are the better word.
        const Pattern* offer = kestro::video::ChoosePattern(guess, in.header);
        if (offer == nullptr || kestro::video::ContradictsDiagonal(guess, *offer))
            offer = &data;
        const bool bFromFile = in.header != nullptr && offer == in.header;
        return UsePattern(MosaicCase::PatternContradicted,
                          "The data show Bayer " + (bFromFile ? Name(*offer) : DataOrderText(guess, *offer)) +
                              ": the green sites are not where " + Name(*in.inForce) + " puts them.",
                          *offer);
    }
    return {};
}

} // namespace kestro::shell
