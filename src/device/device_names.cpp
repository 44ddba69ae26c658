// The lists of devices are asked of the system each time, so that a
// device plugged in since shows up; nothing is opened to list it.
#include "device/device_names.h"

#include "device/wave_device.h"

#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

namespace sonvale {

namespace {

struct reserved_name {
    const char* name;
    wave_backend backend;
};

const reserved_name k_reserved[] = {{"auto", wave_backend::automatic},
                                    {"silent", wave_backend::virtual_device},
                                    {"default", system_wave_backend}};
constexpr int k_reserved_count = int(sizeof k_reserved / sizeof k_reserved[0]);

void list_system_devices(wave_direction direction, device_name_fn each, void* context) {
    list_alsa_devices(direction, each, context);
    list_winmm_devices(direction, each, context);
}

// Looks for the system's device at `index` (counting from 0), or the one
// called `name`.
struct device_search {
    int index = -1;
    const char* name = nullptr;
    int seen = 0;
    char* found = nullptr; // `size` bytes
    size_t size = 0;
    size_t needed = 0; // of the one found, with its terminating zero

    static void visit(const char* system, void* context) {
        auto* self = static_cast<device_search*>(context);
        const bool match = self->needed == 0 && (self->name ? std::strcmp(system, self->name) == 0
                                                            : self->seen == self->index);
        ++self->seen;
        if (!match)
            return;
        self->needed = std::strlen(system) + 1;
        if (self->needed <= self->size)
            std::memcpy(self->found, system, self->needed);
    }
};

// Copies `name` into `out` when it fits.
bool copy_name(const char* name, char* out, size_t size, size_t& needed) {
    needed = std::strlen(name) + 1;
    if (!out || needed > size)
        return false;
    std::memcpy(out, name, needed);
    return true;
}

} // namespace

int device_count(wave_direction direction) {
    device_search all;
    list_system_devices(direction, &device_search::visit, &all);
    return k_reserved_count + all.seen;
}

bool device_name(wave_direction direction, int i, char* out, size_t size, size_t& needed) {
    needed = 0;
    if (i < 0)
        return false;
    if (i < k_reserved_count)
        return copy_name(k_reserved[i].name, out, size, needed);
    device_search search;
    search.index = i - k_reserved_count;
    search.found = out;
    search.size = out ? size : 0;
    list_system_devices(direction, &device_search::visit, &search);
    needed = search.needed;
    return needed != 0 && needed <= search.size;
}

bool find_device(wave_direction direction, const char* name, device_choice& out) {
    if (!name)
        return false;
    for (const reserved_name& r : k_reserved)
        if (std::strcmp(name, r.name) == 0) {
            out.backend = r.backend;
            out.system = "default";
            return true;
        }
    device_search search;
    search.name = name;
    search.found = out.storage;
    search.size = sizeof out.storage;
    list_system_devices(direction, &device_search::visit, &search);
    if (search.needed == 0 || search.needed > search.size)
        return false;
    out.backend = system_wave_backend;
    out.system = out.storage;
    return true;
}

namespace {

// A type of the library's own, so that the set's code is the library's too
// and not exported with the standard library's visibility.
struct lasting_text {
    std::string text;
    bool operator<(const lasting_text& other) const { return text < other.text; }
};

struct name_set {
    std::mutex lock;
    std::set<lasting_text> names;
};

// Built on first use in static storage and never destroyed: a device thread
// left behind in its sound system may ask for a name while the process
// exits, after the static destructors have run.
name_set& lasting_names() {
    alignas(name_set) static unsigned char storage[sizeof(name_set)];
    static name_set* const set = new (storage) name_set;
    return *set;
}

} // namespace

const char* lasting_name(const char* name) {
    name_set& set = lasting_names();
    std::lock_guard<std::mutex> hold(set.lock);
    try {
        return set.names.insert(lasting_text{name}).first->text.c_str();
    } catch (const std::bad_alloc&) {
        return "an output device";
    }
}

} // namespace sonvale
