// Writes that fail on purpose, installed under every CFile through the
// library's seam: the Nth write fails, or every write that would reach past
// byte N of its file, as a full disk would fail them. The same on Linux and
// on Windows.
#pragma once

#include <cstdint>

namespace test_support {

class failing_writes {
public:
    // `nth_write` (counted from 1 since installation; 0: none) fails alone;
    // a write reaching past `byte_limit` of its file is cut there, and the
    // next one fails.
    failing_writes(uint64_t nth_write, uint64_t byte_limit);
    ~failing_writes();
    failing_writes(const failing_writes&) = delete;
    failing_writes& operator=(const failing_writes&) = delete;

    static failing_writes past_bytes(uint64_t limit) { return {0, limit}; }
    static failing_writes nth_write(uint64_t n) { return {n, UINT64_MAX}; }
};

// Syncs of files (and, with `folders`, of folders) that fail, as an I/O
// error or a full disk fails them, while the object lives; writes go
// through.
class failing_syncs {
public:
    explicit failing_syncs(bool folders);
    ~failing_syncs();
    failing_syncs(const failing_syncs&) = delete;
    failing_syncs& operator=(const failing_syncs&) = delete;
};

} // namespace test_support
