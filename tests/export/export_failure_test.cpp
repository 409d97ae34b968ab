// Exports that cannot finish: a folder that is missing, read-only or full, frames that cannot be
// read, a display mode the capture cannot be shown in. Each ends with one message that names the
// file and the reason, a false result, no half-written file, and earlier files left as they were.
#include "export_fixture.h"
#include "export_report.h"
#include "restricted_folder.h"

#include <functional>

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::ui::Message;
using kestro::ui::MessageRecorder;

const Bytes kEarlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};

struct Engine {
    const char* name;
    const char* chosen;  // the name picked in the dialog
    const char* earlier; // a file of an earlier export that the failure must leave alone
    const char* caption; // of the message when nothing could be created
    std::function<bool(CVideoSource&, const std::string&, ExportReport*)> run;
};
const Engine kEngines[] = {
    {"AVI", "x.avi", "x.avi", "AVIFileOpen",
     [](CVideoSource& v, const std::string& p, ExportReport* r) { return v.SaveFramesAsAvi(p, {}, {}, r); }},
    // The last number of the series: the full disk stops the series long before it.
    {"BMP", "x.bmp", "x_0039.bmp", "WriteBmpFile",
     [](CVideoSource& v, const std::string& p, ExportReport* r) { return v.SaveFramesAsBmp(p, {}, {}, r); }},
    {"RGB", "x.avi", "x_b.avi", "AVIFileOpen",
     [](CVideoSource& v, const std::string& p, ExportReport* r) { return v.SaveRgbChannels(p, {}, {}, r); }},
    {"SER", "x.ser", "x.ser", "SerWriter::open",
     [](CVideoSource& v, const std::string& p, ExportReport* r) { return v.SaveFramesAsSer(p, {}, {}, r); }},
};

class ExportFailure : public testing::Test {
protected:
    void SetUp() override
    {
        // 40 frames of 56 KiB: more than the full folder holds, and more than the AVI writer keeps
        // in its buffer, so the disk fills up while frames are written.
        capture = bgr24Capture(160, 120, 40);
        if (capture.empty())
            GTEST_SKIP() << "ffmpeg writes the capture of these tests";
    }
    std::string capture;
    ScratchDir out;
    MessageRecorder messages;
};

// Whatever is left in the folder: the earlier file as it was, and for a BMP series only whole
// files numbered from 0 in a row; never a temporary file.
void expectNothingHalfWritten(const std::filesystem::path& folder, const Engine& e, int bmpWritten)
{
    EXPECT_EQ(readFile((folder / e.earlier).string()), kEarlier) << "an earlier file was touched";
    for (const std::string& name : namesIn(folder)) {
        EXPECT_NE(name.front(), '.') << "temporary file left behind: " << name;
        if (name == e.earlier)
            continue;
        ASSERT_STREQ(e.name, "BMP") << "unexpected file " << name;
        const int n = std::stoi(name.substr(2, name.size() - 6));
        EXPECT_LT(n, bmpWritten) << name;
        EXPECT_EQ(std::filesystem::file_size(folder / name), 54u + 160u * 120u * 3u) << name;
    }
}

TEST_F(ExportFailure, AMissingFolderIsToldOnceAndNothingIsWritten)
{
    for (const Engine& e : kEngines) {
        SCOPED_TRACE(e.name);
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        const std::string target = out.file(std::string("missing/") + e.chosen);
        EXPECT_FALSE(e.run(v, target, nullptr));
        ASSERT_EQ(messages.messages().size(), 1u);
        const Message& m = messages.messages().front();
        EXPECT_EQ(m.caption, e.caption);
        EXPECT_TRUE(contains(m.text, out.file("missing/x"))) << m.text;
        EXPECT_TRUE(contains(m.text, "the folder does not exist")) << m.text;
        EXPECT_TRUE(namesIn(out.path()).empty());
    }
}

TEST_F(ExportFailure, AReadOnlyFolderIsToldOnceAndKeepsItsFiles)
{
    for (const Engine& e : kEngines) {
        SCOPED_TRACE(e.name);
        RestrictedFolder folder(RestrictedFolder::Kind::ReadOnly,
                                [&](const std::filesystem::path& p) { writeFile((p / e.earlier).string(), kEarlier); });
        if (!folder.available())
            GTEST_SKIP() << folder.reason();
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        EXPECT_FALSE(e.run(v, folder.file(e.chosen), nullptr));
        ASSERT_EQ(messages.messages().size(), 1u);
        const Message& m = messages.messages().front();
        EXPECT_EQ(m.caption, e.caption);
        EXPECT_TRUE(contains(m.text, folder.file("x"))) << m.text;
        EXPECT_TRUE(contains(m.text, "permission to write there was refused") ||
                    contains(m.text, "the disk is read-only"))
            << m.text;
        expectNothingHalfWritten(folder.path(), e, 0);
    }
}

