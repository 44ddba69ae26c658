// The device core: the device thread moves the queued buffers into the
// backend in order and gives each back once the backend has taken all of it;
// it alone calls the client back, so callbacks come one at a time, in order.
#include "device/wave_device.h"

#include <exception>
#include <new>

namespace sonvale {

void device_backend::sleep(std::unique_lock<std::mutex>& hold, bool for_room) {
    if (for_room)
        m_wake.wait_until(hold, room_at());
    else
        m_wake.wait(hold);
}

void device_backend::wake() {
    m_wake.notify_all();
}

wave_device::wave_device(std::unique_ptr<device_backend> backend, wave_out_callback callback,
                         DWORD_PTR instance)
    : m_callback(callback), m_instance(instance), m_backend(std::move(backend)) {}

wave_device::~wave_device() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_quit = true;
    }
    m_backend->wake();
    if (m_thread.joinable())
        m_thread.join();
    if (!m_paused)
        m_backend->drain();
}

bool wave_device::start() {
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::exception&) { // no thread or no memory for one
        return false;
    }
    return true;
}

int wave_device::queue(WAVEHDR* header) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        header->lpNext = nullptr;
        if (m_tail)
            m_tail->lpNext = header;
        else
            m_head = header;
        m_tail = header;
        ++m_outstanding;
    }
    m_backend->wake();
    return WAVE_OK;
}

int wave_device::pause() {
    return set_paused(true);
}

int wave_device::restart() {
    return set_paused(false);
}

int wave_device::set_paused(bool paused) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_paused == paused)
            return WAVE_OK;
        m_paused = paused;
        if (paused)
            m_backend->pause();
        else
            m_backend->resume();
    }
    m_backend->wake();
    return WAVE_OK;
}

// The device thread gives the buffers back, so that every callback comes from
// that one thread; this waits until it has.
int wave_device::reset() {
    std::unique_lock<std::mutex> hold(m_lock);
    const uint64_t ticket = ++m_resets_asked;
    m_backend->wake();
    m_reset_done.wait(hold, [&] { return m_resets_done >= ticket; });
    return WAVE_OK;
}

bool wave_device::busy() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_outstanding > 0;
}

void wave_device::notify(unsigned int message, DWORD_PTR param1) {
    if (m_callback)
        m_callback(handle(), message, m_instance, param1, 0);
}

void wave_device::run() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        if (m_resets_done < m_resets_asked) {
            answer_reset(hold);
            continue;
        }
        if (m_quit)
            return;
        const step next = feed(hold);
        if (next != step::again)
            m_backend->sleep(hold, next == step::wait_for_room);
    }
}

// One step: a write into the backend, or the oldest buffer given back.
wave_device::step wave_device::feed(std::unique_lock<std::mutex>& hold) {
    if (m_paused)
        return step::idle;
    WAVEHDR* head = m_head;
    if (!head) {
        m_backend->idle();
        return step::idle;
    }
    if (m_offset == head->dwBufferLength) {
        m_offset = 0;
        m_head = head->lpNext;
        if (!m_head)
            m_tail = nullptr;
        give_back(head, hold);
        return step::again;
    }
    const int64_t taken =
        m_backend->write(head->lpData + m_offset, head->dwBufferLength - m_offset);
    if (taken == 0)
        return step::wait_for_room;
    // A device that failed for good drops the rest of the buffer rather than
    // keep the client waiting for it.
    m_offset = taken > 0 ? m_offset + uint32_t(taken) : head->dwBufferLength;
    return step::again;
}

// Gives back every buffer queued, in order, and answers the resets asked so
// far. With buffers queued, what the backend holds of them falls silent.
void wave_device::answer_reset(std::unique_lock<std::mutex>& hold) {
    const uint64_t ticket = m_resets_asked;
    WAVEHDR* header = m_head;
    m_backend->drop(header != nullptr);
    m_head = m_tail = nullptr;
    m_offset = 0;
    while (header) {
        // Read the link first: once given back, the header is the client's.
        WAVEHDR* next = header->lpNext;
        give_back(header, hold);
        header = next;
    }
    m_resets_done = ticket;
    m_reset_done.notify_all();
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
    notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
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

int wave_out_open_backend(std::unique_ptr<device_backend> backend, HWAVEOUT* out,
                          wave_out_callback callback, DWORD_PTR instance) {
    *out = nullptr;
    if (!backend)
        return WAVE_ERR_NOMEM;
    wave_device* device = new (std::nothrow) wave_device(std::move(backend), callback, instance);
    if (!device)
        return WAVE_ERR_NOMEM;
    if (!device->start()) {
        delete device;
        return WAVE_ERR_NOMEM;
    }
    *out = device->handle();
    device->notify(WOM_OPEN, 0);
    return WAVE_OK;
}

} // namespace sonvale
