// kxFits: the FITS writer behind Kestro's summed-frame export.
//
// One call writes one image as a single-HDU FITS file that astronomy programs read the way Kestro
// shows it:
//
// - Upright. Kestro's images run from the top row down, but FITS readers put the first stored row at
//   the bottom of the picture. The rows are therefore stored bottom row first, and ROWORDER =
//   'BOTTOM-UP' says so, so that DS9, astropy with origin='lower' and stacking programs show the top
//   of the picture at the top.
// - Lossless. A sum of many 8-bit frames soon outgrows 16 signed bits, and a stack that was clipped
//   or rescaled on the way out is worth less than the frames it came from. Every value is stored
//   exactly, as unsigned integers in the standard offset convention: 16 bits (BITPIX 16, BZERO 32768)
//   when every value fits in 0..65535, otherwise 32 bits (BITPIX 32, BZERO 2147483648).
// - Whole or not at all. The file is written under a hidden name in the target's folder and renamed
//   over the target only once it is complete and closed, so a failed save leaves nothing half
//   written behind and an earlier file of the same name survives it.
//
// The name given is always a plain file name: "m42[1].fit" and "jup(a).fit" name files, never
// CFITSIO's filters or extensions.
//
// The two classes keep the names Kestro's export code has always called them by.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// The shape of the image to write, in FITS terms.
class kxFitsImgParam {
public:
    // bitpix is the narrowest storage the caller wants: 8, 16 or 32 bits per value. A value too
    // large for it widens the whole file to 16 bits (BZERO 32768) or to 32 bits (BZERO 2147483648);
    // 8-bit files need no offset. Other bitpix values, naxis other than 2, and sides below 1 are
    // refused by kxFitsFile::saveToFile. Axis 1 is the width (values along a row), axis 2 the height.
    void set_params(int bitpix, int naxis, int width, int height);

    int bitpix() const { return m_bitpix; }
    int naxis() const { return m_naxis; }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_bitpix = 0;
    int m_naxis = 0;
    int m_width = 0;
    int m_height = 0;
};

class kxFitsFile {
public:
    // One header card added by the caller.
    struct headerCard {
        using Value = std::variant<std::string, std::int64_t, double>;

        // 1 to 8 of A-Z, 0-9, '-' and '_'; lower-case letters are written in upper case. COMMENT and
        // HISTORY take text, are written as commentary cards and may repeat; every other keyword may
        // appear once. The keywords that describe the data and those the library writes itself
        // (SIMPLE, BITPIX, NAXIS, NAXISn, EXTEND, BZERO, BSCALE, BLANK, DATE, CREATOR, ROWORDER, ...)
        // are refused.
        std::string keyword;
        // Text longer than one card continues on CONTINUE cards; characters outside printable ASCII
        // are written as '?', as a header holds nothing else. A double must be finite.
        Value value;
        // Shortened by CFITSIO to what fits on the card; same character rule as text values.
        std::string comment;
    };

    // What a caller may add to the file. The library only reads it.
    struct saveOptions {
        // Written after the program's name in CREATOR ("Kestro 3.1"); empty writes "Kestro".
        std::string version;
        // Written in this order after DATE, CREATOR and ROWORDER.
        std::vector<headerCard> cards;

        saveOptions& add(std::string keyword, headerCard::Value value, std::string comment = {})
        {
            cards.push_back({std::move(keyword), std::move(value), std::move(comment)});
            return *this;
        }
    };

    kxFitsFile() = default;
    virtual ~kxFitsFile() = default;

    kxFitsImgParam& params() { return m_params; }

    // Writes params().width() x params().height() values from image, the picture's top row first and
    // each row left to right (index y * width + x, y = 0 at the top), to fileName, replacing a file of
    // that name. options may be null. False when the file could not be written or the arguments are
    // refused; lastError() then says why.
    bool saveToFile(const std::string& fileName, const std::uint32_t* image, saveOptions* options);

    // Why the last saveToFile failed, in words, naming the file: CFITSIO's reason and, when the
    // failure came from the operating system, its reason too ("No space left on device"). Empty after
    // a save that succeeded.
    const std::string& lastError() const { return m_lastError; }

private:
    kxFitsImgParam m_params;
    std::string m_lastError;
};
