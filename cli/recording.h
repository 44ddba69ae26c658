// A Sonvale mixer recording into a WAV file through its worker thread, fed
// in pieces small enough that the worker records every byte of each.
#pragma once

#include <sonvale.h>

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

    // Opens a mixer on `format` and starts a recording at `path` in that
    // format. Throws command_error when the mixer cannot be opened on the
    // format or the file cannot be created.
    recording(const std::string& path, const WAVEFORMATEX& format, progress_fn progress);

    // The most bytes one piece may hold: whole sample frames, no more than
    // the worker records of one item.
    size_t piece_size() const { return m_piece; }

    // Queues a copy of `len` bytes (at most piece_size()) as one item. Every
    // so many items it first waits until the worker has recorded them, so
    // memory stays bounded. Throws command_error when the item cannot be
    // queued or the worker stops recording.
    void add(const unsigned char* data, size_t len);

    // Waits until the worker has recorded everything queued, then finishes
    // the file and closes the mixer. Throws command_error when the worker
    // stops recording before that.
    void finish();

    int items() const { return m_items; }
    uint64_t bytes() const { return m_queued; }

private:
    struct mixer_closer {
        void operator()(std::remove_pointer_t<HSONVALE>* mixer) const { MIX_Close(mixer); }
    };

    // Waits until the worker has recorded everything queued so far.
    void wait_recorded();

    std::string m_path;
    progress_fn m_progress;
    size_t m_piece;
    std::unique_ptr<std::remove_pointer_t<HSONVALE>, mixer_closer> m_mixer;
    int m_items = 0;
    uint64_t m_queued = 0;
};

} // namespace sonvale_cli
