#include "wav/wave_header.h"

#include <cstring>

namespace sonvale {

namespace {

// Bytes of the 80-byte header before the data: everything but "RIFF" and
// its size.
constexpr uint32_t rf64_riff_overhead = rf64_header_bytes - 8;
// The "ds64" body: RIFF size, data size, frame count (64 bits each) and a
// table length of 0.
constexpr uint32_t ds64_body_bytes = 28;

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

void put64(unsigned char* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// "fmt " and its 16 bytes.
void put_fmt(const WaveFileHeader& h, unsigned char* p) {
    std::memcpy(p, h.fmt, 4);
    put32(p + 4, h.fmtSize);
    put16(p + 8, h.formatTag);
    put16(p + 10, h.channels);
    put32(p + 12, h.samplesPerSec);
    put32(p + 16, h.bytesPerSec);
    put16(p + 20, h.blockAlign);
    put16(p + 22, h.bitsPerSample);
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
    uint32_t size = dataLen;
    if (size >= wave_max_data_size) {
        const uint32_t frame = h.blockAlign ? h.blockAlign : 1u;
        size = wave_max_data_size / frame * frame;
    }
    h.dataSize = size;
    h.riffSize = size + 36u;
}

void wave_header_serialise(const WaveFileHeader& h, unsigned char out[wave_header_bytes]) {
    std::memcpy(out + 0, h.riff, 4);
    put32(out + 4, h.riffSize);
    std::memcpy(out + 8, h.wave, 4);
    put_fmt(h, out + 12);
    std::memcpy(out + 36, h.data, 4);
    put32(out + 40, h.dataSize);
}

bool wave_header_needs_rf64(uint64_t dataLen) {
    return dataLen > 0xFFFFFFFFull - rf64_riff_overhead;
}

void wave_header_serialise_rf64(const WaveFileHeader& h, uint64_t dataLen,
                                unsigned char out[rf64_header_bytes]) {
    const bool rf64 = wave_header_needs_rf64(dataLen);
    const uint64_t riff = dataLen + rf64_riff_overhead;
    std::memcpy(out + 0, rf64 ? "RF64" : "RIFF", 4);
    put32(out + 4, rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(riff));
    std::memcpy(out + 8, h.wave, 4);
    std::memcpy(out + 12, rf64 ? "ds64" : "JUNK", 4);
    put32(out + 16, ds64_body_bytes);
    std::memset(out + 20, 0, ds64_body_bytes);
    if (rf64) {
        put64(out + 20, riff);
        put64(out + 28, dataLen);
        put64(out + 36, h.blockAlign ? dataLen / h.blockAlign : dataLen);
    }
    put_fmt(h, out + 48);
    std::memcpy(out + 72, h.data, 4);
    put32(out + 76, rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(dataLen));
}

} // namespace sonvale
