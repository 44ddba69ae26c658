// Counting threads in tests that check nothing is left behind.
#pragma once

namespace test_support {

// The threads of this process right now, once the runtime's own helper
// threads (a sanitizer starts one with the first thread) exist, so that a
// count taken before a test starts threads compares with one taken after.
int settled_thread_count();

// Waits until the process has at most `count` threads. A thread that has been
// joined can still be listed for a moment while the system tears it down.
bool threads_settle_to(int count);

} // namespace test_support
