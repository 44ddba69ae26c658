// Locating the samples of a WAV file, apart from the mixer so that tests and
// the fuzz target can drive it on any file.
#pragma once

#include "platform/riff_reader.h"
#include "sonvale.h"

namespace sonvale {

// True when the file's format can be queued on a mixer playing `want`: equal
// tag, channels, rate and bits per sample. Byte rate, block alignment and
// extra format bytes are not compared.
bool wav_format_matches(const WAVEFORMATEX& file, const WAVEFORMATEX& want);

// Finds the "fmt " chunk of the file's WAVE form and the "data" chunk after
// it, and checks the format against `want`. True with `reader` at the start
// of the samples and `data_size` their count; the "data" chunk then lies
// wholly within the file. False for a malformed file, a format chunk of fewer
// than 16 bytes (or fewer than 18 readable from its start), a mismatched
// format, a missing "data" chunk or one that runs past the form or the file.
bool locate_wav_data(riff_reader& reader, const WAVEFORMATEX& want, uint32_t& data_size);

} // namespace sonvale
