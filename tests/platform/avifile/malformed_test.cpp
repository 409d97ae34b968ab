// Damaged and hostile files: each is opened and every operation is driven over it.
// Whatever the bytes, the services answer through their result codes; where a sound
// reading exists (a truncated capture, a broken index) the frames that are whole are
// served. The sanitizer build runs these too.
#include "avi_builder.h"
#include "avi_handles.h"
#include "avi_exercise.h"
#include "avi_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using namespace kestro::test;

constexpr LONG kAny = -2;

struct Damage {
    const char* name;
    std::function<Bytes()> make;
    bool opens;         // AVIFileOpenA and AVIFileGetStream succeed
    LONG length = kAny; // expected stream length when it opens
    int decoded = -1;   // expected number of positions that decode (-1: not checked)
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const Damage& c, std::ostream* os) { *os << c.name; }
};

// Five 8x4 24-bit frames, frame 2 dropped; per frame 96 bytes.
AviLayout base() { return layout24(5, {2}); }

Bytes built(const std::function<void(AviLayout&)>& shape = {}, const std::function<void(Bytes&, AviLayout&)>& hurt = {})
{
    AviLayout l = base();
    if (shape)
        shape(l);
    Bytes b = build(l);
    if (hurt)
        hurt(b, l);
    return b;
}

std::size_t find(const Bytes& b, const char* tag, std::size_t from = 0)
{
    for (std::size_t i = from; i + 4 <= b.size(); ++i)
        if (std::memcmp(b.data() + i, tag, 4) == 0)
            return i;
    ADD_FAILURE() << "no " << tag;
    return 0;
}

void setBih(Bytes& b, AviLayout& l, std::size_t field, std::uint32_t v) { poke32(b, l.strfOffset + 8 + field, v); }

