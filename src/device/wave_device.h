// The output device behind an HWAVEOUT: one core for every backend, owning
// the device thread, the buffer queue, completion, the reset handshake and
// pause; a backend supplies only what differs (device_backend below).
// wave_out.cpp keeps the header flags and sends WOM_OPEN and WOM_CLOSE.
//
// What the core promises (the contract the device tests check):
// - Every queued header (WHDR_INQUEUE set; its lpNext is the core's until
//   given back) comes back exactly once, in the order queued, once the
//   backend has taken all of its bytes, through complete() on the device
//   thread, never from inside a client's call and never two at once; the
//   client may reuse or free it as soon as the callback runs.
// - reset() gives back every queued header, in order, before it returns, and
//   no callback for a header queued before the reset runs after it returned.
// - busy() is true from queue() until complete() of the last queued header
//   has returned; the service refuses to close a busy device. The destructor
//   stops the device thread and sends nothing to the callback.
// - A client callback must not call wave_out_reset or wave_out_close on its
//   own device (as on the platform this imitates).
#pragma once

#include "device/wave_out.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace sonvale {

// The sound system's side of one open device. The core calls every member on
// its device thread with the device's lock held, unless said otherwise, so a
// backend needs no lock of its own.
class device_backend {
public:
    using clock_type = std::chrono::steady_clock;

    virtual ~device_backend() = default;

    // What a user is told plays the sound, e.g. "ALSA default".
    virtual const char* name() const = 0;
    // Takes what the device accepts now of the `bytes` at `data`: the count
    // taken, 0 when it has no room, -1 when it failed for good (the rest of
    // the buffer is then dropped).
    virtual int64_t write(const char* data, uint32_t bytes) = 0;
    // Nothing is queued: the stream runs dry from here.
    virtual void idle() {}
    // On the client's thread (lock held): stop the stream where it is, and
    // go on from there.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // A reset: forget what was held back of a split frame; with buffers
    // queued (`queued`), what the device holds of them falls silent too.
    virtual void drop(bool queued) = 0;
    // Closing unpaused, once the device thread has ended (no lock): what the
    // device still holds was given back as played, so it may play out.
    virtual void drain() {}

    // Sleeps until wake() or, with `for_room`, until write() may take more.
    // The default waits on a condition variable of the device's lock until
    // room_at(); a backend with descriptors of its own may poll them instead,
    // releasing `hold` meanwhile.
    virtual void sleep(std::unique_lock<std::mutex>& hold, bool for_room);
    // Ends sleep(); any thread, after a change made under the device's lock.
    virtual void wake();

protected:
    // When the default sleep looks for room again: a backend that cannot
    // tell looks every millisecond.
    virtual clock_type::time_point room_at() {
        return clock_type::now() + std::chrono::milliseconds(1);
    }

private:
    std::condition_variable m_wake;
};

class wave_device {
public:
    wave_device(std::unique_ptr<device_backend> backend, wave_out_callback callback,
                DWORD_PTR instance);
    ~wave_device();

    // Starts the device thread; false when it cannot.
    bool start();

    // Plays `header` after those already queued (WHDR_INQUEUE is set).
    int queue(WAVEHDR* header);
    int pause();
    int restart();
    // Stops playback; every queued buffer is given back, in order, before it
    // returns.
    int reset();
    // True while a buffer is queued or in its callback (close is refused).
    bool busy();
    const char* name() const { return m_backend->name(); }

    HWAVEOUT handle() { return reinterpret_cast<HWAVEOUT>(this); }
    static wave_device* from_handle(HWAVEOUT handle) {
        return reinterpret_cast<wave_device*>(handle);
    }
    // Sends `message` to the client's callback (none when it is null).
    void notify(unsigned int message, DWORD_PTR param1);

    // Guards every change of a header's dwFlags between the service (on the
    // client's threads) and complete() (on the device thread).
    std::mutex& flags_lock() { return m_flags_lock; }

private:
    // What the device thread does after one step of feeding the backend.
    enum class step { again, wait_for_room, idle };

    int set_paused(bool paused);
    void run();
    step feed(std::unique_lock<std::mutex>& hold);
    void answer_reset(std::unique_lock<std::mutex>& hold);
    // Gives back `header`, already unlinked, with the lock released around
    // the callback, so that the client may call the device from there.
    void give_back(WAVEHDR* header, std::unique_lock<std::mutex>& hold);
    // Clears WHDR_INQUEUE, sets WHDR_DONE, then sends WOM_DONE.
    void complete(WAVEHDR* header);

    const wave_out_callback m_callback;
    const DWORD_PTR m_instance;
    std::mutex m_flags_lock;
    const std::unique_ptr<device_backend> m_backend;
    std::thread m_thread;

    std::mutex m_lock;
    WAVEHDR* m_head = nullptr; // the queue, linked through lpNext
    WAVEHDR* m_tail = nullptr;
    uint32_t m_offset = 0;    // bytes of the oldest buffer the backend took
    size_t m_outstanding = 0; // queued, or in their WOM_DONE callback
    uint64_t m_resets_asked = 0;
    uint64_t m_resets_done = 0;
    std::condition_variable m_reset_done;
    bool m_paused = false;
    bool m_quit = false;
};

// True for PCM at 8, 16, 24 or 32 bits, or IEEE float at 32 or 64, whose
// fields agree with each other, so that queued bytes split into whole frames.
bool linear_format_valid(const WAVEFORMATEX& f);

// Each backend's opener: a backend for `format` in `out`, or a non-zero
// wave_result: WAVE_ERR_BADFORMAT for a format it cannot play,
// WAVE_ERR_NODRIVER when there is no such device here.
int open_virtual_backend(const WAVEFORMATEX& format, bool fallback,
                         std::unique_ptr<device_backend>& out);
int open_alsa_backend(const WAVEFORMATEX& format, std::unique_ptr<device_backend>& out);
// True when alsa-lib is built in and can be loaded here.
bool alsa_available();
// The wave mapper; WAVE_ERR_NODRIVER on a system without winmm.
int open_winmm_backend(const WAVEFORMATEX& format, std::unique_ptr<device_backend>& out);

// Opens a device on `backend` (null: WAVE_ERR_NOMEM) as wave_out_open does.
int wave_out_open_backend(std::unique_ptr<device_backend> backend, HWAVEOUT* out,
                          wave_out_callback callback, DWORD_PTR instance);

} // namespace sonvale
