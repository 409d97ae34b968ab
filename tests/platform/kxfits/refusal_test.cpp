// What the FITS writer refuses before it touches the disk: images it cannot describe, names that
// are no file's, and header cards that would misdescribe the file. Each refusal says why, naming
// the file, and creates nothing.
#include "kxfits_fixture.h"

#include <cmath>
#include <limits>

namespace {

using namespace kestro::test;
using Card = kxFitsFile::headerCard;

TEST_F(KxFitsTest, RefusesImagesItCannotDescribe)
{
    struct Case {
        const char* label;
        int bitpix, naxis, width, height;
        bool nullImage;
        const char* words;
    };
    const Case cases[] = {
        {"null image", 16, 2, 4, 3, true, "no image to save"},     {"no width", 16, 2, 0, 3, false, "0 x 3 pixels"},
        {"negative height", 16, 2, 4, -2, false, "4 x -2 pixels"}, {"three axes", 16, 3, 4, 3, false, "2 axes, not 3"},
        {"one axis", 16, 1, 4, 3, false, "2 axes, not 1"},         {"64 bits", 64, 2, 4, 3, false, "BITPIX 64"},
        {"floating point", -32, 2, 4, 3, false, "BITPIX -32"},
    };
    const auto image = pattern(4, 3, 100);
    const std::string path = scratch.file("refused.fit");
    kxFitsFile file;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        file.params().set_params(c.bitpix, c.naxis, c.width, c.height);
        EXPECT_FALSE(file.saveToFile(path, c.nullImage ? nullptr : image.data(), nullptr));
        EXPECT_NE(file.lastError().find(path), std::string::npos) << file.lastError();
        EXPECT_NE(file.lastError().find(c.words), std::string::npos) << file.lastError();
        EXPECT_TRUE(listing(scratch.path()).empty());
    }
    // An object whose params were never set describes no image either.
    kxFitsFile unset;
    EXPECT_FALSE(unset.saveToFile(path, image.data(), nullptr));
    EXPECT_TRUE(listing(scratch.path()).empty());

    // The same object then saves, and the earlier reason is gone.
    ASSERT_TRUE(save(file, path, image, 4, 3)) << file.lastError();
    EXPECT_EQ(file.lastError(), "");
}

TEST_F(KxFitsTest, RefusesNamesThatAreNoFiles)
{
    const auto image = pattern(4, 3, 100);
    std::filesystem::create_directory(scratch.path() / "sub");
    for (const std::string& name : {std::string(), scratch.file("sub") + "/"}) {
        SCOPED_TRACE("\"" + name + "\"");
        kxFitsFile file;
        EXPECT_FALSE(save(file, name, image, 4, 3));
        EXPECT_NE(file.lastError(), "");
    }
    EXPECT_EQ(listing(scratch.path()), std::set<std::string>{"sub"});
    EXPECT_TRUE(listing(scratch.path() / "sub").empty());
}

TEST_F(KxFitsTest, RefusesCardsThatWouldMisdescribeTheFile)
{
    struct Case {
        const char* label;
        std::vector<Card> cards;
        const char* words;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<Case> cases = {
        {"space in keyword", {{"TWO WORDS", 1, ""}}, "\"TWO WORDS\" is not a FITS keyword"},
        {"nine characters", {{"NINECHARS", 1, ""}}, "\"NINECHARS\" is not a FITS keyword"},
        {"empty keyword", {{"", 1, ""}}, "\"\" is not a FITS keyword"},
        {"BITPIX", {{"BITPIX", 8, ""}}, "BITPIX describes the data"},
        {"lower-case NAXIS2", {{"naxis2", 7, ""}}, "NAXIS2 describes the data"},
        {"BZERO", {{"BZERO", 0, ""}}, "BZERO describes the data"},
        {"DATE", {{"DATE", "2024-01-01", ""}}, "DATE describes the data"},
        {"CREATOR", {{"CREATOR", "someone", ""}}, "CREATOR describes the data"},
        {"ROWORDER", {{"ROWORDER", "TOP-DOWN", ""}}, "ROWORDER describes the data"},
        {"twice", {{"NCOMBINE", 2, ""}, {"ncombine", 3, ""}}, "NCOMBINE is given more than once"},
        {"not a number", {{"EXPTIME", nan, ""}}, "EXPTIME has a value that is not a finite number"},
        {"infinite", {{"EXPTIME", -inf, ""}}, "EXPTIME has a value that is not a finite number"},
        {"numeric COMMENT", {{"COMMENT", 5, ""}}, "COMMENT takes text"},
        {"HISTORY with a comment", {{"HISTORY", "summed", "why"}}, "HISTORY carries its words as its value"},
    };
    const auto image = pattern(4, 3, 100);
    const std::string path = scratch.file("cards.fit");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        kxFitsFile::saveOptions options;
        options.cards = c.cards;
        kxFitsFile file;
        EXPECT_FALSE(save(file, path, image, 4, 3, 16, &options));
        EXPECT_NE(file.lastError().find(path), std::string::npos) << file.lastError();
        EXPECT_NE(file.lastError().find(c.words), std::string::npos) << file.lastError();
        EXPECT_TRUE(listing(scratch.path()).empty());
    }
}

} // namespace
