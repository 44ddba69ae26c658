#include "loader/recording_mixer.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace test_support;

namespace {

const wav_format cd; // 16-bit stereo at 44100 Hz

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

// Every refused file comes back -1 with its reason and queues nothing: a
// file queued after them is the only one recorded.
TEST(WavLoader, RefusesMismatchedAndMalformedFilesWithTheirReasons) {
    auto with = [](auto change) {
        wav_format f = cd;
        change(f);
        return wav_file(f, pattern(64));
    };
    bytes data = chunk("data", pattern(64));
    bytes oversized = riff("WAVE", concat({fmt_chunk(cd), raw_chunk("data", 1000, pattern(64))}));
    bytes fmt_at_end = riff("WAVE", raw_chunk("fmt ", 16, pattern(16)));
    bytes short_riff = wav_file(cd, pattern(64));
    short_riff[4] = 40; // ends 4 bytes into the samples
    wav_format short_fmt = cd;
    short_fmt.fmt_size = 14;
    const std::string mismatch = "but the mixer is 44100 Hz, 2 channels, 16-bit PCM";
    const std::string no_data = "has no \"data\" chunk after its \"fmt \" chunk";
    const std::string not_wav = "has no \"RIFF\" chunk of form \"WAVE\"";
    const struct {
        bytes file;
        std::string reason;
    } refused[] = {
        {with([](wav_format& f) { f.rate = 22050; }),
         "is 22050 Hz, 2 channels, 16-bit PCM " + mismatch},
        {with([](wav_format& f) { f.channels = 1; }), mismatch},
        {with([](wav_format& f) { f.bits = 8; }), mismatch},
        {with([](wav_format& f) { f.tag = 3; }), "16-bit float " + mismatch},
        {riff("WAVE", concat({extensible_fmt_chunk(cd, 1, 12), data})), "format tag 0xFFFE"},
        {riff("WAVE", concat({extensible_fmt_chunk(cd, 2, 16), data})), "format tag 0xFFFE"},
        {riff("WAVE", concat({extensible_fmt_chunk(cd, 1, 16, 2), data})),
         "too short for its declared extension"},
        {riff("WAVE", concat({data, fmt_chunk(cd)})), no_data},
        {riff("WAVE", concat({fmt_chunk(cd), chunk("LIST", pattern(8))})), no_data},
        {riff("WAVE", concat({fmt_chunk(short_fmt), data})), "of 14 bytes, too short"},
        {riff("AVI ", concat({fmt_chunk(cd), data})), not_wav},
        {oversized, "declares 1000 data bytes"},
        {first(wav_file(cd, pattern(64)), 44 + 63), "declares 64 data bytes"},
        {fmt_at_end, no_data},
        {concat({riff("WAVE", fmt_chunk(cd)), data}),
         "has its \"data\" chunk after the end of its \"RIFF\" chunk, which declares 28 bytes"},
        {short_riff, "has a \"data\" chunk that runs past the end of its \"RIFF\" chunk"},
        {riff("WAVE", raw_chunk("fmt ", 40, pattern(16))), "ends inside its \"fmt \" chunk"},
        {concat({riff("WAVE", raw_chunk("fmt ", 40, pattern(16))), pattern(30)}),
         "has a \"fmt \" chunk that runs past the end of its \"RIFF\" chunk"},
        {riff("WAVE", concat({unpadded_odd_fmt_chunk(cd), chunk("LIST", pattern(8))})),
         "\"fmt \" chunk of 17 bytes, with or without its pad byte"},
        {rf64(fmt_chunk(cd), pattern(64), 10),
         "is an RF64 file without a \"ds64\" chunk of its sizes"},
        {raw_chunk("RIFF", 0xFFFFFFFF, bytes{'W', 'A', 'V', 'E'}), "has no \"fmt \" chunk"},
        {bytes{}, not_wav},
    };
    recording_mixer m(cd);
    ASSERT_TRUE(m.opened);
    int fds = fd_count();
    for (size_t i = 0; i < std::size(refused); ++i) {
        EXPECT_EQ(m.add(refused[i].file), -1) << "file " << i;
        EXPECT_NE(std::string(MIX_GetLastError()).find(refused[i].reason), std::string::npos)
            << "file " << i << ": " << MIX_GetLastError();
    }
    const struct {
        std::string path;
        std::string reason;
    } unreadable[] = {
#ifdef _WIN32
        {m.dir.file("missing.wav"), "missing.wav': "}, // the system's words vary
#else
        {m.dir.file("missing.wav"), "missing.wav': No such file or directory"},
#endif
        {m.dir.path(), "is not a regular file"},
    };
    for (const auto& u : unreadable) {
        EXPECT_EQ(m.mixer.MIX_AddFile(u.path.c_str(), 7), -1);
        EXPECT_NE(std::string(MIX_GetLastError()).find(u.reason), std::string::npos)
            << MIX_GetLastError();
    }
    EXPECT_EQ(m.mixer.MIX_AddFile(nullptr, 7), -1);
    EXPECT_STREQ(MIX_GetLastError(), "no path was given");
    EXPECT_EQ(fd_count(), fds) << "every refusal closes its file";
    bytes sentinel = pattern(12, 5); // whole frames
    EXPECT_EQ(m.add(wav_file(cd, sentinel), 8), 8);
    EXPECT_EQ(m.recorded(sentinel.size()), sentinel);
}

// A file cut short after its "data" chunk, a placeholder "RIFF" size, an
// odd "data" or "fmt " chunk without its pad byte, extensible PCM, RF64: all
// taken whole.
TEST(WavLoader, TakesFilesAsRealToolsLeaveThem) {
    const wav_format mono8{1, 1, 8000, 8};
    const bytes samples = pattern(301, 4);
    const bytes data = chunk("data", samples);
    bytes past_end = wav_file(mono8, samples);
    past_end[4] += 100; // "RIFF" declares 100 bytes more than there are
    bytes no_pad = wav_file(mono8, samples);
    no_pad.pop_back(); // the pad byte goes; "RIFF" still counts it
    const bytes files[] = {past_end, no_pad,
                           riff("WAVE", concat({extensible_fmt_chunk(mono8, 1, 8), data})),
                           riff("WAVE", concat({unpadded_odd_fmt_chunk(mono8), data})),
                           rf64(fmt_chunk(mono8), samples)};
    for (const bytes& file : files) {
        recording_mixer m(mono8);
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(m.add(file), 7) << MIX_GetLastError();
        EXPECT_EQ(m.recorded(samples.size()), samples);
    }
}

// A sparse file whose "data" chunk declares nearly 4 GiB: only the block the
// worker records of it is read.
TEST(WavLoader, ReadsOnlyTheRecordedBlockOfAHugeFile) {
    temp_dir dir;
    const std::string path = dir.file("huge.wav");
    bytes head = riff("WAVE", concat({fmt_chunk(cd), raw_chunk("data", 0xFFFFFFD0u)}));
    head[4] = 0xF4; // "RIFF" holds the whole "data" chunk: 0xFFFFFFF4 bytes
    head[5] = head[6] = head[7] = 0xFF;
    write_file(path, head);
    std::filesystem::resize_file(path, 5000000000LL);
    const auto add_file = [&] {
        CSonvale mixer;
        WAVEFORMATEX w = waveformat(cd);
        if (mixer.MIX_Init(&w, nullptr) != 0)
            return 1;
        const auto start = std::chrono::steady_clock::now();
        if (mixer.MIX_AddFile(path.c_str(), 3) != 3)
            return 2;
        // Generous bounds: reading the declared size takes seconds and gigabytes.
        return std::chrono::steady_clock::now() - start > std::chrono::seconds(2) ? 3 : 0;
    };
#ifdef _WIN32
    EXPECT_EQ(add_file(), 0); // the memory a child process used is a POSIX figure
#else
    const int code = in_child([&] {
        struct rusage before {};
        getrusage(RUSAGE_SELF, &before);
        const int added = add_file();
        if (added != 0)
            return added;
        struct rusage after {};
        getrusage(RUSAGE_SELF, &after);
        return after.ru_maxrss - before.ru_maxrss < 10 * 1024 ? 0 : 4; // kilobytes
    });
    EXPECT_EQ(code, 0);
#endif
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
