// kestro-sample: writes a synthetic raw capture as a colour planetary camera records it.
//
// The file is an I420 AVI whose Y plane carries an 8-bit Bayer mosaic of a rendered
// planet-like scene (a banded disc on black that drifts a little from frame to frame),
// with U and V at 128. Two frames are stored without data, as a recorder drops frames.
// By default the mosaic is laid out as Kestro's "BG" pattern, the one selected at
// start-up, so the sample shows in its true colours straight away.
#include "bayer_pattern.h"
#include "i420_capture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string output;
    int width = 640;
    int height = 480;
    int frames = 30;
    int rate = 30;
    std::string pattern = "BG";
    std::set<int> dropped{5, 12};
};

void usage()
{
    std::fprintf(stderr, "usage: kestro-sample --output FILE [--width W] [--height H] [--frames N]\n"
                         "                     [--pattern BG|GB|GR|RG] [--rate FPS] [--dropped LIST]\n"
                         "Writes an I420 AVI whose Y plane is a Bayer mosaic of a drifting planet.\n"
                         "W and H must be even. LIST is comma-separated frame numbers stored without\n"
                         "data (default 5,12; \"none\" for none).\n");
}

bool parseInt(const char* s, int& out, int lo, int hi)
{
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (!end || *end || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool parseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto need = [&]() {
            if (!v)
                std::fprintf(stderr, "kestro-sample: %s needs a value\n", a.c_str());
            return v != nullptr;
        };
        if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        } else if (a == "--output") {
            if (!need())
                return false;
            o.output = v;
        } else if (a == "--width" || a == "--height" || a == "--frames" || a == "--rate") {
            if (!need())
                return false;
            int& dst = a == "--width" ? o.width : a == "--height" ? o.height : a == "--frames" ? o.frames : o.rate;
            const int lo = a == "--frames" ? 0 : 1;
            if (!parseInt(v, dst, lo, a == "--frames" ? 1000000 : 16384)) {
                std::fprintf(stderr, "kestro-sample: bad value for %s: %s\n", a.c_str(), v);
                return false;
            }
        } else if (a == "--pattern") {
            if (!need())
                return false;
            o.pattern = v;
        } else if (a == "--dropped") {
            if (!need())
                return false;
            o.dropped.clear();
            if (std::string(v) != "none") {
                std::stringstream ss(v);
                std::string item;
                while (std::getline(ss, item, ',')) {
                    int n = 0;
                    if (!parseInt(item.c_str(), n, 0, 1000000)) {
                        std::fprintf(stderr, "kestro-sample: bad frame number in --dropped: %s\n", item.c_str());
                        return false;
                    }
                    o.dropped.insert(n);
                }
            }
        } else {
            std::fprintf(stderr, "kestro-sample: unknown argument %s\n", a.c_str());
            return false;
        }
        ++i;
    }
    if (o.output.empty()) {
        std::fprintf(stderr, "kestro-sample: --output is required\n");
        return false;
    }
    if (o.width % 2 || o.height % 2) {
        std::fprintf(stderr, "kestro-sample: width and height must be even (I420 halves both)\n");
        return false;
    }
    return true;
}

// Colour of the scene at (x, y) for frame f: a banded disc with limb darkening and an
// oval spot, on a black sky.
std::array<double, 3> scene(double x, double y, int f, int w, int h)
{
    const double r = 0.36 * std::min(w, h);
    const double cx = 0.5 * w + 0.02 * w * std::sin(0.21 * f);
    const double cy = 0.5 * h + 0.015 * h * std::cos(0.17 * f);
    const double dx = (x - cx) / r;
    const double dy = (y - cy) / (r * 0.94); // a slightly flattened planet
    const double d2 = dx * dx + dy * dy;
    if (d2 >= 1.0)
        return {0.0, 0.0, 0.0};
    const double limb = 0.35 + 0.65 * std::sqrt(1.0 - d2);
    // Latitude bands alternate between cream zones and brown belts.
    const double band = 0.5 + 0.5 * std::cos(dy * 14.0 + 0.3 * std::sin(dx * 3.0 + 0.05 * f));
    std::array<double, 3> zone{235.0, 215.0, 175.0};
    std::array<double, 3> belt{170.0, 105.0, 60.0};
    std::array<double, 3> c;
    for (int i = 0; i < 3; ++i)
        c[static_cast<std::size_t>(i)] = belt[static_cast<std::size_t>(i)] +
                                         band * (zone[static_cast<std::size_t>(i)] - belt[static_cast<std::size_t>(i)]);
    const double sx = (dx - 0.25 + 0.01 * f) / 0.16;
    const double sy = (dy - 0.35) / 0.09;
    if (sx * sx + sy * sy < 1.0)
        c = {205.0, 95.0, 70.0};
    for (double& v : c)
        v *= limb;
    return c;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!parseArgs(argc, argv, o)) {
        usage();
        return 2;
    }
    const kestro::bayer::Pattern* layout = kestro::bayer::patternFromButton(o.pattern);
    if (!layout) {
        std::fprintf(stderr, "kestro-sample: unknown pattern %s (use BG, GB, GR or RG)\n", o.pattern.c_str());
        return 2;
    }

    const std::size_t w = static_cast<std::size_t>(o.width);
    const std::size_t h = static_cast<std::size_t>(o.height);

    const HRESULT hr = kestro::tools::WriteI420Capture(
        o.output, o.width, o.height, o.frames, static_cast<DWORD>(o.rate),
        [&](int f, std::uint8_t* plane) {
            for (std::size_t y = 0; y < h; ++y) {
                for (std::size_t x = 0; x < w; ++x) {
                    const int site = layout->at(static_cast<int>(x), static_cast<int>(y));
                    const double v = scene(static_cast<double>(x) + 0.5, static_cast<double>(y) + 0.5, f, o.width,
                                           o.height)[static_cast<std::size_t>(site)];
                    plane[y * w + x] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
                }
            }
        },
        o.dropped);
    if (hr != AVIERR_OK) {
        std::fprintf(stderr, "kestro-sample: cannot write %s (error 0x%08X)\n", o.output.c_str(),
                     static_cast<unsigned>(hr));
        return 1;
    }
    return 0;
}
