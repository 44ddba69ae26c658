// The device core: the device thread opens the backend, moves the queued
// buffers into it in order and gives each back once the backend has taken
// all of it; it alone calls the client back, so callbacks come one at a
// time, in order. Client calls only ever wait on it for k_answer_limit.
#include "device/wave_device.h"

#include "device/device_names.h"
#include "platform/thread.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace sonvale {

namespace {

// Bytes handed to the backend at a time: a few milliseconds of any format.
constexpr uint32_t k_bounce_bytes = 16384;

// Reads a stopping capture makes at most of what its device holds.
constexpr int k_final_reads = 64;

} // namespace

void device_note::set(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_reason(text, sizeof text, format, args);
    va_end(args);
}

void device_backend::sleep(std::unique_lock<std::mutex>& hold, bool for_room) {
    if (for_room)
        m_wake.wait_until(hold, room_at());
    else
        m_wake.wait(hold);
}

void device_backend::wake() {
    m_wake.notify_all();
}

int64_t device_backend::read(char*, uint32_t, uint64_t&) {
    return -1; // an output backend captures nothing
}

wave_device::wave_device(wave_out_callback callback, DWORD_PTR instance, wave_direction direction,
                         uint32_t frame_bytes)
    : m_callback(callback), m_instance(instance), m_input(direction == wave_direction::input),
      m_frame_bytes(std::clamp<uint32_t>(frame_bytes, 1, k_bounce_bytes)), m_paused(m_input),
      m_backend_paused(m_input) {}

wave_device::~wave_device() {
    delete[] m_device_name;
}

int wave_device::open(backend_opener open, const WAVEFORMATEX& format, const char* device,
                      const char* label, wave_out_callback callback, DWORD_PTR instance,
                      wave_device** out, device_note& why, wave_direction direction) {
    *out = nullptr;
    wave_device* self =
        new (std::nothrow) wave_device(callback, instance, direction, format.nBlockAlign);
    if (!self)
        return WAVE_ERR_NOMEM;
    if (!self->start(open, format, device)) {
        delete self;
        return WAVE_ERR_NOMEM;
    }
    std::unique_lock<std::mutex> hold(self->m_lock);
    if (!self->wait_past(phase::opening, hold)) {
        why.set("%s did not answer within %.1f s", label,
                std::chrono::duration<double>(k_answer_limit).count());
        self->abandon(hold);
        hold.unlock();
        self->release();
        return WAVE_ERR_NOTANSWERING;
    }
    const int result = self->m_open_result;
    if (result != WAVE_OK) {
        why = self->m_open_note;
        hold.unlock();
        self->close();
        return result;
    }
    *out = self;
    return WAVE_OK;
}

int wave_device::adopt(std::unique_ptr<device_backend> backend, wave_out_callback callback,
                       DWORD_PTR instance, wave_device** out, wave_direction direction,
                       uint32_t frame_bytes) {
    *out = nullptr;
    if (!backend)
        return WAVE_ERR_NOMEM;
    wave_device* self = new (std::nothrow) wave_device(callback, instance, direction, frame_bytes);
    if (!self)
        return WAVE_ERR_NOMEM;
    self->m_backend = std::move(backend);
    if (!self->start(nullptr, WAVEFORMATEX{}, nullptr)) {
        delete self;
        return WAVE_ERR_NOMEM;
    }
    *out = self;
    return WAVE_OK;
}

bool wave_device::start(backend_opener open, const WAVEFORMATEX& format, const char* device) {
    m_bounce.reset(new (std::nothrow) char[k_bounce_bytes]);
    if (device) {
        m_device_name = new (std::nothrow) char[std::strlen(device) + 1];
        if (m_device_name)
            std::strcpy(m_device_name, device);
    }
    if (!m_bounce || (device && !m_device_name))
        return false;
    try {
        m_thread = std::thread([this, open, format] { thread_main(open, format, m_device_name); });
    } catch (const std::exception&) { // no thread or no memory for one
        return false;
    }
    return true;
}

