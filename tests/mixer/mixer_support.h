// Helpers for driving a mixer end to end and looking at what it recorded.
#pragma once

#include "sonvale.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mixer_test {

using bytes = std::vector<uint8_t>;

// A consistent PCM format of `bits` per sample.
WAVEFORMATEX pcm_format(uint16_t bits, uint16_t channels = 1, uint32_t rate = 22050);
// A format the device opens although the worker cannot take its samples.
WAVEFORMATEX format_with_tag(uint16_t tag, uint16_t bits, uint16_t block_align);

// Waits until the file at `path` holds at least `size` bytes.
bool wait_for_file_size(const std::string& path, uint64_t size);

// Records on a mixer opened on `bits` and `channels` whatever `queue` adds,
// until the file holds `data_bytes` data bytes, and returns the recorded
// data bytes (after checking the header's sizes).
bytes record(uint16_t bits, size_t data_bytes, const std::function<void(CSonvale&)>& queue,
             uint16_t channels = 1);

// The data bytes of a finished recording, after checking the header's sizes.
bytes recorded_data(const std::string& path);

// Queues a copy of `data` as one item of `loops` passes.
void add(CSonvale& mixer, const bytes& data, int loops);

bytes repeat(const bytes& data, size_t times);
bytes first(const bytes& data, size_t n);
bytes operator+(bytes a, const bytes& b);

// An item that counts its destruction and runs `on_destroy` first, on the
// thread that destroys it (the worker, for posted items).
class probe_item : public CWaveData {
public:
    probe_item(const bytes& data, std::atomic<int>& destroyed,
               std::function<void()> on_destroy = {});
    ~probe_item() override;

private:
    std::atomic<int>& m_destroyed;
    std::function<void()> m_on_destroy;
};

// Posts `item` to the mixer's worker the way the mixer queues its own items;
// destroys it when refused. False when refused.
bool post_item(CSonvale& mixer, CWaveData* item);

} // namespace mixer_test
