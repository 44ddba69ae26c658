// How far the sizes in a recording's header may lag behind its data, so that
// a killed process leaves a file that reads as nearly all it recorded: while
// blocks keep coming the recorder brings them up to date this often, and once
// they stop the worker does within this time.
#pragma once

#include <chrono>

namespace sonvale {

constexpr std::chrono::milliseconds sizes_max_age{200};

} // namespace sonvale
