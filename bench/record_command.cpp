// `sonvale record out.wav a.wav a.wav` beside `sox a.wav a.wav out.wav`: two
// 128 MiB WAV files (in the page cache) concatenated into a new file, in
// paired rounds, wall time and the CPU time (user + system) of each run.
// Targets: at most half sox's wall time, and no more CPU than sox.
// Usage: bench_record_command [MiB per input] (default 128). Exits 1 when a
// target is missed, 2 when a program cannot be run (sox is the Debian
// package of that name).
#include "bench_files.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#ifndef SONVALE_CLI_PATH
#error "SONVALE_CLI_PATH names the sonvale program"
#endif

namespace {

constexpr int rounds = 5;

struct series {
    std::vector<double> wall, cpu;
    void add(const bench::usage& u) {
        wall.push_back(u.wall * 1e3);
        cpu.push_back(u.cpu * 1e3);
    }
};

void report(const char* what, const std::vector<double>& ms) {
    std::printf("%-24s median %8.1f ms  min %8.1f  max %8.1f\n", what, bench::median(ms),
                *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
}

} // namespace

int main(int argc, char** argv) {
    const uint32_t mib = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 128;
    const std::string dir = bench::scratch_dir();
    const std::string in = dir + "/a.wav", out = dir + "/out.wav";
    if (!bench::make_wav(in, bench::stereo16(), mib << 20, mib << 20))
        std::abort();
    series sonvale, sox;
    bool ran = true;
    for (int round = 1; ran && round <= rounds; ++round) {
        bench::usage s{}, x{};
        ran = bench::run_program({SONVALE_CLI_PATH, "record", out, in, in}, s);
        unlink(out.c_str());
        ran = ran && bench::run_program({"sox", in, in, out}, x);
        unlink(out.c_str());
        sonvale.add(s);
        sox.add(x);
        std::printf("round %d: sonvale %.0f ms wall, %.0f ms CPU; sox %.0f ms wall, %.0f ms CPU\n",
                    round, s.wall * 1e3, s.cpu * 1e3, x.wall * 1e3, x.cpu * 1e3);
    }
    unlink(in.c_str());
    rmdir(dir.c_str());
    if (!ran) {
        std::fprintf(stderr, "bench_record_command: a program could not be run\n");
        return 2;
    }
    std::printf("2 x %u MiB, %d paired rounds\n", mib, rounds);
    report("sonvale record, wall:", sonvale.wall);
    report("sox, wall:", sox.wall);
    report("sonvale record, CPU:", sonvale.cpu);
    report("sox, CPU:", sox.cpu);
    const double wall = bench::median(sonvale.wall) / bench::median(sox.wall);
    const double cpu = bench::median(sonvale.cpu) / bench::median(sox.cpu);
    std::printf("wall %.2fx sox's (target at most 0.5x), CPU %.2fx (target at most 1x)\n", wall,
                cpu);
    return wall <= 0.5 && cpu <= 1.0 ? 0 : 1;
}
