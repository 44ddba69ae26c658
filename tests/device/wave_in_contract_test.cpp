// The input side of the device contract (device/wave_device.h), proved once
// for every input backend: the silent device, ALSA (where the default
// capture device opens) and a fake one; then what the core makes of a
// capturing backend's answers, on the fake.
#include "support/device_probe.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace sonvale;
using namespace test_support;
using namespace std::chrono_literals;

namespace {

// 4-byte frames; 1764 bytes are 10 ms.
const WAVEFORMATEX cd = wave_format(WAVE_FORMAT_PCM, 2, 44100, 16);

class WaveIn : public testing::TestWithParam<device_kind> {
protected:
    void SetUp() override {
        if (probe.open_input(GetParam(), cd) == WAVE_OK)
            return;
        if (GetParam() != system_device || null_sink_expected())
            FAIL() << "the input device does not open";
        GTEST_SKIP() << "no default capture device here";
    }
    HWAVEOUT dev() const { return probe.device(); }
    // What the fake has captured when started, as a real device would by then.
    void start(uint32_t fake_bytes) {
        {
            std::lock_guard<std::mutex> hold(probe.fake_state->lock);
            probe.fake_state->ready = fake_bytes;
        }
        ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);
    }

    device_probe probe;
};

std::string param_name(const testing::TestParamInfo<device_kind>& info) {
    const char* names[] = {"silent", "alsa", "winmm", "automatic", "fake"};
    return names[int(info.param)];
}

} // namespace

TEST_P(WaveIn, FillsEveryBufferWithWholeFramesInOrderOnItsOwnThread) {
    std::vector<WAVEHDR*> queued;
    for (uint32_t length : {1764u, 1001u, 3u, 8820u, 1764u})
        queued.push_back(probe.play(length));
    start(1764 + 1000 + 8820 + 1764);
    ASSERT_TRUE(probe.wait_returned(queued.size()));
    EXPECT_EQ(probe.returned(), queued);
    const auto done = probe.entries(wave_in_data);
    for (const auto& e : done) {
        EXPECT_EQ(e.flags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_EQ(e.header->dwBytesRecorded, e.header->dwBufferLength / 4 * 4);
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_EQ(e.thread, done[0].thread);
    }
    // Once every buffer is full, what comes next has none, and is lost.
    for (const auto& e : probe.entries(wave_in_lost))
        EXPECT_GE(e.when, done.back().when);
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    ASSERT_TRUE(wait_until([&] { return probe.close() == WAVE_OK; }));
}

TEST_P(WaveIn, CapturesNothingUntilStartedAndResetGivesBackWhatEachHolds) {
    std::vector<WAVEHDR*> queued;
    for (int i = 0; i < 3; ++i)
        queued.push_back(probe.play(176400)); // 1 s each
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(probe.returned_count(), 0u);
    EXPECT_TRUE(probe.entries(wave_in_lost).empty());
    start(4000);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    ASSERT_EQ(wave_out_reset(dev()), WAVE_OK);
    ASSERT_EQ(probe.returned(), queued);
    EXPECT_EQ(queued[0]->dwBytesRecorded % 4, 0u);
    EXPECT_GT(queued[0]->dwBytesRecorded, 0u); // some of the 100 ms
    EXPECT_EQ(queued[2]->dwBytesRecorded, 0u);
    ASSERT_EQ(probe.close(), WAVE_OK);
}

INSTANTIATE_TEST_SUITE_P(Backends, WaveIn,
                         testing::Values(device_kind::virtual_device, system_device,
                                         device_kind::fake),
                         param_name);

// --- what the core makes of a capturing backend's answers ------------------------

TEST(DeviceCoreInput, KeepsTheBackendsBytesInOrderAndReportsEveryLoss) {
    device_probe probe;
    ASSERT_EQ(probe.open_input(device_kind::fake, cd), WAVE_OK);
    fake_device& fake = *probe.fake_state;
    auto set = [&](auto change) {
        std::lock_guard<std::mutex> hold(fake.lock);
        change();
    };
    // With no buffer queued the frames are lost, and said to be; then an
    // overrun, then bytes that fill buffers in order. Each part starts
    // stopped, so that a slow machine never looks like a silent device.
    set([&] { fake.ready = 40; });
    ASSERT_EQ(wave_out_restart(probe.device()), WAVE_OK);
    ASSERT_TRUE(wait_until([&] { return probe.entries(wave_in_lost).size() == 1; }));
    ASSERT_EQ(wave_out_pause(probe.device()), WAVE_OK);
    WAVEHDR* first = probe.play(12);
    WAVEHDR* second = probe.play(12);
    set([&] {
        fake.overrun = 7;
        fake.ready = 24;
    });
    ASSERT_EQ(wave_out_restart(probe.device()), WAVE_OK);
    ASSERT_TRUE(probe.wait_returned(2));
    for (int i = 0; i < 12; ++i) // the counting goes on where the lost frames ended
        ASSERT_EQ(uint8_t(first->lpData[i]), 40 + i);
    EXPECT_EQ(uint8_t(second->lpData[0]), 52);
    // A backend that fails gives back what is queued and loses the device.
    WAVEHDR* held = probe.play(40);
    set([&] { fake.failing = true; });
    ASSERT_TRUE(probe.wait_returned(3));
    EXPECT_EQ(held->dwBytesRecorded, 0u);
    EXPECT_TRUE(wave_out_lost(probe.device()));

    const auto losses = probe.entries(wave_in_lost);
    ASSERT_EQ(losses.size(), 3u);
    const std::pair<DWORD_PTR, DWORD_PTR> expected[] = {
        {10, wave_in_no_buffer}, {7, wave_in_overrun}, {0, wave_in_failed}};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(std::make_pair(losses[i].param1, losses[i].param2), expected[i]) << i;
}
