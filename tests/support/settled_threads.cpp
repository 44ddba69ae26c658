#include "support/settled_threads.h"

#include "support/test_support.h"

#include <thread>

namespace test_support {

int settled_thread_count() {
    std::thread([] {}).join();
    return thread_count();
}

} // namespace test_support
