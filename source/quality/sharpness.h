// The sharpness of one frame, as one number: the gradient energy (Tenengrad: the squared Sobel
// gradient, Pertuz, Puig & Garcia 2013, "Analysis of focus measure operators for shape-from-focus",
// Pattern Recognition 46(5), operator GRA6/"Tenengrad") of the frame's 2 x 2-binned luminance,
// taken over the bright object and divided by the object's mean signal.
//
// Why each step:
// - 2 x 2 binning: every 2 x 2 block of a Bayer mosaic holds one red, two green and one blue site,
//   whatever the pattern, so the binned picture is a luminance free of the checkerboard. A measure
//   on the mosaic itself would score the colour pattern of the object, not its detail.
// - The object region: the rows and columns where the binned picture rises well above the sky,
//   widened by a margin that holds the limb even in a blurred frame. The sky adds only noise to a
//   gradient sum, and where the planet has drifted to changes nothing.
// - Division by the mean signal: gradients grow with brightness, so a frame 30% brighter would
//   otherwise score 30% sharper. The score is the root-mean-square gradient of the region over the
//   mean level of the object above the sky: a ratio without unit, comparable between frames of one
//   capture (and roughly between captures of one object).
// - The Sobel operator averages across the gradient, which keeps sensor noise out of the sum
//   better than a plain difference; gradient energy was among the most robust operators to noise in
//   the survey above, and it is cheap: a few integer operations per binned pixel.
#pragma once

#include "avifile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestro::quality {

// One 8-bit plane: a Bayer mosaic as the sensor stored it, or a grey picture. Rows `stride`
// bytes apart; the order of rows does not matter to the score.
struct PlaneView {
    const std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::ptrdiff_t stride = 0;
};

// Where the object was found, in sensor pixels (for tests and the validation tool).
struct ObjectRegion {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0; // right and bottom exclusive
};

// Measures frames one after another, keeping its working buffers between them: one per thread.
class SharpnessMeter {
public:
    // The score of a plane, >= 0. 0 when it holds no object (a dark or flat frame), when it has
    // fewer than 8 columns or rows, or when its object is so small (a star, under about 8 sensor
    // pixels across) that the coarse grid the object is looked for on can miss it.
    double Measure(const PlaneView& plane);
    // The score of a decoded frame: a packed bitmap of 8 (grey), 24 or 32 bits per pixel, reduced
    // to luminance first. A negative value when the bitmap is of another kind.
    double MeasureBitmap(const BITMAPINFOHEADER& header, const std::uint8_t* pixels);

    // The region the last Measure looked at; empty when it found no object.
    const ObjectRegion& LastRegion() const { return m_region; }

private:
    std::vector<std::uint16_t> m_grid;
    std::vector<std::uint16_t> m_binned;
    std::vector<std::uint32_t> m_columns;
    std::vector<std::uint32_t> m_rows;
    std::vector<std::uint8_t> m_grey;
    ObjectRegion m_region;
};

} // namespace kestro::quality
