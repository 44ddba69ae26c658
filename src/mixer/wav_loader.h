// Loading WAV files into a mixer: whether a mixer takes a file's samples,
// and reading them into items. Apart from the mixer, so that tests and the
// fuzz target can drive it on any file. Every failure sets the calling
// thread's last error to its reason.
#pragma once

#include "sonvale.h"
#include "wav/wav_reader.h"

#include <cstddef>

namespace sonvale {

// True when a mixer playing `want` takes the samples of `file`: equal tag
// (or an extensible PCM or float file on a mixer of that plain tag),
// channels, rate and bits per sample; byte rate, block alignment and cbSize
// are not compared.
bool wav_format_accepted(const char* path, const wav_file_info& file, const WAVEFORMATEX& want);

// Opens `path` (see open_wav) for a mixer playing `want`: true with
// `reader` at the samples, whose count is in `info`.
bool open_for_mixer(riff_reader& reader, const char* path, const WAVEFORMATEX& want,
                    wav_file_info& info);

// False, with the reason set, when `info` describes a file cut short: for
// the callers that take a file only whole.
bool whole_data(const char* path, const wav_file_info& info);

// A one-pass item holding the next `size` bytes of `reader`, read straight
// into the item's own storage. Null, with the reason set, when memory runs
// out or the file ends early.
CWaveData* read_item(riff_reader& reader, const char* path, size_t size, int index);

} // namespace sonvale
