// What every export checks before it writes: that it takes some frame, that none of its files is
// the capture it reads or something other than a file, and which files it will write; and how it
// numbers the frames of a stream whose header starts past 0.
#include "export_fixture.h"
#include "export_frames.h"
#include "export_plan.h"
#include "export_report.h"
#include "frame_scorer.h"
#include "temporary_names.h"

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::exports::ExportKind;
using kestro::ui::Message;
using kestro::ui::MessageRecorder;
namespace fs = std::filesystem;

struct Engine {
    const char* name;
    ExportKind kind;
    std::function<bool(CVideoSource&, const std::string&, FramePredicate)> run;
};
const Engine kEngines[] = {
    {"AVI", ExportKind::Avi,
     [](CVideoSource& v, const std::string& p, FramePredicate t) { return v.SaveFramesAsAvi(p, std::move(t)); }},
    {"BMP", ExportKind::Bmp,
     [](CVideoSource& v, const std::string& p, FramePredicate t) { return v.SaveFramesAsBmp(p, std::move(t)); }},
    {"RGB", ExportKind::Rgb,
     [](CVideoSource& v, const std::string& p, FramePredicate t) { return v.SaveRgbChannels(p, std::move(t)); }},
    {"FITS", ExportKind::Fits,
     [](CVideoSource& v, const std::string& p, FramePredicate t) { return v.SaveFitsBlocks(p, 2, std::move(t)); }},
};

class ExportPlanning : public testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffmpeg") || !haveTool("ffprobe"))
            GTEST_SKIP() << "ffmpeg writes and checks the captures of these tests";
    }
    ScratchDir out;
    MessageRecorder messages;
};

TEST(ExportNames, PlannedFilesAndEarlierSeries)
{
    using kestro::exports::PlannedFiles;
    EXPECT_EQ(PlannedFiles(ExportKind::Avi, "/o/x.avi", 7, 1), std::vector<std::string>{"/o/x.avi"});
    EXPECT_EQ(PlannedFiles(ExportKind::Bmp, "/o/x.bmp", 2, 1),
              (std::vector<std::string>{"/o/x_0000.bmp", "/o/x_0001.bmp"}));
    EXPECT_EQ(PlannedFiles(ExportKind::Rgb, "/o/x.avi", 7, 1),
              (std::vector<std::string>{"/o/x_b.avi", "/o/x_g.avi", "/o/x_r.avi"}));
    EXPECT_EQ(PlannedFiles(ExportKind::Fits, "/o/m42.lum", 5, 2),
              (std::vector<std::string>{"/o/m42_0000.lum.fit", "/o/m42_0001.lum.fit", "/o/m42_0002.lum.fit"}));
    EXPECT_TRUE(PlannedFiles(ExportKind::Fits, "/o/x", 5, 0).empty());

    // An earlier series of 20 BMP files and 4 FITS files, and names that only look like theirs.
    ScratchDir dir;
    for (int n = 0; n < 20; ++n)
        writeFile(dir.file(kestro::exports::Format("x_%.4d.bmp", n)), {1});
    for (const char* other : {"x_01.bmp", "x_0005b.bmp", "y_0007.bmp", "x_0007.BMP", "x_0003.fit", "x_0000.fit",
                              "x_0001.fit", "x_0002.fit", "x_00004.fit"})
        writeFile(dir.file(other), {1});
    using kestro::exports::EarlierSeriesFiles;
    std::vector<std::string> stale;
    for (int n = 5; n < 20; ++n)
        stale.push_back(dir.file(kestro::exports::Format("x_%.4d.bmp", n)));
    EXPECT_EQ(EarlierSeriesFiles(ExportKind::Bmp, dir.file("x.bmp"), 5), stale);
    EXPECT_TRUE(EarlierSeriesFiles(ExportKind::Bmp, dir.file("x.bmp"), 20).empty());
    EXPECT_EQ(EarlierSeriesFiles(ExportKind::Fits, dir.file("x"), 2),
              (std::vector<std::string>{dir.file("x_0002.fit"), dir.file("x_0003.fit")}));
    EXPECT_TRUE(EarlierSeriesFiles(ExportKind::Avi, dir.file("x.avi"), 0).empty());
    EXPECT_EQ(kestro::exports::DescribeFiles(stale), "x_0005.bmp \u2026 x_0019.bmp, 15 files");
    EXPECT_EQ(kestro::exports::DescribeFiles({stale[0], stale[1]}), "x_0005.bmp and x_0006.bmp");
}

