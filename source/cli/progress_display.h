// What kestro-convert shows while it works. On a terminal: one line per capture being converted
// (frames done of all, frames per second, time left) or scored (the share done), redrawn in place
// a few times a second, with messages printed above them. Elsewhere: the messages only, so that a log holds no redraws.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>

namespace kestro::cli {

class ProgressDisplay {
public:
    // Exports count frames; scoring, whose frames are not the export's, shows the share done.
    enum class Style { Frames, Percent };

    // One capture's line; the worker counts frames into it without a lock.
    struct Line {
        std::string name;
        Style style = Style::Frames;
        std::int32_t total = 0;
        std::atomic<std::int32_t> done{0};
        std::chrono::steady_clock::time_point started;
    };

    // Lines are drawn only when `live` (standard error is a terminal and --quiet is off).
    explicit ProgressDisplay(bool live);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    Line& begin(const std::string& name, std::int32_t total, Style style = Style::Frames);
    void end(Line& line);
    // Prints a message on standard error, above the progress lines.
    void message(const std::string& text);

private:
    void run();
    void clearLocked();
    void drawLocked();

    const bool m_live;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::list<Line> m_lines;
    int m_drawn = 0; // lines on screen now
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace kestro::cli
