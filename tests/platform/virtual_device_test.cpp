// The wave output service on the virtual device: formats, messages, header
// flags, order, pacing, pause, reset and close.
#include "platform/wave_out.h"

#include "support/output_device.h"
#include "support/settled_threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace sonvale;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
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

// Records everything the device sends.
struct recorder {
    struct entry {
        HWAVEOUT device;
        unsigned int message;
        WAVEHDR* header;
        uint32_t flags; // the header's flags when the callback ran
        std::thread::id thread;
        steady::time_point when;
        bool after_reset; // the callback ran after a reset had returned
    };

    std::mutex lock;
    std::condition_variable changed;
    std::vector<entry> log;
    std::atomic<bool> reset_returned{false};

    unsigned long instance() {
        return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this));
    }

    static void callback(HWAVEOUT device, unsigned int message, unsigned long instance,
                         unsigned long param1, unsigned long param2) {
        auto* self = reinterpret_cast<recorder*>(static_cast<uintptr_t>(instance));
        auto* header = reinterpret_cast<WAVEHDR*>(static_cast<uintptr_t>(param1));
        EXPECT_EQ(param2, 0ul);
        entry e{device,
                message,
                header,
                header ? header->dwFlags : 0u,
                std::this_thread::get_id(),
                steady::now(),
                self->reset_returned.load()};
        std::lock_guard<std::mutex> hold(self->lock);
        self->log.push_back(e);
        self->changed.notify_all();
    }

    std::vector<entry> entries(unsigned int message) {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<entry> out;
        for (const auto& e : log)
            if (e.message == message)
                out.push_back(e);
        return out;
    }
    size_t count(unsigned int message) { return entries(message).size(); }
    std::vector<WAVEHDR*> done_order() {
        std::vector<WAVEHDR*> out;
        for (const auto& e : entries(WOM_DONE))
            out.push_back(e.header);
        return out;
    }
    bool wait_for_done(size_t n, double seconds = 10.0) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::duration<double>(seconds), [&] {
            size_t c = 0;
            for (const auto& e : log)
                c += e.message == WOM_DONE;
            return c >= n;
        });
    }
};

// Headers with their own data.
struct buffers {
    std::vector<std::vector<char>> data;
    std::vector<WAVEHDR> headers;
    buffers(size_t count, uint32_t length)
        : data(count, std::vector<char>(length ? length : 1)), headers(count) {
        for (size_t i = 0; i < count; ++i) {
            headers[i] = WAVEHDR{};
            headers[i].lpData = data[i].data();
            headers[i].dwBufferLength = length;
            headers[i].dwUser = i;
        }
    }
    WAVEHDR* operator[](size_t i) { return &headers[i]; }
};

class VirtualDevice : public ::testing::Test {
protected:
    recorder rec;
    HWAVEOUT dev = nullptr;

    int open(const WAVEFORMATEX& f) {
        return wave_out_open_on(wave_backend::virtual_device, &dev, &f, &recorder::callback,
                                rec.instance());
    }
    void open_ok(const WAVEFORMATEX& f) {
        ASSERT_EQ(open(f), WAVE_OK);
        ASSERT_NE(dev, nullptr);
    }
    void queue(WAVEHDR* h) {
        ASSERT_EQ(wave_out_prepare_header(dev, h), WAVE_OK);
        ASSERT_EQ(wave_out_write(dev, h), WAVE_OK);
    }
    void TearDown() override {
        if (dev) {
            wave_out_reset(dev);
            EXPECT_EQ(wave_out_close(dev), WAVE_OK);
            dev = nullptr;
        }
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
        HWAVEOUT h = nullptr;
        ASSERT_EQ(wave_out_open_on(wave_backend::virtual_device, &h, &f, &recorder::callback,
                                   rec.instance()),
                  WAVE_OK);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(wave_out_close(h), WAVE_OK);
    }
    EXPECT_EQ(rec.count(WOM_OPEN), ok.size());
    EXPECT_EQ(rec.count(WOM_CLOSE), ok.size());
}

