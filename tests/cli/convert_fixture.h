// The fixture of the kestro-convert tests: the real program run in a scratch folder, as a user
// runs it, with what it prints on standard output and standard error.
#pragma once

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace kestro::test {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

class Convert : public testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("ffprobe"))
            GTEST_SKIP() << "ffprobe reads what kestro-convert writes";
    }

    // kestro-convert with the arguments (a shell word list), in the test's folder.
    Outcome convert(const std::string& args, const std::string& env = "")
    {
        Outcome r;
        const std::string err = dir.file("stderr.txt");
        // A run that hangs ends at the time limit with status 124, so a test fails rather than waits.
        r.status = run("cd " + quote(dir.path().string()) + " && " + env + " timeout -k 5 120 " + KESTRO_CONVERT + " " +
                           args + " 2>" + quote(err),
                       &r.out);
        const Bytes bytes = readFile(err);
        r.err.assign(bytes.begin(), bytes.end());
        fs::remove(err);
        return r;
    }

    std::string capture(const std::string& name, const std::string& args)
    {
        fs::create_directories(dir.path() / fs::path(name).parent_path());
        makeSample(dir.file(name), args);
        return dir.file(name);
    }

    using Bytes = std::vector<std::uint8_t>;
    ScratchDir dir;
};

inline std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// How many times the part occurs in the text.
inline std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); !part.empty() && at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace kestro::test
