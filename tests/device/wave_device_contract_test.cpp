// The contract of an output device (device/wave_device.h), proved once for
// every backend: the virtual clock, ALSA (where a device plays) and a fake
// one; then what the device core asks of a backend, on the fake.
#include "support/device_probe.h"
#include "support/settled_threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include "device/device_names.h"

#include <cstdlib>
#include <map>
#include <random>

using namespace sonvale;
using namespace test_support;
using namespace std::chrono_literals;

namespace {

// 176400 bytes a second: 1764 bytes are 10 ms.
const WAVEFORMATEX cd = wave_format(WAVE_FORMAT_PCM, 2, 44100, 16);

class WaveDevice : public testing::TestWithParam<device_kind> {
protected:
    void SetUp() override {
        if (GetParam() == system_device)
            skip_unless_device_plays(system_backend);
    }

    void open_ok(bool with_callback = true) {
        ASSERT_EQ(probe.open(GetParam(), cd, with_callback), WAVE_OK);
        ASSERT_NE(probe.device(), nullptr);
    }
    HWAVEOUT dev() const { return probe.device(); }
    // A device is busy until the last callback has returned.
    void close_ok() {
        ASSERT_TRUE(wait_until([&] { return probe.close() == WAVE_OK; }));
    }

    device_probe probe;
};

std::string param_name(const testing::TestParamInfo<device_kind>& info) {
    const char* names[] = {"virtual", "alsa", "winmm", "automatic", "fake"};
    return names[int(info.param)];
}

} // namespace

TEST(WaveOut, NullHandlesAndArguments) {
    HWAVEOUT h = nullptr;
    EXPECT_EQ(wave_out_open_on(wave_backend::virtual_device, nullptr, &cd, nullptr, 0),
              WAVE_ERR_INVALPARAM);
    EXPECT_EQ(wave_out_open_on(wave_backend::virtual_device, &h, nullptr, nullptr, 0),
              WAVE_ERR_INVALPARAM);
    EXPECT_EQ(h, nullptr);
    WAVEHDR hdr{};
    char byte = 0;
    hdr.lpData = &byte;
    EXPECT_EQ(wave_out_prepare_header(nullptr, &hdr), WAVE_ERR_INVALHANDLE);
    EXPECT_EQ(wave_out_unprepare_header(nullptr, &hdr), WAVE_ERR_INVALHANDLE);
    EXPECT_EQ(wave_out_write(nullptr, &hdr), WAVE_ERR_INVALHANDLE);
    EXPECT_EQ(wave_out_pause(nullptr), WAVE_ERR_INVALHANDLE);
    EXPECT_EQ(wave_out_restart(nullptr), WAVE_ERR_INVALHANDLE);
    EXPECT_EQ(wave_out_reset(nullptr), WAVE_ERR_INVALHANDLE);
    EXPECT_EQ(wave_out_close(nullptr), WAVE_ERR_INVALHANDLE);
}

TEST_P(WaveDevice, SendsWomOpenAndWomCloseAndRefusesNullArguments) {
    open_ok();
    const auto opens = probe.entries(WOM_OPEN);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].device, dev());
    EXPECT_EQ(opens[0].header, nullptr);
    EXPECT_EQ(wave_out_prepare_header(dev(), nullptr), WAVE_ERR_INVALPARAM);
    WAVEHDR no_data{};
    EXPECT_EQ(wave_out_prepare_header(dev(), &no_data), WAVE_ERR_INVALPARAM);
    EXPECT_EQ(wave_out_unprepare_header(dev(), nullptr), WAVE_ERR_INVALPARAM);
    EXPECT_EQ(wave_out_write(dev(), nullptr), WAVE_ERR_INVALPARAM);
    const HWAVEOUT closed = dev();
    ASSERT_EQ(probe.close(), WAVE_OK);
    const auto closes = probe.entries(WOM_CLOSE);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].device, closed);
    EXPECT_TRUE(probe.returned().empty());
}

