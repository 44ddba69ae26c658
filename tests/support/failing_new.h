// Allocation failures on demand, for the test programs built with
// failing_new.cpp (tests/CMakeLists.txt names them): it replaces every form
// of the global operator new (plain, array, nothrow, aligned); when armed,
// the n-th allocation counted from then on, on any thread, fails (the
// throwing forms throw std::bad_alloc, the nothrow forms return null). The
// library is linked in statically, so its allocations come here too.
#pragma once

#include <cstddef>

namespace faults {

// Makes the `n`-th allocation from now fail, once. 0 disarms.
void fail_allocation(long n);
// Disarms. True when the armed allocation was reached (and failed).
bool stop_failing();

// Allocations counted so far (armed or not), and the size the last one
// asked for.
long allocations();
std::size_t last_request();

// While one exists, the next allocation fails (unless it was reached).
class fail_next {
public:
    fail_next() { fail_allocation(1); }
    ~fail_next() { stop_failing(); }
    fail_next(const fail_next&) = delete;
    fail_next& operator=(const fail_next&) = delete;
};

// While one exists, the allocations of its thread are neither counted nor
// failed: for the test's own bookkeeping between steps of an armed run.
class exempt {
public:
    exempt();
    ~exempt();
    exempt(const exempt&) = delete;
    exempt& operator=(const exempt&) = delete;

private:
    bool m_was;
};

// Runs `attempt` with the 1st, 2nd, 3rd ... allocation failing, until an
// attempt runs through without reaching the armed allocation. `check(failed)`
// runs after each attempt, disarmed. Returns the number of failures injected.
template <class Attempt, class Check> long sweep(Attempt attempt, Check check) {
    for (long n = 1;; ++n) {
        fail_allocation(n);
        attempt();
        const bool failed = stop_failing();
        check(failed);
        if (!failed)
            return n - 1;
    }
}

} // namespace faults
