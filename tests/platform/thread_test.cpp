#include "platform/inbox.h"
#include "platform/thread.h"
#include "support/settled_threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

using namespace sonvale;

namespace {

struct run_record {
    std::atomic<int> runs{0};
    std::atomic<int> policy{-1}; // on Windows: the thread's priority
};

long record_run(void* arg) {
    auto* record = static_cast<run_record*>(arg);
#ifdef _WIN32
    record->policy = GetThreadPriority(GetCurrentThread());
#else
    record->policy = sched_getscheduler(0);
#endif
    record->runs++;
    return 0;
}

#ifndef _WIN32

// Whether this process may put a thread under real-time scheduling at all.
bool realtime_permitted() {
    bool permitted = false;
    std::thread probe([&] {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        permitted = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    });
    probe.join();
    return permitted;
}
#endif

} // namespace

TEST(Thread, RunsOnlyOnceResumedAndLeavesNoThreadBehind) {
    const int threads_before = test_support::settled_thread_count();
    run_record record;
    uint32_t id = 0;
    thread* t = thread_create_suspended(record_run, &record, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(id, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(record.runs, 0);
    thread_resume(t);
    thread_resume(t);
    thread_join(t);
    thread_join(t);
    EXPECT_EQ(record.runs, 1);
    thread_release(t);
    EXPECT_TRUE(test_support::threads_settle_to(threads_before));
}

TEST(Thread, ReleasedBeforeResumeNeverRuns) {
    const int threads_before = test_support::settled_thread_count();
    run_record record;
    uint32_t id = 0;
    thread* t = thread_create_suspended(record_run, &record, &id);
    ASSERT_NE(t, nullptr);
    thread_release(t);
    EXPECT_EQ(record.runs, 0);
    EXPECT_FALSE(inbox_post(id, 1, 0));
    EXPECT_TRUE(test_support::threads_settle_to(threads_before));
    thread_release(nullptr);
}

TEST(Thread, IdentitiesAreDistinctAndNeverZero) {
    run_record record;
    std::set<uint32_t> ids;
    for (int i = 0; i < 20; ++i) {
        uint32_t id = 0;
        thread* t = thread_create_suspended(record_run, &record, &id);
        ASSERT_NE(t, nullptr);
        ids.insert(id);
        thread_resume(t);
        thread_join(t);
        thread_release(t);
    }
    EXPECT_EQ(ids.size(), 20u);
    EXPECT_EQ(ids.count(0), 0u);
    EXPECT_EQ(record.runs, 20);
}

TEST(Thread, RaisedPriorityIsRealTimeWherePermitted) {
    run_record record;
    uint32_t id = 0;
    thread* t = thread_create_suspended(record_run, &record, &id);
    ASSERT_NE(t, nullptr);
    thread_raise_priority(t);
    thread_resume(t);
    thread_join(t);
    thread_release(t);
    EXPECT_EQ(record.runs, 1);
#ifdef _WIN32
    EXPECT_EQ(record.policy, THREAD_PRIORITY_TIME_CRITICAL);
#else
    EXPECT_EQ(record.policy, realtime_permitted() ? SCHED_FIFO : SCHED_OTHER);
#endif
}
