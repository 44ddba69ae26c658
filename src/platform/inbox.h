// Thread inboxes: a first-in, first-out message queue per thread created by
// thread_create_suspended, addressed by the thread's identity.
#pragma once

#include <chrono>
#include <cstdint>

namespace sonvale {

struct inbox_message {
    uint32_t code;
    uintptr_t payload;
    uint64_t tag; // the sender's label for what the payload is meant for
};

// Posts to the inbox of thread `thread_id`. Never blocks (beyond a short
// lock). False when no live thread owns that inbox (never created, closed,
// or its thread has ended); the message is then not queued.
bool inbox_post(uint32_t thread_id, uint32_t code, uintptr_t payload, uint64_t tag = 0);
// Calling thread: waits for the next message of its inbox. False when the
// thread has no inbox, or its inbox is closed and empty.
bool inbox_wait(inbox_message& out);
// Calling thread: as inbox_wait, but false also once `deadline` has passed
// with the inbox still empty.
bool inbox_wait_until(inbox_message& out, std::chrono::steady_clock::time_point deadline);
// Calling thread: takes the next message without waiting. False when empty
// or when the thread has no inbox.
bool inbox_take(inbox_message& out);
// Calling thread: refuses every later post to its inbox; messages already in
// it stay there to be taken. A post that returned true is always among them.
void inbox_close();
// Any thread: closes the inbox of thread `thread_id` as inbox_close does,
// without allocating anything, so that its owner's wait returns false once
// the messages already in it are taken: for when even a message cannot be
// posted for lack of memory. Does nothing when no live thread owns it.
void inbox_quit(uint32_t thread_id);

// For the thread service only.
struct inbox;
// A new identity for a thread's inbox: never 0, and not reused while the
// process runs (a 32-bit counter).
uint32_t inbox_next_id();
// A new inbox, registered under `owner_id` so that posts reach it at once.
// Null when memory runs out.
inbox* inbox_create(uint32_t owner_id);
// Makes `box` the calling thread's inbox.
void inbox_attach(inbox* box);
// Closes `box` (as inbox_close) and detaches it from the calling thread.
void inbox_detach(inbox* box);
// Closes and frees `box`; messages still in it are dropped. Null is ignored.
void inbox_destroy(inbox* box);

} // namespace sonvale
