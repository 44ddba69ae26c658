// The backends behind the wave output service. wave_out.cpp keeps the header
// flags and hands each call to the device an HWAVEOUT stands for; a backend
// plays the queued buffers and gives each back through complete().
#pragma once

#include "wave_out.h"

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
    // Sends `message` to the client's callback.
    void notify(unsigned int message, unsigned long param1);
    // Gives `header` back: clears WHDR_INQUEUE, sets WHDR_DONE, then WOM_DONE.
    void complete(WAVEHDR* header);

private:
    wave_out_callback m_callback;
    unsigned long m_instance;
};

// Each backend's opener: a new device for `format` in `out`, or a non-zero
// wave_result (WAVE_ERR_BADFORMAT for a format it cannot play).
int open_virtual_device(const WAVEFORMATEX& format, wave_out_callback callback,
                        unsigned long instance, wave_device** out);
int open_alsa_device(const WAVEFORMATEX& format, wave_out_callback callback,
                     unsigned long instance, wave_device** out);

} // namespace sonvale
