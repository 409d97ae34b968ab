#include "convert_options.h"

#include "algorithm_list.h"
#include "bayer_pattern.h"
#include "cfa_converter.h"
#include "fits_sum.h"
#include "job_limit.h"
#include "path_checks.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <map>

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

const char* const kExamples = R"(Examples:
  A night's captures to FITS sums of 100 frames, RAW Y-channel, for a stacking program:
    kestro-convert --to fits --mode raw-y --block 100 --output sums/ night/
  One capture to a RAW colour AVI, de-mosaiced with AHD for the GR pattern:
    kestro-convert --to avi --mode raw-colour --pattern GR --algorithm AHD jupiter.avi
  The best-looking BMP series of frames 0 to 499 and 600 on, four captures side by side:
    kestro-convert --to bmp --mode raw-colour --algorithm RCD --frames 0-499,600- --jobs 4 *.avi
  The sharpest 10% of the frames as a RAW Y-channel AVI for stacking; --dry-run lists them first:
    kestro-convert --to avi --mode raw-y --best 10% --dry-run jupiter.avi
  A raw AVI capture of an RGGB camera as a Bayer SER file a stacking program de-mosaics:
    kestro-convert --to ser --mode raw-y --pattern GB jupiter.avi
  The same with the Bayer order told from the capture's data (refused when it is not sure):
    kestro-convert --to ser --mode raw-y --pattern auto jupiter.avi
  What each capture of a night holds, and the Bayer order its data show, for a script:
    kestro-convert --info --json night/

Outputs are named as the window proposes, beside each capture unless --output says otherwise:
_rgb (Normal), _rlum (RAW Y-channel), _rcolNN (RAW colour with algorithm NN), _raw (RGB channels
of a RAW mode), with .avi, .bmp or .ser. With several captures --output is a folder; a name ending
in .avi or .ser is refused then (write one.avi/ to mean a folder). --overwrite replaces old outputs, never a capture, a folder, a
FIFO or a device. Exit status: 0 when every capture was exported completely (with --info: read),
1 when any was not, 2 for a usage error.)";

// A usage error: said once, with the way to the options, and exit status 2.
int usage(const std::string& text)
{
    std::cerr << "kestro-convert: " << text << "\nRun kestro-convert --help for the options.\n";
    return 2;
}

// A whole number written in digits alone, from 1 to `largest`.
std::optional<std::uint64_t> positive(const std::string& text, std::uint64_t largest)
{
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::uint64_t value = std::stoull(text);
    if (value < 1 || value > largest)
        return std::nullopt;
    return value;
}

// The most captures side by side anyone means; more are lowered to the cores anyway.
constexpr std::uint64_t kMostJobs = 65536;

} // namespace

std::optional<std::int32_t> algorithmNamed(const std::string& value)
{
    const std::string wanted = lower(value);
    // A number is typed in digits alone, one or two of them.
    const bool digits = !wanted.empty() && wanted.size() <= 2 &&
                        std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; });
    const std::optional<std::int32_t> number = digits ? kestro::video::AlgorithmNumberOf(wanted) : std::nullopt;
    for (const std::string& entry : kestro::video::AlgorithmEntries(CCfaConverter().GetAlgorithmNames())) {
        const std::optional<std::int32_t> n = kestro::video::AlgorithmNumberOf(entry);
        const std::string full = lower(entry);
        const std::string bare = full.substr(full.find('-') + 1);
        if (n && (n == number || wanted == full || wanted == bare))
            return n;
    }
    return std::nullopt;
}

