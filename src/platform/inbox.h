// Thread inboxes: a first-in, first-out message queue per thread created by
// thread_create_suspended, addressed by the thread's identity.
#pragma once

#include <cstdint>

namespace sonvale {

struct inbox_message {
    uint32_t code;
    uintptr_t payload;
};

// Posts to the inbox of thread `thread_id`. Never blocks. False when no live
// thread owns that inbox (never created, closed, or ended).
bool inbox_post(uint32_t thread_id, uint32_t code, uintptr_t payload);
// Calling thread: waits for the next message of its inbox. False when the
// thread has no inbox, or its inbox is closed and empty.
bool inbox_wait(inbox_message& out);
// Calling thread: takes the next message without waiting. False when empty.
bool inbox_take(inbox_message& out);
// Calling thread: refuses every later post to its inbox; messages already in
// it stay there to be taken.
void inbox_close();

} // namespace sonvale
