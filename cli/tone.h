// A generated sine tone, produced piece by piece so that a long tone never
// has to be held in memory whole.
#pragma once

#include <sonvale.h>

#include <cstddef>
#include <cstdint>

namespace sonvale_cli {

class tone {
public:
    // A tone of `hz` at half of full scale, the same in every channel of
    // `format` (PCM of 8, 16, 24 or 32 bits, or 32-bit float).
    tone(const WAVEFORMATEX& format, double hz);

    // Writes `frames` sample frames, starting at frame `first`, to `out`
    // (frames x nBlockAlign bytes).
    void fill(uint64_t first, size_t frames, unsigned char* out) const;

private:
    WAVEFORMATEX m_format;
    double m_hz;
};

} // namespace sonvale_cli