bool wave_device::wait_past(phase from, std::unique_lock<std::mutex>& hold) {
    return m_changed.wait_for(hold, k_answer_limit, [&] { return m_phase != from; });
}

void wave_device::abandon(std::unique_lock<std::mutex>& hold) {
    m_abandoned = true;
    m_quit = true;
    m_lost = true;
    wake_thread();
    hold.unlock();
    m_thread.detach();
    hold.lock();
}

void wave_device::wake_thread() {
    ++m_wakes;
    if (m_backend)
        m_backend->wake();
}

void wave_device::release() {
    if (m_refs.fetch_sub(1) == 1)
        delete this;
}

void wave_device::close() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_quit = true;
    wake_thread();
    const bool ended = m_stuck ? m_phase == phase::ended : wait_past(phase::running, hold);
    if (ended) {
        hold.unlock();
        m_thread.join();
    } else {
        abandon(hold);
        hold.unlock();
    }
    release();
}

void wave_device::thread_main(backend_opener open, WAVEFORMATEX format, const char* device) {
    std::unique_ptr<device_backend> backend;
    int result = WAVE_OK;
    device_note note;
    if (open) {
        try {
            result = open(format, device, backend, note);
        } catch (const std::exception&) { // a sound system's own allocation
            result = WAVE_ERR_NOMEM;
        }
    }
    std::unique_lock<std::mutex> hold(m_lock);
    if (open) {
        m_backend = std::move(backend);
        m_open_result = result;
        m_open_note = note;
    }
    if (m_backend) {
        m_name = lasting_name(m_backend->name());
        m_system_handle = m_backend->system_handle();
    }
    m_phase = result == WAVE_OK && !m_abandoned ? phase::running : phase::ended;
    m_changed.notify_all();
    if (m_phase == phase::running) {
        // Capture must keep up with the device, as the worker with its inbox.
        if (m_input)
            thread_raise_own_priority();
        run(hold);
    }
    // A lost device gave its buffers back unplayed; a capture plays nothing.
    const bool play_out = !m_paused && !m_abandoned && !m_lost && !m_input;
    backend = std::move(m_backend);
    hold.unlock();
    if (play_out && backend)
        backend->drain();
    // Closed here, so that a sound system that hangs in its close holds up
    // only this thread.
    backend.reset();
    hold.lock();
    m_phase = phase::ended;
    m_changed.notify_all();
    hold.unlock();
    release();
}

int wave_device::queue(WAVEHDR* header) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_lost)
            return WAVE_ERR_LOST;
        header->lpNext = nullptr;
        if (m_input)
            header->dwBytesRecorded = 0;
        if (m_tail)
            m_tail->lpNext = header;
        else
            m_head = header;
        m_tail = header;
        ++m_outstanding;
        wake_thread();
    }
    return WAVE_OK;
}

int wave_device::pause() {
    return set_paused(true);
}

int wave_device::restart() {
    return set_paused(false);
}

int wave_device::set_paused(bool paused) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_paused != paused) {
        m_paused = paused;
        m_paused_at = device_backend::clock_type::now();
        wake_thread();
    }
    return WAVE_OK;
}

// The device thread gives the buffers back, so that every callback comes from
// that one thread; this waits until it has, or until it is clear that it
// will not answer: then the queue is given back from here.
int wave_device::reset() {
    std::unique_lock<std::mutex> hold(m_lock);
    if (!m_stuck) {
        const uint64_t ticket = ++m_resets_asked;
        wake_thread();
        if (m_changed.wait_for(hold, k_answer_limit, [&] { return m_resets_done >= ticket; }))
            return WAVE_OK;
    }
    give_up(hold);
    return WAVE_ERR_NOTANSWERING;
}

void wave_device::give_up(std::unique_lock<std::mutex>& hold) {
    m_stuck = true;
    m_lost = true;
    give_back_queue(nullptr, hold);
}

bool wave_device::lost() {
    std::unique_lock<std::mutex> hold(m_lock);
    if (!m_lost && m_in_call && device_backend::clock_type::now() - m_call_started > k_answer_limit)
        give_up(hold);
    return m_lost;
}

