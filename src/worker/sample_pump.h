// The sample pump: turns an item's samples, read in cursor order, into one
// block for the recorder.
//
// Every sample goes through decode (little-endian; 16-bit signed, 8/24/32-bit
// offset by half their range), clamp to the width's range and encode. For
// any byte pattern of a whole sample that round trip gives the same bytes
// back, so the pump copies runs of the item's bytes instead of converting
// sample by sample; the tests hold it to the per-sample arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav/block_size.h"

namespace sonvale {

// An item as the cursor protocol sees it.
struct pump_source {
    const uint8_t* data; // the item's bytes
    uint32_t len;        // how many
    uint32_t cursor;     // offset of the next sample, below len
    int32_t passes;      // passes still to play: -1 endless, 0 finished
};

// Produces the block of `src` into `block` (room for block_capacity bytes)
// in units of `unit` bytes (from pump_unit) and returns the bytes produced.
// Units are taken until the last pass ends or no further whole unit fits; a
// finished item (0 passes) still gives the unit at its cursor. Bytes past
// the end of the data read as zero, so a pass that ends inside a unit is
// completed with zeros. An item without data gives 0 bytes. `src` is left
// where the cursor protocol would leave it, stepping a unit at a time.
size_t pump_block(pump_source& src, unsigned unit, uint8_t* block);

// The bytes pump_block would produce of `src`, without producing them.
size_t pump_block_bytes(pump_source src, unsigned unit);

} // namespace sonvale
