// CWaveMixOut: the output device of a mixer and its ring of buffers.
#include "sonvale.h"

#include "device/wave_device.h"
#include "device/wave_out.h"
#include "platform/event.h"
#include "platform/last_error.h"
#include "wav/format_text.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>

using namespace sonvale;

namespace {

event* buffer_event(const WaveBuff* buff) {
    return reinterpret_cast<event*>(buff->hdr.dwUser);
}

// The buffer counts as given back: marks it done, then wakes its waiter.
void mark_done(WaveBuff* buff) {
    buff->bDone = 1;
    event_set(buffer_event(buff));
}

// How often a wait for a buffer asks whether the device still answers: a
// device that stops is given up on k_answer_limit after its thread went into
// the sound system, and this much later at most.
constexpr unsigned k_answer_check_ms = 100;

// Waits until the device gives `buff` back. A device that stops answering
// is given up on (wave_out_lost), which gives every buffer back, so the wait
// ends then too.
void wait_given_back(HWAVEOUT device, const WaveBuff* buff) {
    while (!event_wait_for(buffer_event(buff), k_answer_check_ms))
        wave_out_lost(device);
}

// -1 for a call that needs an open device, with its reason.
int no_device() {
    set_last_error("the output device is not open");
    return -1;
}

// The frame size PCM or float samples of `format` take; 0 for other tags.
unsigned linear_block_align(const WAVEFORMATEX& format) {
    const bool linear =
        format.wFormatTag == WAVE_FORMAT_PCM || format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    return linear ? unsigned{format.nChannels} * format.wBitsPerSample / 8 : 0;
}

// Null for a call that needs a device that was lost, with its reason.
unsigned char* device_lost() {
    set_last_error("the output device was lost");
    return nullptr;
}

// Why the device called `name` (null: the default one) would not open for
// `format`; the backend's own words in `why` where it has some.
void device_refused(int result, const char* name, const WAVEFORMATEX& format,
                    const device_note& why) {
    const format_text text(format);
    // "the output device", or that and its name in quotes: the name goes in
    // as an argument of its own, so that only it is shortened.
    const char* device = name ? "the output device \"" : "the output device";
    const char* quoted = name ? name : "";
    const char* end = name ? "\"" : "";
    const char* sep = why.text[0] ? ": " : "";
    const unsigned align = linear_block_align(format);
    if (result == WAVE_ERR_BADDEVICEID)
        set_last_error("there is no output device called \"%s\"; MIX_GetOutputDeviceName lists "
                       "them (the sonvale program: sonvale devices)",
                       name);
    else if (result == WAVE_ERR_BADFORMAT && align != 0 && format.nBlockAlign != align)
        set_last_error("%s%s%s refuses %s with a block alignment of %u bytes: its frames take %u",
                       device, quoted, end, text.c_str(), unsigned{format.nBlockAlign}, align);
    else if (result == WAVE_ERR_BADFORMAT)
        set_last_error("%s%s%s refuses %s%s%s", device, quoted, end, text.c_str(), sep, why.text);
    else if (result == WAVE_ERR_NOMEM)
        set_last_error("out of memory for the output device");
    else if (result == WAVE_ERR_NODRIVER && !name)
        set_last_error("no output device was found%s%s", sep, why.text);
    else if (result == WAVE_ERR_NODRIVER || result == WAVE_ERR_NOTANSWERING)
        set_last_error("%s%s%s cannot be opened%s%s", device, quoted, end, sep, why.text);
    else
        set_last_error("%s%s%s cannot be opened for %s (error %d)", device, quoted, end,
                       text.c_str(), result);
}

// True for a ring that can be built at once; else false with the reason.
// The limits keep a mistaken count or size from allocating for minutes.
bool ring_size_valid(int32_t count, int32_t size) {
    if (count < 1 || size < 1)
        set_last_error("a ring needs at least 1 buffer of at least 1 byte, not %d of %d", count,
                       size);
    else if (count > MIX_MAX_BUFF_NUM)
        set_last_error("a ring of %d buffers is more than the %d allowed", count, MIX_MAX_BUFF_NUM);
    else if (int64_t{count} * size > MIX_MAX_RING_BYTES)
        set_last_error("a ring of %d buffers of %d bytes is more than the %d bytes allowed", count,
                       size, MIX_MAX_RING_BYTES);
    else
        return true;
    return false;
}

} // namespace

