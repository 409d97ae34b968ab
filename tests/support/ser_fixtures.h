// The SER captures of the tests, written by tests/support/make_ser.py with numpy into a fresh
// folder, and the stored values it writes beside them (.npy) to compare the reader with.
#pragma once

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace kestro::test {

// The blur (Gaussian sigma, in pixels) of each frame of make_ser.py's planet captures.
inline constexpr double kPlanetSigmas[] = {0.6, 2.5, 1.0, 3.5, 1.6, 0.8};

// A numpy array as saved: its shape, element size and the elements' bytes as stored
// (little-endian for every array the script writes).
struct NpyArray {
    std::vector<std::size_t> shape;
    std::size_t itemBytes = 0;
    std::vector<std::uint8_t> bytes;

    std::size_t frames() const { return shape.empty() ? 0 : shape[0]; }
    std::size_t frameBytes() const { return frames() ? bytes.size() / frames() : 0; }
    const std::uint8_t* frame(std::size_t i) const { return bytes.data() + i * frameBytes(); }
    std::int64_t int64(std::size_t i) const
    {
        std::int64_t v;
        std::memcpy(&v, bytes.data() + i * 8, 8);
        return v;
    }
};

// Reads version 1 and 2 .npy files of the kinds the script writes ('|u1', '<u2', '<i8', C order).
inline NpyArray loadNpy(const std::string& path)
{
    NpyArray a;
    const std::vector<std::uint8_t> file = readFile(path);
    if (file.size() < 10 || std::memcmp(file.data(), "\x93NUMPY", 6) != 0) {
        ADD_FAILURE() << path << " is not a .npy file";
        return a;
    }
    const bool v1 = file[6] == 1;
    const std::size_t length = v1 ? file[8] | file[9] << 8 : file[8] | file[9] << 8 | file[10] << 16 | file[11] << 24;
    const std::size_t start = (v1 ? 10 : 12) + length;
    const std::string header(file.begin() + (v1 ? 10 : 12), file.begin() + static_cast<std::ptrdiff_t>(start));
    EXPECT_EQ(header.find("'fortran_order': False"), header.find("'fortran_order'")) << path;
    const std::size_t descr = header.find("'descr': '") + 10;
    a.itemBytes = static_cast<std::size_t>(header[descr + 2] - '0');
    std::size_t at = header.find('(', header.find("'shape'")) + 1;
    const std::size_t end = header.find(')', at);
    std::size_t count = 1;
    while (at < end) {
        const std::size_t n = std::stoul(header.substr(at));
        a.shape.push_back(n);
        count *= n;
        at = header.find_first_of(",)", at) + 1;
        while (at < end && header[at] == ' ')
            ++at;
    }
    a.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(start), file.end());
    EXPECT_EQ(a.bytes.size(), count * a.itemBytes) << path;
    return a;
}

// The stored samples of a frame brought to 8 bits by hand, as the display is to show them: a
// 16-bit value of d real bits loses its d - 8 low bits, an 8-bit value stays.
inline std::vector<std::uint8_t> storedIn8Bits(const NpyArray& truth, std::size_t frame, int realDepth)
{
    const std::uint8_t* p = truth.frame(frame);
    std::vector<std::uint8_t> out;
    if (truth.itemBytes == 1)
        out.assign(p, p + truth.frameBytes());
    else
        for (std::size_t i = 0; i + 1 < truth.frameBytes(); i += 2)
            out.push_back(static_cast<std::uint8_t>((p[i] | p[i + 1] << 8) >> (realDepth - 8)));
    return out;
}

inline std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The captures named, written into a folder of this test's own.
class SerFixtures {
public:
    SerFixtures(std::initializer_list<std::string> names)
    {
        std::string command = "/usr/bin/python3 " + quote(KESTRO_MAKE_SER_SCRIPT) + " " + quote(m_dir.path().string());
        for (const std::string& n : names)
            command += " " + quote(n);
        std::string out;
        if (run(command + " 2>&1", &out) != 0)
            ADD_FAILURE() << "make_ser.py failed:\n" << out;
    }
    std::string ser(const std::string& name) const { return m_dir.file(name + ".ser"); }
    bool has(const std::string& name) const { return std::filesystem::exists(ser(name)); }
    NpyArray truth(const std::string& name) const { return loadNpy(m_dir.file(name + ".npy")); }
    bool hasTimes(const std::string& name) const { return std::filesystem::exists(m_dir.file(name + ".times.npy")); }
    NpyArray times(const std::string& name) const { return loadNpy(m_dir.file(name + ".times.npy")); }
    std::vector<std::string> isoTimes(const std::string& name) const
    {
        return readLines(m_dir.file(name + ".iso.txt"));
    }
    const ScratchDir& dir() const { return m_dir; }

private:
    ScratchDir m_dir;
};

} // namespace kestro::test
