#include "recording.h"

#include "errors.h"
#include "pcm_format.h"

#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <utility>

namespace sonvale_cli {

namespace {

// The worker turns each item into one block of at most this many bytes.
constexpr size_t worker_block = 1280;
// The WAV header the recorder writes ahead of the data.
constexpr uint64_t header_bytes = 44;
// Queued but unrecorded data allowed before add() waits for the worker.
constexpr size_t queued_pieces = 64;
// How long the file may stop growing before the worker counts as stuck.
constexpr std::chrono::seconds stall_limit{10};
constexpr std::chrono::milliseconds poll_interval{1};

} // namespace

recording::recording(const std::string& path, const WAVEFORMATEX& format, progress_fn progress)
    : m_path(path), m_progress(std::move(progress)) {
    size_t frame = format.nBlockAlign ? format.nBlockAlign : 1;
    m_piece = worker_block / frame * frame;
    if (m_piece == 0)
        throw command_error("a sample frame of " + describe_format(format) +
                            " is larger than the worker's block");
    WAVEFORMATEX mixer_format = format;
    m_mixer.reset(MIX_Init(&mixer_format, nullptr));
    if (!m_mixer)
        throw command_error("cannot open a mixer on " + describe_format(format) +
                            ": the output device refuses this format");
    if (!Record_Open(m_mixer.get(), path.c_str(), format.nSamplesPerSec, format.nChannels,
                     format.wBitsPerSample))
        throw command_error("cannot create '" + path + "' for writing");
}

void recording::add(const unsigned char* data, size_t len) {
    if (m_queued > queued_pieces * m_piece)
        wait_recorded(m_queued - queued_pieces * m_piece);
    int index = m_items + 1;
    if (MIX_AddData(m_mixer.get(), data, static_cast<int>(len), index, 1) != index)
        throw command_error("cannot queue data for the worker: out of memory");
    m_items = index;
    m_queued += len;
}

void recording::finish() {
    wait_recorded(m_queued);
    Record_Close(m_mixer.get());
    m_mixer.reset();
}

uint64_t recording::recorded_now() const {
    struct stat info {};
    if (stat(m_path.c_str(), &info) != 0 || static_cast<uint64_t>(info.st_size) < header_bytes)
        return 0;
    return static_cast<uint64_t>(info.st_size) - header_bytes;
}

void recording::wait_recorded(uint64_t bytes) {
    // The flat functions report no completion, so the file's growth is
    // the sign of the worker's progress.
    uint64_t seen = recorded_now();
    auto last_growth = std::chrono::steady_clock::now();
    while (seen < bytes) {
        std::this_thread::sleep_for(poll_interval);
        uint64_t now = recorded_now();
        if (now != seen)
            last_growth = std::chrono::steady_clock::now();
        else if (std::chrono::steady_clock::now() - last_growth > stall_limit)
            throw command_error("the worker stopped recording: " + std::to_string(seen) + " of " +
                                std::to_string(bytes) + " bytes are in '" + m_path + "'");
        seen = now;
        m_progress(seen);
    }
    m_progress(seen);
}

} // namespace sonvale_cli
