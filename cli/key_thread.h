// A thread that hands every key typed on a terminal to a handler, so that the
// main thread can block (in the output ring, say) while keys still work.
#pragma once

#include "terminal.h"

#include <atomic>
#include <functional>
#include <thread>

namespace sonvale_cli {

class key_thread {
public:
    // Calls `on_key` with each key from `keys`, and once with `interrupt_key`
    // when an interrupt arrives. Starts no thread when `keys` is not active.
    key_thread(raw_keys& keys, int interrupt_key, std::function<void(int)> on_key);
    // stop().
    ~key_thread();
    key_thread(const key_thread&) = delete;
    key_thread& operator=(const key_thread&) = delete;

    // Ends the thread and waits for it; `on_key` is not called afterwards.
    void stop();

private:
    void run();

    raw_keys& m_keys;
    int m_interrupt_key;
    std::function<void(int)> m_on_key;
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};

} // namespace sonvale_cli
