#include "item/stream_run.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sonvale {

run_buffers* run_buffers::create(uint64_t total, size_t per_run, unsigned unit, size_t most) {
    const uint64_t runs = (total + per_run - 1) / per_run;
    const size_t count = static_cast<size_t>(std::clamp<uint64_t>(runs, 1, most));
    const size_t data = static_cast<size_t>(std::min<uint64_t>(total, per_run));
    const size_t capacity = std::max<size_t>((data + unit - 1) / unit * unit, 1);
    std::unique_ptr<run_buffers> buffers(new (std::nothrow) run_buffers);
    if (!buffers)
        return nullptr;
    buffers->m_count = count;
    buffers->m_capacity = capacity;
    buffers->m_unit = unit;
    buffers->m_bytes.reset(new (std::nothrow) uint8_t[count * capacity]);
    buffers->m_runs.reset(new (std::nothrow) stream_run[count]());
    if (!buffers->m_bytes || !buffers->m_runs)
        return nullptr;
    return buffers.release();
}

stream_run& run_buffers::next() {
    stream_run& run = m_runs[m_next];
    m_next = (m_next + 1) % m_count;
    return run;
}

void run_buffers::prepare(stream_run& run, size_t len) {
    run.owner = this;
    run.bytes = m_bytes.get() + static_cast<size_t>(&run - m_runs.get()) * m_capacity;
    run.len = len;
    run.recorded = (len + m_unit - 1) / m_unit * m_unit;
    std::memset(run.bytes + len, 0, run.recorded - len);
}

void run_buffers::lend() {
    m_holders.fetch_add(1, std::memory_order_relaxed);
}

void run_buffers::posted(stream_run& run, bool posted, uint64_t queued) {
    run.done_at = posted ? queued : 0;
    if (!posted)
        release();
}

void run_buffers::release() {
    if (m_holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

size_t run_data_bytes(size_t block) {
    return std::max(run_capacity / block, size_t(1)) * block;
}

} // namespace sonvale
