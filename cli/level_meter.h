// The level of what is being recorded: the peak of each channel since the
// last look, in dBFS, and a count of samples at full scale (clipped).
#pragma once

#include <sonvale.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sonvale_cli {

class level_meter {
public:
    explicit level_meter(const WAVEFORMATEX& format);

    // Takes `bytes` of whole frames of the format.
    void add(const unsigned char* data, size_t bytes);
    // "-6.0 -6.1 dBFS, 0 clipped": the peaks since the last call, then
    // starts them again.
    std::string take_text();
    uint64_t clipped() const { return m_clipped; }

private:
    // A sample as a share of full scale, -1 ... 1.
    double sample_at(const unsigned char* p) const;

    WAVEFORMATEX m_format;
    unsigned m_width;
    std::vector<double> m_peaks;
    uint64_t m_clipped = 0;
};

// Reads what a recording in progress has added to its file, for the meter:
// the file is opened for reading beside the writer, its "data" chunk found,
// and each call reads the bytes recorded since the last one.
class recorded_tail {
public:
    explicit recorded_tail(const std::string& path);
    ~recorded_tail();
    recorded_tail(const recorded_tail&) = delete;
    recorded_tail& operator=(const recorded_tail&) = delete;

    // Hands `meter` the data up to `data_bytes` (the recording's count)
    // not yet read; nothing when the file cannot be read.
    void read_to(uint64_t data_bytes, level_meter& meter);

private:
    bool find_data();

    std::FILE* m_file = nullptr;
    uint64_t m_data_at = 0; // offset of the data; 0 until found
    uint64_t m_read = 0;    // data bytes read so far
    std::vector<unsigned char> m_buffer;
};

} // namespace sonvale_cli
