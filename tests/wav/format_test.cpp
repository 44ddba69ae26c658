// The block of a format and its text, as clients get them.
#include "wav/block_size.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(BlockSize, SupportedWidths) {
    EXPECT_FALSE(sonvale::sample_width_supported(0));
    for (unsigned width = 1; width <= 4; ++width)
        EXPECT_TRUE(sonvale::sample_width_supported(width));
    EXPECT_FALSE(sonvale::sample_width_supported(5));
    EXPECT_FALSE(sonvale::sample_width_supported(8));
}

// The block of a format, as clients get it: whole frames where the frame is
// whole samples and fits, else whole samples.
TEST(BlockSize, WholeFramesOrWholeSamples) {
    const struct {
        uint16_t bits, channels, align;
        int block;
    } cases[] = {
        {16, 2, 4, 1280}, {24, 2, 6, 1278},    {16, 6, 12, 1272}, {24, 1, 3, 1278},
        {8, 1, 1, 1280},  {24, 2, 0, 1278},    {16, 2, 3, 1280},  {24, 1000, 3000, 1278},
        {64, 1, 8, 1280}, {32, 40, 160, 1280}, {32, 3, 12, 1272},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.bits << "-bit, " << c.channels << " channels, align " << c.align);
        WAVEFORMATEX f{WAVE_FORMAT_PCM, c.channels, 8000, 0, c.align, c.bits, 0};
        EXPECT_EQ(MIX_GetBlockSize(&f), c.block);
    }
    EXPECT_EQ(MIX_GetBlockSize(nullptr), -1);
    EXPECT_STREQ(MIX_GetLastError(), "no format record was given");
}

TEST(FormatText, NamesTheFormatAsReasonsDo) {
    const struct {
        WAVEFORMATEX format;
        const char* text;
    } cases[] = {
        {{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}, "44100 Hz, 2 channels, 16-bit PCM"},
        {{WAVE_FORMAT_IEEE_FLOAT, 1, 8000, 32000, 4, 32, 0}, "8000 Hz, 1 channel, 32-bit float"},
        {{0xFFFE, 6, 48000, 0, 12, 16, 22}, "48000 Hz, 6 channels, 16-bit format tag 0xFFFE"},
    };
    for (const auto& c : cases) {
        char text[64];
        EXPECT_EQ(MIX_DescribeFormat(&c.format, text, sizeof text), int(strlen(c.text)));
        EXPECT_STREQ(text, c.text);
        char cut[6];
        EXPECT_EQ(MIX_DescribeFormat(&c.format, cut, sizeof cut), int(strlen(c.text)));
        EXPECT_EQ(std::string(cut), std::string(c.text, 5)) << "cut short, still terminated";
        EXPECT_EQ(MIX_DescribeFormat(&c.format, nullptr, 0), int(strlen(c.text)));
    }
    char text[8];
    EXPECT_EQ(MIX_DescribeFormat(nullptr, text, sizeof text), -1);
    EXPECT_EQ(MIX_DescribeFormat(&cases[0].format, nullptr, 8), -1);
    EXPECT_EQ(MIX_DescribeFormat(&cases[0].format, text, -1), -1);
}

} // namespace