std::vector<Damage> damages()
{
    const auto truncate = [](std::function<std::size_t(const AviLayout&)> at) {
        return [at](Bytes& b, AviLayout& l) { b.resize(at(l)); };
    };
    return {
        {"EmptyFile", [] { return Bytes{}; }, false},
        {"TextFile",
         [] {
             const std::string s = "this is a text file, not a capture\n";
             return Bytes(s.begin(), s.end());
         },
         false},
        {"RiffOfAnotherForm", [] { return built({}, [](Bytes& b, AviLayout&) { poke32(b, 8, fourcc("WAVE")); }); },
         false},
        {"TruncatedInsideHdrl",
         [=] { return built({}, truncate([](const AviLayout& l) { return l.strhOffset + 20; })); }, true, 0, 0},
        {"TruncatedRightAfterMovi",
         [=] { return built({}, truncate([](const AviLayout& l) { return l.moviOffset + 12; })); }, true, 0, 0},
        {"TruncatedMidFrame",
         [=] { return built({}, truncate([](const AviLayout& l) { return l.frameOffsets[3] + 8 + 40; })); }, true, 3,
         3},
        {"TruncatedBeforeIdx1", [=] { return built({}, truncate([](const AviLayout& l) { return l.idx1Offset; })); },
         true, 5, 5},
        {"TruncatedInsideIdx1",
         [=] { return built({}, truncate([](const AviLayout& l) { return l.idx1Offset + 8 + 16 * 2 + 5; })); }, true, 5,
         5},
        {"RiffSizeZero", [] { return built({}, [](Bytes& b, AviLayout&) { poke32(b, 4, 0); }); }, true, 5, 5},
        {"RiffSizePastEnd", [] { return built({}, [](Bytes& b, AviLayout&) { poke32(b, 4, 0x7FFFFFF0); }); }, true, 5,
         5},
        {"RiffSizeNearMax", [] { return built({}, [](Bytes& b, AviLayout&) { poke32(b, 4, 0xFFFFFFFF); }); }, true, 5,
         5},
        {"HdrlSizeNearMax", [] { return built({}, [](Bytes& b, AviLayout&) { poke32(b, 16, 0xFFFFFFF8); }); }, true},
        {"StrlSizePastParent",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.strhOffset - 8, 0x10000); }); }, true, 5, 5},
        {"MoviSizeNearMax",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.moviOffset + 4, 0xFFFFFFFF); }); }, true, 5, 5},
        {"MoviSizeZeroNoIndex",
         [] {
             return built([](AviLayout& l) { l.index = AviLayout::Index::None; },
                          [](Bytes& b, AviLayout& l) { poke32(b, l.moviOffset + 4, 0); });
         },
         true, 5, 5},
        {"FrameChunkSizeNearMaxNoIndex",
         [] {
             return built([](AviLayout& l) { l.index = AviLayout::Index::None; },
                          [](Bytes& b, AviLayout& l) { poke32(b, l.frameOffsets[3] + 4, 0xFFFFFFFF); });
         },
         true, 3, 3},
        {"ChunkSizeOddNoIndex",
         [] {
             return built([](AviLayout& l) {
                 l.index = AviLayout::Index::None;
                 l.frames[1].push_back(1);
             });
         },
         true, 5, 5},
        {"Idx1PointsOutsideMovi",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.idx1Offset + 8 + 16 * 1 + 8, 0x7FFF0000); }); },
         true, 5, 5},
        {"Idx1PointsIntoHeaders",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.idx1Offset + 8 + 16 * 1 + 8, 0); }); }, true, 5,
         5},
        {"Idx1SizeLargerThanChunk",
         [] {
             return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.idx1Offset + 8 + 16 * 4 + 12, 0x00FFFFFF); });
         },
         true, 5, 5},
        {"Idx1LengthNotMultipleOf16",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.idx1Offset + 4, 16 * 5 - 3); }); }, true, 5, 5},
        {"Idx1SizeNearMax",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.idx1Offset + 4, 0xFFFFFFF0); }); }, true, 5, 5},
        {"Idx1EntriesOfOtherStreamsOnly",
         [] {
             return built({}, [](Bytes& b, AviLayout& l) {
                 for (int k = 0; k < 5; ++k)
                     poke32(b, l.idx1Offset + 8 + 16 * static_cast<std::size_t>(k), fourcc("07db"));
             });
         },
         true, 5, 5},
        {"WidthZero", [] { return built({}, [](Bytes& b, AviLayout& l) { setBih(b, l, 4, 0); }); }, true, 5, 0},
        {"WidthNegative",
         [] { return built({}, [](Bytes& b, AviLayout& l) { setBih(b, l, 4, static_cast<std::uint32_t>(-8)); }); },
         true, 5, 0},
        {"HeightMostNegative", [] { return built({}, [](Bytes& b, AviLayout& l) { setBih(b, l, 8, 0x80000000u); }); },
         true, 5, 0},
        {"DimensionsOverflow",
         [] {
             return built({}, [](Bytes& b, AviLayout& l) {
                 setBih(b, l, 4, 0x7FFFFFFF);
                 setBih(b, l, 8, 0x7FFFFFFF);
             });
         },
         true, 5, 0},
        {"BitCountUnsupported", [] { return built({}, [](Bytes& b, AviLayout& l) { b[l.strfOffset + 8 + 14] = 7; }); },
         true, 5, 0},
        {"StrfShorterThanAHeader",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.strfOffset + 4, 20); }); }, true, kAny, 0},
        {"SizeImageZero", [] { return built({}, [](Bytes& b, AviLayout& l) { setBih(b, l, 20, 0); }); }, true, 5, 5},
        {"SizeImageWrong", [] { return built({}, [](Bytes& b, AviLayout& l) { setBih(b, l, 20, 0xFFFFFFFF); }); }, true,
         5, 5},
        {"ChunkShorterThanPicture", [] { return built([](AviLayout& l) { l.frames[1].resize(50); }); }, true, 5, 3},
        {"PalettePastItsChunk",
         [] {
             return built(
                 [](AviLayout& l) {
                     l.bitCount = 8;
                     l.palette = Bytes(16 * 4, 0x40);
                     for (auto& f : l.frames)
                         if (!f.empty())
                             f.resize(32);
                 },
                 [](Bytes& b, AviLayout& l) { setBih(b, l, 32, 256); });
         },
         true, 5, 5},
        {"RateAndScaleZero",
         [] {
             return built({}, [](Bytes& b, AviLayout& l) {
                 poke32(b, l.strhOffset + 8 + 20, 0);
                 poke32(b, l.strhOffset + 8 + 24, 0);
             });
         },
         true, 5, 5},
        {"FrameCountsMax",
         [] {
             return built({}, [](Bytes& b, AviLayout& l) {
                 poke32(b, 12 + 12 + 8 + 16, 0xFFFFFFFF);
                 poke32(b, l.strhOffset + 8 + 32, 0xFFFFFFFF);
             });
         },
         true, 5, 5},
        {"FrameCountsZero",
         [] {
             return built({}, [](Bytes& b, AviLayout& l) {
                 poke32(b, 12 + 12 + 8 + 16, 0);
                 poke32(b, l.strhOffset + 8 + 32, 0);
             });
         },
         true, 5, 5},
        {"StartNearMax",
         [] { return built({}, [](Bytes& b, AviLayout& l) { poke32(b, l.strhOffset + 8 + 28, 0x7FFFFFFE); }); }, true,
         5, 5},
        // A start at the top of the position range: the last position, start + length - 1, is
        // the largest a LONG holds, and one past it is not a LONG at all.
        {"StartAtMaxNoFrames",
         [] {
             AviLayout l = layout24(0);
             Bytes b = build(l);
             poke32(b, l.strhOffset + 8 + 28, 0x7FFFFFFF);
             return b;
         },
         true, 0, 0},
        {"StartOneBelowMaxOneFrame",
         [] {
             AviLayout l = layout24(1);
             Bytes b = build(l);
             poke32(b, l.strhOffset + 8 + 28, 0x7FFFFFFE);
             return b;
         },
         true, 1, 1},
        {"NoVideoStream", [] { return built([](AviLayout& l) { l.audioOnly = true; }); }, false},
        {"StrlNestedDeeply",
         [] {
             Bytes inner = chunk("avih", Bytes(56, 0));
             for (int i = 0; i < 200; ++i)
                 inner = list("strl", inner);
             Bytes f;
             put32(f, fourcc("RIFF"));
             put32(f, static_cast<std::uint32_t>(inner.size() + 16));
             put32(f, fourcc("AVI "));
             Bytes h = list("hdrl", inner);
             f.insert(f.end(), h.begin(), h.end());
             return f;
         },
         false},
    };
}

