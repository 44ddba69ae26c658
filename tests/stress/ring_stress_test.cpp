// The output ring fed from one thread while another pauses, restarts and
// resets it at random: the feeding never stalls for good, buffers come back
// in ring order, and at the end every buffer is back with the ring.
#include "device/wave_device.h"
#include "output/ring_common.h"
#include "stress/stress_common.h"
#include "support/figures.h"

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct ring_case {
    const char* name;
    WAVEFORMATEX format;
    int buffers;
    int size;
};

// A format whose byte rate is so high that every buffer "plays" at once, so
// that completions race the controller's calls.
WAVEFORMATEX instant_format() {
    WAVEFORMATEX f{};
    f.wFormatTag = 0x55; // not PCM: the device takes the byte rate as given
    f.nChannels = 1;
    f.nSamplesPerSec = 1;
    f.nBlockAlign = 1;
    f.nAvgBytesPerSec = 0xFFFFFFFFu;
    return f;
}

const ring_case all_cases[] = {
    {"paced", ring_test::pcm(48000, 16, 2), 4, 192}, // 1 ms per buffer
    {"instant", instant_format(), 3, 64},
    {"single_buffer", ring_test::pcm(48000, 16, 2), 1, 192},
};

const ring_case& case_named(const std::string& name) {
    for (const ring_case& c : all_cases)
        if (name == c.name)
            return c;
    return all_cases[0];
}

class RingStress : public testing::TestWithParam<std::string> {
protected:
    ring_test::backend_scope backend{sonvale::wave_backend::virtual_device};
    CWaveMixOut ring;
    std::vector<char*> order; // the buffers' data, in the ring's first order
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::atomic<long> fed{0};
    std::atomic<long> out_of_order{0};

    // The client: fills the current buffer with its number, hands it over,
    // checks that the buffer given back is the next one of the ring.
    void feed() {
        unsigned int capacity = 0;
        unsigned char* buff = ring.GetNextBuff(capacity);
        long k = 0;
        while (!stop.load()) {
            std::memset(buff, static_cast<int>(k & 0xFF), capacity);
            unsigned int len = capacity;
            buff = ring.SingAndRetNextBuff(len);
            ++k;
            if (reinterpret_cast<char*>(buff) != order[static_cast<size_t>(k) % order.size()])
                ++out_of_order;
            fed.store(k);
        }
        finished = true;
    }

    // After a Restart or a Reset the device plays or gives back what it
    // holds, so the client gets at least one more buffer. (Counted from
    // before the call: the client may take the buffers a reset gives back
    // and stop again on a paused device before the call has returned.)
    template <class Call> void expect_feeding_goes_on(Call call, const char* what) {
        const long before = fed.load();
        // A feeder about to queue its buffer on a paused device would get
        // nothing from a reset made before it has: wait until the device
        // holds a buffer, unless feeding has gone on anyway.
        stress::await_or_abort(
            [&] {
                return sonvale::wave_device::from_handle(ring.m_hWaveOut)->busy() ||
                       fed.load() > before;
            },
            "a buffer queued");
        EXPECT_EQ(call(), 0);
        stress::await_or_abort([&] { return fed.load() > before; },
                               std::string("feeding after ") + what);
    }
};

TEST_P(RingStress, FeedingSurvivesRandomPauseRestartAndReset) {
    const ring_case& c = case_named(GetParam());
    WAVEFORMATEX format = c.format;
    ring.SetBuffParam(c.buffers, c.size);
    ASSERT_EQ(ring.Open(&format), 0);
    for (int i = 0; i < c.buffers; ++i)
        order.push_back(ring.m_ppBuffs[i]->hdr.lpData);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::thread feeder([this] { feed(); });

    long steps = 0;
    const auto deadline = std::chrono::steady_clock::now() + stress::scaled(3000ms);
    while (std::chrono::steady_clock::now() < deadline) {
        switch (random() % 3) {
        case 0:
            EXPECT_EQ(ring.Pause(), 0);
            break;
        case 1:
            expect_feeding_goes_on([&] { return ring.Restart(); }, "Restart");
            break;
        default:
            expect_feeding_goes_on([&] { return ring.Reset(); }, "Reset");
            break;
        }
        ++steps;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
    }
    stop = true;
    EXPECT_EQ(ring.Restart(), 0);
    stress::await_or_abort([&] { return finished.load(); }, "the feeder's last buffer");
    feeder.join();

    // Every buffer is back with the ring: the device holds none after a
    // reset, and only the current one (element 0) is the client's.
    EXPECT_EQ(ring.Reset(), 0);
    EXPECT_FALSE(sonvale::wave_device::from_handle(ring.m_hWaveOut)->busy());
    for (int i = 0; i < c.buffers; ++i)
        EXPECT_EQ(ring.m_ppBuffs[i]->hdr.dwFlags & WHDR_INQUEUE, 0u) << "buffer " << i;
    EXPECT_EQ(out_of_order.load(), 0);

    std::atomic<bool> closed{false};
    std::thread closer([&] {
        ring.Close();
        closed = true;
    });
    stress::await_or_abort([&] { return closed.load(); }, "closing the ring");
    closer.join();
    EXPECT_EQ(ring.m_hWaveOut, nullptr);

    test_support::report_figure("ring.buffers_fed", fed.load());
    test_support::report_figure("ring.control_steps", steps);
}

INSTANTIATE_TEST_SUITE_P(Rings, RingStress, testing::Values("paced", "instant", "single_buffer"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

} // namespace
