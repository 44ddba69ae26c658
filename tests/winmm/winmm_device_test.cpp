// The winmm device on a system that plays in real time (the Windows step's
// null sink, reached through Wine): the automatic choice opens the wave
// mapper, and playing is paced by the device.
#include "support/device_probe.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace sonvale;
using namespace test_support;

namespace {

const WAVEFORMATEX k_cd = wave_format(WAVE_FORMAT_PCM, 2, 44100, 16);

class WinmmDevice : public testing::Test {
protected:
    void SetUp() override { skip_unless_device_plays(wave_backend::winmm); }
};

TEST_F(WinmmDevice, TheAutomaticChoicePlaysInRealTime) {
    // 5.5 s of audio in 50 ms buffers. The first 0.5 s fills what winmm
    // holds and more; from then on each buffer is taken as the device plays
    // the one before, so the remaining 5 s of buffers must take 5 s (+-2 %).
    device_probe out;
    ASSERT_EQ(out.open(device_kind::automatic, k_cd), WAVE_OK);
    ASSERT_STREQ(wave_out_device_name(out.device()), "the Windows wave mapper");
    const uint32_t bytes = 2205 * k_cd.nBlockAlign;
    for (int i = 0; i < 110; ++i)
        out.play(bytes);
    ASSERT_TRUE(out.wait_returned(110, 15));
    const auto done = out.entries(WOM_DONE);
    const double seconds = std::chrono::duration<double>(done[109].when - done[9].when).count();
    RecordProperty("paced_seconds", std::to_string(seconds));
    std::printf("5 s of audio came back in %.3f s\n", seconds);
    EXPECT_NEAR(seconds, 5.0, 0.1);
}

TEST_F(WinmmDevice, ABufferOfSplitFramesPlaysOnAndTheDeviceClosesPaused) {
    // Buffers that end inside a frame, a run dry, a pause with buffers
    // queued and a close while paused: every buffer comes back, in order.
    device_probe out;
    ASSERT_EQ(out.open(device_kind::winmm, k_cd), WAVE_OK);
    for (uint32_t length : {1001u, 3u, 4097u, 17641u})
        out.play(length);
    ASSERT_TRUE(out.wait_returned(4, 10));
    ASSERT_EQ(wave_out_pause(out.device()), WAVE_OK);
    for (int i = 0; i < 3; ++i)
        out.play(17640);
    ASSERT_EQ(wave_out_reset(out.device()), WAVE_OK);
    EXPECT_EQ(out.returned_count(), 7u);
    EXPECT_EQ(out.close(), WAVE_OK);
}

} // namespace
