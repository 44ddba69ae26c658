// The mixer's worker thread: records the items queued to it, and accounts
// for those it cannot record.
#include "sonvale.h"

#include "record/durable_recording.h"
#include "wav/block_size.h"
#include "worker/sample_pump.h"
#include "worker/worker.h"

long CSonvale::SonvaleThreadPro(void* mixer) {
    return static_cast<CSonvale*>(mixer)->SonvaleThread();
}

long CSonvale::SonvaleThread() {
    class recorder_sink : public sonvale::unit_sink {
    public:
        recorder_sink(CSonvale& mixer, bool records) : m_mixer(mixer), m_records(records) {
            sonvale::unrecordable_reason(mixer.m_waveOut.m_waveFormate, m_lost, sizeof m_lost);
        }
        void write(uint64_t tag, const uint8_t* bytes, size_t len,
                   const sonvale::block_layout& blocks) override {
            m_mixer.m_recorder.write_blocks(tag, reinterpret_cast<const char*>(bytes), len, blocks);
        }
        std::optional<std::chrono::steady_clock::time_point> flush() override {
            m_mixer.m_recorder.Flush();
            const auto due = sonvale::durable_recording::next_sync(m_mixer.m_recorder);
            if (due == sonvale::durable_recording::clock::time_point::max())
                return std::nullopt;
            return due;
        }
        void finished(size_t units) override { m_mixer.items_finished(units); }
        // What a stop order drops the client chose to drop; what a worker
        // that cannot record drops is lost, and counted before MIX_Flush can
        // see the units finished.
        void dropped(uint64_t tag, uint64_t bytes) override {
            m_mixer.m_recorder.settle_dropped(tag, bytes, m_records ? nullptr : m_lost);
        }

    private:
        CSonvale& m_mixer;
        const bool m_records;
        char m_lost[64]; // the reason of a loss
    };
    // Read once: the format is fixed while this worker runs.
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    const bool records = worker_records();
    const unsigned unit =
        records ? sonvale::pump_unit(format.wBitsPerSample / 8u, format.nBlockAlign) : 0;
    recorder_sink sink(*this, records);
    if (records && !m_bStop)
        sonvale::record_items(sink, m_bStop, unit);
    sink.finished(sonvale::drain_inbox(sink, unit));
    return 0;
}
