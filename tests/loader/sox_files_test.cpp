// Files written by real tools: sox and libsndfile (Debian packages sox and
// libsndfile1-dev, installed by scripts/deps.sh).
#include "loader/recording_mixer.h"
#include "support/wav_readback.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

using namespace test_support;

namespace {

// Runs sox with `args`; false when it fails or is missing.
bool sox(const std::string& args) {
    return std::system(("sox " + args + " 2>/dev/null").c_str()) == 0;
}

// Streams the file at `path` into the recording of `m` and reads the
// recording back.
bytes streamed(recording_mixer& m, const std::string& path) {
    EXPECT_EQ(m.mixer.MIX_AddFileStream(path.c_str(), 11), 11) << MIX_GetLastError();
    EXPECT_EQ(m.mixer.MIX_Flush(-1), 0);
    m.mixer.m_recorder.Close();
    wav_readback back = read_wav_back(m.dir.file("record.wav"));
    EXPECT_EQ(back.problem, "");
    return back.data;
}

// An RF64 file of 16-bit stereo `samples`, written by libsndfile.
bool write_rf64(const std::string& path, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 2;
    info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    const auto count = static_cast<sf_count_t>(samples.size());
    const bool written = sf && sf_write_short(sf, samples.data(), count) == count;
    return sf && sf_close(sf) == 0 && written;
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

            EXPECT_EQ(streamed(m, wav), samples);
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

// Files that other programs leave: RF64 from libsndfile, a WAV file sox
// wrote to a pipe (placeholder sizes), one cut inside a frame. The format is
// read and every whole frame is recorded.
TEST(ToolFiles, AreRecordedUpToTheirLastWholeFrame) {
    const wav_format stereo16{1, 2, 8000, 16};
    temp_dir dir;
    const std::string rf64 = dir.file("rf64.wav"), piped = dir.file("piped.wav"),
                      cut = dir.file("cut.wav"), raw = dir.file("raw");
    std::vector<short> pcm(6000);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<short>(i * 7919);
    ASSERT_TRUE(write_rf64(rf64, pcm));
    const bytes head = first(read_file(rf64), 4);
    ASSERT_EQ(std::string(head.begin(), head.end()), "RF64");
    const bytes rf64_samples(reinterpret_cast<const uint8_t*>(pcm.data()),
                             reinterpret_cast<const uint8_t*>(pcm.data() + pcm.size()));

    const std::string options = "-r 8000 -c 2 -b 16 -e signed-integer";
    ASSERT_TRUE(sox("-n " + options + " -t wav - synth 0.3 sine 440 | cat > " + piped));
    ASSERT_TRUE(sox(piped + " -t raw " + raw));
    const bytes piped_samples = read_file(raw);
    ASSERT_TRUE(sox("-n " + options + " " + cut + " synth 0.3 sine 440"));
    ASSERT_TRUE(sox(cut + " -t raw " + raw));
    bytes cut_samples = read_file(raw);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) - 3);
    cut_samples.resize(cut_samples.size() - 4);

    const struct {
        std::string path;
        bytes samples;
    } files[] = {{rf64, rf64_samples}, {piped, piped_samples}, {cut, cut_samples}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.path);
        ASSERT_GT(f.samples.size(), 4000u);
        WAVEFORMATEX read{};
        EXPECT_EQ(MIX_ReadFileFormat(f.path.c_str(), &read), int64_t(f.samples.size()));
        EXPECT_EQ(read.nChannels, 2);
        recording_mixer m(stereo16);
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(streamed(m, f.path), f.samples);
    }
}

} // namespace
