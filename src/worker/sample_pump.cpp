#include "worker/sample_pump.h"

#include <algorithm>
#include <cstring>

namespace sonvale {

namespace {

// `n` rounded up to whole units. Constant divisors for the common units:
// this runs per block.
size_t whole_units_up(size_t n, unsigned unit) {
    switch (unit) {
    case 1:
        return n;
    case 2:
        return (n + 1) / 2 * 2;
    case 4:
        return (n + 3) / 4 * 4;
    default:
        return (n + unit - 1) / unit * unit;
    }
}

// Bytes handed out from the cursor to the end of the pass.
size_t rest_of_pass(const pump_source& src, unsigned unit) {
    return whole_units_up(src.len - src.cursor, unit);
}

// Copies `bytes` bytes from the cursor on; those past the end read as zero.
void copy_zero_padded(uint8_t* out, const pump_source& src, size_t bytes) {
    const size_t real = std::min<size_t>(bytes, src.len - src.cursor);
    std::memcpy(out, src.data + src.cursor, real);
    std::memset(out + real, 0, bytes - real);
}

// The pump's walk through `src`: `copy(at, bytes)` for each run of bytes
// it takes, `at` counting from the block's start. Returns the bytes taken.
template <class Copy> size_t pump_walk(pump_source& src, unsigned unit, Copy copy) {
    if (!src.data || src.len == 0)
        return 0;
    const size_t room = block_room(unit);
    size_t produced = 0;
    while (produced < room) {
        const size_t pass_rest = rest_of_pass(src, unit);
        const size_t wanted = src.passes == 0 ? unit : pass_rest;
        const size_t bytes = std::min(wanted, room - produced);
        copy(produced, bytes);
        produced += bytes;
        if (bytes < pass_rest) {
            src.cursor += static_cast<uint32_t>(bytes);
        } else {
            src.cursor = 0;
            if (src.passes > 0)
                --src.passes;
        }
        if (src.passes == 0)
            break;
    }
    return produced;
}

} // namespace

size_t pump_block(pump_source& src, unsigned unit, uint8_t* block) {
    return pump_walk(src, unit,
                     [&](size_t at, size_t bytes) { copy_zero_padded(block + at, src, bytes); });
}

size_t pump_block_bytes(pump_source src, unsigned unit) {
    return pump_walk(src, unit, [](size_t, size_t) {});
}

} // namespace sonvale
