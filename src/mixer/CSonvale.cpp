#include "sonvale.h"

#include "platform/inbox.h"
#include "platform/thread.h"

#include <algorithm>
#include <new>

namespace {

sonvale::thread* worker_of(void* handle) {
    return static_cast<sonvale::thread*>(handle);
}

// A copy of the client's bytes as an item; null for a negative length, null
// data with a positive length, or a lack of memory.
CWaveData* new_item(const unsigned char* data, int len, int index, int loops,
                    unsigned int firstAllowPlayLen) {
    if (len < 0 || (!data && len > 0))
        return nullptr;
    CWaveData* item =
        new (std::nothrow) CWaveData(data, static_cast<unsigned int>(len), loops, index);
    if (!item)
        return nullptr;
    if (!item->m_pBuff) { // its storage could not be allocated
        delete item;
        return nullptr;
    }
    item->m_nFirstAllowPlayLen = firstAllowPlayLen;
    return item;
}

} // namespace

CSonvale::CSonvale() : m_hThread(nullptr), m_bStop(true), m_dwThreadId(0) {}

CSonvale::~CSonvale() {
    MIX_Close();
}

int CSonvale::MIX_Init(WAVEFORMATEX* format, CWnd* notifyWnd) {
    MIX_Close();
    if (!format)
        return -1;
    const int opened = m_waveOut.Open(format);
    if (opened != 0)
        return opened;
    uint32_t id = 0;
    sonvale::thread* worker = sonvale::thread_create_suspended(SonvaleThreadPro, this, &id);
    if (!worker) {
        m_waveOut.Close();
        return -3;
    }
    m_hThread = worker;
    m_dwThreadId = id;
    // The worker must not run before the stop flag is cleared, or it would
    // stop at once.
    m_waveOut.m_pNotifyWnd = notifyWnd;
    m_bStop = false;
    sonvale::thread_raise_priority(worker);
    sonvale::thread_resume(worker);
    return 0;
}

int CSonvale::MIX_InitEx(WAVEFORMATEX* format, int buffNum, int buffSize, CWnd* notifyWnd) {
    m_waveOut.SetBuffParam(buffNum, buffSize);
    return MIX_Init(format, notifyWnd);
}

int CSonvale::MIX_Close() {
    m_bStop = true;
    if (m_dwThreadId != 0) {
        sonvale::inbox_post(m_dwThreadId, MIXMSG_STOP, 0);
        m_dwThreadId = 0;
    }
    if (m_hThread) {
        sonvale::thread_join(worker_of(m_hThread));
        sonvale::thread_release(worker_of(m_hThread));
        m_hThread = nullptr;
    }
    m_waveOut.Reset();
    m_waveOut.Close();
    MIX_Clear();
    m_recorder.Close();
    return 0;
}

int CSonvale::MIX_Pause() {
    return m_waveOut.Pause();
}

int CSonvale::MIX_Restart() {
    return m_waveOut.Restart();
}

int CSonvale::MIX_AddData(const unsigned char* data, int len, int index, int loops,
                          unsigned int firstAllowPlayLen) {
    CWaveData* item = new_item(data, len, index, loops, firstAllowPlayLen);
    if (!item)
        return -1;
    queue_item(item);
    return index;
}

int CSonvale::MIX_AppendData(const unsigned char* data, int len, int index) {
    if (m_dwThreadId == 0 || !m_recorder.isOpen())
        return 0;
    // Formed wide: no buffer count and size can overflow it.
    const int64_t threshold =
        (static_cast<int64_t>(m_waveOut.m_nBuffNum) + 1) * m_waveOut.m_nBuffSize;
    CWaveData* item =
        new_item(data, len, index, 1,
                 static_cast<unsigned int>(std::clamp<int64_t>(threshold, 0, UINT32_MAX)));
    if (!item)
        return 0;
    queue_item(item);
    return index;
}

int CSonvale::MIX_Remove(int) {
    return 0;
}

int CSonvale::MIX_Clear() {
    return 0;
}

void CSonvale::queue_item(CWaveData* item) {
    if (!sonvale::inbox_post(m_dwThreadId, MIXMSG_DATA, reinterpret_cast<uintptr_t>(item)))
        delete item;
}
