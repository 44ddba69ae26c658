#include "record/wave_header.h"

#include <cstring>

namespace sonvale {

namespace {

void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFFu);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFFu);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFFu);
    p[2] = static_cast<unsigned char>((v >> 16) & 0xFFu);
    p[3] = static_cast<unsigned char>(v >> 24);
}

} // namespace

void wave_header_fill(WaveFileHeader& h, uint16_t formatTag, unsigned long samplesPerSec,
                      unsigned short channels, unsigned short bitsPerSample) {
    const uint32_t rate = static_cast<uint32_t>(samplesPerSec);
    const uint32_t frameBits =
        static_cast<uint32_t>(channels) * static_cast<uint32_t>(bitsPerSample);
    std::memcpy(h.riff, "RIFF", 4);
    h.riffSize = 36;
    std::memcpy(h.wave, "WAVE", 4);
    std::memcpy(h.fmt, "fmt ", 4);
    h.fmtSize = 16;
    h.formatTag = formatTag;
    h.channels = channels;
    h.samplesPerSec = rate;
    h.bytesPerSec = (frameBits * rate) >> 3;
    h.blockAlign = static_cast<uint16_t>(frameBits / 8u);
    h.bitsPerSample = bitsPerSample;
    std::memcpy(h.data, "data", 4);
    h.dataSize = 0;
}

void wave_header_set_sizes(WaveFileHeader& h, uint32_t dataLen) {
    h.dataSize = dataLen < wave_max_data_size ? dataLen : wave_max_data_size;
    const uint64_t riff = static_cast<uint64_t>(dataLen) + 36u;
    h.riffSize = riff < 0xFFFFFFFFu ? static_cast<uint32_t>(riff) : 0xFFFFFFFFu;
}

void wave_header_serialise(const WaveFileHeader& h, unsigned char out[wave_header_bytes]) {
    std::memcpy(out + 0, h.riff, 4);
    put32(out + 4, h.riffSize);
    std::memcpy(out + 8, h.wave, 4);
    std::memcpy(out + 12, h.fmt, 4);
    put32(out + 16, h.fmtSize);
    put16(out + 20, h.formatTag);
    put16(out + 22, h.channels);
    put32(out + 24, h.samplesPerSec);
    put32(out + 28, h.bytesPerSec);
    put16(out + 32, h.blockAlign);
    put16(out + 34, h.bitsPerSample);
    std::memcpy(out + 36, h.data, 4);
    put32(out + 40, h.dataSize);
}

} // namespace sonvale
