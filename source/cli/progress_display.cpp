#include "progress_display.h"

#include <cstdio>

namespace kestro::cli {

namespace {

std::string lineText(const ProgressDisplay::Line& line)
{
    const std::int32_t done = line.done.load(std::memory_order_relaxed);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - line.started).count();
    const double rate = seconds > 0 ? done / seconds : 0;
    char text[512];
    if (line.style == ProgressDisplay::Style::Percent) {
        const int percent = line.total > 0 ? static_cast<int>(100.0 * done / line.total) : 0;
        std::snprintf(text, sizeof text, "%s  %d%%  %.0f frames/s", line.name.c_str(), percent, rate);
    } else if (rate > 0 && done < line.total) {
        const long left = static_cast<long>((line.total - done) / rate + 0.5);
        std::snprintf(text, sizeof text, "%s  %d/%d frames  %.0f frames/s  %ld:%02ld left", line.name.c_str(), done,
                      line.total, rate, left / 60, left % 60);
    } else {
        std::snprintf(text, sizeof text, "%s  %d/%d frames", line.name.c_str(), done, line.total);
    }
    return text;
}

} // namespace

ProgressDisplay::ProgressDisplay(bool live) : m_live(live)
{
    if (m_live)
        m_thread = std::thread([this] { run(); });
}

ProgressDisplay::~ProgressDisplay()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        clearLocked();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

ProgressDisplay::Line& ProgressDisplay::begin(const std::string& name, std::int32_t total, Style style)
{
    std::lock_guard lock(m_mutex);
    Line& line = m_lines.emplace_back();
    line.name = name;
    line.style = style;
    line.total = total;
    line.started = std::chrono::steady_clock::now();
    clearLocked();
    drawLocked();
    std::fflush(stderr);
    return line;
}

void ProgressDisplay::end(Line& line)
{
    std::lock_guard lock(m_mutex);
    clearLocked();
    m_lines.remove_if([&](const Line& l) { return &l == &line; });
    drawLocked();
}

void ProgressDisplay::message(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    clearLocked();
    std::fprintf(stderr, "%s\n", text.c_str());
    drawLocked();
    std::fflush(stderr);
}

void ProgressDisplay::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        clearLocked();
        drawLocked();
        std::fflush(stderr);
        m_wake.wait_for(lock, std::chrono::milliseconds(200));
    }
}

// Moves up over the lines drawn last and clears them, so the next text starts where they began.
void ProgressDisplay::clearLocked()
{
    for (; m_drawn > 0; --m_drawn)
        std::fputs("\x1b[1A\x1b[2K\r", stderr);
}

void ProgressDisplay::drawLocked()
{
    if (!m_live || m_stopping)
        return;
    for (const Line& line : m_lines) {
        std::fprintf(stderr, "%s\n", lineText(line).c_str());
        ++m_drawn;
    }
}

} // namespace kestro::cli
