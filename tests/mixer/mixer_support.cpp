#include "mixer/mixer_support.h"

#include "platform/inbox.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace mixer_test {

WAVEFORMATEX pcm_format(uint16_t bits, uint16_t channels, uint32_t rate) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

WAVEFORMATEX format_with_tag(uint16_t tag, uint16_t bits, uint16_t block_align) {
    WAVEFORMATEX format = pcm_format(bits);
    format.wFormatTag = tag;
    format.nBlockAlign = block_align;
    format.nAvgBytesPerSec = format.nSamplesPerSec * block_align;
    return format;
}

bool wait_for_file_size(const std::string& path, uint64_t size) {
    return test_support::wait_until([&] {
        std::error_code ec;
        const uint64_t now = std::filesystem::file_size(path, ec);
        return !ec && now >= size;
    });
}

bytes recorded_data(const std::string& path) {
    const bytes file = test_support::read_file(path);
    EXPECT_GE(file.size(), 44u);
    if (file.size() < 44)
        return {};
    EXPECT_EQ(test_support::le32(file, 4), file.size() - 8);
    EXPECT_EQ(test_support::le32(file, 40), file.size() - 44);
    return bytes(file.begin() + 44, file.end());
}

bytes record(uint16_t bits, size_t data_bytes, const std::function<void(CSonvale&)>& queue,
             uint16_t channels) {
    test_support::temp_dir dir;
    const std::string path = dir.file("out.wav");
    WAVEFORMATEX format = pcm_format(bits, channels);
    CSonvale mixer;
    EXPECT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    EXPECT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, channels, bits));
    queue(mixer);
    EXPECT_TRUE(wait_for_file_size(path, 44 + data_bytes));
    mixer.MIX_Close();
    return recorded_data(path);
}

void add(CSonvale& mixer, const bytes& data, int loops) {
    EXPECT_EQ(mixer.MIX_AddData(data.data(), static_cast<int>(data.size()), 5, loops, 0), 5);
}

bytes repeat(const bytes& data, size_t times) {
    bytes out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), data.begin(), data.end());
    return out;
}

bytes first(const bytes& data, size_t n) {
    return bytes(data.begin(), data.begin() + n);
}

bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

probe_item::probe_item(const bytes& data, std::atomic<int>& destroyed,
                       std::function<void()> on_destroy)
    : CWaveData(data.data(), static_cast<unsigned int>(data.size()), 1, 0), m_destroyed(destroyed),
      m_on_destroy(std::move(on_destroy)) {}

probe_item::~probe_item() {
    if (m_on_destroy)
        m_on_destroy();
    ++m_destroyed;
}

bool post_item(CSonvale& mixer, CWaveData* item) {
    if (sonvale::inbox_post(mixer.m_dwThreadId, MIXMSG_DATA, reinterpret_cast<uintptr_t>(item)))
        return true;
    delete item;
    return false;
}

} // namespace mixer_test
