// The worker: takes items from its inbox, records one block per item and
// destroys the item; on stop it destroys whatever is still queued.
#include "sonvale.h"

#include "platform/inbox.h"
#include "worker/sample_pump.h"

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
// destroyed only once its block has gone to the recorder.
class pending_blocks {
public:
    explicit pending_blocks(CWaveRecorder& recorder) : m_recorder(recorder) {}
    ~pending_blocks() { flush(); }
    pending_blocks(const pending_blocks&) = delete;
    pending_blocks& operator=(const pending_blocks&) = delete;

    // Produces the item's block; writes everything once the run is full.
    void add(CWaveData* item, unsigned width) {
        pump_source source = source_of(*item);
        m_used += pump_block(source, width, m_bytes + m_used);
        m_items[m_count++] = item;
        if (m_count == max_items)
            flush();
    }

    void flush() {
        if (m_used > 0)
            m_recorder.Write(reinterpret_cast<const char*>(m_bytes), static_cast<int>(m_used));
        for (size_t i = 0; i < m_count; ++i)
            delete m_items[i];
        m_used = 0;
        m_count = 0;
    }

private:
    static constexpr size_t max_items = 32;
    CWaveRecorder& m_recorder;
    uint8_t m_bytes[max_items * block_capacity];
    CWaveData* m_items[max_items];
    size_t m_used = 0;
    size_t m_count = 0;
};

// One block per item, until a non-data message, a failed wait, or the stop
// flag seen after an item. Pending blocks are written before every wait and
// when the loop ends; the stop flag is looked at again after such a write,
// as the write is what finishes their items.
void record_items(CSonvale& mixer, unsigned width) {
    pending_blocks pending(mixer.m_recorder);
    inbox_message message{};
    for (;;) {
        if (!inbox_take(message)) {
            pending.flush();
            if (mixer.m_bStop || !inbox_wait(message))
                return;
        }
        if (message.code != MIXMSG_DATA)
            return;
        if (CWaveData* item = item_of(message))
            pending.add(item, width);
        if (mixer.m_bStop)
            return;
    }
}

// Closing first means no item can arrive after the last take and be lost.
void drain_inbox() {
    inbox_close();
    inbox_message message{};
    while (inbox_take(message)) {
        if (message.code == MIXMSG_DATA)
            delete item_of(message);
    }
}

} // namespace

} // namespace sonvale

long CSonvale::SonvaleThreadPro(void* mixer) {
    return static_cast<CSonvale*>(mixer)->SonvaleThread();
}

long CSonvale::SonvaleThread() {
    using namespace sonvale;
    // Read once: the format is fixed while this worker runs.
    const unsigned width = m_waveOut.m_waveFormate.wBitsPerSample / 8u;
    if (sample_width_supported(width) && !m_bStop)
        record_items(*this, width);
    drain_inbox();
    return 0;
}
