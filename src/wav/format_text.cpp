#include "wav/format_text.h"

#include <cstdio>

namespace sonvale {

format_text::format_text(const WAVEFORMATEX& format) {
    char encoding[32];
    if (format.wFormatTag == WAVE_FORMAT_PCM)
        std::snprintf(encoding, sizeof encoding, "PCM");
    else if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        std::snprintf(encoding, sizeof encoding, "float");
    else
        std::snprintf(encoding, sizeof encoding, "format tag 0x%04X", format.wFormatTag);
    std::snprintf(text, sizeof text, "%lu Hz, %u channel%s, %u-bit %s",
                  static_cast<unsigned long>(format.nSamplesPerSec), format.nChannels,
                  format.nChannels == 1 ? "" : "s", format.wBitsPerSample, encoding);
}

} // namespace sonvale
