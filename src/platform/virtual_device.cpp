// The virtual output device: a device thread "plays" the queued buffers in
// order at the format's byte rate, in real time, and gives each back when its
// last byte has played. Nothing is heard; only the timing is real.
//
// The clock: an epoch starts when a buffer is queued on an empty device. Its
// stream time runs from 0 at the start of the epoch's first buffer; a buffer
// ends at the stream time of all the bytes played in the epoch up to and
// including it. Stream time advances with the steady clock from m_origin
// (where it read m_origin_ns) while the device plays, and stands still while
// it is paused. Each buffer's end is computed from the accumulated bytes, not
// by adding up per-buffer waits, so late wake-ups do not add up into drift.
#include "platform/buffer_queue.h"
#include "platform/wave_device.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace sonvale {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int64_t k_ns_per_s = 1000000000;

bool valid_bits(uint16_t tag, uint16_t bits) {
    if (tag == WAVE_FORMAT_PCM)
        return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (tag == WAVE_FORMAT_IEEE_FLOAT)
        return bits == 32 || bits == 64;
    return true;
}

// The formats design.md lists: any tag with at least one channel, at least
// one sample per second, a non-zero block alignment and byte rate; PCM and
// IEEE float must also be self-consistent at a supported sample width.
bool format_accepted(const WAVEFORMATEX& f) {
    if (f.nChannels < 1 || f.nSamplesPerSec < 1 || f.nBlockAlign == 0 || f.nAvgBytesPerSec == 0)
        return false;
    if (f.wFormatTag == WAVE_FORMAT_PCM || f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        if (!valid_bits(f.wFormatTag, f.wBitsPerSample))
            return false;
        if (uint32_t(f.nBlockAlign) != uint32_t(f.nChannels) * f.wBitsPerSample / 8)
            return false;
        if (uint64_t(f.nAvgBytesPerSec) != uint64_t(f.nSamplesPerSec) * f.nBlockAlign)
            return false;
    }
    return true;
}

class virtual_device final : public wave_device {
public:
    virtual_device(uint32_t bytes_per_second, wave_out_callback callback, unsigned long instance)
        : wave_device(callback, instance), m_rate(bytes_per_second) {}

    ~virtual_device() override {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    // False when the device thread cannot be started.
    bool start() {
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    int queue(WAVEHDR* header) override {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_queue.push(header)) {
                // A new epoch: the clock starts with this buffer.
                m_done_bytes = 0;
                m_origin_ns = 0;
                m_origin = clock_type::now();
            }
        }
        m_wake.notify_all();
        return WAVE_OK;
    }

    int pause() override {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (m_paused)
                return WAVE_OK;
            if (m_queue.front())
                m_origin_ns += elapsed_ns(m_origin, clock_type::now());
            m_paused = true;
        }
        m_wake.notify_all();
        return WAVE_OK;
    }

    int restart() override {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (!m_paused)
                return WAVE_OK;
            m_paused = false;
            m_origin = clock_type::now();
        }
        m_wake.notify_all();
        return WAVE_OK;
    }

    // The device thread gives the buffers back, so that every callback comes
    // from that one thread, one at a time; this waits until it has.
    int reset() override {
        std::unique_lock<std::mutex> hold(m_lock);
        m_queue.reset(hold, [&] { m_wake.notify_all(); });
        return WAVE_OK;
    }

    bool busy() override {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_queue.busy();
    }

private:
    static int64_t elapsed_ns(clock_type::time_point from, clock_type::time_point to) {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
    }

    // Stream nanoseconds that `bytes` take to play, without overflow for any
    // byte count an epoch can reach.
    int64_t bytes_to_ns(uint64_t bytes) const {
        return int64_t(bytes / m_rate) * k_ns_per_s +
               int64_t((bytes % m_rate) * uint64_t(k_ns_per_s) / m_rate);
    }

    void run() {
        std::unique_lock<std::mutex> hold(m_lock);
        for (;;) {
            if (m_queue.reset_asked()) {
                m_queue.answer_reset(*this, hold);
                continue;
            }
            if (m_quit)
                return;
            const WAVEHDR* head = m_queue.front();
            if (!head || m_paused) {
                m_wake.wait(hold);
                continue;
            }
            const int64_t end_ns = bytes_to_ns(m_done_bytes + head->dwBufferLength);
            const clock_type::time_point end =
                m_origin + std::chrono::nanoseconds(end_ns - m_origin_ns);
            if (clock_type::now() < end) {
                m_wake.wait_until(hold, end);
                continue;
            }
            m_done_bytes += head->dwBufferLength;
            m_queue.give_back_front(*this, hold);
        }
    }

    const uint32_t m_rate;
    std::thread m_thread;

    std::mutex m_lock;
    std::condition_variable m_wake; // the device thread waits on it
    buffer_queue m_queue;
    bool m_paused = false;
    bool m_quit = false;

    // The clock (see the top of the file).
    clock_type::time_point m_origin{};
    int64_t m_origin_ns = 0;
    uint64_t m_done_bytes = 0;
};

} // namespace

int open_virtual_device(const WAVEFORMATEX& format, wave_out_callback callback,
                        unsigned long instance, wave_device** out) {
    *out = nullptr;
    if (!format_accepted(format))
        return WAVE_ERR_BADFORMAT;
    virtual_device* device =
        new (std::nothrow) virtual_device(format.nAvgBytesPerSec, callback, instance);
    if (!device)
        return WAVE_ERR_NOMEM;
    if (!device->start()) {
        delete device;
        return WAVE_ERR_NOMEM;
    }
    *out = device;
    return WAVE_OK;
}

} // namespace sonvale
