// The wave output device service: keeps the header flags, sends WOM_OPEN and
// WOM_CLOSE, and hands the rest to the backend an HWAVEOUT stands for.
#include "device/wave_out.h"

#include "device/device_names.h"
#include "device/wave_device.h"

#include <atomic>
#include <cstdio>

namespace sonvale {

namespace {

std::atomic<wave_backend> g_default_backend{wave_backend::SONVALE_DEFAULT_OUTPUT};

// The silent virtual device; `why` says, after its name, why it plays where
// the system's device was asked for (null: it was asked for itself).
// How a device is opened: its direction, and its callback with the instance.
struct open_request {
    wave_direction direction;
    wave_out_callback callback;
    DWORD_PTR instance;
};

int open_silent(const WAVEFORMATEX& format, const char* why, const open_request& request,
                wave_device** out, device_note& note) {
    return wave_device::open(open_virtual_backend, format, why, "the silent virtual device",
                             request.callback, request.instance, out, note, request.direction);
}

int open_device(wave_backend backend, const char* system, const WAVEFORMATEX& format,
                const open_request& request, wave_device** out, device_note& why) {
    const bool input = request.direction == wave_direction::input;
    char label[200];
    backend_opener opener = nullptr;
    switch (backend) {
    case wave_backend::alsa:
        format_reason(label, sizeof label, "ALSA %s", system);
        opener = input ? open_alsa_input_backend : open_alsa_backend;
        break;
    case wave_backend::winmm:
        format_reason(label, sizeof label, "winmm %s", system);
        opener = input ? open_winmm_input_backend : open_winmm_backend;
        break;
    case wave_backend::virtual_device:
        return open_silent(format, nullptr, request, out, why);
    case wave_backend::automatic:
        break;
    }
    if (opener)
        return wave_device::open(opener, format, system, label, request.callback, request.instance,
                                 out, why, request.direction);
    // The virtual device only where no device answers at all; one that
    // refuses the format still refuses.
    const int result = open_device(system_wave_backend, "default", format, request, out, why);
    if (result == WAVE_ERR_NODRIVER)
        return open_silent(format, "no sound device was found", request, out, why);
    if (result == WAVE_ERR_NOTANSWERING) {
        const device_note late = why;
        why = device_note();
        return open_silent(format, late.text, request, out, why);
    }
    return result;
}

// Hands an open device to the client, with its WOM_OPEN.
void opened(wave_device* device, HWAVEOUT* out) {
    *out = device->handle();
    device->notify(WOM_OPEN, 0);
}

// Every open checks its arguments and the format the same way, whatever the
// backend; a backend refuses more only for what its sound system cannot play.
int open_checked(wave_backend backend, const char* system, HWAVEOUT* out,
                 const WAVEFORMATEX* format, const open_request& request, device_note& why) {
    if (!out)
        return WAVE_ERR_INVALPARAM;
    *out = nullptr;
    if (!format)
        return WAVE_ERR_INVALPARAM;
    if (!format_acceptable(*format))
        return WAVE_ERR_BADFORMAT;
    wave_device* device = nullptr;
    const int result = open_device(backend, system, *format, request, &device, why);
    if (result == WAVE_OK)
        opened(device, out);
    return result;
}

int open_named(const char* name, HWAVEOUT* out, const WAVEFORMATEX* format,
               const open_request& request, device_note& why) {
    if (!name)
        return open_checked(default_wave_backend(), "default", out, format, request, why);
    device_choice choice;
    if (!find_device(request.direction, name, choice)) {
        if (out)
            *out = nullptr;
        return WAVE_ERR_BADDEVICEID;
    }
    return open_checked(choice.backend, choice.system, out, format, request, why);
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
int open_winmm_backend(const WAVEFORMATEX&, const char*, std::unique_ptr<device_backend>&,
                       device_note&) {
    return WAVE_ERR_NODRIVER;
}

int open_winmm_input_backend(const WAVEFORMATEX&, const char*, std::unique_ptr<device_backend>&,
                             device_note&) {
    return WAVE_ERR_NODRIVER;
}

void list_winmm_devices(wave_direction, device_name_fn, void*) {}
#endif

#ifndef SONVALE_HAVE_ALSA
// Built without alsa-lib's headers: there is no ALSA device.
bool alsa_available() {
    return false;
}

int open_alsa_backend(const WAVEFORMATEX&, const char*, std::unique_ptr<device_backend>&,
                      device_note&) {
    return WAVE_ERR_NODRIVER;
}

int open_alsa_input_backend(const WAVEFORMATEX&, const char*, std::unique_ptr<device_backend>&,
                            device_note&) {
    return WAVE_ERR_NODRIVER;
}

void list_alsa_devices(wave_direction, device_name_fn, void*) {}
#endif

int wave_out_open(HWAVEOUT* out, const WAVEFORMATEX* format, wave_out_callback callback,
                  DWORD_PTR instance) {
    return wave_out_open_on(default_wave_backend(), out, format, callback, instance);
}

int wave_out_open_on(wave_backend backend, HWAVEOUT* out, const WAVEFORMATEX* format,
                     wave_out_callback callback, DWORD_PTR instance) {
    device_note ignored;
    return open_checked(backend, "default", out, format,
                        open_request{wave_direction::output, callback, instance}, ignored);
}

int wave_out_open_named(const char* name, HWAVEOUT* out, const WAVEFORMATEX* format,
                        wave_out_callback callback, DWORD_PTR instance, device_note& why) {
    return open_named(name, out, format, open_request{wave_direction::output, callback, instance},
                      why);
}

int wave_in_open_named(const char* name, HWAVEOUT* out, const WAVEFORMATEX* format,
                       wave_out_callback callback, DWORD_PTR instance, device_note& why) {
    return open_named(name ? name : "auto", out, format,
                      open_request{wave_direction::input, callback, instance}, why);
}

namespace {

int open_adopted(std::unique_ptr<device_backend> backend, HWAVEOUT* out,
                 const open_request& request, uint32_t frame_bytes) {
    *out = nullptr;
    wave_device* device = nullptr;
    const int result = wave_device::adopt(std::move(backend), request.callback, request.instance,
                                          &device, request.direction, frame_bytes);
    if (result == WAVE_OK)
        opened(device, out);
    return result;
}

} // namespace

int wave_out_open_backend(std::unique_ptr<device_backend> backend, HWAVEOUT* out,
                          wave_out_callback callback, DWORD_PTR instance) {
    return open_adopted(std::move(backend), out,
                        open_request{wave_direction::output, callback, instance}, 1);
}

int wave_in_open_backend(std::unique_ptr<device_backend> backend, uint32_t frame_bytes,
                         HWAVEOUT* out, wave_out_callback callback, DWORD_PTR instance) {
    return open_adopted(std::move(backend), out,
                        open_request{wave_direction::input, callback, instance}, frame_bytes);
}

namespace {

// The device of `handle`, for a call on `header`; null with `error` set when
// either cannot be used.
wave_device* device_for(HWAVEOUT handle, const WAVEHDR* header, int& error) {
    wave_device* device = wave_device::from_handle(handle);
    error = !device ? WAVE_ERR_INVALHANDLE : !header ? WAVE_ERR_INVALPARAM : WAVE_OK;
    return error == WAVE_OK ? device : nullptr;
}

} // namespace

int wave_out_prepare_header(HWAVEOUT handle, WAVEHDR* header) {
    int error = WAVE_OK;
    wave_device* device = device_for(handle, header, error);
    if (!device)
        return error;
    if (!header->lpData)
        return WAVE_ERR_INVALPARAM;
    std::lock_guard<std::mutex> hold(device->flags_lock());
    header->dwFlags |= WHDR_PREPARED;
    return WAVE_OK;
}

int wave_out_unprepare_header(HWAVEOUT handle, WAVEHDR* header) {
    int error = WAVE_OK;
    wave_device* device = device_for(handle, header, error);
    if (!device)
        return error;
    std::lock_guard<std::mutex> hold(device->flags_lock());
    if (header->dwFlags & WHDR_INQUEUE)
        return WAVE_ERR_STILLPLAYING;
    header->dwFlags &= ~WHDR_PREPARED;
    return WAVE_OK;
}

int wave_out_write(HWAVEOUT handle, WAVEHDR* header) {
    int error = WAVE_OK;
    wave_device* device = device_for(handle, header, error);
    if (!device)
        return error;
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
    device->close();
    return WAVE_OK;
}

const char* wave_out_device_name(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device ? device->name() : nullptr;
}

bool wave_out_lost(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device && device->lost();
}

HWAVEOUT wave_out_system_handle(HWAVEOUT handle) {
    wave_device* device = wave_device::from_handle(handle);
    return device ? device->system_handle() : nullptr;
}

} // namespace sonvale
