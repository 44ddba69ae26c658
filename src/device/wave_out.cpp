// The wave output device service: keeps the header flags, sends WOM_OPEN and
// WOM_CLOSE, and hands the rest to the backend an HWAVEOUT stands for.
#include "device/wave_out.h"

#include "device/wave_device.h"

#include <atomic>

namespace sonvale {

namespace {

std::atomic<wave_backend> g_default_backend{wave_backend::SONVALE_DEFAULT_OUTPUT};

#ifdef _WIN32
constexpr wave_backend k_system_backend = wave_backend::winmm;
#else
constexpr wave_backend k_system_backend = wave_backend::alsa;
#endif

int open_backend(wave_backend backend, const WAVEFORMATEX& format,
                 std::unique_ptr<device_backend>& out) {
    switch (backend) {
    case wave_backend::alsa:
        return open_alsa_backend(format, out);
    case wave_backend::winmm:
        return open_winmm_backend(format, out);
    case wave_backend::virtual_device:
        return open_virtual_backend(format, false, out);
    case wave_backend::automatic:
        break;
    }
    // The virtual device only where no device answers at all.
    const int result = open_backend(k_system_backend, format, out);
    return result == WAVE_ERR_NODRIVER ? open_virtual_backend(format, true, out) : result;
}

} // namespace

wave_backend default_wave_backend() {
    return g_default_backend.load(std::memory_order_relaxed);
}

void select_default_wave_backend(wave_backend backend) {
    g_default_backend.store(backend, std::memory_order_relaxed);
}

bool wave_backend_available(wave_backend backend) {
    switch (backend) {
    case wave_backend::alsa:
        return alsa_available();
    case wave_backend::winmm:
#ifdef _WIN32
        return true;
#else
        return false;
#endif
    default:
        return true;
    }
}

#ifndef _WIN32
// winmm is Windows's own.
int open_winmm_backend(const WAVEFORMATEX&, std::unique_ptr<device_backend>&) {
    return WAVE_ERR_NODRIVER;
}
#endif

#ifndef SONVALE_HAVE_ALSA
// Built without alsa-lib's headers: there is no ALSA device.
bool alsa_available() {
    return false;
}

int open_alsa_backend(const WAVEFORMATEX&, std::unique_ptr<device_backend>&) {
    return WAVE_ERR_NODRIVER;
}
#endif

int wave_out_open(HWAVEOUT* out, const WAVEFORMATEX* format, wave_out_callback callback,
                  DWORD_PTR instance) {
    return wave_out_open_on(default_wave_backend(), out, format, callback, instance);
}

int wave_out_open_on(wave_backend backend, HWAVEOUT* out, const WAVEFORMATEX* format,
                     wave_out_callback callback, DWORD_PTR instance) {
    if (!out)
        return WAVE_ERR_INVALPARAM;
    *out = nullptr;
    if (!format)
        return WAVE_ERR_INVALPARAM;
    std::unique_ptr<device_backend> device;
    const int result = open_backend(backend, *format, device);
    if (result != WAVE_OK)
        return result;
    return wave_out_open_backend(std::move(device), out, callback, instance);
}

int wave_out_prepare_header(HWAVEOUT handle, WAVEHDR* header) {
    wave_device* device = wave_device::from_handle(handle);
    if (!device)
        return WAVE_ERR_INVALHANDLE;
    if (!header || !header->lpData)
        return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> hold(device->flags_lock());
    header->dwFlags |= WHDR_PREPARED;
    return WAVE_OK;
}

int wave_out_unprepare_header(HWAVEOUT handle, WAVEHDR* header) {
    wave_device* device = wave_device::from_handle(handle);
    if (!device)
        return WAVE_ERR_INVALHANDLE;
    if (!header)
        return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> hold(device->flags_lock());
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVE_ERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return WAVE_OK;
}

int wave_out_write(HWAVEOUT handle, WAVEHDR* header) {
    wave_device* device = wave_device::from_handle(handle);
    if (!device)
        return WAVE_ERR_INVALHANDLE;
    if (!header)
        return WAVE_ERR_INVALPARAM;
    {
        std::lock_guard<std::mutex> hold(device->flags_lock());
        if (!(header->dwFlags & WHDR_PREPARED))
            return WAVE_ERR_UNPREPARED;
        if (header->dwFlags & WHDR_INQUEUE)
            return WAVE_ERR_STILLPLAYING;
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    }
    int result = device->queue(header);
    if (result != WAVE_OK) {
        std::lock_guard<std::mutex> hold(device->flags_lock());
        header->dwFlags &= ~WHDR_INQUEUE;
    }
    return result;
}

int wave_out_pause(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device ? device->pause() : WAVE_ERR_INVALHANDLE;
}

int wave_out_restart(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device ? device->restart() : WAVE_ERR_INVALHANDLE;
}

int wave_out_reset(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device ? device->reset() : WAVE_ERR_INVALHANDLE;
}

int wave_out_close(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    if (!device)
        return WAVE_ERR_INVALHANDLE;
    if (device->busy())
        return WAVE_ERR_STILLPLAYING;
    device->notify(WOM_CLOSE, 0);
    delete device;
    return WAVE_OK;
}

const char* wave_out_device_name(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device ? device->name() : nullptr;
}

} // namespace sonvale
