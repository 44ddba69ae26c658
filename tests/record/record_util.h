// Helpers shared by the recorder's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace record_test {

// The 44 bytes a PCM WAV header should hold, built here field by field,
// independently of the library's serialiser.
inline std::vector<uint8_t> expected_header(uint32_t rate, uint16_t channels, uint16_t bits,
                                            uint32_t data_size, uint32_t riff_size) {
    std::vector<uint8_t> h;
    // Reserved first: without it GCC 12 at -O3 warns of an overflow on the
    // first insert into the empty vector, which cannot happen.
    h.reserve(44);
    auto tag = [&](const char* s) { h.insert(h.end(), s, s + 4); };
    auto u16 = [&](uint32_t v) {
        h.push_back(static_cast<uint8_t>(v));
        h.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    tag("RIFF");
    u32(riff_size);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(static_cast<uint32_t>(channels) * bits * rate / 8);
    u16(static_cast<uint32_t>(channels) * bits / 8);
    u16(bits);
    tag("data");
    u32(data_size);
    return h;
}

inline std::vector<uint8_t> expected_header(uint32_t rate, uint16_t channels, uint16_t bits,
                                            uint32_t data_size) {
    return expected_header(rate, channels, bits, data_size, data_size + 36);
}

// A block that describes itself: "BLK!", its sequence number, its length,
// then bytes (seq * 7 + i) % 251.
inline std::vector<char> make_block(uint32_t seq, uint32_t len) {
    std::vector<char> b(len < 12 ? 12 : len);
    const char magic[4] = {'B', 'L', 'K', '!'};
    for (int i = 0; i < 4; ++i)
        b[i] = magic[i];
    for (int i = 0; i < 4; ++i) {
        b[4 + i] = static_cast<char>(seq >> (8 * i));
        b[8 + i] = static_cast<char>(static_cast<uint32_t>(b.size()) >> (8 * i));
    }
    for (size_t i = 12; i < b.size(); ++i)
        b[i] = static_cast<char>((seq * 7u + i) % 251u);
    return b;
}

// Splits `data` into blocks made by make_block; false when it is not a
// sequence of whole, intact blocks.
inline bool parse_blocks(const uint8_t* data, size_t len, std::vector<uint32_t>& seqs) {
    size_t at = 0;
    while (at < len) {
        if (len - at < 12 || data[at] != 'B' || data[at + 1] != 'L' || data[at + 2] != 'K' ||
            data[at + 3] != '!')
            return false;
        uint32_t seq = 0, n = 0;
        for (int i = 0; i < 4; ++i) {
            seq |= static_cast<uint32_t>(data[at + 4 + i]) << (8 * i);
            n |= static_cast<uint32_t>(data[at + 8 + i]) << (8 * i);
        }
        if (n < 12 || n > len - at)
            return false;
        for (size_t i = 12; i < n; ++i)
            if (data[at + i] != static_cast<uint8_t>((seq * 7u + i) % 251u))
                return false;
        seqs.push_back(seq);
        at += n;
    }
    return true;
}

} // namespace record_test
