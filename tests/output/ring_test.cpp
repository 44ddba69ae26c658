// CWaveMixOut: its edge cases and the safety rules of the ring, on every
// backend built in (the timing tests, on the virtual device only, are in
// ring_timing_test.cpp).
#include "ring_common.h"

#include "platform/event.h"
#include "support/device_probe.h"
#include "support/settled_threads.h"
#include "support/test_support.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

using namespace ring_test;
using namespace std::chrono_literals;
using sonvale::WaveBuff;
using steady = std::chrono::steady_clock;

namespace {

// A format every backend plays.
const WAVEFORMATEX cd = pcm(44100, 16, 2);
// PCM with no channels: refused everywhere.
const WAVEFORMATEX no_channels = pcm(44100, 16, 0);

CWnd* some_window() {
    static int dummy;
    return reinterpret_cast<CWnd*>(&dummy);
}

class Ring : public testing::TestWithParam<sonvale::wave_backend> {
protected:
    void SetUp() override { test_support::skip_unless_device_plays(GetParam()); }

    backend_scope backend{GetParam()};
    CWaveMixOut ring;

    void open_ok(const WAVEFORMATEX& f = cd) {
        WAVEFORMATEX copy = f;
        ASSERT_EQ(ring.Open(&copy), 0);
        ASSERT_NE(ring.m_hWaveOut, nullptr);
        ASSERT_NE(ring.m_ppBuffs, nullptr);
    }

    void expect_closed() {
        EXPECT_EQ(ring.m_hWaveOut, nullptr);
        EXPECT_EQ(ring.m_ppBuffs, nullptr);
        unsigned int len = 12345;
        EXPECT_EQ(ring.GetNextBuff(len), nullptr);
        EXPECT_EQ(len, 12345u);
        EXPECT_EQ(ring.SingAndRetNextBuff(len), nullptr);
    }

    // The data pointers of the current ring.
    std::set<unsigned char*> ring_data(int count) {
        std::set<unsigned char*> out;
        for (int i = 0; i < count; ++i)
            out.insert(reinterpret_cast<unsigned char*>(ring.m_ppBuffs[i]->hdr.lpData));
        return out;
    }
};

} // namespace

// --- a fresh object ------------------------------------------------------------

TEST(RingFresh, InitialValuesAndResultsWithoutADevice) {
    CWaveMixOut ring;
    EXPECT_EQ(ring.m_pNotifyWnd, nullptr);
    EXPECT_EQ(ring.m_hWaveOut, nullptr);
    EXPECT_EQ(ring.m_ppBuffs, nullptr);
    EXPECT_EQ(ring.m_nBuffNum, 3);
    EXPECT_EQ(ring.m_nBuffSize, 2048);
    EXPECT_FALSE(ring.m_bPaused);
    WAVEFORMATEX zero{};
    EXPECT_EQ(std::memcmp(ring.getWaveFormate(), &zero, sizeof zero), 0);
    EXPECT_EQ(ring.getWaveFormate(), &ring.m_waveFormate);
    int num = 0, size = 0;
    EXPECT_EQ(ring.GetBuffParam(num, size), 2048);
    EXPECT_EQ(num, 3);
    EXPECT_EQ(size, 2048);
    EXPECT_EQ(ring.Pause(), -1);
    EXPECT_EQ(ring.Restart(), -1);
    EXPECT_EQ(ring.Reset(), -1);
    EXPECT_FALSE(ring.m_bPaused);
    unsigned int len = 777;
    EXPECT_EQ(ring.GetNextBuff(len), nullptr);
    EXPECT_EQ(len, 777u);
    EXPECT_EQ(ring.SingAndRetNextBuff(len), nullptr);
    EXPECT_EQ(len, 777u);
    EXPECT_EQ(ring.GetBytePerSample(), 0);
    EXPECT_EQ(ring.Close(), 0);
    EXPECT_EQ(ring.Close(), 0);
}

