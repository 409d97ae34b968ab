// Export Fits Frames: the ticked frames summed in blocks, each sum a FITS image read back by
// astropy and judged by fitsverify, against sums worked out here from the stored sensor values.
#include "bayer_fixtures.h"
#include "export_fixture.h"
#include "dib.h"
#include "export_report.h"
#include "fits_check.h"
#include "fits_sum.h"
#include "greyscale.h"
#include "restricted_folder.h"

#include <atomic>
#include <fstream>
#include <optional>

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::ui::Message;
using kestro::ui::MessageRecorder;

class FitsExport : public testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!haveAstropy(&why))
            GTEST_SKIP() << why;
        if (!haveTool("ffmpeg"))
            GTEST_SKIP() << "ffmpeg writes and reads the captures of these tests";
    }
    ScratchDir out;
    MessageRecorder messages;
};

// The stored sensor planes of a capture without dropped frames, as ffmpeg copies the samples out:
// the first width x height bytes of each, top row first.
std::vector<Bytes> storedPlanes(const std::string& path, int width, int height)
{
    std::string stored;
    run("ffmpeg -v error -i " + quote(path) + " -map 0:v -c copy -f rawvideo -", &stored);
    const std::size_t plane = static_cast<std::size_t>(width) * height, sample = plane * 3 / 2;
    std::vector<Bytes> planes;
    for (std::size_t at = 0; at + sample <= stored.size(); at += sample)
        planes.emplace_back(stored.begin() + static_cast<std::ptrdiff_t>(at),
                            stored.begin() + static_cast<std::ptrdiff_t>(at + plane));
    return planes;
}

std::vector<std::uint64_t> picture(const FitsReadBack& f) { return f.picture(); }

std::string cardValue(const FitsReadBack& f, const std::string& keyword) { return f.cardValue(keyword); }

