// The names a client opens an output device by: "auto", "silent",
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

// False for a null name or one no device has.
bool find_output_device(const char* name, device_choice& out);

} // namespace sonvale
