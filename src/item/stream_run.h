// A stream's run: many blocks of a stream's bytes handed to the worker as one
// queued unit, so that a long stream costs one post and one write per run
// rather than an item per block. Items stay one block each; runs carry only
// the bytes of MIX_AddStream and MIX_AddFileStream.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sonvale {

// Inbox message of a run; payload: a stream_run* the worker lets go of
// (owner->release()) once done with it.
constexpr uint32_t run_message = 0x602;

// The most data bytes a run holds.
constexpr size_t run_capacity = size_t(1) << 20;

class run_buffers;

struct stream_run {
    run_buffers* owner;
    uint8_t* bytes;   // `recorded` bytes
    size_t len;       // the stream's bytes
    size_t recorded;  // len rounded up to whole units, the rest zeros: what
                      // the blocks of these bytes would record, and what
                      // counts as lost when they are dropped
    uint64_t done_at; // queuing side: the mixer's count of queued units once
                      // this run was posted; 0 when not posted
};

// The few buffers a stream's runs are filled in, in turn, allocated once for
// a stream of any length: a run takes the buffer of the run `count` before
// it, once the worker is done with that one. Fresh memory is costly to touch
// and a long stream must stay within a few MiB, so nothing is allocated per
// run. Shared by the queuing call and the worker holding its runs; the last
// to let go frees it.
class run_buffers {
public:
    // Buffers for `total` bytes in runs of at most `per_run` bytes (whole
    // units of `unit` bytes, as are all runs but the last), as many as there
    // are runs up to `most`; null for a lack of memory.
    static run_buffers* create(uint64_t total, size_t per_run, unsigned unit, size_t most);

    // The next run: its buffer is free once the worker has finished done_at
    // units.
    stream_run& next();
    // Makes the free `run` one of `len` bytes (at most per_run), its padding
    // zeroed and its data left for the caller to fill.
    void prepare(stream_run& run, size_t len);
    // Before a run is posted: the worker becomes a holder.
    void lend();
    // After: when `posted`, the worker finishes `run` as the `queued`-th
    // unit; when not, the worker is no holder and the buffer is free again.
    void posted(stream_run& run, bool posted, uint64_t queued);
    // One holder fewer; the last frees the buffers.
    void release();

private:
    run_buffers() = default;

    std::atomic<size_t> m_holders{1};
    size_t m_count = 0;
    size_t m_capacity = 0;
    unsigned m_unit = 1;
    size_t m_next = 0;
    std::unique_ptr<uint8_t[]> m_bytes;
    std::unique_ptr<stream_run[]> m_runs;
};

// The data bytes a run of blocks of `block` bytes holds: run_capacity rounded
// down to whole blocks, at least one block.
size_t run_data_bytes(size_t block);

} // namespace sonvale
