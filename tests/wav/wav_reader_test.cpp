// Reading WAV files as clients see it, through MIX_ReadFileFormatEx: the
// format, where the samples start and how many the file holds.
#include "support/riff_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace {

const wav_format cd; // 16-bit stereo at 44100 Hz: 4-byte frames

// `file` with its "RIFF" size replaced by `size`.
bytes riff_size(bytes file, uint32_t size) {
    for (int i = 0; i < 4; ++i)
        file[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    return file;
}

TEST(WavReader, FindsTheSamplesOfEveryLayout) {
    wav_format fmt20 = cd;
    fmt20.fmt_size = 20;
    const bytes samples = pattern(64, 1);
    const bytes pipe_data = raw_chunk("data", 0x7FFFF000u, pattern(1001));
    const struct {
        const char* what;
        bytes file;
        int64_t size;
        uint64_t offset;
        uint16_t tag, cb_size;
    } cases[] = {
        {"16-byte \"fmt \": no cbSize", wav_file(cd, samples), 64, 44, 1, 0},
        {"20-byte \"fmt \": its own cbSize", wav_file(fmt20, samples), 64, 48, 1, 2},
        {"extensible PCM",
         riff("WAVE", concat({extensible_fmt_chunk(cd, 1, 16), chunk("data", samples)})), 64, 68, 1,
         0},
        {"RF64", rf64(fmt_chunk(cd), samples), 64, 80, 1, 0},
        {"RF64 cut short", first(rf64(fmt_chunk(cd), samples), 80 + 63), 60, 80, 1, 0},
        {"cut inside a frame", first(wav_file(cd, samples), 44 + 30), 28, 44, 1, 0},
        {"a pipe's placeholder sizes",
         riff_size(riff("WAVE", concat({fmt_chunk(cd), pipe_data})), 0x7FFFF024u), 1000, 44, 1, 0},
        {"odd \"fmt \" without its pad byte",
         riff("WAVE", concat({unpadded_odd_fmt_chunk(cd), chunk("data", samples)})), 64, 45, 1, 0},
        {"odd \"fmt \" with its pad byte",
         riff("WAVE", concat({unpadded_odd_fmt_chunk(cd), bytes{0}, chunk("data", samples)})), 64,
         46, 1, 0},
    };
    temp_dir dir;
    const std::string path = dir.file("in.wav");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path, c.file);
        WAVEFORMATEX f{};
        uint64_t offset = 0;
        EXPECT_EQ(MIX_ReadFileFormatEx(path.c_str(), &f, &offset), c.size) << MIX_GetLastError();
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(f.wFormatTag, c.tag);
        EXPECT_EQ(f.nChannels, 2);
        EXPECT_EQ(f.cbSize, c.cb_size);
        EXPECT_EQ(MIX_ReadFileFormat(path.c_str(), &f), c.size);
    }
}

TEST(WavReader, RefusalsLeaveTheOutputsAlone) {
    temp_dir dir;
    const std::string path = dir.file("in.wav");
    write_file(path, rf64(fmt_chunk(cd), pattern(8), 12));
    WAVEFORMATEX f{};
    f.nChannels = 9;
    uint64_t offset = 7;
    EXPECT_EQ(MIX_ReadFileFormatEx(path.c_str(), &f, &offset), -1);
    EXPECT_NE(std::string(MIX_GetLastError()).find("an RF64 file without a \"ds64\" chunk"),
              std::string::npos);
    EXPECT_EQ(f.nChannels, 9);
    EXPECT_EQ(offset, 7u);
    EXPECT_EQ(MIX_ReadFileFormatEx(path.c_str(), nullptr, &offset), -1);
    EXPECT_STREQ(MIX_GetLastError(), "no format record was given");
}

} // namespace
