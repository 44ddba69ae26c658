#include "terminal.h"

#include <atomic>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace sonvale_cli {

namespace {

// Set in a signal handler, read by other threads: a lock-free atomic serves
// both.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP};

void on_interrupt(int) {
    g_interrupted = 1;
}

void set_interrupt_handler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int signal : caught_signals)
        sigaction(signal, &action, nullptr);
}

} // namespace

raw_keys::raw_keys() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0)
        return;
    termios keys = m_saved;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    set_interrupt_handler(on_interrupt);
    m_active = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
    if (!m_active)
        set_interrupt_handler(SIG_DFL);
}

raw_keys::~raw_keys() {
    if (!m_active)
        return;
    tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    set_interrupt_handler(SIG_DFL);
}

int raw_keys::read_key(int timeout_ms) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (!m_active || poll(&in, 1, timeout_ms) <= 0)
        return -1;
    unsigned char key = 0;
    return read(STDIN_FILENO, &key, 1) == 1 ? key : -1;
}

bool raw_keys::interrupted() {
    return g_interrupted != 0;
}

} // namespace sonvale_cli
