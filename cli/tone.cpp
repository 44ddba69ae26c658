#include "tone.h"

#include <cmath>
#include <cstring>

namespace sonvale_cli {

namespace {

constexpr double amplitude = 0.5;

// `level` in -1 ... 1 as one little-endian sample of `bytes` bytes; 8-bit
// samples are unsigned around 128, wider ones signed.
void encode_sample(double level, int bytes, unsigned char* out) {
    double full_scale = std::ldexp(1.0, 8 * bytes - 1) - 1.0;
    auto value = static_cast<int64_t>(std::lround(level * full_scale));
    if (bytes == 1)
        value += 128;
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
}

} // namespace

tone::tone(const WAVEFORMATEX& format, double hz) : m_format(format), m_hz(hz) {}

void tone::fill(uint64_t first, size_t frames, unsigned char* out) const {
    const int bytes = m_format.wBitsPerSample / 8;
    const bool is_float = m_format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    const double step = 2.0 * M_PI * m_hz / m_format.nSamplesPerSec;
    for (size_t f = 0; f < frames; ++f) {
        // The phase from the frame number itself, so pieces join seamlessly.
        double level = amplitude * std::sin(step * static_cast<double>(first + f));
        const float as_float = static_cast<float>(level);
        for (unsigned c = 0; c < m_format.nChannels; ++c, out += bytes) {
            if (is_float)
                std::memcpy(out, &as_float, sizeof as_float);
            else
                encode_sample(level, bytes, out);
        }
    }
}

} // namespace sonvale_cli