TEST_P(WaveDevice, KeepsTheHeaderFlags) {
    open_ok();
    WAVEHDR* h = probe.buffer(4410);
    h->dwFlags = WHDR_DONE; // left over from an earlier use
    EXPECT_EQ(wave_out_write(dev(), h), WAVE_ERR_UNPREPARED);
    EXPECT_EQ(h->dwFlags, WHDR_DONE);
    for (int i = 0; i < 2; ++i) { // a prepared header stays as it is
        ASSERT_EQ(wave_out_prepare_header(dev(), h), WAVE_OK);
        EXPECT_EQ(h->dwFlags, WHDR_DONE | WHDR_PREPARED);
    }

    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK); // keeps it queued while we look
    ASSERT_EQ(wave_out_write(dev(), h), WAVE_OK);
    EXPECT_EQ(h->dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(wave_out_write(dev(), h), WAVE_ERR_STILLPLAYING);
    EXPECT_EQ(wave_out_unprepare_header(dev(), h), WAVE_ERR_STILLPLAYING);
    EXPECT_EQ(wave_out_close(dev()), WAVE_ERR_STILLPLAYING);
    EXPECT_TRUE(probe.entries(WOM_CLOSE).empty());
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);

    ASSERT_TRUE(probe.wait_returned(1));
    const auto done = probe.entries(WOM_DONE);
    EXPECT_EQ(done[0].header, h);
    EXPECT_EQ(done[0].flags, WHDR_PREPARED | WHDR_DONE); // set before the callback
    EXPECT_EQ(done[0].device, dev());
    EXPECT_EQ(wave_out_unprepare_header(dev(), h), WAVE_OK);
    EXPECT_EQ(h->dwFlags, WHDR_DONE);
    EXPECT_EQ(wave_out_unprepare_header(dev(), h), WAVE_OK); // not prepared: no change
    EXPECT_EQ(wave_out_write(dev(), h), WAVE_ERR_UNPREPARED);
    probe.queue(h); // the same header again: it comes back a second time
    ASSERT_TRUE(probe.wait_returned(2));
    EXPECT_EQ(probe.returned(), (std::vector<WAVEHDR*>{h, h}));
    close_ok();
    EXPECT_EQ(h->dwFlags, WHDR_PREPARED | WHDR_DONE);
}

TEST_P(WaveDevice, GivesEveryBufferBackOnceInOrderOnItsOwnThread) {
    open_ok();
    // Lengths that split frames between buffers, and empty ones.
    std::vector<WAVEHDR*> queued;
    for (int round = 0; round < 3; ++round)
        for (uint32_t length : {4410u, 1u, 0u, 3u, 1001u, 17640u, 2u, 6u, 4096u, 999u})
            queued.push_back(probe.play(length));
    ASSERT_TRUE(probe.wait_returned(queued.size()));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(probe.returned(), queued);
    const auto done = probe.entries(WOM_DONE);
    for (const auto& e : done) {
        EXPECT_EQ(e.flags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_EQ(e.thread, done[0].thread);
    }
    close_ok();
    EXPECT_EQ(probe.entries(WOM_CLOSE).size(), 1u);
}

TEST_P(WaveDevice, WorksWithoutACallback) {
    open_ok(false);
    WAVEHDR* h = probe.play(8);
    ASSERT_TRUE(wait_until([&] { return wave_out_unprepare_header(dev(), h) == WAVE_OK; }));
}

TEST_P(WaveDevice, PauseHoldsPlaybackUntilRestart) {
    open_ok();
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK); // not paused: nothing changes
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    std::vector<WAVEHDR*> queued;
    for (int i = 0; i < 10; ++i)
        queued.push_back(probe.play(8820)); // 50 ms each
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(probe.returned_count(), 0u);
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);

    ASSERT_TRUE(probe.wait_returned(3));
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    const size_t at_pause = probe.returned_count();
    std::this_thread::sleep_for(300ms);
    // One callback may have been on its way as the pause came.
    EXPECT_LE(probe.returned_count(), at_pause + 1);
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);
    ASSERT_TRUE(probe.wait_returned(queued.size()));
    EXPECT_EQ(probe.returned(), queued);
}

TEST_P(WaveDevice, ResetGivesBackEveryBufferInOrderBeforeItReturns) {
    open_ok();
    ASSERT_EQ(wave_out_reset(dev()), WAVE_OK); // nothing queued
    std::vector<WAVEHDR*> queued;
    for (int i = 0; i < 10; ++i)
        queued.push_back(probe.play(17640)); // 100 ms each
    ASSERT_EQ(wave_out_reset(dev()), WAVE_OK);
    probe.reset_returned = true;
    EXPECT_EQ(probe.returned(), queued);
    for (const auto& e : probe.entries(WOM_DONE)) {
        EXPECT_EQ(e.flags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_FALSE(e.after_reset);
        EXPECT_NE(e.thread, std::this_thread::get_id());
    }

    // Paused, with buffers the device has not touched.
    ASSERT_EQ(wave_out_pause(dev()), WAVE_OK);
    for (int i = 0; i < 3; ++i)
        queued.push_back(probe.play(882));
    ASSERT_EQ(wave_out_reset(dev()), WAVE_OK);
    EXPECT_EQ(probe.returned(), queued);

    // The device plays again after a reset.
    ASSERT_EQ(wave_out_restart(dev()), WAVE_OK);
    for (int i = 0; i < 2; ++i)
        queued.push_back(probe.play(4410));
    ASSERT_TRUE(probe.wait_returned(queued.size()));
    EXPECT_EQ(probe.returned(), queued);
    close_ok();
}

TEST_P(WaveDevice, NoCallbackAfterResetReturns) {
    open_ok();
    for (int round = 0; round < 20; ++round) {
        probe.reset_returned = false;
        std::vector<WAVEHDR*> queued;
        for (int i = 0; i < 12; ++i)
            queued.push_back(probe.play(882)); // 5 ms each
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4 * 7));
        ASSERT_EQ(wave_out_reset(dev()), WAVE_OK);
        probe.reset_returned = true;
        const size_t n = probe.returned_count();
        ASSERT_EQ(n, 12u * size_t(round + 1));
        std::this_thread::sleep_for(10ms);
        ASSERT_EQ(probe.returned_count(), n);
        const auto order = probe.returned();
        EXPECT_EQ(std::vector<WAVEHDR*>(order.end() - 12, order.end()), queued);
    }
    for (const auto& e : probe.entries(WOM_DONE))
        EXPECT_FALSE(e.after_reset);
}

