// demosaic_quality: how close every de-mosaic algorithm comes to the true colours.
//
//   demosaic_quality [--per-pattern] [--no-rendered] [--write-rendered DIR] [FOLDER...]
//
// Each ground-truth colour image (every P6 PPM file in the folders given, then the images this
// program renders itself) is sampled into a raw Bayer plane for each pattern code 0..3, and the
// plane is de-mosaiced by the program's own algorithm 11 and by every algorithm the library lists,
// all through CCfaConverter as the program calls them. The figure is the colour PSNR against the
// truth, 10 log10(255^2 / MSE) with the MSE over the three channels of every pixel of the frame less
// a margin of four pixels (the area the library's images show; algorithm 11's full-size picture is
// cropped to it). An exact result is shown as 99.99 dB.
//
// The output is a Markdown table: one row per image with the mean over the four patterns (every
// pattern with --per-pattern), one column per algorithm, then the means over the photographs (the
// PPM files) and over the rendered images. --write-rendered saves the rendered images as PPM files.
#include "cfa_converter.h"
#include "dor2ezu.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kMargin = DOR2EZU_MARGIN;
constexpr double kExact = 99.99; // PSNR shown for an exact result
const char* const kPatternNames[4] = {"BG", "GB", "GR", "RG"};

// A colour image, rows top first, red, green, blue per pixel.
struct Image {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    std::uint8_t* at(int x, int y) { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    const std::uint8_t* at(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
};

// ---- PPM files --------------------------------------------------------------------------------

// The next header number of a PPM file, skipping white space and comments; -1 at a fault.
long ppmNumber(std::istream& in)
{
    int c;
    while ((c = in.get()) != EOF) {
        if (c == '#') {
            while ((c = in.get()) != EOF && c != '\n') {}
        } else if (!std::isspace(c)) {
            break;
        }
    }
    if (c == EOF || !std::isdigit(c))
        return -1;
    long v = c - '0';
    while (std::isdigit(in.peek()) && v < 1000000)
        v = v * 10 + (in.get() - '0');
    return v;
}

// Reads a binary 8-bit PPM (P6, maxval 255); false with a message otherwise.
bool readPpm(const fs::path& path, Image& image)
{
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] != '6') {
        std::fprintf(stderr, "demosaic_quality: %s: not a P6 PPM file, skipped\n", path.c_str());
        return false;
    }
    const long w = ppmNumber(in), h = ppmNumber(in), maxval = ppmNumber(in);
    if (w <= 0 || h <= 0 || w > 100000 || h > 100000 || maxval != 255 || !std::isspace(in.get())) {
        std::fprintf(stderr, "demosaic_quality: %s: needs an 8-bit P6 header, skipped\n", path.c_str());
        return false;
    }
    image.name = path.stem().string();
    image.width = static_cast<int>(w);
    image.height = static_cast<int>(h);
    image.rgb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    if (!in.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()))) {
        std::fprintf(stderr, "demosaic_quality: %s: cut short, skipped\n", path.c_str());
        return false;
    }
    return true;
}

bool writePpm(const fs::path& path, const Image& image)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.width << ' ' << image.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
    return static_cast<bool>(out);
}

// The P6 PPM files of a folder, by name.
std::vector<fs::path> ppmFiles(const fs::path& folder)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (entry.is_regular_file() && ext == ".ppm")
            files.push_back(entry.path());
    }
    if (ec)
        std::fprintf(stderr, "demosaic_quality: %s: %s\n", folder.c_str(), ec.message().c_str());
    std::sort(files.begin(), files.end());
    return files;
}

// ---- rendered images --------------------------------------------------------------------------

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

std::uint8_t byteOf(double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0) + 0.5); }

// Renders an image from a function of the position (pixel centres at integer + 0.5), averaging an
// n x n grid of samples per pixel as a lens and sensor would, so that edges are anti-aliased.
template <typename F> Image render(const char* name, int width, int height, int n, F colourAt)
{
    Image image{name, width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb sum{0, 0, 0};
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    const Rgb c = colourAt(x + (i + 0.5) / n, y + (j + 0.5) / n);
                    sum.r += c.r, sum.g += c.g, sum.b += c.b;
                }
            }
            std::uint8_t* p = image.at(x, y);
            p[0] = byteOf(sum.r / (n * n));
            p[1] = byteOf(sum.g / (n * n));
            p[2] = byteOf(sum.b / (n * n));
        }
    }
    return image;
}

// Saturated colours for patches; neighbours in this list differ strongly.
const Rgb kPalette[] = {{230, 30, 30},   {30, 200, 40}, {40, 50, 230},  {245, 230, 40}, {40, 220, 230}, {225, 40, 220},
                        {250, 250, 250}, {20, 20, 20},  {250, 140, 20}, {120, 40, 200}, {140, 230, 60}, {30, 110, 140}};