TEST(ExportNames, LeftoverTemporariesAreTheFilesOfTheTemporaryPattern)
{
    ScratchDir dir;
    std::vector<std::string> expected;
    for (const TemporaryNameCase& c : kTemporaryNameCases) {
        writeFile(dir.file(c.name), {});
        if (c.temporary)
            expected.push_back(dir.file(c.name));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(kestro::exports::LeftoverTemporaries(dir.path().string()), expected);
}

TEST(ExportNames, CountsReadRightForNoneOneAndMany)
{
    using kestro::exports::KeptFiles;
    EXPECT_EQ(KeptFiles(0, "written"), "no file was written before it");
    EXPECT_EQ(KeptFiles(1, "written"), "the one file written before it is kept");
    EXPECT_EQ(KeptFiles(3, "saved"), "the 3 files saved before it are kept");
    EXPECT_EQ(kestro::exports::Count(1, "frame", "frames"), "1 frame");
    EXPECT_EQ(kestro::exports::Count(0, "frame", "frames"), "0 frames");
}

// Nothing taken, whether nothing is ticked or only frames the camera dropped are: no file at all,
// not an empty one, and an earlier file of the name stays.
TEST_F(ExportPlanning, NothingTakenWritesNothing)
{
    const std::string capture = sample("--width 64 --height 48 --frames 8 --dropped 2,5");
    for (const Engine& e : kEngines) {
        for (const std::set<std::int32_t>& ticks : {std::set<std::int32_t>{}, std::set<std::int32_t>{2, 5}}) {
            SCOPED_TRACE(std::string(e.name) + (ticks.empty() ? ", nothing ticked" : ", dropped frames ticked"));
            ScratchDir folder;
            writeFile(folder.file("x.avi"), {'e'});
            messages.clear();
            CVideoSource v;
            ASSERT_TRUE(v.Open(capture));
            EXPECT_FALSE(e.run(v, folder.file("x.avi"), takeOnly(ticks)));
            ASSERT_EQ(messages.messages().size(), 1u);
            EXPECT_EQ(messages.messages().front().caption, "Nothing to export");
            EXPECT_TRUE(contains(messages.messages().front().text, "Nothing was written."));
            EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"x.avi"});
            EXPECT_EQ(readFile(folder.file("x.avi")), Bytes{'e'});
        }
    }
}

