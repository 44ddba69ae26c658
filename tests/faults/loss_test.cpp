// Bytes that do not reach the file are accounted for: writes failed through
// the library's seam (the same on Linux and Windows), and a mixer whose
// worker cannot record its width. MIX_Flush says 2 with the reason, and the
// recording's status adds up to every byte queued.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "faults/faults_common.h"
#include "support/failing_writes.h"
#include "support/riff_builder.h"
#include "support/wav_readback.h"

namespace {

using test_support::failing_writes;
using test_support::first;
using test_support::wav_file;
using test_support::wav_format;
using test_support::waveformat;

SONVALE_RECORD_STATUS status_of(HSONVALE mixer) {
    SONVALE_RECORD_STATUS status{};
    status.cbSize = sizeof status;
    EXPECT_EQ(Record_GetStatus(mixer, &status), 0);
    return status;
}

// Queues `total` bytes in pieces of 4000 while `writes` fail, flushes, and
// checks the account; the file must hold exactly the data bytes counted.
void record_through(const failing_writes&, const WAVEFORMATEX& format, size_t total,
                    const std::string& path) {
    WAVEFORMATEX f = format;
    HSONVALE mixer = MIX_Init(&f, nullptr);
    ASSERT_NE(mixer, nullptr) << MIX_GetLastError();
    ASSERT_TRUE(Record_Open(mixer, path.c_str(), f.nSamplesPerSec, f.nChannels, f.wBitsPerSample));
    const std::vector<uint8_t> data = test_support::pattern(total);
    for (size_t at = 0; at < total; at += 4000) {
        const int n = static_cast<int>(std::min<size_t>(4000, total - at));
        ASSERT_EQ(MIX_AddStream(mixer, data.data() + at, n, 7), 7);
    }
    EXPECT_EQ(MIX_Flush(mixer, -1), 2);
    EXPECT_NE(std::string(MIX_GetLastError()).find("cannot write to"), std::string::npos)
        << MIX_GetLastError();
    EXPECT_EQ(MIX_Flush(mixer, -1), 0) << "a loss is reported once";
    Record_Close(mixer);
    const SONVALE_RECORD_STATUS status = status_of(mixer);
    EXPECT_EQ(status.flags, 0u);
    EXPECT_GT(status.lostBytes, 0u);
    EXPECT_EQ(status.dataBytes + status.lostBytes, total);
    EXPECT_EQ(MIX_Close(mixer), 0);
    const test_support::wav_readback back = test_support::read_wav_back(path);
    EXPECT_EQ(back.problem, "");
    EXPECT_EQ(back.data.size(), status.dataBytes);
}

TEST(Loss, FailedWritesAreCountedAndReported) {
    test_support::temp_dir dir;
    const struct {
        const char* name;
        uint64_t nth_write, byte_limit;
    } plans[] = {
        {"past 10000 bytes", 0, 10000},
        {"nothing past the header", 0, 44},
        {"the first write after the header", 2, UINT64_MAX},
    };
    for (const auto& plan : plans) {
        SCOPED_TRACE(plan.name);
        const failing_writes writes(plan.nth_write, plan.byte_limit);
        record_through(writes, ring_test::pcm(8000, 16, 2), 64000, dir.file("lost.wav"));
    }
}

// Every way of queueing, with and without a full disk: the recording keeps
// every whole block that fits, the account covers every byte handed over
// (an item's data past its one block counts as lost, with a reason that
// names what records it all), and the header describes exactly the data.
TEST(Loss, TheAccountCoversEveryByteHandedOver) {
    test_support::temp_dir dir;
    const std::string wav = dir.file("in.wav");
    const std::vector<uint8_t> p = test_support::pattern(1000960);
    // 48 kHz stereo 16-bit: blocks of 1280 bytes.
    const wav_format format{1, 2, 48000, 16};
    auto file = [&](size_t bytes, int (*add)(HSONVALE, const char*, int)) {
        return [=, &wav, &p](HSONVALE m) {
            test_support::write_file(wav, wav_file(format, first(p, bytes)));
            EXPECT_EQ(add(m, wav.c_str(), 1), 1) << MIX_GetLastError();
        };
    };
    // `count` items of `len` bytes through MIX_AddData, or MIX_AppendData.
    auto items = [&p](int count, int len, bool append = false) {
        return [&p, count, len, append](HSONVALE m) {
            for (const unsigned char* d = p.data(); d < p.data() + count * len; d += len)
                EXPECT_EQ(append ? MIX_AppendData(m, d, len, 1) : MIX_AddData(m, d, len, 1, 1), 1);
        };
    };
    auto stream = [&p](int len) {
        return [&p, len](HSONVALE m) { EXPECT_EQ(MIX_AddStream(m, p.data(), len, 1), 1); };
    };
    constexpr uint64_t all = UINT64_MAX, disk = 800000; // file bytes the disk takes
    const char* no_space = "cannot write to '";
    const struct {
        const char* name;
        std::function<void(HSONVALE)> queue;
        uint64_t room, data, lost;
        const char* reason; // in the reason of MIX_Flush's 2; null: it returns 0
    } rows[] = {
        {"MIX_AddData of 192000 bytes", items(1, 192000), all, 1280, 190720,
         "MIX_AddData recorded the first 1280 bytes of a 192000-byte item: an item records one "
         "block; MIX_AddStream records all of it"},
        {"MIX_AddData looping within its block",
         [&](HSONVALE m) {
             MIX_AddData(m, p.data(), 1000, 1, 3);
             MIX_AddData(m, p.data(), 4, 2, 0);
         },
         all, 2560, 0, nullptr},
        {"MIX_AppendData of 4000 bytes", items(1, 4000, true), all, 1280, 2720,
         "MIX_AppendData recorded the first 1280 bytes of a 4000-byte item"},
        {"MIX_AddFile of 192000 bytes", file(192000, MIX_AddFile), all, 1280, 190720,
         "MIX_AddFile recorded the first 1280 bytes of the 192000 bytes of samples in '"},
        {"MIX_AddStream of 192000 bytes", stream(192000), all, 192000, 0, nullptr},
        {"MIX_AddFileStream of 192000 bytes", file(192000, MIX_AddFileStream), all, 192000, 0,
         nullptr},
        {"MIX_AddData, a full disk", items(782, 1280), disk, 798720, 202240, no_space},
        {"MIX_AddStream, a full disk", stream(1000000), disk, 798720, 201280, no_space},
        {"MIX_AddFileStream, a full disk", file(1000000, MIX_AddFileStream), disk, 798720, 201280,
         no_space},
        {"MIX_AddFile, no room for its block", file(192000, MIX_AddFile), 44 + 1000, 0, 192000,
         "MIX_AddFile recorded the first 1280 bytes"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.file("account.wav");
        WAVEFORMATEX f = waveformat(format);
        HSONVALE mixer = MIX_Init(&f, nullptr);
        ASSERT_NE(mixer, nullptr) << MIX_GetLastError();
        ASSERT_TRUE(Record_Open(mixer, path.c_str(), 48000, 2, 16));
        {
            const failing_writes writes = failing_writes::past_bytes(row.room);
            row.queue(mixer);
            EXPECT_EQ(MIX_Flush(mixer, -1), row.reason ? 2 : 0);
        }
        EXPECT_TRUE(!row.reason || std::strstr(MIX_GetLastError(), row.reason))
            << MIX_GetLastError();
        Record_Close(mixer);
        const SONVALE_RECORD_STATUS status = status_of(mixer);
        EXPECT_EQ(status.dataBytes, row.data);
        EXPECT_EQ(status.lostBytes, row.lost);
        EXPECT_EQ(MIX_Close(mixer), 0);
        const test_support::wav_readback back = test_support::read_wav_back(path);
        EXPECT_EQ(back.problem, "");
        EXPECT_EQ(back.data.size(), row.data);
        EXPECT_TRUE(row.lost == 0 || back.data == first(p, row.data)) << "not the data's start";
    }
}

// A failed header update loses no data, but the status says the sizes in
// the file lag until the next update goes in.
TEST(Loss, AFailedHeaderUpdateIsFlaggedUntilOneSucceeds) {
    test_support::temp_dir dir;
    WAVEFORMATEX f = ring_test::pcm(8000, 16, 1);
    HSONVALE mixer = MIX_Init(&f, nullptr);
    ASSERT_NE(mixer, nullptr);
    const std::vector<uint8_t> block = test_support::pattern(1000);
    // Writes: the header at open, the block, then the header update.
    const failing_writes writes = failing_writes::nth_write(3);
    ASSERT_TRUE(
        Record_OpenEx(mixer, dir.file("stale.wav").c_str(), 8000, 1, 16, SONVALE_RECORD_RF64_AUTO));
    for (const uint32_t flags :
         {SONVALE_STATUS_OPEN | SONVALE_STATUS_HEADER_STALE, SONVALE_STATUS_OPEN}) {
        ASSERT_EQ(MIX_AddStream(mixer, block.data(), 1000, 1), 1);
        EXPECT_EQ(MIX_Flush(mixer, -1), 0);
        EXPECT_EQ(status_of(mixer).flags, flags);
    }
    EXPECT_EQ(status_of(mixer).dataBytes, 2000u);
    EXPECT_EQ(MIX_Close(mixer), 0);
}

TEST(Loss, AMixerThatCannotRecordItsWidthLosesEveryByteQueued) {
    test_support::temp_dir dir;
    const std::string path = dir.file("f64.wav");
    WAVEFORMATEX f = ring_test::pcm(8000, 64, 1);
    f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    HSONVALE mixer = MIX_Init(&f, nullptr);
    ASSERT_NE(mixer, nullptr) << MIX_GetLastError();
    ASSERT_TRUE(Record_Open(mixer, path.c_str(), 8000, 1, 64));
    const std::vector<uint8_t> data = test_support::pattern(20000);
    ASSERT_EQ(MIX_AddStream(mixer, data.data(), 20000, 1), 1);
    EXPECT_EQ(MIX_Flush(mixer, -1), 2);
    EXPECT_STREQ(MIX_GetLastError(), "the mixer cannot record 64-bit samples");
    const SONVALE_RECORD_STATUS status = status_of(mixer);
    EXPECT_EQ(status.dataBytes, 0u);
    EXPECT_EQ(status.lostBytes, 20000u);
    EXPECT_EQ(MIX_Close(mixer), 0);
    EXPECT_EQ(faults::size_of(path), 44u);
}

// A durable recording whose sync fails: the bytes it covered are cut off and
// counted, never declared by a later sync that succeeds; a folder that
// cannot be synced refuses the recording.
TEST(Loss, AFailedSyncIsLostNeverRetriedIntoASuccess) {
    test_support::temp_dir dir;
    const std::string path = dir.file("durable.wav");
    WAVEFORMATEX f = faults::mono16();
    HSONVALE mixer = MIX_Init(&f, nullptr);
    ASSERT_NE(mixer, nullptr) << MIX_GetLastError();
    {
        test_support::failing_syncs fail(true);
        EXPECT_FALSE(Record_OpenEx(mixer, path.c_str(), 22050, 1, 16, SONVALE_RECORD_DURABLE));
        EXPECT_NE(std::string(MIX_GetLastError()).find("cannot sync"), std::string::npos);
    }
    ASSERT_TRUE(Record_OpenEx(mixer, path.c_str(), 22050, 1, 16, SONVALE_RECORD_DURABLE));
    const std::vector<uint8_t> data = test_support::pattern(30000);
    const auto queue = [&](size_t at, int n) {
        ASSERT_EQ(MIX_AddStream(mixer, data.data() + at, n, 1), 1);
    };
    queue(0, 10000);
    EXPECT_EQ(MIX_Flush(mixer, -1), 0);
    {
        test_support::failing_syncs fail(false);
        queue(10000, 8000);
        EXPECT_EQ(MIX_Flush(mixer, -1), 2);
        EXPECT_NE(std::string(MIX_GetLastError()).find("cannot sync"), std::string::npos)
            << MIX_GetLastError();
    }
    queue(10000, 6000);
    EXPECT_EQ(MIX_Flush(mixer, -1), 0);
    Record_Close(mixer);
    const SONVALE_RECORD_STATUS status = status_of(mixer);
    EXPECT_EQ(status.flags, static_cast<uint32_t>(SONVALE_STATUS_SYNC_FAILED));
    EXPECT_EQ(status.lostBytes, 8000u);
    EXPECT_EQ(status.dataBytes, 16000u);
    EXPECT_EQ(MIX_Close(mixer), 0);
    const test_support::wav_readback back = test_support::read_wav_back(path);
    EXPECT_EQ(back.problem, "");
    EXPECT_EQ(back.data, std::vector<uint8_t>(data.begin(), data.begin() + 16000));
}

#ifdef SONVALE_FAILING_CLI
// `sonvale record` whose writes fail past 20,000 bytes of the file.
TEST(Loss, SonvaleRecordNamesTheLossAndFails) {
    test_support::temp_dir dir;
    const std::string out = dir.file("out.wav");
    const std::string log = dir.file("log.txt");
#ifdef _WIN32
    _putenv_s("SONVALE_TEST_FAIL_WRITES_PAST", "20000");
#else
    setenv("SONVALE_TEST_FAIL_WRITES_PAST", "20000", 1);
#endif
    const int rc = std::system((std::string(SONVALE_FAILING_CLI) + " record " + out +
                                " --tone 440 --seconds 3 --rate 8000 > " + log + " 2>&1")
                                   .c_str());
#ifdef _WIN32
    _putenv_s("SONVALE_TEST_FAIL_WRITES_PAST", "");
    EXPECT_EQ(rc, 1);
#else
    unsetenv("SONVALE_TEST_FAIL_WRITES_PAST");
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << rc;
#endif
    const std::vector<uint8_t> said = test_support::read_file(log);
    const std::string text(said.begin(), said.end());
    EXPECT_NE(text.find("lost "), std::string::npos) << text;
    EXPECT_NE(text.find("cannot write to"), std::string::npos) << text;
    EXPECT_LE(faults::size_of(out), 20000u) << text;
}
#endif

} // namespace
