#include "fits_check.h"

#include "test_support.h"

#include <sstream>

namespace kestro::test {

namespace {

// The system's interpreter: one earlier on PATH may be another without astropy.
constexpr const char* kPython = "/usr/bin/python3";

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

} // namespace

std::string FitsReadBack::cardValue(const std::string& keyword) const
{
    const FitsCard* c = card(keyword);
    return c ? c->value : "(missing)";
}

std::vector<std::uint64_t> FitsReadBack::picture() const
{
    std::vector<std::uint64_t> top;
    for (int r = rows - 1; r >= 0; --r)
        for (int c = 0; c < cols; ++c)
            top.push_back(at(r, c));
    return top;
}

const FitsCard* FitsReadBack::card(const std::string& keyword) const
{
    for (const auto& c : cards)
        if (c.keyword == keyword)
            return &c;
    return nullptr;
}

bool haveAstropy(std::string* why)
{
    std::string out;
    if (run(std::string(kPython) + " -c 'import astropy' 2>&1", &out) == 0)
        return true;
    *why = std::string(kPython) + " cannot import astropy (scripts/bootstrap installs it): " + out;
    return false;
}

FitsReadBack readWithAstropy(const std::string& path)
{
    FitsReadBack result;
    std::string out;
    if (run(std::string(kPython) + " " + quote(KESTRO_FITS_DUMP_SCRIPT) + " " + quote(path) + " 2>&1", &out) != 0) {
        result.failure = out.empty() ? "astropy failed without a word" : out;
        return result;
    }
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto fields = splitTabs(line);
        if (fields[0] == "card" && fields.size() == 5) {
            result.cards.push_back({fields[1], fields[2], fields[3], fields[4]});
        } else if (fields[0] == "data" && fields.size() == 4) {
            result.dtype = fields[1];
            result.rows = std::stoi(fields[2]);
            result.cols = std::stoi(fields[3]);
        } else {
            std::istringstream row(line);
            std::uint64_t v;
            while (row >> v)
                result.values.push_back(v);
        }
    }
    if (result.values.size() != static_cast<std::size_t>(result.rows) * static_cast<std::size_t>(result.cols))
        result.failure = "astropy's output did not parse:\n" + out;
    return result;
}

bool FitsVerdict::clean() const
{
    return exitCode == 0 && report.find("Verification found 0 warning(s) and 0 error(s).") != std::string::npos;
}

FitsVerdict fitsverify(const std::string& path)
{
    FitsVerdict verdict;
    verdict.exitCode = run("fitsverify " + quote(path) + " 2>&1", &verdict.report);
    return verdict;
}

} // namespace kestro::test
