// Helpers shared by the output ring tests.
#pragma once

#include "device/wave_out.h"
#include "sonvale.h"
#include "support/device_probe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace ring_test {

inline WAVEFORMATEX pcm(uint32_t rate, uint16_t bits, uint16_t channels) {
    return test_support::wave_format(WAVE_FORMAT_PCM, channels, rate, bits);
}

inline bool same_format(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nAvgBytesPerSec == b.nAvgBytesPerSec &&
           a.nBlockAlign == b.nBlockAlign && a.wBitsPerSample == b.wBitsPerSample &&
           a.cbSize == b.cbSize;
}

inline double ms_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Every backend compiled into this build.
inline std::vector<sonvale::wave_backend> available_backends() {
    std::vector<sonvale::wave_backend> out{sonvale::wave_backend::virtual_device};
    for (sonvale::wave_backend system : {sonvale::wave_backend::alsa, sonvale::wave_backend::winmm})
        if (sonvale::wave_backend_available(system))
            out.push_back(system);
    return out;
}

inline std::string backend_name(const testing::TestParamInfo<sonvale::wave_backend>& info) {
    switch (info.param) {
    case sonvale::wave_backend::alsa:
        return "alsa";
    case sonvale::wave_backend::winmm:
        return "winmm";
    default:
        return "virtual";
    }
}

// Makes `backend` the default output device for the life of the object.
class backend_scope {
public:
    explicit backend_scope(sonvale::wave_backend backend)
        : m_saved(sonvale::default_wave_backend()) {
        sonvale::select_default_wave_backend(backend);
    }
    ~backend_scope() { sonvale::select_default_wave_backend(m_saved); }
    backend_scope(const backend_scope&) = delete;
    backend_scope& operator=(const backend_scope&) = delete;

private:
    sonvale::wave_backend m_saved;
};

// Reaches the protected completion routine.
struct exposed_ring : CWaveMixOut {
    using CWaveMixOut::CallBackNotify;
};

} // namespace ring_test
