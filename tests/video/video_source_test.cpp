// CVideoSource on real captures: ones the sample tool writes (I420 whose Y plane is a Bayer
// mosaic, frames 5 and 12 dropped) and ones ffmpeg writes. The AVI services are wrapped by a
// spy that counts what is opened and released and can inject the failures real files seldom
// produce.
#include "video_source.h"

#include "cfa_converter.h"
#include "dor2ezu.h"
#include "greyscale.h"
#include "message_box.h"
#include "frame_bitmaps.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using kestro::test::haveTool;
using kestro::test::quote;
using kestro::test::run;
using kestro::test::writeFile;
using kestro::ui::Message;
using kestro::ui::MessageRecorder;
using Bytes = std::vector<std::uint8_t>;
using namespace kestro::test::bitmaps;

// --- Captures, made once per test process ----------------------------------------------

kestro::test::ScratchDir& scratch()
{
    static kestro::test::ScratchDir dir;
    return dir;
}

// The sample tool's capture with the given arguments, cached by them.
std::string sample(const std::string& args)
{
    static std::map<std::string, std::string> made;
    auto [it, fresh] = made.try_emplace(args, scratch().file("sample" + std::to_string(made.size()) + ".avi"));
    if (fresh)
        kestro::test::makeSample(it->second, args);
    return it->second;
}

// 640 x 480, 30 frames, 5 and 12 without data.
std::string dropped() { return sample(""); }
std::string noDrops() { return sample("--frames 8 --dropped none"); }

// A capture ffmpeg writes with the given output options; empty when ffmpeg is missing.
std::string ffmpegCapture(const std::string& name, const std::string& input, const std::string& output)
{
    static std::map<std::string, std::string> made;
    auto [it, fresh] = made.try_emplace(name, scratch().file(name));
    if (fresh && run("ffmpeg -v error -y " + input + " " + output + " " + quote(it->second)) != 0)
        it->second.clear();
    return it->second;
}

// The stored samples of a capture without dropped frames, copied out by ffmpeg unchanged.
Bytes storedSample(const std::string& path, int n, std::size_t sampleBytes)
{
    std::string out;
    EXPECT_EQ(run("ffmpeg -v error -i " + quote(path) + " -map 0:v -c copy -f rawvideo -", &out), 0);
    const std::size_t at = static_cast<std::size_t>(n) * sampleBytes;
    if (out.size() < at + sampleBytes)
        return {};
    return Bytes(out.begin() + static_cast<std::ptrdiff_t>(at),
                 out.begin() + static_cast<std::ptrdiff_t>(at + sampleBytes));
}

int largestDifference(const Bytes& a, const Bytes& b)
{
    if (a.size() != b.size())
        return 256;
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::abs(int{a[i]} - int{b[i]}));
    return worst;
}

// --- The spy around the AVI services --------------------------------------------------

struct Spy {
    int inits = 0, exits = 0;
    int files = 0, streams = 0, decoders = 0; // open minus released
    std::vector<LONG> decoded;                // positions handed to AVIStreamGetFrame
    bool failInfo = false, failDecoderOpen = false, failDecode = false;
    bool emptyRect = false, noSuggestedSize = false;
    std::optional<RECT> rect;       // the stream header's frame rectangle, as a writer got it wrong
    HRESULT readResult = AVIERR_OK; // for reads into a buffer
    LONG readShortBy = 0;           // bytes the sample is reported shorter than it is
    LONG partBytes = 0;             // bytes the last AVIStreamReadPart asked for
};
Spy g_spy;

AviReadServices spyServices()
{
    AviReadServices s;
    s.fileInit = [] {
        ++g_spy.inits;
        AVIFileInit();
    };
    s.fileExit = [] {
        ++g_spy.exits;
        AVIFileExit();
    };
    s.fileOpen = [](PAVIFILE* f, const char* name, UINT mode, const void* h) {
        const HRESULT hr = AVIFileOpenA(f, name, mode, h);
        g_spy.files += hr == AVIERR_OK;
        return hr;
    };
    s.fileRelease = [](PAVIFILE f) {
        --g_spy.files;
        return AVIFileRelease(f);
    };
    s.fileGetStream = [](PAVIFILE f, PAVISTREAM* st, DWORD type, LONG i) {
        const HRESULT hr = AVIFileGetStream(f, st, type, i);
        g_spy.streams += hr == AVIERR_OK;
        return hr;
    };
    s.streamRelease = [](PAVISTREAM st) {
        --g_spy.streams;
        return AVIStreamRelease(st);
    };
    s.streamInfo = [](PAVISTREAM st, AVISTREAMINFOA* info, LONG size) {
        if (g_spy.failInfo)
            return AVIERR_BADHANDLE;
        const HRESULT hr = AVIStreamInfoA(st, info, size);
        if (g_spy.emptyRect)
            info->rcFrame = {};
        if (g_spy.rect)
            info->rcFrame = *g_spy.rect;
        if (g_spy.noSuggestedSize)
            info->dwSuggestedBufferSize = 0;
        return hr;
    };
    s.getFrameOpen = [](PAVISTREAM st, const BITMAPINFOHEADER* wanted) -> PGETFRAME {
        if (g_spy.failDecoderOpen)
            return nullptr;
        PGETFRAME g = AVIStreamGetFrameOpen(st, wanted);
        g_spy.decoders += g != nullptr;
        return g;
    };
    s.getFrameClose = [](PGETFRAME g) {
        --g_spy.decoders;
        return AVIStreamGetFrameClose(g);
    };
    s.getFrame = [](PGETFRAME g, LONG pos) -> void* {
        g_spy.decoded.push_back(pos);
        return g_spy.failDecode ? nullptr : AVIStreamGetFrame(g, pos);
    };
    // readShortBy makes the sample that much shorter, to the size query and to a read alike.
    s.streamRead = [](PAVISTREAM st, LONG start, LONG n, void* buf, LONG size, LONG* bytes, LONG* samples) {
        if (buf && g_spy.readResult != AVIERR_OK)
            return g_spy.readResult;
        const HRESULT hr = AVIStreamRead(st, start, n, buf, size, bytes, samples);
        if (bytes)
            *bytes -= g_spy.readShortBy;
        return hr;
    };
    s.streamReadPart = [](PAVISTREAM st, LONG start, LONG offset, LONG row, LONG rows, void* buf, LONG stride,
                          LONG* bytes) {
        g_spy.partBytes = row * rows;
        if (g_spy.readResult != AVIERR_OK)
            return g_spy.readResult;
        const HRESULT hr = AVIStreamReadPart(st, start, offset, row, rows, buf, stride, bytes);
        LONG stored = 0;
        AVIStreamRead(st, start, 1, nullptr, 0, &stored, nullptr);
        if (bytes)
            *bytes = std::min(*bytes, std::max<LONG>(stored - g_spy.readShortBy - offset, 0));
        return hr;
    };
    return s;
}