TEST_F(VirtualDevice, RefusesEveryOtherFormat) {
    std::vector<WAVEFORMATEX> bad;
    bad.push_back(pcm(44100, 16, 0)); // PCM with 0 channels
    WAVEFORMATEX f = pcm(44100, 16, 2);
    f.nSamplesPerSec = 0;
    f.nAvgBytesPerSec = 0;
    bad.push_back(f);                 // no samples per second
    bad.push_back(pcm(44100, 12, 2)); // PCM at 12 bits
    bad.push_back(pcm(44100, 0, 2));  // PCM at 0 bits (block align 0 as well)
    bad.push_back(pcm(44100, 64, 1)); // PCM at 64 bits
    bad.push_back(wave_format(WAVE_FORMAT_PCM, 2, 44100, 4));
    f = pcm(44100, 16, 2);
    f.nBlockAlign = 2; // should be 4
    bad.push_back(f);
    f = pcm(44100, 16, 2);
    f.nAvgBytesPerSec = 176401; // should be 176400
    bad.push_back(f);
    f = pcm(44100, 16, 2);
    f.nAvgBytesPerSec = 0;
    bad.push_back(f);
    f = pcm(44100, 16, 2);
    f.nBlockAlign = 0;
    bad.push_back(f);
    bad.push_back(wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 16)); // float at 16 bits
    bad.push_back(wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 24));
    bad.push_back(wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 8));
    f = wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 32);
    f.nAvgBytesPerSec += 8;
    bad.push_back(f);
    bad.push_back(WAVEFORMATEX{0x11, 0, 8000, 4055, 256, 4, 2}); // 0 channels
    bad.push_back(WAVEFORMATEX{0x11, 1, 0, 4055, 256, 4, 2});    // 0 samples a second
    bad.push_back(WAVEFORMATEX{0x11, 1, 8000, 4055, 0, 4, 2});   // block align 0
    bad.push_back(WAVEFORMATEX{0x11, 1, 8000, 0, 256, 4, 2});    // byte rate 0
    bad.push_back(WAVEFORMATEX{});                               // all zero

    for (const auto& fmt : bad) {
        SCOPED_TRACE(describe(fmt));
        HWAVEOUT h = reinterpret_cast<HWAVEOUT>(uintptr_t(1));
        EXPECT_EQ(wave_out_open_on(wave_backend::virtual_device, &h, &fmt, &recorder::callback,
                                   rec.instance()),
                  WAVE_ERR_BADFORMAT);
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_TRUE(rec.log.empty()); // no WOM_OPEN for a refused format
}

TEST_F(VirtualDevice, NullArgumentsAndHandles) {
    HWAVEOUT h = nullptr;
    EXPECT_EQ(
        wave_out_open_on(wave_backend::virtual_device, nullptr, &slow, &recorder::callback, 0),
        WAVE_ERR_INVALPARAM);
    EXPECT_EQ(wave_out_open_on(wave_backend::virtual_device, &h, nullptr, &recorder::callback, 0),
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

    open_ok(slow);
    EXPECT_EQ(wave_out_prepare_header(dev, nullptr), WAVE_ERR_INVALPARAM);
    WAVEHDR no_data{};
    EXPECT_EQ(wave_out_prepare_header(dev, &no_data), WAVE_ERR_INVALPARAM);
    EXPECT_EQ(wave_out_unprepare_header(dev, nullptr), WAVE_ERR_INVALPARAM);
    EXPECT_EQ(wave_out_write(dev, nullptr), WAVE_ERR_INVALPARAM);
}

TEST_F(VirtualDevice, WorksWithoutACallback) {
    ASSERT_EQ(wave_out_open_on(wave_backend::virtual_device, &dev, &slow, nullptr, 0), WAVE_OK);
    buffers b(1, 8);
    queue(b[0]);
    ASSERT_TRUE(
        test_support::wait_until([&] { return wave_out_unprepare_header(dev, b[0]) == WAVE_OK; }));
}

// --- messages and flags ------------------------------------------------------

TEST_F(VirtualDevice, SendsWomOpenBeforeOpenReturnsAndWomCloseOnClose) {
    open_ok(slow);
    {
        auto opens = rec.entries(WOM_OPEN);
        ASSERT_EQ(opens.size(), 1u);
        EXPECT_EQ(opens[0].device, dev);
        EXPECT_EQ(opens[0].header, nullptr);
        EXPECT_EQ(rec.log.size(), 1u);
    }
    HWAVEOUT closed = dev;
    ASSERT_EQ(wave_out_close(dev), WAVE_OK);
    dev = nullptr;
    auto closes = rec.entries(WOM_CLOSE);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].device, closed);
    EXPECT_EQ(rec.log.size(), 2u);
}

