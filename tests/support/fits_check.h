// FITS files are checked with programs that share none of the writer's code: astropy reads
// them back through the system's Python, and fitsverify judges them against the FITS standard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestro::test {

struct FitsCard {
    std::string keyword;
    std::string type; // "int", "real", "text" or "logical", as astropy typed the value
    std::string value;
    std::string comment;
};

struct FitsReadBack {
    std::string failure; // astropy's complaint; empty when it read the file without a warning
    std::vector<FitsCard> cards;
    std::string dtype; // numpy's name for the values once BZERO is applied: "uint16", "uint32", ...
    int rows = 0;
    int cols = 0;
    std::vector<std::uint64_t> values; // data[r, c] at r * cols + c; r = 0 is the first stored row

    // The first card with this keyword, or null.
    const FitsCard* card(const std::string& keyword) const;
    std::uint64_t at(int r, int c) const { return values.at(static_cast<std::size_t>(r * cols + c)); }
    // The value of the first card with this keyword, or "(missing)".
    std::string cardValue(const std::string& keyword) const;
    // The image as the picture it shows: rows top first, FITS storing its bottom row first.
    std::vector<std::uint64_t> picture() const;
};

FitsReadBack readWithAstropy(const std::string& path);

// True when /usr/bin/python3 has astropy; the message in *why otherwise.
bool haveAstropy(std::string* why);

struct FitsVerdict {
    int exitCode = -1;
    std::string report;
    // fitsverify found no error and no warning.
    bool clean() const;
};

FitsVerdict fitsverify(const std::string& path);

} // namespace kestro::test