TEST_F(FitsExport, BlocksHoldTheExactSumsOfTheirFramesTheRightWayUp)
{
    const std::string capture = sample("--width 16 --height 8 --frames 7 --dropped none");
    const std::vector<Bytes> planes = storedPlanes(capture, 16, 8);
    ASSERT_EQ(planes.size(), 7u);
    struct Case {
        const char* name;
        std::uint32_t block;
        std::set<std::int32_t> ticks;
        std::vector<std::vector<std::int32_t>> files; // the frames summed into each file
    };
    const Case cases[] = {
        {"one per frame", 1, {0, 3, 6}, {{0}, {3}, {6}}},
        {"k x N + r", 3, {0, 1, 2, 3, 4, 5, 6}, {{0, 1, 2}, {3, 4, 5}, {6}}},
        {"k x N", 3, {0, 1, 2, 4, 5, 6}, {{0, 1, 2}, {4, 5, 6}}},
        {"all in one", 100, {0, 1, 2, 3, 4, 5, 6}, {{0, 1, 2, 3, 4, 5, 6}}},
        {"one block for all", 4294967295u, {1, 2}, {{1, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir folder;
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        v.m_bRaw = true;
        EXPECT_TRUE(v.SaveFitsBlocks(folder.file("jup"), c.block, takeOnly(c.ticks)));
        EXPECT_TRUE(messages.messages().empty());
        std::vector<std::string> names;
        for (std::size_t n = 0; n < c.files.size(); ++n)
            names.push_back("jup_000" + std::to_string(n) + ".fit");
        ASSERT_EQ(namesIn(folder.path()), names);
        for (std::size_t n = 0; n < c.files.size(); ++n) {
            const FitsReadBack f = readWithAstropy(folder.file(names[n]));
            ASSERT_EQ(f.failure, "");
            EXPECT_EQ(f.rows, 8);
            EXPECT_EQ(f.cols, 16);
            EXPECT_EQ(f.dtype, "uint16");
            std::vector<std::uint64_t> want(16 * 8, 0);
            for (std::int32_t frame : c.files[n])
                for (std::size_t k = 0; k < want.size(); ++k)
                    want[k] += planes[static_cast<std::size_t>(frame)][k];
            EXPECT_EQ(picture(f), want) << names[n];
            EXPECT_EQ(cardValue(f, "NCOMBINE"), std::to_string(c.files[n].size()));
            EXPECT_EQ(cardValue(f, "FRAME1"), std::to_string(c.files[n].front()));
            EXPECT_EQ(cardValue(f, "FRAMEN"), std::to_string(c.files[n].back()));
        }
    }
}

// AddFrameToSum on its own: the current frame in grey, top row first, with the frames it holds;
// nothing added when there is no picture or it is not the sum's size.
TEST_F(FitsExport, AddFrameToSumAddsTheCurrentFrame)
{
    const std::string capture = sample("--width 16 --height 8 --frames 7 --dropped none");
    const std::vector<Bytes> planes = storedPlanes(capture, 16, 8);
    ASSERT_EQ(planes.size(), 7u);
    CVideoSource v;
    CSumImage sum;
    sum.Reset(16, 8);
    EXPECT_FALSE(v.AddFrameToSum(sum)) << "no capture open";
    ASSERT_TRUE(v.Open(capture));
    v.m_bRaw = true;
    for (std::int32_t frame : {3, 5}) {
        ASSERT_EQ(v.GoToFrame(frame), frame);
        EXPECT_TRUE(v.AddFrameToSum(sum));
    }
    std::vector<std::uint32_t> want(16 * 8, 0);
    for (std::size_t k = 0; k < want.size(); ++k)
        want[k] = planes[3][k] + planes[5][k];
    EXPECT_EQ(sum.values, want);
    EXPECT_EQ(sum.nFrames, 2);
    EXPECT_EQ(sum.nFirstFrame, 3);
    EXPECT_EQ(sum.nLastFrame, 5);

    CSumImage other;
    other.Reset(8, 8);
    EXPECT_FALSE(v.AddFrameToSum(other));
    EXPECT_EQ(other.nFrames, 0);
    EXPECT_EQ(other.values, std::vector<std::uint32_t>(8 * 8, 0));

    // Colour pictures add their luminance, exactly MakeGreyscale's, in every row of a picture
    // tall enough to be shared among the cores.
    CVideoSource tall;
    ASSERT_TRUE(tall.Open(sample("--width 64 --height 200 --frames 2 --dropped none")));
    for (const bool colour : {false, true}) {
        SCOPED_TRACE(colour ? "RAW colour" : "Normal");
        tall.m_bRaw = tall.m_bRawColour = colour;
        CSumImage picture;
        picture.Reset(64, 200);
        std::vector<std::uint32_t> grey(64 * 200, 0);
        for (std::int32_t frame : {0, 1}) {
            ASSERT_EQ(tall.GoToFrame(frame), frame);
            ASSERT_TRUE(tall.AddFrameToSum(picture));
            const BITMAPINFOHEADER* shown = tall.MakeGreyscale(tall.GetFrameBitmap());
            ASSERT_NE(shown, nullptr);
            ASSERT_EQ(shown->biBitCount, 8);
            for (std::size_t y = 0; y < 200; ++y)
                for (std::size_t x = 0; x < 64; ++x)
                    grey[y * 64 + x] += kestro::dib::pictureRow(*shown, y)[x];
        }
        EXPECT_EQ(picture.values, grey);
    }
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(FitsExport, SumsPast65535AreStoredIn32Bits)
{
    // White frames are 255 in grey: 257 of them still fit 16 unsigned bits, 258 do not.
    const std::string white = ffmpegCapture("white.avi", "color=c=white:size=4x2:rate=5,format=rgb24",
                                            "-frames:v 258 -c:v rawvideo -pix_fmt bgr24");
    CVideoSource v;
    ASSERT_TRUE(v.Open(white));
    ASSERT_TRUE(v.SaveFitsBlocks(out.file("w257"), 257));
    ASSERT_TRUE(v.SaveFitsBlocks(out.file("w258"), 258));
    const std::pair<const char*, std::pair<const char*, std::uint64_t>> files[] = {
        {"w257_0000.fit", {"16", 65535}}, {"w257_0001.fit", {"16", 255}}, {"w258_0000.fit", {"32", 65790}}};
    for (const auto& [name, expected] : files) {
        SCOPED_TRACE(name);
        const FitsReadBack f = readWithAstropy(out.file(name));
        ASSERT_EQ(f.failure, "");
        EXPECT_EQ(cardValue(f, "BITPIX"), expected.first);
        EXPECT_EQ(picture(f), std::vector<std::uint64_t>(8, expected.second));
        EXPECT_TRUE(fitsverify(out.file(name)).clean()) << fitsverify(out.file(name)).report;
    }
}

// A RAW Y-channel sum is still a mosaic: its BAYERPAT must let a stacking program de-mosaic it.
// Read by the keyword, from the top-left of the picture as shown, every site of a flat colour
// field must hold that colour's value.
TEST_F(FitsExport, BayerPatternNamesTheSitesOfTheSumForEachButton)
{
    const Rgb colour{200, 100, 30};
    const int w = 16, h = 8;
    for (int pattern = 0; pattern < 4; ++pattern) {
        SCOPED_TRACE(kPatternNames[static_cast<std::size_t>(pattern)]);
        // The mosaic ffmpeg stores as the Y plane of an I420 capture.
        const Bytes plane = mosaicOf(w, h, pattern, [&](int, int) { return colour; });
        const std::string raw = out.file("mosaic.yuv"), capture = out.file("mosaic" + std::to_string(pattern) + ".avi");
        Bytes frame = plane;
        frame.resize(plane.size() * 3 / 2, 128);
        writeFile(raw, frame);
        ASSERT_EQ(run("ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 16x8 -r 5 -i " + quote(raw) +
                      " -c:v rawvideo " + quote(capture)),
                  0);
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        v.m_bRaw = true;
        v.m_converter.SetPattern(pattern);
        const std::string base = out.file("bayer" + std::to_string(pattern));
        ASSERT_TRUE(v.SaveFitsBlocks(base, 1));
        const FitsReadBack f = readWithAstropy(base + "_0000.fit");
        ASSERT_EQ(f.failure, "");
        const std::string bayer = cardValue(f, "BAYERPAT");
        EXPECT_EQ(bayer, kPatternQuads[static_cast<std::size_t>(pattern)]);
        EXPECT_EQ(cardValue(f, "XBAYROFF"), "0");
        EXPECT_EQ(cardValue(f, "YBAYROFF"), "0");
        EXPECT_EQ(cardValue(f, "ROWORDER"), "BOTTOM-UP");
        ASSERT_EQ(bayer.size(), 4u);
        const std::vector<std::uint64_t> shown = picture(f);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const char site = bayer[static_cast<std::size_t>((y % 2) * 2 + x % 2)];
                const int want = site == 'R' ? colour.r : site == 'G' ? colour.g : colour.b;
                ASSERT_EQ(shown[static_cast<std::size_t>(y * w + x)], static_cast<std::uint64_t>(want))
                    << "site " << x << "," << y << " read as " << site;
            }
    }
}

TEST_F(FitsExport, HeaderSaysWhatTheFileHolds)
{
    const std::string capture = sample("--width 64 --height 48 --frames 8 --dropped 2,5");
    const Mode modes[] = {
        kNormal, kRawColour, {"RAW colour, AHD", true, true, 4}, {"greyscale", false, false, 11, true}};
    const char* dispmodes[] = {"Normal", "RAW colour", "RAW colour", "Normal, greyscale"};
    for (std::size_t m = 0; m < std::size(modes); ++m) {
        SCOPED_TRACE(modes[m].name);
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        apply(v, modes[m]);
        const std::string base = out.file("mode" + std::to_string(m));
        ASSERT_TRUE(v.SaveFitsBlocks(base, 10, takeOnly({1, 2, 3, 4, 6})));
        const FitsReadBack f = readWithAstropy(base + "_0000.fit");
        ASSERT_EQ(f.failure, "");
        // The library's algorithms draw 4 pixels less on every side: the sum takes the picture's size.
        const int margin = modes[m].algorithm == 4 ? 8 : 0;
        EXPECT_EQ(f.cols, 64 - margin);
        EXPECT_EQ(f.rows, 48 - margin);
        EXPECT_EQ(cardValue(f, "NCOMBINE"), "4") << "dropped frame 2 is not summed";
        EXPECT_EQ(cardValue(f, "FRAME1"), "1");
        EXPECT_EQ(cardValue(f, "FRAMEN"), "6");
        EXPECT_EQ(cardValue(f, "SRCFILE"), std::filesystem::path(capture).filename().string());
        EXPECT_EQ(cardValue(f, "DISPMODE"), dispmodes[m]);
        EXPECT_EQ(cardValue(f, "CREATOR"), "Kestro 3.1");
        EXPECT_NE(f.card("DATE"), nullptr);
        EXPECT_EQ(f.card("BAYERPAT"), nullptr) << "only RAW Y-channel sums are mosaics";
        const FitsVerdict verdict = fitsverify(base + "_0000.fit");
        EXPECT_TRUE(verdict.clean()) << verdict.report;
    }
}

TEST_F(FitsExport, FileNamesKeepThePrefixWhole)
{
    const std::string capture = sample("--width 8 --height 4 --frames 3 --dropped none");
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"m42.lum", {"m42_0000.lum.fit", "m42_0001.lum.fit", "m42_0002.lum.fit"}},
        {"m42[1]", {"m42[1]_0000.fit", "m42[1]_0001.fit", "m42[1]_0002.fit"}},
        {"jup(a)", {"jup(a)_0000.fit", "jup(a)_0001.fit", "jup(a)_0002.fit"}},
    };
    for (const auto& [prefix, names] : cases) {
        SCOPED_TRACE(prefix);
        ScratchDir folder;
        writeFile(folder.file(names[0]), Bytes(100000, 0x55)); // an earlier file, replaced
        ExportReport report;
        EXPECT_TRUE(v.SaveFitsBlocks(folder.file(prefix), 1, {}, {}, &report));
        EXPECT_EQ(namesIn(folder.path()), names);
        EXPECT_EQ(report.files.size(), 3u);
        EXPECT_EQ(readWithAstropy(folder.file(names[0])).failure, "");
    }
}

TEST_F(FitsExport, NumbersGoOnWithFiveDigitsAfter9999)
{
    const std::string capture = sample("--width 8 --height 4 --frames 10001 --dropped none");
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    v.m_bRaw = true;
    EXPECT_TRUE(v.SaveFitsBlocks(out.file("tiny"), 1));
    const std::vector<std::string> names = namesIn(out.path());
    ASSERT_EQ(names.size(), 10001u);
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), "tiny_9999.fit"));
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), "tiny_10000.fit"));
}

