// The wave output device service: the operations the output ring uses, in the
// manner of the platform's wave output functions. Every call returns 0 on
// success or one of the non-zero wave_result codes.
#pragma once

#include "sonvale.h"

#include <cstdint>

namespace sonvale {

enum wave_result : int {
    WAVE_OK = 0,
    WAVE_ERR_BADDEVICEID = 2, // no device of that name
    WAVE_ERR_INVALHANDLE = 5,
    WAVE_ERR_NODRIVER = 6,
    WAVE_ERR_NOMEM = 7,
    WAVE_ERR_INVALPARAM = 11,
    WAVE_ERR_BADFORMAT = 32,
    WAVE_ERR_STILLPLAYING = 33,
    WAVE_ERR_UNPREPARED = 34,
    WAVE_ERR_NOTANSWERING = 40, // the sound system did not answer in time
    WAVE_ERR_LOST = 41,         // the device failed, or stopped answering
};

struct device_note;

// The signature the device calls back with: (device, message, instance,
// param1, param2). For WOM_DONE, param1 is the WAVEHDR* given back, so the
// values are pointer-sized.
using wave_out_callback = void(SONVALE_CALLBACK*)(HWAVEOUT, unsigned int, DWORD_PTR, DWORD_PTR,
                                                  DWORD_PTR);

// automatic: the system's device where one exists (ALSA's "default", on
// Windows the wave mapper), the virtual device where there is none at all; a
// device that exists but refuses the format still refuses it.
enum class wave_backend { automatic, virtual_device, alsa, winmm };

// The system's own sound system.
#ifdef _WIN32
constexpr wave_backend system_wave_backend = wave_backend::winmm;
#else
constexpr wave_backend system_wave_backend = wave_backend::alsa;
#endif

// The backend the library opens as its default output device: a process-wide
// setting, the one the build was configured with (SONVALE_OUTPUT).
wave_backend default_wave_backend();
// Internal (tests): makes `backend` the default for later opens. Devices
// already open keep their backend.
void select_default_wave_backend(wave_backend backend);
// True when the backend can be opened here at all: ALSA needs alsa-lib
// built in and loadable, winmm a Windows build.
bool wave_backend_available(wave_backend backend);

// Opens the default output device for `format`; the callback receives WOM_OPEN
// before this returns, WOM_DONE for every queued buffer, WOM_CLOSE on close.
int wave_out_open(HWAVEOUT* out, const WAVEFORMATEX* format, wave_out_callback callback,
                  DWORD_PTR instance);
// The same on a chosen backend.
int wave_out_open_on(wave_backend backend, HWAVEOUT* out, const WAVEFORMATEX* format,
                     wave_out_callback callback, DWORD_PTR instance);
// The same on the device called `name` (see output_device_name; null: the
// default backend), with the reason for a failure in `why`.
// WAVE_ERR_BADDEVICEID for a name no device has.
int wave_out_open_named(const char* name, HWAVEOUT* out, const WAVEFORMATEX* format,
                        wave_out_callback callback, DWORD_PTR instance, device_note& why);

// Which way a device moves sound: output plays the buffers queued on it,
// input fills them with what it captures.
enum class wave_direction { output, input };

// The names a device may be opened by: "auto", "silent", "default", then the
// system's devices of that direction. Their count, and the i-th (0 up) into
// `out` (`size` bytes with its terminating zero); false for an index out of
// range or too small a buffer, with the size it needs in `needed` (0 out of
// range).
int device_count(wave_direction direction);
bool device_name(wave_direction direction, int i, char* out, size_t size, size_t& needed);

// The input side of the same service. An input device is opened stopped
// (wave_out_restart starts it, wave_out_pause stops it); buffers are queued
// with wave_out_prepare_header and wave_out_write, and each comes back once,
// in order, with wave_in_data once it is full (dwBytesRecorded: whole
// frames), or with what it holds on a reset. The other calls are those of an
// output device.
constexpr unsigned int wave_in_data = 0x3C0;
// Frames the device could not deliver: param1 the frames (0 when unknown),
// param2 a wave_in_loss. Sent on the device thread, between wave_in_data
// callbacks, at the place in the stream where they are missing.
constexpr unsigned int wave_in_lost = 0x3C8;
enum wave_in_loss : unsigned int {
    wave_in_overrun = 1,   // the sound system's own buffer overran
    wave_in_no_buffer = 2, // no buffer was queued to take the frames
    wave_in_failed = 3,    // the device failed or stopped delivering: it is lost
};
// Opens the input device called `name` ("auto", "silent", "default" or a
// name device_name lists for input) for `format`, as wave_out_open_named.
int wave_in_open_named(const char* name, HWAVEOUT* out, const WAVEFORMATEX* format,
                       wave_out_callback callback, DWORD_PTR instance, device_note& why);

// Sets WHDR_PREPARED (a prepared header stays as it is). WAVE_ERR_INVALPARAM
// for a null header or data pointer.
int wave_out_prepare_header(HWAVEOUT device, WAVEHDR* header);
// Clears WHDR_PREPARED; refused with WAVE_ERR_STILLPLAYING while the header is
// queued (WHDR_INQUEUE).
int wave_out_unprepare_header(HWAVEOUT device, WAVEHDR* header);
// Queues a prepared buffer (WAVE_ERR_UNPREPARED otherwise; one already queued
// is refused with WAVE_ERR_STILLPLAYING): clears WHDR_DONE and sets
// WHDR_INQUEUE. It comes back once through the callback with WOM_DONE, its
// WHDR_INQUEUE cleared and WHDR_DONE set before the callback runs.
int wave_out_write(HWAVEOUT device, WAVEHDR* header);
int wave_out_pause(HWAVEOUT device);
int wave_out_restart(HWAVEOUT device);
// Stops playback and gives back every queued buffer, in order, before it
// returns.
int wave_out_reset(HWAVEOUT device);
// Closes the device; refused with WAVE_ERR_STILLPLAYING while buffers are
// queued. The callback receives WOM_CLOSE before this returns.
// Every call on a null handle returns WAVE_ERR_INVALHANDLE.
int wave_out_close(HWAVEOUT device);
// What a user is told plays the sound of an open device, e.g. "ALSA default";
// null for a null handle.
const char* wave_out_device_name(HWAVEOUT device);
// True once the device failed while playing or stopped answering: it
// refuses every buffer from then on; false for a null handle. A device whose
// thread has been in its sound system for longer than k_answer_limit is
// given up on here: marked lost, every queued buffer given back.
bool wave_out_lost(HWAVEOUT device);
// The sound system's own handle of an open device where a client may call
// that system with it (winmm's HWAVEOUT); null for other devices and for a
// null handle. Valid until the device is closed.
HWAVEOUT wave_out_system_handle(HWAVEOUT device);

} // namespace sonvale
