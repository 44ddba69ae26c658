// The virtual device: a clock that takes the bytes as they "play", at the
// format's byte rate, in real time; nothing is heard. Capturing, it delivers
// silence on the same clock, a few milliseconds at a time.
//
// A stream starts with the first write after the device ran dry or was
// reset; its time runs with the steady clock from m_origin (where it read
// m_origin_ns) and stands still while paused. By stream time t the clock has
// taken every byte t plays, so a buffer comes back once its last byte has
// played, on a schedule of the stream's bytes that late wake-ups do not
// drift, and a wait that ends early merely takes fewer bytes and waits again.
#include "device/wave_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace sonvale {

namespace {

constexpr uint64_t k_ns_per_s = 1000000000;

// The least a capture delivers at once (unless asked for less), so that the
// device thread wakes about 100 times a second.
constexpr uint64_t k_capture_ms = 10;

class virtual_backend final : public device_backend {
public:
    // `why` says why it plays where the system's device was asked for.
    virtual_backend(const WAVEFORMATEX& format, const char* why)
        : m_rate(format.nAvgBytesPerSec), m_frame(std::max<uint32_t>(format.nBlockAlign, 1)),
          m_silence(format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 8 ? 0x80 : 0) {
        if (why)
            format_reason(m_name, sizeof m_name, "the silent virtual device: %s", why);
        else
            std::snprintf(m_name, sizeof m_name, "the silent virtual device");
    }

    const char* name() const override { return m_name; }

    int64_t write(const char*, uint32_t bytes) override {
        const uint64_t taken = std::min<uint64_t>(bytes, due());
        m_taken += taken;
        m_wanted = m_taken + (bytes - taken);
        return int64_t(taken);
    }

    int64_t read(char* data, uint32_t bytes, uint64_t&) override {
        const uint64_t least =
            std::min<uint64_t>(bytes, std::max<uint64_t>(m_rate * k_capture_ms / 1000, m_frame));
        uint64_t n = std::min<uint64_t>(bytes, due());
        n -= n % m_frame;
        if (n < least) {
            m_wanted = m_taken + least;
            return 0;
        }
        std::memset(data, m_silence, size_t(n));
        m_taken += n;
        return int64_t(n);
    }

    void idle() override { m_running = false; }

    void pause(clock_type::time_point at) override {
        if (m_running)
            m_origin_ns += elapsed_ns(std::max(at, m_origin));
    }

    void resume(clock_type::time_point at) override { m_origin = at; }

    void drop(bool) override { m_running = false; }

protected:
    // When the last byte asked for has played.
    clock_type::time_point room_at() override {
        return m_origin +
               std::chrono::nanoseconds(int64_t(ns_for(m_wanted)) - int64_t(m_origin_ns));
    }

private:
    // Bytes the clock has played (captured) and not yet taken; the stream
    // starts with the first call after it ran dry or was reset.
    uint64_t due() {
        if (!m_running) {
            m_running = true;
            m_taken = 0;
            m_origin_ns = 0;
            m_origin = clock_type::now();
        }
        const uint64_t played = bytes_played(m_origin_ns + elapsed_ns(clock_type::now()));
        // A write just after a pause was asked for may have taken a little
        // beyond the point the clock stopped at.
        return played > m_taken ? played - m_taken : 0;
    }

    uint64_t elapsed_ns(clock_type::time_point now) const {
        return uint64_t(
            std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_origin).count());
    }

    // Bytes played by stream time `ns`, and the first stream time by which
    // `bytes` have played; exact, and without overflow for any stream.
    uint64_t bytes_played(uint64_t ns) const {
        return ns / k_ns_per_s * m_rate + ns % k_ns_per_s * m_rate / k_ns_per_s;
    }
    uint64_t ns_for(uint64_t bytes) const {
        return bytes / m_rate * k_ns_per_s + (bytes % m_rate * k_ns_per_s + m_rate - 1) / m_rate;
    }

    const uint64_t m_rate;
    const uint32_t m_frame;
    const unsigned char m_silence; // 8-bit PCM is unsigned
    char m_name[224];
    bool m_running = false;
    clock_type::time_point m_origin{};
    uint64_t m_origin_ns = 0;
    uint64_t m_taken = 0;  // bytes of the stream played and taken
    uint64_t m_wanted = 0; // bytes of the stream the last write asked for
};

} // namespace

int open_virtual_backend(const WAVEFORMATEX& format, const char* device,
                         std::unique_ptr<device_backend>& out, device_note&) {
    out.reset(new (std::nothrow) virtual_backend(format, device));
    return out ? WAVE_OK : WAVE_ERR_NOMEM;
}

} // namespace sonvale
