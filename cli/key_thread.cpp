#include "key_thread.h"

#include <utility>

namespace sonvale_cli {

namespace {

// How often the thread looks at its quit flag and for an interrupt.
constexpr int poll_ms = 50;

} // namespace

key_thread::key_thread(raw_keys& keys, int interrupt_key, std::function<void(int)> on_key)
    : m_keys(keys), m_interrupt_key(interrupt_key), m_on_key(std::move(on_key)) {
    if (m_keys.active())
        m_thread = std::thread(&key_thread::run, this);
}

key_thread::~key_thread() {
    stop();
}

void key_thread::stop() {
    m_quit = true;
    if (m_thread.joinable())
        m_thread.join();
}

void key_thread::run() {
    bool interrupt_sent = false;
    while (!m_quit) {
        int key = m_keys.read_key(poll_ms);
        if (key >= 0)
            m_on_key(key);
        if (raw_keys::interrupted() && !interrupt_sent) {
            interrupt_sent = true;
            m_on_key(m_interrupt_key);
        }
    }
}

} // namespace sonvale_cli
