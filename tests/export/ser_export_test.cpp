// Save As a SER file, checked by readers that share nothing with the writer: a struct-only Python
// reader for every header field, sample and time, ffmpeg for 8-bit files, and Siril, a stacking
// program, for sums and de-mosaicing.
#include "bayer_fixtures.h"
#include "export_fixture.h"
#include "export_plan.h"
#include "export_report.h"
#include "fits_check.h"
#include "ser_check.h"
#include "ser_fixtures.h"

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::ui::MessageRecorder;

class SerExport : public testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffmpeg") || !haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg writes the AVI captures of these tests and reads their exports";
    }
    ScratchDir out;
    MessageRecorder messages;
};

// A raw capture as cameras store it: each frame's Y plane the sensor values, written by ffmpeg as an
// uncompressed I420 AVI.
std::string RawAvi(const ScratchDir& dir, const std::string& name, const std::vector<Bytes>& planes, int w, int h)
{
    const std::string yuv = dir.file(name + ".yuv"), avi = dir.file(name + ".avi");
    Bytes stream;
    for (const Bytes& plane : planes) {
        stream.insert(stream.end(), plane.begin(), plane.end());
        stream.insert(stream.end(), plane.size() / 2, 128);
    }
    writeFile(yuv, stream);
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    if (run("ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s " + size + " -r 5 -i " + quote(yuv) +
            " -c:v rawvideo " + quote(avi)) != 0)
        ADD_FAILURE() << "ffmpeg could not write " << avi;
    return avi;
}

std::vector<Bytes> NoisePlanes(int w, int h, int frames)
{
    std::vector<Bytes> planes;
    for (int i = 0; i < frames; ++i)
        planes.push_back(noisePlane(w, h, 1000u + static_cast<std::uint32_t>(i)));
    return planes;
}

// The SER colour id of the sites a pattern button stands for, written out here from the format's
// table rather than taken from the code's.
int BayerId(int pattern)
{
    const std::string& quad = kPatternQuads[static_cast<std::size_t>(pattern)];
    return quad == "RGGB" ? 8 : quad == "GRBG" ? 9 : quad == "GBRG" ? 10 : 11;
}

// A raw AVI capture exported in a RAW mode is a Bayer SER of the same sensor values: the pattern
// pressed names its sites, and Kestro reads it back as it read the capture.
TEST_F(SerExport, RawAviCaptureBecomesABayerSerOfItsStoredPlanes)
{
    // Large enough for every de-mosaic algorithm: the one chosen must not matter.
    const int w = 32, h = 24;
    const std::vector<Bytes> planes = NoisePlanes(w, h, 3);
    const std::string capture = RawAvi(out, "noise", planes, w, h);
    struct Case {
        Mode mode;
        int pattern;
    };
    const Case cases[] = {{kRawY, 0}, {kRawY, 1},      {kRawY, 2},
                          {kRawY, 3}, {kRawColour, 1}, {{"RAW colour, AHD", true, true, 4}, 2}};
    for (const Case& c : cases) {
        const std::string label = std::string(c.mode.name) + " " + kPatternNames[static_cast<std::size_t>(c.pattern)];
        SCOPED_TRACE(label);
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        apply(v, c.mode);
        v.m_converter.SetPattern(c.pattern);
        const std::string path = out.file(label + ".ser");
        ExportReport report;
        ASSERT_TRUE(v.SaveFramesAsSer(path, takeOnly({0, 2}), {}, &report));
        EXPECT_EQ(report.nFramesWritten, 2);
        EXPECT_EQ(report.files, std::vector<std::string>{path});

        const SerDump d = dumpSer(path);
        EXPECT_EQ(d.text("FileID"), "LUCAM-RECORDER");
        EXPECT_EQ(d.number("ColorID"), BayerId(c.pattern));
        EXPECT_EQ(d.number("LittleEndian"), 0);
        EXPECT_EQ(d.number("ImageWidth"), w);
        EXPECT_EQ(d.number("ImageHeight"), h);
        EXPECT_EQ(d.number("PixelDepthPerPlane"), 8);
        EXPECT_EQ(d.number("FrameCount"), 2);
        EXPECT_EQ(d.frames, (std::vector<Samples>{widen(planes[0]), widen(planes[2])}));
        // An AVI file has no frame times.
        EXPECT_EQ(d.trailerBytes, 0);
        EXPECT_EQ(d.number("DateTime"), 0);
        EXPECT_EQ(d.number("DateTime_UTC"), 0);

        CVideoSource back;
        ASSERT_TRUE(back.Open(path));
        EXPECT_EQ(back.GetColorIdName(), kPatternQuads[static_cast<std::size_t>(c.pattern)]);
        EXPECT_EQ(back.GetHeaderPattern(), c.pattern);
        ASSERT_EQ(back.GetFrameCount(), 2);
        for (std::int32_t i = 0; i < 2; ++i) {
            Bytes plane(static_cast<std::size_t>(w * h));
            ASSERT_TRUE(back.ReadPlaneRows(i, 0, h, plane.data(), w));
            EXPECT_EQ(plane, planes[static_cast<std::size_t>(i * 2)]) << "frame " << i;
        }
    }
    EXPECT_TRUE(messages.messages().empty());
}

