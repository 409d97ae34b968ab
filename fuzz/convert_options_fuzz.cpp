// kestro-convert's command line: the input, split at its zero bytes, is the argument list after
// the program's name (at most 64 arguments).
//
// Properties: parseCommandLine never throws or aborts; it returns nothing (go on), 0 (help or
// version printed) or 2 (a usage error); and when it says go on, the options hold only what the
// program can act on: inputs that exist, a pattern code, an algorithm the converter knows, a block
// size above 0 and 1 to 256 jobs. What it prints goes nowhere.
#include "convert_options.h"
#include "dor2ezu.h"
#include "fuzz_support.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using kestro::fuzz::require;

// Swallows what is written to it.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Points std::cout and std::cerr at a NullBuffer while it lives.
class Quiet {
public:
    Quiet() : m_out(std::cout.rdbuf(&m_null)), m_err(std::cerr.rdbuf(&m_null)) {}
    ~Quiet()
    {
        std::cout.rdbuf(m_out);
        std::cerr.rdbuf(m_err);
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    NullBuffer m_null;
    std::streambuf* m_out;
    std::streambuf* m_err;
};

bool knownAlgorithm(std::int32_t n)
{
    if (n == 11)
        return true;
    const char* const* names = nullptr;
    std::int32_t count = 0;
    Dor2EzuEnumAlgorithms(&names, &count);
    for (std::int32_t i = 0; i < count; ++i)
        if ((names[i][0] - '0') * 10 + (names[i][1] - '0') == n)
            return true;
    return false;
}

std::string commandLine(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& a : args)
        text += " '" + a + "'";
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kMaxArguments = 64;
    std::vector<std::string> args{"kestro-convert"};
    std::string current;
    for (std::size_t i = 0; i < size && args.size() <= kMaxArguments; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && args.size() <= kMaxArguments)
        args.push_back(current);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    kestro::cli::ConvertOptions options;
    std::optional<int> status;
    try {
        Quiet quiet;
        status = kestro::cli::parseCommandLine(static_cast<int>(args.size()), argv.data(), options);
    } catch (const std::exception& e) {
        kestro::fuzz::fail("parseCommandLine threw \"" + std::string(e.what()) + "\" for" + commandLine(args));
    } catch (...) {
        kestro::fuzz::fail("parseCommandLine threw for" + commandLine(args));
    }
    if (status) {
        require(*status == 0 || *status == 2, "exit status " + std::to_string(*status) + " for" + commandLine(args));
        return 0;
    }
    require(!options.inputs.empty(), "no input, yet the run goes on, for" + commandLine(args));
    for (const std::string& input : options.inputs) {
        std::error_code ec;
        require(std::filesystem::exists(input, ec), "input " + input + " does not exist, for" + commandLine(args));
    }
    require(!options.pattern || (*options.pattern >= 0 && *options.pattern <= 3),
            "pattern code " + std::to_string(options.pattern.value_or(-1)));
    require(knownAlgorithm(options.algorithm), "algorithm " + std::to_string(options.algorithm));
    require(options.block >= 1, "block of 0 frames for" + commandLine(args));
    require(options.jobs >= 1 && options.jobs <= 256, "jobs " + std::to_string(options.jobs));
    return 0;
}
