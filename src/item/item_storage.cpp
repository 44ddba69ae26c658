#include "item/item_storage.h"

#include <cstddef>
#include <new>

namespace sonvale {

unsigned char* allocate_item_storage(uint32_t len) {
    // len + 1 in 64 bits, then checked against what size_t can hold.
    const uint64_t bytes = static_cast<uint64_t>(len) + 1u;
    if (bytes > static_cast<uint64_t>(PTRDIFF_MAX))
        return nullptr;
    return new (std::nothrow) unsigned char[static_cast<size_t>(bytes)];
}

void free_item_storage(unsigned char* storage) {
    delete[] storage;
}

bool item_reserve(CWaveData& item, uint32_t len) {
    unsigned char* storage = allocate_item_storage(len);
    if (!storage)
        return false;
    free_item_storage(item.m_pBuff);
    item.m_pBuff = storage;
    item.m_pCur = storage;
    item.m_nLen = len;
    return true;
}

} // namespace sonvale