class VideoSource : public testing::Test {
protected:
    void SetUp() override { g_spy = Spy{}; }

    void expectClosed(CVideoSource& v)
    {
        EXPECT_EQ(v.GetFrameCount(), 0);
        EXPECT_EQ(v.GetFrameWidth(), 0);
        EXPECT_EQ(v.GetFrameHeight(), 0);
        EXPECT_EQ(v.GetFileName(), "");
        EXPECT_EQ(v.GetCurrentPosition(), -1);
        EXPECT_EQ(v.FindDataFrame(0), -1);
        EXPECT_EQ(v.GoToFrame(0), 0);
        EXPECT_EQ(v.GetFrameBitmap(), nullptr);
        EXPECT_EQ(g_spy.files, 0) << "a file handle is still held";
        EXPECT_EQ(g_spy.streams, 0) << "a stream handle is still held";
        EXPECT_EQ(g_spy.decoders, 0) << "a decoder is still held";
    }

    MessageRecorder messages;
};

// --- Open, Close and the library's start and end ----------------------------------------

TEST_F(VideoSource, OpenFailuresTellWhichStepFailedAndLeaveTheSourceClosed)
{
    // ffmpeg writes the audio-only file; without it that one case is left out.
    const std::string audioOnly =
        haveTool("ffmpeg") ? ffmpegCapture("audio.avi", "-f lavfi -i sine=duration=0.2", "-c:a pcm_s16le") : "";
    // A WAVE file, the most common RIFF file that is not an AVI one.
    const std::string wave =
        haveTool("ffmpeg") ? ffmpegCapture("sound.wav", "-f lavfi -i sine=duration=0.1", "-c:a pcm_s16le") : "";
    const std::string missing = scratch().file("no such capture.avi");
    const std::string folder = scratch().path().string();
    const std::string empty = scratch().file("empty.avi");
    writeFile(empty, {});
    const std::string fifo = scratch().file("pipe.avi");
    if (!std::filesystem::exists(fifo)) {
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    }
    // The first 100 bytes of a capture: a recording cut short before its stream headers end.
    const std::string cut = scratch().file("cut.avi");
    {
        Bytes b = kestro::test::readFile(noDrops());
        b.resize(100);
        writeFile(cut, b);
    }
    struct Case {
        const char* what;
        std::string path;
        bool Spy::*fault;
        Message expected;
    };
    const Case cases[] = {
        {"missing file", missing, nullptr, {"Unable to open " + missing + "\nNo such file.", "AVIFileOpen"}},
        {"folder", folder, nullptr, {"Unable to open " + folder + "\nIt is a folder.", "AVIFileOpen"}},
        {"device", "/dev/zero", nullptr, {"Unable to open /dev/zero\nIt is a device, not a file.", "AVIFileOpen"}},
        // Opening a named pipe for reading waits for a writer: it must be refused, not hang.
        {"named pipe",
         fifo,
         nullptr,
         {"Unable to open " + fifo + "\nIt is a named pipe (FIFO), not a file.", "AVIFileOpen"}},
        {"empty file", empty, nullptr, {"Unable to open " + empty + "\nThe file is empty.", "AVIFileOpen"}},
        {"WAVE file",
         wave,
         nullptr,
         {"Unable to open " + wave + "\nNot an AVI file (a RIFF 'WAVE' file).", "AVIFileOpen"}},
        {"cut inside its headers",
         cut,
         nullptr,
         {"Unable to open the AVI stream\nThe file ends inside its headers.", "AVIFileGetStream"}},
        {"audio only",
         audioOnly,
         nullptr,
         {"Unable to open the AVI stream\nThe file holds no video stream.", "AVIFileGetStream"}},
        {"no stream header",
         dropped(),
         &Spy::failInfo,
         {"Unable to obtain stream header information", "AVIStreamInfo"}},
        {"no decoder",
         dropped(),
         &Spy::failDecoderOpen,
         {"Unable to prepare decompression for video stream", "AVIStreamGetFrameOpen"}},
        {"first frame does not decode",
         dropped(),
         &Spy::failDecode,
         {"Unable to read video frame", "AVIStreamGetFrame"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.path.empty())
            continue;
        for (bool openBefore : {false, true}) {
            g_spy = Spy{};
            CVideoSource v(spyServices());
            if (openBefore) {
                ASSERT_TRUE(v.Open(noDrops()));
            }
            if (c.fault)
                g_spy.*c.fault = true;
            messages.clear();
            EXPECT_FALSE(v.Open(c.path));
            EXPECT_EQ(messages.messages(), std::vector<Message>{c.expected});
            g_spy.failDecode = false;
            expectClosed(v);
            EXPECT_EQ(messages.messages().size(), 1u) << "the closed source reported something";
        }
    }
}

// The format block of a capture, rewritten to claim another frame size.
std::string claimingSize(const std::string& from, const std::string& name, std::uint32_t width, std::uint32_t height)
{
    Bytes b = kestro::test::readFile(from);
    const std::string tag = "strf";
    const auto at = std::search(b.begin(), b.end(), tag.begin(), tag.end()) - b.begin() + 8;
    for (int i = 0; i < 4; ++i) {
        b[static_cast<std::size_t>(at) + 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(width >> (8 * i));
        b[static_cast<std::size_t>(at) + 8 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(height >> (8 * i));
    }
    const std::string path = scratch().file(name);
    writeFile(path, b);
    return path;
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A few kilobytes whose header claims 18000 x 18000 pixels must not make opening take a
// gigabyte: uncompressed frames that no stored sample can hold are refused with the sizes,
// and compressed ones get a picture of the size the codec decodes.
TEST_F(VideoSource, AHeaderClaimingAHugeFrameTakesNoMemory)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const std::string small = "-f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 3";
    const std::string i420 =
        claimingSize(sample("--width 64 --height 48 --frames 3 --dropped none"), "i420.avi", 18000, 18000);
    const std::string bgr =
        claimingSize(ffmpegCapture("bgr.avi", small, "-c:v rawvideo -pix_fmt bgr24"), "bgr.avi", 18000, 18000);
    const std::string mjpeg = claimingSize(ffmpegCapture("mjpeg.avi", small, "-c:v mjpeg"), "mj.avi", 18000, 18000);
    const long before = peakResidentKiB();
    CVideoSource v;
    for (const auto& [path, stored] : {std::pair{i420, 4608}, std::pair{bgr, 9216}}) {
        SCOPED_TRACE(path);
        messages.clear();
        EXPECT_FALSE(v.Open(path));
        const std::string need = path == i420 ? "486000000" : "972000000";
        EXPECT_EQ(messages.messages(),
                  (std::vector<Message>{{"Unable to prepare decompression for video stream\nIts frames of "
                                         "18000\u00d718000 pixels need " +
                                             need + " bytes each, but the largest stored frame holds " +
                                             std::to_string(stored) + ".",
                                         "AVIStreamGetFrameOpen"}}));
    }
    messages.clear();
    ASSERT_TRUE(v.Open(mjpeg));
    const BITMAPINFOHEADER* b = v.GetFrameBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biWidth, 64) << "the codec's size, not the header's";
    EXPECT_EQ(b->biHeight, 48);
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_LT(peakResidentKiB() - before, 64 * 1024) << "opening took the memory the header claims";
}

TEST_F(VideoSource, StartsAndEndsTheLibraryOnceWhateverIsOpened)
{
    {
        CVideoSource v(spyServices());
        EXPECT_EQ(g_spy.inits, 1);
        expectClosed(v);
        ASSERT_TRUE(v.Open(dropped()));
        ASSERT_TRUE(v.Open(noDrops()));
        EXPECT_EQ(g_spy.files, 1) << "the first file was not released";
        v.Close();
        v.Close();
        expectClosed(v);
        ASSERT_TRUE(v.Open(dropped()));
        EXPECT_EQ(g_spy.exits, 0);
    }
    EXPECT_EQ(g_spy.inits, 1);
    EXPECT_EQ(g_spy.exits, 1);
    EXPECT_EQ(g_spy.files + g_spy.streams + g_spy.decoders, 0) << "the destructor left a handle open";
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(VideoSource, OpenReportsTheStreamAndItsFirstFrame)
{
    CVideoSource v;
    const std::string path = dropped();
    ASSERT_TRUE(v.Open(path));
    EXPECT_EQ(v.GetFileName(), path);
    EXPECT_EQ(v.GetFrameCount(), 30);
    EXPECT_EQ(v.GetFrameWidth(), 640);
    EXPECT_EQ(v.GetFrameHeight(), 480);
    EXPECT_EQ(v.GetCurrentPosition(), 0);
    const BITMAPINFOHEADER* b = v.GetFrameBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biBitCount, 24);
    EXPECT_EQ(b->biWidth, 640);
    EXPECT_EQ(b->biHeight, 480);
    EXPECT_TRUE(messages.messages().empty());
}

// The header's rectangle is what the width and height report, not the decoded size.
TEST_F(VideoSource, AnEmptyFrameRectangleReportsZeroWhileFramesDecode)
{
    g_spy.emptyRect = true;
    CVideoSource v(spyServices());
    ASSERT_TRUE(v.Open(dropped()));
    EXPECT_EQ(v.GetFrameWidth(), 0);
    EXPECT_EQ(v.GetFrameHeight(), 0);
    ASSERT_NE(v.GetFrameBitmap(), nullptr);
    EXPECT_EQ(v.GetFrameBitmap()->biWidth, 640);
}

TEST_F(VideoSource, DisplaySettingsOutliveCloseAndFailedOpens)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(dropped()));
    v.m_bRaw = v.m_bRawColour = v.m_bGreyscale = true;
    v.m_converter.SetPattern(3);
    v.m_converter.SetAlgorithm(2);
    v.Close();
    EXPECT_FALSE(v.Open(scratch().file("missing.avi")));
    ASSERT_TRUE(v.Open(noDrops()));
    EXPECT_TRUE(v.m_bRaw && v.m_bRawColour && v.m_bGreyscale);
    EXPECT_EQ(v.m_converter.GetPattern(), 3);
    EXPECT_EQ(v.m_converter.GetAlgorithm(), 2);
    // The new file shows in the old file's mode: de-mosaiced by algorithm 2, then in grey.
    const BITMAPINFOHEADER* b = v.GetFrameBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biBitCount, 8);
    EXPECT_EQ(b->biWidth, 632);
    EXPECT_EQ(b->biHeight, 472);
}

