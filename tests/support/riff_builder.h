// Builds RIFF and WAV files chunk by chunk, so that tests can lay out exactly
// the chunks, sizes and pad bytes they need, forged ones included.
#pragma once

#include "sonvale.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace test_support {

using bytes = std::vector<uint8_t>;

inline void put16(bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void put32(bytes& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline void put64(bytes& out, uint64_t v) {
    put32(out, static_cast<uint32_t>(v));
    put32(out, static_cast<uint32_t>(v >> 32));
}

inline void put_id(bytes& out, const std::string& id) {
    out.insert(out.end(), id.begin(), id.end());
}

// A chunk whose header declares `declared` bytes, followed by `data` as given
// (no pad byte): for sizes that do not match what follows.
inline bytes raw_chunk(const std::string& id, uint32_t declared, const bytes& data = {}) {
    bytes out;
    put_id(out, id);
    put32(out, declared);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A well-formed chunk: header, data, and a pad byte when the size is odd.
inline bytes chunk(const std::string& id, const bytes& data) {
    bytes out = raw_chunk(id, static_cast<uint32_t>(data.size()), data);
    if (data.size() % 2)
        out.push_back(0);
    return out;
}

// The first `n` bytes of `b` (all of them when it is shorter).
inline bytes first(const bytes& b, size_t n) {
    return bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size())));
}

inline bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A "RIFF" chunk of form `form` holding `body` (already laid-out sub-chunks).
inline bytes riff(const std::string& form, const bytes& body) {
    bytes data;
    put_id(data, form);
    data.insert(data.end(), body.begin(), body.end());
    return chunk("RIFF", data);
}

struct wav_format {
    uint16_t tag = 1;
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    uint16_t block_align = 0; // 0: channels * bits / 8
    uint32_t fmt_size = 16;   // 16, or 18 and more with cbSize and extra bytes

    uint16_t align() const {
        return block_align ? block_align : static_cast<uint16_t>(channels * bits / 8);
    }
};

// The format record for `f`, as a mixer is opened with it.
inline WAVEFORMATEX waveformat(const wav_format& f) {
    WAVEFORMATEX w{};
    w.wFormatTag = f.tag;
    w.nChannels = f.channels;
    w.nSamplesPerSec = f.rate;
    w.nBlockAlign = f.align();
    w.nAvgBytesPerSec = f.rate * f.align();
    w.wBitsPerSample = f.bits;
    return w;
}

// A "fmt " chunk for `f`. From 18 bytes on it carries a cbSize of
// fmt_size - 18 followed by that many zero bytes; below 16 it is cut short.
inline bytes fmt_chunk(const wav_format& f) {
    bytes data;
    put16(data, f.tag);
    put16(data, f.channels);
    put32(data, f.rate);
    put32(data, f.rate * f.align());
    put16(data, f.align());
    put16(data, f.bits);
    if (f.fmt_size >= 18)
        put16(data, f.fmt_size - 18);
    data.resize(f.fmt_size, 0);
    return chunk("fmt ", data);
}

// A "fmt " chunk of 17 bytes for `f` (its 16-byte record and a zero byte)
// without the pad byte its odd size calls for, as some writers leave it.
inline bytes unpadded_odd_fmt_chunk(wav_format f) {
    f.fmt_size = 16;
    bytes out = fmt_chunk(f);
    out[4] = 17;
    out.push_back(0);
    return out;
}

// An extensible "fmt " chunk (tag 0xFFFE, cbSize 22) for `f` whose
// sub-format is the plain tag `sub_tag` with `valid_bits`; `cut` bytes are
// left off its end.
inline bytes extensible_fmt_chunk(const wav_format& f, uint16_t sub_tag, uint16_t valid_bits,
                                  size_t cut = 0) {
    wav_format plain = f;
    plain.fmt_size = 16;
    bytes data = fmt_chunk(plain);
    data.erase(data.begin(), data.begin() + 8); // the chunk header
    data[0] = 0xFE;
    data[1] = 0xFF;
    put16(data, 22);
    put16(data, valid_bits);
    put32(data, 0); // channel mask
    put32(data, sub_tag);
    const uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                              0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    data.insert(data.end(), tail, tail + sizeof tail);
    data.resize(data.size() - cut);
    return chunk("fmt ", data);
}

// The usual WAV file: "fmt " then "data".
inline bytes wav_file(const wav_format& f, const bytes& samples) {
    return riff("WAVE", concat({fmt_chunk(f), chunk("data", samples)}));
}

// An RF64 file: "RF64" and "data" declare 0xFFFFFFFF bytes, and a "ds64"
// chunk of `ds64_size` bytes (28: the sizes, a sample count of 0 and an
// empty table; less cuts it short) gives their sizes. `fmt` is a laid-out
// "fmt " chunk.
inline bytes rf64(const bytes& fmt, const bytes& samples, uint32_t ds64_size = 28) {
    const uint64_t padded = samples.size() + samples.size() % 2;
    const uint64_t form_size = 4 + 8 + ds64_size + fmt.size() + 8 + padded;
    bytes ds64;
    put64(ds64, form_size);
    put64(ds64, samples.size());
    put64(ds64, 0);
    put32(ds64, 0);
    ds64.resize(ds64_size);
    bytes out = raw_chunk("RF64", 0xFFFFFFFF);
    put_id(out, "WAVE");
    return concat({out, chunk("ds64", ds64), fmt, raw_chunk("data", 0xFFFFFFFF, samples),
                   bytes(padded - samples.size(), 0)});
}

} // namespace test_support
