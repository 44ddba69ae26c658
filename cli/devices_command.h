// `sonvale devices`: the output devices a mixer may open.
#pragma once

#include <string>
#include <vector>

namespace sonvale_cli {

int run_devices(const std::vector<std::string>& args);

// The output device a command opens: its --device option, else (where
// `from_environment`) SONVALE_DEVICE, else `otherwise` (null: the library's
// default).
const char* chosen_device(const std::string* option, bool from_environment, const char* otherwise);

} // namespace sonvale_cli
