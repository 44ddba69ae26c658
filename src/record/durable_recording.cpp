#include "record/durable_recording.h"

#include "platform/file_writes.h"
#include "platform/last_error.h"
#include "record/recording_ticket.h"
#include "wav/wave_header.h"

namespace sonvale {

namespace {

// An internal bit of CWaveRecorder::State::flags, above those of
// Record_OpenEx: a sync of the recording failed.
constexpr unsigned int sync_failed = 0x80000000u;

} // namespace

bool durable_recording::is_durable(const CWaveRecorder& recorder) {
    return (recorder.m_state.flags & SONVALE_RECORD_DURABLE) != 0;
}

uint32_t durable_recording::status_flags(const CWaveRecorder& recorder) {
    return (recorder.m_state.flags & sync_failed) != 0 ? SONVALE_STATUS_SYNC_FAILED : 0u;
}

bool durable_recording::start(CWaveRecorder& recorder, const char* path) {
    if (!is_durable(recorder))
        return true;
    if (!recorder.m_file.Sync()) {
        set_last_error("cannot sync '%s': %s", path, system_error_text());
        return false;
    }
    if (!sync_directory_of(path)) {
        set_last_error("cannot sync the folder of '%s': %s", path, system_error_text());
        return false;
    }
    return true;
}

void durable_recording::declare_if_due(CWaveRecorder& recorder) {
    const bool pending =
        recorder.m_nSyncedData != recorder.m_nFileData || recorder.m_state.header_stale;
    if (pending && clock::now() - recorder.m_synced >= period)
        declare(recorder);
}

void durable_recording::declare(CWaveRecorder& recorder) {
    CWaveRecorder& r = recorder;
    const uint64_t durable = r.m_nSyncedData;
    // The data first, then the header that declares it, then that header.
    const char* failed = !r.m_file.Sync()    ? "sync"
                         : !r.write_header() ? "write the header of"
                         : !r.m_file.Sync()  ? "sync the header of"
                                             : nullptr;
    if (failed)
        return roll_back(r, durable, failed);
    r.m_state.header_stale = false;
    r.m_state.rf64 = r.m_state.rf64_auto() && wave_header_needs_rf64(r.m_nFileData);
    r.m_nSyncedData = r.m_nFileData;
    r.m_synced = clock::now();
}

void durable_recording::roll_back(CWaveRecorder& recorder, uint64_t durable, const char* what) {
    CWaveRecorder& r = recorder;
    // Read before any other system call can change it.
    char reason[sizeof r.m_state.loss_reason];
    format_reason(reason, sizeof reason, "cannot %s '%s': %s", what, path_in(r.m_state.path),
                  system_error_text());
    r.m_state.flags |= sync_failed;
    r.m_state.count_loss(r.m_nFileData - durable, reason);
    r.m_nFileData = durable;
    r.m_nDataLen = durable < 0xFFFFFFFFu ? static_cast<uint32_t>(durable) : 0xFFFFFFFFu;
    const uint64_t end = r.m_state.header_bytes() + durable;
    r.m_file.Truncate(end);
    r.m_file.Seek(end);
    // The header in the file may declare what was just cut off.
    r.m_state.header_stale = !r.write_header();
    r.m_nSyncedData = durable;
    r.m_synced = clock::now();
}

void durable_recording::flush(CWaveRecorder& recorder) {
    std::unique_lock<std::mutex> guard(recorder.m_lock);
    if (!is_durable(recorder)) {
        guard.unlock();
        return recorder.Flush();
    }
    if (recorder.m_bOpen &&
        (recorder.m_nSyncedData != recorder.m_nFileData || recorder.m_state.header_stale))
        declare(recorder);
}

durable_recording::clock::time_point durable_recording::next_sync(CWaveRecorder& recorder) {
    std::lock_guard<std::mutex> guard(recorder.m_lock);
    if (!recorder.m_bOpen || !is_durable(recorder) ||
        recorder.m_nSyncedData == recorder.m_nFileData)
        return clock::time_point::max();
    return recorder.m_synced + period;
}

} // namespace sonvale