CWaveMixOut::CWaveMixOut()
    : m_pNotifyWnd(nullptr), m_hWaveOut(nullptr), m_waveFormate(), m_ppBuffs(nullptr),
      m_nBuffNum(3), m_nBuffSize(2048), m_bPaused(false), m_nRingNum(0), m_nRingSize(0) {}

CWaveMixOut::~CWaveMixOut() {
    Close();
}

// The flag is shared with the threads that may pause, restart or reset while
// SingAndRetNextBuff waits, in the place and size of the plain flag it was.
static_assert(sizeof(std::atomic<bool>) == sizeof(bool) && alignof(std::atomic<bool>) == 1,
              "m_bPaused keeps the layout of an 8-bit flag");
static_assert(std::atomic<bool>::is_always_lock_free, "m_bPaused needs no lock");

int CWaveMixOut::Open(WAVEFORMATEX* format) {
    return OpenOn(nullptr, format);
}

int CWaveMixOut::OpenOn(const char* device, WAVEFORMATEX* format) {
    if (m_hWaveOut) {
        Close();
        set_last_error("the output device was already open");
        return -1;
    }
    if (!format) {
        set_last_error("no format was given");
        return -1;
    }
    if (!ring_size_valid(m_nBuffNum, m_nBuffSize))
        return -1;
    Close(); // a ring left without a device (never expected) is freed first
    auto out_of_memory = [this] {
        Close();
        set_last_error("out of memory for the output ring");
        return -1;
    };

    // The ring keeps the count and size it is built with until Close.
    m_nRingNum = m_nBuffNum;
    m_nRingSize = m_nBuffSize;
    m_ppBuffs = new (std::nothrow) WaveBuff*[static_cast<size_t>(m_nRingNum)]();
    if (!m_ppBuffs)
        return out_of_memory();
    for (int32_t i = 0; i < m_nRingNum; ++i) {
        WaveBuff* buff = new (std::nothrow) WaveBuff();
        if (!buff)
            return out_of_memory();
        m_ppBuffs[i] = buff;
        buff->hdr.lpData = new (std::nothrow) char[static_cast<size_t>(m_nRingSize)];
        event* done = event_create(i != 0);
        buff->hdr.dwUser = reinterpret_cast<uintptr_t>(done);
        if (!buff->hdr.lpData || !done)
            return out_of_memory();
    }

    std::memcpy(&m_waveFormate, format, sizeof m_waveFormate);
    HWAVEOUT handle = nullptr;
    device_note why;
    const int opened =
        wave_out_open_named(device, &handle, &m_waveFormate, &CWaveMixOut::CallBackNotify, 0, why);
    if (opened != WAVE_OK) {
        Close();
        device_refused(opened, device, m_waveFormate, why);
        return -2;
    }
    m_hWaveOut = handle;
    return 0;
}