// --- Positions ------------------------------------------------------------------------

TEST_F(VideoSource, FindDataFrameSkipsDroppedFramesAndRefusesOutsideTheStream)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(dropped()));
    const std::pair<int, int> cases[] = {{0, 0}, {4, 4}, {5, 6}, {12, 13}, {29, 29}, {-1, -1}, {30, -1}};
    for (auto [n, expected] : cases)
        EXPECT_EQ(v.FindDataFrame(n), expected) << "position " << n;
    EXPECT_EQ(v.GetCurrentPosition(), 0) << "FindDataFrame moved the current frame";
}

TEST_F(VideoSource, GoToFrameLandsOnTheNearestEarlierFrameWithData)
{
    CVideoSource v(spyServices());
    ASSERT_TRUE(v.Open(dropped()));
    const std::pair<int, int> cases[] = {{7, 7}, {5, 4}, {12, 11}, {13, 13}, {29, 29}, {0, 0}};
    for (auto [n, expected] : cases) {
        EXPECT_EQ(v.GoToFrame(n), expected) << "position " << n;
        EXPECT_EQ(v.GetCurrentPosition(), expected);
        g_spy.decoded.clear();
        ASSERT_NE(v.GetFrameBitmap(), nullptr);
        EXPECT_EQ(g_spy.decoded, std::vector<LONG>{expected}) << "decoded for position " << n;
    }
}

