// Reading a WAV file's format and sample data for playing it.
#pragma once

#include <sonvale.h>

#include <string>
#include <vector>

namespace sonvale_cli {

struct wav_file {
    WAVEFORMATEX format{};
    std::vector<unsigned char> data; // whole sample frames only
};

// Reads the WAV file at `path`, accepted, described and located by the
// library (MIX_ReadFileFormatEx): its format, an extensible one with its
// plain tag, and its samples (up to the last whole frame the file holds).
// A trailing partial sample frame is dropped. Throws command_error with the
// library's reason when the file is refused, or naming the file when it
// cannot be read.
wav_file read_wav_file(const std::string& path);

} // namespace sonvale_cli
