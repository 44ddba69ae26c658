// Which output devices the tests can play on here.
#pragma once

#include "platform/wave_out.h"

namespace test_support {

// A format record whose block alignment and byte rate follow from the rest.
WAVEFORMATEX wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);

// True when the ALSA test step has started a sound server whose default sink
// is a null sink: the ALSA device must then play, and the default capture
// device records that sink.
bool null_sink_expected();

// Skips the calling test when `backend` cannot play here (ALSA on a machine
// without a sound server or card); fails it instead when null_sink_expected().
// Call it from a fixture's SetUp.
void skip_unless_device_plays(sonvale::wave_backend backend);

} // namespace test_support