HWAVEOUT wave_device::system_handle() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_system_handle;
}

bool wave_device::busy() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_outstanding > 0;
}

void wave_device::notify(unsigned int message, DWORD_PTR param1, DWORD_PTR param2) {
    if (m_callback)
        m_callback(handle(), message, m_instance, param1, param2);
}

void wave_device::run(std::unique_lock<std::mutex>& hold) {
    for (;;) {
        // A capture stopped and reset keeps what it took in before the stop.
        if (m_input && m_backend_paused != m_paused) {
            apply_pause(hold);
            continue;
        }
        if (m_resets_done < m_resets_asked) {
            answer_reset(hold);
            continue;
        }
        if (m_quit)
            return;
        if (m_backend_paused != m_paused) {
            apply_pause(hold);
            continue;
        }
        // A wake while feed() had the lock released must not be slept
        // through.
        const uint64_t wakes = m_wakes;
        const step next = m_lost ? step::idle : m_input ? capture(hold, false) : feed(hold);
        if (next != step::again && wakes == m_wakes)
            m_backend->sleep(hold, next == step::wait_for_room);
    }
}

template <class Call>
void wave_device::call_backend(std::unique_lock<std::mutex>& hold, Call call) {
    m_in_call = true;
    m_call_started = device_backend::clock_type::now();
    hold.unlock();
    call(*m_backend);
    hold.lock();
    m_in_call = false;
}

void wave_device::apply_pause(std::unique_lock<std::mutex>& hold) {
    const bool paused = m_paused;
    // A capture stopping takes in first what the device holds already.
    for (int i = 0; m_input && paused && !m_lost && i < k_final_reads; ++i)
        if (capture(hold, true) != step::again)
            break;
    const auto at = m_paused_at;
    m_backend_paused = paused;
    m_delivered = at;
    call_backend(hold, [&](device_backend& backend) {
        if (paused)
            backend.pause(at);
        else
            backend.resume(at);
    });
}

// One step: a write into the backend, or the oldest buffer given back.
wave_device::step wave_device::feed(std::unique_lock<std::mutex>& hold) {
    if (m_paused)
        return step::idle;
    WAVEHDR* head = m_head;
    if (!head) {
        call_backend(hold, [](device_backend& backend) { backend.idle(); });
        return m_head ? step::again : step::idle;
    }
    if (m_offset == head->dwBufferLength) {
        m_offset = 0;
        m_head = head->lpNext;
        if (!m_head)
            m_tail = nullptr;
        give_back(head, hold);
        return step::again;
    }
    const uint32_t bytes = std::min<uint32_t>(head->dwBufferLength - m_offset, k_bounce_bytes);
    std::memcpy(m_bounce.get(), head->lpData + m_offset, bytes);
    int64_t taken = 0;
    call_backend(hold,
                 [&](device_backend& backend) { taken = backend.write(m_bounce.get(), bytes); });
    if (taken < 0) {
        fail(hold);
        return step::idle;
    }
    // A reset answered meanwhile (only this thread answers) cannot have
    // happened; the queue is the same unless the device was lost.
    if (m_head != head)
        return step::again;
    if (taken == 0)
        return step::wait_for_room;
    m_offset += uint32_t(taken);
    return step::again;
}

