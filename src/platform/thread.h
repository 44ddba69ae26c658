// Threads, created suspended so that their owner can finish setting up before
// they run. Each thread gets an inbox (see inbox.h) at creation.
#pragma once

#include <cstdint>

namespace sonvale {

struct thread;
using thread_routine = long (*)(void* arg);

// Creates a thread that will run `routine(arg)` once resumed, and its inbox,
// which accepts posts from this moment on. `id` receives the thread's
// identity: never 0 and not reused while the process runs (a 32-bit counter).
// Null on failure (nothing is left behind then).
thread* thread_create_suspended(thread_routine routine, void* arg, uint32_t* id);
// Raises the thread to the highest priority the process may use (real-time
// where permitted); silently keeps the current priority otherwise.
void thread_raise_priority(thread* t);
// The same for the calling thread, whoever created it.
void thread_raise_own_priority();
// Lets a suspended thread run. Harmless on a running thread.
void thread_resume(thread* t);
// Waits without a time limit until the thread has ended. Harmless on a thread
// already waited for. A suspended thread must be resumed first.
void thread_join(thread* t);
// Releases the thread: one never resumed ends without running its routine,
// one not yet waited for is waited for. Messages still in its inbox are
// dropped without a look at their payloads. Null is ignored.
void thread_release(thread* t);

} // namespace sonvale
