// The 44-byte header of a PCM WAV file: filling it and turning it
// into the bytes of the file, little-endian whatever the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sonvale.h"

namespace sonvale {

constexpr size_t wave_header_bytes = 44;
static_assert(sizeof(WaveFileHeader) == wave_header_bytes, "the WAV header is 44 bytes");

// The largest data size a header can describe: 0xFFFFFFFF - 36.
constexpr uint32_t wave_max_data_size = 0xFFFFFFFFu - 36u;

// Fills `h` for a new file: "RIFF", 36, "WAVE", "fmt ", 16, the format tag
// (1 PCM, 3 IEEE float), channels, rate, bytes per second, block alignment,
// bits, "data", 0.
// Bytes per second is (channels * bits * rate) formed in unsigned 32-bit
// arithmetic (wrapping), then divided by 8; the block alignment is the low
// 16 bits of (channels * bits) / 8, the product formed in 32 bits. A rate
// above 32 bits keeps its low 32 bits.
void wave_header_fill(WaveFileHeader& h, uint16_t formatTag, unsigned long samplesPerSec,
                      unsigned short channels, unsigned short bitsPerSample);

// Sets the header's sizes for `dataLen` data bytes, clamped rather than
// wrapped: data size = min(dataLen, 0xFFFFFFFF - 36), RIFF size =
// min(dataLen + 36, 0xFFFFFFFF).
void wave_header_set_sizes(WaveFileHeader& h, uint32_t dataLen);

// The 44 bytes of the header as they go into the file, every field
// little-endian.
void wave_header_serialise(const WaveFileHeader& h, unsigned char out[wave_header_bytes]);

} // namespace sonvale
