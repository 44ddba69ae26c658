// A one-line progress display on a terminal: a bar, the time done and the
// total, and a short note ("paused"). Redrawn only when its text changes,
// and at most 10 times a second, so that a fast caller does not flood the
// terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace sonvale_cli {

class progress_bar {
public:
    // Draws on `out` only when `enabled`; otherwise every call does nothing.
    progress_bar(std::FILE* out, bool enabled);
    // finish().
    ~progress_bar();
    progress_bar(const progress_bar&) = delete;
    progress_bar& operator=(const progress_bar&) = delete;

    // Safe to call from several threads. What a call changes within a
    // tenth of a second of the last redraw shows at the next call after
    // that, or at finish().
    void update(double done_seconds, double total_seconds);
    void set_note(const std::string& note);
    // Shows `text` instead of the bar (for a recording of no set length).
    void show(const std::string& text);
    // Draws what is not shown yet and ends the line, once something was
    // drawn.
    void finish();

private:
    using clock_type = std::chrono::steady_clock;

    // `now`: whatever the time since the last redraw.
    void redraw(bool now);

    std::FILE* m_out;
    bool m_enabled;
    std::mutex m_lock;
    double m_done = 0.0;
    double m_total = 0.0;
    std::string m_note;
    std::string m_text; // shown instead of the bar when not empty
    std::string m_drawn;
    clock_type::time_point m_drawn_at{};
};

// "1:02.5": minutes, seconds and tenths.
std::string clock_text(double seconds);

} // namespace sonvale_cli
