// What a durable recording (SONVALE_RECORD_DURABLE) costs, each pair
// measured in the same round, in a scratch folder under /tmp:
// - CPU time per second of audio of a recording fed in real time, 48 kHz
//   16-bit stereo, 100 ms at a time, durable beside plain;
// - MIX_AddFileStream of a WAV file (256 MiB) + MIX_Flush, durable, beside a
//   hand-written copy as durable: read and write 1 MiB at a time, fdatasync
//   once a second and at the end (target: within 1.2x);
// - 200,000 MIX_AddData items of 1280 bytes + MIX_Flush, durable beside
//   plain.
// Usage: bench_durable_recording [MiB] (default 256). Exits 1 when the
// target is missed.
#include "bench_files.h"

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr int rounds = 5;
constexpr unsigned durable = SONVALE_RECORD_DURABLE;

WAVEFORMATEX stereo48() {
    return {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
}

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds of `clock` that `feed` takes on a mixer recording into `out` with
// `flags` until MIX_Flush says every byte is in the file.
double on_mixer(const std::string& out, WAVEFORMATEX format, unsigned flags,
                const std::function<bool(CSonvale&)>& feed, const std::function<double()>& clock) {
    CSonvale mixer;
    if (mixer.MIX_Init(&format, nullptr) != 0 ||
        !mixer.m_recorder.OpenEx(out.c_str(), format.nSamplesPerSec, format.nChannels,
                                 format.wBitsPerSample, flags))
        std::abort();
    const double start = clock();
    if (!feed(mixer) || mixer.MIX_Flush(-1) != 0)
        std::abort();
    mixer.m_recorder.Close();
    const double seconds = clock() - start;
    mixer.MIX_Close();
    unlink(out.c_str());
    return seconds;
}

double wall_seconds() {
    return std::chrono::duration<double>(bench::clock_type::now().time_since_epoch()).count();
}

// CPU seconds per second of audio, fed in real time.
double real_time(const std::string& out, unsigned flags, int seconds) {
    const std::vector<uint8_t> tenth = bench::pattern(19200);
    const double cpu = on_mixer(
        out, stereo48(), flags,
        [&](CSonvale& m) {
            auto next = bench::clock_type::now();
            for (int i = 0; i < seconds * 10; ++i) {
                if (m.MIX_AddStream(tenth.data(), static_cast<int>(tenth.size()), 1) != 1)
                    return false;
                next += std::chrono::milliseconds(100);
                std::this_thread::sleep_until(next);
            }
            return true;
        },
        cpu_seconds);
    return cpu / seconds;
}

double file_stream(const std::string& in, const std::string& out) {
    return on_mixer(
        out, bench::stereo16(), durable,
        [&](CSonvale& m) { return m.MIX_AddFileStream(in.c_str(), 1) == 1; }, wall_seconds);
}

// The peer: the same bytes copied 1 MiB at a time, synced once a second and
// at the end, into a file whose folder is synced after it is created.
double synced_copy(const std::string& in, const std::string& dir, const std::string& out) {
    std::vector<uint8_t> buffer(1 << 20);
    const auto start = bench::clock_type::now();
    const int from = open(in.c_str(), O_RDONLY | O_CLOEXEC);
    const int to = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (from < 0 || to < 0 || folder < 0 || fsync(folder) != 0)
        std::abort();
    auto synced = bench::clock_type::now();
    for (ssize_t n; (n = read(from, buffer.data(), buffer.size())) > 0;) {
        if (!bench::write_all(to, buffer.data(), static_cast<size_t>(n)))
            std::abort();
        if (bench::seconds_since(synced) >= 1.0) {
            fdatasync(to);
            synced = bench::clock_type::now();
        }
    }
    if (fdatasync(to) != 0)
        std::abort();
    const double seconds = bench::seconds_since(start);
    close(folder);
    close(from);
    close(to);
    unlink(out.c_str());
    return seconds;
}

double items(const std::string& out, unsigned flags) {
    const std::vector<uint8_t> block = bench::block_bytes();
    return on_mixer(
        out, bench::pcm16(), flags,
        [&](CSonvale& m) {
            for (int i = 0; i < 200000; ++i)
                if (m.MIX_AddData(block.data(), static_cast<int>(block.size()), i, 1, 0) != i)
                    return false;
            return true;
        },
        wall_seconds);
}

struct figures {
    std::vector<double> v;
    double median() const { return bench::median(v); }
};

void report(const char* what, const figures& f, const char* unit, double scale) {
    std::printf("%-40s median %9.2f %s  min %9.2f  max %9.2f\n", what, f.median() * scale, unit,
                *std::min_element(f.v.begin(), f.v.end()) * scale,
                *std::max_element(f.v.begin(), f.v.end()) * scale);
}

} // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 256;
    const std::string dir = bench::scratch_dir();
    const std::string in = dir + "/in.wav", out = dir + "/out.wav";
    if (!bench::make_wav(in, bench::stereo16(), static_cast<uint32_t>(mib << 20),
                         static_cast<uint32_t>(mib << 20)))
        std::abort();
    figures cpu_durable, cpu_plain, streamed, copied, items_durable, items_plain;
    for (int round = 1; round <= rounds; ++round) {
        cpu_durable.v.push_back(real_time(out, durable, 3));
        cpu_plain.v.push_back(real_time(out, 0, 3));
        streamed.v.push_back(file_stream(in, out));
        copied.v.push_back(synced_copy(in, dir, out));
        items_durable.v.push_back(items(out, durable));
        items_plain.v.push_back(items(out, 0));
        std::printf("round %d: CPU/s %.2f ms durable, %.2f plain; file %.0f ms durable, %.0f peer; "
                    "items %.0f ms durable, %.0f plain\n",
                    round, cpu_durable.v.back() * 1e3, cpu_plain.v.back() * 1e3,
                    streamed.v.back() * 1e3, copied.v.back() * 1e3, items_durable.v.back() * 1e3,
                    items_plain.v.back() * 1e3);
    }
    unlink(in.c_str());
    rmdir(dir.c_str());
    std::printf("%d rounds, %zu MiB file\n", rounds, mib);
    report("CPU per second of audio, durable:", cpu_durable, "ms", 1e3);
    report("CPU per second of audio, plain:", cpu_plain, "ms", 1e3);
    report("MIX_AddFileStream, durable:", streamed, "ms", 1e3);
    report("copy, fdatasync once a second:", copied, "ms", 1e3);
    report("200,000 MIX_AddData, durable:", items_durable, "ms", 1e3);
    report("200,000 MIX_AddData, plain:", items_plain, "ms", 1e3);
    const double ratio = streamed.median() / copied.median();
    std::printf("MIX_AddFileStream durable: %.2fx its peer (target within 1.2x)\n", ratio);
    return ratio <= 1.2 ? 0 : 1;
}
