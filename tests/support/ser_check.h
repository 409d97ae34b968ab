// Checks of the SER files Kestro writes by readers that are not ours: tests/support/ser_dump.py
// (Python's struct module) for every header field, sample and frame time, and Siril (siril-cli)
// for what a stacking program makes of them.
#pragma once

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kestro::test {

using Samples = std::vector<std::uint16_t>;

struct SerDump {
    std::map<std::string, std::string> fields;
    std::int64_t trailerBytes = -1;
    std::vector<Samples> frames;
    std::vector<std::int64_t> times; // empty unless the trailer holds one per frame
    bool ok = false;

    std::string text(const std::string& field) const
    {
        const auto it = fields.find(field);
        return it == fields.end() ? "(missing)" : it->second;
    }
    std::int64_t number(const std::string& field) const
    {
        const auto it = fields.find(field);
        return it == fields.end() ? -1 : std::stoll(it->second);
    }
};

inline SerDump dumpSer(const std::string& path)
{
    SerDump d;
    std::string out;
    if (run("/usr/bin/python3 " + quote(KESTRO_SER_DUMP_SCRIPT) + " " + quote(path) + " 2>&1", &out) != 0) {
        ADD_FAILURE() << "ser_dump.py could not read " << path << ":\n" << out;
        return d;
    }
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "field") {
            std::string name, value;
            words >> name;
            std::getline(words, value);
            d.fields[name] = value.empty() ? value : value.substr(1);
        } else if (kind == "trailer") {
            words >> d.trailerBytes;
        } else if (kind == "frame") {
            std::size_t n;
            words >> n;
            Samples s;
            for (unsigned v; words >> v;)
                s.push_back(static_cast<std::uint16_t>(v));
            d.frames.push_back(std::move(s));
        } else if (kind == "time") {
            std::size_t n;
            std::int64_t t;
            words >> n >> t;
            d.times.push_back(t);
        }
    }
    d.ok = true;
    return d;
}

// 8-bit values as samples.
inline Samples widen(const std::vector<std::uint8_t>& bytes) { return Samples(bytes.begin(), bytes.end()); }

// Little-endian 16-bit values (a .npy frame of uint16) as samples.
inline Samples fromLittleEndian(const std::uint8_t* p, std::size_t bytes)
{
    Samples s;
    for (std::size_t i = 0; i + 1 < bytes; i += 2)
        s.push_back(static_cast<std::uint16_t>(p[i] | p[i + 1] << 8));
    return s;
}

inline bool haveSiril() { return haveTool("siril-cli"); }

// Runs a Siril script in `folder`, where Siril also leaves its own files (.seq, pp_*). Its settings
// go to the folder too, so that set16bits and the like never reach the user's.
inline bool runSiril(const std::filesystem::path& folder, const std::string& script, std::string* log)
{
    const std::string file = (folder / "kestro-test.ssf").string();
    std::ofstream(file) << "requires 1.0.0\n" << script;
    const std::string home = quote(folder.string());
    return run("cd " + home + " && HOME=" + home + " XDG_CONFIG_HOME=" + home + " timeout 120 siril-cli -d " + home +
                   " -s " + quote(file) + " 2>&1",
               log) == 0;
}

} // namespace kestro::test