TEST(RingFresh, BuffParamAndBytesPerSample) {
    CWaveMixOut ring;
    EXPECT_EQ(ring.SetBuffParam(5, 4096), 5);
    int num = 0, size = 0;
    EXPECT_EQ(ring.GetBuffParam(num, size), 4096);
    EXPECT_EQ(num, 5);
    EXPECT_EQ(ring.m_nBuffNum, 5);
    EXPECT_EQ(ring.m_nBuffSize, 4096);
    for (uint16_t bits : {0, 4, 7, 8, 12, 16, 24, 32, 64}) {
        ring.m_waveFormate.wBitsPerSample = bits;
        EXPECT_EQ(ring.GetBytePerSample(), bits / 8);
    }
}

TEST(RingFresh, OnlyWomDoneWithAHeaderCountsAsGivenBack) {
    WaveBuff buff{};
    char data[4];
    buff.hdr.lpData = data;
    sonvale::event* done = sonvale::event_create(false);
    ASSERT_NE(done, nullptr);
    buff.hdr.dwUser = reinterpret_cast<uintptr_t>(done);
    const DWORD_PTR header = reinterpret_cast<DWORD_PTR>(&buff);

    for (unsigned int msg :
         {0x3BBu, 0x3BCu, 0u, 0x3BEu, 0xFFFFFFFFu}) // WOM_OPEN, WOM_CLOSE, others
        exposed_ring::CallBackNotify(nullptr, msg, 0, header, 0);
    exposed_ring::CallBackNotify(nullptr, WOM_DONE, 0, 0, 0); // no header
    EXPECT_EQ(buff.bDone, 0);
    EXPECT_EQ(buff.hdr.dwFlags, 0u);

    // Not signalled either: the wait below ends only at the late set.
    auto t0 = steady::now();
    std::atomic<bool> set_called{false};
    std::thread late([&] {
        std::this_thread::sleep_for(150ms);
        set_called = true;
        sonvale::event_set(done);
    });
    sonvale::event_wait(done);
    EXPECT_TRUE(set_called.load());
    EXPECT_GE(ms_since(t0), 140.0);
    late.join();

    // WOM_DONE with the header: done, then signalled.
    exposed_ring::CallBackNotify(nullptr, WOM_DONE, 0, header, 0);
    EXPECT_EQ(buff.bDone, 1);
    sonvale::event_wait(done); // returns at once
    sonvale::event_destroy(done);
}

// --- Open and Close --------------------------------------------------------------

TEST_P(Ring, OpenBuildsTheRingAndCloseFreesIt) {
    ring.m_pNotifyWnd = some_window();
    WAVEFORMATEX f = cd;
    f.cbSize = 0;
    ASSERT_EQ(ring.Open(&f), 0);
    ASSERT_NE(ring.m_hWaveOut, nullptr);
    ASSERT_NE(ring.m_ppBuffs, nullptr);
    EXPECT_TRUE(same_format(ring.m_waveFormate, cd));
    EXPECT_EQ(ring.GetBytePerSample(), 2);
    EXPECT_EQ(ring.m_pNotifyWnd, some_window()); // left alone
    std::set<char*> data;
    for (int i = 0; i < 3; ++i) {
        WaveBuff* b = ring.m_ppBuffs[i];
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(reinterpret_cast<void*>(&b->hdr), reinterpret_cast<void*>(b));
        EXPECT_NE(b->hdr.lpData, nullptr);
        EXPECT_NE(b->hdr.dwUser, 0u);
        EXPECT_EQ(b->bDone, 0);
        EXPECT_EQ(b->hdr.dwFlags, 0u);
        data.insert(b->hdr.lpData);
    }
    EXPECT_EQ(data.size(), 3u);
    unsigned int len = 0;
    unsigned char* first = ring.GetNextBuff(len);
    EXPECT_EQ(len, 2048u);
    EXPECT_EQ(first, reinterpret_cast<unsigned char*>(ring.m_ppBuffs[0]->hdr.lpData));
    std::memset(first, 0x5A, len); // all of it is writable

    EXPECT_EQ(ring.Close(), 0);
    expect_closed();
    EXPECT_TRUE(same_format(ring.m_waveFormate, cd)); // Close leaves it
    EXPECT_EQ(ring.m_pNotifyWnd, some_window());
    EXPECT_EQ(ring.Close(), 0);
    EXPECT_EQ(ring.Pause(), -1);
    EXPECT_EQ(ring.Restart(), -1);
    EXPECT_EQ(ring.Reset(), -1);
}

