// Save and Save As: one AVI file or a numbered BMP series, checked with ffprobe and ffmpeg's own
// decode against the frames our video source renders.
#include "export_fixture.h"
#include "export_report.h"

#include <cstring>

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::ui::MessageRecorder;

class SaveFrames : public testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffmpeg") || !haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are the independent readers of these tests";
    }
    ScratchDir out;
    MessageRecorder messages;
};

// A sample capture with frames 2 and 5 dropped, and one of ffmpeg's without drops. The ticks skip
// frames and include dropped ones: what is written are the ticked frames that hold data.
struct ModeCase {
    Mode mode;
    bool rawCapture;
};
const ModeCase kModeCases[] = {
    {kNormal, false},
    {{"Normal, I420 capture"}, true},
    {kRawY, true},
    {kRawColour, true},
    {{"RAW colour, AHD", true, true, 4}, true},
    {{"RAW colour, Malvar", true, true, 2}, true},
    {{"Greyscale", false, false, 11, true}, false},
};
const std::set<std::int32_t> kTicks = {0, 1, 2, 4, 5, 7};

TEST_F(SaveFrames, AviHoldsEveryTakenFrameAsRenderedInEachMode)
{
    for (const ModeCase& c : kModeCases) {
        SCOPED_TRACE(c.mode.name);
        const std::string capture =
            c.rawCapture ? sample("--width 64 --height 48 --frames 8 --dropped 2,5") : bgr24Capture();
        ASSERT_FALSE(capture.empty());
        const std::vector<std::int32_t> expected =
            c.rawCapture ? std::vector<std::int32_t>{0, 1, 4, 7} : std::vector<std::int32_t>{0, 1, 2, 4, 5};
        const Rendered want = render(capture, c.mode, expected);
        ASSERT_EQ(want.frames.size(), expected.size());

        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        apply(v, c.mode);
        v.GoToFrame(3);
        int steps = 0;
        const std::string path = out.file(std::string(c.mode.name) + ".avi");
        EXPECT_TRUE(v.SaveFramesAsAvi(path, takeOnly(kTicks), [&] { ++steps; }));
        EXPECT_EQ(steps, v.GetFrameCount()) << "one step per source frame, taken or not";
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_EQ(v.GetCurrentPosition(), 3) << "the frame shown before is current again";
        EXPECT_EQ(v.m_bRaw, c.mode.raw);

        EXPECT_EQ(probe(path, "codec_name"), "rawvideo");
        EXPECT_EQ(probe(path, "r_frame_rate"), "5/1");
        EXPECT_EQ(probe(path, "width"), std::to_string(want.width));
        EXPECT_EQ(probe(path, "height"), std::to_string(want.height));
        EXPECT_EQ(probe(path, "nb_read_frames", true), std::to_string(expected.size()));
        const auto decoded = decodeAll(path, want.bits, want.width, want.height);
        ASSERT_EQ(decoded.size(), want.frames.size());
        for (std::size_t k = 0; k < decoded.size(); ++k)
            EXPECT_TRUE(decoded[k] == want.frames[k]) << "frame " << expected[k] << " at position " << k;
    }
}

// Nothing taken writes nothing: an AVI without frames would pass for an export that worked.
TEST_F(SaveFrames, AviWithNothingTakenWritesNothingAndAnEarlierFileStays)
{
    const std::string capture = sample("--width 64 --height 48 --frames 8 --dropped 0,2");
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    const std::string path = out.file("empty.avi");
    writeFile(path, Bytes(1000, 0x55));
    EXPECT_FALSE(v.SaveFramesAsAvi(path, takeOnly({})));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages().front().caption, "Nothing to export");
    EXPECT_EQ(readFile(path), Bytes(1000, 0x55));
    EXPECT_EQ(namesIn(out.path()), std::vector<std::string>{"empty.avi"}) << "no temporary file is left";

    // Every frame: the dropped ones are not written, the rest at consecutive positions. Frame 0
    // was dropped: the format comes from frame 1, the first that holds data.
    messages.clear();
    EXPECT_TRUE(v.SaveFramesAsAvi(path));
    EXPECT_EQ(probe(path, "width"), "64");
    EXPECT_EQ(probe(path, "height"), "48");
    EXPECT_EQ(run("ffmpeg -v error -i " + quote(path) + " -f null - 2>&1"), 0) << "ffmpeg reads it without a complaint";
    EXPECT_EQ(probe(path, "nb_read_frames", true), "6");
    EXPECT_TRUE(messages.messages().empty());
}

