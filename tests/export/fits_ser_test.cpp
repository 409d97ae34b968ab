// Export Fits Frames of SER captures written by an independent numpy script: where the grey
// picture is the stored plane the sums are of the stored values at full depth, read back by
// astropy and compared with the values the script wrote; each file's DATE-OBS is the time of its
// first frame when the capture holds frame times; blocks whose sums could wrap are refused.
#include "export_fixture.h"
#include "export_frames.h"
#include "export_report.h"
#include "fits_check.h"
#include "fits_sum.h"
#include "ser_fixtures.h"

#include <optional>

namespace {

using namespace kestro::test;
using namespace kestro::test::exports;
using kestro::ui::MessageRecorder;

const SerFixtures& fixtures()
{
    static const SerFixtures made{"sum12-RGGB", "be12-flag0", "mono8", "times-missing", "many16"};
    return made;
}

class FitsSer : public testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!haveAstropy(&why))
            GTEST_SKIP() << why;
    }
    ScratchDir out;
    MessageRecorder messages;
};

std::vector<std::uint64_t> picture(const FitsReadBack& f) { return f.picture(); }

std::string cardValue(const FitsReadBack& f, const std::string& keyword) { return f.cardValue(keyword); }

// Sample k of a frame as the script stored it (little-endian in the .npy), read in the byte order
// given: swapped when the capture is read in the order it was not written in.
std::uint64_t sampleOf(const NpyArray& truth, std::size_t frame, std::size_t k, bool swapped)
{
    const std::uint8_t* p = truth.frame(frame) + k * truth.itemBytes;
    if (truth.itemBytes == 1)
        return p[0];
    return swapped ? std::uint64_t{p[0]} << 8 | p[1] : std::uint64_t{p[1]} << 8 | p[0];
}

