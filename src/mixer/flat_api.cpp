// The flat entry points: a handle is the address of a heap-allocated mixer,
// and each function forwards to one member of it. Handles are looked up in
// the registry of live mixers first: a closed or made-up one gets the
// null-handle result.
#include "sonvale.h"

#include "mixer/mixer_registry.h"
#include "platform/last_error.h"

#include <new>

namespace {

// The live mixer behind `handle`; null, with the reason set, for a null,
// closed or made-up handle.
CSonvale* mixer_of(HSONVALE handle) {
    CSonvale* mixer = reinterpret_cast<CSonvale*>(handle);
    if (mixer && sonvale::registry_contains(mixer))
        return mixer;
    sonvale::set_last_error(mixer ? "not a mixer handle, or one closed already"
                                  : "no mixer handle was given");
    return nullptr;
}

// A new mixer on which `init` has succeeded, registered, as a handle; null
// otherwise.
template <class Init> HSONVALE open_mixer(WAVEFORMATEX* format, Init init) {
    if (!format) {
        sonvale::set_last_error("no format was given");
        return nullptr;
    }
    CSonvale* mixer = new (std::nothrow) CSonvale();
    if (!mixer) {
        sonvale::set_last_error("out of memory for a mixer");
        return nullptr;
    }
    if (init(*mixer) != 0) {
        delete mixer; // the mixer gave the reason
        return nullptr;
    }
    if (!sonvale::registry_add(mixer)) {
        delete mixer;
        sonvale::set_last_error("out of memory for a mixer");
        return nullptr;
    }
    return reinterpret_cast<HSONVALE>(mixer);
}

// `call(mixer)` on the live mixer behind `handle`; `invalid` without one.
template <class Result, class Call> Result with_mixer(HSONVALE handle, Result invalid, Call call) {
    CSonvale* m = mixer_of(handle);
    return m ? call(*m) : invalid;
}

} // namespace

HSONVALE MIX_Init(WAVEFORMATEX* format, CWnd* notifyWnd) {
    return open_mixer(format, [&](CSonvale& m) { return m.MIX_Init(format, notifyWnd); });
}

HSONVALE MIX_InitEx(WAVEFORMATEX* format, int buffNum, int buffSize, CWnd* notifyWnd) {
    return open_mixer(
        format, [&](CSonvale& m) { return m.MIX_InitEx(format, buffNum, buffSize, notifyWnd); });
}

int MIX_Close(HSONVALE mixer) {
    CSonvale* m = mixer_of(mixer);
    if (!m || !sonvale::registry_remove(m))
        return -1;
    int result = m->MIX_Close();
    delete m;
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
        return m.m_recorder.OpenEx(path, samplesPerSec, channels, bitsPerSample, flags);
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
