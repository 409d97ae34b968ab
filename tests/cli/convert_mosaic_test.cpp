// kestro-convert --info and --pattern auto: what a capture holds and the Bayer order its data show,
// read back by Python's own JSON parser, and exports that take the detected order or refuse to
// guess. The captures come from ffmpeg, the sample tool and make_ser.py, each with a known order.
#include "capture_info.h"
#include "convert_fixture.h"
#include "ser_fixtures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace {

using namespace kestro::test;
namespace fs = std::filesystem;

class ConvertMosaic : public Convert {
protected:
    static const SerFixtures& ser()
    {
        static const SerFixtures made{"planet12-RGGB", "planet12-GRBG-said-MONO", "planet12-GRBG-said-BGGR",
                                      "planet12-GRBG-said-GBRG"};
        return made;
    }
    std::string place(const std::string& fixture)
    {
        fs::copy_file(ser().ser(fixture), dir.file(fixture + ".ser"));
        return fixture + ".ser";
    }
    // Each line of JSON as Python reads it: the promised keys joined by '|', or the parser's error.
    std::vector<std::string> parsed(const std::string& json)
    {
        const std::string lines = dir.file("lines.json");
        writeFile(lines, std::vector<std::uint8_t>(json.begin(), json.end()));
        std::string out;
        run("/usr/bin/python3 -c " +
                quote("import json,sys\n"
                      "for line in open(sys.argv[1], encoding='utf-8'):\n"
                      "    o = json.loads(line)\n"
                      "    if 'error' in o:\n"
                      "        print('error|' + o['file']); continue\n"
                      "    d = o['detected']\n"
                      "    print('|'.join(str(v) for v in [o['format'], o['width'], o['height'], o['frames'],\n"
                      "        o['data_frames'], o['bit_depth'], o['stored_order'], d['mosaic'], d['order'],\n"
                      "        d['diagonal'], d['red_blue']]))\n") +
                " " + quote(lines) + " 2>&1",
            &out);
        fs::remove(lines);
        std::vector<std::string> result;
        for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            result.push_back(out.substr(at, end - at));
        return result;
    }
};

// One JSON object a line, in the order given, for AVI and SER captures of known orders, a decoded
// colour video, and what is no capture; the text form says the same in words.
TEST_F(ConvertMosaic, InfoTellsWhatEachCaptureHoldsAndWhatItsDataShow)
{
    capture("gr.avi", "--width 160 --height 120 --frames 12 --pattern GR --dropped 3");
    ASSERT_EQ(run("ffmpeg -loglevel error -f lavfi -i testsrc2=size=160x120:rate=25 -frames 6 -c:v rawvideo "
                  "-pix_fmt yuv420p " +
                  quote(dir.file("decoded.avi"))),
              0);
    place("planet12-RGGB");
    place("planet12-GRBG-said-MONO");
    ASSERT_EQ(::mkfifo(dir.file("fifo.avi").c_str(), 0600), 0);

    const Outcome r =
        convert("--info --json gr.avi decoded.avi planet12-RGGB.ser planet12-GRBG-said-MONO.ser fifo.avi");
    EXPECT_EQ(r.status, 1) << "a capture that cannot be read fails the run";
    EXPECT_EQ(parsed(r.out), (std::vector<std::string>{
                                 "AVI|160|120|12|11|8|None|True|GBRG|sure|likely",
                                 "AVI|160|120|6|6|8|None|False|None|unsure|unsure",
                                 "SER|96|64|6|6|12|RGGB|True|RGGB|sure|likely",
                                 "SER|96|64|6|6|12|None|True|GRBG|sure|likely",
                                 "error|fifo.avi",
                             }))
        << r.out;

    const Outcome text = convert("--info planet12-GRBG-said-MONO.ser");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "planet12-GRBG-said-MONO.ser: SER, 96×64, 6 frames, 12-bit in 16")) << text.out;
    EXPECT_TRUE(contains(text.out, "the file states: MONO")) << text.out;
    EXPECT_TRUE(contains(text.out, "the data show:   Bayer GRBG (green sites sure, red and blue likely)")) << text.out;
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"decoded.avi", "fifo.avi", "gr.avi",
                                                             "planet12-GRBG-said-MONO.ser", "planet12-RGGB.ser"}))
        << "--info writes nothing";
}

