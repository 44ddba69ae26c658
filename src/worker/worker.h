// The worker's loop: takes items and stream runs from its inbox, records one
// block per item and a run's blocks in order, and destroys what it took; on
// stop it destroys whatever is still queued.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "record/block_layout.h"
#include "sonvale.h"

namespace sonvale {

// Where the worker's blocks go, and what it tells of the units it is done
// with. Each unit carries its inbox message's tag: the recording it was
// queued for.
class unit_sink {
public:
    // Blocks of units of one `tag`, laid out as `blocks`.
    virtual void write(uint64_t tag, const uint8_t* bytes, size_t len,
                       const block_layout& blocks) = 0;
    // The sizes in the recording's header brought up to date. Returns when
    // the data written last is due to be made durable and declared (a
    // durable recording's), or none when nothing waits for that.
    virtual std::optional<std::chrono::steady_clock::time_point> flush() = 0;
    // `units` more items and runs are done with (recorded, or dropped).
    virtual void finished(size_t units) = 0;
    // The `bytes` of blocks of a unit tagged `tag` were dropped unwritten.
    virtual void dropped(uint64_t tag, uint64_t bytes) = 0;

protected:
    ~unit_sink() = default;
};

// The bytes of blocks the worker records of `item`, taken as the pump takes
// it in units of `unit` bytes; with a `unit` of 0 (a width the worker does
// not record), all of its bytes.
uint64_t block_bytes_of(const CWaveData& item, unsigned unit);

// One block per item and a run's blocks, in units of `unit` bytes, into
// `sink`, until a message that is neither, a failed wait, or `stop` seen
// after an item or run. Blocks already queued behind each other are written
// together; before each wait the pending blocks are written, and the header
// is brought up to date once the inbox has stayed empty for sizes_max_age
// after a write.
void record_items(unit_sink& sink, const std::atomic<bool>& stop, unsigned unit);

// Closes the inbox (so later posts fail) and destroys every item and run
// still in it, telling `sink` of each one's blocks (`unit` as for
// block_bytes_of) as dropped. Does not report them as finished: the caller
// does, once it has accounted for them. Returns how many there were.
size_t drain_inbox(unit_sink& sink, unsigned unit);

} // namespace sonvale
