#pragma once

#include <string>
#include <vector>

namespace sonvale_cli {

// `sonvale record OUT.wav [options] [IN.wav ...]`: records a generated tone
// and the data of WAV files through a mixer. Returns the exit status; throws
// usage_error or command_error.
int run_record(const std::vector<std::string>& args);

} // namespace sonvale_cli
