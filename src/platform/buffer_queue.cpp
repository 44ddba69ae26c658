#include "platform/buffer_queue.h"

namespace sonvale {

bool buffer_queue::push(WAVEHDR* header) {
    header->lpNext = nullptr;
    const bool first = !m_tail;
    if (first)
        m_head = header;
    else
        m_tail->lpNext = header;
    m_tail = header;
    ++m_outstanding;
    return first;
}

void buffer_queue::give_back_front(wave_device& device, std::unique_lock<std::mutex>& hold) {
    WAVEHDR* header = m_head;
    m_head = header->lpNext;
    if (!m_head)
        m_tail = nullptr;
    give_back(device, header, hold);
}

void buffer_queue::answer_reset(wave_device& device, std::unique_lock<std::mutex>& hold) {
    const uint64_t ticket = m_resets_asked;
    WAVEHDR* header = m_head;
    m_head = m_tail = nullptr;
    while (header) {
        // Read the link first: once given back, the header is the client's.
        WAVEHDR* next = header->lpNext;
        give_back(device, header, hold);
        header = next;
    }
    m_resets_done = ticket;
    m_reset_done.notify_all();
}

void buffer_queue::give_back(wave_device& device, WAVEHDR* header,
                             std::unique_lock<std::mutex>& hold) {
    hold.unlock();
    device.complete(header);
    hold.lock();
    --m_outstanding;
}

} // namespace sonvale
