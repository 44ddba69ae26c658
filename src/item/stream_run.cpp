#include "item/stream_run.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sonvale {

stream_run* new_run(size_t len, unsigned unit) {
    const size_t recorded = (len + unit - 1) / unit * unit;
    stream_run* run = new (std::nothrow) stream_run{
        std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<size_t>(recorded, 1)]), len,
        recorded};
    if (run && !run->bytes) {
        delete run;
        return nullptr;
    }
    if (run)
        std::memset(run->bytes.get() + len, 0, recorded - len);
    return run;
}

size_t run_data_bytes(size_t block) {
    return std::max(run_capacity / block, size_t(1)) * block;
}

} // namespace sonvale
