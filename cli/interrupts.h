// Interrupts (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break and
// closing the console) caught and reported instead of ending
// the process, so that a command can finish its work in good order first.
#pragma once

namespace sonvale_cli {

// While alive, catches the interrupts; the default actions come back when
// it goes.
class caught_interrupts {
public:
    caught_interrupts();
    ~caught_interrupts();
    caught_interrupts(const caught_interrupts&) = delete;
    caught_interrupts& operator=(const caught_interrupts&) = delete;

    // True once an interrupt arrived while one was alive.
    static bool interrupted();
};

// The exit status of a command that stopped for an interrupt.
constexpr int interrupted_status = 130;

} // namespace sonvale_cli