namespace {

// The options as the parser reads them. Every value is read as text and judged after parsing, so
// that each refusal says what the option takes; a repeated option is refused there too rather than
// one of its values dropped. The parser holds the addresses of the texts: this stays where it is.
struct Words {
    std::string to, output, mode = "normal", pattern, algorithm = "11", frames, best, block = "1", jobs,
                            byteOrder = "auto";
    CLI::Option* patternOption = nullptr;
    CLI::Option* inputs = nullptr;
    CLI::Option* toOption = nullptr;
    CLI::Option* outputOption = nullptr;
    CLI::Option* framesOption = nullptr;
    CLI::Option* bestOption = nullptr;
    CLI::Option* jobsOption = nullptr;
    CLI::Option* infoOption = nullptr;
    CLI::Option* jsonOption = nullptr;
    std::vector<CLI::Option*> valued; // the options that take a value
    // Every name an option goes by, to tell a value left out from a value given.
    std::map<std::string, CLI::Option*> names;
};

std::string optionName(const CLI::Option* option)
{
    return option->get_lnames().empty() ? "-" + option->get_snames().front() : "--" + option->get_lnames().front();
}

void defineOptions(CLI::App& app, Words& w, ConvertOptions& o)
{
    app.footer(kExamples);
    app.set_version_flag("--version", std::string("kestro-convert ") + KESTRO_VERSION);
    app.get_formatter()->column_width(30);
    // Unknown options are named by the checks after parsing, in the same words as every other mistake.
    app.allow_extras();

    auto value = [&](const std::string& names, std::string& target, const std::string& help, const char* form) {
        CLI::Option* option =
            app.add_option(names, target, help)->type_name(form)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        w.valued.push_back(option);
        return option;
    };
    w.inputs = app.add_option("inputs", o.inputs,
                              "Captures (AVI or SER files), and folders whose *.avi and *.ser files are taken")
                   ->required();
    w.toOption = value("--to", w.to, "What to write: avi, bmp, rgb, fits or ser", "avi|bmp|rgb|fits|ser");
    w.outputOption =
        value("-o,--output", w.output,
              "A file for one capture with --to avi or ser, a folder otherwise, made if need be (default: beside "
              "each capture)",
              "PATH");
    value("--mode", w.mode, "Display mode: normal, raw-y or raw-colour (default normal)", "normal|raw-y|raw-colour");
    w.patternOption =
        value("--pattern", w.pattern,
              "Bayer pattern button: BG, GB, GR or RG, or auto to tell each capture's order from its data (default: "
              "a SER capture's own Bayer id, else BG)",
              "BG|GB|GR|RG|auto");
    value("--algorithm", w.algorithm, "De-mosaic algorithm for raw-colour: 11, 1 to 5, or a name such as AHD",
          "ALGORITHM");
    app.add_flag("--greyscale,--grayscale", o.greyscale, "Render every frame in grey");
    value("--byte-order", w.byteOrder,
          "Byte order of 16-bit SER samples: little, big, or auto to judge it from the data (default auto)",
          "little|big|auto");
    w.framesOption = value("--frames", w.frames,
                           "Frames to take, e.g. 0-99,120,200- (default: every frame that holds data)", "LIST");
    w.bestOption =
        value("--best", w.best,
              "Export only the sharpest of the frames taken: a share such as 25% or a number such as 500", "N%|N");
    value("--block", w.block, "Frames summed into each FITS file, 1 to 16843009, 65537 for 16-bit samples (default 1)",
          "N");
    w.jobsOption = value("-j,--jobs", w.jobs,
                         "Captures converted side by side (default: one per core); lowered to the cores and to what "
                         "the memory free holds",
                         "N");
    app.add_flag("--overwrite", o.overwrite, "Replace outputs that exist (without it they stop the run)");
    app.add_flag("-n,--dry-run", o.dryRun, "Print what would be written, and write nothing");
    app.add_flag("-q,--quiet", o.quiet, "No progress and no summary of what went well");
    w.infoOption = app.add_flag("--info", o.info,
                                "Describe each capture instead of exporting it: format, size, frames, bit depth, the "
                                "Bayer order its header states and the one its data show");
    w.jsonOption = app.add_flag("--json", o.json, "With --info: one JSON object a line, a line per capture");

    for (CLI::Option* option : app.get_options()) {
        for (const std::string& n : option->get_lnames())
            w.names.emplace("--" + n, option);
        for (const std::string& n : option->get_snames())
            w.names.emplace("-" + n, option);
    }
}

// The parser takes "--output=" as the option without its value and gives it the next word.
std::optional<int> refuseEmptyAssignments(int argc, char** argv, const Words& w)
{
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
        const std::string word = argv[i];
        const auto it = w.names.find(word.substr(0, word.size() - 1));
        if (word.starts_with("--") && word.ends_with('=') && it != w.names.end() &&
            std::find(w.valued.begin(), w.valued.end(), it->second) != w.valued.end())
            return usage(optionName(it->second) + " needs a value after the =");
    }
    return std::nullopt;
}

// Gives 0 after --help or --version, printed; a missing required option is told by checkWords.
std::optional<int> parseWords(CLI::App& app, int argc, char** argv, const Words& w)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        app.exit(e);
        return 0;
    } catch (const CLI::ArgumentMismatch& e) {
        // Only the last word can be an option without its value: any other takes the next word.
        std::string last = argc > 1 ? argv[argc - 1] : "";
        last = last.substr(0, last.find('='));
        if (const auto it = w.names.find(last); it != w.names.end())
            return usage(optionName(it->second) + " needs a value after it");
        return usage(e.what());
    } catch (const CLI::RequiredError&) {
    } catch (const CLI::ParseError& e) {
        return usage(e.what());
    }
    return std::nullopt;
}

