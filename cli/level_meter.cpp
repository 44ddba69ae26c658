#include "level_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sonvale_cli {

namespace {

uint32_t little_endian(const unsigned char* p, unsigned bytes) {
    uint32_t v = 0;
    for (unsigned i = 0; i < bytes; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

} // namespace

level_meter::level_meter(const WAVEFORMATEX& format)
    : m_format(format), m_width(format.wBitsPerSample / 8u), m_peaks(format.nChannels, 0.0) {}

double level_meter::sample_at(const unsigned char* p) const {
    if (m_format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        float f;
        std::memcpy(&f, p, sizeof f);
        return f;
    }
    const uint32_t v = little_endian(p, m_width);
    if (m_width == 1)
        return (int(v) - 128) / 128.0;
    const unsigned bits = 8 * m_width;
    // Sign-extend from the sample's width.
    const int64_t s = bits == 32
                          ? int32_t(v)
                          : (int64_t(v) ^ (int64_t(1) << (bits - 1))) - (int64_t(1) << (bits - 1));
    return double(s) / double(int64_t(1) << (bits - 1));
}

void level_meter::add(const unsigned char* data, size_t bytes) {
    const size_t channels = m_peaks.size();
    if (m_width == 0 || channels == 0)
        return;
    for (size_t at = 0; at + m_width * channels <= bytes;)
        for (size_t c = 0; c < channels; ++c, at += m_width) {
            const double level = std::fabs(sample_at(data + at));
            m_peaks[c] = std::max(m_peaks[c], level);
            // The most negative integer, or a float at or past full scale.
            m_clipped += level >= 1.0;
        }
}

std::string level_meter::take_text() {
    std::string text;
    for (double& peak : m_peaks) {
        char level[16];
        if (peak > 0.0)
            std::snprintf(level, sizeof level, "%.1f ", 20.0 * std::log10(peak));
        else
            std::snprintf(level, sizeof level, "-inf ");
        text += level;
        peak = 0.0;
    }
    return text + "dBFS, " + std::to_string(m_clipped) + " clipped";
}

recorded_tail::recorded_tail(const std::string& path) : m_file(std::fopen(path.c_str(), "rb")) {}

recorded_tail::~recorded_tail() {
    if (m_file)
        std::fclose(m_file);
}

// Walks the chunks after the 12-byte form header up to "data".
bool recorded_tail::find_data() {
    unsigned char chunk[8];
    uint64_t at = 12;
    for (int i = 0; i < 16; ++i) {
        if (std::fseek(m_file, long(at), SEEK_SET) != 0 || std::fread(chunk, 1, 8, m_file) != 8)
            return false;
        if (std::memcmp(chunk, "data", 4) == 0) {
            m_data_at = at + 8;
            return true;
        }
        const uint32_t size = little_endian(chunk + 4, 4);
        at += 8 + size + (size & 1);
    }
    return false;
}

void recorded_tail::read_to(uint64_t data_bytes, level_meter& meter) {
    if (!m_file || (m_data_at == 0 && !find_data()) || data_bytes <= m_read)
        return;
    m_buffer.resize(size_t(data_bytes - m_read));
    std::fseek(m_file, long(m_data_at + m_read), SEEK_SET);
    const size_t got = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
    std::clearerr(m_file);
    m_read += got;
    meter.add(m_buffer.data(), got);
}

} // namespace sonvale_cli
