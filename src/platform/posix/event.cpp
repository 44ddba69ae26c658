// Auto-reset events on a mutex and a condition variable.
#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace sonvale {

struct event {
    std::mutex lock;
    std::condition_variable signal;
    bool signalled = false;
};

event* event_create(bool signalled) {
    event* e = new (std::nothrow) event;
    if (e)
        e->signalled = signalled;
    return e;
}

void event_set(event* e) {
    if (!e)
        return;
    // Notify while holding the lock: once a waiter has taken the signal it
    // may destroy the event, so nothing here may touch it after the unlock.
    std::lock_guard<std::mutex> hold(e->lock);
    e->signalled = true;
    e->signal.notify_one();
}

void event_wait(event* e) {
    if (!e)
        return;
    std::unique_lock<std::mutex> hold(e->lock);
    e->signal.wait(hold, [e] { return e->signalled; });
    e->signalled = false;
}

bool event_wait_for(event* e, unsigned ms) {
    if (!e)
        return true;
    std::unique_lock<std::mutex> hold(e->lock);
    if (!e->signal.wait_for(hold, std::chrono::milliseconds(ms), [e] { return e->signalled; }))
        return false;
    e->signalled = false;
    return true;
}

void event_destroy(event* e) {
    delete e;
}

} // namespace sonvale
