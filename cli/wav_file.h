// Reading a WAV file's format and sample data for the commands.
#pragma once

#include <sonvale.h>

#include <string>
#include <vector>

namespace sonvale_cli {

struct wav_file {
    WAVEFORMATEX format{};
    std::vector<unsigned char> data; // whole sample frames only
};

// Reads the "fmt " and "data" chunks of the RIFF/WAVE file at `path`. An
// extensible format chunk is reported with the tag of its sub-format. A
// trailing partial sample frame is dropped. Throws command_error naming the
// file when it cannot be read, is not a WAV file, lacks either chunk, or its
// "data" chunk is longer than the file.
wav_file read_wav_file(const std::string& path);

} // namespace sonvale_cli
