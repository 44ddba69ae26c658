#include "wav/fmt_chunk.h"

#include "platform/last_error.h"

#include <algorithm>
#include <cstring>

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

// The record in `p`, of which `len` bytes were read: without its cbSize
// field the format has no extra bytes.
WAVEFORMATEX decode_format(const unsigned char* p, size_t len) {
    WAVEFORMATEX f;
    f.wFormatTag = riff_le16(p);
    f.nChannels = riff_le16(p + 2);
    f.nSamplesPerSec = riff_le32(p + 4);
    f.nAvgBytesPerSec = riff_le32(p + 8);
    f.nBlockAlign = riff_le16(p + 12);
    f.wBitsPerSample = riff_le16(p + 14);
    f.cbSize = len >= format_record_size ? riff_le16(p + 16) : 0;
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

} // namespace

bool read_fmt_chunk(riff_reader& reader, const char* path, const riff_chunk& fmt, fmt_info& out) {
    if (fmt.size < min_fmt_size) {
        set_last_error("'%s' has a \"fmt \" chunk of %llu bytes, too short for a format", path,
                       static_cast<unsigned long long>(fmt.size));
        return false;
    }
    unsigned char raw[extensible_fmt_size];
    const size_t len = static_cast<size_t>(std::min<uint64_t>(fmt.size, sizeof raw));
    if (reader.read(raw, len) != len) {
        set_last_error("'%s' ends inside its \"fmt \" chunk", path);
        return false;
    }
    out.format = decode_format(raw, len);
    out.plain_tag = out.format.wFormatTag;
    if (out.format.wFormatTag != extensible_tag)
        return true;
    if (len < format_record_size || format_record_size + out.format.cbSize > fmt.size) {
        set_last_error("'%s' has a \"fmt \" chunk too short for its declared extension", path);
        return false;
    }
    if (out.format.cbSize >= extension_size)
        out.plain_tag = plain_tag_of(out.format, raw + format_record_size);
    return true;
}

} // namespace sonvale