int CWaveMixOut::Close() {
    if (m_hWaveOut && m_ppBuffs) {
        wave_out_reset(m_hWaveOut);
        // Every buffer but the current one is either free (its event
        // signalled) or held by the device, which signals it on giving it
        // back: after the reset, each wait below ends once the device no
        // longer holds that buffer, window or no window.
        for (int32_t i = m_nRingNum - 1; i >= 0; --i) {
            WaveBuff* buff = m_ppBuffs[i];
            if (!buff)
                continue;
            if (i != 0 && buffer_event(buff))
                event_wait(buffer_event(buff));
            if (buff->bDone == 1) {
                wave_out_unprepare_header(m_hWaveOut, &buff->hdr);
                buff->bDone = 0;
            }
        }
    }
    if (m_hWaveOut) {
        // The device holds no buffer now, so it closes; should it still
        // refuse, give it a moment rather than leave it open.
        for (int attempt = 0; attempt < 1000; ++attempt) {
            if (wave_out_close(m_hWaveOut) != WAVE_ERR_STILLPLAYING)
                break;
            wave_out_reset(m_hWaveOut);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        m_hWaveOut = nullptr;
    }
    if (m_ppBuffs) {
        for (int32_t i = 0; i < m_nRingNum; ++i) {
            WaveBuff* buff = m_ppBuffs[i];
            if (!buff)
                continue;
            delete[] buff->hdr.lpData;
            event_destroy(buffer_event(buff));
            delete buff;
            m_ppBuffs[i] = nullptr;
        }
        delete[] m_ppBuffs;
        m_ppBuffs = nullptr;
    }
    m_nRingNum = 0;
    m_nRingSize = 0;
    return 0;
}

int CWaveMixOut::Reset() {
    if (!m_hWaveOut)
        return no_device();
    const int result = wave_out_reset(m_hWaveOut);
    if (result == WAVE_ERR_NOTANSWERING)
        set_last_error("the output device did not answer; its thread is left to finish on its "
                       "own, and the device counts as lost");
    return result;
}

int CWaveMixOut::Pause() {
    if (!m_hWaveOut)
        return no_device();
    if (!m_bPaused.exchange(true))
        wave_out_pause(m_hWaveOut);
    return 0;
}

int CWaveMixOut::Restart() {
    if (!m_hWaveOut)
        return no_device();
    if (m_bPaused.exchange(false))
        wave_out_restart(m_hWaveOut);
    return 0;
}

const char* CWaveMixOut::GetDeviceName() {
    return wave_out_device_name(m_hWaveOut);
}

HWAVEOUT CWaveMixOut::GetSystemHandle() {
    return wave_out_system_handle(m_hWaveOut);
}

unsigned char* CWaveMixOut::GetNextBuff(unsigned int& len) {
    if (!m_ppBuffs)
        return nullptr;
    if (wave_out_lost(m_hWaveOut))
        return device_lost();
    len = static_cast<unsigned int>(m_nRingSize);
    return reinterpret_cast<unsigned char*>(m_ppBuffs[0]->hdr.lpData);
}

unsigned char* CWaveMixOut::SingAndRetNextBuff(unsigned int& len) {
    if (!m_hWaveOut || !m_ppBuffs)
        return nullptr;
    if (wave_out_lost(m_hWaveOut))
        return device_lost();

    WaveBuff* current = m_ppBuffs[0];
    const unsigned int capacity = static_cast<unsigned int>(m_nRingSize);
    current->hdr.dwBufferLength = len < capacity ? len : capacity;
    int result = wave_out_prepare_header(m_hWaveOut, &current->hdr);
    if (result == WAVE_OK)
        result = wave_out_write(m_hWaveOut, &current->hdr);
    if (result != WAVE_OK)
        mark_done(current); // refused: the device does not hold it

    for (int32_t i = 0; i + 1 < m_nRingNum; ++i)
        m_ppBuffs[i] = m_ppBuffs[i + 1];
    m_ppBuffs[m_nRingNum - 1] = current;

    WaveBuff* next = m_ppBuffs[0];
    if (buffer_event(next)) {
        wait_given_back(m_hWaveOut, next);
        if (next->bDone == 1) {
            wave_out_unprepare_header(m_hWaveOut, &next->hdr);
            next->bDone = 0;
        }
    }
    // A device lost meanwhile gave its buffers back unplayed.
    if (wave_out_lost(m_hWaveOut))
        return device_lost();
    return reinterpret_cast<unsigned char*>(next->hdr.lpData);
}

int CWaveMixOut::GetBytePerSample() {
    return m_waveFormate.wBitsPerSample / 8;
}

WAVEFORMATEX* CWaveMixOut::getWaveFormate() {
    return &m_waveFormate;
}

int CWaveMixOut::SetBuffParam(int num, int size) {
    m_nBuffNum = num;
    m_nBuffSize = size;
    return num;
}

int CWaveMixOut::GetBuffParam(int& num, int& size) {
    num = m_nBuffNum;
    size = m_nBuffSize;
    return size;
}

void SONVALE_CALLBACK CWaveMixOut::CallBackNotify(HWAVEOUT, unsigned int uMsg, DWORD_PTR,
                                                  DWORD_PTR dwParam1, DWORD_PTR) {
    if (uMsg != WOM_DONE || dwParam1 == 0)
        return;
    mark_done(reinterpret_cast<WaveBuff*>(static_cast<uintptr_t>(dwParam1)));
}