// Pause, restart and reset from one thread while another keeps the device
// fed: every buffer comes back once for each time it was queued, and the run
// is clean under ThreadSanitizer.
TEST_P(WaveDevice, ConcurrentFeedPauseRestartReset) {
    open_ok();
    std::vector<WAVEHDR*> b;
    for (int i = 0; i < 8; ++i)
        b.push_back(probe.buffer(353)); // about 2 ms each
    std::map<WAVEHDR*, int> written;
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop.load()) {
            // Each header again once its callback has run.
            std::map<WAVEHDR*, int> returned;
            for (WAVEHDR* h : probe.returned())
                ++returned[h];
            for (WAVEHDR* h : b)
                if (returned[h] == written[h]) {
                    EXPECT_EQ(wave_out_unprepare_header(dev(), h), WAVE_OK);
                    probe.queue(h);
                    ++written[h];
                }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::mt19937 rng(7);
    const auto until = std::chrono::steady_clock::now() + 600ms;
    while (std::chrono::steady_clock::now() < until) {
        int (*const control[])(HWAVEOUT) = {wave_out_pause, wave_out_restart, wave_out_reset};
        EXPECT_EQ(control[rng() % 3](dev()), WAVE_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 5));
    }
    stop = true;
    feeder.join();
    ASSERT_EQ(wave_out_reset(dev()), WAVE_OK);
    std::map<WAVEHDR*, int> returned;
    for (WAVEHDR* h : probe.returned())
        ++returned[h];
    EXPECT_EQ(returned, written);
    EXPECT_EQ(written.size(), b.size());
}

TEST_P(WaveDevice, CloseJoinsTheDeviceThreadAndLeavesNothingOpen) {
    open_ok(); // once first: a sanitizer's own thread may start with the first
    close_ok();
    const int threads = settled_thread_count();
    const int fds = fd_count();
    for (size_t i = 1; i <= 5; ++i) {
        open_ok();
        probe.play(8);
        ASSERT_TRUE(probe.wait_returned(i));
        close_ok();
    }
    EXPECT_TRUE(threads_settle_to(threads));
    EXPECT_EQ(fd_count(), fds);
}

INSTANTIATE_TEST_SUITE_P(Backends, WaveDevice,
                         testing::Values(device_kind::virtual_device, system_device,
                                         device_kind::fake),
                         param_name);

// --- what the core asks of a backend ---------------------------------------------

class DeviceCore : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(probe.open(device_kind::fake, cd), WAVE_OK); }
    fake_device& fake() { return *probe.fake_state; }
    template <class T> T read(const T& field) {
        std::lock_guard<std::mutex> hold(fake().lock);
        return field;
    }
    template <class T> void set(T fake_device::*field, T value) {
        std::lock_guard<std::mutex> hold(fake().lock);
        fake().*field = value;
    }

    device_probe probe;
};

TEST_F(DeviceCore, WritesEveryByteInOrderAsTheBackendTakesThem) {
    set(&fake_device::room, 7u);
    std::vector<char> expected;
    char fill = 'a';
    for (uint32_t length : {0u, 1u, 13u, 1000u, 6u}) {
        probe.play(length, fill);
        expected.insert(expected.end(), length, fill++);
    }
    ASSERT_TRUE(probe.wait_returned(5));
    EXPECT_EQ(read(fake().written), expected);
}

