// Capture from an input device into a recording, three ways:
//   cpu [S]       S seconds (default 20) of 48 kHz stereo 16-bit from the
//                 default capture device through MIX_StartInput, then the
//                 same through `arecord` (Debian: alsa-utils) in the same
//                 run: the CPU time of each as a share of one core. Target:
//                 at most 1 %.
//   overruns [S]  S seconds (default 600) from the default capture device
//                 with `stress-ng --cpu 2` beside it: the frames lost.
//                 Target: none.
//   latency [S]   S seconds (default 10) from the silent device: the time
//                 from a frame entering the device (its place on the
//                 device's clock) to its bytes being in the file, p50 and
//                 p99, each 10 ms of frames looked at.
// Run the first two with a sound server whose default source hears
// something, e.g. under scripts/null-sink.sh's private null sink. Exits 1
// when a target is missed, 2 when something cannot be run.
#include "bench_files.h"

#include <sonvale.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

struct captured {
    double cpu = 0.0; // seconds of this process's CPU while capturing
    uint64_t frames = 0;
    uint64_t lost_frames = 0;
    std::string reason;
};

double own_cpu() {
    rusage used{};
    getrusage(RUSAGE_SELF, &used);
    return bench::cpu_seconds(used);
}

WAVEFORMATEX stereo48k() {
    return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
}

// Captures `seconds` from `device` into a file; `during(mixer, seconds)`
// runs meanwhile on this thread (its CPU counts too).
template <class During>
bool capture(const char* device, double seconds, captured& out, During during) {
    const std::string dir = bench::scratch_dir();
    const std::string path = dir + "/capture.wav";
    WAVEFORMATEX format = stereo48k();
    HSONVALE mixer = MIX_InitOn("silent", &format, 3, 2048, nullptr);
    bool ok = mixer && Record_Open(mixer, path.c_str(), 48000, 2, 16) == 1;
    const double cpu_before = own_cpu();
    ok = ok && MIX_StartInput(mixer, device) == 0;
    if (ok) {
        during(mixer, seconds);
        MIX_StopInput(mixer);
        if (MIX_Flush(mixer, 10000) == 2)
            out.reason = MIX_GetLastError();
        out.cpu = own_cpu() - cpu_before;
        SONVALE_RECORD_STATUS status{sizeof status, 0, 0, 0};
        Record_GetStatus(mixer, &status);
        out.frames = status.dataBytes / 4;
        out.lost_frames = status.lostBytes / 4;
    } else {
        std::fprintf(stderr, "bench_capture: %s\n", MIX_GetLastError());
    }
    MIX_Close(mixer);
    unlink(path.c_str());
    rmdir(dir.c_str());
    return ok;
}

void sleep_for(HSONVALE, double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int measure_cpu(double seconds) {
    captured ours;
    if (!capture("default", seconds, ours, sleep_for))
        return 2;
    bench::usage theirs{};
    const std::string length = std::to_string(int(seconds + 0.5));
    if (!bench::run_program({"arecord", "-q", "-D", "default", "-f", "S16_LE", "-c", "2", "-r",
                             "48000", "-d", length, "/dev/null"},
                            theirs)) {
        std::fprintf(stderr, "bench_capture: arecord could not be run\n");
        return 2;
    }
    const double share = 100.0 * ours.cpu / seconds;
    std::printf("%.0f s at 48000 Hz stereo 16-bit from 'default'\n", seconds);
    std::printf("sonvale capture: %.3f s CPU, %.2f %% of a core, %llu frames, %llu lost\n",
                ours.cpu, share, static_cast<unsigned long long>(ours.frames),
                static_cast<unsigned long long>(ours.lost_frames));
    std::printf("arecord:         %.3f s CPU, %.2f %% of a core\n", theirs.cpu,
                100.0 * theirs.cpu / theirs.wall);
    return share <= 1.0 ? 0 : 1;
}

int count_overruns(double seconds) {
    const pid_t stress = bench::start_program(
        {"stress-ng", "--cpu", "2", "--timeout", std::to_string(int(seconds) + 10) + "s"});
    if (stress < 0)
        return 2;
    captured ours;
    const bool ran = capture("default", seconds, ours, sleep_for);
    kill(stress, SIGTERM);
    waitpid(stress, nullptr, 0);
    if (!ran)
        return 2;
    std::printf("%.0f s from 'default' beside stress-ng --cpu 2: %llu frames, %llu lost%s%s\n",
                seconds, static_cast<unsigned long long>(ours.frames),
                static_cast<unsigned long long>(ours.lost_frames), ours.reason.empty() ? "" : ": ",
                ours.reason.c_str());
    return ours.lost_frames == 0 ? 0 : 1;
}

// Looks at the recording's data count every 100 microseconds; frame k
// entered the device at start + k / rate (the silent device's clock starts
// as the capture does, a little after MIX_StartInput returns, so the
// figures err long).
int measure_latency(double seconds) {
    std::vector<double> latencies_ms;
    auto watch = [&](HSONVALE mixer, double length) {
        const auto start = bench::clock_type::now();
        constexpr uint64_t step_frames = 480; // 10 ms
        uint64_t next = step_frames;
        while (bench::seconds_since(start) < length) {
            SONVALE_RECORD_STATUS status{sizeof status, 0, 0, 0};
            Record_GetStatus(mixer, &status);
            const double now = bench::seconds_since(start);
            for (; status.dataBytes / 4 >= next; next += step_frames)
                latencies_ms.push_back((now - double(next) / 48000) * 1e3);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    };
    captured ours;
    if (!capture("silent", seconds, ours, watch) || latencies_ms.empty())
        return 2;
    std::sort(latencies_ms.begin(), latencies_ms.end());
    auto at = [&](double share) { return latencies_ms[size_t(share * (latencies_ms.size() - 1))]; };
    std::printf("frame in to bytes in the file, every 10 ms of %.0f s: p50 %.1f ms, p99 %.1f ms, "
                "max %.1f ms\n",
                seconds, at(0.5), at(0.99), latencies_ms.back());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 0.0;
    if (what == "cpu")
        return measure_cpu(seconds > 0 ? seconds : 20);
    if (what == "overruns")
        return count_overruns(seconds > 0 ? seconds : 600);
    if (what == "latency")
        return measure_latency(seconds > 0 ? seconds : 10);
    std::fprintf(stderr, "usage: bench_capture cpu|overruns|latency [seconds]\n");
    return 2;
}
