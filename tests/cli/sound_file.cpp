#include "sound_file.h"

#include <algorithm>
#include <cmath>
#include <sndfile.h>
#include <stdexcept>

namespace cli_test {

sound read_sound(const std::string& path) {
    sound s;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return s;
    s.opened = true;
    s.rate = info.samplerate;
    s.channels = info.channels;
    s.subtype = info.format & SF_FORMAT_SUBMASK;
    s.frames = info.frames;
    // Read as doubles, libsndfile's own scale (1.0 is full scale), whatever
    // the encoding; then scaled to 32 bits.
    std::vector<double> levels(static_cast<size_t>(info.frames * info.channels));
    levels.resize(static_cast<size_t>(
        sf_read_double(file, levels.data(), static_cast<sf_count_t>(levels.size()))));
    for (double level : levels)
        s.samples.push_back(static_cast<int32_t>(
            std::clamp(std::round(level * 2147483648.0), -2147483648.0, 2147483647.0)));
    sf_close(file);
    return s;
}

void write_sound(const std::string& path, int rate, int channels, int sf_format,
                 const std::vector<int32_t>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = sf_format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path + ": " + sf_strerror(nullptr));
    sf_write_int(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
}

std::vector<int32_t> sample_pattern(size_t count, int bits, int seed) {
    std::vector<int32_t> samples(count);
    const uint64_t steps = uint64_t{1} << bits;
    for (size_t i = 0; i < count; ++i) {
        auto step =
            static_cast<uint32_t>((i * 7919 + static_cast<uint64_t>(seed) * 104729) % steps);
        samples[i] = static_cast<int32_t>(step << (32 - bits));
    }
    return samples;
}

std::vector<int32_t> channel_of(const sound& s, int channel) {
    std::vector<int32_t> out;
    for (size_t i = static_cast<size_t>(channel); i < s.samples.size();
         i += static_cast<size_t>(s.channels))
        out.push_back(s.samples[i]);
    return out;
}

} // namespace cli_test
