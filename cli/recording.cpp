#include "recording.h"

#include "errors.h"

#include <utility>

namespace sonvale_cli {

namespace {

// The time between two waits for the worker: each wait shows the progress
// and, for a durable recording, syncs the file (MIX_Flush), which must not
// happen for every few blocks. MIX_AddStream keeps its memory bounded
// itself.
constexpr std::chrono::milliseconds between_waits{250};
// How long the worker may take over what was queued before it counts as
// stuck.
constexpr int stall_limit_ms = 10000;

std::string library_reason() {
    return MIX_GetLastError();
}

} // namespace

recording::recording(const std::string& path, const WAVEFORMATEX& format, const char* device,
                     unsigned int flags, progress_fn progress)
    : m_path(path), m_progress(std::move(progress)) {
    m_block = static_cast<size_t>(MIX_GetBlockSize(&format));
    WAVEFORMATEX mixer_format = format;
    // The ring's usual 3 buffers of 2048 bytes: a recording never plays them.
    m_mixer.reset(MIX_InitOn(device, &mixer_format, 3, 2048, nullptr));
    if (!m_mixer)
        throw command_error("cannot open a mixer: " + library_reason());
    if (!Record_OpenEx(m_mixer.get(), path.c_str(), format.nSamplesPerSec, format.nChannels,
                       format.wBitsPerSample, flags))
        throw command_error(library_reason());
}

void recording::add(const unsigned char* data, size_t len) {
    if (MIX_AddStream(m_mixer.get(), data, static_cast<int>(len), 1) != 1)
        throw command_error("cannot queue data for the worker: " + library_reason());
    count(len);
    if (std::chrono::steady_clock::now() >= m_next_wait)
        wait_recorded();
}

void recording::add_file(const std::string& path, uint64_t bytes) {
    if (MIX_AddFileStream(m_mixer.get(), path.c_str(), 1) != 1)
        throw command_error(library_reason());
    count(bytes);
    wait_recorded();
}

void recording::start_input(const char* device, uint64_t frames) {
    if (MIX_StartInputFor(m_mixer.get(), device, frames) != 0)
        throw command_error(library_reason());
}

void recording::stop_input() {
    MIX_StopInput(m_mixer.get());
}

SONVALE_RECORD_STATUS recording::status() const {
    SONVALE_RECORD_STATUS now{};
    now.cbSize = sizeof now;
    Record_GetStatus(m_mixer.get(), &now);
    return now;
}

void recording::finish() {
    wait_recorded();
    Record_Close(m_mixer.get());
    m_status.cbSize = sizeof m_status;
    if (Record_GetStatus(m_mixer.get(), &m_status) != 0)
        throw command_error("cannot read the account of '" + m_path + "': " + library_reason());
    m_mixer.reset();
}

void recording::count(uint64_t bytes) {
    m_items += (bytes + m_block - 1) / m_block;
    m_queued += bytes;
}

void recording::wait_recorded() {
    const int flushed = MIX_Flush(m_mixer.get(), stall_limit_ms);
    // A loss does not stop the recording: what still fits is worth keeping,
    // and the first reason is what the user needs to hear.
    if (flushed == 2 && m_loss_reason.empty())
        m_loss_reason = library_reason();
    if (flushed != 0 && flushed != 2)
        throw command_error("the worker stopped recording into '" + m_path + "'");
    m_next_wait = std::chrono::steady_clock::now() + between_waits;
    m_progress(m_queued);
}

} // namespace sonvale_cli
