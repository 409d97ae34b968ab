#include "planet_scene.h"

#include "i420_capture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace kestro::scene {

namespace {

// A small generator whose sequence is the same on every platform, unlike the standard library's
// distributions.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    double normal()
    {
        const double u = std::max(uniform(), 1e-300), v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
    }

private:
    std::uint64_t m_state;
};

using Colour = std::array<double, 3>; // red, green, blue

// The planet at (u, v), in units of its radius from its centre: limb-darkened belts and zones
// with wavy edges, a large oval and a row of small bright and dark spots, the detail seeing blurs
// first.
Colour planet(double u, double v)
{
    const double d2 = u * u + (v * v) / (0.93 * 0.93);
    if (d2 >= 1.0)
        return {0, 0, 0};
    const double limb = 0.3 + 0.7 * std::sqrt(1.0 - d2);
    const double wave = 0.06 * std::sin(9.0 * u) + 0.03 * std::sin(23.0 * u + 1.0);
    const double band = 0.5 + 0.5 * std::cos(16.0 * (v + wave));
    Colour c{150 + band * 90, 95 + band * 120, 60 + band * 125};
    const double ou = (u + 0.3) / 0.2, ov = (v - 0.35) / 0.1;
    if (ou * ou + ov * ov < 1.0)
        c = {215, 110, 80};
    for (int k = 0; k < 9; ++k) {
        const double su = u - (-0.7 + 0.17 * k), sv = v + 0.18 + 0.02 * (k % 3);
        if (su * su + sv * sv < 0.03 * 0.03)
            c = k % 2 ? Colour{255, 255, 245} : Colour{70, 45, 30};
    }
    for (double& x : c)
        x *= limb;
    return c;
}

} // namespace

void GaussianBlur(std::vector<double>& plane, int w, int h, double sigma, Edge edge)
{
    if (sigma <= 0.0)
        return;
    const int r = static_cast<int>(std::ceil(3.5 * sigma));
    std::vector<double> kernel(static_cast<std::size_t>(2 * r + 1));
    for (int i = -r; i <= r; ++i)
        kernel[static_cast<std::size_t>(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
    const double sum = std::accumulate(kernel.begin(), kernel.end(), 0.0);
    for (double& k : kernel)
        k /= sum;
    std::vector<double> tmp(plane.size());
    auto at = [&](const std::vector<double>& p, int x, int y) {
        if (edge == Edge::Repeat) {
            x = std::clamp(x, 0, w - 1);
            y = std::clamp(y, 0, h - 1);
        } else if (x < 0 || y < 0 || x >= w || y >= h) {
            return 0.0;
        }
        return p[static_cast<std::size_t>(y * w + x)];
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -r; i <= r; ++i)
                s += kernel[static_cast<std::size_t>(i + r)] * at(plane, x + i, y);
            tmp[static_cast<std::size_t>(y * w + x)] = s;
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int i = -r; i <= r; ++i)
                s += kernel[static_cast<std::size_t>(i + r)] * at(tmp, x, y + i);
            plane[static_cast<std::size_t>(y * w + x)] = s;
        }
}

std::vector<Seeing> MakeSeeings(int frames, double maxSigma, double maxGainChange, double maxDrift, std::uint64_t seed)
{
    Random random(seed);
    std::vector<Seeing> list(static_cast<std::size_t>(std::max(frames, 0)));
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i].sigma = frames > 1 ? maxSigma * double(i) / double(frames - 1) : 0.0;
        list[i].gain = 1.0 + maxGainChange * (2.0 * random.uniform() - 1.0);
        list[i].dx = maxDrift * (2.0 * random.uniform() - 1.0);
        list[i].dy = maxDrift * (2.0 * random.uniform() - 1.0);
    }
    // Fisher-Yates on the sigmas only: the rest is already random.
    for (std::size_t i = list.size(); i > 1; --i)
        std::swap(list[i - 1].sigma, list[random.next() % i].sigma);
    return list;
}

