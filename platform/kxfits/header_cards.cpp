#include "header_cards.h"

#include <algorithm>
#include <iterator>
#include <cmath>
#include <set>
#include <string_view>

namespace kestro::kxfits {

namespace {

// Keywords that describe the data or its layout, or that the library writes itself: a caller's
// value for any of them would misdescribe the file.
constexpr std::string_view kReserved[] = {
    "SIMPLE", "BITPIX", "NAXIS", "EXTEND",  "BZERO",    "BSCALE",   "BLANK",    "END",      "XTENSION", "PCOUNT",
    "GCOUNT", "GROUPS", "DATE",  "CREATOR", "ROWORDER", "CONTINUE", "LONGSTRN", "CHECKSUM", "DATASUM",
};

// Significant digits of real values: enough for any number a person types or a capture reports,
// without the noise digits of an exact binary expansion (0.1 stays 0.1).
constexpr int kRealDigits = 15;

bool isCommentary(const std::string& keyword) { return keyword == "COMMENT" || keyword == "HISTORY"; }

std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool isReserved(const std::string& keyword)
{
    if (std::find(std::begin(kReserved), std::end(kReserved), keyword) != std::end(kReserved))
        return true;
    // NAXIS1, NAXIS2, ...
    return keyword.size() > 5 && keyword.compare(0, 5, "NAXIS") == 0 &&
           std::all_of(keyword.begin() + 5, keyword.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isKeyword(const std::string& keyword)
{
    return !keyword.empty() && keyword.size() <= 8 && std::all_of(keyword.begin(), keyword.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    });
}

std::string quoted(const std::string& keyword) { return "\"" + headerText(keyword) + "\""; }

} // namespace

std::string headerText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    bool inSequence = false; // inside a UTF-8 multi-byte character, whose '?' is already written
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c < 0xC0 && inSequence)
            continue;
        inSequence = c >= 0xC0;
        out += (c >= 0x20 && c < 0x7F) ? ch : '?';
    }
    return out;
}

std::string checkCards(const std::vector<kxFitsFile::headerCard>& cards)
{
    std::set<std::string> seen;
    for (const auto& card : cards) {
        const std::string keyword = upper(card.keyword);
        if (!isKeyword(keyword))
            return "header keyword " + quoted(card.keyword) +
                   " is not a FITS keyword (1 to 8 of A-Z, 0-9, '-' and '_')";
        if (isReserved(keyword))
            return "header keyword " + keyword + " describes the data and is written by the FITS writer itself";
        if (isCommentary(keyword)) {
            if (!std::holds_alternative<std::string>(card.value))
                return "header keyword " + keyword + " takes text, not a number";
            if (!card.comment.empty())
                return "header keyword " + keyword + " carries its words as its value and takes no comment";
            continue;
        }
        if (!seen.insert(keyword).second)
            return "header keyword " + keyword + " is given more than once";
        if (const double* real = std::get_if<double>(&card.value); real && !std::isfinite(*real))
            return "header keyword " + keyword + " has a value that is not a finite number";
    }
    return {};
}

int writeCards(const CfitsioLibrary& fits, fitsfile* file, const std::vector<kxFitsFile::headerCard>& cards,
               int* status)
{
    for (const auto& card : cards) {
        const std::string keyword = upper(card.keyword);
        const std::string comment = headerText(card.comment);
        const char* comm = comment.empty() ? nullptr : comment.c_str();
        if (const auto* text = std::get_if<std::string>(&card.value)) {
            const std::string value = headerText(*text);
            if (keyword == "COMMENT")
                fits.write_comment(file, value.c_str(), status);
            else if (keyword == "HISTORY")
                fits.write_history(file, value.c_str(), status);
            else
                // Continues on CONTINUE cards when one card is too short, as source file paths often are.
                fits.write_key_longstr(file, keyword.c_str(), value.c_str(), comm, status);
        } else if (const auto* integer = std::get_if<std::int64_t>(&card.value)) {
            fits.write_key_lng(file, keyword.c_str(), static_cast<LONGLONG>(*integer), comm, status);
        } else {
            fits.write_key_dbl(file, keyword.c_str(), std::get<double>(card.value), -kRealDigits, comm, status);
        }
    }
    // Readers are told of CONTINUE cards by LONGSTRN, which CFITSIO leaves to its caller. Which values
    // CFITSIO continues depends on their quotes and comments, so the header itself is asked.
    int cardCount = 0;
    fits.get_hdrspace(file, &cardCount, nullptr, status);
    for (int i = 1; i <= cardCount && *status == 0; ++i) {
        char record[FLEN_CARD] = {};
        fits.read_record(file, i, record, status);
        if (std::string_view(record).substr(0, 8) == "CONTINUE") {
            fits.write_key_longwarn(file, status);
            break;
        }
    }
    return *status;
}

} // namespace kestro::kxfits
