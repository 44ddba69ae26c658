// Whether a WAV file holds all the samples its "data" chunk declares: a file
// cut short (a pipe's placeholder size, a download, a crash) is still read,
// up to its last whole frame, but the user is told.
#pragma once

#include <cstdint>
#include <string>

namespace sonvale_cli {

// A one-line note when the WAV file at `path`, whose samples start at
// `data_offset` and of which the library takes `bytes` (MIX_ReadFileFormatEx),
// ends before its "data" chunk does; "" when the chunk is whole, or when its
// size cannot be read. `doing` ("recording", "playing") says what is done
// with those bytes.
std::string cut_short_note(const std::string& path, uint64_t data_offset, uint64_t bytes,
                           const char* doing);

} // namespace sonvale_cli
