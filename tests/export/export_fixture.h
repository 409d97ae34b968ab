// What the export tests share: captures made once per test process (by the sample tool or by
// ffmpeg), the display modes, and the frames our own video source renders, which every file an
// export writes must hold exactly, as ffmpeg decodes it.
#pragma once

#include "frame_bitmaps.h"
#include "message_box.h"
#include "test_support.h"
#include "video_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestro::test::exports {

using Bytes = std::vector<std::uint8_t>;

inline ScratchDir& captures()
{
    static ScratchDir dir;
    return dir;
}

// The sample tool's raw capture with these arguments (I420, the Y plane a BG mosaic).
inline std::string sample(const std::string& args)
{
    static std::map<std::string, std::string> made;
    auto [it, fresh] = made.try_emplace(args, captures().file("sample" + std::to_string(made.size()) + ".avi"));
    if (fresh)
        makeSample(it->second, args);
    return it->second;
}

// A capture ffmpeg writes from a lavfi source: `input` before and `output` after -i.
inline std::string ffmpegCapture(const std::string& name, const std::string& input, const std::string& output)
{
    static std::map<std::string, std::string> made;
    auto [it, fresh] = made.try_emplace(name, captures().file(name));
    if (fresh && run("ffmpeg -v error -y -f lavfi -i " + quote(input) + " " + output + " " + quote(it->second)) != 0)
        it->second.clear();
    return it->second;
}

// 64 x 48, 6 frames of ffmpeg's test picture, 24-bit. testsrc draws in RGB at any size, so the
// capture holds exactly the picture drawn.
inline std::string bgr24Capture(int width = 64, int height = 48, int frames = 6)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return ffmpegCapture("bgr24-" + size + "-" + std::to_string(frames) + ".avi", "testsrc=size=" + size + ":rate=5",
                         "-frames:v " + std::to_string(frames) + " -c:v rawvideo -pix_fmt bgr24");
}

struct Mode {
    const char* name;
    bool raw = false;
    bool rawColour = false;
    int algorithm = 11;
    bool grey = false;
};
inline const Mode kNormal{"Normal"};
inline const Mode kRawY{"RAW Y-channel", true};
inline const Mode kRawColour{"RAW colour", true, true};

inline void apply(CVideoSource& v, const Mode& m)
{
    v.m_bRaw = m.raw;
    v.m_bRawColour = m.rawColour;
    v.m_bGreyscale = m.grey;
    v.m_converter.SetAlgorithm(m.algorithm);
}

inline const char* pixFmtFor(int bits) { return bits == 8 ? "pal8" : bits == 32 ? "bgra" : "bgr24"; }

// ffmpeg's decode of every picture of a file, rows top first without padding. 8-bit pictures are
// taken as palette indices and their palette must be the grey ramp, so the indices are the
// values: converting pal8 to grey in ffmpeg rounds some values by one.
inline std::vector<Bytes> decodeAll(const std::string& path, int bits, int width, int height,
                                    const std::string& input = "")
{
    const std::size_t pixels = static_cast<std::size_t>(width) * height * static_cast<std::size_t>(bits / 8);
    const std::size_t frameBytes = pixels + (bits == 8 ? 1024 : 0);
    std::string out;
    run("ffmpeg -v error " + input + " -i " + quote(path) + " -vsync 0 -f rawvideo -pix_fmt " + pixFmtFor(bits) +
            " - 2>/dev/null",
        &out);
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at + frameBytes <= out.size(); at += frameBytes) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(out.data()) + at;
        for (std::size_t i = 0; bits == 8 && i < 256; ++i) {
            EXPECT_TRUE(p[pixels + 4 * i] == i && p[pixels + 4 * i + 1] == i && p[pixels + 4 * i + 2] == i)
                << "palette entry " << i << " of " << path << " is not grey";
        }
        frames.emplace_back(p, p + pixels);
    }
    return frames;
}

// Frames as the video source renders them in a mode: rows top first without padding, as ffmpeg
// prints pictures.
struct Rendered {
    int width = 0, height = 0, bits = 0;
    std::vector<Bytes> frames;
    std::size_t frameBytes() const { return static_cast<std::size_t>(width) * height * (bits / 8); }
};

inline Rendered render(const std::string& path, const Mode& mode, const std::vector<std::int32_t>& frames)
{
    Rendered r;
    CVideoSource v;
    EXPECT_TRUE(v.Open(path));
    apply(v, mode);
    for (std::int32_t i : frames) {
        EXPECT_EQ(v.GoToFrame(i), i);
        const BITMAPINFOHEADER* b = v.GetFrameBitmap();
        if (!b)
            continue;
        r.width = b->biWidth;
        r.height = b->biHeight;
        r.bits = b->biBitCount;
        r.frames.push_back(bitmaps::topDown(b));
    }
    return r;
}

inline FramePredicate takeOnly(std::set<std::int32_t> frames)
{
    return [frames = std::move(frames)](std::int32_t i) { return frames.contains(i); };
}

// The names in a folder, sorted; hidden ones (an export's temporary files) included.
inline std::vector<std::string> namesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace kestro::test::exports
