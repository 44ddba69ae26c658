// The virtual output device: the formats it takes, and its clock (what
// every device does is proved in wave_device_contract_test.cpp). The lower
// bounds of the timing checks are exact: the clock never runs early.
#include "device/wave_out.h"

#include "support/device_probe.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace sonvale;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using test_support::device_kind;
using test_support::system_backend;
using test_support::wave_format;

namespace {

WAVEFORMATEX pcm(uint32_t rate, uint16_t bits, uint16_t channels) {
    return wave_format(WAVE_FORMAT_PCM, channels, rate, bits);
}

// The fields are packed: copy each before streaming it.
std::string describe(const WAVEFORMATEX& f) {
    return "tag " + std::to_string(unsigned(f.wFormatTag)) + " ch " +
           std::to_string(unsigned(f.nChannels)) + " rate " +
           std::to_string(unsigned(f.nSamplesPerSec)) + " avg " +
           std::to_string(unsigned(f.nAvgBytesPerSec)) + " align " +
           std::to_string(unsigned(f.nBlockAlign)) + " bits " +
           std::to_string(unsigned(f.wBitsPerSample));
}

// 8000 bytes a second: a byte is 125 us, 800 bytes are 100 ms.
const WAVEFORMATEX slow = pcm(8000, 8, 1);

double ms_between(steady::time_point a, steady::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

class VirtualDevice : public ::testing::Test {
protected:
    test_support::device_probe probe;

    int open(const WAVEFORMATEX& f) { return probe.open(device_kind::virtual_device, f); }
    void open_ok(const WAVEFORMATEX& f) { ASSERT_EQ(open(f), WAVE_OK); }
    HWAVEOUT dev() const { return probe.device(); }
    // When each buffer came back, in ms after `t0`.
    std::vector<double> returned_at(steady::time_point t0) {
        std::vector<double> out;
        for (const auto& e : probe.entries(WOM_DONE))
            out.push_back(ms_between(t0, e.when));
        return out;
    }
};

} // namespace

// --- formats ---------------------------------------------------------------

TEST_F(VirtualDevice, AcceptsTheFormatsDesignLists) {
    std::vector<WAVEFORMATEX> ok;
    for (uint16_t bits : {8, 16, 24, 32})
        for (uint16_t ch : {1, 2, 6})
            for (uint32_t rate : {1u, 8000u, 44100u, 192000u})
                ok.push_back(pcm(rate, bits, ch));
    for (uint16_t bits : {32, 64})
        for (uint16_t ch : {1, 2})
            ok.push_back(wave_format(WAVE_FORMAT_IEEE_FLOAT, ch, 48000, bits));
    // IMA ADPCM, 4 bits a sample: any tag with the four fields set opens.
    WAVEFORMATEX adpcm{0x11, 1, 8000, 4055, 256, 4, 2};
    ok.push_back(adpcm);
    WAVEFORMATEX odd_tag{0x55, 2, 44100, 16000, 1, 0, 12}; // bits and sizes unchecked
    ok.push_back(odd_tag);
    WAVEFORMATEX cbsize_pcm = pcm(22050, 16, 2);
    cbsize_pcm.cbSize = 22; // ignored for PCM
    ok.push_back(cbsize_pcm);

    for (const auto& f : ok) {
        SCOPED_TRACE(describe(f));
        ASSERT_EQ(open(f), WAVE_OK);
        EXPECT_EQ(probe.close(), WAVE_OK);
    }
    EXPECT_EQ(probe.entries(WOM_OPEN).size(), ok.size());
}

TEST_F(VirtualDevice, RefusesEveryOtherFormat) {
    // tag, channels, rate, bytes a second, block align, bits, extra bytes
    const std::vector<WAVEFORMATEX> bad = {
        {1, 0, 44100, 0, 0, 16, 0},       // PCM with 0 channels
        {1, 2, 0, 0, 4, 16, 0},           // no samples a second
        {1, 2, 44100, 132300, 3, 12, 0},  // PCM at 12 bits
        {1, 2, 44100, 0, 0, 0, 0},        // PCM at 0 bits (block align 0 as well)
        {1, 1, 44100, 352800, 8, 64, 0},  // PCM at 64 bits
        {1, 2, 44100, 44100, 1, 4, 0},    // PCM at 4 bits
        {1, 2, 44100, 176400, 2, 16, 0},  // block align should be 4
        {1, 2, 44100, 176401, 4, 16, 0},  // byte rate should be 176400
        {1, 2, 44100, 0, 4, 16, 0},       // byte rate 0
        {1, 2, 44100, 176400, 0, 16, 0},  // block align 0
        {3, 2, 48000, 192000, 4, 16, 0},  // float at 16 bits
        {3, 2, 48000, 288000, 6, 24, 0},  // float at 24 bits
        {3, 2, 48000, 96000, 2, 8, 0},    // float at 8 bits
        {3, 2, 48000, 384008, 8, 32, 0},  // float byte rate off by 8
        {0x11, 0, 8000, 4055, 256, 4, 2}, // 0 channels
        {0x11, 1, 0, 4055, 256, 4, 2},    // 0 samples a second
        {0x11, 1, 8000, 4055, 0, 4, 2},   // block align 0
        {0x11, 1, 8000, 0, 256, 4, 2},    // byte rate 0
        {},                               // all zero
    };
    for (const auto& fmt : bad) {
        SCOPED_TRACE(describe(fmt));
        EXPECT_EQ(open(fmt), WAVE_ERR_BADFORMAT);
        EXPECT_EQ(probe.device(), nullptr);
    }
    EXPECT_TRUE(probe.entries(WOM_OPEN).empty());
}

// --- the clock -------------------------------------------------------------------

TEST_F(VirtualDevice, PlaysEachBufferForLengthOverByteRate) {
    open_ok(slow);
    const auto t0 = steady::now();
    for (int i = 0; i < 3; ++i)
        probe.play(800); // 100 ms each
    ASSERT_TRUE(probe.wait_returned(3));
    const auto at = returned_at(t0);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GE(at[i], 100.0 * double(i + 1)) << "buffer " << i;
        EXPECT_LT(at[i], 100.0 * double(i + 1) + 1000) << "buffer " << i;
    }
}