TEST_F(VirtualDevice, KeepsTheHeaderFlags) {
    open_ok(slow);
    buffers b(1, 400); // 50 ms
    WAVEHDR* h = b[0];
    h->dwFlags = WHDR_DONE; // left over from an earlier use
    EXPECT_EQ(wave_out_write(dev, h), WAVE_ERR_UNPREPARED);
    EXPECT_EQ(h->dwFlags, WHDR_DONE);

    ASSERT_EQ(wave_out_prepare_header(dev, h), WAVE_OK);
    EXPECT_EQ(h->dwFlags, WHDR_DONE | WHDR_PREPARED);
    ASSERT_EQ(wave_out_prepare_header(dev, h), WAVE_OK); // already prepared: no change
    EXPECT_EQ(h->dwFlags, WHDR_DONE | WHDR_PREPARED);

    ASSERT_EQ(wave_out_pause(dev), WAVE_OK); // keep it queued while we look
    ASSERT_EQ(wave_out_write(dev, h), WAVE_OK);
    EXPECT_EQ(h->dwFlags, WHDR_PREPARED | WHDR_INQUEUE); // done cleared
    EXPECT_EQ(wave_out_write(dev, h), WAVE_ERR_STILLPLAYING);
    EXPECT_EQ(wave_out_unprepare_header(dev, h), WAVE_ERR_STILLPLAYING);
    EXPECT_EQ(wave_out_close(dev), WAVE_ERR_STILLPLAYING);
    EXPECT_EQ(rec.count(WOM_CLOSE), 0u);
    ASSERT_EQ(wave_out_restart(dev), WAVE_OK);

    ASSERT_TRUE(rec.wait_for_done(1));
    auto done = rec.entries(WOM_DONE);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].header, h);
    EXPECT_EQ(done[0].flags, WHDR_PREPARED | WHDR_DONE); // set before the callback
    EXPECT_EQ(done[0].device, dev);
    ASSERT_TRUE(test_support::wait_until([&] { return wave_out_close(dev) == WAVE_OK; }));
    dev = nullptr;
    EXPECT_EQ(h->dwFlags, WHDR_PREPARED | WHDR_DONE);
    // The header can be unprepared after close as well as before; a fresh one
    // unprepares as a no-op.
}

TEST_F(VirtualDevice, UnprepareClearsPreparedOnceGivenBack) {
    open_ok(slow);
    buffers b(1, 80);
    queue(b[0]);
    ASSERT_TRUE(rec.wait_for_done(1));
    EXPECT_EQ(wave_out_unprepare_header(dev, b[0]), WAVE_OK);
    EXPECT_EQ(b[0]->dwFlags, WHDR_DONE);
    EXPECT_EQ(wave_out_unprepare_header(dev, b[0]), WAVE_OK); // not prepared: no change
    EXPECT_EQ(wave_out_write(dev, b[0]), WAVE_ERR_UNPREPARED);
    // Requeue the same header: it comes back a second time.
    queue(b[0]);
    ASSERT_TRUE(rec.wait_for_done(2));
    EXPECT_EQ(rec.done_order(), (std::vector<WAVEHDR*>{b[0], b[0]}));
}

// --- order and pacing ----------------------------------------------------------

TEST_F(VirtualDevice, GivesEveryBufferBackOnceInOrder) {
    open_ok(pcm(44100, 16, 2)); // 176400 bytes a second
    buffers b(40, 0);
    for (size_t i = 0; i < 40; ++i)
        b[i]->dwBufferLength = static_cast<uint32_t>((i * 37) % 300); // 0 ... 1.7 ms, some empty
    std::vector<WAVEHDR*> expected;
    for (size_t i = 0; i < 40; ++i) {
        queue(b[i]);
        expected.push_back(b[i]);
    }
    ASSERT_TRUE(rec.wait_for_done(40));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rec.done_order(), expected);
    for (const auto& e : rec.entries(WOM_DONE)) {
        EXPECT_EQ(e.flags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_NE(e.thread, std::this_thread::get_id());
        EXPECT_EQ(e.thread, rec.entries(WOM_DONE)[0].thread); // one device thread
    }
}

