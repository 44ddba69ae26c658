// `sonvale record OUT --input [DEVICE]`: records what an input device
// captures until Ctrl-C, q or a set time.
#pragma once

#include <sonvale.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sonvale_cli {

struct input_request {
    std::string device;            // the input device's name
    uint64_t frames = 0;           // how many; 0: until Ctrl-C or q
    const char* output = "silent"; // the mixer's output device
    unsigned int flags = 0;        // Record_OpenEx's
};

// Records into `path` in `format`; prints what was recorded and what was
// lost. Returns the exit status (1 when anything was lost); throws
// command_error when the device or the file does not open.
int record_input(const std::string& path, const WAVEFORMATEX& format, const input_request& request);

// `args` with a bare "--input" given its value: the next word when that is
// no option, else "auto".
std::vector<std::string> with_input_value(const std::vector<std::string>& args);

} // namespace sonvale_cli
