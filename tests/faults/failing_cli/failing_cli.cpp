// Built into a copy of the sonvale program for the loss tests: its files'
// writes fail past SONVALE_TEST_FAIL_WRITES_PAST bytes, from the start.
#include "support/failing_writes.h"

#include <cstdint>
#include <cstdlib>

namespace {

uint64_t limit_from_environment() {
    const char* limit = std::getenv("SONVALE_TEST_FAIL_WRITES_PAST");
    return limit && *limit ? std::strtoull(limit, nullptr, 10) : UINT64_MAX;
}

const test_support::failing_writes g_writes(0, limit_from_environment());

} // namespace