// ffmpeg reads the 8-bit files as written: the pixel format the colour id names, frame for frame.
TEST_F(SerExport, FfmpegReadsEightBitExportsFrameForFrame)
{
    SerFixtures fx{"mono8"};
    const int w = 16, h = 8;
    const std::vector<Bytes> planes = NoisePlanes(w, h, 3);
    const std::string raw = RawAvi(out, "bayer", planes, w, h);
    const std::string bgra =
        ffmpegCapture("ser-bgra.avi", "testsrc2=size=20x6:rate=5", "-frames:v 3 -c:v rawvideo -pix_fmt bgra");
    ASSERT_FALSE(bgra.empty());
    const Mode grey{"Normal, greyscale", false, false, 11, true};
    struct Case {
        const char* name;
        std::string capture;
        Mode mode;
        const char* pixFmt;
        std::vector<Bytes> frames; // what ffmpeg must give, rows top-down
    };
    auto rendered = [](const std::string& capture, const Mode& mode, bool dropAlpha = false) {
        std::vector<Bytes> frames = render(capture, mode, {0, 1, 2}).frames;
        for (Bytes& f : frames) {
            if (!dropAlpha)
                continue;
            Bytes bgr;
            for (std::size_t i = 0; i + 3 < f.size(); i += 4)
                bgr.insert(bgr.end(), f.begin() + static_cast<std::ptrdiff_t>(i),
                           f.begin() + static_cast<std::ptrdiff_t>(i + 3));
            f = bgr;
        }
        return frames;
    };
    std::vector<Bytes> mono;
    const NpyArray truth = fx.truth("mono8");
    for (std::size_t i = 0; i < truth.frames(); ++i)
        mono.emplace_back(truth.frame(i), truth.frame(i) + truth.frameBytes());
    const Case cases[] = {
        {"Bayer from a raw AVI", raw, kRawY, "bayer_gbrg8", planes},
        {"MONO from a MONO SER", fx.ser("mono8"), kRawY, "gray", mono},
        {"BGR from Normal", bgr24Capture(20, 6, 3), kNormal, "bgr24", rendered(bgr24Capture(20, 6, 3), kNormal)},
        {"BGR from a 32-bit capture", bgra, kNormal, "bgr24", rendered(bgra, kNormal, true)},
        {"MONO from greyscale", bgr24Capture(20, 6, 3), grey, "gray", rendered(bgr24Capture(20, 6, 3), grey)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.frames.size(), 3u);
        CVideoSource v;
        ASSERT_TRUE(v.Open(c.capture));
        apply(v, c.mode);
        v.m_converter.SetPattern(2); // GR: GBRG
        const std::string path = out.file(std::string(c.name) + ".ser");
        ASSERT_TRUE(v.SaveFramesAsSer(path));
        EXPECT_EQ(probe(path, "pix_fmt"), c.pixFmt);
        std::string decoded;
        ASSERT_EQ(
            run("ffmpeg -v error -f ser -i " + quote(path) + " -f rawvideo -pix_fmt " + c.pixFmt + " -", &decoded), 0);
        Bytes expected;
        for (const Bytes& f : c.frames)
            expected.insert(expected.end(), f.begin(), f.end());
        EXPECT_EQ(Bytes(decoded.begin(), decoded.end()), expected);
    }
    EXPECT_TRUE(messages.messages().empty());
}

