// The header of a recorded WAV file: the classic 44 bytes, and the 80-byte
// layout of a recording that may pass 4 GiB (a "JUNK" chunk that becomes
// "ds64" once the sizes no longer fit in 32 bits). Fields go into the file
// little-endian whatever the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sonvale.h"

namespace sonvale {

constexpr size_t wave_header_bytes = 44;
static_assert(sizeof(WaveFileHeader) == wave_header_bytes, "the WAV header is 44 bytes");

// "RIFF", "WAVE", a 36-byte "JUNK" (or "ds64") chunk, "fmt " and "data".
constexpr size_t rf64_header_bytes = 80;

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
// wrapped: past 0xFFFFFFFF - 36 the data size is the largest whole number
// of the header's frames (block alignment; bytes where it is 0) that fits
// there, so that no reader meets a partial frame. RIFF size = data size + 36.
void wave_header_set_sizes(WaveFileHeader& h, uint32_t dataLen);

// The 44 bytes of the header as they go into the file, every field
// little-endian.
void wave_header_serialise(const WaveFileHeader& h, unsigned char out[wave_header_bytes]);

// True when `dataLen` data bytes need the RF64 form of the 80-byte header:
// the RIFF size (72 + data) no longer fits in 32 bits.
bool wave_header_needs_rf64(uint64_t dataLen);

// The 80-byte header of `h`'s format for `dataLen` data bytes. While they
// fit in 32 bits: a plain WAV whose "JUNK" chunk keeps room for "ds64".
// Past that: "RF64", RIFF and data sizes 0xFFFFFFFF, and the chunk becomes
// "ds64" with the 64-bit RIFF size, data size and frame count (no table).
void wave_header_serialise_rf64(const WaveFileHeader& h, uint64_t dataLen,
                                unsigned char out[rf64_header_bytes]);

} // namespace sonvale