TEST_P(Ring, OpenTwiceFailsAndLeavesTheObjectClosed) {
    open_ok();
    WAVEFORMATEX other = pcm(22050, 8, 1);
    EXPECT_EQ(ring.Open(&other), -1);
    expect_closed();
    EXPECT_TRUE(same_format(ring.m_waveFormate, cd));
}

TEST_P(Ring, OpenCloseOpen) {
    for (int i = 0; i < 5; ++i) {
        open_ok();
        unsigned int len = 0;
        ASSERT_NE(ring.GetNextBuff(len), nullptr);
        ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
        EXPECT_EQ(ring.Close(), 0);
        expect_closed();
    }
}

TEST_P(Ring, NullFormatFailsAndOpensNothing) {
    open_ok();
    ring.Close();
    EXPECT_EQ(ring.Open(nullptr), -1);
    expect_closed();
    EXPECT_TRUE(same_format(ring.m_waveFormate, cd));
}

TEST_P(Ring, BadBufferCountOrSizeFailsAndOpensNothing) {
    open_ok();
    ring.Close();
    const int cases[][2] = {{0, 2048}, {-1, 2048}, {-2147483647 - 1, 2048},
                            {3, 0},    {3, -1},    {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << " x " << c[1]);
        ring.SetBuffParam(c[0], c[1]);
        WAVEFORMATEX other = pcm(22050, 8, 1);
        EXPECT_EQ(ring.Open(&other), -1);
        expect_closed();
        EXPECT_TRUE(same_format(ring.m_waveFormate, cd)); // unchanged
        EXPECT_EQ(ring.m_nBuffNum, c[0]);                 // kept as set
        EXPECT_EQ(ring.m_nBuffSize, c[1]);
    }
    ring.SetBuffParam(2, 100);
    open_ok();
    unsigned int len = 0;
    ring.GetNextBuff(len);
    EXPECT_EQ(len, 100u);
}

TEST_P(Ring, RefusedFormatGivesMinusTwoAndKeepsTheFormat) {
    WAVEFORMATEX f = no_channels;
    f.cbSize = 7;
    EXPECT_EQ(ring.Open(&f), -2);
    expect_closed();
    EXPECT_TRUE(same_format(*ring.getWaveFormate(), f));
    // A good format opens afterwards.
    open_ok();
    EXPECT_TRUE(same_format(*ring.getWaveFormate(), cd));
}

TEST_P(Ring, GetSystemHandleGivesAWinmmDevicesOwnHandleAndNullOtherwise) {
    EXPECT_EQ(ring.GetSystemHandle(), nullptr);
    open_ok();
    const bool winmm = GetParam() == sonvale::wave_backend::winmm;
    EXPECT_EQ(ring.GetSystemHandle() != nullptr, winmm);
#ifdef _WIN32
    DWORD volume = 0; // only winmm's own handle answers this
    if (winmm) {
        EXPECT_EQ(waveOutGetVolume(ring.GetSystemHandle(), &volume), MMSYSERR_NOERROR);
    }
#endif
    EXPECT_EQ(ring.Close(), 0);
    EXPECT_EQ(ring.GetSystemHandle(), nullptr);
}

TEST_P(Ring, CloseJoinsTheDeviceAndReleasesEverything) {
    open_ok(); // once first: a sanitizer's own thread may start with the first
    ring.Close();
    int threads = test_support::settled_thread_count();
    int fds = test_support::fd_count();
    for (int i = 0; i < 3; ++i) {
        open_ok();
        unsigned int len = 0;
        ring.GetNextBuff(len);
        ring.SingAndRetNextBuff(len);
        ring.Close();
    }
    EXPECT_TRUE(test_support::threads_settle_to(threads));
    EXPECT_EQ(test_support::fd_count(), fds);
}

// --- the ring protocol -------------------------------------------------------------