TEST_F(FitsExport, FailuresAreToldOnceAndLeaveNoHalfFile)
{
    const std::string capture = bgr24Capture(160, 120, 40); // 75 KiB a file in 16 bits
    const Bytes earlier = {'e', 'a', 'r', 'l', 'i', 'e', 'r'};
    auto placeEarlier = [&](const std::filesystem::path& p) { writeFile((p / "x_0039.fit").string(), earlier); };
    struct Case {
        const char* name;
        std::unique_ptr<RestrictedFolder> folder;
        std::string reason;
    };
    std::vector<Case> cases;
    cases.push_back({"missing folder", nullptr, "No such file or directory"});
    cases.push_back(
        {"read-only folder", std::make_unique<RestrictedFolder>(RestrictedFolder::Kind::ReadOnly, placeEarlier), ""});
    cases.push_back({"full disk",
                     std::make_unique<RestrictedFolder>(RestrictedFolder::Kind::Full, placeEarlier, 512 * 1024),
                     "No space left on device"});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.folder && !c.folder->available()) {
            std::printf("skipped %s: %s\n", c.name, c.folder->reason().c_str());
            continue;
        }
        const std::string base = c.folder ? c.folder->file("x") : out.file("missing/x");
        messages.clear();
        CVideoSource v;
        ASSERT_TRUE(v.Open(capture));
        EXPECT_FALSE(v.SaveFitsBlocks(base, 1));
        ASSERT_EQ(messages.messages().size(), 1u);
        const Message& m = messages.messages().front();
        EXPECT_EQ(m.caption, "kxFitsFile::saveToFile");
        EXPECT_TRUE(contains(m.text, base + "_00")) << m.text;
        EXPECT_TRUE(contains(m.text, c.reason)) << m.text;
        if (!c.folder)
            continue;
        // Whole files numbered from 0 in a row, the earlier file as it was, and no temporary file.
        int written = 0;
        for (const std::string& name : namesIn(c.folder->path())) {
            if (name == "x_0039.fit") {
                EXPECT_EQ(readFile(c.folder->file(name)), earlier);
                continue;
            }
            EXPECT_EQ(name, "x_" + std::string(written < 10 ? "000" : "00") + std::to_string(written) + ".fit");
            EXPECT_EQ(readWithAstropy(c.folder->file(name)).failure, "") << name;
            ++written;
        }
        EXPECT_NE(written, 1) << "the message's wording for one file is checked apart";
        EXPECT_TRUE(contains(m.text, written == 0
                                         ? std::string("no file was saved before it")
                                         : "the " + std::to_string(written) + " files saved before it are kept"))
            << m.text;
    }
}