TEST_F(ExportFailure, AFullDiskStopsTheExportAndLeavesNoHalfFile)
{
    for (const Engine& e : kEngines) {
        SCOPED_TRACE(e.name);
        RestrictedFolder folder(
            RestrictedFolder::Kind::Full,
            [&](const std::filesystem::path& p) { writeFile((p / e.earlier).string(), kEarlier); }, 1536 * 1024);
        if (!folder.available())
            GTEST_SKIP() << folder.reason();
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        ExportReport report;
        EXPECT_FALSE(e.run(v, folder.file(e.chosen), &report));
        EXPECT_TRUE(messages.messages().empty()) << "with a report the caller tells the user";
        const std::optional<Message> m = DescribeExport(report);
        ASSERT_TRUE(m.has_value());
        EXPECT_TRUE(contains(m->text, "the disk is full")) << m->text;
        EXPECT_TRUE(contains(m->text, folder.file("x"))) << m->text;
        if (e.name == std::string("BMP")) {
            EXPECT_GT(report.nFramesWritten, 1);
            EXPECT_TRUE(
                contains(m->text, "the " + std::to_string(report.nFramesWritten) + " files written before it are kept"))
                << m->text;
        } else {
            // The writer buffers up to 1 MiB: a small file may only fill the disk when completed. The
            // SER writer sets room aside for every frame first, and a disk too small says so then.
            if (e.name == std::string("AVI"))
                EXPECT_TRUE(contains(m->text, "Unable to write frame ")) << m->text;
            else if (e.name == std::string("SER"))
                EXPECT_TRUE(contains(m->text, "Unable to create ") || contains(m->text, "Unable to write frame "))
                    << m->text;
            else
                EXPECT_TRUE(contains(m->text, "Unable to write frame ") || m->caption == "AVIFileCommit") << m->text;
            EXPECT_TRUE(report.files.empty());
        }
        expectNothingHalfWritten(folder.path(), e, report.nFramesWritten);
    }
}

// A disk with less room than one frame: nothing can be written, and the message names the frame
// that could not be, frame 0, not the one at which the writer's buffer overflowed.
TEST_F(ExportFailure, AFullDiskBeforeTheFirstFrameNamesIt)
{
    for (const Engine& e : kEngines) {
        SCOPED_TRACE(e.name);
        RestrictedFolder folder(
            RestrictedFolder::Kind::Full,
            [&](const std::filesystem::path& p) { writeFile((p / e.earlier).string(), kEarlier); }, 24 * 1024);
        if (!folder.available())
            GTEST_SKIP() << folder.reason();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        ExportReport report;
        EXPECT_FALSE(e.run(v, folder.file(e.chosen), &report));
        const std::optional<Message> m = DescribeExport(report);
        ASSERT_TRUE(m.has_value());
        EXPECT_TRUE(contains(m->text, "the disk is full")) << m->text;
        if (e.name == std::string("BMP"))
            EXPECT_TRUE(contains(m->text, "(frame 0): the disk is full.\nThe export stopped there; no file was "
                                          "written before it."))
                << m->text;
        else if (e.name == std::string("SER"))
            EXPECT_TRUE(contains(m->text, "Unable to create ")) << m->text;
        else
            EXPECT_TRUE(contains(m->text, "Unable to write frame 0 to ")) << m->text;
        EXPECT_EQ(report.nFramesWritten, 0);
        expectNothingHalfWritten(folder.path(), e, 0);
    }
}