TEST_P(Ring, CyclesThroughItsBuffersInOrder) {
    open_ok();
    std::set<unsigned char*> all = ring_data(3);
    std::vector<unsigned char*> seen;
    unsigned int len = 0;
    unsigned char* p = ring.GetNextBuff(len);
    ASSERT_EQ(len, 2048u);
    seen.push_back(p);
    for (int i = 0; i < 30; ++i) {
        std::memset(p, i, len);
        p = ring.SingAndRetNextBuff(len);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(len, 2048u); // only read
        EXPECT_TRUE(all.count(p));
        seen.push_back(p);
        // The buffer handed out is not held by the device.
        EXPECT_EQ(ring.m_ppBuffs[0]->hdr.dwFlags & WHDR_INQUEUE, 0u);
        EXPECT_EQ(ring.m_ppBuffs[0]->bDone, 0);
        EXPECT_EQ(reinterpret_cast<unsigned char*>(ring.m_ppBuffs[0]->hdr.lpData), p);
    }
    for (size_t i = 3; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], seen[i - 3]) << i;
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[1], seen[2]);
    EXPECT_NE(seen[0], seen[2]);
}

TEST_P(Ring, LenIsClampedToTheBufferSize) {
    open_ok();
    unsigned int len = 0;
    ring.GetNextBuff(len);
    WaveBuff* first = ring.m_ppBuffs[0];
    unsigned int big = 1u << 30;
    ASSERT_NE(ring.SingAndRetNextBuff(big), nullptr);
    EXPECT_EQ(big, 1u << 30); // only read
    EXPECT_EQ(ring.m_ppBuffs[2], first);
    EXPECT_EQ(first->hdr.dwBufferLength, 2048u);
    unsigned int some = 1000;
    WaveBuff* second = ring.m_ppBuffs[0];
    ASSERT_NE(ring.SingAndRetNextBuff(some), nullptr);
    EXPECT_EQ(second->hdr.dwBufferLength, 1000u);
    unsigned int none = 0;
    ASSERT_NE(ring.SingAndRetNextBuff(none), nullptr);
    EXPECT_EQ(ring.Close(), 0);
}

TEST_P(Ring, SingleBufferRing) {
    ring.SetBuffParam(1, 256);
    open_ok();
    unsigned int len = 0;
    unsigned char* p = ring.GetNextBuff(len);
    EXPECT_EQ(len, 256u);
    for (int i = 0; i < 10; ++i) {
        unsigned char* q = ring.SingAndRetNextBuff(len);
        EXPECT_EQ(q, p); // back once played
        EXPECT_EQ(ring.m_ppBuffs[0]->hdr.dwFlags & WHDR_INQUEUE, 0u);
    }
}

TEST_P(Ring, ChangedBufferParamsWaitForTheNextOpen) {
    open_ok();
    std::set<unsigned char*> all = ring_data(3);
    EXPECT_EQ(ring.SetBuffParam(10, 100000), 10);
    int num = 0, size = 0;
    EXPECT_EQ(ring.GetBuffParam(num, size), 100000);
    EXPECT_EQ(num, 10);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    EXPECT_EQ(len, 2048u); // the capacity it really has
    std::set<unsigned char*> seen;
    for (int i = 0; i < 12; ++i) {
        len = 100000;
        unsigned char* p = ring.SingAndRetNextBuff(len);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(all.count(p));
        seen.insert(p);
        EXPECT_EQ(ring.m_ppBuffs[2]->hdr.dwBufferLength, 2048u);
    }
    EXPECT_EQ(seen, all);
    ring.SetBuffParam(1, 16);
    ring.m_nBuffNum = 0; // written directly, as the mixer may
    for (int i = 0; i < 6; ++i) {
        len = 16;
        ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    }
    ring.GetNextBuff(len);
    EXPECT_EQ(len, 2048u);
    EXPECT_EQ(ring.Close(), 0); // frees all three buffers (checked under ASan)

    ring.SetBuffParam(2, 16);
    open_ok();
    ring.GetNextBuff(len);
    EXPECT_EQ(len, 16u);
    std::set<unsigned char*> two = ring_data(2);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(two.count(ring.SingAndRetNextBuff(len)));
}

// --- pause, restart, reset -------------------------------------------------------------

TEST_P(Ring, PauseTwicePausesOnceAndRestartWithoutPauseDoesNothing) {
    open_ok();
    EXPECT_EQ(ring.Restart(), 0); // not paused: nothing
    EXPECT_FALSE(ring.m_bPaused);
    EXPECT_EQ(ring.Pause(), 0);
    EXPECT_TRUE(ring.m_bPaused);
    EXPECT_EQ(ring.Pause(), 0);
    EXPECT_TRUE(ring.m_bPaused);
    EXPECT_EQ(ring.Restart(), 0); // one restart resumes it
    EXPECT_FALSE(ring.m_bPaused);
    EXPECT_EQ(ring.Restart(), 0);
    EXPECT_FALSE(ring.m_bPaused);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    for (int i = 0; i < 6; ++i)
        ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr); // plays
}