// Words left over, options given twice or without their values, and what is required but missing.
std::optional<int> checkWords(const CLI::App& app, const Words& w)
{
    for (const std::string& extra : app.remaining()) {
        if (extra == "--")
            continue;
        if (extra.starts_with('-'))
            return usage("there is no option " + extra.substr(0, extra.find('=')));
        return usage("\"" + extra + "\" was not expected");
    }
    for (const CLI::Option* option : w.valued) {
        if (option->count() > 1)
            return usage(optionName(option) + " is given " + std::to_string(option->count()) + " times; give it once");
        // "-o -n" takes the option -n as the output's name, and "--to --mode raw-y" takes --mode as
        // what to write: a word that is one of the options is a value left out.
        for (const std::string& v : option->results())
            if (w.names.count(v.substr(0, v.find('='))) != 0)
                return usage(optionName(option) + " needs a value after it; " + v + " is an option");
    }
    if (w.infoOption->count() != 0) {
        // --info reads and writes nothing else: options of an export would be ignored silently.
        for (const CLI::Option* option : w.valued)
            if (option->count() != 0 && optionName(option) != "--byte-order" && optionName(option) != "--jobs")
                return usage("--info describes captures and exports nothing; it takes no " + optionName(option));
    } else {
        if (w.jsonOption->count() != 0)
            return usage("--json goes with --info");
        if (w.toOption->count() == 0)
            return usage("--to is required: what to write, avi, bmp, rgb, fits or ser");
    }
    if (w.inputs->count() == 0)
        return usage("no capture given: name AVI or SER files, or folders of them");
    return std::nullopt;
}

std::optional<int> readByteOrder(const Words& w, ConvertOptions& o)
{
    static const std::map<std::string, std::optional<kestro::ser::ByteOrder>> kOrders{
        {"auto", std::nullopt}, {"little", kestro::ser::ByteOrder::Little}, {"big", kestro::ser::ByteOrder::Big}};
    if (!kOrders.count(w.byteOrder))
        return usage("--byte-order takes little, big or auto, not \"" + w.byteOrder + "\"");
    o.byteOrder = kOrders.at(w.byteOrder);
    return std::nullopt;
}

// What to write, and how the frames are shown in it.
std::optional<int> readOutput(const Words& w, ConvertOptions& o)
{
    static const std::map<std::string, Target> kTargets{
        {"avi", Target::Avi}, {"bmp", Target::Bmp}, {"rgb", Target::Rgb}, {"fits", Target::Fits}, {"ser", Target::Ser}};
    static const std::map<std::string, DisplayMode> kModes{
        {"normal", DisplayMode::Normal}, {"raw-y", DisplayMode::RawY}, {"raw-colour", DisplayMode::RawColour}};
    if (w.infoOption->count() != 0)
        return readByteOrder(w, o);
    if (!kTargets.count(w.to))
        return usage("--to takes avi, bmp, rgb, fits or ser, not \"" + w.to + "\"");
    o.target = kTargets.at(w.to);
    if (w.outputOption->count() != 0 && w.output.empty())
        return usage("--output takes a file or folder name, not an empty one");
    if (w.outputOption->count() != 0)
        o.output = w.output;
    if (!kModes.count(w.mode))
        return usage("--mode takes normal, raw-y or raw-colour, not \"" + w.mode + "\"");
    o.mode = kModes.at(w.mode);
    if (w.patternOption->count() != 0 && w.pattern == "auto") {
        o.patternAuto = true;
    } else if (w.patternOption->count() != 0) {
        const auto button = kestro::bayer::patternFromButton(w.pattern);
        if (!button) {
            // A sensor's order is what the camera's manual gives; say which button it is.
            const auto sensor = kestro::bayer::patternFromSensorName(w.pattern);
            return usage("--pattern takes BG, GB, GR, RG or auto, not \"" + w.pattern + "\"" +
                         (sensor ? std::string(" (the sensor order ") + sensor->sensorName + " is the " +
                                       sensor->button + " button)"
                                 : std::string()));
        }
        o.pattern = button->code;
    }
    if (const std::optional<int> status = readByteOrder(w, o))
        return status;
    const std::optional<std::int32_t> number = algorithmNamed(w.algorithm);
    if (!number)
        return usage("--algorithm takes 11, 1 to 5, or a name such as AHD, not \"" + w.algorithm + "\"");
    o.algorithm = *number;
    return std::nullopt;
}

