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

#include "sonvale.h"

namespace sonvale {

// Bytes a block may hold at most. A block holds whole units (frames, or
// samples): with 3-byte samples it stops at 1278 bytes, with 12-byte frames
// at 1272.
constexpr size_t block_capacity = 1280;

// An item as the cursor protocol sees it.
struct pump_source {
    const uint8_t* data; // the item's bytes
    uint32_t len;        // how many
    uint32_t cursor;     // offset of the next sample, below len
    int32_t passes;      // passes still to play: -1 endless, 0 finished
};

// True for the sample widths the pump handles: 1 to 4 bytes.
bool sample_width_supported(unsigned width);

// The unit a block is made of for samples of `width` bytes (supported) and
// frames of `block_align` bytes: the frame, so that every block and every
// pass keeps the channels in place; the sample where the frame is 0, not
// whole samples, or larger than a block.
unsigned pump_unit(unsigned width, unsigned block_align);

// The most bytes of whole `unit`s a block holds.
inline size_t block_room(unsigned unit) {
    return block_capacity / unit * unit;
}

// The most bytes the worker records of one item on a mixer of `format`:
// the block of its unit; a whole block where the worker records nothing.
size_t item_block_bytes(const WAVEFORMATEX& format);

// The unit a stream fed in pieces is recorded in on a mixer of `format`:
// the pump's unit; 1 where the worker records nothing.
unsigned stream_unit(const WAVEFORMATEX& format);

// Produces the block of `src` into `block` (room for block_capacity bytes)
// in units of `unit` bytes (from pump_unit) and returns the bytes produced.
// Units are taken until the last pass ends or no further whole unit fits; a
// finished item (0 passes) still gives the unit at its cursor. Bytes past
// the end of the data read as zero, so a pass that ends inside a unit is
// completed with zeros. An item without data gives 0 bytes. `src` is left
// where the cursor protocol would leave it, stepping a unit at a time.
size_t pump_block(pump_source& src, unsigned unit, uint8_t* block);

} // namespace sonvale
