// What the fuzz targets share: a failed property as a crash libFuzzer keeps, a silent message
// box, and a scratch folder emptied after every input.
#pragma once

#include "message_box.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace kestro::fuzz {

// A property the code under test broke: said on standard error, then an abort, so that libFuzzer
// stores the input as a crash and the run stops there.
[[noreturn]] inline void fail(const std::string& what)
{
    std::fprintf(stderr, "property broken: %s\n", what.c_str());
    std::abort();
}

inline void require(bool holds, const std::string& what)
{
    if (!holds)
        fail(what);
}

// Messages the core would show in a box are answered at once with OK: nobody is there to read
// them, and the properties look at what the operations return.
inline void silenceMessages()
{
    static const bool once = [] {
        kestro::ui::setMessageHandler([](const kestro::ui::Message&) { return kestro::ui::Answer::Ok; });
        return true;
    }();
    (void)once;
}

// A folder of the fuzz process's own, made at the first call and emptied by Clear after each
// input, so that no file of one input is seen by the next. Removed when the process ends.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestro-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail("no scratch folder can be made in " + std::filesystem::temp_directory_path().string());
        m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    void Clear() const
    {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(m_path, ec))
            std::filesystem::remove_all(entry.path(), ec);
    }

private:
    std::filesystem::path m_path;
};

} // namespace kestro::fuzz