// A SER capture exported in a RAW mode keeps its samples, their depth, the frame times of the
// frames written, and what its header says beside them; the colour id follows the rules of the
// pattern buttons.
TEST_F(SerExport, SerCapturesKeepSamplesDepthTimesAndHeader)
{
    SerFixtures fx{"le12-flag0", "be12-flag0", "local12", "times-missing", "mono8", "bayer8-CYYM", "colour8-GRBG"};
    constexpr std::int64_t kHour = 36'000'000'000;
    struct Case {
        const char* fixture;
        Mode mode;
        std::optional<int> pattern; // a button pressed after opening
        std::set<std::int32_t> ticks;
        int colorId;
        int depth;
        std::int64_t localOffset; // DateTime - DateTime_UTC
    };
    const Case cases[] = {
        {"le12-flag0", kRawY, {}, {1, 3}, 8, 12, 0},
        // Stored big-endian: written little-endian like every other.
        {"be12-flag0", kRawY, {}, {0, 2}, 8, 12, 0},
        {"local12", kRawColour, {}, {0, 1, 2, 3}, 10, 12, -5 * kHour},
        // Grey without times stays grey, and gets none.
        {"times-missing", kRawY, {}, {0, 2}, 0, 8, 0},
        // De-mosaiced, a MONO capture is taken for the mosaic of the button pressed.
        {"mono8", kRawColour, 3, {1}, 11, 8, 0},
        // None of the buttons' patterns: it keeps its own.
        {"bayer8-CYYM", kRawY, {}, {0, 1, 2}, 16, 8, 0},
        // The user's button wins over the header's.
        {"colour8-GRBG", kRawY, 1, {0, 1}, 8, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        CVideoSource v;
        ASSERT_TRUE(v.Open(fx.ser(c.fixture)));
        apply(v, c.mode);
        if (c.pattern)
            v.m_converter.SetPattern(*c.pattern);
        const std::string path = out.file(std::string(c.fixture) + "-out.ser");
        ASSERT_TRUE(v.SaveFramesAsSer(path, takeOnly(c.ticks)));
        const SerDump d = dumpSer(path);
        EXPECT_EQ(d.number("ColorID"), c.colorId);
        EXPECT_EQ(d.number("PixelDepthPerPlane"), c.depth);
        EXPECT_EQ(d.number("LittleEndian"), 0);
        EXPECT_EQ(d.text("Observer"), "Observer");
        EXPECT_EQ(d.text("Instrument"), "Camera");
        EXPECT_EQ(d.text("Telescope"), "Telescope");
        const NpyArray truth = fx.truth(c.fixture);
        std::vector<Samples> want;
        std::vector<std::int64_t> times;
        for (std::int32_t i : c.ticks) {
            const std::uint8_t* p = truth.frame(static_cast<std::size_t>(i));
            want.push_back(truth.itemBytes == 2 ? fromLittleEndian(p, truth.frameBytes())
                                                : widen(Bytes(p, p + truth.frameBytes())));
            if (fx.hasTimes(c.fixture))
                times.push_back(fx.times(c.fixture).int64(static_cast<std::size_t>(i)));
        }
        EXPECT_EQ(d.frames, want);
        EXPECT_EQ(d.trailerBytes, static_cast<std::int64_t>(8 * times.size()));
        EXPECT_EQ(d.times, times);
        const std::int64_t first = times.empty() ? 0 : times.front();
        EXPECT_EQ(d.number("DateTime_UTC"), first);
        EXPECT_EQ(d.number("DateTime"), times.empty() ? 0 : first + c.localOffset);
    }
    EXPECT_TRUE(messages.messages().empty());
}

// Siril, a stacking program, reads 8- and 16-bit exports: its sum of each is the sum of the frames
// written, the right way up.
TEST_F(SerExport, SirilSumsEightAndSixteenBitExports)
{
    std::string why;
    if (!haveSiril() || !haveAstropy(&why))
        GTEST_SKIP() << "siril-cli and astropy check these files; " << why;
    SerFixtures fx{"le12-flag0"};
    const int w = 16, h = 8;
    const std::vector<Bytes> planes = NoisePlanes(w, h, 3);
    ScratchDir sequences;
    {
        CVideoSource v;
        ASSERT_TRUE(v.Open(RawAvi(out, "noise", planes, w, h)));
        v.m_bRaw = true;
        ASSERT_TRUE(v.SaveFramesAsSer(sequences.file("avi8.ser"), takeOnly({0, 2})));
        ASSERT_TRUE(v.Open(fx.ser("le12-flag0")));
        ASSERT_TRUE(v.SaveFramesAsSer(sequences.file("ser12.ser"), takeOnly({1, 2, 3})));
    }
    std::string log;
    ASSERT_TRUE(runSiril(sequences.path(),
                         "set16bits\nstack avi8 sum -nonorm -out=avi8_sum\nstack ser12 sum -nonorm -out=ser12_sum\n",
                         &log))
        << log;
    const NpyArray truth = fx.truth("le12-flag0");
    struct Expected {
        const char* file;
        std::vector<Samples> frames;
        int width, height;
    };
    const Expected expected[] = {
        {"avi8_sum.fit", {widen(planes[0]), widen(planes[2])}, w, h},
        {"ser12_sum.fit",
         {fromLittleEndian(truth.frame(1), truth.frameBytes()), fromLittleEndian(truth.frame(2), truth.frameBytes()),
          fromLittleEndian(truth.frame(3), truth.frameBytes())},
         32,
         16},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.file);
        const FitsReadBack f = readWithAstropy(sequences.file(e.file));
        ASSERT_EQ(f.failure, "");
        ASSERT_EQ(f.cols, e.width);
        ASSERT_EQ(f.rows, e.height);
        // Siril stores the picture's bottom row first.
        std::vector<std::uint64_t> shown, sum(static_cast<std::size_t>(e.width * e.height), 0);
        for (int r = f.rows - 1; r >= 0; --r)
            for (int col = 0; col < f.cols; ++col)
                shown.push_back(f.at(r, col));
        for (const Samples& frame : e.frames)
            for (std::size_t k = 0; k < sum.size(); ++k)
                sum[k] += frame[k];
        EXPECT_EQ(shown, sum);
    }
}