TEST_P(Ring, PausedFlagSurvivesCloseAndOpen) {
    open_ok();
    EXPECT_EQ(ring.Pause(), 0);
    ring.Close();
    EXPECT_TRUE(ring.m_bPaused);
    EXPECT_EQ(ring.Pause(), -1); // no device
    EXPECT_EQ(ring.Restart(), -1);
    EXPECT_TRUE(ring.m_bPaused);
    open_ok();
    EXPECT_TRUE(ring.m_bPaused);
    EXPECT_EQ(ring.Pause(), 0); // does nothing: already flagged
    EXPECT_TRUE(ring.m_bPaused);
    EXPECT_EQ(ring.Restart(), 0); // resumes the device and clears the flag
    EXPECT_FALSE(ring.m_bPaused);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    for (int i = 0; i < 6; ++i)
        ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
}

TEST_P(Ring, PausedDeviceHoldsTheRingUntilAnotherThreadRestarts) {
    open_ok();
    ASSERT_EQ(ring.Pause(), 0);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr); // free buffers: at once
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    std::atomic<bool> restarted{false};
    std::thread other([&] {
        std::this_thread::sleep_for(300ms);
        restarted = true;
        EXPECT_EQ(ring.Restart(), 0);
    });
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr); // waits for the device
    EXPECT_TRUE(restarted.load());
    other.join();
    EXPECT_FALSE(ring.m_bPaused);
}

TEST_P(Ring, PausedDeviceHoldsTheRingUntilAnotherThreadResets) {
    open_ok();
    ASSERT_EQ(ring.Pause(), 0);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    std::atomic<bool> reset{false};
    std::thread other([&] {
        std::this_thread::sleep_for(300ms);
        reset = true;
        EXPECT_EQ(ring.Reset(), 0);
    });
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    EXPECT_TRUE(reset.load());
    other.join();
    EXPECT_TRUE(ring.m_bPaused); // a reset does not resume
    // The second buffer came back with the reset as well.
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    EXPECT_EQ(ring.Restart(), 0);
}

TEST_P(Ring, ResetGivesBackTheQueuedBuffers) {
    open_ok();
    ASSERT_EQ(ring.Pause(), 0);
    unsigned int len = 0;
    ring.GetNextBuff(len);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    EXPECT_EQ(ring.Reset(), 0);
    // Both queued buffers are back: two more calls return without a restart.
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    EXPECT_EQ(ring.Reset(), 0);
    ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    EXPECT_EQ(ring.Reset(), 0);
    EXPECT_EQ(ring.Reset(), 0); // nothing queued: harmless
}

