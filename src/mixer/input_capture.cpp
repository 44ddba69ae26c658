#include "mixer/input_capture.h"

#include "device/wave_device.h"
#include "item/stream_run.h"
#include "platform/last_error.h"
#include "wav/block_size.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

namespace sonvale {

namespace {

// A buffer holds this much sound: the time from a frame's capture to its
// hand-over is at most this, plus the device's own period.
constexpr uint32_t k_buffer_ms = 20;
// Buffers in all: the worker may fall this far behind (about 2 s) before
// captured sound finds no buffer.
constexpr size_t k_buffers = 100;
// Losses the device thread reports between two looks of the relay; more are
// summed into the last.
constexpr size_t k_loss_slots = 32;
// The relay gives finished buffers back to the device as it wakes for full
// ones (one every k_buffer_ms), so it needs no timer of its own; this only
// bounds a wake it missed.
constexpr std::chrono::milliseconds k_relay_look{100};

struct loss_event {
    uint64_t frames;
    uint64_t at; // frames into the capture
    unsigned cause;
};

// A single-producer, single-consumer ring of fixed size: the device thread
// puts, the relay takes; neither waits, nothing is allocated.
template <class T, size_t N> class handoff {
public:
    bool put(const T& value) {
        const size_t in = m_in.load(std::memory_order_relaxed);
        if (in - m_out.load(std::memory_order_acquire) == N)
            return false;
        m_slots[in % N] = value;
        m_in.store(in + 1, std::memory_order_release);
        return true;
    }
    bool take(T& value) {
        const size_t out = m_out.load(std::memory_order_relaxed);
        if (out == m_in.load(std::memory_order_acquire))
            return false;
        value = m_slots[out % N];
        m_out.store(out + 1, std::memory_order_release);
        return true;
    }

private:
    T m_slots[N]{};
    std::atomic<size_t> m_in{0};
    std::atomic<size_t> m_out{0};
};

class input_capture {
public:
    // At most `bytes_left` bytes are queued (all when UINT64_MAX).
    input_capture(const capture_link& link, const WAVEFORMATEX& format, uint64_t bytes_left)
        : m_link(link), m_format(format), m_bytes_left(bytes_left) {}
    ~input_capture();
    input_capture(const input_capture&) = delete;
    input_capture& operator=(const input_capture&) = delete;

    // 0, -1 or -2 as capture_start.
    int start(const char* device);
    // Stops the device, queues what it delivered, and closes it.
    void stop();

private:
    static void SONVALE_CALLBACK on_device(HWAVEOUT, unsigned int message, DWORD_PTR instance,
                                           DWORD_PTR param1, DWORD_PTR param2);
    bool allocate();
    void relay();
    // Posts the buffers the device filled; true when any was taken.
    bool post_filled();
    // Gives the device back the buffers the worker has finished, in order.
    void requeue_finished();
    void count_losses();
    void queue(size_t i);
    void wake_relay();

    const capture_link m_link;
    const WAVEFORMATEX m_format;
    HWAVEOUT m_device = nullptr;
    run_buffers* m_runs = nullptr; // one run per buffer, in the order queued
    stream_run* m_run[k_buffers] = {};
    WAVEHDR m_headers[k_buffers] = {};
    size_t m_oldest_posted = 0;     // the buffer given back to the device next
    size_t m_posted = 0;            // buffers posted and not yet given back
    uint64_t m_bytes_left;          // of the capture asked for
    bool m_waiting[k_buffers] = {}; // posted, waiting for the worker

    uint64_t m_frames_seen = 0; // device thread only: delivered or lost