constexpr int kPaletteSize = sizeof(kPalette) / sizeof(kPalette[0]);

Rgb fromHue(double hue)
{ // hue in turns, full saturation and value
    auto channel = [&](double offset) {
        double h = std::fmod(hue + offset, 1.0);
        if (h < 0)
            h += 1.0;
        const double v = std::clamp(std::abs(h * 6.0 - 3.0) - 1.0, 0.0, 1.0);
        return 255.0 * v;
    };
    return {channel(0.0), channel(2.0 / 3.0), channel(1.0 / 3.0)};
}

// Grey rings whose frequency rises with the radius: the Nyquist limit of the full plane at the
// middle of each side, beyond it in the corners.
Image zonePlate(int size)
{
    const double c = size / 2.0;
    const double k = std::numbers::pi / size;
    return render("zone-plate", size, size, 4, [&](double x, double y) {
        const double r2 = (x - c) * (x - c) + (y - c) * (y - c);
        const double v = 127.5 + 110.0 * std::cos(k * r2);
        return Rgb{v, v, v};
    });
}

// Patches of saturated colours meeting in straight edges: axis-aligned on the left half, turned by
// 8 degrees (slanted edges, stepping slowly across the sites) on the right half.
Image colourEdges(int size)
{
    const double cell = 40.0;
    const double angle = 8.0 * std::numbers::pi / 180.0;
    const double ca = std::cos(angle), sa = std::sin(angle);
    return render("colour-edges", size, size, 4, [&](double x, double y) {
        double u = x, v = y;
        int offset = 0;
        if (x >= size / 2.0) {
            u = (x - size / 2.0) * ca - (y - size / 2.0) * sa + 1000.0;
            v = (x - size / 2.0) * sa + (y - size / 2.0) * ca + 1000.0;
            offset = 5;
        }
        const int i = static_cast<int>(std::floor(u / cell));
        const int j = static_cast<int>(std::floor(v / cell));
        return kPalette[((i * 5 + j * 7 + offset) % kPaletteSize + kPaletteSize) % kPaletteSize];
    });
}

// A colour Siemens star: 36 sectors of saturated hues, neighbours far apart on the hue circle,
// meeting at the centre, on mid grey, inside a ring of the continuous hue wheel.
Image colourWheel(int size)
{
    const double c = size / 2.0;
    const double outer = size * 0.47, inner = size * 0.38;
    constexpr int kSectors = 36;
    return render("colour-wheel", size, size, 4, [&](double x, double y) {
        const double dx = x - c, dy = y - c;
        const double r = std::sqrt(dx * dx + dy * dy);
        if (r > outer)
            return Rgb{128, 128, 128};
        double turn = std::atan2(dy, dx) / (2 * std::numbers::pi);
        if (turn < 0)
            turn += 1.0;
        if (r > inner)
            return fromHue(turn);
        const int sector = std::min(kSectors - 1, static_cast<int>(turn * kSectors));
        if (sector % 2 == 1)
            return Rgb{235, 235, 235};
        return fromHue(((sector / 2) * 7 % (kSectors / 2)) / double(kSectors / 2));
    });
}

// A planet: a banded, tinted disc with limb darkening on a black sky, and a smaller grey moon.
Image planet(int size)
{
    const double cx = size * 0.46, cy = size * 0.52, radius = size * 0.34;
    const double mx = size * 0.86, my = size * 0.2, moonRadius = size * 0.035;
    const double tilt = 12.0 * std::numbers::pi / 180.0;
    const double ct = std::cos(tilt), st = std::sin(tilt);
    const Rgb zone{238, 222, 190}, belt{176, 112, 72}, spot{205, 95, 60}, moon{200, 192, 180};
    auto limb = [](double rr) { // rr = (r / R)^2; I = 1 - u (1 - mu)
        const double mu = std::sqrt(std::max(0.0, 1.0 - rr));
        return 1.0 - 0.55 * (1.0 - mu);
    };
    return render("planet", size, size, 4, [&](double x, double y) {
        const double dx = (x - cx) / radius, dy = (y - cy) / radius;
        const double rr = dx * dx + dy * dy;
        if (rr < 1.0) {
            // Latitude along the tilted axis; bands of several widths, sharper edges at some.
            const double lat = dx * st + dy * ct;
            const double lon = dx * ct - dy * st;
            double t = 0.5 + 0.5 * std::sin(lat * 9.0) * std::cos(lat * 3.1) + 0.18 * std::sin(lat * 37.0);
            t = std::clamp(t, 0.0, 1.0);
            Rgb c = mix(zone, belt, t * t);
            const double sx = (lon - 0.25) / 0.16, sy = (lat - 0.33) / 0.08;
            const double s = sx * sx + sy * sy;
            if (s < 1.0)
                c = mix(c, spot, 0.8 * (1.0 - s));
            const double l = limb(rr);
            return Rgb{c.r * l, c.g * l, c.b * l};
        }
        const double ex = (x - mx) / moonRadius, ey = (y - my) / moonRadius;
        const double mr = ex * ex + ey * ey;
        if (mr < 1.0) {
            const double l = limb(mr);
            return Rgb{moon.r * l, moon.g * l, moon.b * l};
        }
        return Rgb{0, 0, 0};
    });
}

