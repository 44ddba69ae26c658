// The "fmt " chunk of a WAV file: a format record, plain (16 bytes, or 18
// and more with cbSize) or extensible (tag 0xFFFE with a 22-byte extension
// naming the sub-format).
#pragma once

#include "sonvale.h"
#include "wav/riff_reader.h"

#include <cstdint>

namespace sonvale {

// What a "fmt " chunk says.
struct fmt_info {
    WAVEFORMATEX format; // as read; cbSize 0 when the chunk has none (16 bytes)
    uint16_t plain_tag;  // 1 or 3 for an extensible PCM or float format whose
                         // valid bits fill its samples; else the format's tag
};

// Reads the "fmt " chunk `fmt` of the file at `path`, `reader` being at its
// data. It must hold at least 16 bytes, and an extensible one the extension
// it declares. False, with the reason set, when it does not.
bool read_fmt_chunk(riff_reader& reader, const char* path, const riff_chunk& fmt, fmt_info& out);

} // namespace sonvale
