// The export engines over fuzzed captures: Save as AVI, as a BMP series, Save RGB channels, the
// FITS sums and Save as SER, each into a scratch folder, in the display mode the input chooses.
//
// Input: a settings byte, a frames byte, then the capture.
// - settings: bits 0-1 the mode (Normal, RAW Y-channel, RAW colour with algorithm 11, RAW colour
//   with a library algorithm), bit 2 greyscale, bits 3-4 the pattern, bits 5-7 the library
//   algorithm (its numbers, then some it does not list);
// - frames: bits 0-2 the FITS block size less one, bits 3-7 which of every five frames are taken.
//   Only frames below 16 are ever taken, and captures whose frames exceed 512 x 512 pixels are
//   left alone, so that one input stays quick.
//
// Properties, for each engine:
// - it returns true exactly when its report says every frame was written, and a false result
//   comes with a message that says why;
// - a complete export wrote every taken frame that holds data, no more;
// - what it wrote is well formed: each AVI file opens with our reader and holds as many frames as
//   reported, each readable and decodable, the first one the bytes the video source rendered; each
//   BMP file's header describes the file; each FITS file is whole blocks with a header that holds
//   its data; a SER file opens with our reader and holds as many whole frames as reported;
// - no staged file is left behind in the folder.
#include "avi_exercise.h"
#include "avi_write.h"
#include "dib.h"
#include "export_report.h"
#include "fuzz_support.h"
#include "memory_file.h"
#include "video_source.h"

#include "algorithms.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using kestro::fuzz::require;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kLastFrameTaken = 15;
constexpr std::int64_t kMaxPixels = 512 * 512;

struct Settings {
    bool raw = false, rawColour = false, grey = false;
    std::int32_t pattern = 0, algorithm = 11;
    std::uint32_t block = 1;
    std::uint8_t takeMask = 0;

    void Apply(CVideoSource& source) const
    {
        source.m_bRaw = raw;
        source.m_bRawColour = rawColour;
        source.m_bGreyscale = grey;
        source.m_converter.SetPattern(pattern);
        source.m_converter.SetAlgorithm(algorithm);
    }
    bool Take(std::int32_t frame) const
    {
        return frame >= 0 && frame <= kLastFrameTaken && ((takeMask >> (frame % 5)) & 1) != 0;
    }
    std::string Describe() const
    {
        return std::string(raw ? (rawColour ? "RAW colour" : "RAW Y-channel") : "Normal") + (grey ? ", grey" : "") +
               ", pattern " + std::to_string(pattern) + ", algorithm " + std::to_string(algorithm) + ", block " +
               std::to_string(block) + ", frames mask " + std::to_string(takeMask);
    }
};

Settings settingsOf(std::uint8_t s, std::uint8_t f)
{
    static constexpr std::int32_t kLibraryAlgorithms[] = {1, 2, 3, 4, 5, 0, 9, 42};
    Settings settings;
    const int mode = s & 3;
    settings.raw = mode != 0;
    settings.rawColour = mode >= 2;
    settings.grey = (s & 4) != 0;
    settings.pattern = (s >> 3) & 3;
    settings.algorithm = mode == 3 ? kLibraryAlgorithms[s >> 5] : 11;
    settings.block = 1 + (f & 7);
    settings.takeMask = static_cast<std::uint8_t>(f >> 3);
    return settings;
}

Bytes readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// What the export was given to write, and what the video source renders of its first frame.
struct Expected {
    std::int32_t frames = 0;  // taken frames that hold data
    Bytes firstPixels;        // the first one's pixels as rendered in the mode
    BITMAPINFOHEADER first{}; // and its header
};

Expected expectedFor(CVideoSource& source, const Settings& settings)
{
    Expected e;
    for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
        if (!settings.Take(i) || source.FindDataFrame(i) != i)
            continue;
        if (e.frames++ == 0 && source.GoToFrame(i) == i) {
            settings.Apply(source);
            if (const BITMAPINFOHEADER* b = source.GetFrameBitmap()) {
                e.first = *b;
                e.firstPixels.assign(kestro::dib::pixels(*b), kestro::dib::pixels(*b) + kestro::dib::imageBytes(*b));
            }
        }
    }
    return e;
}

void checkNoStagedFiles(const kestro::fuzz::ScratchFolder& folder, const std::string& engine)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path(), ec))
        require(entry.path().filename().string()[0] != '.',
                engine + " left a staged file behind: " + entry.path().filename().string());
}