// ---- measuring --------------------------------------------------------------------------------

// Colour of each plane site, [y & 1][x & 1], 0 red, 1 green, 2 blue; the library's table.
struct Pattern {
    int colour[2][2];
};

Pattern patternOf(int code)
{
    switch (code) {
    case 1: return {{{0, 1}, {1, 2}}};  // GB: R G / G B
    case 2: return {{{1, 2}, {0, 1}}};  // GR: G B / R G
    case 3: return {{{2, 1}, {1, 0}}};  // RG: B G / G R
    default: return {{{1, 0}, {2, 1}}}; // BG: G R / B G
    }
}

std::vector<std::uint8_t> mosaic(const Image& image, int code)
{
    const Pattern p = patternOf(code);
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            plane[static_cast<std::size_t>(y) * image.width + x] = image.at(x, y)[p.colour[y & 1][x & 1]];
    return plane;
}

// PSNR of a bottom-up BGR picture of outWidth x outHeight whose pixel (0, 0 from the top) shows
// truth pixel (x0, y0), over truth columns and rows margin..size-margin-1.
double psnr(const Image& truth, const std::uint8_t* pixels, int outWidth, int outHeight, int x0, int y0)
{
    std::uint64_t sum = 0;
    for (int y = kMargin; y < truth.height - kMargin; ++y) {
        const std::uint8_t* out = pixels + (static_cast<std::size_t>(outHeight - 1 - (y - y0)) * outWidth +
                                            static_cast<std::size_t>(kMargin - x0)) *
                                               3;
        const std::uint8_t* in = truth.at(kMargin, y);
        for (int x = kMargin; x < truth.width - kMargin; ++x, out += 3, in += 3) {
            const int db = out[0] - in[2], dg = out[1] - in[1], dr = out[2] - in[0];
            sum += static_cast<std::uint64_t>(db * db + dg * dg + dr * dr);
        }
    }
    const double count = 3.0 * (truth.width - 2 * kMargin) * (truth.height - 2 * kMargin);
    const double mse = static_cast<double>(sum) / count;
    if (mse == 0)
        return kExact;
    return std::min(kExact, 10.0 * std::log10(255.0 * 255.0 / mse));
}

struct Algorithm {
    std::string name;
    std::int32_t number;
};

std::vector<Algorithm> algorithms()
{
    std::vector<Algorithm> list{{CCfaConverter::kOwnAlgorithmName, CCfaConverter::kOwnAlgorithm}};
    const char* const* names = nullptr;
    std::int32_t count = 0;
    if (Dor2EzuEnumAlgorithms(&names, &count) != DOR2EZU_OK)
        return list;
    for (std::int32_t i = 0; i < count; ++i) {
        const char* n = names[i];
        if (n == nullptr || !std::isdigit(static_cast<unsigned char>(n[0])) ||
            !std::isdigit(static_cast<unsigned char>(n[1]))) {
            std::fprintf(stderr, "demosaic_quality: library entry %d has no number, left out\n", i);
            continue;
        }
        list.push_back({n, (n[0] - '0') * 10 + (n[1] - '0')});
    }
    return list;
}

// PSNR per pattern and algorithm of one image; NaN where the converter refused the plane.
std::vector<std::vector<double>> measure(const Image& image, const std::vector<Algorithm>& list,
                                         CCfaConverter& converter)
{
    std::vector<std::vector<double>> result(4, std::vector<double>(list.size(), NAN));
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(image.width) * image.height * 3);
    for (int code = 0; code < 4; ++code) {
        const std::vector<std::uint8_t> plane = mosaic(image, code);
        converter.SetPattern(code);
        for (std::size_t a = 0; a < list.size(); ++a) {
            converter.SetAlgorithm(list[a].number);
            std::int32_t outWidth = 0, outHeight = 0;
            if (!converter.ConvertPlane(image.width, image.height, plane.data(), pixels.data(), outWidth, outHeight))
                continue;
            // Algorithm 11 shows the whole frame; the library's pictures start at (margin, margin).
            const int origin = (outWidth == image.width) ? 0 : kMargin;
            if (outWidth != image.width - 2 * origin || outHeight != image.height - 2 * origin) {
                std::fprintf(stderr, "demosaic_quality: %s gave %dx%d for %dx%d, left out\n", list[a].name.c_str(),
                             outWidth, outHeight, image.width, image.height);
                continue;
            }
            result[code][a] = psnr(image, pixels.data(), outWidth, outHeight, origin, origin);
        }
    }
    return result;
}

