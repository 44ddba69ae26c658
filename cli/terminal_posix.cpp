#include "terminal.h"

#include <poll.h>
#include <unistd.h>

namespace sonvale_cli {

raw_keys::raw_keys() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0)
        return;
    termios keys = m_saved;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    m_interrupts.emplace();
    m_active = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
    if (!m_active)
        m_interrupts.reset();
}

raw_keys::~raw_keys() {
    if (!m_active)
        return;
    tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    m_interrupts.reset();
}

int raw_keys::read_key(int timeout_ms) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (!m_active || poll(&in, 1, timeout_ms) <= 0)
        return -1;
    unsigned char key = 0;
    return read(STDIN_FILENO, &key, 1) == 1 ? key : -1;
}

} // namespace sonvale_cli