std::vector<std::uint8_t> RenderMosaic(int width, int height, double radius, const kestro::bayer::Pattern& pattern,
                                       const Seeing& seeing, std::uint64_t noiseSeed, double readNoise)
{
    // Only the disc and the reach of the blur are drawn and blurred; the rest is black sky.
    const double cx = 0.5 * width + seeing.dx, cy = 0.5 * height + seeing.dy;
    const int reach = static_cast<int>(std::ceil(radius + 4.0 * seeing.sigma + 2.0));
    const int x0 = std::max(0, static_cast<int>(cx) - reach), x1 = std::min(width, static_cast<int>(cx) + reach + 1);
    const int y0 = std::max(0, static_cast<int>(cy) - reach), y1 = std::min(height, static_cast<int>(cy) + reach + 1);
    const int w = std::max(0, x1 - x0), h = std::max(0, y1 - y0);
    std::array<std::vector<double>, 3> channels;
    for (auto& c : channels)
        c.assign(static_cast<std::size_t>(w * h), 0.0);
    // 3 x 3 samples per pixel, so that a frame without blur is still free of staircase edges.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Colour sum{0, 0, 0};
            for (int sy = 0; sy < 3; ++sy)
                for (int sx = 0; sx < 3; ++sx) {
                    const double u = (x0 + x + (sx + 0.5) / 3.0 - cx) / radius;
                    const double v = (y0 + y + (sy + 0.5) / 3.0 - cy) / radius;
                    const Colour c = planet(u, v);
                    for (int k = 0; k < 3; ++k)
                        sum[static_cast<std::size_t>(k)] += c[static_cast<std::size_t>(k)] / 9.0;
                }
            for (int k = 0; k < 3; ++k)
                channels[static_cast<std::size_t>(k)][static_cast<std::size_t>(y * w + x)] =
                    sum[static_cast<std::size_t>(k)];
        }
    for (auto& c : channels)
        GaussianBlur(c, w, h, seeing.sigma, Edge::Black);

    Random random(noiseSeed);
    std::vector<std::uint8_t> mosaic(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
            const double clean =
                inside ? seeing.gain * channels[pattern.at(x, y)][static_cast<std::size_t>((y - y0) * w + (x - x0))]
                       : 0.0;
            const double noise = std::sqrt(readNoise * readNoise + 0.05 * clean) * random.normal();
            mosaic[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                static_cast<std::uint8_t>(std::clamp(std::lround(clean + 4.0 + noise), 0L, 255L));
        }
    return mosaic;
}

double Spearman(const std::vector<double>& a, const std::vector<double>& b)
{
    auto ranks = [](const std::vector<double>& v) {
        std::vector<std::size_t> order(v.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&](std::size_t i, std::size_t j) { return v[i] < v[j]; });
        std::vector<double> r(v.size());
        for (std::size_t i = 0; i < order.size();) {
            std::size_t j = i;
            while (j + 1 < order.size() && v[order[j + 1]] == v[order[i]])
                ++j;
            for (std::size_t k = i; k <= j; ++k)
                r[order[k]] = 0.5 * double(i + j);
            i = j + 1;
        }
        return r;
    };
    const std::vector<double> ra = ranks(a), rb = ranks(b);
    const double n = double(a.size());
    const double mean = (n - 1) / 2;
    double sab = 0, saa = 0, sbb = 0;
    for (std::size_t i = 0; i < ra.size(); ++i) {
        sab += (ra[i] - mean) * (rb[i] - mean);
        saa += (ra[i] - mean) * (ra[i] - mean);
        sbb += (rb[i] - mean) * (rb[i] - mean);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

bool WriteRawCapture(const std::string& path, int width, int height, int frames,
                     const std::function<std::vector<std::uint8_t>(int)>& frame, const std::set<int>& empty,
                     const std::map<int, std::size_t>& cut)
{
    const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    return kestro::tools::WriteI420Capture(
               path, width, height, frames, 30,
               [&](int i, std::uint8_t* y) {
                   const std::vector<std::uint8_t> picture = frame(i);
                   std::copy_n(picture.begin(), std::min(plane, picture.size()), y);
               },
               empty, cut) == AVIERR_OK;
}

} // namespace kestro::scene
