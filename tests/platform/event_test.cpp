// Auto-reset events: one signal releases one wait; signals do not add up.
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace sonvale;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

TEST(Event, CreatedSignalledReleasesOneWait) {
    event* e = event_create(true);
    ASSERT_NE(e, nullptr);
    event_wait(e); // returns at once
    event_destroy(e);
}

TEST(Event, WaitReturnsOnceAnotherThreadSets) {
    event* e = event_create(false);
    ASSERT_NE(e, nullptr);
    std::atomic<bool> set_called{false};
    auto start = steady::now();
    std::thread setter([&] {
        std::this_thread::sleep_for(150ms);
        set_called = true;
        event_set(e);
    });
    event_wait(e);
    EXPECT_TRUE(set_called.load());
    EXPECT_GE(steady::now() - start, 140ms);
    setter.join();
    event_destroy(e);
}

TEST(Event, AutoResetAndSignalsDoNotCount) {
    event* e = event_create(false);
    ASSERT_NE(e, nullptr);
    event_set(e);
    event_set(e); // still one signal
    event_wait(e);
    // The second wait must block until the next set.
    std::atomic<bool> second_set{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(150ms);
        second_set = true;
        event_set(e);
    });
    event_wait(e);
    EXPECT_TRUE(second_set.load());
    setter.join();
    event_destroy(e);
}

TEST(Event, SignalledEventWaitedBeforeSetIsNotSignalledTwice) {
    event* e = event_create(true);
    ASSERT_NE(e, nullptr);
    event_set(e); // already signalled: no second signal
    event_wait(e);
    std::atomic<bool> set_called{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(100ms);
        set_called = true;
        event_set(e);
    });
    event_wait(e);
    EXPECT_TRUE(set_called.load());
    setter.join();
    event_destroy(e);
}

TEST(Event, NullIsIgnoredByDestroy) {
    event_destroy(nullptr);
}

TEST(Event, PingPongBetweenThreads) {
    event* ping = event_create(false);
    event* pong = event_create(false);
    ASSERT_NE(ping, nullptr);
    ASSERT_NE(pong, nullptr);
    int shared_counter = 0; // handed back and forth by the events only
    constexpr int rounds = 2000;
    std::thread other([&] {
        for (int i = 0; i < rounds; ++i) {
            event_wait(ping);
            ++shared_counter;
            event_set(pong);
        }
    });
    for (int i = 0; i < rounds; ++i) {
        event_set(ping);
        event_wait(pong);
        ASSERT_EQ(shared_counter, i + 1);
    }
    other.join();
    event_destroy(ping);
    event_destroy(pong);
}

TEST(Event, WaiterMayDestroyTheEventRightAfterItsWait) {
    // The pattern of the ring: the device thread sets, the waiter destroys.
    for (int i = 0; i < 200; ++i) {
        event* e = event_create(false);
        ASSERT_NE(e, nullptr);
        std::thread setter([e] { event_set(e); });
        event_wait(e);
        event_destroy(e);
        setter.join();
    }
}
