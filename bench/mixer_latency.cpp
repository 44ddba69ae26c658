// Latency from MIX_AddData to the block being in the file, at 2,000 items per
// second, beside the hand-written pipeline's.
#include "bench_files.h"
#include "handwritten_pipeline.h"

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

constexpr int items = 4000;
constexpr auto spacing = std::chrono::microseconds(500); // 2,000 items a second

// Queues one item every `spacing` through `queue` and measures, for each, how
// long until the file at `path` has grown past it.
std::vector<double> latencies_us(const std::string& path, uint64_t header,
                                 const std::function<void(int)>& queue) {
    std::vector<double> out;
    out.reserve(items);
    const auto start = bench::clock_type::now();
    for (int i = 0; i < items; ++i) {
        std::this_thread::sleep_until(start + i * spacing);
        const uint64_t target = header + uint64_t(i + 1) * 1280;
        const auto posted = bench::clock_type::now();
        queue(i);
        while (bench::file_size(path) < target) {
        }
        out.push_back(bench::seconds_since(posted) * 1e6);
    }
    return out;
}

std::vector<double> mixer_latencies(const std::string& path, const std::vector<uint8_t>& block) {
    WAVEFORMATEX format = bench::pcm16();
    CSonvale mixer;
    if (mixer.MIX_Init(&format, nullptr) != 0 || !mixer.m_recorder.Open(path.c_str(), 22050, 1, 16))
        std::abort();
    auto out =
        latencies_us(path, 44, [&](int i) { mixer.MIX_AddData(block.data(), 1280, i, 1, 0); });
    mixer.MIX_Close();
    return out;
}

std::vector<double> pipeline_latencies(const std::string& path, const std::vector<uint8_t>& block) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::abort();
    std::vector<double> out;
    {
        bench::handwritten_pipeline pipeline(fd);
        out = latencies_us(path, 0, [&](int) { pipeline.push(block.data(), block.size()); });
    }
    close(fd);
    return out;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

} // namespace

int main() {
    const std::string dir = bench::scratch_dir();
    const std::string path = dir + "/latency.bin";
    const std::vector<uint8_t> block = bench::block_bytes();
    std::printf("%d items at 2000/s, microseconds from queueing to the block in the file\n", items);
    std::printf("%-4s %10s %10s %10s %12s %12s %12s\n", "run", "mixer p50", "mixer p99",
                "mixer max", "pipe p50", "pipe p99", "pipe max");
    for (int run = 1; run <= 3; ++run) {
        const auto mixer = mixer_latencies(path, block);
        unlink(path.c_str());
        const auto pipeline = pipeline_latencies(path, block);
        unlink(path.c_str());
        std::printf("%-4d %10.1f %10.1f %10.1f %12.1f %12.1f %12.1f\n", run, percentile(mixer, 0.5),
                    percentile(mixer, 0.99), percentile(mixer, 1.0), percentile(pipeline, 0.5),
                    percentile(pipeline, 0.99), percentile(pipeline, 1.0));
    }
    rmdir(dir.c_str());
    return 0;
}