TEST_F(VirtualDevice, PlaysEachBufferForLengthOverByteRate) {
    open_ok(slow);
    buffers b(3, 800); // 100 ms each
    auto t0 = steady::now();
    for (size_t i = 0; i < 3; ++i)
        queue(b[i]);
    ASSERT_TRUE(rec.wait_for_done(3));
    auto done = rec.entries(WOM_DONE);
    for (size_t i = 0; i < 3; ++i) {
        double at = ms_between(t0, done[i].when);
        EXPECT_GE(at, 100.0 * double(i + 1) - 1) << "buffer " << i;
        EXPECT_LT(at, 100.0 * double(i + 1) + 1000) << "buffer " << i;
    }
}

TEST_F(VirtualDevice, ZeroLengthBufferComesBack) {
    open_ok(slow);
    buffers b(1, 0);
    queue(b[0]);
    ASSERT_TRUE(rec.wait_for_done(1));
}

TEST_F(VirtualDevice, DoesNotDriftWhileKeptFed) {
    // 1 s of audio in 20 ms buffers, ten in flight, refilled as each returns.
    open_ok(slow);
    constexpr size_t total = 50, in_flight = 10;
    buffers b(total, 160);
    auto t0 = steady::now();
    for (size_t i = 0; i < in_flight; ++i)
        queue(b[i]);
    for (size_t next = in_flight; next < total; ++next) {
        ASSERT_TRUE(rec.wait_for_done(next - in_flight + 1));
        queue(b[next]);
    }
    ASSERT_TRUE(rec.wait_for_done(total));
    auto done = rec.entries(WOM_DONE);
    double last = ms_between(t0, done.back().when);
    EXPECT_GE(last, 1000.0 - 1);
    EXPECT_LT(last, 1250.0);
    // Each buffer ended on its own slot of the schedule, not later and later.
    for (size_t i = 0; i < total; ++i)
        EXPECT_GE(ms_between(t0, done[i].when), 20.0 * double(i + 1) - 1) << i;
}

// --- pause and restart ---------------------------------------------------------

TEST_F(VirtualDevice, PauseStopsTheClockMidBuffer) {
    open_ok(slow);
    buffers b(2, 3200); // 400 ms each
    auto t0 = steady::now();
    queue(b[0]);
    queue(b[1]);
    std::this_thread::sleep_for(100ms);
    auto before_pause = steady::now();
    ASSERT_EQ(wave_out_pause(dev), WAVE_OK);
    auto after_pause = steady::now();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(rec.count(WOM_DONE), 0u);
    // Stays paused: pausing again changes nothing.
    ASSERT_EQ(wave_out_pause(dev), WAVE_OK);
    auto restarted = steady::now();
    ASSERT_EQ(wave_out_restart(dev), WAVE_OK);
    ASSERT_TRUE(rec.wait_for_done(2));
    auto done = rec.entries(WOM_DONE);
    double played_before = ms_between(t0, after_pause); // at most this much played
    double min_rest = 400.0 - played_before;
    double first = ms_between(restarted, done[0].when);
    EXPECT_GE(first, min_rest - 1);
    EXPECT_LT(first, 400.0 - ms_between(t0, before_pause) + 1000);
    EXPECT_GE(ms_between(t0, done[0].when), 400.0 + 500 - 1);
    // The second buffer follows on the resumed clock.
    EXPECT_GE(ms_between(restarted, done[1].when), min_rest + 400 - 1);
}

TEST_F(VirtualDevice, PausedBeforeQueueingPlaysNothingUntilRestart) {
    open_ok(slow);
    ASSERT_EQ(wave_out_pause(dev), WAVE_OK);
    buffers b(1, 8); // 1 ms
    queue(b[0]);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(rec.count(WOM_DONE), 0u);
    ASSERT_EQ(wave_out_restart(dev), WAVE_OK);
    ASSERT_TRUE(rec.wait_for_done(1, 5));
}

