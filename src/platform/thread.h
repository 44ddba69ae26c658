// Threads, created suspended so that their owner can finish setting up before
// they run. Each thread gets an inbox (see inbox.h) at creation.
#pragma once

#include <cstdint>

namespace sonvale {

struct thread;
using thread_routine = long (*)(void* arg);

// Creates a thread that will run `routine(arg)` once resumed, and its inbox.
// `id` receives the thread's identity (never 0). Null on failure.
thread* thread_create_suspended(thread_routine routine, void* arg, uint32_t* id);
// Raises the thread to the highest priority the process may use (real-time
// where permitted); silently keeps the current priority otherwise.
void thread_raise_priority(thread* t);
// Lets a suspended thread run.
void thread_resume(thread* t);
// Waits without a time limit until the thread has ended.
void thread_join(thread* t);
// Releases the handle of an ended (joined) thread.
void thread_release(thread* t);

} // namespace sonvale
