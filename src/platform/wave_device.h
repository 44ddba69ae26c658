// The backends behind the wave output service. wave_out.cpp keeps the header
// flags, sends WOM_OPEN and WOM_CLOSE, and hands each other call to the device
// an HWAVEOUT stands for; a backend plays the queued buffers and gives each
// back through complete().
//
// What a backend promises:
// - queue() takes a header whose WHDR_INQUEUE is already set; the backend may
//   use its lpNext and reserved fields until it gives the header back.
// - Every queued header is given back exactly once, in the order queued,
//   through complete(), called on a thread of the backend's own (never from
//   inside queue/pause/restart/reset/busy on the caller's thread) and never
//   for two headers at once. complete() is the last time the backend touches
//   a header: the client may reuse or free it as soon as the callback runs.
// - reset() gives back every queued header, in order, before it returns, and
//   no callback for a header queued before the reset is running or still to
//   come once it has returned.
// - busy() is true from queue() until complete() of the last queued header
//   has returned; the service refuses to close a busy device.
// - The destructor stops the backend's threads; it runs only when the device
//   is not busy, and sends nothing to the callback.
// - A client callback must not call wave_out_reset or wave_out_close on its
//   own device (as on the platform this imitates).
#pragma once

#include "wave_out.h"

#include <mutex>

namespace sonvale {

class wave_device {
public:
    wave_device(wave_out_callback callback, unsigned long instance)
        : m_callback(callback), m_instance(instance) {}
    virtual ~wave_device() = default;
    wave_device(const wave_device&) = delete;
    wave_device& operator=(const wave_device&) = delete;

    // Starts playing `header` after those already queued (WHDR_INQUEUE is set).
    virtual int queue(WAVEHDR* header) = 0;
    virtual int pause() = 0;
    virtual int restart() = 0;
    // Stops playback; every queued buffer is given back, in order, before it
    // returns.
    virtual int reset() = 0;
    // True while a buffer is queued (close is refused then).
    virtual bool busy() = 0;

    HWAVEOUT handle() { return reinterpret_cast<HWAVEOUT>(this); }
    static wave_device* from_handle(HWAVEOUT handle) {
        return reinterpret_cast<wave_device*>(handle);
    }
    // Sends `message` to the client's callback (none when it is null).
    void notify(unsigned int message, unsigned long param1);
    // Gives `header` back: clears WHDR_INQUEUE, sets WHDR_DONE, then WOM_DONE.
    void complete(WAVEHDR* header);

    // Guards every change of a header's dwFlags between the service (on the
    // client's threads) and complete() (on the device's thread).
    std::mutex& flags_lock() { return m_flags_lock; }

private:
    wave_out_callback m_callback;
    unsigned long m_instance;
    std::mutex m_flags_lock;
};

// Each backend's opener: a new device for `format` in `out`, or a non-zero
// wave_result (WAVE_ERR_BADFORMAT for a format it cannot play).
int open_virtual_device(const WAVEFORMATEX& format, wave_out_callback callback,
                        unsigned long instance, wave_device** out);
int open_alsa_device(const WAVEFORMATEX& format, wave_out_callback callback, unsigned long instance,
                     wave_device** out);

} // namespace sonvale
