// Captures of known blur, scored as kestro-convert --best scores them, and judged against the blur
// they were made with: the validation table of docs/QUALITY.md (kestro-quality-table prints it)
// and the test that holds the score to it.
#pragma once

#include "bayer_pattern.h"

#include <string>
#include <vector>

namespace kestro::validation {

struct CaseResult {
    std::string name;
    int frames = 0;               // frames scored
    double spearman = 0.0;        // of the scores against the sharpness (-sigma)
    int picks = 0;                // the best 10 %, as --best 10% keeps them
    bool picksInSharpest = false; // every pick lies in the sharpest 20 % by sigma
    double worstPickSigma = 0.0;  // the blurriest pick's sigma
    std::string error;            // why the case could not be run; the rest is then empty
};

// Spearman and the picks of `scores` (one per frame, larger sharper) against `sigmas`.
CaseResult Judge(const std::string& name, const std::vector<double>& sigmas, const std::vector<double>& scores);

// planet_scene frames, 320 x 240, 40 of them: sigma 0 to 3 px shuffled, brightness +-30 %, drift up
// to 50 px, sensor noise, mosaicked as `pattern`; written as an I420 capture in `folder` and scored
// from its sensor planes.
CaseResult PlanetSceneCase(const kestro::bayer::Pattern& pattern, const std::string& folder);

// A kestro-sample capture (its banded planet, 640 x 480, 40 frames) whose four Bayer site planes
// are each blurred by a known sigma and scaled by +-30 % frame by frame: the blur the air would
// have put on the picture before the mosaic sampled it.
CaseResult SampleCase(const std::string& sampleTool, const std::string& folder);

// A detailed picture made by ffmpeg (its Mandelbrot source, 640 x 480), blurred frame by frame by
// ffmpeg's gblur at known sigmas 0 to 3 in shuffled order, and written by ffmpeg as an
// uncompressed I420 AVI; scored from its stored Y planes (decoded == false) or from the
// frames our reader decodes (decoded == true).
CaseResult FfmpegCase(const std::string& folder, bool decoded);

} // namespace kestro::validation
