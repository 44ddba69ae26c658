// Producing 1280-byte blocks from items at each sample width, beside memcpy
// of the same bytes.
#include "worker/sample_pump.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> item_bytes() {
    std::vector<uint8_t> bytes(sonvale::block_capacity);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

void memcpy_baseline(benchmark::State& state) {
    const std::vector<uint8_t> item = item_bytes();
    uint8_t block[sonvale::block_capacity];
    for (auto _ : state) {
        std::memcpy(block, item.data(), item.size());
        benchmark::DoNotOptimize(block);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(item.size()));
}

void pump(benchmark::State& state) {
    const unsigned width = static_cast<unsigned>(state.range(0)) / 8;
    const std::vector<uint8_t> item = item_bytes();
    uint8_t block[sonvale::block_capacity];
    int64_t bytes = 0;
    for (auto _ : state) {
        sonvale::pump_source source{item.data(), static_cast<uint32_t>(item.size()), 0, 1};
        bytes += static_cast<int64_t>(sonvale::pump_block(source, width, block));
        benchmark::DoNotOptimize(block);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(bytes);
}

// A small endless item repeated to fill the block: the worst case for runs.
void pump_small_endless_item(benchmark::State& state) {
    const uint8_t item[4] = {1, 2, 3, 4};
    uint8_t block[sonvale::block_capacity];
    int64_t bytes = 0;
    for (auto _ : state) {
        sonvale::pump_source source{item, 4, 0, -1};
        bytes += static_cast<int64_t>(sonvale::pump_block(source, 2, block));
        benchmark::DoNotOptimize(block);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(bytes);
}

} // namespace

BENCHMARK(memcpy_baseline);
BENCHMARK(pump)->Arg(8)->Arg(16)->Arg(24)->Arg(32);
BENCHMARK(pump_small_endless_item);

BENCHMARK_MAIN();