class Malformed : public ::testing::TestWithParam<Damage> {};

TEST_P(Malformed, AnsweredThroughResultCodes)
{
    const Damage& d = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("damaged.avi");
    writeFile(path, d.make());
    const ExerciseResult r = exerciseAvi(path);
    if (d.opens) {
        ASSERT_EQ(r.open, AVIERR_OK);
        ASSERT_EQ(r.stream, AVIERR_OK);
        if (d.length != kAny) {
            EXPECT_EQ(r.length, d.length);
        }
        // Positions that give a bitmap; a dropped frame shows the frame before it.
        if (d.decoded >= 0) {
            EXPECT_EQ(r.framesDecoded, d.decoded);
        }
        // The suggested buffer never exceeds what the file could hold.
        EXPECT_LE(r.suggestedBuffer, 4096u);
        // Every position of the stream was asked about, also where the stream ends at the top
        // of the position range.
        EXPECT_GE(r.positions, std::min<std::int64_t>(r.length, 64) + 1);
    } else if (r.open == AVIERR_OK) {
        EXPECT_NE(r.stream, AVIERR_OK);
    }
    EXPECT_TRUE(r.bitmapsConsistent);
}

INSTANTIATE_TEST_SUITE_P(Read, Malformed, ::testing::ValuesIn(damages()),
                         [](const auto& info) { return std::string(info.param.name); });

