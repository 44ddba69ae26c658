// The block: what the worker records of one item, at most 1280 bytes of
// whole units (frames, or samples). Queueing calls split long data into
// items of one block each, and clients size their pieces by it.
#pragma once

#include "sonvale.h"

#include <cstddef>

namespace sonvale {

// Bytes a block may hold at most. With 3-byte samples it stops at 1278
// bytes, with 12-byte frames at 1272.
constexpr size_t block_capacity = 1280;

// True for the sample widths the worker records: 1 to 4 bytes.
bool sample_width_supported(unsigned width);

// Why nothing is recorded on a mixer of `format` whose width the worker
// does not record, into `reason` (`size` bytes).
void unrecordable_reason(const WAVEFORMATEX& format, char* reason, size_t size);

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
// the block's unit; 1 where the worker records nothing.
unsigned stream_unit(const WAVEFORMATEX& format);

} // namespace sonvale
