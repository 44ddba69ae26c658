// Loading WAV files on an open mixer of the file's format, beside one read(2)
// of the samples into fresh memory, with the file in the page cache:
// - MIX_AddFile of a file holding 256 MiB of samples (it reads only the block
//   the worker records);
// - MIX_AddFileStream of the same file into a recording on /dev/null, until
//   MIX_Flush says every block is recorded;
// - MIX_AddFile of a 5 GB sparse file whose "data" chunk declares nearly
//   4 GiB (a forged size);
// - MIX_ReadFileFormat of a 64 MiB sparse file of empty chunks (a "RIFF"
//   chunk of form "WAVE", then zeros), which it refuses after walking them;
// - the same on a 4 GiB file of empty chunks, beside cat(1) reading that
//   file into /dev/null.
// Each run happens in a forked child, so that its peak resident memory
// (VmHWM) is its own; the peak is reported above the child's resident memory
// just before the run.
//
// Targets: the forged file in under 50 ms and under 10 MiB of peak; the
// 64 MiB of empty chunks in under a second, the 4 GiB in at most twice the
// time cat takes.
// Usage: bench_load_file [MiB] (default 256). Exits 1 when a target is missed.
#include "bench_files.h"
#include "sonvale.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t header_size = 44;
constexpr int repetitions = 9;
const WAVEFORMATEX format = bench::stereo16();

struct sample {
    double seconds;
    double peak_bytes;
};

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM").
double status_bytes(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    double kib = -1;
    size_t n = std::strlen(field);
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':')
            kib = std::atof(line + n + 1);
    if (f)
        std::fclose(f);
    return kib * 1024;
}

// A sparse file of `file_size` bytes: a "RIFF" chunk of 0xFFFFFFFF bytes of
// form "WAVE", then zeros, which read as chunks of 0 bytes.
bool make_empty_chunks(const std::string& path, off_t file_size) {
    unsigned char h[12] = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && bench::write_all(fd, h, sizeof h) && ftruncate(fd, file_size) == 0;
    return fd >= 0 && close(fd) == 0 && ok;
}

// Reads the whole file once, so that both variants find it in the page cache.
void warm(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<char> block(1 << 20);
    while (fd >= 0 && read(fd, block.data(), block.size()) > 0) {
    }
    if (fd >= 0)
        close(fd);
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The baseline: one read(2) of the samples into freshly allocated memory.
bool run_read(const std::string& path, uint32_t data_size, sample& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || lseek(fd, header_size, SEEK_SET) != header_size)
        return false;
    double rss = status_bytes("VmRSS");
    double start = now();
    auto* buffer = static_cast<unsigned char*>(std::malloc(data_size));
    bool ok = buffer && read(fd, buffer, data_size) == static_cast<ssize_t>(data_size);
    out.seconds = now() - start;
    out.peak_bytes = status_bytes("VmHWM") - rss;
    std::free(buffer);
    close(fd);
    return ok;
}

// `load(mixer)` on an open mixer of the file's format, recording into a file
// beside `path` that is removed afterwards.
template <class Load> bool run_on_mixer(const std::string& path, Load load, sample& out) {
    const std::string recording = path + ".recording.wav";
    CSonvale mixer;
    WAVEFORMATEX f = format;
    if (mixer.MIX_Init(&f, nullptr) != 0 || !mixer.m_recorder.Open(recording.c_str(), 44100, 2, 16))
        return false;
    double rss = status_bytes("VmRSS");
    double start = now();
    bool ok = load(mixer);
    out.seconds = now() - start;
    out.peak_bytes = status_bytes("VmHWM") - rss;
    mixer.MIX_Close();
    unlink(recording.c_str());
    return ok;
}

bool run_add_file(const std::string& path, uint32_t, sample& out) {
    return run_on_mixer(
        path, [&](CSonvale& m) { return m.MIX_AddFile(path.c_str(), 1) == 1; }, out);
}

bool run_add_file_stream(const std::string& path, uint32_t, sample& out) {
    return run_on_mixer(
        path,
        [&](CSonvale& m) {
            return m.MIX_AddFileStream(path.c_str(), 1) == 1 && m.MIX_Flush(-1) == 0;
        },
        out);
}

bool run_read_format(const std::string& path, uint32_t, sample& out) {
    WAVEFORMATEX f{};
    double rss = status_bytes("VmRSS");
    double start = now();
    bool refused = MIX_ReadFileFormat(path.c_str(), &f) == -1;
    out.seconds = now() - start;
    out.peak_bytes = status_bytes("VmHWM") - rss;
    return refused;
}

// The peer of the long walk: cat(1) reading the file into /dev/null.
bool run_cat(const std::string& path, uint32_t, sample& out) {
    bench::usage used{};
    const bool ok = bench::run_program({"cat", path}, used);
    out.seconds = used.wall;
    out.peak_bytes = 0;
    return ok;
}

