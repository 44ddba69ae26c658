#include "worker/worker.h"

#include "item/stream_run.h"
#include "platform/inbox.h"
#include "record/sizes_max_age.h"
#include "worker/sample_pump.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

namespace sonvale {

namespace {

CWaveData* item_of(const inbox_message& message) {
    return reinterpret_cast<CWaveData*>(message.payload);
}

// The item as the pump reads it. A cursor outside the data (only a client's
// own item could have one) starts at the beginning instead.
pump_source source_of(const CWaveData& item) {
    uintptr_t offset =
        reinterpret_cast<uintptr_t>(item.m_pCur) - reinterpret_cast<uintptr_t>(item.m_pBuff);
    if (offset >= item.m_nLen)
        offset = 0;
    return {item.m_pBuff, item.m_nLen, static_cast<uint32_t>(offset), item.m_nLoop};
}

stream_run* run_of(const inbox_message& message) {
    return reinterpret_cast<stream_run*>(message.payload);
}

bool is_unit(const inbox_message& message) {
    return message.code == MIXMSG_DATA || message.code == run_message;
}

// Destroys the item or run a message carries.
void destroy_unit(const inbox_message& message) {
    if (message.code == run_message)
        run_of(message)->owner->release();
    else
        delete item_of(message);
}

// The bytes of blocks a unit gives: a run's, or an item's (see
// block_bytes_of).
uint64_t unit_bytes(const inbox_message& message, unsigned unit) {
    if (message.code == run_message)
        return run_of(message)->recorded;
    const CWaveData* item = item_of(message);
    return item ? block_bytes_of(*item, unit) : 0;
}

// Keeps the header's sizes within sizes_max_age of the data once blocks stop
// coming (while they come, the recorder's Write does): the worker waits for
// its next message at most until then, and brings them up to date if none
// came; a durable recording's data is synced and declared within a second
// likewise. Doing so before every wait put a header write between each block
// and the next one.
class idle_sizes {
public:
    explicit idle_sizes(unit_sink& sink) : m_sink(sink) {}

    void wrote() {
        if (!m_due)
            m_due = std::chrono::steady_clock::now() + sizes_max_age;
    }

    // As inbox_wait.
    bool wait(inbox_message& message) {
        while (m_due) {
            if (inbox_wait_until(message, *m_due))
                return true;
            if (std::chrono::steady_clock::now() < *m_due)
                return false; // the inbox was closed
            m_due = m_sink.flush();
        }
        return inbox_wait(message);
    }

private:
    unit_sink& m_sink;
    std::optional<std::chrono::steady_clock::time_point> m_due;
};

// Blocks of items and runs taken while more were already queued, written to
// the recorder together: one write for many blocks instead of one each,
// which is what keeps the worker ahead of a fast client. Units meant for
// different recordings are never written together. A unit is destroyed
// only once its blocks have gone to the recorder, and then counted as
// finished. A run too large to join the others is written on its own, from
// its own bytes.
class pending_blocks {
public:
    pending_blocks(unit_sink& sink, unsigned unit, idle_sizes& sizes)
        : m_sink(sink), m_unit(unit), m_sizes(sizes) {}
    ~pending_blocks() { flush(); }
    pending_blocks(const pending_blocks&) = delete;
    pending_blocks& operator=(const pending_blocks&) = delete;

    // Produces the unit's blocks; writes everything once the room is full.
    void add(const inbox_message& message) {
        if (m_count > 0 && message.tag != m_units[0].tag)
            flush();
        if (message.code == run_message && run_of(message)->recorded > sizeof m_bytes - m_used)
            return add_large_run(message);
        size_t step = 0;
        if (message.code == run_message) {
            const stream_run& run = *run_of(message);
            std::memcpy(m_bytes + m_used, run.bytes, run.recorded);
            m_used += run.recorded;
            step = block_room(m_unit);
        } else {
            pump_source source = source_of(*item_of(message));
            m_used += pump_block(source, m_unit, m_bytes + m_used);
        }
        m_blocks[m_count] = {m_used, step};
        m_units[m_count++] = message;
        if (m_count == max_units || sizeof m_bytes - m_used < block_capacity)
            flush();
    }

    void flush() {
        if (m_count == 0)
            return;
        write(m_units[0].tag, m_bytes, m_used, {m_blocks, m_count});
        for (size_t i = 0; i < m_count; ++i)
            destroy_unit(m_units[i]);
        m_sink.finished(m_count);
        m_used = 0;
        m_count = 0;
    }

private:
    // What is pending goes first, so the run's bytes follow it in the file.
    void add_large_run(const inbox_message& message) {
        flush();
        const stream_run& run = *run_of(message);
        const block_layout::unit blocks{run.recorded, block_room(m_unit)};
        write(message.tag, run.bytes, run.recorded, {&blocks, 1});
        destroy_unit(message);
        m_sink.finished(1);
    }

    void write(uint64_t tag, const uint8_t* bytes, size_t len, const block_layout& blocks) {
        if (len == 0)
            return;
        m_sink.write(tag, bytes, len, blocks);
        m_sizes.wrote();
    }

    static constexpr size_t max_units = 32;
    unit_sink& m_sink;
    const unsigned m_unit;
    idle_sizes& m_sizes;
    uint8_t m_bytes[max_units * block_capacity];
    inbox_message m_units[max_units];
    block_layout::unit m_blocks[max_units];
    size_t m_used = 0;
    size_t m_count = 0;
};

} // namespace

// The stop flag is looked at again after a write of pending blocks, as the
// write is what finishes their items.
void record_items(unit_sink& sink, const std::atomic<bool>& stop, unsigned unit) {
    idle_sizes sizes(sink);
    pending_blocks pending(sink, unit, sizes);
    inbox_message message{};
    for (;;) {
        if (!inbox_take(message)) {
            pending.flush();
            if (stop || !sizes.wait(message))
                return;
        }
        if (!is_unit(message))
            return;
        if (message.payload != 0)
            pending.add(message);
        if (stop)
            return;
    }
}

uint64_t block_bytes_of(const CWaveData& item, unsigned unit) {
    return unit == 0 ? item.m_nLen : pump_block_bytes(source_of(item), unit);
}

// Closing first means no item can arrive after the last take and be lost.
size_t drain_inbox(unit_sink& sink, unsigned unit) {
    inbox_close();
    inbox_message message{};
    size_t drained = 0;
    while (inbox_take(message)) {
        if (!is_unit(message))
            continue;
        sink.dropped(message.tag, unit_bytes(message, unit));
        destroy_unit(message);
        ++drained;
    }
    return drained;
}

} // namespace sonvale
