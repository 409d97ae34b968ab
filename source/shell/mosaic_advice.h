// What the window says about a capture's Bayer order once the detector has looked at its data:
// at most one piece of advice, chosen from the detector's answer, what the file states and the
// display settings in force. Nothing here changes a setting; the bar offers, the user decides.
//
// Orders are named as sensors name them (the top-left 2 x 2 sites read row by row, "RGGB"), the
// way SER headers and stacking programs write them; the pattern buttons' own labels follow no
// rule a user could derive, so a message never uses them.
#pragma once

#include "bayer_pattern.h"
#include "mosaic_detect.h"

#include <string>

namespace kestro::shell {

enum class DisplayMode { Normal, RawY, RawColour };

enum class MosaicCase {
    None,
    // In Normal: the plane is a mosaic, RAW colour would show it in colour.
    ShowRaw,
    // The SER header's Bayer id puts the green sites where the data show red and blue.
    HeaderContradicted,
    // The SER header says MONO over data that are a mosaic.
    MonoHeader,
    // In RAW colour: the pattern in force puts the green sites where the data show red and blue.
    PatternContradicted,
};

struct MosaicAdviceInput {
    kestro::video::MosaicGuess guess;
    // The order the SER header's Bayer id names; null for none (MONO, colour, AVI).
    const kestro::bayer::Pattern* header = nullptr;
    // The SER colour id's name ("MONO", "RGGB", ...); empty for an AVI file.
    std::string colorId;
    DisplayMode mode = DisplayMode::Normal;
    const kestro::bayer::Pattern* inForce = &kestro::bayer::kBG;
    // The cases judged when the answer arrives (all but PatternContradicted) are judged then only:
    // once the user has seen the answer, or could have, they are not raised again.
    bool bOpeningJudged = false;
    // PatternContradicted has been shown for this capture.
    bool bPatternTold = false;
};

struct MosaicAdvice {
    MosaicCase which = MosaicCase::None;
    std::string text;
    // The pattern the bar's button sets; null with no advice.
    const kestro::bayer::Pattern* offer = nullptr;
    // The button switches to RAW colour as well; otherwise the display mode stays.
    bool bSwitchToRawColour = false;
    std::string buttonText;
    std::string buttonToolTip;
};

MosaicAdvice ChooseMosaicAdvice(const MosaicAdviceInput& in);

} // namespace kestro::shell