// The engine's result agrees with its report, and a complete export wrote every frame it was given.
void checkOutcome(bool ok, const ExportReport& report, const Expected& expected, const std::string& engine)
{
    require(ok == report.Complete(), engine + " returned " + (ok ? "true" : "false") + " against its report");
    if (!ok) {
        const auto message = DescribeExport(report);
        require(message && !message->text.empty() && !message->caption.empty(), engine + " failed without saying why");
        return;
    }
    require(report.nFramesWritten == expected.frames, engine + " wrote " + std::to_string(report.nFramesWritten) +
                                                          " frames of the " + std::to_string(expected.frames) +
                                                          " taken");
}

// A written AVI file reads back with our reader: every frame, the first one as rendered.
void checkAvi(const std::string& path, std::int32_t frames, const Expected& expected, bool channel,
              const std::string& engine)
{
    const kestro::test::ExerciseResult r = kestro::test::exerciseAvi(path, 64);
    require(r.open == AVIERR_OK && r.stream == AVIERR_OK, engine + ": " + path + " does not open");
    require(r.length == frames, engine + ": " + path + " holds " + std::to_string(r.length) + " frames, reported " +
                                    std::to_string(frames));
    require(r.framesRead == frames && r.framesDecoded == frames && r.bitmapsConsistent,
            engine + ": not every frame of " + path + " reads back whole");
    if (channel || frames == 0 || expected.firstPixels.empty())
        return;
    Bytes sample(expected.firstPixels.size() + 1);
    LONG got = -1;
    {
        const kestro::avi::Session session;
        kestro::avi::FileHandle file;
        kestro::avi::StreamHandle stream;
        if (AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
            AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) == AVIERR_OK)
            AVIStreamRead(stream.get(), 0, 1, sample.data(), static_cast<LONG>(sample.size()), &got, nullptr);
    }
    sample.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    require(sample == expected.firstPixels, engine + ": the first frame of " + path + " is not the frame rendered");
}

// BMP files 0 .. frames-1 and no further one; each header describes its file; the first holds the
// frame rendered.
void checkBmps(const std::string& base, std::int32_t frames, const Expected& expected)
{
    for (std::int32_t k = 0; k <= frames; ++k) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_%.4d.bmp", static_cast<int>(k));
        const std::string path = base + suffix;
        if (k == frames) {
            require(!std::filesystem::exists(path), "BMP: " + path + " is one more file than reported");
            return;
        }
        const Bytes b = readAll(path);
        require(b.size() >= 54 && b[0] == 'B' && b[1] == 'M', "BMP: " + path + " is missing or not a BMP file");
        namespace dib = kestro::dib;
        BITMAPINFOHEADER info;
        std::memcpy(&info, b.data() + dib::kFileHeaderBytes, sizeof info);
        const std::uint32_t offBits = le32(b, 10);
        const unsigned bits = info.biBitCount;
        require(le32(b, 2) == b.size() && info.biSize == dib::kHeaderBytes && info.biWidth > 0 && info.biHeight != 0 &&
                    (bits == 8 || bits == 24 || bits == 32) &&
                    offBits == dib::kFileHeaderBytes + dib::kHeaderBytes + (bits == 8 ? dib::kGreyTableBytes : 0) &&
                    info.biSizeImage == dib::stride(info) * dib::rows(info) &&
                    std::uint64_t{offBits} + info.biSizeImage == b.size(),
                "BMP: the header of " + path + " does not describe the file");
        if (k == 0 && !expected.firstPixels.empty())
            require(Bytes(b.begin() + offBits, b.end()) == expected.firstPixels,
                    "BMP: " + path + " does not hold the frame rendered");
    }
}

// Each FITS file is whole 2880-byte blocks, its header ends, and its data fits in the file.
void checkFits(const std::vector<std::string>& files)
{
    for (const std::string& path : files) {
        const Bytes b = readAll(path);
        require(!b.empty() && b.size() % 2880 == 0 && std::memcmp(b.data(), "SIMPLE  =", 9) == 0,
                "FITS: " + path + " is missing or not whole FITS blocks");
        std::int64_t bitpix = 0, naxis1 = 0, naxis2 = 0;
        std::size_t card = 0;
        for (; card + 80 <= b.size(); card += 80) {
            const std::string text(b.begin() + static_cast<std::ptrdiff_t>(card),
                                   b.begin() + static_cast<std::ptrdiff_t>(card + 80));
            const auto value = [&] { return std::atoll(text.c_str() + 10); };
            if (text.compare(0, 8, "BITPIX  ") == 0)
                bitpix = value();
            else if (text.compare(0, 8, "NAXIS1  ") == 0)
                naxis1 = value();
            else if (text.compare(0, 8, "NAXIS2  ") == 0)
                naxis2 = value();
            else if (text.compare(0, 8, "END     ") == 0)
                break;
        }
        require(card + 80 <= b.size(), "FITS: the header of " + path + " has no END");
        const std::size_t dataAt = (card / 2880 + 1) * 2880;
        require((bitpix == 16 || bitpix == 32) && naxis1 > 0 && naxis2 > 0 &&
                    dataAt + static_cast<std::uint64_t>(bitpix / 8 * naxis1 * naxis2) <= b.size(),
                "FITS: the header of " + path + " does not describe its data");
    }
}

