// Threads on POSIX: pthreads behind a start gate, so that a thread can be
// created suspended.
#include "platform/thread.h"

#include "platform/inbox.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace sonvale {

namespace {

enum class start_state { suspended, resumed, cancelled };

} // namespace

struct thread {
    thread_routine routine = nullptr;
    void* arg = nullptr;
    inbox* box = nullptr;
    pthread_t handle{};
    bool joined = false;
    std::mutex gate_lock;
    std::condition_variable gate;
    start_state state = start_state::suspended; // guarded by gate_lock
};

namespace {

void open_gate(thread* t, start_state state) {
    std::lock_guard<std::mutex> hold(t->gate_lock);
    if (t->state == start_state::suspended)
        t->state = state;
    t->gate.notify_one();
}

void* thread_main(void* arg) {
    thread* t = static_cast<thread*>(arg);
    start_state state;
    {
        std::unique_lock<std::mutex> hold(t->gate_lock);
        t->gate.wait(hold, [t] { return t->state != start_state::suspended; });
        state = t->state;
    }
    inbox_attach(t->box);
    if (state == start_state::resumed)
        t->routine(t->arg);
    // Posts made after the routine has ended must fail, not pile up unseen.
    inbox_detach(t->box);
    return nullptr;
}

bool set_realtime(pthread_t handle, int priority) {
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(handle, SCHED_FIFO, &param) == 0;
}

void raise_priority(pthread_t handle) {
    const int highest = sched_get_priority_max(SCHED_FIFO);
    if (set_realtime(handle, highest))
        return;
    // Unprivileged processes may still be granted some real-time priority.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0) {
        const rlim_t allowed = std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(highest));
        set_realtime(handle, static_cast<int>(allowed));
    }
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
    if (!t->box || pthread_create(&t->handle, nullptr, thread_main, t) != 0) {
        inbox_destroy(t->box);
        delete t;
        return nullptr;
    }
    *id = thread_id;
    return t;
}

void thread_raise_priority(thread* t) {
    raise_priority(t->handle);
}

void thread_raise_own_priority() {
    raise_priority(pthread_self());
}

void thread_resume(thread* t) {
    open_gate(t, start_state::resumed);
}

void thread_join(thread* t) {
    if (t->joined)
        return;
    pthread_join(t->handle, nullptr);
    t->joined = true;
}

void thread_release(thread* t) {
    if (!t)
        return;
    open_gate(t, start_state::cancelled);
    thread_join(t);
    inbox_destroy(t->box);
    delete t;
}

} // namespace sonvale
