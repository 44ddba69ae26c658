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
// destroyed only once its block has gone to the recorder, and then counted
// as finished.
template <class Finished> class pending_blocks {
public:
    pending_blocks(CWaveRecorder& recorder, Finished& finished)
        : m_recorder(recorder), m_finished(finished) {}
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
            m_finished(m_count);
        m_used = 0;
        m_count = 0;
    }

private:
    static constexpr size_t max_items = 32;
    CWaveRecorder& m_recorder;
    Finished& m_finished;
    uint8_t m_bytes[max_items * block_capacity];
    CWaveData* m_items[max_items];
    size_t m_used = 0;
    size_t m_count = 0;
};

// One block per item, until a non-data message, a failed wait, or the stop
// flag seen after an item. Pending blocks are written before every wait and
// when the loop ends, and before a wait the header in the file is brought up
// to date with them; the stop flag is looked at again after such a write,
// as the write is what finishes their items.
template <class Finished> void record_items(CSonvale& mixer, unsigned unit, Finished& finished) {
    pending_blocks<Finished> pending(mixer.m_recorder, finished);
    inbox_message message{};
    for (;;) {
        if (!inbox_take(message)) {
            pending.flush();
            if (mixer.m_bStop)
                return;
            mixer.m_recorder.Flush();
            if (!inbox_wait(message))
                return;
        }
        if (message.code != MIXMSG_DATA)
            return;
        if (CWaveData* item = item_of(message))
            pending.add(item, unit);
        if (mixer.m_bStop)
            return;
    }
}

// Closing first means no item can arrive after the last take and be lost.
template <class Finished> void drain_inbox(Finished& finished) {
    inbox_close();
    inbox_message message{};
    size_t dropped = 0;
    while (inbox_take(message)) {
        if (message.code == MIXMSG_DATA) {
            delete item_of(message);
            ++dropped;
        }
    }
    finished(dropped);
}

} // namespace

} // namespace sonvale

long CSonvale::SonvaleThreadPro(void* mixer) {
    return static_cast<CSonvale*>(mixer)->SonvaleThread();
}

long CSonvale::SonvaleThread() {
    using namespace sonvale;
    // Read once: the format is fixed while this worker runs.
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    const unsigned width = format.wBitsPerSample / 8u;
    auto finished = [this](size_t items) { items_finished(items); };
    if (sample_width_supported(width) && !m_bStop)
        record_items(*this, pump_unit(width, format.nBlockAlign), finished);
    drain_inbox(finished);
    return 0;
}