using variant = bool (*)(const std::string&, uint32_t, sample&);

// Runs `run` in a forked child and collects its figures through a pipe.
bool in_child(variant run, const std::string& path, uint32_t data_size, sample& out) {
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        sample s{};
        bool ok = run(path, data_size, s);
        ok = ok && write(fds[1], &s, sizeof s) == sizeof s;
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    bool ok = pid > 0 && read(fds[0], &out, sizeof out) == sizeof out;
    close(fds[0]);
    int status = 0;
    ok = pid > 0 && waitpid(pid, &status, 0) == pid && ok && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
    return ok;
}

sample median(std::vector<sample> v) {
    std::sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.seconds < b.seconds; });
    sample m = v[v.size() / 2];
    for (const sample& s : v)
        m.peak_bytes = std::max(m.peak_bytes, s.peak_bytes);
    return m;
}

} // namespace

void report(const char* what, const sample& s, uint64_t data_size) {
    std::printf("%-33s %8.1f ms  peak %7.1f MiB (%.3fx data)\n", what, s.seconds * 1e3,
                s.peak_bytes / (1 << 20), s.peak_bytes / static_cast<double>(data_size));
}

int main(int argc, char** argv) {
    uint32_t mib = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 256;
    uint32_t data_size = mib << 20;
    const uint32_t forged_size = 0xFFFFFFD0u;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp ? tmp : "/tmp") + "/sonvale-bench-XXXXXX";
    if (!mkdtemp(dir.data()))
        return 2;
    std::string path = dir + "/load.wav", forged = dir + "/forged.wav",
                empty = dir + "/empty-chunks.wav", long_empty = dir + "/empty-chunks-4g.wav";
    const uint32_t empty_size = 64u << 20;
    const uint64_t long_empty_size = 4ull << 30;
    bool ok = bench::make_wav(path, format, data_size, data_size) &&
              bench::make_wav(forged, format, forged_size, 1 << 20, 5000000000LL) &&
              make_empty_chunks(empty, empty_size) &&
              make_empty_chunks(long_empty, static_cast<off_t>(long_empty_size));
    std::vector<sample> reads, loads, streams, forgeds, empties, long_empties, cats;
    if (ok) {
        warm(path);
        warm(empty);
        warm(long_empty);
        for (int i = 0; ok && i < repetitions; ++i) {
            sample r{}, l{}, st{}, f{}, e{}, le{}, c{};
            ok = in_child(run_read, path, data_size, r) &&
                 in_child(run_add_file, path, data_size, l) &&
                 in_child(run_add_file_stream, path, data_size, st) &&
                 in_child(run_add_file, forged, forged_size, f) &&
                 in_child(run_read_format, empty, empty_size, e) && run_cat(long_empty, 0, c) &&
                 in_child(run_read_format, long_empty, 0, le);
            reads.push_back(r);
            loads.push_back(l);
            streams.push_back(st);
            forgeds.push_back(f);
            empties.push_back(e);
            cats.push_back(c);
            long_empties.push_back(le);
        }
    }
    unlink(path.c_str());
    unlink(forged.c_str());
    unlink(empty.c_str());
    unlink(long_empty.c_str());
    rmdir(dir.c_str());
    if (!ok) {
        std::fprintf(stderr, "bench_load_file: a run failed\n");
        return 2;
    }

    const sample f = median(forgeds);
    std::printf("data: %u MiB, %d runs each, median wall time, highest peak\n", mib, repetitions);
    report("read(2) into fresh memory:", median(reads), data_size);
    report("MIX_AddFile:", median(loads), data_size);
    report("MIX_AddFileStream + flush:", median(streams), data_size);
    report("MIX_AddFile, forged 4 GiB:", f, forged_size);
    const sample e = median(empties);
    report("MIX_ReadFileFormat, empty chunks:", e, empty_size);
    const sample le = median(long_empties), c = median(cats);
    report("MIX_ReadFileFormat, 4 GiB empty:", le, long_empty_size);
    report("cat, 4 GiB empty:", c, long_empty_size);
    const bool met = f.seconds < 0.05 && f.peak_bytes < 10.0 * (1 << 20) && e.seconds < 1.0 &&
                     le.seconds <= 2 * c.seconds;
    std::printf("forged size: %.1f ms (target < 50 ms), peak %.1f MiB (target < 10 MiB)\n",
                f.seconds * 1e3, f.peak_bytes / (1 << 20));
    std::printf("64 MiB of empty chunks: %.1f ms (target < 1000 ms)\n", e.seconds * 1e3);
    std::printf("4 GiB of empty chunks: %.1f ms, %.2fx cat's %.1f ms (target <= 2x)\n",
                le.seconds * 1e3, le.seconds / c.seconds, c.seconds * 1e3);
    return met ? 0 : 1;
}
