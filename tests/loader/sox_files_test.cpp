// Files written by a real tool: sox (Debian package sox, installed by
// scripts/deps.sh).
#include "loader/recording_mixer.h"
#include "support/wav_readback.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace test_support;

namespace {

// Runs sox with `args`; false when it fails or is missing.
bool sox(const std::string& args) {
    return std::system(("sox " + args + " 2>/dev/null").c_str()) == 0;
}

struct sox_case {
    wav_format format;
    std::string options; // sox's output options for that format
};

TEST(SoxFiles, QueuedFilesRecordTheirSamples) {
    const sox_case cases[] = {
        {wav_format{}, "-r 44100 -c 2 -b 16 -e signed-integer"},
        {wav_format{1, 1, 8000, 8}, "-r 8000 -c 1 -b 8 -e unsigned-integer"},
        // 32-bit float: an 18-byte format chunk and a "fact" chunk.
        {wav_format{3, 1, 48000, 32}, "-r 48000 -c 1 -b 32 -e floating-point"},
    };
    for (const sox_case& c : cases) {
        SCOPED_TRACE(c.options);
        recording_mixer m(c.format);
        ASSERT_TRUE(m.opened);
        std::string wav = m.dir.file("sox.wav"), raw = m.dir.file("sox.raw");
        ASSERT_TRUE(sox("-n " + c.options + " " + wav + " synth 0.25 sine 440"));
        ASSERT_TRUE(sox(wav + " -t raw " + raw));
        bytes samples = read_file(raw);
        ASSERT_GT(samples.size(), 1280u);
        EXPECT_EQ(m.mixer.MIX_AddFile(wav.c_str(), 11), 11);
        EXPECT_EQ(m.recorded(1280), bytes(samples.begin(), samples.begin() + 1280));
    }
}

// Every width, mono to six channels, PCM and float, as sox writes them
// (extensible where it chooses to): the format is read, and the whole file
// is recorded byte for byte.
TEST(SoxFiles, StreamedFilesAreRecordedWhole) {
    struct sox_format {
        uint16_t tag;
        uint16_t bits;
        const char* encoding;
    };
    const sox_format formats[] = {{1, 8, "unsigned-integer"},
                                  {1, 16, "signed-integer"},
                                  {1, 24, "signed-integer"},
                                  {1, 32, "signed-integer"},
                                  {3, 32, "floating-point"}};
    for (const sox_format& f : formats)
        for (uint16_t channels : {1, 2, 6}) {
            const std::string options = "-r 8000 -c " + std::to_string(channels) + " -b " +
                                        std::to_string(f.bits) + " -e " + f.encoding;
            SCOPED_TRACE(options);
            const wav_format format{f.tag, channels, 8000, f.bits};
            recording_mixer m(format);
            ASSERT_TRUE(m.opened);
            std::string wav = m.dir.file("sox.wav"), raw = m.dir.file("sox.raw");
            ASSERT_TRUE(sox("-n " + options + " " + wav + " synth 0.3 sine 440"));
            ASSERT_TRUE(sox(wav + " -t raw " + raw));
            const bytes samples = read_file(raw);

            WAVEFORMATEX read{};
            EXPECT_EQ(MIX_ReadFileFormat(wav.c_str(), &read), int64_t(samples.size()));
            const WAVEFORMATEX want = waveformat(format);
            EXPECT_EQ(read.wFormatTag, want.wFormatTag);
            EXPECT_EQ(read.nChannels, want.nChannels);
            EXPECT_EQ(read.nSamplesPerSec, want.nSamplesPerSec);
            EXPECT_EQ(read.wBitsPerSample, want.wBitsPerSample);

            EXPECT_EQ(m.mixer.MIX_AddFileStream(wav.c_str(), 11), 11) << MIX_GetLastError();
            EXPECT_EQ(m.mixer.MIX_Flush(-1), 0);
            m.mixer.m_recorder.Close();
            wav_readback back = read_wav_back(m.dir.file("record.wav"));
            EXPECT_EQ(back.problem, "");
            EXPECT_EQ(back.data, samples);
        }
}

TEST(SoxFiles, OtherRateIsRefused) {
    wav_format half_rate;
    half_rate.rate = 22050;
    recording_mixer m(half_rate);
    ASSERT_TRUE(m.opened);
    std::string wav = m.dir.file("sox.wav");
    ASSERT_TRUE(sox("-n -r 44100 -c 2 -b 16 " + wav + " synth 0.05 sine 440"));
    EXPECT_EQ(m.mixer.MIX_AddFile(wav.c_str(), 11), -1);
}

} // namespace
