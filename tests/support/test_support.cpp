#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sys/wait.h>

namespace kestro::test {

ScratchDir::ScratchDir()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string stem = info ? std::string(info->test_suite_name()) + "-" + info->name() : "scratch";
    for (char& c : stem)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '_';
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        m_path = base / ("kestro-" + stem + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(m_path))
            break;
    }
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string quote(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

int run(const std::string& command, std::string* out)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 65536> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        if (out)
            out->append(buf.data(), n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveTool(const std::string& name) { return run("command -v " + quote(name) + " >/dev/null 2>&1") == 0; }

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string probe(const std::string& path, const std::string& entry, bool countFrames)
{
    std::string out;
    const std::string cmd = "ffprobe -v error " + std::string(countFrames ? "-count_frames " : "") +
                            "-select_streams v:0 -show_entries stream=" + entry +
                            " -of default=noprint_wrappers=1:nokey=1 " + quote(path) + " 2>/dev/null";
    if (run(cmd, &out) != 0)
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::vector<std::uint8_t> ffmpegFrame(const std::string& path, int n, const std::string& pixFmt)
{
    std::string out;
    const std::string cmd = "ffmpeg -v error -i " + quote(path) + " -vf " +
                            quote("select=eq(n\\," + std::to_string(n) + ")") +
                            " -vsync 0 -frames:v 1 -f rawvideo -pix_fmt " + pixFmt + " - 2>/dev/null";
    run(cmd, &out);
    return {out.begin(), out.end()};
}

std::vector<std::vector<std::uint8_t>> ffmpegFrames(const std::string& path, const std::string& pixFmt,
                                                    std::size_t frameBytes)
{
    std::string out;
    run("ffmpeg -v error -i " + quote(path) + " -vsync 0 -f rawvideo -pix_fmt " + pixFmt + " - 2>/dev/null", &out);
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; frameBytes > 0 && at + frameBytes <= out.size(); at += frameBytes)
        frames.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at),
                            out.begin() + static_cast<std::ptrdiff_t>(at + frameBytes));
    return frames;
}

void makeSample(const std::string& path, const std::string& args)
{
    const std::string cmd = std::string(KESTRO_SAMPLE_TOOL) + " --output " + quote(path) + " " + args;
    ASSERT_EQ(run(cmd + " >/dev/null"), 0) << cmd;
}

} // namespace kestro::test