// Which frames, and how many of them go into each FITS sum.
std::optional<int> readFrames(const Words& w, ConvertOptions& o)
{
    if (!w.frames.empty() || w.framesOption->count() != 0) {
        std::string why;
        o.frames = FrameList::parse(w.frames, &why);
        if (!o.frames)
            return usage("--frames: " + why);
    }
    if (!w.best.empty() || w.bestOption->count() != 0) {
        std::string why;
        o.best = kestro::quality::BestCount::Parse(w.best, &why);
        if (!o.best)
            return usage("--best: " + why);
    }
    // Larger blocks could wrap the 32-bit sums; the engine would refuse them for every capture.
    const std::optional<std::uint64_t> frameCount = positive(w.block, kestro::exports::kMaxFramesInSum);
    if (!frameCount)
        return usage("--block takes a positive whole number of frames (1 to " +
                     std::to_string(kestro::exports::kMaxFramesInSum) + "), not \"" + w.block + "\"");
    o.block = static_cast<std::uint32_t>(*frameCount);
    return std::nullopt;
}

std::optional<int> readJobs(const Words& w, ConvertOptions& o)
{
    o.jobsGiven = w.jobsOption->count() != 0;
    o.jobs = usableCores();
    if (!o.jobsGiven)
        return std::nullopt;
    const std::optional<std::uint64_t> n = positive(w.jobs, kMostJobs);
    if (!n)
        return usage("--jobs takes a positive whole number of captures to convert side by side (1 to " +
                     std::to_string(kMostJobs) + "), not \"" + w.jobs + "\"");
    o.jobs = static_cast<unsigned>(*n);
    return std::nullopt;
}

// Whether the inputs exist is asked last, so that a mistyped option is named as such rather than
// its value taken for a missing capture.
std::optional<int> checkInputsExist(const ConvertOptions& o)
{
    for (const std::string& input : o.inputs) {
        const PathInfo info = lookAt(input);
        if (info.kind == PathKind::Missing || info.kind == PathKind::Unreachable)
            return usage(input + ": " + info.what);
    }
    return std::nullopt;
}

} // namespace

std::optional<int> parseCommandLine(int argc, char** argv, ConvertOptions& o)
{
    CLI::App app{
        "Exports the frames of raw-Bayer AVI and SER captures as Kestro does: one AVI, a BMP series, RGB channel "
        "AVIs, summed FITS images or one SER file, in the display mode given.",
        "kestro-convert"};
    Words words;
    defineOptions(app, words, o);
    std::optional<int> status = refuseEmptyAssignments(argc, argv, words);
    if (!status)
        status = parseWords(app, argc, argv, words);
    if (!status)
        status = checkWords(app, words);
    if (!status)
        status = readOutput(words, o);
    if (!status)
        status = readFrames(words, o);
    if (!status)
        status = readJobs(words, o);
    if (!status)
        status = checkInputsExist(o);
    return status;
}

std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, std::string* error)
{
    namespace fs = std::filesystem;
    std::vector<std::string> captures;
    for (const std::string& input : inputs) {
        if (lookAt(input).kind != PathKind::Folder) {
            captures.push_back(input);
            continue;
        }
        // Every step of the listing may fail (a folder that cannot be read, or one that goes
        // away); the ranged for would throw on the increment.
        std::error_code ec;
        std::vector<std::string> found;
        fs::directory_iterator entry(input, ec);
        for (; !ec && entry != fs::directory_iterator(); entry.increment(ec)) {
            // A folder named *.avi is left alone, as folders are not searched; anything else
            // called so is the user's capture to be told about if it is none. The name only
            // chooses what is listed: each capture is read by its own signature.
            std::error_code typeError;
            const std::string extension = lower(entry->path().extension().string());
            if ((extension == ".avi" || extension == ".ser") && !entry->is_directory(typeError))
                found.push_back(entry->path().string());
        }
        if (ec) {
            if (error)
                *error = "the folder " + input + " cannot be read: " + lookupFailure(ec.value());
            return {};
        }
        std::sort(found.begin(), found.end());
        captures.insert(captures.end(), found.begin(), found.end());
    }
    return captures;
}

} // namespace kestro::cli
