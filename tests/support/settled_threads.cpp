#include "support/settled_threads.h"

#include "support/test_support.h"

#include <thread>

namespace test_support {

int settled_thread_count() {
    std::thread([] {}).join();
    return thread_count();
}

bool threads_settle_to(int count) {
    return wait_until([count] { return thread_count() <= count; });
}

} // namespace test_support