TEST_F(VirtualDevice, RestartWithoutPauseChangesNothing) {
    open_ok(slow);
    buffers b(1, 800);
    auto t0 = steady::now();
    queue(b[0]);
    ASSERT_EQ(wave_out_restart(dev), WAVE_OK);
    ASSERT_EQ(wave_out_restart(dev), WAVE_OK);
    ASSERT_TRUE(rec.wait_for_done(1));
    EXPECT_GE(ms_between(t0, rec.entries(WOM_DONE)[0].when), 99.0);
}

// --- reset ---------------------------------------------------------------------

TEST_F(VirtualDevice, ResetGivesBackEveryBufferInOrderBeforeReturning) {
    open_ok(slow);
    buffers b(5, 8000); // 1 s each
    for (size_t i = 0; i < 5; ++i)
        queue(b[i]);
    ASSERT_EQ(wave_out_reset(dev), WAVE_OK);
    rec.reset_returned = true;
    // Already all back, without waiting.
    auto done = rec.entries(WOM_DONE);
    ASSERT_EQ(done.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(done[i].header, b[i]);
        EXPECT_EQ(done[i].flags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_FALSE(done[i].after_reset);
        EXPECT_EQ(b[i]->dwFlags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_NE(done[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(wave_out_close(dev), WAVE_OK); // nothing queued now
    dev = nullptr;
    EXPECT_EQ(rec.count(WOM_DONE), 5u);
}

TEST_F(VirtualDevice, ResetWhilePausedGivesBackEveryBuffer) {
    open_ok(slow);
    ASSERT_EQ(wave_out_pause(dev), WAVE_OK);
    buffers b(3, 80);
    for (size_t i = 0; i < 3; ++i)
        queue(b[i]);
    ASSERT_EQ(wave_out_reset(dev), WAVE_OK);
    EXPECT_EQ(rec.done_order(), (std::vector<WAVEHDR*>{b[0], b[1], b[2]}));
}

TEST_F(VirtualDevice, ResetWithNothingQueuedAndPlayingAfterwards) {
    open_ok(slow);
    ASSERT_EQ(wave_out_reset(dev), WAVE_OK);
    buffers b(2, 800);
    queue(b[0]);
    ASSERT_EQ(wave_out_reset(dev), WAVE_OK);
    ASSERT_EQ(rec.count(WOM_DONE), 1u);
    // A buffer queued after a reset plays in full on a fresh clock.
    auto t0 = steady::now();
    queue(b[1]);
    ASSERT_TRUE(rec.wait_for_done(2));
    EXPECT_GE(ms_between(t0, rec.entries(WOM_DONE)[1].when), 99.0);
}

TEST_F(VirtualDevice, NoCallbackAfterResetReturns) {
    open_ok(pcm(8000, 8, 1));
    for (int round = 0; round < 20; ++round) {
        rec.reset_returned = false;
        buffers b(12, 40); // 5 ms each
        for (size_t i = 0; i < 12; ++i)
            queue(b[i]);
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4 * 7));
        ASSERT_EQ(wave_out_reset(dev), WAVE_OK);
        rec.reset_returned = true;
        size_t n = rec.count(WOM_DONE);
        ASSERT_EQ(n, size_t(12) * size_t(round + 1));
        std::this_thread::sleep_for(10ms);
        ASSERT_EQ(rec.count(WOM_DONE), n);
        auto order = rec.done_order();
        for (size_t i = 0; i < 12; ++i)
            EXPECT_EQ(order[n - 12 + i], b[i]);
        for (const auto& e : rec.entries(WOM_DONE))
            EXPECT_FALSE(e.after_reset);
    }
}

// Pause, restart and reset from one thread while another keeps the device
// fed: every buffer comes back exactly once, and the run is clean under
// ThreadSanitizer.
TEST(VirtualDeviceStress, ConcurrentFeedPauseRestartReset) {
    struct state {
        std::atomic<bool> in_flight[8];
        std::atomic<int> returned[8];
    } st;
    for (int i = 0; i < 8; ++i) {
        st.in_flight[i] = false;
        st.returned[i] = 0;
    }
    auto callback = [](HWAVEOUT, unsigned int msg, unsigned long inst, unsigned long p1,
                       unsigned long) {
        if (msg != WOM_DONE)
            return;
        auto* s = reinterpret_cast<state*>(static_cast<uintptr_t>(inst));
        auto* h = reinterpret_cast<WAVEHDR*>(static_cast<uintptr_t>(p1));
        size_t i = h->dwUser;
        s->returned[i].fetch_add(1);
        s->in_flight[i].store(false, std::memory_order_release);
    };
    const WAVEFORMATEX fast = pcm(44100, 16, 2);
    HWAVEOUT dev = nullptr;
    ASSERT_EQ(wave_out_open_on(wave_backend::virtual_device, &dev, &fast, callback,
                               static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&st))),
              WAVE_OK);
    buffers b(8, 353); // about 2 ms each
    int written[8] = {};
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        while (!stop.load()) {
            bool any = false;
            for (size_t i = 0; i < 8; ++i) {
                if (st.in_flight[i].load(std::memory_order_acquire))
                    continue;
                any = true;
                st.in_flight[i] = true;
                wave_out_unprepare_header(dev, b[i]);
                EXPECT_EQ(wave_out_prepare_header(dev, b[i]), WAVE_OK);
                EXPECT_EQ(wave_out_write(dev, b[i]), WAVE_OK);
                ++written[i];
            }
            if (!any)
                std::this_thread::sleep_for(1ms);
        }
    });
    std::mt19937 rng(7);
    auto until = steady::now() + 600ms;
    while (steady::now() < until) {
        switch (rng() % 3) {
        case 0:
            EXPECT_EQ(wave_out_pause(dev), WAVE_OK);
            break;
        case 1:
            EXPECT_EQ(wave_out_restart(dev), WAVE_OK);
            break;
        default:
            EXPECT_EQ(wave_out_reset(dev), WAVE_OK);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 5));
    }
    stop = true;
    feeder.join();
    ASSERT_EQ(wave_out_reset(dev), WAVE_OK);
    for (int i = 0; i < 8; ++i) {
        EXPECT_FALSE(st.in_flight[i].load());
        EXPECT_EQ(st.returned[i].load(), written[i]) << i;
        EXPECT_GT(written[i], 0);
    }
    EXPECT_EQ(wave_out_close(dev), WAVE_OK);
}

