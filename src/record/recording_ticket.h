// A recording's ticket: which recording the blocks queued to a mixer's
// worker are meant for, and how many of their bytes the worker has yet to
// deal with, so that a recording receives only what was queued while it was
// open and what it could not write before it closed is counted as its loss.
//
// The recorder's layout is fixed by the 1.0 ABI, so the ticket shares the
// one allocation the recorder already holds per recording: the copy of its
// path (State::path), which follows the ticket in the same block.
#pragma once

#include <cstdint>
#include <memory>

namespace sonvale {

// Tags of queued units (inbox_message::tag) besides a ticket's number:
// posted outside a mixer's account (recorded into whatever recording is
// open when written), and queued while no recording was open (recorded
// into none).
constexpr uint64_t any_recording = 0;
constexpr uint64_t no_recording = UINT64_MAX;

struct recording_ticket {
    uint64_t number;  // unique in the process, from 1
    uint64_t queued;  // bytes of blocks queued for it: the client thread's
    uint64_t settled; // of those, written, lost or dropped by the worker:
                      // under the recorder's lock
    const char* path() const { return reinterpret_cast<const char*>(this + 1); }
};

// A new ticket holding a copy of `path`, as the block State::path keeps;
// null for a lack of memory.
std::unique_ptr<char[]> new_ticket(const char* path);

// The ticket in a block from new_ticket; null for none.
recording_ticket* ticket_in(const std::unique_ptr<char[]>& block);

// The path a block from new_ticket holds, for reasons; "the recording" for
// none.
const char* path_in(const std::unique_ptr<char[]>& block);

} // namespace sonvale
