// Building, comparing and describing wave formats.
#pragma once

#include <sonvale.h>

#include <cstdint>
#include <string>

namespace sonvale_cli {

// A PCM (or, with `tag` 3, IEEE float) format with its block alignment and
// byte rate worked out.
WAVEFORMATEX make_pcm_format(uint32_t rate, uint16_t channels, uint16_t bits,
                             uint16_t tag = WAVE_FORMAT_PCM);

// True when tag, channels, rate and bits per sample are equal: what decides
// whether data of one format can go into a recording of the other.
bool same_layout(const WAVEFORMATEX& a, const WAVEFORMATEX& b);

// "44100 Hz, 2 channels, 16-bit PCM", in the library's words.
std::string describe_format(const WAVEFORMATEX& format);

// Playing time of `bytes` of data in `format`; 0 for a format without a
// byte rate.
double seconds_of(uint64_t bytes, const WAVEFORMATEX& format);

} // namespace sonvale_cli
