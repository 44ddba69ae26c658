// The 44-byte WAV header: its fields and their serialisation little-endian.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "wav/wave_header.h"

namespace {

using sonvale::wave_header_bytes;
using sonvale::WaveFileHeader;

std::vector<uint8_t> serialised(const WaveFileHeader& h) {
    std::vector<uint8_t> out(wave_header_bytes);
    sonvale::wave_header_serialise(h, out.data());
    return out;
}

TEST(WaveHeader, StructIs44PackedBytes) {
    EXPECT_EQ(sizeof(WaveFileHeader), 44u);
    WaveFileHeader h;
    const auto* base = reinterpret_cast<const unsigned char*>(&h);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&h.riffSize) - base, 4);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&h.fmtSize) - base, 16);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&h.samplesPerSec) - base, 24);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&h.blockAlign) - base, 32);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&h.dataSize) - base, 40);
}

TEST(WaveHeader, MonoSixteenBitBytes) {
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, 22050, 1, 16);
    const std::vector<uint8_t> expected = {
        'R',  'I',  'F',  'F',  0x24, 0x00, 0x00, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00, 0x44, 0xAC,
        0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(serialised(h), expected);
    EXPECT_EQ(h.bytesPerSec, 44100u);
    EXPECT_EQ(h.blockAlign, 2u);
    EXPECT_EQ(h.riffSize, 36u);
    EXPECT_EQ(h.dataSize, 0u);
}

TEST(WaveHeader, SizesAndOtherFormats) {
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, 192000, 6, 24);
    sonvale::wave_header_set_sizes(h, 0x01020304);
    const std::vector<uint8_t> expected = {
        'R',  'I',  'F',  'F',  0x28, 0x03, 0x02, 0x01, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x00, 0xBC,
        0x34, 0x00, 0x12, 0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(serialised(h), expected);
}

TEST(WaveHeader, ProductsWrapIn32Bits) {
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, 0xFFFFFFFFul, 65535, 65535);
    // (65535 * 65535 * 0xFFFFFFFF) mod 2^32 = 0x0001FFFF, / 8 = 0x3FFF;
    // (65535 * 65535) / 8 = 0x1FFFC000, low 16 bits 0xC000.
    EXPECT_EQ(h.bytesPerSec, 0x3FFFu);
    EXPECT_EQ(h.blockAlign, 0xC000u);
    EXPECT_EQ(h.channels, 65535u);
    EXPECT_EQ(h.bitsPerSample, 65535u);
    const std::vector<uint8_t> b = serialised(h);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 24, b.begin() + 36),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 0x00, 0x00, 0x00, 0xC0,
                                    0xFF, 0xFF}));
}

TEST(WaveHeader, RateAbove32BitsKeepsItsLowBits) {
    if (sizeof(unsigned long) < 8)
        GTEST_SKIP() << "unsigned long is 32 bits here";
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, static_cast<unsigned long>(0x100005622ull), 1, 16);
    EXPECT_EQ(h.samplesPerSec, 22050u);
    EXPECT_EQ(h.bytesPerSec, 44100u);
}

TEST(WaveHeader, ZeroChannelsOrBits) {
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, 8000, 0, 16);
    EXPECT_EQ(h.bytesPerSec, 0u);
    EXPECT_EQ(h.blockAlign, 0u);
    sonvale::wave_header_fill(h, 1, 8000, 1, 4);
    EXPECT_EQ(h.bytesPerSec, 4000u);
    EXPECT_EQ(h.blockAlign, 0u); // 4 / 8
}

