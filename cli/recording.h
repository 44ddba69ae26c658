// A Sonvale mixer recording into a WAV file through its worker thread, fed
// with data and WAV files that the library splits into the blocks its
// worker records.
#pragma once

#include <sonvale.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace sonvale_cli {

class recording {
public:
    // Called with the data bytes recorded so far each time the recording
    // has waited for its worker.
    using progress_fn = std::function<void(uint64_t recorded)>;

    // Opens a mixer on `format` with the output device called `device` and
    // starts a recording at `path` in that format, with Record_OpenEx's
    // `flags`. Throws command_error with the library's reason when the mixer
    // cannot be opened on the format or the file cannot be created.
    recording(const std::string& path, const WAVEFORMATEX& format, const char* device,
              unsigned int flags, progress_fn progress);

    // Queues a copy of `len` bytes. Every quarter of a second it waits until
    // the worker has recorded what was queued, to show the progress. Throws command_error
    // when the data cannot be queued or the worker stops recording.
    void add(const unsigned char* data, size_t len);

    // Queues every sample of the WAV file at `path`, which holds `bytes` of
    // them, and waits until they are recorded. Throws command_error with the
    // library's reason when the file cannot be queued.
    void add_file(const std::string& path, uint64_t bytes);

    // Waits until the worker has recorded everything queued, then finishes
    // the file, reads its account and closes the mixer. Throws
    // command_error when the worker stops recording before that.
    void finish();

    // Starts capturing from the input device called `device` into the
    // recording, its first `frames` only when not 0 (MIX_StartInputFor);
    // throws command_error with the library's reason when it does not open.
    void start_input(const char* device, uint64_t frames);
    // Stops the capture, queueing what it captured.
    void stop_input();
    // The recording's account so far (Record_GetStatus).
    SONVALE_RECORD_STATUS status() const;

    // The most bytes of whole frames the worker records of one item.
    size_t block_size() const { return m_block; }
    // The items queued: each holds at most one block of the worker's.
    uint64_t items() const { return m_items; }
    uint64_t queued_bytes() const { return m_queued; }
    // Once finished: the data bytes in the file, and those lost on the way
    // with the first loss's reason (empty when none was lost).
    uint64_t recorded_bytes() const { return m_status.dataBytes; }
    uint64_t lost_bytes() const { return m_status.lostBytes; }
    const std::string& loss_reason() const { return m_loss_reason; }

private:
    struct mixer_closer {
        void operator()(std::remove_pointer_t<HSONVALE>* mixer) const { MIX_Close(mixer); }
    };

    void count(uint64_t bytes);
    // Waits until the worker has recorded everything queued so far.
    void wait_recorded();

    std::string m_path;
    progress_fn m_progress;
    size_t m_block;
    std::unique_ptr<std::remove_pointer_t<HSONVALE>, mixer_closer> m_mixer;
    uint64_t m_items = 0;
    uint64_t m_queued = 0;
    std::chrono::steady_clock::time_point m_next_wait; // when add waits again
    SONVALE_RECORD_STATUS m_status{};
    std::string m_loss_reason;
};

} // namespace sonvale_cli
