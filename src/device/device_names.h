// The names a client opens a device by: "auto", "silent",
// "default", and the system's own devices as the system lists them.
#pragma once

#include "device/wave_out.h"

#include <cstddef>

namespace sonvale {

// What a name stands for: a backend, and the system's name for the device.
struct device_choice {
    wave_backend backend = wave_backend::automatic;
    const char* system = "default";
    char storage[256] = {}; // holds `system` when it is a listed name
};

// False for a null name or one no device of `direction` has.
bool find_device(wave_direction direction, const char* name, device_choice& out);

// `name`, kept for the life of the process (each text once), so that a
// device's name outlives the device; a generic name when memory runs out.
const char* lasting_name(const char* name);

} // namespace sonvale