// Past the limit the sizes stop at the last whole frame, never wrap.
TEST(WaveHeader, SizesClampToWholeFramesInsteadOfWrapping) {
    struct {
        unsigned short channels, bits;
        uint32_t data_len, data_size;
    } cases[] = {
        {1, 8, 0, 0},
        {1, 8, 1280, 1280},
        {1, 8, 0xFFFFFFDAu, 0xFFFFFFDAu},
        {1, 8, 0xFFFFFFDBu, 0xFFFFFFDBu}, // exactly the limit
        {1, 8, 0xFFFFFFFFu, 0xFFFFFFDBu},
        {2, 16, 0xFFFFFFDBu, 0xFFFFFFD8u}, // 0xFFFFFFDB would end 3 bytes into a frame
        {2, 24, 0xFFFFFFFFu, 0xFFFFFFD8u},
        {6, 16, 0xFFFFFFF0u, 0xFFFFFFD8u},
        {1, 4, 0xFFFFFFFFu, 0xFFFFFFDBu}, // no whole-byte frame: bytes
    };
    for (const auto& c : cases) {
        WaveFileHeader h;
        sonvale::wave_header_fill(h, 1, 8000, c.channels, c.bits);
        sonvale::wave_header_set_sizes(h, c.data_len);
        EXPECT_EQ(h.dataSize, c.data_size) << c.data_len;
        EXPECT_EQ(h.riffSize, c.data_size + 36u) << c.data_len;
        if (h.blockAlign) {
            EXPECT_EQ(h.dataSize % h.blockAlign, 0u) << c.data_len;
        }
    }
}

// The 80-byte header: a plain WAV with a "JUNK" chunk while the sizes fit
// in 32 bits, RF64 with a "ds64" chunk past that.
TEST(WaveHeader, Rf64LayoutFollowsTheDataSize) {
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, 48000, 2, 24);
    struct {
        uint64_t data;
        bool rf64;
    } cases[] = {{0, false},
                 {1048576, false},
                 {0xFFFFFFFFull - 72, false},
                 {0xFFFFFFFFull - 66, true},
                 {(4ull << 30) + (64ull << 20), true}};
    for (const auto& c : cases) {
        std::vector<uint8_t> b(sonvale::rf64_header_bytes);
        sonvale::wave_header_serialise_rf64(h, c.data, b.data());
        auto at = [&](size_t o, size_t n) { return std::string(b.begin() + o, b.begin() + o + n); };
        auto le = [&](size_t o, int n) {
            uint64_t v = 0;
            for (int i = n - 1; i >= 0; --i)
                v = v << 8 | b[o + i];
            return v;
        };
        EXPECT_EQ(sonvale::wave_header_needs_rf64(c.data), c.rf64) << c.data;
        EXPECT_EQ(at(0, 4), c.rf64 ? "RF64" : "RIFF");
        EXPECT_EQ(at(8, 8), c.rf64 ? "WAVEds64" : "WAVEJUNK");
        EXPECT_EQ(le(16, 4), 28u);
        EXPECT_EQ(at(48, 4), "fmt ");
        EXPECT_EQ(le(70, 2), 24u);
        EXPECT_EQ(at(72, 4), "data");
        EXPECT_EQ(le(4, 4), c.rf64 ? 0xFFFFFFFFu : c.data + 72);
        EXPECT_EQ(le(76, 4), c.rf64 ? 0xFFFFFFFFu : c.data);
        EXPECT_EQ(le(20, 8), c.rf64 ? c.data + 72 : 0u);
        EXPECT_EQ(le(28, 8), c.rf64 ? c.data : 0u);
        EXPECT_EQ(le(36, 8), c.rf64 ? c.data / 6 : 0u);
        EXPECT_EQ(le(44, 4), 0u);
    }
}

TEST(WaveHeader, SerialisedFromFieldValuesNotHostBytes) {
    WaveFileHeader h;
    sonvale::wave_header_fill(h, 1, 0x11223344u, 0x5566, 0x7788);
    sonvale::wave_header_set_sizes(h, 0x0A0B0C0D);
    const std::vector<uint8_t> b = serialised(h);
    auto le32 = [&](size_t o) {
        return static_cast<uint32_t>(b[o]) | static_cast<uint32_t>(b[o + 1]) << 8 |
               static_cast<uint32_t>(b[o + 2]) << 16 | static_cast<uint32_t>(b[o + 3]) << 24;
    };
    auto le16 = [&](size_t o) { return static_cast<uint16_t>(b[o] | b[o + 1] << 8); };
    EXPECT_EQ(le32(4), h.riffSize);
    EXPECT_EQ(le32(16), 16u);
    EXPECT_EQ(le16(20), 1u);
    EXPECT_EQ(le16(22), 0x5566u);
    EXPECT_EQ(le32(24), 0x11223344u);
    EXPECT_EQ(le32(28), h.bytesPerSec);
    EXPECT_EQ(le16(32), h.blockAlign);
    EXPECT_EQ(le16(34), 0x7788u);
    EXPECT_EQ(le32(40), 0x0A0B0C0Du);
}

} // namespace
