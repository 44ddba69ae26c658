// What a power cut can leave of a recording, every image checked
// (support/crash_states.h): durable recordings of 50 and more syncs, plain
// and past 4 GiB, keep the promise in all of them; one without the flag
// must break it in some.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "record/durable_recording.h"
#include "sonvale.h"
#include "support/crash_states.h"
#include "support/figures.h"
#include "support/test_support.h"

namespace {

using test_support::crash_states;

constexpr uint64_t four_gib = 1ull << 32;

// Blocks of 1 to 300 whole frames of the period's data, 1 to 5 of them
// between two flushes; past 4 GiB, pieces of about 64 MiB in between, a
// flush after every 8th.
uint64_t record_blocks(CWaveRecorder& recorder, crash_states& log,
                       const std::vector<uint8_t>& period, size_t frame, bool past_4gib) {
    const size_t p = period.size();
    std::vector<uint8_t> bytes((past_4gib ? (64u << 20) / p * p : 300 * frame) + p);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = period[i % p];
    std::mt19937 rng(7);
    uint64_t data = 0;
    const auto write = [&](size_t n) {
        recorder.Write(reinterpret_cast<const char*>(bytes.data() + data % p), static_cast<int>(n));
        data += n;
    };
    const auto flush = [&] {
        sonvale::durable_recording::flush(recorder);
        log.require(data);
    };
    const auto small_blocks = [&](int flushes) {
        for (int f = 0; f < flushes; ++f) {
            for (unsigned b = 0, n = 1 + rng() % 5; b < n; ++b)
                write(frame * (1 + rng() % 300));
            flush();
        }
    };
    small_blocks(30);
    for (unsigned piece = 1; past_4gib && data < four_gib + (64u << 20); ++piece) {
        write(bytes.size() - p);
        if (piece % 8 == 0)
            flush();
    }
    if (past_4gib)
        small_blocks(10);
    return data;
}

TEST(CrashStates, EveryImageADurableRecordingCanLeaveKeepsThePromise) {
    struct crash_case {
        const char* name;
        unsigned short channels, bits;
        unsigned flags;
        bool past_4gib;
    };
    const unsigned durable = SONVALE_RECORD_DURABLE, rf64 = SONVALE_RECORD_RF64_AUTO;
    const crash_case cases[] = {
        {"16-bit stereo", 2, 16, durable, false},
        {"24-bit 6 channels", 6, 24, durable, false},
        {"16-bit stereo past 4 GiB", 2, 16, durable | rf64, true},
        {"24-bit 6 channels past 4 GiB", 6, 24, durable | rf64, true},
        {"16-bit stereo, not durable", 2, 16, 0, false},
    };
    uint64_t images = 0;
    for (const crash_case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t frame = c.channels * c.bits / 8u;
        std::vector<uint8_t> period(frame * 4099);
        std::mt19937 rng(5);
        for (uint8_t& byte : period)
            byte = static_cast<uint8_t>(rng());
        test_support::temp_dir dir;
        crash_states log(period);
        CWaveRecorder recorder;
        ASSERT_TRUE(
            recorder.OpenEx(dir.file("take.wav").c_str(), 48000, c.channels, c.bits, c.flags));
        log.require(0);
        const uint64_t data = record_blocks(recorder, log, period, frame, c.past_4gib);
        recorder.Close();
        log.require(data);
        const crash_states::outcome out = log.check(40, 11);
        if (c.flags == 0) {
            EXPECT_EQ(out.reasons.count("declares data that did not reach the disk"), 1u);
            continue;
        }
        EXPECT_GE(out.syncs, 50u);
        EXPECT_EQ(out.failures, 0u) << out.first;
        images += out.images;
    }
    EXPECT_GE(images, 10000u);
    test_support::report_figure("crash_states.images", static_cast<long long>(images));
}

} // namespace
