// Reading WAV files for the mixer: their format, where their samples are,
// and whether a mixer can take them. Apart from the mixer, so that tests and
// the fuzz target can drive it on any file. Every failure sets the calling
// thread's last error to its reason.
#pragma once

#include "platform/riff_reader.h"
#include "sonvale.h"

namespace sonvale {

// What the loader reads of a WAV file.
struct wav_file_info {
    WAVEFORMATEX format; // the "fmt " chunk's format (cbSize as read)
    uint16_t plain_tag;  // 1 or 3 for an extensible PCM or float format whose
                         // valid bits fill its samples; else the format's tag
    uint32_t data_size;  // bytes in the "data" chunk
};

// Opens `path` and finds its samples: the first top-level "RIFF" chunk of
// form "WAVE" (read up to the file's end when it declares more), its "fmt "
// chunk (at least 16 bytes, 18 readable from its start; an extensible one
// must hold the extension it declares), and a "data" chunk after it that
// lies within the file. True with `reader` at the start of the samples.
bool open_wav(riff_reader& reader, const char* path, wav_file_info& out);

// True when a mixer playing `want` takes the samples of `file`: equal tag
// (or an extensible PCM or float file on a mixer of that plain tag),
// channels, rate and bits per sample; byte rate, block alignment and cbSize
// are not compared.
bool wav_format_accepted(const char* path, const wav_file_info& file, const WAVEFORMATEX& want);

// The format of the WAV file at `path`, an extensible PCM or float one with
// its plain tag (and cbSize 0), and the size of its samples; -1 when
// open_wav refuses it (`format` is then untouched).
int64_t read_wav_format(const char* path, WAVEFORMATEX& format);

} // namespace sonvale
