#pragma once

#include <string>
#include <vector>

namespace sonvale_cli {

// `sonvale play IN.wav`: plays a WAV file through a mixer's output ring.
// Returns the exit status; throws usage_error or command_error.
int run_play(const std::vector<std::string>& args);

} // namespace sonvale_cli
