// A stream's run: many blocks of a stream's bytes handed to the worker as one
// queued unit, so that a long stream costs one allocation, one post and one
// write per run rather than per block. Items stay one block each; runs carry
// only the bytes of MIX_AddStream and MIX_AddFileStream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sonvale {

// Inbox message of a run; payload: a stream_run* the worker takes over.
constexpr uint32_t run_message = 0x602;

// The most data bytes a run holds: the backlog a streamed file keeps queued
// is counted in runs, so this bounds its memory.
constexpr size_t run_capacity = size_t(1) << 20;

struct stream_run {
    std::unique_ptr<uint8_t[]> bytes; // `recorded` bytes
    size_t len;                       // the stream's bytes, counted as lost when dropped
    size_t recorded;                  // len rounded up to whole units, the rest zeros: what the
                                      // blocks of these bytes would record
};

// A run for `len` bytes (at most run_capacity) of units of `unit` bytes,
// its data left for the caller to fill and its padding zeroed; null for a
// lack of memory.
stream_run* new_run(size_t len, unsigned unit);

// The data bytes a run of blocks of `block` bytes holds: run_capacity rounded
// down to whole blocks, at least one block.
size_t run_data_bytes(size_t block);

} // namespace sonvale
