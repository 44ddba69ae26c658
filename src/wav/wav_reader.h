// Reading WAV files, plain or RF64: their format, where their samples are
// and how many of them the file holds. Every failure sets the calling
// thread's last error to its reason.
#pragma once

#include "sonvale.h"
#include "wav/fmt_chunk.h"
#include "wav/riff_reader.h"

#include <cstdint>

namespace sonvale {

// What the reader finds in a WAV file.
struct wav_file_info : fmt_info {
    uint64_t declared_size; // bytes the "data" chunk declares
    uint64_t data_size;     // bytes of samples there: the declared ones, or,
                            // when the file ends first, whole frames up to its end
    uint64_t data_pos;      // file offset of the first sample

    // The file ends before the "data" chunk does.
    bool cut_short() const { return data_size < declared_size; }
};

// Opens `path` and finds its samples: the first top-level "RIFF" (or "RF64",
// sized by its "ds64" chunk) chunk of form "WAVE" (read up to the file's end
// when it declares more), its "fmt " chunk (see read_fmt_chunk), and a
// "data" chunk after it (after its pad byte, or, when none is found there,
// where the next chunk starts without the pad byte of an odd "fmt " chunk)
// that lies within the form. True with `reader` at the start of the
// samples.
bool open_wav(riff_reader& reader, const char* path, wav_file_info& out);

// The format of the WAV file at `path` (an extensible PCM or float one with
// its plain tag and cbSize 0) and the offset of its samples in `data_pos`
// when that is not null; returns the bytes of samples there (data_size),
// or -1 when open_wav refuses the file (`format` is then untouched).
int64_t read_wav_format(const char* path, WAVEFORMATEX& format, uint64_t* data_pos);

} // namespace sonvale
