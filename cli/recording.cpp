#include "recording.h"

#include "errors.h"
#include "pcm_format.h"

#include <utility>

namespace sonvale_cli {

namespace {

// The worker turns each item into one block of at most this many bytes.
constexpr size_t worker_block = 1280;
// Items queued between two waits for the worker.
constexpr int queued_pieces = 64;
// How long the worker may take over what was queued before it counts as
// stuck.
constexpr int stall_limit_ms = 10000;

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
    int index = m_items + 1;
    if (MIX_AddData(m_mixer.get(), data, static_cast<int>(len), index, 1) != index)
        throw command_error("cannot queue data for the worker: out of memory");
    m_items = index;
    m_queued += len;
    if (m_items % queued_pieces == 0)
        wait_recorded();
}

void recording::finish() {
    wait_recorded();
    Record_Close(m_mixer.get());
    m_mixer.reset();
}

void recording::wait_recorded() {
    if (MIX_Flush(m_mixer.get(), stall_limit_ms) != 0)
        throw command_error("the worker stopped recording into '" + m_path + "'");
    m_progress(m_queued);
}

} // namespace sonvale_cli
