// The ALSA device when its sound server stops answering or dies: a private
// PulseAudio server (support/pulse_server.h) reached through ALSA's "pulse"
// PCM is stopped or killed under a playing ring.
#include "support/pulse_server.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sonvale.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

WAVEFORMATEX cd_format() {
    return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

class LostServer : public testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!server.start(why))
            GTEST_SKIP() << why;
        WAVEFORMATEX format = cd_format();
        CWaveMixOut probe;
        if (probe.OpenOn("pulse", &format) != 0)
            GTEST_SKIP() << "ALSA's pulse PCM does not play here: " << MIX_GetLastError();
    }

    // Feeds a ring until the server gets `signal`: the ring loses its
    // device within `seconds`, without a burst of buffers played.
    void feed_and_signal(int signal, double seconds);

    test_support::pulse_server server;
};

TEST_F(LostServer, CloseReturnsWithinTwoSecondsOfAStoppedServer) {
    // Buffers of a second each: two are queued at once, so the device is
    // mid-playback when the server stops.
    CSonvale mixer;
    WAVEFORMATEX format = cd_format();
    ASSERT_EQ(mixer.MIX_InitOn("pulse", &format, 3, 176400, nullptr), 0) << MIX_GetLastError();
    unsigned int len = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(mixer.m_waveOut.GetNextBuff(len), nullptr);
        ASSERT_NE(mixer.m_waveOut.SingAndRetNextBuff(len), nullptr);
    }
    std::this_thread::sleep_for(300ms);
    server.signal(SIGSTOP);
    std::this_thread::sleep_for(200ms);
    const auto start = clock_type::now();
    EXPECT_EQ(mixer.MIX_Close(), 0);
    EXPECT_LT(seconds_since(start), 2.0);
    server.signal(SIGCONT); // the device thread left behind finishes
}

TEST_F(LostServer, OpeningOnAStoppedServerIsBounded) {
    server.signal(SIGSTOP);
    const struct {
        const char* device;
        int result;
        const char* reason; // of the failure, or in the name of what opened
    } cases[] = {{"pulse", -2, "did not answer"}, {"auto", 0, "did not answer"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        CWaveMixOut ring;
        WAVEFORMATEX format = cd_format();
        const auto start = clock_type::now();
        ASSERT_EQ(ring.OpenOn(c.device, &format), c.result) << MIX_GetLastError();
        // 1.5 s of waiting; the rest is for a loaded or instrumented build.
        EXPECT_LT(seconds_since(start), 2.5);
        const std::string said = c.result == 0 ? ring.GetDeviceName() : MIX_GetLastError();
        EXPECT_NE(said.find(c.reason), std::string::npos) << said;
        ring.Close();
    }
    server.signal(SIGCONT);
}

void LostServer::feed_and_signal(int signal, double seconds) {
    CWaveMixOut ring;
    WAVEFORMATEX format = cd_format();
    ASSERT_EQ(ring.OpenOn("pulse", &format), 0) << MIX_GetLastError();
    std::atomic<int> returned{0};
    std::atomic<bool> kill_done{false};
    int after_kill = 0;
    std::string reason;
    clock_type::time_point killed_at{}, failed_at{};
    std::thread feeder([&] {
        unsigned int len = 0;
        unsigned char* buffer = ring.GetNextBuff(len);
        while (buffer) {
            buffer = ring.SingAndRetNextBuff(len);
            ++returned;
            after_kill += kill_done ? 1 : 0;
        }
        failed_at = clock_type::now();
        reason = MIX_GetLastError();
    });
    const bool playing = test_support::wait_until([&] { return returned > 40; });
    killed_at = clock_type::now();
    kill_done = true;
    server.signal(signal);
    feeder.join();
    ASSERT_TRUE(playing);
    // 2048-byte buffers play 86 a second: a burst would be thousands.
    EXPECT_LT(after_kill, 100);
    EXPECT_LT(std::chrono::duration<double>(failed_at - killed_at).count(), seconds);
    EXPECT_EQ(reason, "the output device was lost");
    unsigned int len = 0;
    EXPECT_EQ(ring.GetNextBuff(len), nullptr);
    EXPECT_EQ(ring.Close(), 0);
    server.signal(SIGCONT);
}

TEST_F(LostServer, AKilledOrStoppedServerLosesTheDeviceWithoutABurstOfPlayedBuffers) {
    // A killed server fails at once; a stopped one takes nothing, and the
    // ring waits 1.5 s for it (the rest is for a loaded or instrumented build).
    for (const int signal : {SIGSTOP, SIGKILL}) {
        SCOPED_TRACE(signal);
        feed_and_signal(signal, signal == SIGSTOP ? 2.5 : 1.0);
    }
}

} // namespace