TEST_F(VideoSource, PositionsOutsideTheStreamChangeNothing)
{
    CVideoSource v(spyServices());
    ASSERT_TRUE(v.Open(dropped()));
    ASSERT_EQ(v.GoToFrame(3), 3);
    const BITMAPINFOHEADER* before = v.GetFrameBitmap();
    const Bytes picture = pixelBytes(before);
    for (int n : {-1, 30, 1000, INT32_MIN, INT32_MAX}) {
        g_spy.decoded.clear();
        EXPECT_EQ(v.GoToFrame(n), 3) << "position " << n;
        EXPECT_EQ(v.GetFrameBitmap(), before);
        EXPECT_TRUE(g_spy.decoded.empty()) << "position " << n << " decoded a frame";
    }
    EXPECT_EQ(pixelBytes(v.GetFrameBitmap()), picture);
}

// Frame 0 is decoded again after another frame, and the picture is frame 0's as ffmpeg sees it.
TEST_F(VideoSource, FrameZeroIsFetchedAgainAfterFrameFive)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    CVideoSource v(spyServices());
    const std::string path = dropped();
    ASSERT_TRUE(v.Open(path));
    EXPECT_EQ(v.GoToFrame(5), 4);
    const Bytes four = topDown(v.GetFrameBitmap());
    EXPECT_EQ(v.GoToFrame(0), 0);
    g_spy.decoded.clear();
    const Bytes zero = topDown(v.GetFrameBitmap());
    EXPECT_EQ(g_spy.decoded, std::vector<LONG>{0});
    // ffmpeg numbers the frames it decodes, and frames 0 to 4 all hold data.
    EXPECT_LE(largestDifference(zero, kestro::test::ffmpegFrame(path, 0, "bgr24")), 2);
    EXPECT_LE(largestDifference(four, kestro::test::ffmpegFrame(path, 4, "bgr24")), 2);
    EXPECT_GT(largestDifference(zero, four), 2) << "the planet should have moved between frames 0 and 4";
}

