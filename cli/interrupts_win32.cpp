#include "interrupts.h"

#include <windows.h>

#include <atomic>

namespace sonvale_cli {

namespace {

// Set on the system's control thread, read by other threads.
std::atomic<bool> g_interrupted{false};

BOOL WINAPI on_interrupt(DWORD) {
    g_interrupted = true;
    return TRUE; // handled: the process goes on and finishes in good order
}

} // namespace

caught_interrupts::caught_interrupts() {
    SetConsoleCtrlHandler(on_interrupt, TRUE);
}

caught_interrupts::~caught_interrupts() {
    SetConsoleCtrlHandler(on_interrupt, FALSE);
}

bool caught_interrupts::interrupted() {
    return g_interrupted;
}

} // namespace sonvale_cli
