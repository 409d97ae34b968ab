// kestro-convert on SER captures written by an independent numpy script: found in folders beside
// AVI files, read by their signature whatever their name, exported through the display modes in
// 8 bits (read back by ffmpeg and astropy), coloured by their own Bayer id unless --pattern says
// otherwise, and read in the byte order --byte-order forces.
#include "convert_fixture.h"
#include "fits_check.h"
#include "ser_check.h"
#include "ser_fixtures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace kestro::test;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The grey values of an 8-bit AVI frame: ffmpeg's own grey conversion of a palette rounds, so the
// frame is read in colour and one channel of its grey pixels taken.
Bytes greyFrame(const std::string& path, int n)
{
    const Bytes bgr = ffmpegFrame(path, n, "bgr24");
    Bytes grey;
    for (std::size_t i = 0; i + 2 < bgr.size(); i += 3)
        grey.push_back(bgr[i]);
    return grey;
}

class ConvertSer : public Convert {
protected:
    // Written once per test process: the script takes a while to start.
    static const SerFixtures& ser()
    {
        static const SerFixtures made{"mono8",        "le12-flag0",    "be12-flag0", "colour8-GRBG",
                                      "colour8-BGGR", "colour12-GBRG", "rgb8",       "count0"};
        return made;
    }
    // A copy of a fixture in the test's folder, under the name given.
    std::string place(const std::string& fixture, const std::string& as)
    {
        fs::create_directories(dir.path() / fs::path(as).parent_path());
        fs::copy_file(ser().ser(fixture), dir.file(as));
        return as;
    }
};

// A folder's *.ser files are taken beside its *.avi files, each read by what it is: a SER file
// named .avi converts as SER. RAW Y-channel AVIs hold the stored planes, 12-bit ones scaled to 8.
TEST_F(ConvertSer, FolderScansTakeSerCapturesAndRawYHoldsTheirPlanes)
{
    capture("night/a.avi", "--width 32 --height 16 --frames 3 --dropped none");
    place("le12-flag0", "night/b.ser");
    place("mono8", "night/c.avi");
    place("mono8", "night/notes.txt");
    const Outcome r = convert("--to avi --mode raw-y -o out night");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(namesIn(dir.path() / "out"), (std::vector<std::string>{"a_rlum.avi", "b_rlum.avi", "c_rlum.avi"}));
    for (const auto& [output, fixture, depth] :
         {std::tuple{"out/b_rlum.avi", "le12-flag0", 12}, std::tuple{"out/c_rlum.avi", "mono8", 8}}) {
        SCOPED_TRACE(output);
        const NpyArray truth = ser().truth(fixture);
        ASSERT_EQ(probe(dir.file(output), "nb_read_frames", true), std::to_string(truth.frames()));
        for (std::size_t i = 0; i < truth.frames(); ++i)
            EXPECT_EQ(greyFrame(dir.file(output), static_cast<int>(i)), storedIn8Bits(truth, i, depth))
                << "frame " << i;
    }
}

// Without --pattern a SER capture is de-mosaiced with its header's Bayer id (an AVI with BG, as
// the window starts); --pattern overrides it. FITS sums of RAW Y-channel say the pattern used.
TEST_F(ConvertSer, TheHeaderChoosesThePatternUnlessPatternIsGiven)
{
    for (const char* fixture : {"colour8-GRBG", "colour8-BGGR", "colour12-GBRG"}) {
        SCOPED_TRACE(fixture);
        const std::string name = place(fixture, std::string(fixture) + ".ser");
        const Outcome r = convert("--to avi --mode raw-colour -o out/ " + name);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string output = dir.file("out/" + std::string(fixture) + "_rcol11.avi");
        const NpyArray colour = loadNpy(ser().dir().file(std::string(fixture) + ".colour.npy"));
        const std::size_t height = colour.shape[1], width = colour.shape[2];
        for (std::size_t i = 0; i < colour.frames(); ++i) {
            const Bytes shown = ffmpegFrame(output, static_cast<int>(i), "rgb24");
            ASSERT_EQ(shown.size(), height * width * 3);
            int wrong = 0;
            for (std::size_t y = 1; y + 1 < height; ++y)
                for (std::size_t x = 1; x + 1 < width; ++x)
                    for (std::size_t c = 0; c < 3; ++c)
                        wrong += shown[(y * width + x) * 3 + c] != colour.frame(i)[(y * width + x) * 3 + c];
            EXPECT_EQ(wrong, 0) << "frame " << i;
        }
    }

    std::string why;
    if (!haveAstropy(&why))
        GTEST_SKIP() << why;
    place("colour8-BGGR", "p.ser");
    capture("q.avi", "--width 32 --height 16 --frames 2 --dropped none");
    const std::pair<std::string, std::string> cases[] = {
        {"p.ser", "BGGR"},              // the header's id
        {"--pattern GR p.ser", "GBRG"}, // the button given
        {"q.avi", "GRBG"},              // an AVI: BG
        {"--pattern GB q.avi", "RGGB"}, //
    };
    for (const auto& [args, sensorName] : cases) {
        SCOPED_TRACE(args);
        const Outcome r = convert("--to fits --mode raw-y --block 2 --overwrite -o sums " + args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string stem = args.substr(args.size() - 5, 1);
        const FitsReadBack fits = readWithAstropy(dir.file("sums/" + stem + "_0000.fit"));
        ASSERT_NE(fits.card("BAYERPAT"), nullptr) << fits.failure;
        EXPECT_EQ(fits.card("BAYERPAT")->value, sensorName);
    }
}

// Big-endian samples are found from the data; --byte-order little forces the wrong order (and
// the picture with it), big the right one. Anything else is a usage error.
TEST_F(ConvertSer, ByteOrderIsTheDatasUnlessForced)
{
    const std::string name = place("be12-flag0", "be.ser");
    const NpyArray truth = ser().truth("be12-flag0");
    const std::pair<std::string, bool> cases[] = {
        {"", true}, {"--byte-order big", true}, {"--byte-order little", false}};
    for (const auto& [option, right] : cases) {
        SCOPED_TRACE(option);
        const Outcome r = convert("--to avi --mode raw-y --overwrite " + option + " " + name);
        ASSERT_EQ(r.status, 0) << r.err;
        const bool same = greyFrame(dir.file("be_rlum.avi"), 0) == storedIn8Bits(truth, 0, 12);
        EXPECT_EQ(same, right);
    }
    const Outcome bad = convert("--to avi --byte-order middle " + name);
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(contains(bad.err, "--byte-order takes little, big or auto, not \"middle\"")) << bad.err;
}

// What the reader noticed is said once, beside the capture it concerns; RGB frames, having no
// sensor plane, are refused by the RAW modes in the dry run as in the real run; their Normal BMP
// series holds the stored colours.
TEST_F(ConvertSer, NotesAreSaidOnceAndRgbFramesExportAsNormalShowsThem)
{
    const std::string count0 = place("count0", "count0.ser");
    const Outcome noted = convert("--to avi " + count0);
    EXPECT_EQ(noted.status, 0) << noted.err;
    EXPECT_EQ(occurrences(noted.err, "count0.ser does not say how many frames it holds"), 1u) << noted.err;
    EXPECT_EQ(probe(dir.file("count0_rgb.avi"), "nb_read_frames", true), "4");

    const std::string rgb = place("rgb8", "rgb.ser");
    for (const char* dry : {"--dry-run ", ""}) {
        const Outcome r = convert(std::string(dry) + "--to avi --mode raw-y " + rgb);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.err, "its frames hold RGB colour pictures, not raw sensor values")) << r.err;
    }
    ASSERT_EQ(convert("--to bmp " + rgb).status, 0);
    const NpyArray truth = ser().truth("rgb8");
    for (std::size_t i = 0; i < truth.frames(); ++i) {
        const std::string bmp = dir.file("rgb_rgb_000" + std::to_string(i) + ".bmp");
        EXPECT_EQ(ffmpegFrame(bmp, 0, "rgb24"), storedIn8Bits(truth, i, 8)) << bmp;
    }
}