// The picture of one BMP file as ffmpeg decodes it, whatever its name.
Bytes ffmpegBmp(const std::string& path, const Rendered& r)
{
    const std::vector<Bytes> pictures = decodeAll(path, r.bits, r.width, r.height, "-f bmp_pipe");
    return pictures.size() == 1 ? pictures.front() : Bytes();
}

std::uint32_t le32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

TEST_F(SaveFrames, BmpSeriesIsNumberedInWrittenOrderWithTheRightHeaders)
{
    struct Case {
        Mode mode;
        std::string capture;
        std::string chosen; // the name picked in the dialog
        std::vector<std::string> names;
        std::uint32_t offBits;
    };
    const std::string raw = sample("--width 64 --height 48 --frames 8 --dropped 2,5");
    const std::string bgra =
        ffmpegCapture("bgra.avi", "testsrc2=size=20x6:rate=5", "-frames:v 3 -c:v rawvideo -pix_fmt bgra");
    const std::vector<Case> cases = {
        // 8-bit frames carry the grey table: pixels at 14 + 40 + 1024.
        {kRawY, raw, "grey.bmp", {"grey_0000.bmp", "grey_0001.bmp", "grey_0002.bmp", "grey_0003.bmp"}, 1078},
        // The extension keeps its case; a name without one gives files without one.
        {kRawColour,
         raw,
         "Colour.BMP",
         {"Colour_0000.BMP", "Colour_0001.BMP", "Colour_0002.BMP", "Colour_0003.BMP"},
         54},
        {kNormal, raw, "plain", {"plain_0000", "plain_0001", "plain_0002", "plain_0003"}, 54},
        // 32-bit frames have no colour table either.
        {kNormal, bgra, "wide.png", {"wide_0000.png", "wide_0001.png", "wide_0002.png"}, 54},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        ScratchDir folder;
        CVideoSource v;
        ASSERT_TRUE(v.Open(c.capture));
        apply(v, c.mode);
        ExportReport report;
        EXPECT_TRUE(v.SaveFramesAsBmp(folder.file(c.chosen), takeOnly(kTicks), {}, &report));
        EXPECT_EQ(report.nFramesWritten, static_cast<std::int32_t>(c.names.size()));
        ASSERT_EQ(namesIn(folder.path()), c.names);

        std::vector<std::int32_t> frames =
            c.capture == raw ? std::vector<std::int32_t>{0, 1, 4, 7} : std::vector<std::int32_t>{0, 1, 2};
        const Rendered want = render(c.capture, c.mode, frames);
        for (std::size_t k = 0; k < c.names.size(); ++k) {
            const Bytes file = readFile(folder.file(c.names[k]));
            ASSERT_GE(file.size(), 54u);
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(file[1], 'M');
            EXPECT_EQ(le32(file, 2), file.size()) << "bfSize";
            EXPECT_EQ(le32(file, 10), c.offBits) << "bfOffBits";
            const std::size_t stride = kestro::dib::stride(want.width, want.bits);
            EXPECT_EQ(file.size(), c.offBits + stride * want.height) << "the padded rows and nothing else";
            for (int i = 0; c.offBits == 1078 && i < 256; ++i) {
                ASSERT_EQ(le32(file, 54 + 4 * i), static_cast<std::uint32_t>(i * 0x010101)) << "grey entry " << i;
            }
            EXPECT_TRUE(ffmpegBmp(folder.file(c.names[k]), want) == want.frames[k])
                << c.names[k] << " is not frame " << frames[k];
        }
    }
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(SaveFrames, BmpNumbersGoOnWithFiveDigitsAfter9999)
{
    const std::string capture = sample("--width 8 --height 4 --frames 10001 --dropped none");
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    v.m_bRaw = true;
    EXPECT_TRUE(v.SaveFramesAsBmp(out.file("tiny.bmp")));
    const std::vector<std::string> names = namesIn(out.path());
    ASSERT_EQ(names.size(), 10001u);
    EXPECT_EQ(names.front(), "tiny_0000.bmp");
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), "tiny_9999.bmp"));
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), "tiny_10000.bmp"));
}

TEST_F(SaveFrames, WriteBmpFileWritesTheCurrentFrame)
{
    const std::string capture = bgr24Capture(13, 5, 3);
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    ASSERT_EQ(v.GoToFrame(2), 2);
    const std::string path = out.file("one.bmp");
    EXPECT_TRUE(v.WriteBmpFile(path));
    const Bytes file = readFile(path);
    // 13 pixels of 3 bytes are padded to 40 bytes a row.
    EXPECT_EQ(file.size(), 54u + 40u * 5u);
    const Rendered want = render(capture, kNormal, {2});
    EXPECT_TRUE(ffmpegBmp(path, want) == want.frames.at(0));
}

} // namespace
