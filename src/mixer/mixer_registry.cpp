#include "mixer/mixer_registry.h"

#include <mutex>
#include <new>
#include <unordered_set>

namespace sonvale {

namespace {

// In static storage, constructed on first use; an empty set allocates
// nothing, so only adding can run out of memory.
struct registry {
    std::mutex lock;
    std::unordered_set<const CSonvale*> live;
};

registry& the_registry() {
    static registry r;
    return r;
}

} // namespace

bool registry_add(CSonvale* mixer) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> guard(r.lock);
    try {
        r.live.insert(mixer);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool registry_contains(const CSonvale* mixer) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.live.count(mixer) != 0;
}

bool registry_remove(CSonvale* mixer) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.live.erase(mixer) != 0;
}

} // namespace sonvale
