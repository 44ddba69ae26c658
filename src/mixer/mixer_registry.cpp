#include "mixer/mixer_registry.h"

#include "sonvale.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <unordered_map>

namespace sonvale {

namespace {

struct holds {
    int calls = 0;        // calls in progress on the mixer
    bool closing = false; // MIX_Close has begun: no new call is let in
};

// In static storage, constructed on first use; an empty map allocates
// nothing, so only adding can run out of memory. The quarantine is a fixed
// ring, so closing never allocates.
struct registry {
    std::mutex lock;
    std::condition_variable idle;
    std::unordered_map<const void*, holds> live;
    void* quarantine[quarantined_mixers] = {};
    size_t next = 0; // the oldest entry, replaced by the next closed mixer
};

registry& the_registry() {
    static registry r;
    return r;
}

// `change(holds)` under the lock when `handle` is a live mixer not being
// closed; returns that mixer, or null.
template <class Change> CSonvale* with_open_mixer(const void* handle, Change change) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> guard(r.lock);
    const auto found = r.live.find(handle);
    if (found == r.live.end() || found->second.closing)
        return nullptr;
    change(found->second);
    return static_cast<CSonvale*>(const_cast<void*>(handle));
}

} // namespace

CSonvale* registry_new_mixer() {
    void* storage = ::operator new(sizeof(CSonvale), std::nothrow);
    return storage ? new (storage) CSonvale() : nullptr;
}

void registry_discard(CSonvale* mixer) {
    mixer->~CSonvale();
    ::operator delete(mixer);
}

void registry_dispose(CSonvale* mixer) {
    mixer->~CSonvale();
    registry& r = the_registry();
    void* oldest = nullptr;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        oldest = r.quarantine[r.next];
        r.quarantine[r.next] = mixer;
        r.next = (r.next + 1) % quarantined_mixers;
    }
    ::operator delete(oldest);
}

bool registry_add(CSonvale* mixer) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> guard(r.lock);
    try {
        r.live.emplace(mixer, holds{});
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CSonvale* registry_acquire(const void* handle) {
    return with_open_mixer(handle, [](holds& h) { ++h.calls; });
}

void registry_release(CSonvale* mixer) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> guard(r.lock);
    holds& h = r.live.find(mixer)->second;
    if (--h.calls == 0 && h.closing)
        r.idle.notify_all();
}

CSonvale* registry_begin_close(const void* handle) {
    return with_open_mixer(handle, [](holds& h) { h.closing = true; });
}

void registry_end_close(CSonvale* mixer) {
    registry& r = the_registry();
    std::unique_lock<std::mutex> lock(r.lock);
    // A reference, unlike an iterator, outlives a rehash while the lock is
    // let go.
    const holds& h = r.live.find(mixer)->second;
    r.idle.wait(lock, [&] { return h.calls == 0; });
    r.live.erase(mixer);
}

} // namespace sonvale