// Siril de-mosaics a Bayer export by its colour id into the colours the camera saw: for each
// pattern button a flat colour field of a raw AVI capture, and a 12-bit SER capture.
TEST_F(SerExport, SirilDebayersBayerExportsInTheRightColours)
{
    if (!haveSiril())
        GTEST_SKIP() << "siril-cli checks these files";
    const Rgb colour{200, 120, 40};
    const int w = 16, h = 12;
    ScratchDir sequences;
    std::string script = "set16bits\n";
    struct Expected {
        std::string name;
        int r, g, b; // the colour of the sum of the frames
    };
    std::vector<Expected> expected;
    for (int pattern = 0; pattern < 4; ++pattern) {
        const std::string name = "p" + std::to_string(pattern);
        const Bytes plane = mosaicOf(w, h, pattern, [&](int, int) { return colour; });
        CVideoSource v;
        // Siril takes a sequence of one frame for none: two frames, summed.
        ASSERT_TRUE(v.Open(RawAvi(out, name, {plane, plane}, w, h)));
        v.m_bRaw = true;
        v.m_converter.SetPattern(pattern);
        ASSERT_TRUE(v.SaveFramesAsSer(sequences.file(name + ".ser")));
        expected.push_back({name, 2 * colour.r, 2 * colour.g, 2 * colour.b});
    }
    SerFixtures fx{"colour12-GBRG"};
    {
        // Its two frames' known colours, stored at 12 bits: 16 times the 8-bit values.
        CVideoSource v;
        ASSERT_TRUE(v.Open(fx.ser("colour12-GBRG")));
        v.m_bRaw = true;
        ASSERT_TRUE(v.SaveFramesAsSer(sequences.file("c12.ser")));
        expected.push_back({"c12", (200 + 30) * 16, (120 + 90) * 16, (40 + 220) * 16});
    }
    for (const Expected& e : expected)
        script += "preprocess " + e.name + " -debayer\nstack pp_" + e.name + " sum -nonorm -out=" + e.name + "_rgb\n";
    std::string log;
    ASSERT_TRUE(runSiril(sequences.path(), script, &log)) << log;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        std::string values;
        ASSERT_EQ(run("/usr/bin/python3 -c " +
                          quote("import sys; from astropy.io import fits; d = fits.getdata(sys.argv[1]); "
                                "print(*[int(d[c, 6, 8]) for c in range(3)])") +
                          " " + quote(sequences.file(e.name + "_rgb.fit")),
                      &values),
                  0);
        EXPECT_EQ(values, std::to_string(e.r) + " " + std::to_string(e.g) + " " + std::to_string(e.b) + "\n");
    }
}

