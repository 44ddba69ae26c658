// Items per second through MIX_AddData (1280-byte items, recording on) until
// the file holds every byte, beside a hand-written pipeline and a single
// thread appending the same blocks with write(2).
#include "bench_files.h"
#include "handwritten_pipeline.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int items = 200000;
constexpr uint64_t data_bytes = uint64_t(items) * 1280;

double mixer_rate(const std::string& path, const std::vector<uint8_t>& block) {
    WAVEFORMATEX format = bench::pcm16();
    CSonvale mixer;
    if (mixer.MIX_Init(&format, nullptr) != 0 || !mixer.m_recorder.Open(path.c_str(), 22050, 1, 16))
        std::abort();
    const auto start = bench::clock_type::now();
    for (int i = 0; i < items; ++i)
        mixer.MIX_AddData(block.data(), 1280, i, 1, 0);
    bench::wait_for_size(path, 44 + data_bytes);
    const double rate = items / bench::seconds_since(start);
    mixer.MIX_Close();
    return rate;
}

int create(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::abort();
    return fd;
}

double pipeline_rate(const std::string& path, const std::vector<uint8_t>& block) {
    const int fd = create(path);
    double rate;
    {
        bench::handwritten_pipeline pipeline(fd);
        const auto start = bench::clock_type::now();
        for (int i = 0; i < items; ++i)
            pipeline.push(block.data(), block.size());
        bench::wait_for_size(path, data_bytes);
        rate = items / bench::seconds_since(start);
    }
    close(fd);
    return rate;
}

double single_thread_rate(const std::string& path, const std::vector<uint8_t>& block) {
    const int fd = create(path);
    const auto start = bench::clock_type::now();
    for (int i = 0; i < items; ++i) {
        if (write(fd, block.data(), block.size()) < 0)
            std::abort();
    }
    const double rate = items / bench::seconds_since(start);
    close(fd);
    return rate;
}

} // namespace

// With an argument ("mixer", "pipeline" or "write") only that one runs, for
// profiling.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    auto runs = [&](const char* name) { return only.empty() || only == name; };
    const std::string dir = bench::scratch_dir();
    const std::string path = dir + "/throughput.bin";
    const std::vector<uint8_t> block = bench::block_bytes();
    std::vector<double> mixer, pipeline, single;
    std::printf("%d items of 1280 bytes into %s, items/s\n", items, dir.c_str());
    std::printf("%-4s %12s %12s %12s %10s %10s\n", "run", "mixer", "pipeline", "write(2)",
                "vs pipe", "vs write");
    for (int run = 1; run <= 5; ++run) {
        mixer.push_back(runs("mixer") ? mixer_rate(path, block) : 0);
        unlink(path.c_str());
        pipeline.push_back(runs("pipeline") ? pipeline_rate(path, block) : 0);
        unlink(path.c_str());
        single.push_back(runs("write") ? single_thread_rate(path, block) : 0);
        unlink(path.c_str());
        std::printf("%-4d %12.0f %12.0f %12.0f %9.2fx %9.2fx\n", run, mixer.back(), pipeline.back(),
                    single.back(), mixer.back() / pipeline.back(), mixer.back() / single.back());
    }
    std::printf("%-4s %12.0f %12.0f %12.0f %9.2fx %9.2fx\n", "med", bench::median(mixer),
                bench::median(pipeline), bench::median(single),
                bench::median(mixer) / bench::median(pipeline),
                bench::median(mixer) / bench::median(single));
    rmdir(dir.c_str());
    return 0;
}
