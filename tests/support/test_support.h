// Helpers shared by the tests: scratch folders, running the ffmpeg tools that act as
// independent writers and checkers, and small file utilities.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestro::test {

// A fresh folder for one test, removed with everything in it afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Runs a shell command; returns its exit status, standard output in *out when asked.
int run(const std::string& command, std::string* out = nullptr);
// Quotes an argument for the shell.
std::string quote(const std::string& arg);
bool haveTool(const std::string& name);

std::vector<std::uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// ffprobe's value of one stream entry (for example "nb_read_frames", "codec_name", "width")
// of the first video stream; empty when ffprobe fails. countFrames decodes every frame.
std::string probe(const std::string& path, const std::string& entry, bool countFrames = false);

// ffmpeg's decode of frame n (0-based, counted over decoded frames) converted to the
// pixel format given (for example "bgr24", "gray"), top row first, no padding.
std::vector<std::uint8_t> ffmpegFrame(const std::string& path, int n, const std::string& pixFmt);
// ffmpeg's decode of every frame of the file in one run, each frameBytes long, in order.
std::vector<std::vector<std::uint8_t>> ffmpegFrames(const std::string& path, const std::string& pixFmt,
                                                    std::size_t frameBytes);

// Runs the sample-capture tool with the arguments given; asserts success.
void makeSample(const std::string& path, const std::string& args = "");

} // namespace kestro::test