// RAW Y-channel, and Normal of a capture of one sample a pixel, sum the stored values exactly:
// no 8-bit picture between, in 32 bits where the sums pass 65535, in the byte order in use.
TEST_F(FitsSer, SumsAreOfTheStoredValuesAtFullDepth)
{
    using kestro::ser::ByteOrder;
    struct Case {
        const char* name;
        const char* fixture;
        Mode mode;
        std::optional<ByteOrder> order; // forced; none: the data decide
        bool swapped;                   // the order in use is not the one written
        std::uint32_t block;
        std::vector<std::pair<int, const char*>> files; // first frame of each file and its BITPIX
    };
    const Case cases[] = {
        {"12 bits, RAW Y-channel, one block past 65535", "sum12-RGGB", kRawY, {}, false, 20, {{0, "32"}}},
        {"12 bits, Normal, blocks within 65535",
         "sum12-RGGB",
         kNormal,
         {},
         false,
         8,
         {{0, "16"}, {8, "16"}, {16, "16"}}},
        {"big-endian, the order the data show", "be12-flag0", kRawY, {}, false, 4, {{0, "16"}}},
        {"big-endian read little-endian, as forced", "be12-flag0", kRawY, ByteOrder::Little, true, 4, {{0, "32"}}},
        {"8 bits, Normal", "mono8", kNormal, {}, false, 2, {{0, "16"}, {2, "16"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NpyArray truth = fixtures().truth(c.fixture);
        CVideoSource v;
        v.SetByteOrder(c.order);
        ASSERT_TRUE(v.Open(fixtures().ser(c.fixture)));
        apply(v, c.mode);
        ScratchDir folder;
        ASSERT_TRUE(v.SaveFitsBlocks(folder.file("sum"), c.block));
        EXPECT_TRUE(messages.messages().empty());
        ASSERT_EQ(namesIn(folder.path()).size(), c.files.size());
        const std::size_t frames = truth.frames(), samples = truth.frameBytes() / truth.itemBytes;
        for (std::size_t n = 0; n < c.files.size(); ++n) {
            const std::string name = "sum_000" + std::to_string(n) + ".fit";
            SCOPED_TRACE(name);
            const FitsReadBack f = readWithAstropy(folder.file(name));
            ASSERT_EQ(f.failure, "");
            EXPECT_EQ(cardValue(f, "BITPIX"), c.files[n].second);
            const std::size_t first = static_cast<std::size_t>(c.files[n].first);
            const std::size_t last = std::min<std::size_t>(first + c.block, frames) - 1;
            std::vector<std::uint64_t> want(samples, 0);
            for (std::size_t frame = first; frame <= last; ++frame)
                for (std::size_t k = 0; k < samples; ++k)
                    want[k] += sampleOf(truth, frame, k, c.swapped);
            EXPECT_EQ(picture(f), want);
            EXPECT_EQ(cardValue(f, "NCOMBINE"), std::to_string(last - first + 1));
            EXPECT_EQ(cardValue(f, "FRAME1"), std::to_string(first));
            EXPECT_EQ(cardValue(f, "FRAMEN"), std::to_string(last));
            const FitsVerdict verdict = fitsverify(folder.file(name));
            EXPECT_TRUE(verdict.clean()) << verdict.report;
        }
    }
}

// AddFrameToSum on its own takes the stored values too, as the export does.
TEST_F(FitsSer, AddFrameToSumAddsTheStoredValues)
{
    const NpyArray truth = fixtures().truth("sum12-RGGB");
    CVideoSource v;
    ASSERT_TRUE(v.Open(fixtures().ser("sum12-RGGB")));
    CSumImage sum;
    sum.Reset(16, 8);
    for (std::int32_t frame : {3, 7}) {
        ASSERT_EQ(v.GoToFrame(frame), frame);
        EXPECT_TRUE(v.AddFrameToSum(sum));
    }
    std::vector<std::uint32_t> want(16 * 8);
    for (std::size_t k = 0; k < want.size(); ++k)
        want[k] = static_cast<std::uint32_t>(sampleOf(truth, 3, k, false) + sampleOf(truth, 7, k, false));
    EXPECT_EQ(sum.values, want);
    EXPECT_EQ(sum.nFrames, 2);
}

// Each file's DATE-OBS is the UTC time of the first frame summed into it, as FITS writes dates,
// in every display mode; a capture without frame times gets none rather than a made-up one.
TEST_F(FitsSer, DateObsIsTheTimeOfEachBlocksFirstFrame)
{
    const std::vector<std::string> iso = fixtures().isoTimes("sum12-RGGB");
    ASSERT_EQ(iso.size(), 20u);
    auto fitsDate = [&](std::size_t frame) { return iso[frame].substr(0, iso[frame].size() - 1); };
    for (const Mode& mode : {kRawY, kNormal, kRawColour}) {
        SCOPED_TRACE(mode.name);
        CVideoSource v;
        ASSERT_TRUE(v.Open(fixtures().ser("sum12-RGGB")));
        apply(v, mode);
        ScratchDir folder;
        ASSERT_TRUE(v.SaveFitsBlocks(folder.file("t"), 2, takeOnly({1, 4, 5, 13, 19})));
        const std::pair<const char*, std::size_t> files[] = {{"t_0000.fit", 1}, {"t_0001.fit", 5}, {"t_0002.fit", 19}};
        for (const auto& [name, first] : files) {
            const FitsReadBack f = readWithAstropy(folder.file(name));
            ASSERT_EQ(f.failure, "") << name;
            EXPECT_EQ(cardValue(f, "DATE-OBS"), fitsDate(first)) << name;
            const FitsVerdict verdict = fitsverify(folder.file(name));
            EXPECT_TRUE(verdict.clean()) << verdict.report;
        }
    }
    CVideoSource v;
    ASSERT_TRUE(v.Open(fixtures().ser("times-missing")));
    ASSERT_TRUE(v.SaveFitsBlocks(out.file("none"), 2));
    EXPECT_EQ(readWithAstropy(out.file("none_0000.fit")).card("DATE-OBS"), nullptr);
    EXPECT_TRUE(messages.messages().empty());
}

// A 32-bit sum holds 65537 values of 16 bits: a block that could hold more of them is refused
// before anything is written, with the limit in the reason, where 8-bit sums take it.
TEST_F(FitsSer, BlocksWhoseSixteenBitSumsCouldWrapAreRefused)
{
    CVideoSource v;
    ASSERT_TRUE(v.Open(fixtures().ser("many16")));
    ASSERT_EQ(v.GetFrameCount(), 65538);
    for (const Mode& mode : {kRawY, kNormal}) {
        SCOPED_TRACE(mode.name);
        apply(v, mode);
        ExportReport report;
        EXPECT_FALSE(v.SaveFitsBlocks(out.file("many"), 65538, {}, {}, &report));
        ASSERT_TRUE(report.failure.has_value());
        EXPECT_EQ(report.failure->text, "Blocks of 65538 frames could add up to more than 32 bits hold: the sums of "
                                        "16-bit values are exact for blocks of up to 65537 frames.\nNothing was "
                                        "written.");
        EXPECT_TRUE(namesIn(out.path()).empty());
        // Fewer frames taken than the limit: no sum can wrap, whatever the block size.
        EXPECT_TRUE(kestro::exports::CheckExport(v,
                                                 {kestro::exports::ExportKind::Fits, out.file("many"), 4294967295u,
                                                  [](std::int32_t i) { return i < 65537; }},
                                                 report));
        EXPECT_TRUE(kestro::exports::CheckExport(
            v, {kestro::exports::ExportKind::Fits, out.file("many"), kestro::exports::kMaxFramesInSum16, {}}, report));
    }
    // An 8-bit capture's sums take blocks of up to 16843009 frames.
    CVideoSource eight;
    ASSERT_TRUE(eight.Open(fixtures().ser("mono8")));
    eight.m_bRaw = true;
    EXPECT_EQ(kestro::exports::MaxFramesInSum(eight), kestro::exports::kMaxFramesInSum);
    EXPECT_TRUE(messages.messages().empty());
}

} // namespace
