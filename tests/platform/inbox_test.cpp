#include "platform/inbox.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace sonvale;

namespace {

// Collects what its thread's inbox yields: waiting until the wait fails, or
// taking without waiting until the inbox is empty.
struct collector {
    bool wait = true;
    std::vector<inbox_message> got;
    std::atomic<bool> running{false};
};

long collect(void* arg) {
    auto* c = static_cast<collector*>(arg);
    c->running = true;
    inbox_message message{};
    while (c->wait ? inbox_wait(message) : inbox_take(message)) {
        if (message.code == 0)
            inbox_close();
        else
            c->got.push_back(message);
    }
    return 0;
}

// A collector thread, released when the object goes.
class collector_thread {
public:
    explicit collector_thread(bool wait = true) {
        m_collector.wait = wait;
        m_thread = thread_create_suspended(collect, &m_collector, &m_id);
    }
    ~collector_thread() { thread_release(m_thread); }
    void start() { thread_resume(m_thread); }
    void finish() { thread_join(m_thread); }
    uint32_t id() const { return m_id; }
    const std::vector<inbox_message>& got() const { return m_collector.got; }
    bool running() const { return m_collector.running; }

private:
    collector m_collector;
    uint32_t m_id = 0;
    thread* m_thread = nullptr;
};

} // namespace

TEST(Inbox, TakesPostsMadeBeforeTheThreadRanInOrder) {
    collector_thread t(false);
    for (uintptr_t i = 1; i <= 1000; ++i)
        ASSERT_TRUE(inbox_post(t.id(), 7, i));
    t.start();
    t.finish();
    ASSERT_EQ(t.got().size(), 1000u);
    for (uintptr_t i = 0; i < 1000; ++i)
        EXPECT_EQ(t.got()[i].payload, i + 1);
    EXPECT_EQ(t.got()[0].code, 7u);
}

TEST(Inbox, WaitBlocksUntilAPostArrives) {
    collector_thread t;
    t.start();
    while (!t.running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(t.got().empty());
    ASSERT_TRUE(inbox_post(t.id(), 5, 42));
    ASSERT_TRUE(inbox_post(t.id(), 0, 0)); // closes the inbox
    t.finish();
    ASSERT_EQ(t.got().size(), 1u);
    EXPECT_EQ(t.got()[0].payload, 42u);
}

TEST(Inbox, ClosedInboxRefusesPostsButYieldsWhatItHeld) {
    collector_thread t(false);
    ASSERT_TRUE(inbox_post(t.id(), 0, 0)); // the first message closes the inbox
    ASSERT_TRUE(inbox_post(t.id(), 3, 1));
    t.start();
    t.finish();
    ASSERT_EQ(t.got().size(), 1u);
    EXPECT_EQ(t.got()[0].payload, 1u);
    EXPECT_FALSE(inbox_post(t.id(), 3, 2));
}

TEST(Inbox, PostsFailOnceTheThreadHasEnded) {
    collector_thread t(false);
    t.start();
    t.finish();
    EXPECT_FALSE(inbox_post(t.id(), 3, 1));
    EXPECT_FALSE(inbox_post(0, 3, 1));
}

TEST(Inbox, AThreadWithoutInboxGetsNothing) {
    inbox_message message{};
    EXPECT_FALSE(inbox_wait(message));
    EXPECT_FALSE(inbox_take(message));
    inbox_close();
}

TEST(Inbox, ConcurrentPostersKeepTheirOwnOrder) {
    constexpr int posters = 4;
    constexpr uintptr_t per_poster = 20000;
    collector_thread t;
    t.start();
    std::vector<std::thread> threads;
    for (int p = 0; p < posters; ++p)
        threads.emplace_back([&, p] {
            for (uintptr_t i = 0; i < per_poster; ++i)
                ASSERT_TRUE(inbox_post(t.id(), static_cast<uint32_t>(p + 1), i));
        });
    for (auto& poster : threads)
        poster.join();
    ASSERT_TRUE(inbox_post(t.id(), 0, 0));
    t.finish();
    ASSERT_EQ(t.got().size(), posters * per_poster);
    std::vector<uintptr_t> next(posters + 1, 0);
    for (const auto& message : t.got())
        ASSERT_EQ(message.payload, next[message.code]++);
}
