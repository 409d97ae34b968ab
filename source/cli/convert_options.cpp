#include "convert_options.h"

#include "bayer_pattern.h"
#include "cfa_converter.h"
#include "dor2ezu.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>

#ifndef KESTRO_VERSION
#define KESTRO_VERSION ""
#endif

namespace kestro::cli {

namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Every algorithm name a user may type, the library's and the program's own.
std::vector<std::string> algorithmNames()
{
    std::vector<std::string> names;
    const char* const* list = nullptr;
    std::int32_t count = 0;
    if (Dor2EzuEnumAlgorithms(&list, &count) == DOR2EZU_OK)
        for (std::int32_t i = 0; i < count; ++i)
            names.emplace_back(list[i]);
    names.emplace_back(CCfaConverter::kOwnAlgorithmName);
    return names;
}

const char* const kExamples = R"(Examples:
  A night's captures to FITS sums of 100 frames, RAW Y-channel, for a stacking program:
    kestro-convert --to fits --mode raw-y --block 100 --output sums/ night/
  One capture to a RAW colour AVI, de-mosaiced with AHD for the GR pattern:
    kestro-convert --to avi --mode raw-colour --pattern GR --algorithm AHD jupiter.avi
  The best-looking BMP series of frames 0 to 499 and 600 on, four captures side by side:
    kestro-convert --to bmp --mode raw-colour --algorithm RCD --frames 0-499,600- --jobs 4 *.avi
  The sharpest 10% of the frames as a RAW Y-channel AVI for stacking; --dry-run lists them first:
    kestro-convert --to avi --mode raw-y --best 10% --dry-run jupiter.avi

Outputs are named as the window proposes, beside each capture unless --output says otherwise:
_rgb (Normal), _rlum (RAW Y-channel), _rcolNN (RAW colour with algorithm NN), _raw (RGB channels
of a RAW mode). Exit status: 0 when every capture was exported completely, 1 when any was not,
2 for a usage error.)";

} // namespace

std::optional<std::int32_t> algorithmNamed(const std::string& value)
{
    const std::string wanted = lower(value);
    std::int32_t number = 0;
    if (!wanted.empty() && wanted.size() <= 2 &&
        std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; }))
        number = std::stoi(wanted);
    for (const std::string& name : algorithmNames()) {
        const std::int32_t n = (name[0] - '0') * 10 + (name[1] - '0');
        const std::string full = lower(name);
        const std::string bare = full.substr(full.find('-') + 1);
        if ((number != 0 && n == number) || wanted == full || wanted == bare)
            return n;
    }
    return std::nullopt;
}

std::optional<int> parseCommandLine(int argc, char** argv, ConvertOptions& o)
{
    CLI::App app{"Exports the frames of raw-Bayer AVI captures as Kestro does: one AVI, a BMP series, RGB channel "
                 "AVIs or summed FITS images, in the display mode given.",
                 "kestro-convert"};
    app.footer(kExamples);
    app.set_version_flag("--version", std::string("kestro-convert ") + KESTRO_VERSION);
    app.get_formatter()->column_width(30);

    std::string to, mode = "normal", pattern = "BG", algorithm = "11", frames;
    // Whether the inputs exist is checked after parsing, so that a mistyped option is named as
    // such rather than its value taken for a missing capture.
    app.add_option("inputs", o.inputs, "Captures (AVI files), and folders whose *.avi files are taken")->required();
    app.add_option("--to", to, "What to write: avi, bmp, rgb or fits")
        ->required()
        ->check(CLI::IsMember({"avi", "bmp", "rgb", "fits"}));
    app.add_option("-o,--output", o.output,
                   "A file for one capture with --to avi, a folder otherwise (default: beside each capture)");
    app.add_option("--mode", mode, "Display mode: normal, raw-y or raw-colour (default normal)")
        ->check(CLI::IsMember({"normal", "raw-y", "raw-colour"}));
    app.add_option("--pattern", pattern, "Bayer pattern button: BG, GB, GR or RG (default BG)")
        ->check(CLI::IsMember({"BG", "GB", "GR", "RG"}));
    app.add_option("--algorithm", algorithm, "De-mosaic algorithm for raw-colour: 11, 1 to 5, or a name such as AHD")
        ->check(CLI::Validator(
            [](std::string& v) {
                return algorithmNamed(v) ? std::string() : "no algorithm is called " + v + " (try 11, 1 to 5, or AHD)";
            },
            "ALGORITHM"));
    app.add_flag("--greyscale,--grayscale", o.greyscale, "Render every frame in grey");
    app.add_option("--frames", frames, "Frames to take, e.g. 0-99,120,200- (default: every frame that holds data)")
        ->check(CLI::Validator(
            [](std::string& v) {
                std::string why;
                return FrameList::parse(v, &why) ? std::string() : why;
            },
            "LIST"));
    std::string best;
    app.add_option("--best", best,
                   "Export only the sharpest of the frames taken: a share such as 25% or a number such as 500")
        ->check(CLI::Validator(
            [](std::string& v) {
                std::string why;
                return kestro::quality::BestCount::Parse(v, &why) ? std::string() : why;
            },
            "N%|N"));
    app.add_option("--block", o.block, "Frames summed into each FITS file (default 1)")->check(CLI::PositiveNumber);
    o.jobs = std::max(1u, std::thread::hardware_concurrency());
    app.add_option("-j,--jobs", o.jobs, "Captures converted side by side (default: the number of cores)")
        ->check(CLI::Range(1u, 256u));
    app.add_flag("--overwrite", o.overwrite, "Replace outputs that exist (without it they stop the run)");
    app.add_flag("-n,--dry-run", o.dryRun, "Print what would be written, and write nothing");
    app.add_flag("-q,--quiet", o.quiet, "No progress and no summary of what went well");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        app.exit(e);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cerr << "kestro-convert: " << e.what() << "\nRun kestro-convert --help for the options.\n";
        return 2;
    }
    for (const std::string& input : o.inputs) {
        std::error_code ec;
        if (!std::filesystem::exists(input, ec)) {
            std::cerr << "kestro-convert: inputs: " << input << " does not exist\n";
            return 2;
        }
    }
    static const std::map<std::string, Target> kTargets{
        {"avi", Target::Avi}, {"bmp", Target::Bmp}, {"rgb", Target::Rgb}, {"fits", Target::Fits}};
    static const std::map<std::string, DisplayMode> kModes{
        {"normal", DisplayMode::Normal}, {"raw-y", DisplayMode::RawY}, {"raw-colour", DisplayMode::RawColour}};
    o.target = kTargets.at(to);
    o.mode = kModes.at(mode);
    o.pattern = kestro::bayer::patternFromButton(pattern)->code;
    o.algorithm = *algorithmNamed(algorithm);
    if (!frames.empty())
        o.frames = FrameList::parse(frames, nullptr);
    if (!best.empty())
        o.best = kestro::quality::BestCount::Parse(best, nullptr);
    return std::nullopt;
}

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs)
{
    namespace fs = std::filesystem;
    std::vector<std::string> captures;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            captures.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(input, ec))
            if (lower(entry.path().extension().string()) == ".avi" && !entry.is_directory(ec))
                found.push_back(entry.path().string());
        std::sort(found.begin(), found.end());
        captures.insert(captures.end(), found.begin(), found.end());
    }
    return captures;
}

} // namespace kestro::cli