// A recorder can drop the very first frame; the capture still opens and shows its first picture.
TEST_F(VideoSource, ACaptureWhoseFirstFrameWasDroppedOpens)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(sample("--width 64 --height 48 --frames 6 --dropped 0")));
    EXPECT_EQ(v.GetCurrentPosition(), 0);
    EXPECT_EQ(v.FindDataFrame(0), 1);
    ASSERT_NE(v.GetFrameBitmap(), nullptr);
    EXPECT_EQ(v.GoToFrame(0), -1) << "frame 0 holds no data, so an export must skip it";
    EXPECT_NE(v.GetFrameBitmap(), nullptr);
    v.m_bRaw = true;
    EXPECT_NE(v.GetFrameBitmap(), nullptr);
    EXPECT_EQ(v.GoToFrame(2), 2);
    EXPECT_TRUE(messages.messages().empty());
}

// --- RAW modes ------------------------------------------------------------------------

// The stored sample's first W x H bytes, as ffmpeg copies them out, are the 8-bit image with its
// rows turned upside down.
TEST_F(VideoSource, RawYChannelIsTheStoredPlaneInGrey)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const std::string path = noDrops();
    CVideoSource v;
    ASSERT_TRUE(v.Open(path));
    v.m_bRaw = true;
    for (int n : {0, 3, 7}) {
        SCOPED_TRACE("frame " + std::to_string(n));
        ASSERT_EQ(v.GoToFrame(n), n);
        const BITMAPINFOHEADER* b = v.GetFrameBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->biSize, 40u);
        EXPECT_EQ(b->biBitCount, 8);
        EXPECT_EQ(b->biWidth, 640);
        EXPECT_EQ(b->biHeight, 480);
        EXPECT_EQ(b->biSizeImage, 307200u);
        EXPECT_TRUE(b->biClrUsed == 0 || b->biClrUsed == 256);
        EXPECT_TRUE(hasGreyTable(b));
        const Bytes stored = storedSample(path, n, 640 * 480 * 3 / 2);
        ASSERT_EQ(stored.size(), 460800u);
        const Bytes rows = topDown(b);
        EXPECT_TRUE(std::equal(rows.begin(), rows.begin() + 640, stored.begin())) << "top row";
        EXPECT_TRUE(std::equal(rows.begin(), rows.end(), stored.begin())) << "whole plane";
        // A band of the plane as stored, of another frame than the current one.
        Bytes band(3 * 640);
        ASSERT_EQ(v.GetPlaneSampleBytes(), 1);
        ASSERT_TRUE(v.ReadPlaneRows(7 - n, 100, 3, band.data(), 640));
        const Bytes other = storedSample(path, 7 - n, 640 * 480 * 3 / 2);
        EXPECT_TRUE(std::equal(band.begin(), band.end(), other.begin() + 100 * 640)) << "rows 100 to 102";
    }
    EXPECT_FALSE(v.ReadPlaneRows(0, 479, 2, Bytes(2 * 640).data(), 640)) << "the plane has 480 rows";
    messages.clear();
    EXPECT_TRUE(v.m_bRaw);
    EXPECT_TRUE(messages.messages().empty());
}

// The stream header's frame rectangle is only what the writer claimed: the plane RAW Y-channel
// shows, and ReadPlaneRows reads, has the decoded frame's size whatever it says. Rows of a wider
// rectangle would spill into their neighbours and past the picture's end.
TEST_F(VideoSource, TheFrameRectangleDoesNotSizeThePlane)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const std::string path = noDrops();
    const Bytes stored = storedSample(path, 3, 640 * 480 * 3 / 2);
    ASSERT_EQ(stored.size(), 460800u);
    const std::pair<const char*, RECT> cases[] = {
        {"empty", {0, 0, 0, 0}}, {"wider and taller", {0, 0, 704, 496}}, {"narrower and shorter", {0, 0, 320, 240}}};
    for (const auto& [name, rect] : cases) {
        SCOPED_TRACE(name);
        g_spy = Spy{};
        g_spy.rect = rect;
        CVideoSource v(spyServices());
        ASSERT_TRUE(v.Open(path));
        v.m_bRaw = true;
        ASSERT_EQ(v.GoToFrame(3), 3);
        const BITMAPINFOHEADER* b = v.GetFrameBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->biWidth, 640);
        const Bytes rows = topDown(b);
        EXPECT_TRUE(std::equal(rows.begin(), rows.end(), stored.begin()));
        Bytes band(2 * 640);
        ASSERT_TRUE(v.ReadPlaneRows(3, 478, 2, band.data(), 640));
        EXPECT_TRUE(std::equal(band.begin(), band.end(), stored.begin() + 478 * 640));
        EXPECT_TRUE(messages.messages().empty());
    }
}

