#include "worker/worker.h"

#include "platform/inbox.h"
#include "worker/sample_pump.h"

#include <algorithm>

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

// Blocks of items taken while more were already queued, written to the
// recorder together: one write for a run of blocks instead of one each,
// which is what keeps the worker ahead of a fast client. An item is
// destroyed only once its block has gone to the recorder, and then counted
// as finished.
class pending_blocks {
public:
    pending_blocks(CWaveRecorder& recorder, item_events& events)
        : m_recorder(recorder), m_events(events) {}
    ~pending_blocks() { flush(); }
    pending_blocks(const pending_blocks&) = delete;
    pending_blocks& operator=(const pending_blocks&) = delete;

    // Produces the item's block; writes everything once the run is full.
    void add(CWaveData* item, unsigned unit) {
        pump_source source = source_of(*item);
        m_used += pump_block(source, unit, m_bytes + m_used);
        m_items[m_count++] = item;
        if (m_count == max_items)
            flush();
    }

    void flush() {
        if (m_used > 0)
            m_recorder.Write(reinterpret_cast<const char*>(m_bytes), static_cast<int>(m_used));
        for (size_t i = 0; i < m_count; ++i)
            delete m_items[i];
        if (m_count > 0)
            m_events.finished(m_count);
        m_used = 0;
        m_count = 0;
    }

private:
    static constexpr size_t max_items = 32;
    CWaveRecorder& m_recorder;
    item_events& m_events;
    uint8_t m_bytes[max_items * block_capacity];
    CWaveData* m_items[max_items];
    size_t m_used = 0;
    size_t m_count = 0;
};

} // namespace

// The stop flag is looked at again after a write of pending blocks, as the
// write is what finishes their items.
void record_items(CWaveRecorder& recorder, const std::atomic<bool>& stop, unsigned unit,
                  item_events& events) {
    pending_blocks pending(recorder, events);
    inbox_message message{};
    for (;;) {
        if (!inbox_take(message)) {
            pending.flush();
            if (stop)
                return;
            recorder.Flush();
            if (!inbox_wait(message))
                return;
        }
        if (message.code != MIXMSG_DATA)
            return;
        if (CWaveData* item = item_of(message))
            pending.add(item, unit);
        if (stop)
            return;
    }
}

// Closing first means no item can arrive after the last take and be lost.
drained_items drain_inbox(size_t block) {
    inbox_close();
    inbox_message message{};
    drained_items drained{0, 0};
    while (inbox_take(message)) {
        if (message.code != MIXMSG_DATA)
            continue;
        if (const CWaveData* item = item_of(message))
            drained.bytes += std::min<uint64_t>(item->m_nLen, block);
        delete item_of(message);
        ++drained.items;
    }
    return drained;
}

} // namespace sonvale
