// An open, idle mixer uses no CPU: the process's CPU time over a few seconds
// with a mixer open, beside the same wait with no mixer.
#include "bench_files.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int idle_seconds = 3;

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double cpu_ms_while_idle() {
    const double before = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
    return (cpu_seconds() - before) * 1e3;
}

} // namespace

int main() {
    std::printf("process CPU time over %d s of idling, ms\n", idle_seconds);
    const double baseline = cpu_ms_while_idle();
    std::printf("%-28s %8.3f\n", "no mixer", baseline);

    WAVEFORMATEX format = bench::pcm16();
    CSonvale mixer;
    if (mixer.MIX_Init(&format, nullptr) != 0)
        return 1;
    std::printf("%-28s %8.3f\n", "open mixer", cpu_ms_while_idle());

    const std::string dir = bench::scratch_dir();
    const std::string path = dir + "/idle.wav";
    mixer.m_recorder.Open(path.c_str(), 22050, 1, 16);
    const std::vector<uint8_t> block = bench::block_bytes();
    mixer.MIX_AddData(block.data(), 1280, 1, 1, 0);
    bench::wait_for_size(path, 44 + 1280);
    std::printf("%-28s %8.3f\n", "open mixer, after an item", cpu_ms_while_idle());
    mixer.MIX_Close();
    std::remove(path.c_str());
    std::remove(dir.c_str());
    return 0;
}