// One step of capture: the oldest buffer given back once it has no room for
// another frame, or one read into it. Frames read with no buffer queued are
// reported lost, as is a device that delivers nothing for k_answer_limit.
wave_device::step wave_device::capture(std::unique_lock<std::mutex>& hold, bool stopping) {
    if (m_paused && !stopping)
        return step::idle;
    WAVEHDR* head = m_head;
    if (head && head->dwBufferLength - m_offset < m_frame_bytes) {
        m_offset = 0;
        m_head = head->lpNext;
        if (!m_head)
            m_tail = nullptr;
        give_back(head, hold);
        return step::again;
    }
    uint32_t bytes =
        head ? std::min<uint32_t>(uint32_t(head->dwBufferLength - m_offset), k_bounce_bytes)
             : k_bounce_bytes;
    bytes -= bytes % m_frame_bytes;
    uint64_t overrun = 0;
    int64_t got = 0;
    call_backend(
        hold, [&](device_backend& backend) { got = backend.read(m_bounce.get(), bytes, overrun); });
    const auto now = device_backend::clock_type::now();
    if (overrun > 0)
        report_loss(overrun, wave_in_overrun, hold);
    if (got < 0 || (got == 0 && !stopping && now - m_delivered > k_answer_limit)) {
        fail(hold);
        return step::idle;
    }
    if (got == 0)
        return step::wait_for_room;
    m_delivered = now;
    // Only this thread gives buffers back, so the head is the same unless
    // one was queued meanwhile or a reset was answered from outside.
    if (!head || m_head != head) {
        report_loss(uint64_t(got) / m_frame_bytes, wave_in_no_buffer, hold);
        return step::again;
    }
    std::memcpy(head->lpData + m_offset, m_bounce.get(), size_t(got));
    m_offset += uint32_t(got);
    head->dwBytesRecorded = m_offset;
    return step::again;
}

void wave_device::report_loss(uint64_t frames, unsigned int cause,
                              std::unique_lock<std::mutex>& hold) {
    hold.unlock();
    notify(wave_in_lost, DWORD_PTR(frames), cause);
    hold.lock();
}

void wave_device::fail(std::unique_lock<std::mutex>& hold) {
    m_lost = true;
    if (m_input)
        report_loss(0, wave_in_failed, hold);
    give_back_queue(nullptr, hold);
}

// Gives back every buffer queued when the reset was asked, in order, and
// answers the resets asked so far. With buffers queued, what the backend
// holds of them falls silent.
void wave_device::answer_reset(std::unique_lock<std::mutex>& hold) {
    const uint64_t ticket = m_resets_asked;
    WAVEHDR* last = m_tail;
    call_backend(hold, [&](device_backend& backend) { backend.drop(last != nullptr); });
    m_offset = 0;
    // A client that stopped waiting took the queue already.
    if (last && !m_lost)
        give_back_queue(last, hold);
    m_resets_done = ticket;
    m_changed.notify_all();
}

void wave_device::give_back_queue(WAVEHDR* last, std::unique_lock<std::mutex>& hold) {
    WAVEHDR* header = m_head;
    WAVEHDR* end = last ? last->lpNext : nullptr;
    m_head = end;
    if (!m_head)
        m_tail = nullptr;
    m_offset = 0;
    while (header != end) {
        // Read the link first: once given back, the header is the client's.
        WAVEHDR* next = header->lpNext;
        give_back(header, hold);
        header = next;
    }
}

void wave_device::give_back(WAVEHDR* header, std::unique_lock<std::mutex>& hold) {
    hold.unlock();
    complete(header);
    hold.lock();
    --m_outstanding;
}

void wave_device::complete(WAVEHDR* header) {
    {
        std::lock_guard<std::mutex> hold(m_flags_lock);
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    }
    notify(m_input ? wave_in_data : WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
}

bool linear_format_valid(const WAVEFORMATEX& f) {
    const unsigned bits = f.wBitsPerSample;
    const bool width = f.wFormatTag == WAVE_FORMAT_PCM
                           ? bits == 8 || bits == 16 || bits == 24 || bits == 32
                           : f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && (bits == 32 || bits == 64);
    return width && f.nChannels >= 1 && f.nSamplesPerSec >= 1 &&
           uint32_t(f.nBlockAlign) == uint32_t(f.nChannels) * bits / 8 &&
           uint64_t(f.nAvgBytesPerSec) == uint64_t(f.nSamplesPerSec) * f.nBlockAlign;
}

bool format_acceptable(const WAVEFORMATEX& f) {
    if (f.wFormatTag == WAVE_FORMAT_PCM || f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return linear_format_valid(f);
    return f.nChannels >= 1 && f.nSamplesPerSec >= 1 && f.nBlockAlign != 0 &&
           f.nAvgBytesPerSec != 0;
}

} // namespace sonvale
