#include "mixer/wav_loader.h"

#include "item/item_storage.h"
#include "platform/format_text.h"
#include "platform/last_error.h"
#include "worker/sample_pump.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace sonvale {

namespace {

constexpr uint32_t min_fmt_size = 16;       // up to and including wBitsPerSample
constexpr size_t format_record_size = 18;   // a WAVEFORMATEX, cbSize included
constexpr uint16_t extensible_tag = 0xFFFE; // the format continues in an extension
constexpr uint16_t extension_size = 22;     // valid bits, channel mask, sub-format
constexpr size_t extensible_fmt_size = 40;  // the record and its extension
// The sub-format GUID after its first four bytes (the plain tag): the same
// for every format that has a plain tag.
constexpr unsigned char subformat_tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                              0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

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

// The plain tag of an extensible format's extension (`ext`, 22 bytes): 1 or
// 3 when its sub-format is PCM or float and its valid bits fill the
// samples; else the extensible tag itself.
uint16_t plain_tag_of(const WAVEFORMATEX& f, const unsigned char* ext) {
    const uint16_t valid_bits = riff_le16(ext);
    const uint32_t sub_tag = riff_le32(ext + 6);
    const bool known = std::memcmp(ext + 10, subformat_tail, sizeof subformat_tail) == 0 &&
                       (sub_tag == WAVE_FORMAT_PCM || sub_tag == WAVE_FORMAT_IEEE_FLOAT);
    return known && valid_bits == f.wBitsPerSample ? static_cast<uint16_t>(sub_tag)
                                                   : extensible_tag;
}

// The record is read as 18 bytes even from a 16-byte chunk: the last two then
// come from what follows and land in cbSize, which nothing else uses.
bool read_format(riff_reader& reader, const char* path, const riff_chunk& fmt, wav_file_info& out) {
    unsigned char raw[extensible_fmt_size];
    if (fmt.size < min_fmt_size) {
        set_last_error("'%s' has a \"fmt \" chunk of %u bytes, too short for a format", path,
                       static_cast<unsigned>(fmt.size));
        return false;
    }
    if (reader.read(raw, format_record_size) != format_record_size) {
        set_last_error("'%s' ends inside its \"fmt \" chunk", path);
        return false;
    }
    out.format = decode_format(raw);
    out.plain_tag = out.format.wFormatTag;
    if (out.format.wFormatTag != extensible_tag)
        return true;
    const size_t declared = format_record_size + out.format.cbSize;
    if (fmt.size < format_record_size || declared > fmt.size) {
        set_last_error("'%s' has a \"fmt \" chunk too short for its declared extension", path);
        return false;
    }
    if (out.format.cbSize >= extension_size &&
        reader.read(raw + format_record_size, extension_size) == extension_size)
        out.plain_tag = plain_tag_of(out.format, raw + format_record_size);
    return true;
}

bool find_data(riff_reader& reader, const char* path, const riff_chunk& wave, wav_file_info& out) {
    riff_chunk data{};
    if (reader.descend(data, wave, "data")) {
        out.data_size = data.size;
        return true;
    }
    if (std::memcmp(data.id, "data", 4) == 0)
        set_last_error("'%s' declares %lu data bytes but holds fewer", path,
                       static_cast<unsigned long>(data.size));
    else
        set_last_error("'%s' has no \"data\" chunk after its \"fmt \" chunk", path);
    return false;
}

// A one-pass item holding the next `size` bytes of `reader`, read straight
// into the item's own storage. Null, with the reason set, when memory runs
// out or the file ends early.
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

// Opens `path` for a mixer playing `want`: true with `reader` at the
// samples, whose count is in `info`.
bool open_for_mixer(riff_reader& reader, const char* path, const WAVEFORMATEX& want,
                    wav_file_info& info) {
    return open_wav(reader, path, info) && wav_format_accepted(path, info, want);
}

} // namespace

bool open_wav(riff_reader& reader, const char* path, wav_file_info& out) {
    if (!path) {
        set_last_error("no path was given");
        return false;
    }
    if (!reader.open(path))
        return false; // the files service gave the reason
    riff_chunk wave, fmt;
    if (!reader.descend_form(wave, "WAVE")) {
        set_last_error("'%s' is not a WAV file: it has no \"RIFF\" chunk of form \"WAVE\"", path);
        return false;
    }
    if (!reader.descend(fmt, wave, "fmt ")) {
        set_last_error("'%s' has no \"fmt \" chunk", path);
        return false;
    }
    if (!read_format(reader, path, fmt, out))
        return false;
    reader.ascend(fmt);
    return find_data(reader, path, wave, out);
}

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

int64_t read_wav_format(const char* path, WAVEFORMATEX& format) {
    riff_reader reader;
    wav_file_info info;
    if (!open_wav(reader, path, info))
        return -1;
    format = info.format;
    if (info.plain_tag != info.format.wFormatTag) {
        format.wFormatTag = info.plain_tag;
        format.cbSize = 0;
    }
    return info.data_size;
}

} // namespace sonvale

int CSonvale::MIX_AddFile(const char* path, int index) {
    m_recorder.drop_stream_tail();
    sonvale::riff_reader reader;
    sonvale::wav_file_info info;
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    if (!sonvale::open_for_mixer(reader, path, format, info))
        return -1;
    // A one-pass item gives one block: only what that block can hold is read,
    // whatever size the file declares.
    const size_t size = std::min<size_t>(info.data_size, sonvale::item_block_bytes(format));
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
    // Read a run of blocks at a time: one read for many items.
    const size_t chunk =
        std::min<size_t>(info.data_size, sonvale::item_block_bytes(m_waveOut.m_waveFormate) * 64);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[chunk]);
    if (!buffer && chunk > 0) {
        sonvale::set_last_error("out of memory for the samples of '%s'", path);
        return -1;
    }
    for (uint64_t left = info.data_size; left > 0;) {
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