TEST_F(FitsExport, ABlockSizeOfZeroIsRefused)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(sample("--width 8 --height 4 --frames 3 --dropped none")));
    EXPECT_FALSE(v.SaveFitsBlocks(out.file("zero"), 0));
    EXPECT_EQ(messages.messages(),
              (std::vector<Message>{{"The block size must be at least 1 frame.\nNothing was written.", "SaveFitsBlocks",
                                     kestro::ui::Icon::Warning}}));
    EXPECT_TRUE(namesIn(out.path()).empty());
}

// A frame that cannot be read adds nothing but counts towards its block, and is told once.
TEST_F(FitsExport, UnreadableFramesCountTowardsTheirBlock)
{
    AviReadServices services;
    services.streamRead = [](PAVISTREAM s, LONG start, LONG n, void* buf, LONG size, LONG* bytes, LONG* samples) {
        return buf && start == 3 ? AVIERR_FILEREAD : AVIStreamRead(s, start, n, buf, size, bytes, samples);
    };
    services.streamReadPart = [](PAVISTREAM s, LONG start, LONG offset, LONG row, LONG rows, void* buf, LONG stride,
                                 LONG* bytes) {
        return start == 3 ? AVIERR_FILEREAD : AVIStreamReadPart(s, start, offset, row, rows, buf, stride, bytes);
    };
    CVideoSource v(services);
    ASSERT_TRUE(v.Open(sample("--width 16 --height 8 --frames 7 --dropped none")));
    v.m_bRaw = true;
    EXPECT_FALSE(v.SaveFitsBlocks(out.file("gap"), 3));
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"gap_0000.fit", "gap_0001.fit", "gap_0002.fit"}));
    const FitsReadBack second = readWithAstropy(out.file("gap_0001.fit"));
    EXPECT_EQ(cardValue(second, "NCOMBINE"), "2");
    EXPECT_EQ(cardValue(second, "FRAME1"), "4");
    EXPECT_EQ(cardValue(second, "FRAMEN"), "5");
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages().front().text,
              "1 frame of " + std::filesystem::path(v.GetFileName()).filename().string() +
                  " could not be read and was left out: frame 3.\nFrame 3: A disk error occurred while reading the "
                  "file.");
}

