// Single keys from a terminal on standard input.
#pragma once

#include "interrupts.h"

#include <optional>
#ifndef _WIN32
#include <termios.h>
#endif

namespace sonvale_cli {

// While alive, and only when standard input is a terminal (a console on
// Windows), switches it to unbuffered keys without echo. The previous mode
// comes back when the object goes, on every way out, including an interrupt,
// which is caught (see caught_interrupts) and reported by interrupted()
// instead of ending the process.
class raw_keys {
public:
    raw_keys();
    ~raw_keys();
    raw_keys(const raw_keys&) = delete;
    raw_keys& operator=(const raw_keys&) = delete;

    // True when standard input is a terminal in key mode.
    bool active() const { return m_active; }

    // The next key, waiting at most `timeout_ms`; -1 when none came.
    int read_key(int timeout_ms);

    // True once an interrupt arrived while keys were active.
    static bool interrupted() { return caught_interrupts::interrupted(); }

private:
    bool m_active = false;
#ifdef _WIN32
    unsigned long m_saved = 0; // the console's input mode
#else
    termios m_saved{};
#endif
    std::optional<caught_interrupts> m_interrupts;
};

} // namespace sonvale_cli
