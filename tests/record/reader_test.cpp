// Files recorded by CWaveRecorder, read back by independent readers:
// libsndfile, and sox's `soxi` / `sox` programs when installed.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <sndfile.h>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "record/record_util.h"
#include "sonvale.h"
#include "support/test_support.h"

namespace {

using test_support::in_child;
using test_support::pattern;
using test_support::read_file;
using test_support::temp_dir;

// Records `data` in blocks of `block` bytes.
bool record(const std::string& path, unsigned long rate, unsigned short channels,
            unsigned short bits, const std::vector<uint8_t>& data, size_t block) {
    CWaveRecorder r;
    if (!r.Open(path.c_str(), rate, channels, bits))
        return false;
    for (size_t at = 0; at < data.size(); at += block) {
        const size_t n = std::min(block, data.size() - at);
        r.Write(reinterpret_cast<const char*>(data.data() + at), static_cast<int>(n));
    }
    r.Close();
    return true;
}

std::vector<uint8_t> tone16(unsigned rate, unsigned channels, unsigned frames) {
    std::vector<uint8_t> out;
    for (unsigned i = 0; i < frames; ++i)
        for (unsigned c = 0; c < channels; ++c) {
            const double t = static_cast<double>(i) / rate;
            const auto s = static_cast<int16_t>(std::lround(
                12000.0 * std::sin(2.0 * 3.14159265358979323846 * (440.0 + 110.0 * c) * t)));
            out.push_back(static_cast<uint8_t>(s & 0xFF));
            out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
        }
    return out;
}

struct sndfile_reader {
    explicit sndfile_reader(const std::string& path) {
        info = SF_INFO{};
        file = sf_open(path.c_str(), SFM_READ, &info);
    }
    ~sndfile_reader() {
        if (file)
            sf_close(file);
    }
    // Every sample as libsndfile's left-justified 32-bit int.
    std::vector<int> samples() {
        std::vector<int> v(static_cast<size_t>(info.frames * info.channels));
        const sf_count_t got = sf_read_int(file, v.data(), static_cast<sf_count_t>(v.size()));
        v.resize(static_cast<size_t>(got));
        return v;
    }
    SNDFILE* file = nullptr;
    SF_INFO info;
};

// The samples of little-endian PCM `data`, as libsndfile presents them.
std::vector<int> expected_samples(const std::vector<uint8_t>& data, unsigned bits) {
    std::vector<int> v;
    const unsigned width = bits / 8;
    for (size_t at = 0; at + width <= data.size(); at += width) {
        uint32_t raw = 0;
        for (unsigned i = 0; i < width; ++i)
            raw |= static_cast<uint32_t>(data[at + i]) << (8 * i);
        if (bits == 8)
            v.push_back(static_cast<int>(static_cast<int32_t>(raw) - 128) * (1 << 24));
        else
            v.push_back(static_cast<int32_t>(raw << (32 - bits)));
    }
    return v;
}

void expect_read_back(unsigned rate, unsigned channels, unsigned bits, int subformat,
                      const std::vector<uint8_t>& data, size_t block) {
    temp_dir dir;
    const std::string path = dir.file("rec.wav");
    ASSERT_TRUE(record(path, rate, static_cast<unsigned short>(channels),
                       static_cast<unsigned short>(bits), data, block));
    sndfile_reader in(path);
    ASSERT_NE(in.file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(in.info.samplerate, static_cast<int>(rate));
    EXPECT_EQ(in.info.channels, static_cast<int>(channels));
    EXPECT_EQ(in.info.format, SF_FORMAT_WAV | subformat);
    EXPECT_EQ(in.info.frames, static_cast<sf_count_t>(data.size() / (channels * bits / 8)));
    EXPECT_EQ(in.samples(), expected_samples(data, bits));
}

TEST(ReadBack, SndfileReadsAMonoToneExactly) {
    expect_read_back(22050, 1, 16, SF_FORMAT_PCM_16, tone16(22050, 1, 22050), 2205 * 2);
}

TEST(ReadBack, SndfileReadsOtherFormats) {
    expect_read_back(44100, 2, 16, SF_FORMAT_PCM_16, tone16(44100, 2, 4410), 1280);
    expect_read_back(8000, 1, 8, SF_FORMAT_PCM_U8, pattern(8000, 9), 333);
    expect_read_back(48000, 2, 24, SF_FORMAT_PCM_24, pattern(48000 * 6 / 10, 4), 1281);
    expect_read_back(96000, 1, 32, SF_FORMAT_PCM_32, pattern(4000 * 4, 5), 4096);
}

TEST(ReadBack, SndfileReadsAnEmptyRecording) {
    temp_dir dir;
    const std::string path = dir.file("empty.wav");
    ASSERT_TRUE(record(path, 22050, 1, 16, {}, 1));
    sndfile_reader in(path);
    ASSERT_NE(in.file, nullptr);
    EXPECT_EQ(in.info.frames, 0);
    EXPECT_EQ(in.info.samplerate, 22050);
}

TEST(ReadBack, SndfileReadsARecordingThatHitAFullDisk) {
    temp_dir dir;
    const std::string path = dir.file("full.wav");
    const std::vector<uint8_t> tone = tone16(22050, 1, 22050);
    const size_t block = 1280, fits = 7;
    const int code = in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = 44 + fits * block + block / 2;
        struct rlimit lim = {limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 10;
        return record(path, 22050, 1, 16, tone, block) ? 0 : 11;
    });
    ASSERT_EQ(code, 0);
    // Every block that fitted whole in the room left, in order: the first 7,
    // then only the short last block (580 bytes in the 640 left).
    std::vector<uint8_t> kept;
    size_t room = fits * block + block / 2;
    size_t blocks = 0;
    for (size_t at = 0; at < tone.size(); at += block) {
        const size_t n = std::min(block, tone.size() - at);
        if (n <= room) {
            kept.insert(kept.end(), tone.begin() + at, tone.begin() + at + n);
            room -= n;
            ++blocks;
        }
    }
    ASSERT_EQ(blocks, fits + 1);
    sndfile_reader in(path);
    ASSERT_NE(in.file, nullptr);
    EXPECT_EQ(in.info.frames, static_cast<sf_count_t>(kept.size() / 2));
    EXPECT_EQ(in.samples(), expected_samples(kept, 16));
    EXPECT_EQ(read_file(path).size(), 44 + kept.size());
}

#ifdef SONVALE_SOXI
std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

TEST(ReadBack, SoxSeesTheHeaderAndTheSamples) {
    temp_dir dir;
    const std::string path = dir.file("tone.wav");
    const std::vector<uint8_t> tone = tone16(22050, 1, 22050);
    ASSERT_TRUE(record(path, 22050, 1, 16, tone, 2000));
    const std::string soxi = std::string(SONVALE_SOXI) + " ";
    EXPECT_EQ(run(soxi + "-t '" + path + "' 2>&1"), "wav");
    EXPECT_EQ(run(soxi + "-r '" + path + "' 2>&1"), "22050");
    EXPECT_EQ(run(soxi + "-c '" + path + "' 2>&1"), "1");
    EXPECT_EQ(run(soxi + "-b '" + path + "' 2>&1"), "16");
    EXPECT_EQ(run(soxi + "-s '" + path + "' 2>&1"), "22050");
    EXPECT_EQ(run(soxi + "-e '" + path + "' 2>&1"), "Signed Integer PCM");
    // sox converts it to raw samples: exactly the bytes recorded.
    const std::string raw = dir.file("tone.raw");
    ASSERT_EQ(
        run(std::string(SONVALE_SOX) + " -V1 '" + path + "' -t raw '" + raw + "' 2>&1; echo $?"),
        "0");
    EXPECT_EQ(read_file(raw), tone);
}
#endif

} // namespace