// ---- the table --------------------------------------------------------------------------------

void printRow(const std::string& label, const std::vector<double>& values)
{
    std::printf("| %s |", label.c_str());
    for (double v : values) {
        if (std::isnan(v))
            std::printf(" – |");
        else
            std::printf(" %.2f |", v);
    }
    std::printf("\n");
}

// Mean of each column over rows; NaN where a row has none.
struct ColumnMean {
    std::vector<double> sum;
    std::vector<int> count;
    explicit ColumnMean(std::size_t n) : sum(n, 0.0), count(n, 0) {}
    void add(const std::vector<double>& row)
    {
        for (std::size_t i = 0; i < row.size(); ++i)
            if (!std::isnan(row[i]))
                sum[i] += row[i], ++count[i];
    }
    std::vector<double> mean() const
    {
        std::vector<double> m(sum.size(), NAN);
        for (std::size_t i = 0; i < sum.size(); ++i)
            if (count[i] > 0)
                m[i] = sum[i] / count[i];
        return m;
    }
};

int usage()
{
    std::fprintf(stderr, "usage: demosaic_quality [--per-pattern] [--no-rendered] [--write-rendered DIR] "
                         "[FOLDER...]\n"
                         "  FOLDER            its P6 PPM files are the photographs (ground truth)\n"
                         "  --per-pattern     a row per image and pattern code, not only their mean\n"
                         "  --no-rendered     leave out the images this program renders\n"
                         "  --write-rendered  save the rendered images as PPM files in DIR\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    bool perPattern = false, rendered = true;
    fs::path writeDir;
    std::vector<fs::path> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--per-pattern")
            perPattern = true;
        else if (arg == "--no-rendered")
            rendered = false;
        else if (arg == "--write-rendered" && i + 1 < argc)
            writeDir = argv[++i];
        else if (arg.starts_with("-"))
            return usage();
        else
            folders.emplace_back(arg);
    }

    std::vector<Image> photographs;
    for (const fs::path& folder : folders) {
        for (const fs::path& file : ppmFiles(folder)) {
            Image image;
            if (!readPpm(file, image))
                continue;
            if (image.width <= 2 * kMargin || image.height <= 2 * kMargin) {
                std::fprintf(stderr, "demosaic_quality: %s: too small, skipped\n", file.c_str());
                continue;
            }
            photographs.push_back(std::move(image));
        }
    }
    std::vector<Image> renders;
    if (rendered) {
        renders.push_back(zonePlate(512));
        renders.push_back(colourEdges(512));
        renders.push_back(colourWheel(512));
        renders.push_back(planet(512));
        if (!writeDir.empty()) {
            std::error_code ec;
            fs::create_directories(writeDir, ec);
            for (const Image& image : renders)
                if (!writePpm(writeDir / (image.name + ".ppm"), image))
                    std::fprintf(stderr, "demosaic_quality: cannot write into %s\n", writeDir.c_str());
        }
    }
    if (photographs.empty() && renders.empty())
        return usage();

    CCfaConverter converter;
    const std::vector<Algorithm> list = algorithms();

    std::printf("Colour PSNR in dB against the truth, over the frame less a %d-pixel margin; ", kMargin);
    std::printf(perPattern ? "every pattern code.\n\n" : "mean over the four pattern codes.\n\n");
    std::printf("| image |");
    for (const Algorithm& a : list)
        std::printf(" %s |", a.name.c_str());
    std::printf("\n|---|");
    for (std::size_t i = 0; i < list.size(); ++i)
        std::printf("---:|");
    std::printf("\n");

    auto table = [&](const std::vector<Image>& images, ColumnMean& mean) {
        for (const Image& image : images) {
            const auto result = measure(image, list, converter);
            const std::string label =
                image.name + " (" + std::to_string(image.width) + "×" + std::to_string(image.height) + ")";
            ColumnMean patterns(list.size());
            for (int code = 0; code < 4; ++code) {
                patterns.add(result[code]);
                if (perPattern)
                    printRow(label + " " + kPatternNames[code], result[code]);
            }
            if (!perPattern)
                printRow(label, patterns.mean());
            mean.add(patterns.mean());
        }
    };
    ColumnMean photoMean(list.size()), renderMean(list.size());
    table(photographs, photoMean);
    table(renders, renderMean);
    if (!photographs.empty())
        printRow("**mean, photographs (" + std::to_string(photographs.size()) + ")**", photoMean.mean());
    if (!renders.empty())
        printRow("**mean, rendered (" + std::to_string(renders.size()) + ")**", renderMean.mean());
    return 0;
}
