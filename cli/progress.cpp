#include "progress.h"

#include <algorithm>

namespace sonvale_cli {

namespace {

constexpr int bar_width = 30;
constexpr std::chrono::milliseconds redraw_interval{100};

std::string bar_text(double done, double total) {
    double share = total > 0.0 ? std::clamp(done / total, 0.0, 1.0) : 1.0;
    int filled = static_cast<int>(share * bar_width);
    return "[" + std::string(filled, '#') + std::string(bar_width - filled, '.') + "]";
}

} // namespace

progress_bar::progress_bar(std::FILE* out, bool enabled) : m_out(out), m_enabled(enabled) {}

progress_bar::~progress_bar() {
    finish();
}

void progress_bar::update(double done_seconds, double total_seconds) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_done = done_seconds;
    m_total = total_seconds;
    redraw(false);
}

void progress_bar::set_note(const std::string& note) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_note = note;
    redraw(false);
}

void progress_bar::show(const std::string& text) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_text = text;
    redraw(false);
}

void progress_bar::finish() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_enabled && !m_drawn.empty()) {
        redraw(true);
        std::fputs("\n", m_out);
    }
    m_drawn.clear();
    m_enabled = false;
}

void progress_bar::redraw(bool now) {
    if (!m_enabled)
        return;
    const clock_type::time_point at = clock_type::now();
    if (!now && at - m_drawn_at < redraw_interval)
        return;
    std::string text = !m_text.empty()
                           ? m_text
                           : bar_text(m_done, m_total) + " " + clock_text(m_done) + " / " +
                                 clock_text(m_total) + (m_note.empty() ? "" : "  " + m_note);
    if (text == m_drawn)
        return;
    // Blank out what a longer earlier line leaves behind.
    std::string pad(m_drawn.size() > text.size() ? m_drawn.size() - text.size() : 0, ' ');
    std::fprintf(m_out, "\r%s%s", text.c_str(), pad.c_str());
    std::fflush(m_out);
    m_drawn = text;
    m_drawn_at = at;
}

std::string clock_text(double seconds) {
    long tenths = static_cast<long>(seconds * 10.0 + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

} // namespace sonvale_cli