// --to ser writes one SER file of each capture beside it, named as the AVI would be: a raw AVI
// capture's stored planes under the Bayer id of the pattern, a SER capture's samples at their own
// depth with their times. --dry-run lists them and writes nothing; --output may name the file for
// one capture, and never the capture itself.
TEST_F(ConvertSer, ToSerWritesOneSerFilePerCaptureAtItsDepth)
{
    capture("a.avi", "--width 32 --height 16 --frames 3 --dropped none");
    const std::string b = place("le12-flag0", "b.ser");
    const std::vector<std::string> before = namesIn(dir.path());
    const Outcome dry = convert("--to ser --mode raw-y --frames 1- --dry-run a.avi " + b);
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_TRUE(contains(dry.out, "a.avi: 2 frames → a_rlum.ser")) << dry.out;
    EXPECT_TRUE(contains(dry.out, "b.ser: 3 frames → b_rlum.ser")) << dry.out;
    EXPECT_EQ(namesIn(dir.path()), before);

    const Outcome r = convert("--to ser --mode raw-y --frames 1- a.avi " + b);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string stored;
    run("ffmpeg -v error -i " + quote(dir.file("a.avi")) + " -map 0:v -c copy -f rawvideo -", &stored);
    const std::size_t plane = 32 * 16, sample = plane * 3 / 2;
    ASSERT_EQ(stored.size(), 3 * sample);
    const SerDump fromAvi = dumpSer(dir.file("a_rlum.ser"));
    EXPECT_EQ(fromAvi.number("ColorID"), 9); // BG: GRBG
    EXPECT_EQ(fromAvi.number("PixelDepthPerPlane"), 8);
    std::vector<Samples> planes;
    for (std::size_t i = 1; i < 3; ++i)
        planes.push_back(widen(Bytes(stored.begin() + static_cast<std::ptrdiff_t>(i * sample),
                                     stored.begin() + static_cast<std::ptrdiff_t>(i * sample + plane))));
    EXPECT_EQ(fromAvi.frames, planes);

    const SerDump fromSer = dumpSer(dir.file("b_rlum.ser"));
    const NpyArray truth = ser().truth("le12-flag0");
    EXPECT_EQ(fromSer.number("ColorID"), 8);
    EXPECT_EQ(fromSer.number("PixelDepthPerPlane"), 12);
    ASSERT_EQ(fromSer.frames.size(), 3u);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(fromSer.frames[i - 1], fromLittleEndian(truth.frame(i), truth.frameBytes())) << "frame " << i;
        EXPECT_EQ(fromSer.times.at(i - 1), ser().times("le12-flag0").int64(i));
    }

    const Outcome named = convert("--to ser -o one.ser " + b);
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(dumpSer(dir.file("one.ser")).frames.size(), 4u);
    const Outcome over = convert("--to ser --overwrite -o " + b + " " + b);
    EXPECT_EQ(over.status, 1);
    EXPECT_TRUE(contains(over.err, "which is the capture b.ser")) << over.err;
    const Outcome folder = convert("--to ser -o x.ser a.avi " + b);
    EXPECT_EQ(folder.status, 2);
    EXPECT_TRUE(contains(folder.err, "a name ending in .ser is almost surely meant as one file")) << folder.err;
    EXPECT_EQ(dumpSer(dir.file(b)).frames.size(), 4u);
}

} // namespace
