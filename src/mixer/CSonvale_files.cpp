// The mixer's members that queue WAV files.
#include "sonvale.h"

#include "mixer/wav_loader.h"
#include "platform/last_error.h"
#include "wav/block_size.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// A streamed file's samples, read straight into runs.
struct file_samples {
    const CSonvale& mixer;
    sonvale::riff_reader& reader;
    const char* path;
};

bool read_next(void* source, unsigned char* out, size_t n) {
    const file_samples& file = *static_cast<const file_samples*>(source);
    if (file.mixer.m_bStop) { // MIX_Close from another thread is waiting for this call
        sonvale::set_last_error("the mixer was closed");
        return false;
    }
    if (file.reader.read(out, n) != n) {
        sonvale::set_last_error("cannot read the samples of '%s'", file.path);
        return false;
    }
    return true;
}

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
    queue_part(item, info.data_size, "MIX_AddFile", path);
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
    file_samples file{*this, reader, path};
    return queue_runs(info.data_size, read_next, &file) ? index : -1;
}
