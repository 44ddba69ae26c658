// The mixer's members that queue WAV files.
#include "sonvale.h"

#include "mixer/wav_loader.h"
#include "platform/last_error.h"
#include "wav/block_size.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// Blocks read from a streamed file at a time: one read for many items.
constexpr size_t blocks_per_read = 64;

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
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(
        info.data_size, sonvale::item_block_bytes(m_waveOut.m_waveFormate) * blocks_per_read));
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[chunk]);
    if (!buffer && chunk > 0) {
        sonvale::set_last_error("out of memory for the samples of '%s'", path);
        return -1;
    }
    for (uint64_t left = info.data_size; left > 0;) {
        if (m_bStop) { // MIX_Close from another thread is waiting for this call
            sonvale::set_last_error("the mixer was closed");
            return -1;
        }
        const size_t size = static_cast<size_t>(std::min<uint64_t>(left, chunk));
        if (reader.read(buffer.get(), size) != size) {
            sonvale::set_last_error("cannot read the samples of '%s'", path);
            return -1;
        }
        if (!queue_blocks(buffer.get(), size, index))
            return -1;
        wait_for_backlog();
        left -= size;
    }
    return index;
}
