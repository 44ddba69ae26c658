#include "pcm_format.h"

namespace sonvale_cli {

WAVEFORMATEX make_pcm_format(uint32_t rate, uint16_t channels, uint16_t bits, uint16_t tag) {
    WAVEFORMATEX format{};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<uint16_t>(uint32_t{channels} * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

bool same_layout(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample;
}

std::string describe_format(const WAVEFORMATEX& format) {
    char text[128];
    MIX_DescribeFormat(&format, text, sizeof text);
    return text;
}

double seconds_of(uint64_t bytes, const WAVEFORMATEX& format) {
    if (format.nAvgBytesPerSec == 0)
        return 0.0;
    return static_cast<double>(bytes) / format.nAvgBytesPerSec;
}

} // namespace sonvale_cli
