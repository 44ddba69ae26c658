// The "ds64" chunk of an RF64 file: the 64-bit sizes of its "RF64" and
// "data" chunks, which declare 0xFFFFFFFF bytes once they pass 32 bits.
#pragma once

#include "wav/riff_reader.h"

namespace sonvale {

// Reads the "ds64" chunk of the "RF64" form `form` of the file at `path`:
// `form` takes its 64-bit size where it declares 0xFFFFFFFF, and `reader`
// the "data" chunk's, then goes back to the start of the form's chunks.
// False, with the reason set, when the form has no "ds64" chunk holding
// both sizes.
bool read_ds64_chunk(riff_reader& reader, const char* path, riff_chunk& form);

} // namespace sonvale