// RAW Y-channel sums are made band by band: a frame that can be read in its first bands and not
// in a later one is left out of its block wholly, not only from the rows after the failure. The
// 480 rows of these frames are several bands; every read of the frame's plane below its top
// fails.
TEST_F(FitsExport, AFrameThatFailsInALaterBandIsLeftOutWholly)
{
    static LONG g_failing = -1;
    AviReadServices services;
    services.streamReadPart = [](PAVISTREAM s, LONG start, LONG offset, LONG row, LONG rows, void* buf, LONG stride,
                                 LONG* bytes) {
        return start == g_failing && offset > 0 ? AVIERR_FILEREAD
                                                : AVIStreamReadPart(s, start, offset, row, rows, buf, stride, bytes);
    };
    const std::string capture = sample("--width 640 --height 480 --frames 6 --dropped none");
    const std::vector<Bytes> planes = storedPlanes(capture, 640, 480);
    ASSERT_EQ(planes.size(), 6u);
    for (const LONG failing : {3, 0}) {
        SCOPED_TRACE("frame " + std::to_string(failing));
        g_failing = failing;
        messages.clear();
        ScratchDir folder;
        CVideoSource v(services);
        ASSERT_TRUE(v.Open(capture));
        v.m_bRaw = true;
        ExportReport report;
        EXPECT_FALSE(v.SaveFitsBlocks(folder.file("band"), 6, {}, {}, &report));
        EXPECT_EQ(report.nFramesLeftOut, 1);
        EXPECT_EQ(report.leftOut, std::vector<std::int32_t>{failing});
        EXPECT_EQ(report.nFramesWritten, 5);
        ASSERT_EQ(namesIn(folder.path()), std::vector<std::string>{"band_0000.fit"});
        const FitsReadBack f = readWithAstropy(folder.file("band_0000.fit"));
        ASSERT_EQ(f.failure, "");
        std::vector<std::uint64_t> want(640 * 480, 0);
        for (std::size_t frame = 0; frame < 6; ++frame)
            for (std::size_t k = 0; frame != static_cast<std::size_t>(failing) && k < want.size(); ++k)
                want[k] += planes[frame][k];
        EXPECT_TRUE(picture(f) == want) << "the sum is not that of the other five frames";
        EXPECT_EQ(cardValue(f, "NCOMBINE"), "5");
        EXPECT_EQ(cardValue(f, "FRAME1"), failing == 0 ? "1" : "0");
        EXPECT_EQ(cardValue(f, "FRAMEN"), "5");
    }
}

