// The mixer's members that queue WAV files.
#include "sonvale.h"

#include "item/stream_run.h"
#include "mixer/wav_loader.h"
#include "platform/last_error.h"
#include "wav/block_size.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// Runs of a streamed file queued but unrecorded at most: the worker always
// has the next one while the file is read, and memory stays at a few runs.
constexpr uint64_t runs_in_flight = 2;

} // namespace

int CSonvale::MIX_AddFile(const char* path, int index) {
    m_recorder.drop_stream_tail();
    sonvale::riff_reader reader;
    sonvale::wav_file_info info;
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    if (!sonvale::open_for_mixer(reader, path, format, info) || !sonvale::whole_data(path, info))
        return -1;
    // A one-pass item gives one block: only what that block can hold is read,
    // whatever size the file declares.
    const size_t size =
        static_cast<size_t>(std::min<uint64_t>(info.data_size, sonvale::item_block_bytes(format)));
    CWaveData* item = sonvale::read_item(reader, path, size, index);
    reader.close();
    if (!item)
        return -1;
    queue_item(item);
    return index;
}

int CSonvale::MIX_AddFileStream(const char* path, int index) {
    m_recorder.drop_stream_tail();
    sonvale::riff_reader reader;
    sonvale::wav_file_info info;
    if (!sonvale::open_for_mixer(reader, path, m_waveOut.m_waveFormate, info))
        return -1;
    if (m_dwThreadId == 0)
        return index; // no worker would take the items
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    const size_t per_run = sonvale::run_data_bytes(sonvale::item_block_bytes(format));
    for (uint64_t left = info.data_size; left > 0;) {
        if (m_bStop) { // MIX_Close from another thread is waiting for this call
            sonvale::set_last_error("the mixer was closed");
            return -1;
        }
        const size_t size = static_cast<size_t>(std::min<uint64_t>(left, per_run));
        // Read straight into the run: the samples are copied once.
        std::unique_ptr<sonvale::stream_run> run(
            sonvale::new_run(size, sonvale::stream_unit(format)));
        if (!run) {
            sonvale::set_last_error("out of memory for the samples of '%s'", path);
            return -1;
        }
        if (reader.read(run->bytes.get(), size) != size) {
            sonvale::set_last_error("cannot read the samples of '%s'", path);
            return -1;
        }
        if (post_unit(sonvale::run_message, reinterpret_cast<uintptr_t>(run.get()), run->len))
            run.release(); // the worker's now
        wait_for_backlog(runs_in_flight);
        left -= size;
    }
    return index;
}
