#include "loader/recording_mixer.h"

#include <gtest/gtest.h>

using namespace test_support;

namespace {

const wav_format cd; // 16-bit stereo at 44100 Hz

bytes first(const bytes& b, size_t n) {
    return bytes(b.begin(), b.begin() + std::min(n, b.size()));
}

TEST(WavLoader, QueuesAMatchingFileWhoseFirstBlockIsRecorded) {
    for (size_t len : {100u, 4000u}) {
        recording_mixer m(cd);
        ASSERT_TRUE(m.opened);
        bytes samples = pattern(len, 3);
        EXPECT_EQ(m.add(wav_file(cd, samples), 7), 7);
        EXPECT_EQ(m.recorded(std::min<size_t>(len, 1280)), first(samples, 1280));
    }
}

TEST(WavLoader, AcceptsUsualChunkLayouts) {
    wav_format other_align = cd;
    other_align.block_align = 3;
    wav_format fmt18 = cd;
    fmt18.fmt_size = 18;
    wav_format fmt40 = cd;
    fmt40.fmt_size = 40;
    bytes samples = pattern(300, 9);
    bytes data = chunk("data", samples);
    const bytes files[] = {
        riff("WAVE", concat({fmt_chunk(other_align), data})),
        riff("WAVE", concat({fmt_chunk(fmt18), data})),
        riff("WAVE", concat({chunk("junk", pattern(3)), fmt_chunk(fmt40), chunk("fact", pattern(4)),
                             chunk("LIST", pattern(27)), data})),
        concat({chunk("JUNK", pattern(5)), riff("AVI ", data),
                riff("WAVE", concat({fmt_chunk(cd), data}))}),
    };
    for (const bytes& file : files) {
        recording_mixer m(cd);
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(m.add(file), 7);
        EXPECT_EQ(m.recorded(samples.size()), samples);
    }
}

// Every refused file comes back -1 and queues nothing: a file queued after
// them is the only one recorded.
TEST(WavLoader, RefusesMismatchedAndMalformedFilesQueuingNothing) {
    auto with = [](auto change) {
        wav_format f = cd;
        change(f);
        return wav_file(f, pattern(64));
    };
    bytes data = chunk("data", pattern(64));
    bytes oversized = riff("WAVE", concat({fmt_chunk(cd), raw_chunk("data", 65, pattern(64))}));
    bytes cut = wav_file(cd, pattern(64));
    cut.resize(cut.size() - 1);
    bytes fmt_at_end = riff("WAVE", raw_chunk("fmt ", 16, pattern(16)));
    wav_format short_fmt = cd;
    short_fmt.fmt_size = 14;
    const bytes refused[] = {
        with([](wav_format& f) { f.rate = 22050; }),
        with([](wav_format& f) { f.channels = 1; }),
        with([](wav_format& f) { f.bits = 8; }),
        with([](wav_format& f) { f.tag = 3; }),
        riff("WAVE", concat({data, fmt_chunk(cd)})),
        riff("WAVE", concat({fmt_chunk(cd), chunk("LIST", pattern(8))})),
        riff("WAVE", concat({fmt_chunk(short_fmt), data})),
        riff("AVI ", concat({fmt_chunk(cd), data})),
        oversized,
        cut,
        fmt_at_end,
        raw_chunk("RIFF", 0xFFFFFFFF, bytes{'W', 'A', 'V', 'E'}),
        bytes{},
    };
    recording_mixer m(cd);
    ASSERT_TRUE(m.opened);
    int fds = fd_count();
    for (size_t i = 0; i < std::size(refused); ++i)
        EXPECT_EQ(m.add(refused[i]), -1) << "file " << i;
    EXPECT_EQ(m.mixer.MIX_AddFile(m.dir.file("missing.wav").c_str(), 7), -1);
    EXPECT_EQ(m.mixer.MIX_AddFile(nullptr, 7), -1);
    EXPECT_EQ(m.mixer.MIX_AddFile(m.dir.path().c_str(), 7), -1);
    EXPECT_EQ(fd_count(), fds) << "every refusal closes its file";
    bytes sentinel = pattern(12, 5); // whole frames
    EXPECT_EQ(m.add(wav_file(cd, sentinel), 8), 8);
    EXPECT_EQ(m.recorded(sentinel.size()), sentinel);
}

TEST(WavLoader, AnEmptyDataChunkQueuesAnEmptyItem) {
    recording_mixer m(cd);
    ASSERT_TRUE(m.opened);
    EXPECT_EQ(m.add(wav_file(cd, {}), 3), 3);
    bytes sentinel = pattern(12, 5); // whole frames
    EXPECT_EQ(m.add(wav_file(cd, sentinel), 4), 4);
    bytes got = m.recorded(sentinel.size());
    ASSERT_GE(got.size(), sentinel.size());
    EXPECT_EQ(bytes(got.end() - sentinel.size(), got.end()), sentinel);
}

TEST(WavLoader, MixerWithoutWorker) {
    temp_dir dir;
    std::string path = dir.file("in.wav");
    {
        // Never opened: the format is all zero, so only an all-zero file fits.
        CSonvale never;
        write_file(path, wav_file(cd, pattern(16)));
        EXPECT_EQ(never.MIX_AddFile(path.c_str(), 5), -1);
        write_file(path, wav_file(wav_format{0, 0, 0, 0, 0, 16}, pattern(16)));
        EXPECT_EQ(never.MIX_AddFile(path.c_str(), 5), 5);
    }
    // Opened and closed: the last format still counts; the item is read in
    // full and dropped, as no worker takes it.
    CSonvale closed;
    WAVEFORMATEX w = waveformat(cd);
    ASSERT_EQ(closed.MIX_Init(&w, nullptr), 0);
    ASSERT_EQ(closed.MIX_Close(), 0);
    write_file(path, wav_file(cd, pattern(5000)));
    EXPECT_EQ(closed.MIX_AddFile(path.c_str(), 6), 6);
}

} // namespace