// Progress is stepped once per frame index, ticked or not, while the sums are made band by band;
// asked to stop, the export drops the block under way and leaves no unfinished file.
TEST_F(FitsExport, ProgressAndStopHoldForSumsMadeBandByBand)
{
    const std::string capture = sample("--width 640 --height 480 --frames 6 --dropped none");
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    v.m_bRaw = true;
    std::atomic<bool> stop{false};
    v.SetStopFlag(&stop);
    int steps = 0;
    ExportReport report;
    const ProgressCallback count = [&] { ++steps; };
    EXPECT_TRUE(v.SaveFitsBlocks(out.file("all"), 2, takeOnly({0, 2, 3, 5}), count, &report));
    EXPECT_EQ(steps, 6);
    EXPECT_EQ(report.files.size(), 2u);

    ScratchDir folder;
    steps = 0;
    const ProgressCallback stopAtThree = [&] {
        if (++steps == 3)
            stop = true;
    };
    EXPECT_FALSE(v.SaveFitsBlocks(folder.file("part"), 2, {}, stopAtThree, &report));
    EXPECT_TRUE(report.bStopped);
    const std::optional<kestro::ui::Message> told = DescribeExport(report);
    ASSERT_TRUE(told.has_value());
    EXPECT_EQ(told->text, "Stopped before frame 2, as asked; the one file completed before it is kept, and no "
                          "unfinished file was left.");
    EXPECT_EQ(namesIn(folder.path()), std::vector<std::string>{"part_0000.fit"});
    EXPECT_TRUE(messages.messages().empty());
}

