// Allocation failures on demand. This test program replaces every form of
// the global operator new (plain, array, nothrow, aligned): when armed, the
// n-th allocation counted from then on, on any thread, fails (the throwing
// forms throw std::bad_alloc, the nothrow forms return null). The library is
// linked in statically, so its allocations come here too.
#pragma once

namespace faults {

// Makes the `n`-th allocation from now fail, once. 0 disarms.
void fail_allocation(long n);
// Disarms. True when the armed allocation was reached (and failed).
bool stop_failing();

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
