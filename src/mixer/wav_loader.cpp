#include "mixer/wav_loader.h"

#include "item/item_storage.h"
#include "platform/last_error.h"
#include "wav/format_text.h"

#include <memory>
#include <new>

namespace sonvale {

bool wav_format_accepted(const char* path, const wav_file_info& file, const WAVEFORMATEX& want) {
    const bool tag_accepted =
        file.format.wFormatTag == want.wFormatTag ||
        (file.plain_tag == want.wFormatTag && file.plain_tag != file.format.wFormatTag);
    if (tag_accepted && file.format.nChannels == want.nChannels &&
        file.format.nSamplesPerSec == want.nSamplesPerSec &&
        file.format.wBitsPerSample == want.wBitsPerSample)
        return true;
    WAVEFORMATEX shown = file.format;
    shown.wFormatTag = file.plain_tag;
    set_last_error("'%s' is %s but the mixer is %s", path, format_text(shown).c_str(),
                   format_text(want).c_str());
    return false;
}

bool open_for_mixer(riff_reader& reader, const char* path, const WAVEFORMATEX& want,
                    wav_file_info& info) {
    return open_wav(reader, path, info) && wav_format_accepted(path, info, want);
}

bool whole_data(const char* path, const wav_file_info& info) {
    if (!info.cut_short())
        return true;
    set_last_error("'%s' declares %llu data bytes but holds fewer", path,
                   static_cast<unsigned long long>(info.declared_size));
    return false;
}

CWaveData* read_item(riff_reader& reader, const char* path, size_t size, int index) {
    std::unique_ptr<CWaveData> item(new (std::nothrow) CWaveData());
    if (!item || !item_reserve(*item, static_cast<uint32_t>(size))) {
        set_last_error("out of memory for the samples of '%s'", path);
        return nullptr;
    }
    if (reader.read(item->m_pBuff, size) != size) {
        set_last_error("cannot read the samples of '%s'", path);
        return nullptr;
    }
    item->m_nLoop = 1;
    item->m_nIndex = index;
    return item.release();
}

} // namespace sonvale
