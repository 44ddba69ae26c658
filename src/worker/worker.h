// The worker's loop: takes items and stream runs from its inbox, records one
// block per item and a run's blocks in order, and destroys what it took; on
// stop it destroys whatever is still queued.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "sonvale.h"

namespace sonvale {

// Told of the items and runs the worker is done with (recorded, or dropped).
class item_events {
public:
    virtual void finished(size_t items) = 0;

protected:
    ~item_events() = default;
};

// One block per item and a run's blocks, in units of `unit` bytes, into
// `recorder`, until a message that is neither, a failed wait, or `stop` seen
// after an item or run. Blocks already queued behind each other are written
// together; before each wait the pending blocks are written, and the header
// is brought up to date once the inbox has stayed empty for sizes_max_age
// after a write.
void record_items(CWaveRecorder& recorder, const std::atomic<bool>& stop, unsigned unit,
                  item_events& events);

// What drain_inbox destroyed.
struct drained_items {
    size_t items;   // items and runs
    uint64_t bytes; // their data, each item's counted up to `block` bytes
};

// Closes the inbox (so later posts fail) and destroys every item and run
// still in it. Does not report them as finished: the caller does, once it has
// accounted for them.
drained_items drain_inbox(size_t block);

} // namespace sonvale