// RAW colour is the converter's picture of the stored plane, with the settings of the moment.
TEST_F(VideoSource, RawColourIsTheConvertersPictureOfThePlane)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(noDrops()));
    ASSERT_EQ(v.GoToFrame(2), 2);
    v.m_bRaw = true;
    const Bytes plane = topDown(v.GetFrameBitmap());
    v.m_bRawColour = true;
    const std::string libraryName = v.m_converter.GetAlgorithmNames().front();
    const int library = std::stoi(libraryName.substr(0, 2));
    struct Case {
        int algorithm, pattern, width, height;
    };
    for (const Case c :
         {Case{11, 0, 640, 480}, Case{11, 3, 640, 480}, Case{library, 2, 632, 472}, Case{11, 1, 640, 480}}) {
        SCOPED_TRACE("algorithm " + std::to_string(c.algorithm) + ", pattern " + std::to_string(c.pattern));
        v.m_converter.SetAlgorithm(c.algorithm);
        v.m_converter.SetPattern(c.pattern);
        const BITMAPINFOHEADER* b = v.GetFrameBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->biBitCount, 24);
        EXPECT_EQ(b->biWidth, c.width);
        EXPECT_EQ(b->biHeight, c.height);
        EXPECT_EQ(b->biSizeImage, static_cast<DWORD>(c.width * c.height * 3));

        CCfaConverter expected;
        expected.SetAlgorithm(c.algorithm);
        expected.SetPattern(c.pattern);
        Bytes pixels(640 * 480 * 3);
        std::int32_t w = 0, h = 0;
        ASSERT_TRUE(expected.ConvertPlane(640, 480, plane.data(), pixels.data(), w, h));
        pixels.resize(static_cast<std::size_t>(w) * h * 3);
        EXPECT_EQ(pixelBytes(b), pixels);
    }
    EXPECT_TRUE(messages.messages().empty());
}

// The RAW modes read the stored sample and leave the decoder alone: stepping through a capture
// in RAW decodes nothing.
TEST_F(VideoSource, RawModesDecodeNothing)
{
    CVideoSource v(spyServices());
    ASSERT_TRUE(v.Open(noDrops()));
    v.m_bRaw = true;
    for (bool colour : {false, true}) {
        v.m_bRawColour = colour;
        g_spy.decoded.clear();
        for (int n = 1; n < 8; ++n) {
            ASSERT_EQ(v.GoToFrame(n), n);
            ASSERT_NE(v.GetFrameBitmap(), nullptr);
        }
        EXPECT_TRUE(g_spy.decoded.empty()) << (colour ? "RAW colour" : "RAW Y-channel") << " decoded frames";
    }
}

// The RAW images belong to one file: a larger capture opened after a smaller one gets images
// of its own size, never the old ones written past their end.
TEST_F(VideoSource, RawImagesAreMadeAgainForEachFile)
{
    CVideoSource v;
    v.m_bRaw = true;
    for (bool colour : {false, true}) {
        v.m_bRawColour = colour;
        ASSERT_TRUE(v.Open(sample("--width 64 --height 48 --frames 2 --dropped none")));
        ASSERT_NE(v.GetFrameBitmap(), nullptr);
        EXPECT_EQ(v.GetFrameBitmap()->biWidth, 64);
        ASSERT_TRUE(v.Open(noDrops()));
        const BITMAPINFOHEADER* b = v.GetFrameBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->biWidth, 640);
        EXPECT_EQ(b->biHeight, 480);
        EXPECT_EQ(b->biSizeImage, colour ? 640u * 480u * 3u : 640u * 480u);
    }
    EXPECT_TRUE(messages.messages().empty());
}

// A header that suggests no buffer size at all still reads the whole sample.
TEST_F(VideoSource, ReadBufferFollowsTheSampleWhenTheHeaderSuggestsNothing)
{
    CVideoSource plain;
    ASSERT_TRUE(plain.Open(noDrops()));
    plain.m_bRaw = true;
    const Bytes expected = pixelBytes(plain.GetFrameBitmap());

    g_spy.noSuggestedSize = true;
    CVideoSource v(spyServices());
    ASSERT_TRUE(v.Open(noDrops()));
    v.m_bRaw = true;
    const BITMAPINFOHEADER* b = v.GetFrameBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pixelBytes(b), expected);
    EXPECT_TRUE(messages.messages().empty());
}

