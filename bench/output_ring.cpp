// Plays 10 s of 44.1 kHz 16-bit stereo through CWaveMixOut (3 buffers of 2048
// bytes) on the default output device and reports:
// - the real-time factor: wall time from the first buffer queued until the
//   last has played, over the audio's duration (target 1.000 +- 0.005);
// - the process CPU time (user + system, getrusage) over the same run as a
//   percentage of one core (target below 1%).
// Usage: bench_output_ring [seconds]  (default 10)
#include "sonvale.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!(seconds > 0))
        seconds = 10.0;

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;

    CWaveMixOut ring;
    ring.SetBuffParam(3, 2048);
    if (ring.Open(&format) != 0) {
        std::fprintf(stderr, "cannot open the output device\n");
        return 1;
    }

    const uint64_t total = uint64_t(std::llround(seconds * format.nAvgBytesPerSec)) / 4 * 4;
    const double audio = double(total) / format.nAvgBytesPerSec;
    unsigned int capacity = 0;
    unsigned char* buffer = ring.GetNextBuff(capacity);
    int num = 0, size = 0;
    ring.GetBuffParam(num, size);

    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    uint64_t sent = 0;
    unsigned phase = 0;
    while (sent < total) {
        unsigned int len =
            static_cast<unsigned int>(total - sent < capacity ? total - sent : capacity);
        for (unsigned int i = 0; i < len; ++i) // a cheap ramp, so the data is real
            buffer[i] = static_cast<unsigned char>(phase++);
        buffer = ring.SingAndRetNextBuff(len);
        sent += len;
    }
    // The last num - 1 buffers are still queued: each empty buffer sent after
    // them returns once one more of them has played.
    for (int i = 0; i + 1 < num; ++i) {
        unsigned int none = 0;
        buffer = ring.SingAndRetNextBuff(none);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds() - cpu0;
    ring.Close();

    std::printf("audio            %.3f s (%llu bytes, %d buffers of %d bytes)\n", audio,
                static_cast<unsigned long long>(total), num, size);
    std::printf("wall             %.4f s\n", wall);
    std::printf("real-time factor %.4f (target 1.000 +- 0.005)\n", wall / audio);
    std::printf("cpu              %.4f s = %.3f%% of one core (target < 1%%)\n", cpu,
                100.0 * cpu / wall);
    const bool ok = std::fabs(wall / audio - 1.0) <= 0.005 && cpu / wall < 0.01;
    std::printf("%s\n", ok ? "within targets" : "OUTSIDE TARGETS");
    return ok ? 0 : 2;
}
