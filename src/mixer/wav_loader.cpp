#include "mixer/wav_loader.h"

#include "item/item_storage.h"

#include <memory>
#include <new>

namespace sonvale {

namespace {

constexpr uint32_t min_fmt_size = 16;     // up to and including wBitsPerSample
constexpr size_t format_record_size = 18; // a WAVEFORMATEX, cbSize included

WAVEFORMATEX decode_format(const unsigned char* p) {
    WAVEFORMATEX f;
    f.wFormatTag = riff_le16(p);
    f.nChannels = riff_le16(p + 2);
    f.nSamplesPerSec = riff_le32(p + 4);
    f.nAvgBytesPerSec = riff_le32(p + 8);
    f.nBlockAlign = riff_le16(p + 12);
    f.wBitsPerSample = riff_le16(p + 14);
    f.cbSize = riff_le16(p + 16);
    return f;
}

// The record is read as 18 bytes even from a 16-byte chunk: the last two then
// come from what follows and land in cbSize, which nothing uses.
bool read_format(riff_reader& reader, const riff_chunk& fmt, WAVEFORMATEX& out) {
    unsigned char raw[format_record_size];
    if (fmt.size < min_fmt_size || reader.read(raw, sizeof raw) != sizeof raw)
        return false;
    out = decode_format(raw);
    return true;
}

// A one-pass item holding the next `size` bytes of `reader`, read straight
// into the item's own storage. Null when memory runs out or the file ends
// early.
CWaveData* read_item(riff_reader& reader, uint32_t size, int index) {
    std::unique_ptr<CWaveData> item(new (std::nothrow) CWaveData());
    if (!item || !item_reserve(*item, size) || reader.read(item->m_pBuff, size) != size)
        return nullptr;
    item->m_nLoop = 1;
    item->m_nIndex = index;
    return item.release();
}

} // namespace

bool wav_format_matches(const WAVEFORMATEX& file, const WAVEFORMATEX& want) {
    return file.wFormatTag == want.wFormatTag && file.nChannels == want.nChannels &&
           file.nSamplesPerSec == want.nSamplesPerSec && file.wBitsPerSample == want.wBitsPerSample;
}

bool locate_wav_data(riff_reader& reader, const WAVEFORMATEX& want, uint32_t& data_size) {
    riff_chunk wave, fmt, data;
    WAVEFORMATEX format;
    if (!reader.descend_form(wave, "WAVE") || !reader.descend(fmt, wave, "fmt ") ||
        !read_format(reader, fmt, format) || !wav_format_matches(format, want))
        return false;
    reader.ascend(fmt);
    if (!reader.descend(data, wave, "data"))
        return false;
    data_size = data.size;
    return true;
}

} // namespace sonvale

int CSonvale::MIX_AddFile(const char* path, int index) {
    sonvale::riff_reader reader;
    uint32_t size = 0;
    if (!path || !reader.open(path) ||
        !sonvale::locate_wav_data(reader, m_waveOut.m_waveFormate, size))
        return -1;
    CWaveData* item = sonvale::read_item(reader, size, index);
    reader.close();
    if (!item)
        return -1;
    queue_item(item);
    return index;
}
