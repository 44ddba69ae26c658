// The buffers queued on a device whose own thread gives them back: in order,
// one at a time, each exactly once. Every member is called with the device's
// lock held (`hold`); giving a buffer back releases it around the callback,
// so that the client may call the device from there.
#pragma once

#include "platform/wave_device.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace sonvale {

class buffer_queue {
public:
    // Appends `header` (linked through its lpNext); true when it is the only
    // one queued.
    bool push(WAVEHDR* header);
    // The oldest buffer queued; null when none is.
    WAVEHDR* front() const { return m_head; }
    // True while a buffer is queued or in its WOM_DONE callback.
    bool busy() const { return m_outstanding > 0; }

    // Device thread: gives back the oldest buffer through `device`.
    void give_back_front(wave_device& device, std::unique_lock<std::mutex>& hold);

    // Client's thread: asks the device thread for a reset, wakes it with
    // `wake()`, and waits until it has given back every buffer queued.
    template <class Wake> void reset(std::unique_lock<std::mutex>& hold, Wake wake) {
        const uint64_t ticket = ++m_resets_asked;
        wake();
        m_reset_done.wait(hold, [&] { return m_resets_done >= ticket; });
    }
    // Device thread: true when a reset waits for an answer.
    bool reset_asked() const { return m_resets_done < m_resets_asked; }
    // Device thread: gives back every buffer queued, in order, and answers
    // the resets asked so far.
    void answer_reset(wave_device& device, std::unique_lock<std::mutex>& hold);

private:
    void give_back(wave_device& device, WAVEHDR* header, std::unique_lock<std::mutex>& hold);

    WAVEHDR* m_head = nullptr;
    WAVEHDR* m_tail = nullptr;
    size_t m_outstanding = 0; // queued, or in their WOM_DONE callback
    uint64_t m_resets_asked = 0;
    uint64_t m_resets_done = 0;
    std::condition_variable m_reset_done;
};

} // namespace sonvale
