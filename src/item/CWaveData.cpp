// The audio item: an owned copy of PCM bytes read through a cursor.
#include <cstring>

#include "item/item_storage.h"
#include "sonvale.h"

using sonvale::allocate_item_storage;
using sonvale::free_item_storage;

CWaveData::CWaveData()
    : m_pBuff(nullptr), m_pCur(nullptr), m_nLen(0), m_nLoop(0), m_nIndex(-1),
      m_nFirstAllowPlayLen(0) {}

CWaveData::CWaveData(const unsigned char* data, unsigned int len, int loops, int index)
    : CWaveData() {
    if (!data && len > 0)
        return; // nothing to copy from: stays an empty item
    unsigned char* storage = allocate_item_storage(len);
    if (!storage)
        return; // no memory: stays an empty item (m_pBuff null, m_nLen 0)
    if (len > 0)
        std::memcpy(storage, data, len);
    m_pBuff = storage;
    m_pCur = storage;
    m_nLen = len;
    m_nLoop = loops <= 0 ? -1 : loops;
    m_nIndex = index;
}

CWaveData::~CWaveData() {
    free_item_storage(m_pBuff);
    m_pBuff = nullptr;
    m_pCur = nullptr;
    m_nLen = 0;
    m_nLoop = 0;
    m_nIndex = -1;
    // Callers rely on these values after destruction. The object's storage
    // is dead once the destructor returns, so the compiler would be free to
    // drop the stores above; this barrier keeps them.
    asm volatile("" : : "r"(this) : "memory");
}

int CWaveData::GetNextData(int step, unsigned char*& out) {
    out = m_pCur;
    // The cursor's distance from the start after the advance, in 64 bits so
    // that no step can wrap it. A distance below 0 (taken as unsigned: huge)
    // or at or past the end ends the pass. The cursor is only ever set to a
    // place inside the data or to its start.
    const int64_t distance = static_cast<int64_t>(m_pCur - m_pBuff) + step;
    if (distance < 0 || static_cast<uint64_t>(distance) >= m_nLen) {
        m_pCur = m_pBuff;
        if (m_nLoop > 0)
            --m_nLoop;
    } else {
        m_pCur = m_pBuff + distance;
    }
    return m_nLoop;
}

int CWaveData::GetIndex() {
    return m_nIndex;
}

void CWaveData::SetFirstAllowPlayLen(unsigned int len) {
    m_nFirstAllowPlayLen = len;
}

unsigned int CWaveData::GetFirstAllowPlayLen() {
    return m_nFirstAllowPlayLen;
}

bool CWaveData::AllowPlay() {
    if (m_nFirstAllowPlayLen == 0)
        return true;
    if (m_nFirstAllowPlayLen < m_nLen) {
        m_nFirstAllowPlayLen = 0;
        return true;
    }
    return false;
}

void CWaveData::AppendData(const unsigned char* data, int len) {
    if (len < 0 || (!data && len > 0))
        return;
    const uint32_t consumed = static_cast<uint32_t>(m_pCur - m_pBuff);
    const uint32_t remaining = m_nLen - consumed;
    const uint64_t total = static_cast<uint64_t>(remaining) + static_cast<uint32_t>(len);
    if (total > UINT32_MAX)
        return; // m_nLen could not hold it: the item stays as it was
    unsigned char* storage = allocate_item_storage(static_cast<uint32_t>(total));
    if (!storage)
        return; // no memory: the item stays as it was
    if (remaining > 0)
        std::memcpy(storage, m_pCur, remaining);
    if (len > 0)
        std::memcpy(storage + remaining, data, static_cast<size_t>(len));
    free_item_storage(m_pBuff);
    m_pBuff = storage;
    m_pCur = storage;
    m_nLen = static_cast<uint32_t>(total);
    m_nLoop = 1;
}
