// Files and clocks shared by the mixer benchmarks.
#pragma once

#include "sonvale.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace bench {

using clock_type = std::chrono::steady_clock;

inline double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A fresh folder under /tmp for the run's files.
inline std::string scratch_dir() {
    char templ[] = "/tmp/sonvale-bench-XXXXXX";
    const char* dir = mkdtemp(templ);
    if (!dir)
        std::abort();
    return dir;
}

inline uint64_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Waits, sleeping briefly between looks, until the file holds `size` bytes.
inline void wait_for_size(const std::string& path, uint64_t size) {
    while (file_size(path) < size)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

inline WAVEFORMATEX pcm16() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 22050;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 44100;
    format.wBitsPerSample = 16;
    return format;
}

inline std::vector<uint8_t> block_bytes() {
    std::vector<uint8_t> block(1280);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 13);
    return block;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace bench
