// Synthetic planetary frames whose sharpness is known: a banded, spotted disc drawn at a given
// place, blurred by a Gaussian of a given sigma (the seeing), scaled in brightness, with sensor
// noise, and sampled through a Bayer pattern. The frame-quality tests and the validation tool
// rank such frames by their score and compare with the sigma they were made with.
#pragma once

#include "bayer_pattern.h"

#include <cstdint>
#include <vector>

namespace kestro::scene {

// How one frame was made.
struct Seeing {
    double sigma = 0.0; // Gaussian blur, sensor pixels
    double gain = 1.0;  // brightness factor
    double dx = 0.0;    // drift of the disc from the frame's centre, sensor pixels
    double dy = 0.0;
};

// `frames` seeings: sigmas spread evenly over [0, maxSigma] in shuffled order, gains uniform in
// [1 - maxGainChange, 1 + maxGainChange], drift uniform within +-maxDrift. Same seed, same list.
std::vector<Seeing> MakeSeeings(int frames, double maxSigma, double maxGainChange, double maxDrift, std::uint64_t seed);

// The frame as a sensor records it: width x height bytes, top row first, one site per byte laid
// out as `pattern`. The disc's radius is `radius` pixels; noise is Gaussian, of a read-out part
// and a part growing with the signal, drawn from `noiseSeed`.
std::vector<std::uint8_t> RenderMosaic(int width, int height, double radius, const kestro::bayer::Pattern& pattern,
                                       const Seeing& seeing, std::uint64_t noiseSeed, double readNoise = 1.5);

// What a blur takes for the pixels beyond the plane's edge: black (a disc in the dark sky) or the
// edge's own pixels repeated (a picture that fills the frame).
enum class Edge { Black, Repeat };

// Blurs one plane in place with a Gaussian of sigma pixels, rows then columns.
void GaussianBlur(std::vector<double>& plane, int w, int h, double sigma, Edge edge);

// Spearman's rank correlation of two equally long lists (average ranks for ties).
double Spearman(const std::vector<double>& a, const std::vector<double>& b);

} // namespace kestro::scene

#include <functional>
#include <map>
#include <set>
#include <string>

namespace kestro::scene {

// Writes an I420 AVI as a colour planetary camera records it: each frame's Y plane is the plane
// `frame(i)` returns (width x height bytes), U and V are 128; the frames in `empty` are stored
// without data and those in `cut` with only their first `cut[i]` bytes. Returns false when the
// file cannot be written.
bool WriteRawCapture(const std::string& path, int width, int height, int frames,
                     const std::function<std::vector<std::uint8_t>(int)>& frame, const std::set<int>& empty = {},
                     const std::map<int, std::size_t>& cut = {});

} // namespace kestro::scene
