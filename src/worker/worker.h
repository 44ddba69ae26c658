// The worker's loop: takes items from its inbox, records one block per item
// and destroys the item; on stop it destroys whatever is still queued.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "sonvale.h"

namespace sonvale {

// Told of the items the worker is done with (recorded, or dropped).
class item_events {
public:
    virtual void finished(size_t items) = 0;

protected:
    ~item_events() = default;
};

// One block per item, in units of `unit` bytes, into `recorder`, until a
// non-data message, a failed wait, or `stop` seen after an item. Blocks of
// items already queued behind each other are written together; before each
// wait the pending blocks are written and the header brought up to date.
void record_items(CWaveRecorder& recorder, const std::atomic<bool>& stop, unsigned unit,
                  item_events& events);

// What drain_inbox destroyed.
struct drained_items {
    size_t items;
    uint64_t bytes; // their data, each counted up to `block` bytes
};

// Closes the inbox (so later posts fail) and destroys every item still in
// it. Does not report them as finished: the caller does, once it has
// accounted for them.
drained_items drain_inbox(size_t block);

} // namespace sonvale
