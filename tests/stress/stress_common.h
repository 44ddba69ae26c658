// Helpers of the stress tests: bounded counts and durations that one
// environment variable scales, and a watchdog for steps that must not hang.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace stress {

// SONVALE_STRESS_SCALE (default 1): multiplies every count and duration, so
// that a slow build (ThreadSanitizer) can run fewer and a soak run more.
inline double scale() {
    const char* s = std::getenv("SONVALE_STRESS_SCALE");
    const double v = s ? std::atof(s) : 1.0;
    return v > 0 ? v : 1.0;
}

// `n` scaled, at least `floor`.
inline long scaled(long n, long floor = 1) {
    const long v = static_cast<long>(static_cast<double>(n) * scale());
    return v < floor ? floor : v;
}

inline std::chrono::milliseconds scaled(std::chrono::milliseconds d) {
    return std::chrono::milliseconds(scaled(static_cast<long>(d.count()), 100));
}

// How long a step may take before the test counts it as hung: far beyond
// anything a working build needs, even under a sanitizer on a busy machine.
constexpr double step_timeout_seconds = 30.0;

// Waits until `done` holds; a step that never finishes cannot be failed
// gracefully (its thread is stuck inside the library), so the process ends
// with a message naming it.
template <class Pred> void await_or_abort(Pred done, const std::string& what) {
    if (test_support::wait_until(done, step_timeout_seconds))
        return;
    std::fprintf(stderr, "stress: no progress after %.0f s: %s\n", step_timeout_seconds,
                 what.c_str());
    std::abort();
}

} // namespace stress