// A frame that cannot be read is told about once, not again at each repaint of it; another
// frame that fails is told about in turn, and the mode stays.
TEST_F(VideoSource, ReadErrorsAreToldOncePerFrameAndLeaveTheModeAlone)
{
    struct Case {
        HRESULT result;
        LONG shortBy;
        std::string text, frame1; // frame1: the text for frame 1
    };
    const Case cases[] = {
        {AVIERR_BUFFERTOOSMALL, 0, "The buffer size was smaller than a single sample of data", ""},
        {AVIERR_MEMORY, 0, "There was not enough memory to complete the read operation.", ""},
        {AVIERR_FILEREAD, 0, "A disk error occurred while reading the file.", ""},
        // A sample one byte shorter than its plane must not be read past its end.
        {AVIERR_OK, 460800 - 307199, "Frame 0 is stored in 307199 bytes, too few for its 307200 sensor values.",
         "Frame 1 is stored in 307199 bytes, too few for its 307200 sensor values."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (bool colour : {false, true}) {
            CVideoSource v(spyServices());
            ASSERT_TRUE(v.Open(noDrops()));
            v.m_bRaw = true;
            v.m_bRawColour = colour;
            ASSERT_NE(v.GetFrameBitmap(), nullptr);
            g_spy.readResult = c.result;
            g_spy.readShortBy = c.shortBy;
            messages.clear();
            for (int repaint = 0; repaint < 3; ++repaint)
                EXPECT_EQ(v.GetFrameBitmap(), nullptr);
            const Message expected{c.text, "AVIStreamRead"};
            EXPECT_EQ(messages.messages(), std::vector<Message>{expected}) << "told once for frame 0";
            ASSERT_EQ(v.GoToFrame(1), 1);
            EXPECT_EQ(v.GetFrameBitmap(), nullptr);
            ASSERT_EQ(v.GoToFrame(0), 0);
            EXPECT_EQ(v.GetFrameBitmap(), nullptr);
            const Message second{c.frame1.empty() ? c.text : c.frame1, "AVIStreamRead"};
            EXPECT_EQ(messages.messages(), (std::vector<Message>{expected, second})) << "frame 1 in turn, once";
            EXPECT_TRUE(v.m_bRaw);
            EXPECT_EQ(v.m_bRawColour, colour);
            g_spy.readResult = AVIERR_OK;
            g_spy.readShortBy = 0;
            EXPECT_NE(v.GetFrameBitmap(), nullptr) << "the next good read shows the frame again";
            EXPECT_EQ(g_spy.partBytes, 640 * 480) << "the plane is read, not the whole I420 sample";
        }
    }
}

// A compressed capture holds no raw sensor planes: a RAW mode is refused once, when it is
// chosen or when such a capture is opened in it, and Normal is shown from then on, however
// often the view repaints.
TEST_F(VideoSource, ACaptureWithoutRawPlanesIsRefusedOnceAndShownNormal)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const std::string mjpeg =
        ffmpegCapture("mjpeg_320x240.avi", "-f lavfi -i testsrc2=size=320x240:rate=10 -frames:v 3", "-c:v mjpeg");
    ASSERT_FALSE(mjpeg.empty());
    for (bool colour : {false, true}) {
        SCOPED_TRACE(colour ? "RAW colour" : "RAW Y-channel");
        CVideoSource v;
        for (bool chosenBeforeOpen : {false, true}) {
            messages.clear();
            if (chosenBeforeOpen) {
                v.m_bRaw = true;
                v.m_bRawColour = colour;
            }
            ASSERT_TRUE(v.Open(mjpeg));
            v.m_bRaw = true;
            v.m_bRawColour = colour;
            for (int repaint = 0; repaint < 4; ++repaint) {
                const BITMAPINFOHEADER* b = v.GetFrameBitmap();
                ASSERT_NE(b, nullptr);
                EXPECT_EQ(b->biBitCount, 24) << "the decoded picture";
                EXPECT_FALSE(v.m_bRaw) << "Normal is in force";
            }
            ASSERT_EQ(messages.messages().size(), 1u);
            const Message& m = messages.messages().front();
            EXPECT_EQ(m.caption, "RAW display");
            EXPECT_TRUE(m.text.starts_with("Frame 0 is stored in ")) << m.text;
            EXPECT_TRUE(m.text.ends_with(" bytes, too few for its 76800 sensor values: this capture holds no raw "
                                         "sensor planes.\nReverting to normal display"))
                << m.text;
        }
    }
}

TEST_F(VideoSource, AWidthThatIsNotAMultipleOfFourRevertsOnceAndIsCheckedAgain)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(sample("--width 322 --height 240 --frames 3 --dropped none")));
    const Message expected{"Image width = 322 is not a multiple of 4.\nReverting to normal display", "RAW display"};
    for (bool colour : {false, true}) {
        messages.clear();
        v.m_bRaw = true;
        v.m_bRawColour = colour;
        const BITMAPINFOHEADER* b = v.GetFrameBitmap();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->biBitCount, 24) << "the decoded frame comes back";
        EXPECT_EQ(b->biWidth, 322);
        EXPECT_FALSE(v.m_bRaw);
        EXPECT_EQ(v.GetFrameBitmap(), b);
        EXPECT_EQ(messages.messages(), std::vector<Message>{expected}) << "told once, then Normal";
    }
}

TEST_F(VideoSource, AFrameThatDoesNotDecodeTo24BitsRevertsToNormal)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    const std::string path =
        ffmpegCapture("bgra.avi", "-f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 3", "-c:v rawvideo -pix_fmt bgra");
    ASSERT_FALSE(path.empty());
    CVideoSource v;
    ASSERT_TRUE(v.Open(path));
    const BITMAPINFOHEADER* decoded = v.GetFrameBitmap();
    ASSERT_EQ(decoded->biBitCount, 32);
    for (bool colour : {false, true}) {
        messages.clear();
        v.m_bRaw = true;
        v.m_bRawColour = colour;
        EXPECT_EQ(v.GetFrameBitmap(), decoded);
        EXPECT_FALSE(v.m_bRaw);
        EXPECT_EQ(messages.messages(),
                  (std::vector<Message>{{"Reverting to normal display", "Input AVI is not 24 bit"}}));
    }
    // Greyscale reads the 32-bit frame's colours as it does a 24-bit frame's.
    const std::vector<std::uint8_t> colours = topDown(decoded);
    v.m_bGreyscale = true;
    const BITMAPINFOHEADER* grey = v.GetFrameBitmap();
    ASSERT_NE(grey, nullptr);
    ASSERT_EQ(grey->biBitCount, 8);
    const std::vector<std::uint8_t> values = topDown(grey);
    ASSERT_EQ(values.size() * 4, colours.size());
    for (std::size_t k = 0; k < values.size(); ++k)
        ASSERT_EQ(values[k], kestro::video::greyOf(colours[4 * k], colours[4 * k + 1], colours[4 * k + 2])) << k;
}

