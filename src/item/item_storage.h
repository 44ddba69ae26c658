// The storage of an audio item (CWaveData): `len` data bytes plus one spare
// byte that is never written. Shared by the item itself and by the code that
// builds items straight from a file (the WAV loader), so that every item's
// buffer is allocated and freed the same way.
#pragma once

#include <cstdint>

#include "sonvale.h"

namespace sonvale {

// Storage for `len` data bytes plus the spare byte an item keeps; null when
// it cannot be allocated. The size `len + 1` is formed without wrapping: a
// `len` of 0xFFFFFFFF asks for 4 GiB + 1 bytes (or fails), never for 0.
// Never throws.
unsigned char* allocate_item_storage(uint32_t len);

// Frees storage from allocate_item_storage; null is ignored.
void free_item_storage(unsigned char* storage);

// Gives an empty item `len` bytes of storage for the caller to fill:
// m_pBuff/m_pCur at its start, m_nLen = len. The bytes are not initialised;
// the pass count, index and threshold are not touched. Storage the item held
// before is freed. False (item unchanged) when it cannot be allocated.
bool item_reserve(CWaveData& item, uint32_t len);

} // namespace sonvale