    handoff<size_t, k_buffers> m_filled;
    handoff<loss_event, k_loss_slots> m_losses;
    std::atomic<uint64_t> m_overflow_frames{0}; // losses the ring had no room for
    std::atomic<bool> m_pending{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_drained{false}; // stopping, and every buffer given back
    std::mutex m_relay_lock;
    std::condition_variable m_relay_wake;
    std::thread m_relay;
};

input_capture::~input_capture() {
    if (m_runs)
        m_runs->release();
}

bool input_capture::allocate() {
    const uint32_t frame = m_format.nBlockAlign;
    const uint64_t frames =
        std::max<uint64_t>(uint64_t(m_format.nSamplesPerSec) * k_buffer_ms / 1000, 1);
    const size_t per_run = size_t(frames * frame);
    m_runs = run_buffers::create(uint64_t(per_run) * k_buffers, per_run, stream_unit(m_format),
                                 k_buffers);
    if (!m_runs)
        return false;
    for (size_t i = 0; i < k_buffers; ++i) {
        stream_run& run = m_runs->next();
        m_runs->prepare(run, per_run);
        m_run[i] = &run;
        m_headers[i].lpData = reinterpret_cast<char*>(run.bytes);
        m_headers[i].dwBufferLength = static_cast<uint32_t>(per_run);
        m_headers[i].dwUser = i;
    }
    return true;
}

int input_capture::start(const char* device) {
    if (!allocate()) {
        set_last_error("out of memory for the capture's buffers");
        return -1;
    }
    device_note why;
    const int opened = wave_in_open_named(device, &m_device, &m_format, &input_capture::on_device,
                                          reinterpret_cast<DWORD_PTR>(this), why);
    if (opened != WAVE_OK) {
        const char* name = device ? device : "auto";
        if (opened == WAVE_ERR_BADDEVICEID)
            set_last_error("there is no input device \"%s\" (MIX_GetInputDeviceName lists them)",
                           name);
        else if (why.text[0])
            set_last_error("the input device \"%s\" does not open: %s", name, why.text);
        else
            set_last_error("the input device \"%s\" does not open for this format (error %d)", name,
                           opened);
        return -2;
    }
    try {
        m_relay = std::thread([this] { relay(); });
    } catch (const std::exception&) {
        wave_out_close(m_device);
        m_device = nullptr;
        set_last_error("cannot start the capture's thread");
        return -1;
    }
    for (size_t i = 0; i < k_buffers; ++i) {
        wave_out_prepare_header(m_device, &m_headers[i]);
        queue(i);
    }
    wave_out_restart(m_device);
    return 0;
}

void input_capture::queue(size_t i) {
    wave_out_write(m_device, &m_headers[i]);
}

void input_capture::stop() {
    m_stopping = true; // nothing is queued on the device from here
    wave_out_pause(m_device);
    // Every buffer comes back, the one being filled with what it holds.
    wave_out_reset(m_device);
    m_drained = true;
    wake_relay();
    m_relay.join();
    wave_out_close(m_device);
}

void SONVALE_CALLBACK input_capture::on_device(HWAVEOUT, unsigned int message, DWORD_PTR instance,
                                               DWORD_PTR param1, DWORD_PTR param2) {
    auto* self = reinterpret_cast<input_capture*>(instance);
    if (message == wave_in_data) {
        const auto* header = reinterpret_cast<const WAVEHDR*>(param1);
        self->m_frames_seen += header->dwBytesRecorded / self->m_format.nBlockAlign;
        self->m_filled.put(size_t(header->dwUser));
    } else if (message == wave_in_lost) {
        const loss_event loss{uint64_t(param1), self->m_frames_seen, unsigned(param2)};
        self->m_frames_seen += loss.frames;
        if (!self->m_losses.put(loss))
            self->m_overflow_frames += std::max<uint64_t>(loss.frames, 1);
    } else {
        return;
    }
    self->wake_relay();
}

void input_capture::wake_relay() {
    // Without the lock: a wake that comes just before the relay sleeps is
    // caught by its next look (k_relay_look).
    m_pending = true;
    m_relay_wake.notify_one();
}

void input_capture::relay() {
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(m_relay_lock);
            m_relay_wake.wait_for(hold, k_relay_look,
                                  [&] { return m_pending.exchange(false) || m_drained; });
        }
        count_losses();
        const bool took = post_filled();
        requeue_finished();
        if (m_drained && !took && !m_pending)
            return;
    }
}

bool input_capture::post_filled() {
    bool took = false;
    size_t i = 0;
    while (m_filled.take(i)) {
        took = true;
        // Past its length the capture goes on unrecorded until stopped.
        const size_t bytes = size_t(std::min<uint64_t>(m_headers[i].dwBytesRecorded, m_bytes_left));
        m_bytes_left -= bytes;
        stream_run& run = *m_run[i];
        m_waiting[i] = bytes > 0;
        ++m_posted;
        if (bytes == 0)
            continue;
        m_runs->prepare(run, bytes);
        m_runs->lend();
        const uint64_t queued = m_link.post(m_link.mixer, run, bytes);
        m_runs->posted(run, queued != 0, queued);
        m_waiting[i] = queued != 0;
    }
    return took;
}

void input_capture::requeue_finished() {
    const uint64_t finished = m_link.finished(m_link.mixer);
    while (m_posted > 0) {
        const size_t i = m_oldest_posted;
        if (m_waiting[i] && finished < m_run[i]->done_at)
            return;
        m_waiting[i] = false;
        m_oldest_posted = (i + 1) % k_buffers;
        --m_posted;
        if (!m_stopping)
            queue(i);
    }
}

// Where in the capture, as m:ss.d.
void format_place(uint64_t frames, uint32_t rate, char (&out)[32]) {
    const uint64_t tenths = frames * 10 / std::max<uint32_t>(rate, 1);
    std::snprintf(out, sizeof out, "%llu:%02llu.%llu",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
}

void input_capture::count_losses() {
    loss_event loss{};
    const uint32_t frame = m_format.nBlockAlign;
    while (m_losses.take(loss)) {
        char place[32];
        format_place(loss.at, m_format.nSamplesPerSec, place);
        char reason[320];
        if (loss.cause == wave_in_overrun)
            std::snprintf(reason, sizeof reason, "the input device overran: %llu frames lost at %s",
                          static_cast<unsigned long long>(loss.frames), place);
        else if (loss.cause == wave_in_no_buffer)
            std::snprintf(reason, sizeof reason,
                          "the worker did not take the captured sound in time: %llu frames lost "
                          "at %s",
                          static_cast<unsigned long long>(loss.frames), place);
        else
            std::snprintf(reason, sizeof reason,
                          "the input device (%s) failed at %s: capture ended",
                          wave_out_device_name(m_device), place);
        // A failure loses what it would have delivered: at least a frame.
        m_link.lose(m_link.mixer, std::max<uint64_t>(loss.frames, 1) * frame, reason);
    }
    const uint64_t overflow = m_overflow_frames.exchange(0);
    if (overflow > 0)
        m_link.lose(m_link.mixer, overflow * frame, "the input device lost frames in many places");
}

using capture_map = std::unordered_map<const CSonvale*, input_capture*>;

struct capture_registry {
    std::mutex lock;
    capture_map live;
};

capture_registry& captures() {
    static capture_registry r;
    return r;
}

bool capture_running(const CSonvale* mixer) {
    capture_registry& r = captures();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.live.count(mixer) != 0;
}

// False when memory runs out.
bool add_capture(const CSonvale* mixer, input_capture* capture) {
    capture_registry& r = captures();
    std::lock_guard<std::mutex> hold(r.lock);
    try {
        r.live.emplace(mixer, capture);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

int capture_start(const capture_link& link, const WAVEFORMATEX& format, const char* device,
                  uint64_t frames) {
    if (capture_running(link.mixer)) {
        set_last_error("a capture runs on this mixer already (MIX_StopInput ends it)");
        return -1;
    }
    std::unique_ptr<input_capture> capture(new (std::nothrow) input_capture(
        link, format, frames == 0 ? UINT64_MAX : frames * format.nBlockAlign));
    if (!capture) {
        set_last_error("out of memory for a capture");
        return -1;
    }
    const int started = capture->start(device);
    if (started != 0)
        return started;
    if (!add_capture(link.mixer, capture.get())) {
        capture->stop();
        set_last_error("out of memory for a capture");
        return -1;
    }
    capture.release();
    return 0;
}

void capture_stop(const CSonvale* mixer) {
    capture_registry& r = captures();
    std::unique_ptr<input_capture> capture;
    {
        std::lock_guard<std::mutex> hold(r.lock);
        const auto found = r.live.find(mixer);
        if (found == r.live.end())
            return;
        capture.reset(found->second);
        r.live.erase(found);
    }
    capture->stop();
}

} // namespace sonvale
