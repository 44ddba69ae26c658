// The mixer's worker thread: records the items queued to it, and accounts
// for those it cannot record.
#include "sonvale.h"

#include "worker/sample_pump.h"
#include "worker/worker.h"

long CSonvale::SonvaleThreadPro(void* mixer) {
    return static_cast<CSonvale*>(mixer)->SonvaleThread();
}

long CSonvale::SonvaleThread() {
    class finished_items : public sonvale::item_events {
    public:
        explicit finished_items(CSonvale& mixer) : m_mixer(mixer) {}
        void finished(size_t items) override { m_mixer.items_finished(items); }

    private:
        CSonvale& m_mixer;
    };
    // Read once: the format is fixed while this worker runs.
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    finished_items events(*this);
    const bool records = worker_records();
    if (records && !m_bStop)
        sonvale::record_items(m_recorder, m_bStop,
                              sonvale::pump_unit(format.wBitsPerSample / 8u, format.nBlockAlign),
                              events);
    const sonvale::drained_items drained = sonvale::drain_inbox(sonvale::item_block_bytes(format));
    // What a stop order drops the client chose to drop; what a worker that
    // cannot record drops is lost, and counted before MIX_Flush can see the
    // items finished.
    if (!records)
        note_unrecordable(drained.bytes);
    events.finished(drained.items);
    return 0;
}
