// The mixers the flat functions have handed out and not yet closed, so that
// a stale or made-up handle is refused instead of used. Each call on a handle
// holds the mixer for its duration, and closing waits for those holds to end.
// A closed mixer's storage is kept out of reuse for the next
// `quarantined_mixers` closings, so a stale handle cannot name a new mixer.
#pragma once

#include "sonvale.h"

#include <cstddef>

namespace sonvale {

// Closed mixers whose storage is kept before it is freed.
constexpr size_t quarantined_mixers = MIX_MIXER_QUARANTINE;

// A new, closed mixer in storage of its own; null when memory runs out.
CSonvale* registry_new_mixer();
// Destroys a mixer from registry_new_mixer that was never live, and frees it.
void registry_discard(CSonvale* mixer);
// Destroys a mixer from registry_new_mixer that is live no more, and keeps
// its storage out of reuse while `quarantined_mixers` more are disposed of.
void registry_dispose(CSonvale* mixer);

// Records `mixer` as live. False when memory runs out (it is then not).
bool registry_add(CSonvale* mixer);
// The live mixer at `handle`, held for one call until registry_release;
// null when it is not live or is being closed.
CSonvale* registry_acquire(const void* handle);
// Ends a hold from registry_acquire.
void registry_release(CSonvale* mixer);
// Marks the live mixer at `handle` as being closed, so that no new hold is
// given; null when it is not live or already being closed.
CSonvale* registry_begin_close(const void* handle);
// Waits until no call holds `mixer` (marked by registry_begin_close), then
// forgets it.
void registry_end_close(CSonvale* mixer);

} // namespace sonvale
