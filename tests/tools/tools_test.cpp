// The sample-capture generator and the dump tool, run as a user runs them.
#include "avi_handles.h"
#include "avifile.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace kestro::test;

struct Capture {
    LONG length = -1;
    DWORD width = 0;
    DWORD height = 0;
    std::vector<std::vector<std::uint8_t>> samples; // stored bytes per position
};

Capture readCapture(const std::string& path)
{
    Capture c;
    const kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    if (AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
        AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) == AVIERR_OK) {
        AVISTREAMINFOA info{};
        AVIStreamInfoA(stream.get(), &info, sizeof info);
        c.width = static_cast<DWORD>(info.rcFrame.right);
        c.height = static_cast<DWORD>(info.rcFrame.bottom);
        c.length = AVIStreamLength(stream.get());
        for (LONG i = 0; i < c.length; ++i) {
            LONG size = 0;
            AVIStreamRead(stream.get(), i, 1, nullptr, 0, &size, nullptr);
            std::vector<std::uint8_t> b(static_cast<std::size_t>(size));
            AVIStreamRead(stream.get(), i, 1, b.data(), size, nullptr, nullptr);
            c.samples.push_back(std::move(b));
        }
    }
    return c;
}

TEST(Sample, DefaultCaptureIsI420WithTwoDroppedFrames)
{
    ScratchDir dir;
    const std::string path = dir.file("s.avi");
    makeSample(path);
    const Capture c = readCapture(path);
    ASSERT_EQ(c.length, 30);
    EXPECT_EQ(c.width, 640u);
    EXPECT_EQ(c.height, 480u);
    for (LONG i = 0; i < c.length; ++i) {
        const auto& s = c.samples[static_cast<std::size_t>(i)];
        if (i == 5 || i == 12) {
            EXPECT_TRUE(s.empty()) << i;
            continue;
        }
        ASSERT_EQ(s.size(), 640u * 480u * 3u / 2u) << i;
        // U and V carry no colour: the colour is in the mosaic.
        for (std::size_t k = 640 * 480; k < s.size(); ++k)
            ASSERT_EQ(s[k], 128) << "frame " << i << " byte " << k;
    }
    // The planet drifts: consecutive frames differ.
    EXPECT_NE(c.samples[0], c.samples[1]);
    if (haveTool("ffprobe")) {
        EXPECT_EQ(probe(path, "codec_tag_string"), "I420");
        EXPECT_EQ(probe(path, "nb_read_frames", true), "28"); // ffmpeg skips the two without data
    }
}

// Which site of each 2 x 2 block is red, green or blue shows in the planet's colours: its
// red light is brighter than its green everywhere, and its green than its blue.
struct PatternCase {
    const char* name;
    std::array<char, 4> sites; // row 0 left, right; row 1 left, right
    friend void PrintTo(const PatternCase& c, std::ostream* os) { *os << c.name; }
};

class SamplePattern : public ::testing::TestWithParam<PatternCase> {};

TEST_P(SamplePattern, MosaicFollowsTheButtonsLayout)
{
    ScratchDir dir;
    const std::string path = dir.file("p.avi");
    makeSample(path, std::string("--width 96 --height 64 --frames 1 --dropped none --pattern ") + GetParam().name);
    const Capture c = readCapture(path);
    ASSERT_EQ(c.length, 1);
    const auto& y = c.samples[0];
    std::array<double, 4> sum{};
    std::array<int, 4> count{};
    for (std::size_t row = 0; row < 64; ++row)
        for (std::size_t col = 0; col < 96; ++col) {
            const std::uint8_t v = y[row * 96 + col];
            if (v == 0)
                continue; // sky
            const std::size_t site = (row & 1) * 2 + (col & 1);
            sum[site] += v;
            ++count[site];
        }
    std::array<double, 4> mean{};
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_GT(count[i], 100);
        mean[i] = sum[i] / count[i];
    }
    const auto& sites = GetParam().sites;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j) {
            const auto rank = [](char c) { return c == 'R' ? 2 : c == 'G' ? 1 : 0; };
            if (rank(sites[i]) > rank(sites[j])) {
                EXPECT_GT(mean[i], mean[j] + 10)
                    << sites[i] << " site " << i << " against " << sites[j] << " site " << j;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Sample, SamplePattern,
                         ::testing::Values(PatternCase{"BG", {'G', 'R', 'B', 'G'}},
                                           PatternCase{"GB", {'R', 'G', 'G', 'B'}},
                                           PatternCase{"GR", {'G', 'B', 'R', 'G'}},
                                           PatternCase{"RG", {'B', 'G', 'G', 'R'}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sample, RefusesBadArguments)
{
    ScratchDir dir;
    const std::string tool = KESTRO_SAMPLE_TOOL;
    const std::string out = quote(dir.file("x.avi"));
    for (const std::string& args :
         std::vector<std::string>{"", "--output " + out + " --pattern XY", "--output " + out + " --width 33",
                                  "--output " + out + " --frames -1", "--output " + out + " --bogus"})
        EXPECT_EQ(run(tool + " " + args + " 2>/dev/null"), 2) << args;
    EXPECT_EQ(run(tool + " --output " + quote(dir.file("missing/x.avi")) + " 2>/dev/null"), 1);
}

TEST(AviDump, DescribesTheSampleAndWritesAFrameAsBmp)
{
    ScratchDir dir;
    const std::string path = dir.file("s.avi");
    makeSample(path, "--width 64 --height 48 --frames 8 --dropped 2,3");
    std::string out;
    ASSERT_EQ(run(std::string(KESTRO_AVIDUMP_TOOL) + " " + quote(path), &out), 0);
    EXPECT_NE(out.find("type 'vids' handler 'I420' format 'I420' 64x48 12-bit"), std::string::npos) << out;
    EXPECT_NE(out.find("length 8"), std::string::npos) << out;
    EXPECT_NE(out.find("positions without data: 2-3"), std::string::npos) << out;
    EXPECT_NE(out.find("Decoded: 24-bit 64x48"), std::string::npos) << out;

    // The BMP holds our decode of frame 4; ffmpeg reads it and decodes the capture's
    // frame itself (the two frames without data come before it, and ffmpeg skips them).
    const std::string bmp = dir.file("f.bmp");
    ASSERT_EQ(
        run(std::string(KESTRO_AVIDUMP_TOOL) + " " + quote(path) + " --frame 4 --bmp " + quote(bmp) + " >/dev/null"),
        0);
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const auto ours = ffmpegFrame(bmp, 0, "bgr24");
    const auto theirs = ffmpegFrame(path, 2, "bgr24");
    ASSERT_EQ(ours.size(), 64u * 48u * 3u);
    EXPECT_EQ(ours, theirs);
}

TEST(AviDump, ReportsFilesItCannotRead)
{
    ScratchDir dir;
    const std::string text = dir.file("notes.txt");
    writeFile(text, {'h', 'e', 'l', 'l', 'o'});
    std::string out;
    EXPECT_EQ(run(std::string(KESTRO_AVIDUMP_TOOL) + " " + quote(text) + " 2>&1", &out), 1);
    EXPECT_NE(out.find("not an AVI file"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(run(std::string(KESTRO_AVIDUMP_TOOL) + " " + quote(dir.file("absent.avi")) + " 2>&1", &out), 1);
    EXPECT_NE(out.find("cannot be opened"), std::string::npos) << out;
    EXPECT_EQ(run(std::string(KESTRO_AVIDUMP_TOOL) + " 2>/dev/null"), 2);
}

} // namespace
