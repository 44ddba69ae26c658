#include "interrupts.h"

#include <atomic>
#include <csignal>

namespace sonvale_cli {

namespace {

// Set in a signal handler, read by other threads: a lock-free atomic serves
// both.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP};

void on_interrupt(int) {
    g_interrupted = true;
}

void set_interrupt_handler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int signal : caught_signals)
        sigaction(signal, &action, nullptr);
}

} // namespace

caught_interrupts::caught_interrupts() {
    set_interrupt_handler(on_interrupt);
}

caught_interrupts::~caught_interrupts() {
    set_interrupt_handler(SIG_DFL);
}

bool caught_interrupts::interrupted() {
    return g_interrupted;
}

} // namespace sonvale_cli
