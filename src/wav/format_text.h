// A wave format in words, for the reasons failures give:
// "44100 Hz, 2 channels, 16-bit PCM".
#pragma once

#include "sonvale.h"

#include <cstddef>

namespace sonvale {

struct format_text {
    explicit format_text(const WAVEFORMATEX& format);
    const char* c_str() const { return text; }
    char text[96];
};

} // namespace sonvale