// A frame whose stored plane cannot be read is left out, told once at the end, and the file holds
// the others in their order.
TEST_F(SerExport, FramesThatCannotBeReadAreLeftOutAndToldOnce)
{
    const int w = 16, h = 8;
    const std::vector<Bytes> planes = NoisePlanes(w, h, 6);
    const std::string capture = RawAvi(out, "gaps", planes, w, h);
    AviReadServices services;
    services.streamReadPart = [](PAVISTREAM s, LONG start, LONG offset, LONG row, LONG rows, void* buf, LONG stride,
                                 LONG* bytes) {
        return start == 1 || start == 4 ? AVIERR_FILEREAD
                                        : AVIStreamReadPart(s, start, offset, row, rows, buf, stride, bytes);
    };
    CVideoSource v(services);
    ASSERT_TRUE(v.Open(capture));
    v.m_bRaw = true;
    const std::string path = out.file("gaps.ser");
    EXPECT_FALSE(v.SaveFramesAsSer(path));
    EXPECT_EQ(messages.messages(),
              (std::vector<kestro::ui::Message>{{"2 frames of gaps.avi could not be read and were left out: frames 1 "
                                                 "and 4.\nFrame 1: A disk error occurred while reading the file.",
                                                 "Frames left out", kestro::ui::Icon::Warning}}));
    const SerDump d = dumpSer(path);
    EXPECT_EQ(d.number("FrameCount"), 4);
    EXPECT_EQ(d.frames, (std::vector<Samples>{widen(planes[0]), widen(planes[2]), widen(planes[3]), widen(planes[5])}));
}

// What a SER export writes is one file, the path itself: the checks before any export apply to it.
TEST_F(SerExport, IsCheckedLikeEveryExportBeforeItWrites)
{
    const std::string capture = RawAvi(out, "checked", NoisePlanes(16, 8, 2), 16, 8);
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    v.m_bRaw = true;
    // The capture itself, under its own name.
    EXPECT_FALSE(v.SaveFramesAsSer(capture));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages().front().caption, "Output is the capture");
    // Nothing ticked.
    messages.clear();
    EXPECT_FALSE(v.SaveFramesAsSer(out.file("none.ser"), takeOnly({})));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages().front().caption, "Nothing to export");
    // A folder of the name.
    messages.clear();
    std::filesystem::create_directory(out.file("folder.ser"));
    EXPECT_FALSE(v.SaveFramesAsSer(out.file("folder.ser")));
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages().front().caption, "Output is not a file");
    EXPECT_EQ(kestro::exports::PlannedFiles(kestro::exports::ExportKind::Ser, "/a/b.ser", 40, 1),
              std::vector<std::string>{"/a/b.ser"});
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"checked.avi", "checked.yuv", "folder.ser"}));
}

} // namespace
