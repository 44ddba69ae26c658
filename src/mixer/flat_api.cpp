// The flat entry points: a handle is the address of a heap-allocated mixer,
// and each function forwards to one member of it.
#include "sonvale.h"

#include <new>

namespace {

CSonvale* mixer_of(HSONVALE handle) {
    return reinterpret_cast<CSonvale*>(handle);
}

// A new mixer on which `init` has succeeded, as a handle; null otherwise.
template <class Init> HSONVALE open_mixer(WAVEFORMATEX* format, Init init) {
    if (!format)
        return nullptr;
    CSonvale* mixer = new (std::nothrow) CSonvale();
    if (mixer && init(*mixer) != 0) {
        delete mixer;
        mixer = nullptr;
    }
    return reinterpret_cast<HSONVALE>(mixer);
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
    if (!m)
        return -1;
    int result = m->MIX_Close();
    delete m;
    return result;
}

int MIX_Restart(HSONVALE mixer) {
    return mixer ? mixer_of(mixer)->MIX_Restart() : -1;
}

int MIX_Pause(HSONVALE mixer) {
    return mixer ? mixer_of(mixer)->MIX_Pause() : -1;
}

int MIX_AddFile(HSONVALE mixer, const char* path, int index) {
    return mixer ? mixer_of(mixer)->MIX_AddFile(path, index) : -1;
}

int MIX_AddData(HSONVALE mixer, const unsigned char* data, int len, int index, int loops) {
    return mixer ? mixer_of(mixer)->MIX_AddData(data, len, index, loops, 0) : -1;
}

int MIX_AppendData(HSONVALE mixer, const unsigned char* data, int len, int index) {
    return mixer ? mixer_of(mixer)->MIX_AppendData(data, len, index) : -1;
}

int MIX_Remove(HSONVALE mixer, int index) {
    return mixer ? mixer_of(mixer)->MIX_Remove(index) : -1;
}

int MIX_Clear(HSONVALE mixer) {
    return mixer ? mixer_of(mixer)->MIX_Clear() : -1;
}

bool Record_Open(HSONVALE mixer, const char* path, unsigned long samplesPerSec,
                 unsigned short channels, unsigned short bitsPerSample) {
    return mixer && mixer_of(mixer)->m_recorder.Open(path, samplesPerSec, channels, bitsPerSample);
}

void Record_Close(HSONVALE mixer) {
    if (mixer)
        mixer_of(mixer)->m_recorder.Close();
}
