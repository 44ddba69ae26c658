// Durable recordings (SONVALE_RECORD_DURABLE): the data is synced before a
// header declares it, so that a power cut leaves a file whose header never
// points at data that did not reach the disk. A failed sync is counted as
// lost and cut off again, never retried into a success.
#pragma once

#include "sonvale.h"

#include <chrono>

#include "record/sizes_max_age.h"

namespace sonvale {

struct durable_recording {
    using clock = std::chrono::steady_clock;

    // While blocks keep coming, their data is synced and declared at least
    // this often: as often as any recording's sizes, so that a killed
    // process loses no more of a durable recording than of another.
    static constexpr std::chrono::milliseconds period = sizes_max_age;

    // Under the recorder's lock.
    static bool is_durable(const CWaveRecorder& recorder);
    // SONVALE_STATUS_SYNC_FAILED when a sync of the recording failed.
    static uint32_t status_flags(const CWaveRecorder& recorder);
    // After the first header of a new file went in: syncs the file and its
    // folder's entry. False, with the reason set, when either failed.
    static bool start(CWaveRecorder& recorder, const char* path);
    // Syncs the data, declares it in the header and syncs that, when a
    // period has passed since the last time.
    static void declare_if_due(CWaveRecorder& recorder);
    // The same at once: for Close (after the file was cut to its data).
    static void declare(CWaveRecorder& recorder);

    // For MIX_Flush: a durable recording declares everything written, synced;
    // another has its sizes brought up to date (CWaveRecorder::Flush).
    static void flush(CWaveRecorder& recorder);
    // For an idle worker: when the data written last is due to be declared;
    // clock::time_point::max() when nothing waits for that.
    static clock::time_point next_sync(CWaveRecorder& recorder);

private:
    // Cuts the file back to the `durable` data bytes a synced header
    // declares, counting the rest as lost for the failure to `what`.
    static void roll_back(CWaveRecorder& recorder, uint64_t durable, const char* what);
};

} // namespace sonvale