// Every file an export would write is compared with the capture by identity, so neither the same
// name nor another path to the same file (a symbolic or a hard link) lets it be overwritten.
TEST_F(ExportPlanning, NoOutputIsTheCaptureItself)
{
    const std::string original = sample("--width 64 --height 48 --frames 4 --dropped none");
    const Bytes stored = readFile(original);
    struct Case {
        const char* how;
        const char* captureName; // the capture, copied into the output folder under this name
        const char* linkName;    // another name for it, or null
        bool symbolic;
        std::size_t engine;
        const char* chosen;   // the name chosen for the export
        const char* clashing; // the export's file that is the capture
    };
    const Case cases[] = {
        {"same name", "x.avi", nullptr, false, 0, "x.avi", "x.avi"},
        {"symbolic link", "x.avi", "link.avi", true, 0, "link.avi", "link.avi"},
        {"hard link", "x.avi", "hard.avi", false, 0, "hard.avi", "hard.avi"},
        {"a file of a BMP series", "x_0001.bmp", nullptr, false, 1, "x.bmp", "x_0001.bmp"},
        {"an RGB channel file", "x_g.avi", nullptr, false, 2, "x.avi", "x_g.avi"},
        {"a FITS file", "m_0001.fit", nullptr, false, 3, "m", "m_0001.fit"},
    };
    for (const Case& c : cases) {
        const Engine& e = kEngines[c.engine];
        SCOPED_TRACE(std::string(e.name) + ", " + c.how);
        ScratchDir folder;
        const std::string capture = folder.file(c.captureName);
        writeFile(capture, stored);
        if (c.linkName) {
            const std::string link = folder.file(c.linkName);
            ASSERT_EQ(c.symbolic ? ::symlink(capture.c_str(), link.c_str()) : ::link(capture.c_str(), link.c_str()), 0);
        }
        const std::vector<std::string> before = namesIn(folder.path());
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        EXPECT_FALSE(e.run(v, folder.file(c.chosen), {}));
        ASSERT_EQ(messages.messages().size(), 1u);
        const Message& m = messages.messages().front();
        EXPECT_EQ(m.caption, "Output is the capture");
        EXPECT_TRUE(contains(m.text, folder.file(c.clashing))) << m.text;
        EXPECT_TRUE(contains(m.text, "Nothing was written.")) << m.text;
        EXPECT_EQ(readFile(capture), stored);
        EXPECT_EQ(namesIn(folder.path()), before);
        if (c.symbolic) {
            EXPECT_TRUE(fs::is_symlink(folder.file(c.linkName))) << "the link itself is not replaced either";
        }
    }
}

TEST_F(ExportPlanning, AnOutputThatIsNotAFileIsRefused)
{
    const std::string capture = sample("--width 64 --height 48 --frames 4 --dropped none");
    ScratchDir folder;
    fs::create_directory(folder.file("dir.avi"));
    ASSERT_EQ(::mkfifo(folder.file("pipe.avi").c_str(), 0600), 0);
    for (const char* name : {"dir.avi", "pipe.avi"}) {
        SCOPED_TRACE(name);
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        EXPECT_FALSE(v.SaveFramesAsAvi(folder.file(name)));
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages().front().caption, "Output is not a file");
        EXPECT_TRUE(contains(messages.messages().front().text, folder.file(name)));
    }
    EXPECT_TRUE(fs::is_directory(folder.file("dir.avi")));
    EXPECT_TRUE(fs::is_fifo(folder.file("pipe.avi")));
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"dir.avi", "pipe.avi"}));
}

