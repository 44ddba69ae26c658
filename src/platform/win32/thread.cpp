// Threads on Windows: created suspended by the system itself, run at
// time-critical priority when raised.
//
// The inbox stays the library's own (inbox.cpp) rather than the thread's
// system message queue: a thread has no system queue until it first calls a
// window function, so a post made right after creation could fail, and a
// system queue holds a bounded number of posted messages (10,000 by default),
// so a client queueing faster than the disk writes would lose items.
#include "platform/thread.h"

#include "platform/inbox.h"

#include <windows.h>

#include <atomic>
#include <new>

namespace sonvale {

struct thread {
    thread_routine routine = nullptr;
    void* arg = nullptr;
    inbox* box = nullptr;
    HANDLE handle = nullptr;
    bool resumed = false; // owner only
    bool joined = false;  // owner only
    std::atomic<bool> cancelled{false};
};

namespace {

DWORD WINAPI thread_main(void* arg) {
    thread* t = static_cast<thread*>(arg);
    inbox_attach(t->box);
    if (!t->cancelled.load())
        t->routine(t->arg);
    // Posts made after the routine has ended must fail, not pile up unseen.
    inbox_detach(t->box);
    return 0;
}

} // namespace

thread* thread_create_suspended(thread_routine routine, void* arg, uint32_t* id) {
    thread* t = new (std::nothrow) thread;
    if (!t)
        return nullptr;
    const uint32_t thread_id = inbox_next_id();
    t->routine = routine;
    t->arg = arg;
    t->box = inbox_create(thread_id);
    if (t->box)
        t->handle = CreateThread(nullptr, 0, thread_main, t, CREATE_SUSPENDED, nullptr);
    if (!t->handle) {
        inbox_destroy(t->box);
        delete t;
        return nullptr;
    }
    *id = thread_id;
    return t;
}

void thread_raise_priority(thread* t) {
    SetThreadPriority(t->handle, THREAD_PRIORITY_TIME_CRITICAL);
}

void thread_raise_own_priority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

void thread_resume(thread* t) {
    if (t->resumed)
        return;
    t->resumed = true;
    ResumeThread(t->handle);
}

void thread_join(thread* t) {
    if (t->joined)
        return;
    WaitForSingleObject(t->handle, INFINITE);
    t->joined = true;
}

void thread_release(thread* t) {
    if (!t)
        return;
    if (!t->resumed) {
        t->cancelled = true;
        thread_resume(t);
    }
    thread_join(t);
    CloseHandle(t->handle);
    inbox_destroy(t->box);
    delete t;
}

} // namespace sonvale