// Asked to stop (Ctrl+C on the command line), an export ends at the next frame like a failed one:
// no unfinished file, earlier files as they were, and the report says it stopped.
TEST_F(ExportFailure, StoppingLeavesNoUnfinishedFile)
{
    for (const Engine& e : kEngines) {
        SCOPED_TRACE(e.name);
        ScratchDir folder;
        writeFile(folder.file(e.earlier), kEarlier);
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        std::atomic<bool> stop{false};
        v.SetStopFlag(&stop);
        int steps = 0;
        ExportReport report;
        const FramePredicate all = [](std::int32_t) { return true; };
        const ProgressCallback stopAtThree = [&] { stop = ++steps == 3; };
        const bool ok =
            e.name == std::string("AVI")   ? v.SaveFramesAsAvi(folder.file(e.chosen), all, stopAtThree, &report)
            : e.name == std::string("BMP") ? v.SaveFramesAsBmp(folder.file(e.chosen), all, stopAtThree, &report)
            : e.name == std::string("SER") ? v.SaveFramesAsSer(folder.file(e.chosen), all, stopAtThree, &report)
                                           : v.SaveRgbChannels(folder.file(e.chosen), all, stopAtThree, &report);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(report.bStopped);
        EXPECT_EQ(steps, 3);
        ASSERT_TRUE(report.failure.has_value());
        EXPECT_EQ(report.failure->caption, "Stopped");
        // The message says what became of the files: a single AVI or the three channel files are
        // never half there, so none was completed; a BMP series keeps the three written before.
        const std::optional<kestro::ui::Message> told = DescribeExport(report);
        ASSERT_TRUE(told.has_value());
        EXPECT_EQ(told->text, e.name == std::string("BMP")
                                  ? "Stopped before frame 3, as asked; the 3 files completed before it are kept, "
                                    "and no unfinished file was left."
                                  : "Stopped before frame 3, as asked; no file was completed before it, and no "
                                    "unfinished file was left.");
        expectNothingHalfWritten(folder.path(), e, 3);
        EXPECT_TRUE(messages.messages().empty());
    }
}

// Frames the video source cannot read in a RAW mode are left out and told about once, at the
// end, with how many and which; the others are all written.
TEST_F(ExportFailure, UnreadableFramesAreLeftOutAndToldOnce)
{
    static const std::set<LONG> unreadable = {3, 5};
    AviReadServices services;
    services.streamRead = [](PAVISTREAM s, LONG start, LONG n, void* buf, LONG size, LONG* bytes, LONG* samples) {
        if (buf && unreadable.contains(start))
            return AVIERR_FILEREAD;
        return AVIStreamRead(s, start, n, buf, size, bytes, samples);
    };
    services.streamReadPart = [](PAVISTREAM s, LONG start, LONG offset, LONG row, LONG rows, void* buf, LONG stride,
                                 LONG* bytes) {
        if (unreadable.contains(start))
            return AVIERR_FILEREAD;
        return AVIStreamReadPart(s, start, offset, row, rows, buf, stride, bytes);
    };
    CVideoSource v(services);
    ASSERT_TRUE(v.Open(sample("--width 64 --height 48 --frames 8 --dropped none")));
    v.m_bRaw = true;
    const std::string path = out.file("raw.avi");
    EXPECT_FALSE(v.SaveFramesAsAvi(path));
    const std::string name = std::filesystem::path(v.GetFileName()).filename().string();
    EXPECT_EQ(messages.messages(), (std::vector<Message>{{"2 frames of " + name +
                                                              " could not be read and were left out: frames 3 and 5.\n"
                                                              "Frame 3: A disk error occurred while reading the file.",
                                                          "Frames left out", kestro::ui::Icon::Warning}}));
    EXPECT_EQ(probe(path, "nb_read_frames", true), "6");
    EXPECT_TRUE(v.m_bRaw);
}

TEST_F(ExportFailure, ACaptureThatCannotBeShownRawIsRefusedBeforeAnythingIsWritten)
{
    const std::string mjpeg = ffmpegCapture("mjpeg.avi", "testsrc2=size=64x48:rate=5", "-frames:v 3 -c:v mjpeg");
    CVideoSource v;
    ASSERT_TRUE(v.Open(mjpeg));
    v.m_bRaw = true;
    for (const Engine& e : kEngines) {
        SCOPED_TRACE(e.name);
        messages.clear();
        EXPECT_FALSE(e.run(v, out.file(e.chosen), nullptr));
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages().front().caption, "RAW display");
        const std::string& text = messages.messages().front().text;
        EXPECT_TRUE(text.starts_with("mjpeg.avi cannot be exported in RAW Y-channel: frame 0 is stored in ")) << text;
        EXPECT_TRUE(text.ends_with(" bytes, too few for its 3072 sensor values.\nNothing was written.")) << text;
        EXPECT_TRUE(v.m_bRaw) << "asking switches no mode";
        EXPECT_TRUE(namesIn(out.path()).empty());
    }
}

} // namespace