// The same checks without the export: true exactly where the export would go ahead, and nothing
// written either way.
TEST_F(ExportPlanning, CheckExportAgreesWithTheExport)
{
    const std::string raw = sample("--width 64 --height 48 --frames 4 --dropped none");
    const std::string narrow = sample("--width 62 --height 48 --frames 2 --dropped none");
    const std::string mjpeg = ffmpegCapture("plan-mjpeg.avi", "testsrc2=size=64x48:rate=5", "-frames:v 2 -c:v mjpeg");
    const std::string bgra =
        ffmpegCapture("plan-bgra.avi", "testsrc2=size=64x48:rate=5", "-frames:v 2 -c:v rawvideo -pix_fmt bgra");
    struct Case {
        const char* what;
        std::string capture;
        Mode mode;
        ExportKind kind;
        const char* refusal; // caption, or null when the export goes ahead
    };
    const Case cases[] = {
        {"RAW Y-channel AVI", raw, kRawY, ExportKind::Avi, nullptr},
        {"RAW colour RGB files", raw, kRawColour, ExportKind::Rgb, nullptr},
        {"RAW on a width of 62", narrow, kRawY, ExportKind::Avi, "RAW display"},
        {"RAW on MJPEG", mjpeg, kRawColour, ExportKind::Bmp, "RAW display"},
        {"RAW on 32-bit frames", bgra, kRawY, ExportKind::Fits, "RAW display"},
        {"RGB files of RAW Y-channel", raw, kRawY, ExportKind::Rgb, "Input is not 24 bit frame"},
        {"RGB files in greyscale",
         raw,
         {"Greyscale", false, false, 11, true},
         ExportKind::Rgb,
         "Input is not 24 bit frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.capture.empty());
        CVideoSource v;
        ASSERT_TRUE(v.Open(c.capture));
        apply(v, c.mode);
        ExportReport report;
        kestro::exports::ExportPlan plan;
        const bool ready = kestro::exports::CheckExport(v, {c.kind, out.file("x.avi"), 1, {}}, report, &plan);
        EXPECT_EQ(ready, c.refusal == nullptr);
        if (c.refusal) {
            ASSERT_TRUE(report.failure.has_value());
            EXPECT_EQ(report.failure->caption, c.refusal);
        }
        EXPECT_FALSE(plan.files.empty());
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_TRUE(namesIn(out.path()).empty());
        EXPECT_EQ(v.m_bRaw, c.mode.raw) << "asking switches no mode";
    }
}

// A copy of the capture whose video stream's header says it starts at sample `start`.
std::string withStart(const std::string& capture, std::uint32_t start, const std::string& copy)
{
    Bytes b = readFile(capture);
    const std::string bytes(b.begin(), b.end());
    const std::size_t strh = bytes.find("strh");
    EXPECT_NE(strh, std::string::npos);
    for (int k = 0; k < 4; ++k)
        b[strh + 8 + 28 + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(start >> (8 * k));
    writeFile(copy, b);
    return copy;
}

// The header's start is where the services number the samples from; the frames are still all
// there, numbered from 0 as the list shows them, and every export and the scores take them all.
TEST_F(ExportPlanning, AStreamThatStartsPastZeroKeepsEveryFrame)
{
    const std::string capture = bgr24Capture(64, 48, 5);
    const std::vector<Bytes> pictures = decodeAll(capture, 24, 64, 48);
    ASSERT_EQ(pictures.size(), 5u);
    for (std::uint32_t start : {1u, 3u, 1000u}) {
        SCOPED_TRACE(start);
        const std::string shifted = withStart(capture, start, out.file("start" + std::to_string(start) + ".avi"));
        EXPECT_EQ(probe(shifted, "nb_read_frames", true), "5") << "ffmpeg reads every frame";
        CVideoSource v;
        ASSERT_TRUE(v.Open(shifted));
        ASSERT_EQ(v.GetFrameCount(), 5);
        for (std::int32_t i = 0; i < 5; ++i) {
            EXPECT_EQ(v.FindDataFrame(i), i);
            EXPECT_EQ(v.GoToFrame(i), i);
            const BITMAPINFOHEADER* b = v.GetFrameBitmap();
            ASSERT_NE(b, nullptr);
            EXPECT_TRUE(bitmaps::topDown(b) == pictures[static_cast<std::size_t>(i)]) << "frame " << i;
        }
        EXPECT_EQ(v.GoToFrame(5), 4) << "past the end nothing changes";

        const std::string path = out.file("from" + std::to_string(start) + ".avi");
        EXPECT_TRUE(v.SaveFramesAsAvi(path, takeOnly({1, 2, 4})));
        const std::vector<Bytes> written = decodeAll(path, 24, 64, 48);
        ASSERT_EQ(written.size(), 3u);
        EXPECT_TRUE(written[0] == pictures[1] && written[1] == pictures[2] && written[2] == pictures[4]);

        const kestro::quality::ScoreOutcome scored =
            kestro::quality::ScoreFrames({shifted, {}, kestro::quality::ScoreSource::Decoded, 1});
        ASSERT_EQ(scored.scores.size(), 5u) << scored.error;
        for (std::int32_t i = 0; i < 5; ++i)
            EXPECT_EQ(scored.scores[static_cast<std::size_t>(i)].frame, i);
    }
    EXPECT_TRUE(messages.messages().empty());
}

} // namespace
