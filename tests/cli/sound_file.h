// WAV files written and read back through libsndfile, a reader independent
// of Sonvale and of the sonvale program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli_test {

struct sound {
    bool opened = false;
    int rate = 0;
    int channels = 0;
    int subtype = 0; // SF_FORMAT_PCM_16 and so on
    int64_t frames = 0;
    std::vector<int32_t> samples; // interleaved, scaled to 32 bits
};

sound read_sound(const std::string& path);

// Writes `samples` (interleaved, scaled to 32 bits) as a file of
// `sf_format` (major format | subtype).
void write_sound(const std::string& path, int rate, int channels, int sf_format,
                 const std::vector<int32_t>& samples);

// Samples that show misplaced data, exact at `bits` bits per sample.
std::vector<int32_t> sample_pattern(size_t count, int bits, int seed);

// The samples of channel `channel`.
std::vector<int32_t> channel_of(const sound& s, int channel);

} // namespace cli_test