TEST_F(VirtualDevice, CloseJoinsTheDeviceThread) {
    open_ok(slow); // once first: a sanitizer's own thread may start with the first
    ASSERT_EQ(wave_out_close(dev), WAVE_OK);
    dev = nullptr;
    int before = test_support::thread_count();
    for (int i = 0; i < 5; ++i) {
        open_ok(slow);
        buffers b(1, 8);
        queue(b[0]);
        ASSERT_TRUE(rec.wait_for_done(size_t(i + 1)));
        ASSERT_TRUE(test_support::wait_until([&] { return wave_out_close(dev) == WAVE_OK; }));
        dev = nullptr;
    }
    EXPECT_TRUE(test_support::threads_settle_to(before));
}

TEST(WaveBackend, VirtualIsAvailableAndSelectable) {
    EXPECT_TRUE(wave_backend_available(wave_backend::virtual_device));
    wave_backend saved = default_wave_backend();
    select_default_wave_backend(wave_backend::virtual_device);
    EXPECT_EQ(default_wave_backend(), wave_backend::virtual_device);
    HWAVEOUT dev = nullptr;
    ASSERT_EQ(wave_out_open(&dev, &slow, nullptr, 0), WAVE_OK);
    EXPECT_EQ(wave_out_close(dev), WAVE_OK);
    select_default_wave_backend(saved);
#ifdef SONVALE_TEST_DEFAULT_ALSA
    EXPECT_EQ(saved, wave_backend::alsa);
#else
    EXPECT_EQ(saved, wave_backend::virtual_device);
#endif
}

TEST(WaveBackend, AlsaOpensOnlyWhereBuilt) {
    if (wave_backend_available(wave_backend::alsa))
        GTEST_SKIP() << "ALSA is built in; its own tests cover it";
    HWAVEOUT dev = reinterpret_cast<HWAVEOUT>(uintptr_t(1));
    EXPECT_EQ(wave_out_open_on(wave_backend::alsa, &dev, &slow, nullptr, 0), WAVE_ERR_NODRIVER);
    EXPECT_EQ(dev, nullptr);
}