TEST_F(VirtualDevice, DoesNotDriftWhileKeptFed) {
    // 1 s of audio in 20 ms buffers, ten in flight, refilled as each returns.
    open_ok(slow);
    constexpr size_t total = 50, in_flight = 10;
    const auto t0 = steady::now();
    for (size_t i = 0; i < in_flight; ++i)
        probe.play(160);
    for (size_t next = in_flight; next < total; ++next) {
        ASSERT_TRUE(probe.wait_returned(next - in_flight + 1));
        probe.play(160);
    }
    ASSERT_TRUE(probe.wait_returned(total));
    const auto at = returned_at(t0);
    EXPECT_LT(at.back(), 1250.0);
    // Each buffer ended on its own slot of the schedule, not later and later.
    for (size_t i = 0; i < total; ++i)
        EXPECT_GE(at[i], 20.0 * double(i + 1)) << i;
}

TEST_F(VirtualDevice, PauseStopsTheClockMidBuffer) {
    open_ok(slow);
    const auto t0 = steady::now();
    probe.play(3200); // 400 ms each
    probe.play(3200);
    std::this_thread::sleep_for(100ms);
    const auto before_pause = steady::now();
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    const auto after_pause = steady::now();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(probe.returned_count(), 0u);
    const auto restarted = steady::now();
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);
    ASSERT_TRUE(probe.wait_returned(2));
    const auto at = returned_at(restarted);
    const double min_rest = 400.0 - ms_between(t0, after_pause); // at most this much played
    EXPECT_GE(at[0], min_rest);
    EXPECT_LT(at[0], 400.0 - ms_between(t0, before_pause) + 1000);
    EXPECT_GE(ms_between(t0, probe.entries(WOM_DONE)[0].when), 400.0 + 500);
    // The second buffer follows on the resumed clock.
    EXPECT_GE(at[1], min_rest + 400);
}

TEST_F(VirtualDevice, AResetOrARunningDryStartsAFreshClock) {
    open_ok(slow);
    probe.play(800);
    ASSERT_EQ(wave_out_reset(dev()), WAVE_OK);
    for (int i = 0; i < 2; ++i) {
        // Played in full from when it is queued, not from an earlier start.
        const auto t0 = steady::now();
        probe.play(800);
        ASSERT_TRUE(probe.wait_returned(size_t(i) + 2));
        EXPECT_GE(returned_at(t0).back(), 100.0);
        std::this_thread::sleep_for(150ms);
    }
}

TEST(WaveBackend, TestProgramsPlayIntoTheVirtualDeviceByDefault) {
    EXPECT_EQ(default_wave_backend(), wave_backend::virtual_device);
    HWAVEOUT dev = nullptr;
    ASSERT_EQ(wave_out_open(&dev, &slow, nullptr, 0), WAVE_OK);
    EXPECT_STREQ(wave_out_device_name(dev), "the silent virtual device");
    EXPECT_EQ(wave_out_close(dev), WAVE_OK);
    EXPECT_EQ(wave_out_device_name(nullptr), nullptr);
}

// Whatever this machine has: the automatic choice opens what the system's
// device (ALSA, winmm on Windows) opens, and falls back on the virtual device
// only where there is no device at all, never for a format a device refuses.
TEST(WaveBackend, AutomaticFallsBackOnlyWhereThereIsNoDevice) {
    const auto open = [](wave_backend backend, const WAVEFORMATEX& f, std::string& name) {
        HWAVEOUT dev = nullptr;
        const int result = wave_out_open_on(backend, &dev, &f, nullptr, 0);
        name = dev ? wave_out_device_name(dev) : "";
        EXPECT_EQ(dev ? wave_out_close(dev) : WAVE_OK, WAVE_OK);
        return result;
    };
    const WAVEFORMATEX adpcm{0x11, 1, 8000, 4055, 256, 4, 2};
    for (const WAVEFORMATEX& f :
         {pcm(44100, 16, 2), wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 64), adpcm,
          pcm(44100, 16, 0)}) {
        SCOPED_TRACE(describe(f));
        std::string system_name, virtual_name, name;
        const int system = open(system_backend, f, system_name);
        const bool none = system == WAVE_ERR_NODRIVER;
        const int silent = open(wave_backend::virtual_device, f, virtual_name);
        EXPECT_EQ(open(wave_backend::automatic, f, name), none ? silent : system);
        std::string expected = system_name;
        if (none && silent == WAVE_OK)
            expected = "the silent virtual device: no sound device was found";
        EXPECT_EQ(name, expected);
    }
}
