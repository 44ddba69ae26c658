// The flat functions that need no mixer: a WAV file's format, a format in
// words, and the block of a format.
#include "sonvale.h"

#include "platform/last_error.h"
#include "wav/block_size.h"
#include "wav/format_text.h"
#include "wav/wav_reader.h"

#include <algorithm>
#include <cstring>

namespace {

bool have_format(const WAVEFORMATEX* format) {
    if (format)
        return true;
    sonvale::set_last_error("no format record was given");
    return false;
}

} // namespace

int64_t MIX_ReadFileFormat(const char* path, WAVEFORMATEX* format) {
    return MIX_ReadFileFormatEx(path, format, nullptr);
}

int64_t MIX_ReadFileFormatEx(const char* path, WAVEFORMATEX* format, uint64_t* dataOffset) {
    if (!have_format(format))
        return -1;
    return sonvale::read_wav_format(path, *format, dataOffset);
}

int MIX_DescribeFormat(const WAVEFORMATEX* format, char* text, int size) {
    if (!have_format(format))
        return -1;
    if (size < 0 || (!text && size > 0)) {
        sonvale::set_last_error("no room was given for the text");
        return -1;
    }
    const sonvale::format_text words(*format);
    const size_t len = std::strlen(words.c_str());
    if (size > 0) {
        const size_t kept = std::min(len, static_cast<size_t>(size) - 1);
        std::memcpy(text, words.c_str(), kept);
        text[kept] = '\0';
    }
    return static_cast<int>(len);
}

int MIX_GetBlockSize(const WAVEFORMATEX* format) {
    if (!have_format(format))
        return -1;
    return static_cast<int>(sonvale::item_block_bytes(*format));
}