TEST_F(DeviceCore, AFailedWriteLosesTheDeviceWhichThenRefusesEveryBuffer) {
    set(&fake_device::room, 0u);
    WAVEHDR* held = probe.play(100, 'a');
    WAVEHDR* waiting = probe.play(100, 'b');
    EXPECT_FALSE(wave_out_lost(probe.device()));
    set(&fake_device::failing, true);
    set(&fake_device::room, 1000u);
    ASSERT_TRUE(probe.wait_returned(2));
    EXPECT_EQ(probe.returned(), (std::vector<WAVEHDR*>{held, waiting}));
    EXPECT_TRUE(wave_out_lost(probe.device()));
    set(&fake_device::failing, false);
    WAVEHDR* refused = probe.buffer(10, 'c');
    ASSERT_EQ(wave_out_prepare_header(probe.device(), refused), WAVE_OK);
    EXPECT_EQ(wave_out_write(probe.device(), refused), WAVE_ERR_LOST);
    EXPECT_EQ(refused->dwFlags & WHDR_INQUEUE, 0u);
    EXPECT_TRUE(read(fake().written).empty());
    EXPECT_EQ(wave_out_reset(probe.device()), WAVE_OK); // it still answers
}

TEST_F(DeviceCore, AFullBackendHoldsItsBuffersUntilItHasRoomOrAReset) {
    set(&fake_device::room, 0u);
    for (int i = 0; i < 3; ++i)
        probe.play(10);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(probe.returned_count(), 0u);
    set(&fake_device::room, 1000u);
    ASSERT_TRUE(probe.wait_returned(3));

    set(&fake_device::room, 0u);
    probe.play(10);
    ASSERT_EQ(wave_out_reset(probe.device()), WAVE_OK);
    EXPECT_EQ(probe.returned_count(), 4u);
    EXPECT_EQ(read(fake().silencing_drops), 1); // it held a queued buffer
    ASSERT_EQ(wave_out_reset(probe.device()), WAVE_OK);
    EXPECT_EQ(read(fake().drops), 1); // nothing queued: nothing to silence
}

TEST_F(DeviceCore, PauseAndRestartReachTheBackendOnceAndCloseDrainsIt) {
    // The device thread tells the backend; a pause undone before it looked
    // never reaches it.
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(wave_out_pause(probe.device()), WAVE_OK);
    ASSERT_TRUE(wait_until([&] { return read(fake().pauses) == 1; }));
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(wave_out_restart(probe.device()), WAVE_OK);
    ASSERT_TRUE(wait_until([&] { return read(fake().resumes) == 1; }));
    EXPECT_EQ(read(fake().pauses), 1);
    ASSERT_EQ(probe.close(), WAVE_OK);
    EXPECT_EQ(read(fake().drains), 1);
}

TEST_F(DeviceCore, AWriteThatDoesNotReturnLosesTheDeviceAndGivesItsQueueBack) {
    set(&fake_device::hung, true);
    const std::vector<WAVEHDR*> queued{probe.play(100), probe.play(100)};
    EXPECT_FALSE(wave_out_lost(probe.device())); // not before its time
    ASSERT_TRUE(wait_until([&] { return wave_out_lost(probe.device()); }));
    // Given back by the client that gave up, as the device thread cannot.
    EXPECT_EQ(probe.returned(), queued);
    for (const auto& e : probe.entries(WOM_DONE))
        EXPECT_EQ(e.thread, std::this_thread::get_id());
    EXPECT_EQ(wave_out_reset(probe.device()), WAVE_ERR_NOTANSWERING); // at once
    EXPECT_EQ(probe.close(), WAVE_OK);
    set(&fake_device::hung, false); // the thread left behind finishes
}

namespace {

// Set once the process exits, after the static destructors of what was
// built since main began: g_exit is built before main.
std::atomic<bool> g_exiting{false}, g_exit_armed{false};
struct exit_signal {
    ~exit_signal() {
        g_exiting = true;
        if (g_exit_armed)
            std::this_thread::sleep_for(500ms); // for a device thread to end
    }
} g_exit;

int open_at_exit(const WAVEFORMATEX&, const char*, std::unique_ptr<device_backend>& out,
                 device_note&) {
    while (!g_exiting)
        std::this_thread::sleep_for(1ms);
    out = make_fake_backend(std::make_shared<fake_device>());
    return WAVE_OK;
}

} // namespace

TEST(DeviceCoreDeathTest, AThreadLeftBehindByAnOpenMayNameItsDeviceWhileTheProcessExits) {
    EXPECT_EXIT(
        {
            lasting_name("a name asked for before the exit");
            g_exit_armed = true;
            wave_device* device = nullptr;
            device_note why;
            std::exit(wave_device::open(open_at_exit, cd, "late", "late", nullptr, 0, &device,
                                        why) == WAVE_ERR_NOTANSWERING
                          ? 0
                          : 1);
        },
        testing::ExitedWithCode(0), "");
}
