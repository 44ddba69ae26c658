// The mixers the flat functions have handed out and not yet closed, so that
// a stale or made-up handle is refused instead of used.
#pragma once

class CSonvale;

namespace sonvale {

// Records `mixer` as live. False when memory runs out (it is then not).
bool registry_add(CSonvale* mixer);
// True when `mixer` is live.
bool registry_contains(const CSonvale* mixer);
// Forgets `mixer`; false when it was not live.
bool registry_remove(CSonvale* mixer);

} // namespace sonvale
