// The flat entry points: a handle is the address of a mixer in the
// registry's storage, and each function forwards to one member of it. Each
// call holds the handle in the registry of live mixers for its duration: a
// closed or made-up one gets the null-handle result, and MIX_Close waits for
// the calls in progress before it stops the mixer.
#include "sonvale.h"

#include "mixer/mixer_registry.h"
#include "platform/last_error.h"
#include "wav/format_text.h"

namespace {

// Sets the reason for a handle that is not a live mixer's.
void refuse_handle(HSONVALE handle) {
    sonvale::set_last_error(handle ? "not a mixer handle, or one closed already"
                                   : "no mixer handle was given");
}

// A new mixer on which `init` has succeeded, registered, as a handle; null
// otherwise.
template <class Init> HSONVALE open_mixer(WAVEFORMATEX* format, Init init) {
    if (!format) {
        sonvale::set_last_error("no format was given");
        return nullptr;
    }
    CSonvale* mixer = sonvale::registry_new_mixer();
    if (!mixer) {
        sonvale::set_last_error("out of memory for a mixer");
        return nullptr;
    }
    if (init(*mixer) != 0) {
        sonvale::registry_discard(mixer); // the mixer gave the reason
        return nullptr;
    }
    if (!sonvale::registry_add(mixer)) {
        sonvale::registry_discard(mixer);
        sonvale::set_last_error("out of memory for a mixer");
        return nullptr;
    }
    return reinterpret_cast<HSONVALE>(mixer);
}

// `call(mixer)` on the live mixer behind `handle`, held meanwhile; `invalid`
// without one.
template <class Result, class Call> Result with_mixer(HSONVALE handle, Result invalid, Call call) {
    CSonvale* m = sonvale::registry_acquire(handle);
    if (!m) {
        refuse_handle(handle);
        return invalid;
    }
    const Result result = call(*m);
    sonvale::registry_release(m);
    return result;
}

// True when `m` may start a recording whose header says `rate`, `channels`
// and `bits`: the mixer's own format, for the worker records its blocks in
// that format, or any while a recording is open (it goes on unchanged). Else
// false with the reason, naming both.
bool header_fits_mixer(CSonvale& m, unsigned long rate, unsigned short channels,
                       unsigned short bits) {
    const WAVEFORMATEX& mixer = m.m_waveOut.m_waveFormate;
    if ((rate == mixer.nSamplesPerSec && channels == mixer.nChannels &&
         bits == mixer.wBitsPerSample) ||
        m.m_recorder.isOpen())
        return true;
    WAVEFORMATEX header = mixer;
    header.nSamplesPerSec = static_cast<uint32_t>(rate);
    header.nChannels = channels;
    header.wBitsPerSample = bits;
    sonvale::set_last_error("a recording of %s cannot be opened on a mixer of %s: the mixer "
                            "records only its own format",
                            sonvale::format_text(header).c_str(),
                            sonvale::format_text(mixer).c_str());
    return false;
}

} // namespace

HSONVALE MIX_Init(WAVEFORMATEX* format, CWnd* notifyWnd) {
    return open_mixer(format, [&](CSonvale& m) { return m.MIX_Init(format, notifyWnd); });
}

HSONVALE MIX_InitEx(WAVEFORMATEX* format, int buffNum, int buffSize, CWnd* notifyWnd) {
    return open_mixer(
        format, [&](CSonvale& m) { return m.MIX_InitEx(format, buffNum, buffSize, notifyWnd); });
}

HSONVALE MIX_InitOn(const char* device, WAVEFORMATEX* format, int buffNum, int buffSize,
                    CWnd* notifyWnd) {
    return open_mixer(format, [&](CSonvale& m) {
        return m.MIX_InitOn(device, format, buffNum, buffSize, notifyWnd);
    });
}

int MIX_Close(HSONVALE mixer) {
    CSonvale* m = sonvale::registry_begin_close(mixer);
    if (!m) {
        refuse_handle(mixer);
        return -1;
    }
    // Raised before the wait, so that a file being streamed in stops at its
    // next read and the worker stops taking items.
    m->m_bStop = true;
    sonvale::registry_end_close(m);
    const int result = m->MIX_Close();
    sonvale::registry_dispose(m);
    return result;
}

int MIX_Restart(HSONVALE mixer) {
    return with_mixer(mixer, -1, [](CSonvale& m) { return m.MIX_Restart(); });
}

int MIX_Pause(HSONVALE mixer) {
    return with_mixer(mixer, -1, [](CSonvale& m) { return m.MIX_Pause(); });
}

int MIX_AddFile(HSONVALE mixer, const char* path, int index) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_AddFile(path, index); });
}

int MIX_AddData(HSONVALE mixer, const unsigned char* data, int len, int index, int loops) {
    return with_mixer(mixer, -1,
                      [&](CSonvale& m) { return m.MIX_AddData(data, len, index, loops, 0); });
}

int MIX_AppendData(HSONVALE mixer, const unsigned char* data, int len, int index) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_AppendData(data, len, index); });
}

int MIX_Remove(HSONVALE mixer, int index) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_Remove(index); });
}

int MIX_Clear(HSONVALE mixer) {
    return with_mixer(mixer, -1, [](CSonvale& m) { return m.MIX_Clear(); });
}

int MIX_Flush(HSONVALE mixer, int timeoutMs) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_Flush(timeoutMs); });
}

int MIX_AddStream(HSONVALE mixer, const unsigned char* data, int len, int index) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_AddStream(data, len, index); });
}

int MIX_AddFileStream(HSONVALE mixer, const char* path, int index) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_AddFileStream(path, index); });
}

int MIX_StartInput(HSONVALE mixer, const char* device) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_StartInput(device); });
}

int MIX_StartInputFor(HSONVALE mixer, const char* device, uint64_t frames) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.MIX_StartInput(device, frames); });
}

int MIX_StopInput(HSONVALE mixer) {
    return with_mixer(mixer, -1, [](CSonvale& m) { return m.MIX_StopInput(); });
}

const char* MIX_GetLastError(void) {
    return sonvale::last_error();
}

bool Record_Open(HSONVALE mixer, const char* path, unsigned long samplesPerSec,
                 unsigned short channels, unsigned short bitsPerSample) {
    return Record_OpenEx(mixer, path, samplesPerSec, channels, bitsPerSample, 0);
}

bool Record_OpenEx(HSONVALE mixer, const char* path, unsigned long samplesPerSec,
                   unsigned short channels, unsigned short bitsPerSample, unsigned int flags) {
    return with_mixer(mixer, false, [&](CSonvale& m) {
        return header_fits_mixer(m, samplesPerSec, channels, bitsPerSample) &&
               m.m_recorder.OpenEx(path, samplesPerSec, channels, bitsPerSample, flags);
    });
}

void Record_Close(HSONVALE mixer) {
    with_mixer(mixer, 0, [](CSonvale& m) {
        m.m_recorder.Close();
        return 0;
    });
}

int Record_GetStatus(HSONVALE mixer, SONVALE_RECORD_STATUS* status) {
    return with_mixer(mixer, -1, [&](CSonvale& m) { return m.m_recorder.GetStatus(status); });
}
