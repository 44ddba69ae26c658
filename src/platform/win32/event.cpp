// Auto-reset events on Windows: the system's own event objects.
#include "platform/event.h"

#include <windows.h>

namespace sonvale {

namespace {

HANDLE handle_of(event* e) {
    return reinterpret_cast<HANDLE>(e);
}

} // namespace

event* event_create(bool signalled) {
    return reinterpret_cast<event*>(
        CreateEventW(nullptr, FALSE, signalled ? TRUE : FALSE, nullptr));
}

void event_set(event* e) {
    if (e)
        SetEvent(handle_of(e));
}

void event_wait(event* e) {
    if (e)
        WaitForSingleObject(handle_of(e), INFINITE);
}

bool event_wait_for(event* e, unsigned ms) {
    return !e || WaitForSingleObject(handle_of(e), ms) == WAIT_OBJECT_0;
}

void event_destroy(event* e) {
    if (e)
        CloseHandle(handle_of(e));
}

} // namespace sonvale