void exercise(const std::string& capture, const Settings& settings, const kestro::fuzz::ScratchFolder& folder)
{
    CVideoSource source;
    if (!source.Open(capture))
        return;
    // The decoded frame's size, which every mode's pictures take theirs from.
    if (const BITMAPINFOHEADER* b = source.GetFrameBitmap();
        !b || std::int64_t{b->biWidth} * static_cast<std::int64_t>(kestro::dib::rows(*b)) > kMaxPixels)
        return;
    const auto take = [&settings](std::int32_t frame) { return settings.Take(frame); };

    // The mode may fall back to Normal on a frame it cannot show raw; each engine starts in the
    // mode chosen, and the expected frames are rendered the same way.
    settings.Apply(source);
    Expected expected = expectedFor(source, settings);
    settings.Apply(source);
    {
        ExportReport report;
        const std::string path = folder.File("save.avi");
        const bool ok = source.SaveFramesAsAvi(path, take, {}, &report);
        checkOutcome(ok, report, expected, "Save as AVI");
        if (ok)
            checkAvi(path, report.nFramesWritten, expected, false, "Save as AVI");
        checkNoStagedFiles(folder, "Save as AVI");
    }
    settings.Apply(source);
    expected = expectedFor(source, settings);
    settings.Apply(source);
    {
        ExportReport report;
        const bool ok = source.SaveFramesAsBmp(folder.File("series.bmp"), take, {}, &report);
        checkOutcome(ok, report, expected, "Save as BMP");
        if (ok)
            checkBmps(folder.File("series"), report.nFramesWritten, expected);
        checkNoStagedFiles(folder, "Save as BMP");
    }
    settings.Apply(source);
    expected = expectedFor(source, settings);
    settings.Apply(source);
    {
        ExportReport report;
        const bool ok = source.SaveRgbChannels(folder.File("channels.avi"), take, {}, &report);
        checkOutcome(ok, report, expected, "Save RGB channels");
        if (ok)
            for (const char* channel : {"channels_b.avi", "channels_g.avi", "channels_r.avi"})
                checkAvi(folder.File(channel), report.nFramesWritten, expected, true, "Save RGB channels");
        checkNoStagedFiles(folder, "Save RGB channels");
    }
    settings.Apply(source);
    expected = expectedFor(source, settings);
    settings.Apply(source);
    {
        ExportReport report;
        const bool ok = source.SaveFitsBlocks(folder.File("sum"), settings.block, take, {}, &report);
        checkOutcome(ok, report, expected, "Export Fits Frames");
        if (ok)
            checkFits(report.files);
        checkNoStagedFiles(folder, "Export Fits Frames");
    }
    settings.Apply(source);
    expected = expectedFor(source, settings);
    settings.Apply(source);
    {
        ExportReport report;
        const std::string path = folder.File("frames.ser");
        const bool ok = source.SaveFramesAsSer(path, take, {}, &report);
        checkOutcome(ok, report, expected, "Save as SER");
        if (ok) {
            const kestro::ser::OpenResult written = kestro::ser::openSer(path);
            require(written.reader && written.reader->frameCount() == report.nFramesWritten,
                    "Save as SER: " + path + " does not read back with every frame reported");
        }
        checkNoStagedFiles(folder, "Save as SER");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const kestro::fuzz::ScratchFolder folder;
    static const bool ready = [] {
        kestro::fuzz::silenceMessages();
        kestro::dor2ezu::setThreadCount(1);
        return true;
    }();
    (void)ready;
    if (size < 2)
        return 0;
    const Settings settings = settingsOf(data[0], data[1]);
    kestro::fuzz::withMemoryFile(data + 2, size - 2,
                                 [&](const std::string& path) { exercise(path, settings, folder); });
    folder.Clear();
    return 0;
}