// --pattern auto exports with the order the data show (the file's own where the data agree on the
// green sites), says which, and refuses to guess in a RAW mode where the green sites are unsure.
TEST_F(ConvertMosaic, PatternAutoTakesTheDataOrderOrRefuses)
{
    capture("gr.avi", "--width 160 --height 120 --frames 6 --pattern GR --dropped none");
    Outcome r = convert("--to avi --mode raw-colour --pattern auto -o auto.avi gr.avi");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "--pattern auto: gr.avi: GBRG (the GR button)")) << r.err;
    r = convert("--to avi --mode raw-colour --pattern GR -o given.avi gr.avi");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir.file("auto.avi")), readFile(dir.file("given.avi")));

    struct Case {
        const char* fixture;
        const char* said;
    } const cases[] = {
        {"planet12-GRBG-said-BGGR", "GRBG (the BG button): Bayer GRBG"},         // the data overrule the file
        {"planet12-GRBG-said-GBRG", "GBRG (the GR button): as the file states"}, // the file settles red and blue
        {"planet12-GRBG-said-MONO", "GRBG (the BG button): Bayer GRBG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const std::string name = place(c.fixture);
        r = convert("--to ser --mode raw-y --pattern auto -o out/ " + name);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.err, c.said)) << r.err;
    }

    ASSERT_EQ(run("ffmpeg -loglevel error -f lavfi -i testsrc2=size=160x120:rate=25 -frames 4 -c:v rawvideo "
                  "-pix_fmt yuv420p " +
                  quote(dir.file("decoded.avi"))),
              0);
    r = convert("--to avi --mode raw-colour --pattern auto -o refused/ decoded.avi");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        contains(r.err, "the Bayer order of decoded.avi cannot be told for sure: the data show not a Bayer mosaic"))
        << r.err;
    EXPECT_FALSE(fs::exists(dir.file("refused/decoded_rcol11.avi")));
    // Normal uses no pattern: nothing to refuse.
    r = convert("--to avi --pattern auto -o normal/ decoded.avi");
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(ConvertMosaic, InfoTakesNoExportOptions)
{
    capture("a.avi", "--width 32 --height 16 --frames 2");
    for (const char* args :
         {"--info --to avi a.avi", "--info -o x a.avi", "--info --mode raw-y a.avi", "--json --to avi a.avi"}) {
        SCOPED_TRACE(args);
        const Outcome r = convert(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(contains(r.err, "--info")) << r.err;
    }
    EXPECT_TRUE(contains(convert("--to avi --pattern XY a.avi").err, "BG, GB, GR, RG or auto"));
    EXPECT_EQ(convert("--info --json --byte-order big --jobs 1 a.avi").status, 0);
}

// File names are bytes: quotes, controls and broken UTF-8 still give JSON a parser reads.
TEST(CaptureInfoJson, StringsOfAnyBytes)
{
    using kestro::cli::jsonString;
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("t\tn\n\x01", 5)), "\"t\\u0009n\\u000a\\u0001\"");
    EXPECT_EQ(jsonString("Jupiter \xC3\xA9t\xC3\xA9 \xE2\x9C\x93"), "\"Jupiter \xC3\xA9t\xC3\xA9 \xE2\x9C\x93\"");
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(jsonString("\xC3"), "\"" + fffd + "\"");                                  // cut short
    EXPECT_EQ(jsonString("\xC0\xAF"), "\"" + fffd + fffd + "\"");                       // overlong
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"" + fffd + fffd + fffd + "\"");            // a surrogate
    EXPECT_EQ(jsonString("\xF4\x90\x80\x80"), "\"" + fffd + fffd + fffd + fffd + "\""); // past U+10FFFF
}

} // namespace
