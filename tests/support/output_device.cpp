#include "support/output_device.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The ALSA device reaches PulseAudio through ALSA's pulse plugin. libpulse is
// not instrumented and hands memory between its threads through lock-free
// structures the race detector cannot see; every test program that opens the
// device links this file.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulse\n";
}

namespace test_support {

WAVEFORMATEX wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

bool null_sink_expected() {
    return std::getenv("SONVALE_TEST_NULL_SINK") != nullptr;
}

void skip_unless_device_plays(sonvale::wave_backend backend) {
    if (backend != sonvale::wave_backend::alsa)
        return;
    if (!sonvale::wave_backend_available(backend))
        GTEST_SKIP() << "built without alsa-lib";
    const WAVEFORMATEX format = wave_format(WAVE_FORMAT_PCM, 2, 44100, 16);
    HWAVEOUT device = nullptr;
    if (sonvale::wave_out_open_on(backend, &device, &format, nullptr, 0) == sonvale::WAVE_OK) {
        sonvale::wave_out_close(device);
        return;
    }
    if (null_sink_expected())
        FAIL() << "the ALSA default device does not open";
    GTEST_SKIP() << "no ALSA default device plays here";
}

} // namespace test_support