// An idx1 that disagrees with movi (a recorder that got its offsets wrong) must not turn whole
// frames into dropped ones: movi is walked instead, and each frame reads as its own bytes, the
// dropped one (frame 1) still without data.
TEST(DamagedIdx1, EveryWholeFrameIsFoundByWalkingMovi)
{
    struct Case {
        const char* name;
        std::function<void(Bytes&, AviLayout&)> hurt;
    };
    const auto entry = [](const AviLayout& l, int k) { return l.idx1Offset + 8 + 16 * static_cast<std::size_t>(k); };
    const Case cases[] = {
        {"entries 2 and 3 outside movi",
         [&](Bytes& b, AviLayout& l) {
             poke32(b, entry(l, 2) + 8, 0x7FFF0000);
             poke32(b, entry(l, 3) + 8, 0x00FFFF00);
         }},
        {"entry 3 into the headers", [&](Bytes& b, AviLayout& l) { poke32(b, entry(l, 3) + 8, 4); }},
        {"last entry off its chunk",
         [&](Bytes& b, AviLayout& l) { poke32(b, entry(l, 4) + 8, peek32(b, entry(l, 4) + 8) + 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviLayout l = layout24(5, {1});
        Bytes b = build(l);
        c.hurt(b, l);
        ScratchDir dir;
        const std::string path = dir.file("index.avi");
        writeFile(path, b);
        kestro::avi::FileHandle f;
        ASSERT_EQ(AVIFileOpenA(f.out(), path.c_str(), OF_READ, nullptr), AVIERR_OK);
        kestro::avi::StreamHandle s;
        ASSERT_EQ(AVIFileGetStream(f.get(), s.out(), streamtypeVIDEO, 0), AVIERR_OK);
        ASSERT_EQ(AVIStreamLength(s.get()), 5);
        for (LONG k = 0; k < 5; ++k) {
            Bytes got(4096);
            LONG bytes = -1;
            ASSERT_EQ(AVIStreamRead(s.get(), k, 1, got.data(), 4096, &bytes, nullptr), AVIERR_OK);
            got.resize(static_cast<std::size_t>(bytes));
            EXPECT_EQ(got, l.frames[static_cast<std::size_t>(k)]) << "frame " << k;
            EXPECT_EQ(AVIStreamFindSample(s.get(), k, FIND_ANY | FIND_PREV), k == 1 ? 0 : k) << "frame " << k;
        }
    }
}

// OpenDML indexes, damaged. The fixture comes from our writer, which always writes
// indx, ix00 and idx1 (ffmpeg leaves out the OpenDML indexes below 1 GiB; its reading
// of our OpenDML files is checked in the writer's tests). The idx1 is renamed away first
// so that the OpenDML path alone decides.
struct OdmlDamage {
    const char* name;
    std::function<void(Bytes&, std::size_t indx, std::size_t ix)> hurt;
    LONG length;
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const OdmlDamage& c, std::ostream* os) { *os << c.name; }
};

class MalformedOpenDml : public ::testing::TestWithParam<OdmlDamage> {};

void writeSixFrames(const std::string& path)
{
    std::unique_ptr<kestro::avi::AviWriter> w;
    ASSERT_EQ(kestro::avi::AviWriter::create(path, w), AVIERR_OK);
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 5;
    info.rcFrame = {0, 0, 16, 8};
    int stream = -1;
    ASSERT_EQ(w->addStream(info, stream), AVIERR_OK);
    BITMAPINFOHEADER bih{40, 16, 8, 1, 24, 0, 16 * 8 * 3, 0, 0, 0, 0};
    ASSERT_EQ(w->setFormat(stream, &bih, sizeof bih), AVIERR_OK);
    Bytes frame(16 * 8 * 3);
    for (int k = 0; k < 6; ++k) {
        std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(k * 40));
        ASSERT_EQ(w->write(stream, k, frame.data(), static_cast<std::uint32_t>(frame.size()), true), AVIERR_OK);
    }
    ASSERT_EQ(w->finish(), AVIERR_OK);
}

TEST_P(MalformedOpenDml, FallsBackOrServesWhatIsSound)
{
    ScratchDir dir;
    const std::string src = dir.file("odml.avi");
    writeSixFrames(src);
    Bytes b = readFile(src);
    const std::size_t indx = find(b, "indx");
    const std::size_t ix = find(b, "ix00");
    const std::size_t idx1 = find(b, "idx1");
    std::memcpy(b.data() + idx1, "JUNK", 4);
    GetParam().hurt(b, indx, ix);
    const std::string path = dir.file("damaged.avi");
    writeFile(path, b);
    const ExerciseResult r = exerciseAvi(path);
    ASSERT_EQ(r.stream, AVIERR_OK);
    EXPECT_EQ(r.length, GetParam().length);
    EXPECT_TRUE(r.bitmapsConsistent);
    EXPECT_EQ(r.framesDecoded, r.length);
}

INSTANTIATE_TEST_SUITE_P(
    Read, MalformedOpenDml,
    ::testing::Values(
        OdmlDamage{"Intact", [](Bytes&, std::size_t, std::size_t) {}, 6},
        // Super index: entries in use far beyond its slots.
        OdmlDamage{"MoreEntriesInUseThanSlots",
                   [](Bytes& b, std::size_t indx, std::size_t) { poke32(b, indx + 12, 0x7FFFFFFF); }, 6},
        // Wrong index type or entry width: the whole file is walked instead.
        OdmlDamage{"SuperIndexWrongType", [](Bytes& b, std::size_t indx, std::size_t) { b[indx + 11] = 1; }, 6},
        OdmlDamage{"SuperIndexWrongWidth", [](Bytes& b, std::size_t indx, std::size_t) { b[indx + 8] = 3; }, 6},
        OdmlDamage{"StandardIndexWrongWidth", [](Bytes& b, std::size_t, std::size_t ix) { b[ix + 8] = 7; }, 6},
        OdmlDamage{"StandardIndexPastEnd",
                   [](Bytes& b, std::size_t indx, std::size_t) {
                       poke32(b, indx + 8 + 24, 0xFFFFFF00);
                       poke32(b, indx + 8 + 28, 0x7F);
                   },
                   6},
        OdmlDamage{"SuperIndexPointsAtItself",
                   [](Bytes& b, std::size_t indx, std::size_t) {
                       poke32(b, indx + 8 + 24, static_cast<std::uint32_t>(indx));
                       poke32(b, indx + 8 + 28, 0);
                   },
                   6},
        OdmlDamage{"StandardIndexEntriesInUseHuge",
                   [](Bytes& b, std::size_t, std::size_t ix) { poke32(b, ix + 12, 0x7FFFFFFF); }, 6},
        OdmlDamage{"StandardIndexEntryPastEnd",
                   [](Bytes& b, std::size_t, std::size_t ix) { poke32(b, ix + 32 + 8 * 5, 0x7FFFFFF0); }, 6},
        // Bit 31 of a size marks a delta frame; the size itself is the low 31 bits.
        OdmlDamage{"DeltaFrameBits",
                   [](Bytes& b, std::size_t, std::size_t ix) {
                       for (int k = 1; k < 6; ++k)
                           b[ix + 32 + 8 * static_cast<std::size_t>(k) + 7] |= 0x80;
                   },
                   6}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