TEST_P(Ring, AnotherThreadPausesRestartsAndResetsWhileTheFeederWaits) {
    // As `sonvale play` drives it: one thread feeds, another (its keys)
    // pauses, restarts, resets and reads the device's name meanwhile. The
    // race detector checks what they share; the feeder must get through.
    open_ok();
    std::atomic<bool> fed{false};
    std::thread feeder([&] {
        unsigned int len = 0;
        unsigned char* buffer = ring.GetNextBuff(len);
        for (int i = 0; i < 60 && buffer; ++i) {
            len = 441;
            buffer = ring.SingAndRetNextBuff(len);
        }
        EXPECT_NE(buffer, nullptr);
        fed = true;
    });
    for (int round = 0; !fed; ++round) {
        EXPECT_EQ(ring.Pause(), 0);
        EXPECT_NE(ring.GetDeviceName(), nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (round % 3 == 0) {
            EXPECT_EQ(ring.Reset(), 0);
        }
        EXPECT_EQ(ring.Restart(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    feeder.join();
    EXPECT_FALSE(ring.m_bPaused);
    EXPECT_EQ(ring.Close(), 0);
}

// --- Close never frees a buffer the device holds ---------------------------------------

TEST_P(Ring, CloseWhilePausedWithBuffersQueued) {
    for (CWnd* window : {static_cast<CWnd*>(nullptr), some_window()}) {
        ring.m_pNotifyWnd = window;
        open_ok();
        ASSERT_EQ(ring.Pause(), 0);
        unsigned int len = 0;
        ring.GetNextBuff(len);
        ring.SingAndRetNextBuff(len);
        ring.SingAndRetNextBuff(len);
        EXPECT_EQ(ring.Close(), 0);
        expect_closed();
        ASSERT_EQ(ring.Restart(), -1);
        ring.m_bPaused = false;
    }
}

TEST_P(Ring, CloseWhilePlayingWithOrWithoutAWindow) {
    for (int i = 0; i < 20; ++i) {
        ring.m_pNotifyWnd = i % 2 ? some_window() : nullptr;
        open_ok();
        unsigned int len = 0;
        ring.GetNextBuff(len);
        for (int k = 0; k < i % 5; ++k)
            ring.SingAndRetNextBuff(len);
        EXPECT_EQ(ring.Close(), 0);
        expect_closed();
    }
}

TEST_P(Ring, DestructorClosesWithBuffersQueued) {
    open_ok(); // once first: a sanitizer's own thread may start with the first
    ring.Close();
    int threads = test_support::settled_thread_count();
    {
        CWaveMixOut other;
        other.m_pNotifyWnd = some_window();
        WAVEFORMATEX f = cd;
        ASSERT_EQ(other.Open(&f), 0);
        other.Pause();
        unsigned int len = 0;
        other.GetNextBuff(len);
        other.SingAndRetNextBuff(len);
        other.SingAndRetNextBuff(len);
    }
    EXPECT_TRUE(test_support::threads_settle_to(threads));
}

// --- buffers the device refuses ---------------------------------------------------------

TEST_P(Ring, ABufferTheDeviceRefusesToQueueCountsAsGivenBack) {
    ring.SetBuffParam(1, 64);
    open_ok();
    unsigned int len = 0;
    unsigned char* p = ring.GetNextBuff(len);
    // A header the service believes queued already: the write is refused.
    ring.m_ppBuffs[0]->hdr.dwFlags |= WHDR_PREPARED | WHDR_INQUEUE;
    for (int i = 0; i < 3; ++i) {
        auto t0 = steady::now();
        EXPECT_EQ(ring.SingAndRetNextBuff(len), p); // does not wait for it
        EXPECT_LT(ms_since(t0), 2000.0);
        EXPECT_EQ(ring.m_ppBuffs[0]->bDone, 0);
    }
    EXPECT_EQ(ring.Close(), 0); // nor does Close
    expect_closed();
}

TEST_P(Ring, ARefusedBufferInALargerRingDoesNotStallIt) {
    open_ok();
    unsigned int len = 0;
    ring.GetNextBuff(len);
    WaveBuff* refused = ring.m_ppBuffs[0];
    refused->hdr.dwFlags |= WHDR_PREPARED | WHDR_INQUEUE;
    for (int i = 0; i < 9; ++i)
        ASSERT_NE(ring.SingAndRetNextBuff(len), nullptr);
    ring.m_pNotifyWnd = some_window();
    EXPECT_EQ(ring.Close(), 0);
}

TEST_P(Ring, ABufferTheDeviceRefusesToPrepareCountsAsGivenBack) {
    ring.SetBuffParam(1, 64);
    open_ok();
    WaveBuff* only = ring.m_ppBuffs[0];
    char* data = only->hdr.lpData;
    only->hdr.lpData = nullptr; // prepare refuses a header without data
    unsigned int len = 64;
    auto t0 = steady::now();
    ring.SingAndRetNextBuff(len);
    EXPECT_LT(ms_since(t0), 2000.0);
    EXPECT_EQ(only->bDone, 0);
    EXPECT_EQ(only->hdr.dwFlags & (WHDR_PREPARED | WHDR_INQUEUE), 0u);
    only->hdr.lpData = data;
    EXPECT_EQ(ring.SingAndRetNextBuff(len), reinterpret_cast<unsigned char*>(data)); // plays again
    EXPECT_EQ(ring.Close(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, Ring, testing::ValuesIn(available_backends()), backend_name);