// A capture that decodes to 32 bits (blue, green, red, unused) is summed from its luminance, as a
// 24-bit one is.
TEST_F(FitsExport, ThirtyTwoBitFramesAreSummedAsLuminance)
{
    const std::string capture =
        ffmpegCapture("fits-bgra.avi", "testsrc2=size=32x16:rate=5", "-frames:v 5 -c:v rawvideo -pix_fmt bgra");
    ASSERT_FALSE(capture.empty());
    const std::vector<Bytes> frames = decodeAll(capture, 32, 32, 16);
    ASSERT_EQ(frames.size(), 5u);
    CVideoSource v;
    ASSERT_TRUE(v.Open(capture));
    EXPECT_TRUE(v.SaveFitsBlocks(out.file("bgra"), 3));
    EXPECT_TRUE(messages.messages().empty());
    ASSERT_EQ(namesIn(out.path()), (std::vector<std::string>{"bgra_0000.fit", "bgra_0001.fit"}));
    const std::vector<std::vector<std::size_t>> blocks = {{0, 1, 2}, {3, 4}};
    for (std::size_t n = 0; n < blocks.size(); ++n) {
        const FitsReadBack f = readWithAstropy(out.file("bgra_000" + std::to_string(n) + ".fit"));
        ASSERT_EQ(f.failure, "");
        EXPECT_EQ(cardValue(f, "NCOMBINE"), std::to_string(blocks[n].size()));
        std::vector<std::uint64_t> want(32 * 16, 0);
        for (std::size_t frame : blocks[n])
            for (std::size_t k = 0; k < want.size(); ++k) {
                const std::uint8_t* p = frames[frame].data() + 4 * k;
                want[k] += kestro::video::greyOf(p[0], p[1], p[2]);
            }
        EXPECT_EQ(picture(f), want);
    }
}

// A block none of whose frames could be read would be a file of zeros, which a stacking program
// takes for a frame of black sky: it is not written, and the others keep their numbers.
TEST_F(FitsExport, ABlockWithoutAReadableFrameLeavesNoFile)
{
    static const std::set<LONG> unreadable = {3, 4, 5};
    AviReadServices services;
    services.streamReadPart = [](PAVISTREAM s, LONG start, LONG offset, LONG row, LONG rows, void* buf, LONG stride,
                                 LONG* bytes) {
        return unreadable.contains(start) ? AVIERR_FILEREAD
                                          : AVIStreamReadPart(s, start, offset, row, rows, buf, stride, bytes);
    };
    CVideoSource v(services);
    ASSERT_TRUE(v.Open(sample("--width 16 --height 8 --frames 7 --dropped none")));
    v.m_bRaw = true;
    EXPECT_FALSE(v.SaveFitsBlocks(out.file("gap"), 3));
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"gap_0000.fit", "gap_0002.fit"}));
    EXPECT_EQ(cardValue(readWithAstropy(out.file("gap_0002.fit")), "FRAME1"), "6");
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_TRUE(contains(messages.messages().front().text, "could not be read and were left out: frames 3, 4 and 5."))
        << messages.messages().front().text;

    // Nothing readable at all: no file, and the user is told that nothing was written.
    messages.clear();
    ScratchDir none;
    EXPECT_FALSE(v.SaveFitsBlocks(none.file("gap"), 3, takeOnly({3, 4, 5})));
    EXPECT_TRUE(namesIn(none.path()).empty());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_TRUE(contains(messages.messages().front().text, "None of the 3 frames taken from"))
        << messages.messages().front().text;
}

} // namespace
