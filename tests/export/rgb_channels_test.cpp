// Save RGB channels: three 8-bit AVI files, the blue, green and red planes of the ticked frames,
// checked against ffmpeg's own decode of the source.
#include "export_fixture.h"
#include "export_report.h"

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::ui::Message;
using kestro::ui::MessageRecorder;

class RgbChannels : public testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffmpeg") || !haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are the independent readers of these tests";
    }
    ScratchDir out;
    MessageRecorder messages;
};

// Plane c (0 blue, 1 green, 2 red) of a picture of blue-green-red pixels.
Bytes plane(const Bytes& bgr, int c)
{
    Bytes p;
    for (std::size_t k = static_cast<std::size_t>(c); k < bgr.size(); k += 3)
        p.push_back(bgr[k]);
    return p;
}

TEST_F(RgbChannels, EachFileHoldsItsPlaneOfEveryTakenFrame)
{
    struct Case {
        const char* name;
        std::string capture;
        Mode mode;
        std::vector<std::int32_t> frames; // what the ticks below give
        bool sourceIsTheTruth;            // ffmpeg's decode of the capture is the picture itself
    };
    const std::vector<Case> cases = {
        {"Normal", bgr24Capture(), kNormal, {0, 1, 2, 4, 5}, true},
        // Rows of 39 and 1926 bytes are padded; the planes must not shear.
        {"width 13", bgr24Capture(13, 7, 6), kNormal, {0, 1, 2, 4, 5}, true},
        {"width 642", bgr24Capture(642, 4, 6), kNormal, {0, 1, 2, 4, 5}, true},
        {"RAW colour", sample("--width 64 --height 48 --frames 8 --dropped 2,5"), kRawColour, {0, 1, 4, 7}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.capture.empty());
        std::vector<Bytes> truth;
        int width = 0, height = 0;
        if (c.sourceIsTheTruth) {
            width = std::stoi(probe(c.capture, "width"));
            height = std::stoi(probe(c.capture, "height"));
            const auto all = ffmpegFrames(c.capture, "bgr24", static_cast<std::size_t>(width) * height * 3);
            for (std::int32_t i : c.frames)
                truth.push_back(all.at(static_cast<std::size_t>(i)));
        } else {
            const Rendered r = render(c.capture, c.mode, c.frames);
            truth = r.frames;
            width = r.width;
            height = r.height;
        }

        CVideoSource v;
        ASSERT_TRUE(v.Open(c.capture));
        apply(v, c.mode);
        const std::string chosen = out.file(std::string(c.name) + ".avi");
        EXPECT_TRUE(v.SaveRgbChannels(chosen, takeOnly({0, 1, 2, 4, 5, 7})));
        EXPECT_TRUE(messages.messages().empty());
        for (int ch = 0; ch < 3; ++ch) {
            const std::string file = out.file(std::string(c.name) + "_" + "bgr"[ch] + ".avi");
            SCOPED_TRACE(file);
            EXPECT_EQ(probe(file, "r_frame_rate"), "2/1");
            EXPECT_EQ(probe(file, "width"), std::to_string(width));
            EXPECT_EQ(probe(file, "height"), std::to_string(height));
            const auto decoded = decodeAll(file, 8, width, height);
            ASSERT_EQ(decoded.size(), c.frames.size());
            for (std::size_t k = 0; k < decoded.size(); ++k)
                EXPECT_TRUE(decoded[k] == plane(truth[k], ch)) << "frame " << c.frames[k];
        }
        EXPECT_FALSE(std::filesystem::exists(chosen)) << "the chosen name itself is not written";
    }
}

TEST_F(RgbChannels, PureRedGoesToTheRedFileAlone)
{
    const std::string capture = ffmpegCapture("red.avi", "color=c=red:size=16x8:rate=5,format=rgb24",
                                              "-frames:v 2 -c:v rawvideo -pix_fmt bgr24");
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    EXPECT_TRUE(v.SaveRgbChannels(out.file("red.avi")));
    const std::uint8_t expected[] = {0, 0, 255};
    for (int ch = 0; ch < 3; ++ch) {
        const auto frames = decodeAll(out.file(std::string("red_") + "bgr"[ch] + ".avi"), 8, 16, 8);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0], Bytes(16 * 8, expected[ch])) << "bgr"[ch];
    }
}

TEST_F(RgbChannels, FramesWithoutColourAreRefusedBeforeAnyFileIsMade)
{
    const std::string capture = sample("--width 64 --height 48 --frames 4 --dropped none");
    for (const Mode& mode :
         {kRawY, Mode{"Greyscale", false, false, 11, true}, Mode{"RAW colour, grey", true, true, 11, true}}) {
        SCOPED_TRACE(mode.name);
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        apply(v, mode);
        EXPECT_FALSE(v.SaveRgbChannels(out.file("x.avi")));
        EXPECT_EQ(messages.messages(),
                  (std::vector<Message>{{"Unable to split video into R, G, B channels", "Input is not 24 bit frame"}}));
        EXPECT_TRUE(namesIn(out.path()).empty());
    }
}

// The chosen name loses its extension, whatever its length, and nothing else.
TEST_F(RgbChannels, FilesAreNamedAfterTheChosenNameWithoutItsExtension)
{
    const std::string capture = bgr24Capture(8, 4, 1);
    const std::pair<std::string, std::string> cases[] = {
        {"x.avi", "x"},           {"x.jpeg", "x"}, {"x.gz", "x"}, {"x", "x"}, {"m42.lum.avi", "m42.lum"},
        {"dir.v2/x", "dir.v2/x"},
    };
    std::filesystem::create_directory(out.path() / "dir.v2");
    for (const auto& [chosen, base] : cases) {
        SCOPED_TRACE(chosen);
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        ExportReport report;
        EXPECT_TRUE(v.SaveRgbChannels(out.file(chosen), {}, {}, &report));
        EXPECT_EQ(report.files, (std::vector<std::string>{out.file(base + "_b.avi"), out.file(base + "_g.avi"),
                                                          out.file(base + "_r.avi")}));
        for (const std::string& f : report.files)
            EXPECT_TRUE(std::filesystem::exists(f)) << f;
    }
}

} // namespace
