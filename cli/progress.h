// A one-line progress display on a terminal: a bar, the time done and the
// total, and a short note ("paused"). Redrawn only when its text changes.
#pragma once

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

    // Safe to call from several threads.
    void update(double done_seconds, double total_seconds);
    void set_note(const std::string& note);
    // Shows `text` instead of the bar (for a recording of no set length).
    void show(const std::string& text);
    // Ends the line once something was drawn.
    void finish();

private:
    void redraw();

    std::FILE* m_out;
    bool m_enabled;
    std::mutex m_lock;
    double m_done = 0.0;
    double m_total = 0.0;
    std::string m_note;
    std::string m_text; // shown instead of the bar when not empty
    std::string m_drawn;
};

// "1:02.5": minutes, seconds and tenths.
std::string clock_text(double seconds);

} // namespace sonvale_cli
