// Latency from MIX_AddData to the block being in the file, at 2,000 items per
// second, beside the hand-written pipeline's with its writer raised to the
// worker's priority (the fair peer) and left at normal priority. The three
// take turns in one process, in a rotating order, so that a noisy machine
// weighs on each alike; each run reports its own p50, p99 and max, and the
// summary gives the median, min and max of those over the runs.
//
//   bench_mixer_latency [runs]   (default 7, at least 5)
#include "bench_files.h"
#include "handwritten_pipeline.h"

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int items = 4000;
constexpr auto spacing = std::chrono::microseconds(500); // 2,000 items a second
constexpr int min_runs = 5;

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

std::vector<double> pipeline_latencies(const std::string& path, const std::vector<uint8_t>& block,
                                       bench::writer_priority priority) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::abort();
    std::vector<double> out;
    {
        bench::handwritten_pipeline pipeline(fd, priority);
        out = latencies_us(path, 0, [&](int) { pipeline.push(block.data(), block.size()); });
    }
    close(fd);
    return out;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

struct figures {
    double p50, p99, max;
};

figures figures_of(const std::vector<double>& latencies) {
    return {percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0)};
}

struct peer {
    const char* name;
    std::function<std::vector<double>()> measure;
    std::vector<figures> runs;
};

void print_spread(const char* what, const std::vector<double>& values) {
    std::printf("  %s %9.1f (%.1f-%.1f)", what, bench::median(values),
                *std::min_element(values.begin(), values.end()),
                *std::max_element(values.begin(), values.end()));
}

void print_summary(const peer& p) {
    std::vector<double> p50, p99, max;
    for (const figures& f : p.runs) {
        p50.push_back(f.p50);
        p99.push_back(f.p99);
        max.push_back(f.max);
    }
    std::printf("%-26s", p.name);
    print_spread("p50", p50);
    print_spread("p99", p99);
    print_spread("max", max);
    std::printf("\n");
}

// Sonvale's p50 and p99 over the fair peer's, run by run: the figure that
// matters, as it cancels what the machine was doing at the time.
void print_ratios(const peer& mixer, const peer& fair) {
    std::vector<double> p50, p99;
    for (size_t run = 0; run < mixer.runs.size(); ++run) {
        p50.push_back(mixer.runs[run].p50 / fair.runs[run].p50);
        p99.push_back(mixer.runs[run].p99 / fair.runs[run].p99);
    }
    std::printf("%-26s", "Sonvale / real-time, x");
    print_spread("p50", p50);
    print_spread("p99", p99);
    std::printf("\n");
}

bool realtime_permitted() {
    rlimit limit{};
    return geteuid() == 0 || (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = std::max(min_runs, argc > 1 ? std::atoi(argv[1]) : 7);
    const std::string dir = bench::scratch_dir();
    const std::string path = dir + "/latency.bin";
    const std::vector<uint8_t> block = bench::block_bytes();
    std::vector<peer> peers = {
        {"Sonvale", [&] { return mixer_latencies(path, block); }, {}},
        {"real-time pipeline",
         [&] { return pipeline_latencies(path, block, bench::writer_priority::raised); },
         {}},
        {"normal-priority pipeline",
         [&] { return pipeline_latencies(path, block, bench::writer_priority::normal); },
         {}},
    };
    std::printf("%d items at 2000/s, microseconds from queueing to the block in the file\n", items);
    if (!realtime_permitted())
        std::printf("no real-time priority permitted here: the worker and the real-time pipeline "
                    "run at normal priority\n");
    std::printf("%-4s %-26s %10s %10s %10s\n", "run", "", "p50", "p99", "max");
    for (int run = 0; run < runs; ++run) {
        for (size_t turn = 0; turn < peers.size(); ++turn) {
            peer& p = peers[(run + turn) % peers.size()];
            p.runs.push_back(figures_of(p.measure()));
            unlink(path.c_str());
        }
        for (const peer& p : peers)
            std::printf("%-4d %-26s %10.1f %10.1f %10.1f\n", run + 1, p.name, p.runs.back().p50,
                        p.runs.back().p99, p.runs.back().max);
        std::fflush(stdout);
    }
    std::printf("\nover %d runs: median (min-max)\n", runs);
    for (const peer& p : peers)
        print_summary(p);
    print_ratios(peers[0], peers[1]);
    rmdir(dir.c_str());
    return 0;
}
