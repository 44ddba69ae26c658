// Auto-reset events: a wait returns once the event is signalled and takes the
// signal with it, so each signal releases exactly one wait.
#pragma once

namespace sonvale {

struct event;

// A new event, signalled or not; null when it cannot be created.
event* event_create(bool signalled);
// Signals the event; a signal on a signalled event is not counted twice.
void event_set(event* e);
// Waits without a time limit until the event is signalled, then unsignals it.
void event_wait(event* e);
// The same for at most `ms` milliseconds: false when the time ran out first
// (the event is then left as it was). True at once for null.
bool event_wait_for(event* e, unsigned ms);
// Destroys the event; null is ignored. No thread may be waiting on it.
void event_destroy(event* e);

} // namespace sonvale
