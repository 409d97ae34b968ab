// Files the FITS writer makes, as astropy reads them back and fitsverify judges them: exact values
// in the narrowest unsigned storage, the picture upright, the header the export asks for, and the
// name taken as a plain file name.
#include "kxfits_fixture.h"

#include <cctype>
#include <chrono>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kestro::test;

struct ValueCase {
    const char* name;
    int declaredBitpix;
    int width;
    int height;
    std::uint32_t largestInPattern;
    std::vector<std::uint32_t> topRow; // written over the start of the pattern
    int storedBitpix;
    const char* bzero; // null when the file has none
    const char* dtype;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

class KxFitsValues : public KxFitsTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(KxFitsValues, ReadBackExactlyInTheNarrowestUnsignedStorage)
{
    const ValueCase& c = GetParam();
    auto image = pattern(c.width, c.height, c.largestInPattern);
    std::copy(c.topRow.begin(), c.topRow.end(), image.begin());
    const std::string path = scratch.file("values.fit");

    kxFitsFile file;
    ASSERT_TRUE(save(file, path, image, c.width, c.height, c.declaredBitpix)) << file.lastError();
    EXPECT_EQ(file.lastError(), "");

    const FitsVerdict verdict = fitsverify(path);
    EXPECT_TRUE(verdict.clean()) << verdict.report;
    const FitsReadBack back = readWithAstropy(path);
    ASSERT_EQ(back.failure, "");
    ASSERT_TRUE(back.card("BITPIX"));
    EXPECT_EQ(back.card("BITPIX")->value, std::to_string(c.storedBitpix));
    EXPECT_EQ(back.card("NAXIS1")->value, std::to_string(c.width));
    EXPECT_EQ(back.card("NAXIS2")->value, std::to_string(c.height));
    if (c.bzero) {
        ASSERT_TRUE(back.card("BZERO"));
        EXPECT_EQ(back.card("BZERO")->value, c.bzero);
        ASSERT_TRUE(back.card("BSCALE"));
        EXPECT_EQ(back.card("BSCALE")->value, "1");
    } else {
        EXPECT_FALSE(back.card("BZERO"));
    }
    EXPECT_EQ(back.dtype, c.dtype);
    expectSameUpright(back, image, c.width, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Storage, KxFitsValues,
    ::testing::Values(
        ValueCase{"Within16Bits", 16, 7, 5, 65535, {0, 65535, 32767, 32768}, 16, "32768", "uint16"},
        ValueCase{"AllZero", 16, 4, 3, 0, {}, 16, "32768", "uint16"},
        ValueCase{"One65536", 16, 6, 4, 65535, {65536}, 32, "2147483648", "uint32"},
        ValueCase{"Largest32Bit", 16, 3, 3, 65535, {4294967295u, 0, 2147483648u}, 32, "2147483648", "uint32"},
        ValueCase{"OnePixel", 16, 1, 1, 65535, {65535}, 16, "32768", "uint16"},
        ValueCase{"OneColumn", 16, 1, 6, 65535, {}, 16, "32768", "uint16"},
        ValueCase{"Declared8Within8Bits", 8, 5, 3, 255, {255, 0}, 8, nullptr, "uint8"},
        ValueCase{"Declared8With256", 8, 5, 3, 255, {256}, 16, "32768", "uint16"},
        ValueCase{"Declared32Stays32", 32, 5, 3, 255, {}, 32, "2147483648", "uint32"}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST_F(KxFitsTest, TopLeftOfThePictureIsTopLeftWhenShownFromTheBottom)
{
    const int width = 4, height = 3;
    std::vector<std::uint32_t> image(width * height, 100);
    image[0] = 60000;                    // top left
    image[width - 1] = 60001;            // top right
    image[(height - 1) * width] = 60002; // bottom left
    const std::string path = scratch.file("upright.fit");
    kxFitsFile file;
    ASSERT_TRUE(save(file, path, image, width, height)) << file.lastError();

    const FitsReadBack back = readWithAstropy(path);
    ASSERT_EQ(back.failure, "");
    // With origin='lower' the last row astropy indexes is drawn at the top.
    EXPECT_EQ(back.at(height - 1, 0), 60000u);
    EXPECT_EQ(back.at(height - 1, width - 1), 60001u);
    EXPECT_EQ(back.at(0, 0), 60002u);
    ASSERT_TRUE(back.card("ROWORDER"));
    EXPECT_EQ(back.card("ROWORDER")->value, "BOTTOM-UP");
}

// "YYYY-MM-DDThh:mm:ss"
bool isIsoDateTime(const std::string& text)
{
    const std::string shape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i])
            return false;
    return true;
}

std::string utcNow()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return text;
}

TEST_F(KxFitsTest, HeaderHasDateCreatorAndTheCallersCardsWithTheirTypes)
{
    // A source path too long for one card, with a quote and a character outside ASCII in it.
    const std::string source =
        "/home/observer/captures/2024-03-01 Jupiter/it's_M\xC3\xBCnchen_" + std::string(50, 'x') + ".avi";
    kxFitsFile::saveOptions options;
    options.version = "3.1";
    options.add("NCOMBINE", 200, "frames summed")
        .add("SRCFILE", source, "capture the frames came from")
        .add("FRAME1", 17)
        .add("FRAMEN", std::int64_t{6'000'000'000})
        .add("DISPMODE", "RAW colour")
        .add("BAYERPAT", "RGGB")
        .add("XBAYROFF", 0)
        .add("YBAYROFF", 1)
        .add("exptime", 0.0125, "seconds")
        .add("HISTORY", "summed by the export")
        .add("HISTORY", "a second line");
    const auto image = pattern(8, 6, 1000);
    const std::string path = scratch.file("header.fit");

    const std::string before = utcNow();
    kxFitsFile file;
    ASSERT_TRUE(save(file, path, image, 8, 6, 16, &options)) << file.lastError();
    const std::string after = utcNow();

    const FitsVerdict verdict = fitsverify(path);
    EXPECT_TRUE(verdict.clean()) << verdict.report;
    const FitsReadBack back = readWithAstropy(path);
    ASSERT_EQ(back.failure, "");

    const FitsCard* date = back.card("DATE");
    ASSERT_TRUE(date);
    EXPECT_TRUE(isIsoDateTime(date->value)) << date->value;
    EXPECT_LE(before, date->value);
    EXPECT_LE(date->value, after);
    ASSERT_TRUE(back.card("CREATOR"));
    EXPECT_EQ(back.card("CREATOR")->value, "Kestro 3.1");

    struct Expected {
        const char* keyword;
        const char* type;
        std::string value;
        const char* comment;
    };
    const std::vector<Expected> expected = {
        {"NCOMBINE", "int", "200", "frames summed"},
        {"SRCFILE", "text", "/home/observer/captures/2024-03-01 Jupiter/it's_M?nchen_" + std::string(50, 'x') + ".avi",
         "capture the frames came from"},
        {"FRAME1", "int", "17", ""},
        {"FRAMEN", "int", "6000000000", ""},
        {"DISPMODE", "text", "RAW colour", ""},
        {"BAYERPAT", "text", "RGGB", ""},
        {"XBAYROFF", "int", "0", ""},
        {"YBAYROFF", "int", "1", ""},
        {"EXPTIME", "real", "0.0125", "seconds"},
        {"HISTORY", "text", "summed by the export", ""},
        {"HISTORY", "text", "a second line", ""},
    };
    // The caller's cards follow ROWORDER in the caller's order.
    std::size_t at = 0;
    while (at < back.cards.size() && back.cards[at].keyword != "ROWORDER")
        ++at;
    ASSERT_LE(at + 1 + expected.size(), back.cards.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const FitsCard& card = back.cards[at + 1 + i];
        SCOPED_TRACE(expected[i].keyword);
        EXPECT_EQ(card.keyword, expected[i].keyword);
        EXPECT_EQ(card.type, expected[i].type);
        EXPECT_EQ(card.value, expected[i].value);
        EXPECT_EQ(card.comment, expected[i].comment);
    }
}

TEST_F(KxFitsTest, CreatorIsTheProgramsNameWithoutOptions)
{
    const auto image = pattern(3, 2, 9);
    const std::string path = scratch.file("plain.fit");
    kxFitsFile file;
    ASSERT_TRUE(save(file, path, image, 3, 2)) << file.lastError();
    const FitsReadBack back = readWithAstropy(path);
    ASSERT_EQ(back.failure, "");
    ASSERT_TRUE(back.card("CREATOR"));
    EXPECT_EQ(back.card("CREATOR")->value, "Kestro");
    EXPECT_TRUE(back.card("DATE"));
    EXPECT_FALSE(back.card("LONGSTRN")); // only a header with CONTINUE cards announces them
}

// SOURCE_DATE_EPOCH fixes the date written, so that two exports of the same frames are the same
// bytes; a value that is not a number of seconds is ignored.
TEST_F(KxFitsTest, SourceDateEpochFixesTheDate)
{
    const auto image = pattern(3, 2, 9);
    const std::pair<const char*, const char*> cases[] = {{"86400", "1970-01-02T00:00:00"},
                                                         {"1765370096", "2025-12-10T12:34:56"}};
    for (const auto& [epoch, date] : cases) {
        ::setenv("SOURCE_DATE_EPOCH", epoch, 1);
        kxFitsFile file;
        const bool saved = save(file, scratch.file("dated.fit"), image, 3, 2);
        ::unsetenv("SOURCE_DATE_EPOCH");
        ASSERT_TRUE(saved) << file.lastError();
        const FitsReadBack back = readWithAstropy(scratch.file("dated.fit"));
        ASSERT_TRUE(back.card("DATE"));
        EXPECT_EQ(back.card("DATE")->value, date);
    }
    ::setenv("SOURCE_DATE_EPOCH", "yesterday", 1);
    kxFitsFile file;
    const std::string before = utcNow();
    const bool saved = save(file, scratch.file("undated.fit"), image, 3, 2);
    ::unsetenv("SOURCE_DATE_EPOCH");
    ASSERT_TRUE(saved) << file.lastError();
    EXPECT_LE(before, readWithAstropy(scratch.file("undated.fit")).card("DATE")->value);
}

// Restores the working folder when a test changed it.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::filesystem::path& folder) : m_saved(std::filesystem::current_path())
    {
        std::filesystem::current_path(folder);
    }
    ~WorkingFolder() { std::filesystem::current_path(m_saved); }

private:
    std::filesystem::path m_saved;
};

TEST_F(KxFitsTest, NamesAreFileNamesNeverCfitsioSyntax)
{
    const std::vector<std::string> names = {
        "m42[1].fit", "jup(a).fit",     "sat[1:2,3:4](b).fit", "-", "!clobber.fit", "mem:moon.fit", "~home.fit",
        "$HOME.fit",  "with space.fit", "M\xC3\xBCnchen.fit",
    };
    const auto image = pattern(5, 4, 65535);
    for (const auto& name : names) {
        kxFitsFile file;
        EXPECT_TRUE(save(file, scratch.file(name), image, 5, 4)) << name << ": " << file.lastError();
    }
    // A name taken from inside the working folder has no folder part at all.
    std::filesystem::create_directory(scratch.path() / "here");
    {
        WorkingFolder here(scratch.path() / "here");
        kxFitsFile file;
        EXPECT_TRUE(save(file, "rel[2].fit", image, 5, 4)) << file.lastError();
    }

    std::set<std::string> expected(names.begin(), names.end());
    expected.insert("here");
    EXPECT_EQ(listing(scratch.path()), expected);
    EXPECT_EQ(listing(scratch.path() / "here"), std::set<std::string>{"rel[2].fit"});
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const FitsReadBack back = readWithAstropy(scratch.file(name));
        ASSERT_EQ(back.failure, "");
        expectSameUpright(back, image, 5, 4);
    }
}

TEST_F(KxFitsTest, ReplacesAnEarlierFileOfTheName)
{
    const std::string path = scratch.file("m42_0000.fit");
    writeFile(path, std::vector<std::uint8_t>(20000, 'x'));
    const auto first = pattern(6, 5, 70000);
    const auto second = pattern(4, 3, 500);
    kxFitsFile file;
    ASSERT_TRUE(save(file, path, first, 6, 5)) << file.lastError();
    ASSERT_TRUE(save(file, path, second, 4, 3)) << file.lastError();

    EXPECT_EQ(listing(scratch.path()), std::set<std::string>{"m42_0000.fit"});
    EXPECT_EQ(std::filesystem::file_size(path), 2u * 2880u); // one header block, one data block
    const FitsReadBack back = readWithAstropy(path);
    ASSERT_EQ(back.failure, "");
    expectSameUpright(back, second, 4, 3);
}

TEST_F(KxFitsTest, NewFilesTakeTheirPermissionsFromTheUmask)
{
    const auto image = pattern(2, 2, 3);
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
        const mode_t saved = ::umask(mask);
        kxFitsFile file;
        const std::string path = scratch.file("mode" + std::to_string(mask) + ".fit");
        const bool written = save(file, path, image, 2, 2);
        ::umask(saved);
        ASSERT_TRUE(written) << file.lastError();
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "umask " << std::oct << mask;
    }
}

} // namespace