// A library algorithm that cannot convert the frame is told once, like the other refusals,
// instead of showing a picture it never wrote.
TEST_F(VideoSource, ALibraryRefusalRevertsToNormal)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(noDrops()));
    v.m_bRaw = v.m_bRawColour = true;
    v.m_converter.SetAlgorithm(99);
    const BITMAPINFOHEADER* b = v.GetFrameBitmap();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biBitCount, 24);
    EXPECT_EQ(b->biWidth, 640);
    EXPECT_FALSE(v.m_bRaw);
    EXPECT_EQ(messages.messages(),
              (std::vector<Message>{{"The de-mosaic algorithm 99 cannot convert a frame of 640 x 480 pixels.\n"
                                     "Reverting to normal display",
                                     "Dor2EzuPlane"}}));
}

TEST_F(VideoSource, WithNoFileEveryModeIsNullAndSilent)
{
    CVideoSource v;
    for (int mode = 0; mode < 8; ++mode) {
        v.m_bRaw = mode & 1;
        v.m_bRawColour = mode & 2;
        v.m_bGreyscale = mode & 4;
        EXPECT_EQ(v.GetFrameBitmap(), nullptr) << "mode " << mode;
        EXPECT_EQ(v.ReadRawFrame(), nullptr);
    }
    EXPECT_EQ(v.MakeGreyscale(nullptr), nullptr);
    EXPECT_TRUE(messages.messages().empty());
}

// --- Greyscale ------------------------------------------------------------------------

TEST_F(VideoSource, GreyscaleInEachMode)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(noDrops()));
    ASSERT_EQ(v.GoToFrame(1), 1);
    const Bytes decoded = topDown(v.GetFrameBitmap());
    v.m_bGreyscale = true;
    const BITMAPINFOHEADER* g = v.GetFrameBitmap();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->biBitCount, 8);
    EXPECT_EQ(g->biSizeImage, 640u * 480u);
    Bytes expected(640 * 480);
    kestro::video::greyRowReference(decoded.data(), expected.data(), 640 * 480);
    EXPECT_EQ(topDown(g), expected);

    // The RAW Y-channel image is already grey and comes back as it is.
    v.m_bRaw = true;
    v.m_bGreyscale = false;
    const BITMAPINFOHEADER* raw = v.GetFrameBitmap();
    const Bytes rawPixels = pixelBytes(raw);
    v.m_bGreyscale = true;
    EXPECT_EQ(v.GetFrameBitmap(), raw);
    EXPECT_EQ(pixelBytes(raw), rawPixels);

    v.m_bRawColour = true;
    g = v.GetFrameBitmap();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->biBitCount, 8);
    EXPECT_EQ(g->biWidth, 640);
    EXPECT_TRUE(messages.messages().empty());
}

} // namespace

// The exports ask before they start whether a RAW mode can be rendered; asking tells nobody and
// switches nothing, and the answer matches what showing the capture raw would do.
TEST_F(VideoSource, CanShowRawAnswersWithoutTellingOrSwitching)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    struct Case {
        std::string name, path;
        bool grey, colour;
        std::string reason; // part of the reason given, empty when it can
    };
    const std::vector<Case> cases = {
        {"raw capture", noDrops(), true, true, ""},
        {"32-bit frames",
         ffmpegCapture("bgra.avi", "-f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 3",
                       "-c:v rawvideo -pix_fmt bgra"),
         false, false, "32 bits per pixel"},
        {"width 322", sample("--width 322 --height 240 --frames 3 --dropped none"), false, false, "322 pixels"},
        {"compressed frames",
         ffmpegCapture("mjpeg.avi", "-f lavfi -i testsrc2=size=64x48:rate=10 -frames:v 3", "-c:v mjpeg"), false, false,
         "too few for its 3072 sensor values"},
        // Grey needs only the plane; the library's algorithms need more than 8 sites across.
        {"8 x 8 frames", sample("--width 8 --height 8 --frames 2 --dropped none"), true, false,
         "algorithm 4 cannot convert a frame of 8 x 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.path.empty());
        CVideoSource v;
        ASSERT_TRUE(v.Open(c.path));
        v.m_converter.SetAlgorithm(4);
        messages.clear();
        std::string grey, colour;
        EXPECT_EQ(v.CanShowRaw(false, &grey), c.grey) << grey;
        EXPECT_EQ(v.CanShowRaw(true, &colour), c.colour) << colour;
        EXPECT_NE((c.grey ? colour : grey).find(c.reason), std::string::npos) << grey << " / " << colour;
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_FALSE(v.m_bRaw);
    }
    CVideoSource closed;
    EXPECT_FALSE(closed.CanShowRaw(false));
}

// While messages are held (an export runs) they are kept for the caller instead of shown.
TEST_F(VideoSource, HeldMessagesAreKeptNotShown)
{
    CVideoSource v(spyServices());
    ASSERT_TRUE(v.Open(noDrops()));
    v.m_bRaw = true;
    g_spy.readResult = AVIERR_FILEREAD;
    std::vector<Message> held;
    v.HoldMessages(&held);
    EXPECT_EQ(v.GetFrameBitmap(), nullptr);
    v.HoldMessages(nullptr);
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(held, (std::vector<Message>{{"A disk error occurred while reading the file.", "AVIStreamRead"}}));
    EXPECT_EQ(v.GetFrameBitmap(), nullptr);
    EXPECT_EQ(messages.messages().size(), 1u) << "shown again once no longer held";
}
