// CWaveMixOut's pacing on the virtual device, whose timing is known: at
// 8000 Hz, 8-bit mono a 2048-byte buffer plays for 256 ms. Bounds are
// generous below and above; only the lower ones are exact (the clock cannot
// run early).
#include "ring_common.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <atomic>
#include <thread>

using namespace ring_test;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

namespace {

const WAVEFORMATEX slow = pcm(8000, 8, 1);

#ifdef _WIN32
double cpu_ms() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000.0; // 100 ns ticks
}
#else
double cpu_ms() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}
#endif

class RingTiming : public testing::Test {
protected:
    backend_scope backend{sonvale::wave_backend::virtual_device};
    CWaveMixOut ring;

    void SetUp() override {
        WAVEFORMATEX f = slow;
        ASSERT_EQ(ring.Open(&f), 0);
    }
};

} // namespace

TEST_F(RingTiming, ThreeBuffersFirstTwoAtOnceThirdAfterTheFirstHasPlayed) {
    unsigned int len = 0;
    ASSERT_NE(ring.GetNextBuff(len), nullptr);
    ASSERT_EQ(len, 2048u);
    auto t0 = steady::now();
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    double first = ms_since(t0);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    double second = ms_since(t0);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    double third = ms_since(t0);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    double fourth = ms_since(t0);
    EXPECT_LT(first, 120.0);
    EXPECT_LT(second, 120.0);
    EXPECT_GE(third, 255.0); // buffer 1 ends 256 ms after it was queued
    EXPECT_LT(third, 1500.0);
    EXPECT_GE(fourth, 511.0); // buffer 2 ends after 512 ms
    EXPECT_LT(fourth, 2000.0);
}

TEST_F(RingTiming, ShortBuffersArePacedByTheirLength) {
    unsigned int len = 0;
    ring.GetNextBuff(len);
    auto t0 = steady::now();
    unsigned int part = 800; // 100 ms
    for (int i = 0; i < 7; ++i)
        ASSERT_NE(ring.SingAndRetNextBuff(part), nullptr);
    // Seven submitted; the 7th call returned when the 5th ended: 500 ms.
    double elapsed = ms_since(t0);
    EXPECT_GE(elapsed, 499.0);
    EXPECT_LT(elapsed, 2000.0);
}

TEST_F(RingTiming, PausedDeviceHoldsTheThirdCallUntilRestart) {
    ASSERT_EQ(ring.Pause(), 0);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    auto t0 = steady::now();
    ring.SingAndRetNextBuff(len);
    ring.SingAndRetNextBuff(len);
    EXPECT_LT(ms_since(t0), 120.0);
    std::atomic<bool> restarted{false};
    steady::time_point restart_at;
    std::thread other([&] {
        std::this_thread::sleep_for(400ms); // past the 256 ms it would have played
        restart_at = steady::now();
        restarted = true;
        ring.Restart();
    });
    ring.SingAndRetNextBuff(len);
    auto returned = steady::now();
    ASSERT_TRUE(restarted.load());
    other.join();
    // Paused before anything played: the whole first buffer plays after.
    using ms = std::chrono::duration<double, std::milli>;
    EXPECT_GE(ms(returned - restart_at).count(), 255.0);
    EXPECT_GE(ms_since(t0), 400.0 + 255.0);
}

TEST_F(RingTiming, PausedMidBufferResumesWhereItStopped) {
    unsigned int len = 0;
    ring.GetNextBuff(len);
    auto t0 = steady::now();
    ring.SingAndRetNextBuff(len); // buffer 1 starts playing
    ring.SingAndRetNextBuff(len);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(ring.Pause(), 0);
    double paused_after = ms_since(t0);
    std::thread other([&] {
        std::this_thread::sleep_for(300ms);
        ring.Restart();
    });
    auto t_wait = steady::now();
    ring.SingAndRetNextBuff(len); // buffer 1: about 156 ms still to play
    double waited = ms_since(t_wait);
    other.join();
    EXPECT_GE(waited, 300.0 + (256.0 - paused_after) - 2);
    EXPECT_GE(ms_since(t0), 256.0 + 300.0 - 2);
    EXPECT_LT(waited, 300.0 + 256.0 + 1500.0);
}

TEST_F(RingTiming, StreamingUsesLittleCpu) {
    // 1 s of audio in 100 ms buffers: a busy-waiting device or ring would
    // burn a whole core for the second.
    unsigned int len = 0;
    ring.GetNextBuff(len);
    unsigned int part = 800;
    double cpu0 = cpu_ms();
    auto t0 = steady::now();
    for (int i = 0; i < 12; ++i)
        ASSERT_NE(ring.SingAndRetNextBuff(part), nullptr);
    double wall = ms_since(t0);
    double cpu = cpu_ms() - cpu0;
    EXPECT_GE(wall, 999.0);
    EXPECT_LT(cpu, 0.2 * wall) << "cpu " << cpu << " ms over " << wall << " ms";
}
