// MIX_AddFile of a WAV file holding 256 MiB of samples, on an open mixer of
// the file's format, against one read(2) of the same bytes into fresh memory,
// with the file in the page cache. Each run happens in a forked child, so
// that its peak resident memory (VmHWM) is its own; the peak is reported
// above the child's resident memory just before the run.
//
// Targets: wall time at most 1.2x the read(2); peak at most 1.1x the data.
// Usage: bench_load_file [MiB] (default 256). Exits 1 when a target is missed.
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
const WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

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

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool write_all(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// The 44-byte header of a PCM WAV file in `format`, then `data_size` bytes.
bool make_wav(const std::string& path, uint32_t data_size) {
    unsigned char h[header_size] = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                                    'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,   0};
    std::memcpy(h + 20, &format, 16); // the platform is little-endian
    std::memcpy(h + 36, "data", 4);
    put32(h + 4, data_size + 36);
    put32(h + 40, data_size);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<unsigned char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i * 31 + 7);
    bool ok = fd >= 0 && write_all(fd, h, sizeof h);
    for (uint32_t left = data_size; ok && left > 0;) {
        uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(block.size()));
        ok = write_all(fd, block.data(), n);
        left -= n;
    }
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

// The loader: MIX_AddFile on an open mixer of the file's format.
bool run_add_file(const std::string& path, uint32_t, sample& out) {
    CSonvale mixer;
    WAVEFORMATEX f = format;
    if (mixer.MIX_Init(&f, nullptr) != 0)
        return false;
    double rss = status_bytes("VmRSS");
    double start = now();
    bool ok = mixer.MIX_AddFile(path.c_str(), 1) == 1;
    out.seconds = now() - start;
    out.peak_bytes = status_bytes("VmHWM") - rss;
    mixer.MIX_Close();
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

int main(int argc, char** argv) {
    uint32_t mib = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 256;
    uint32_t data_size = mib << 20;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp ? tmp : "/tmp") + "/sonvale-bench-XXXXXX";
    if (!mkdtemp(dir.data()))
        return 2;
    std::string path = dir + "/load.wav";
    bool ok = make_wav(path, data_size);
    std::vector<sample> reads, loads;
    if (ok) {
        warm(path);
        for (int i = 0; ok && i < repetitions; ++i) {
            sample r{}, l{};
            ok = in_child(run_read, path, data_size, r) &&
                 in_child(run_add_file, path, data_size, l);
            reads.push_back(r);
            loads.push_back(l);
        }
    }
    unlink(path.c_str());
    rmdir(dir.c_str());
    if (!ok) {
        std::fprintf(stderr, "bench_load_file: a run failed\n");
        return 2;
    }

    sample r = median(reads), l = median(loads);
    double time_ratio = l.seconds / r.seconds, peak_ratio = l.peak_bytes / data_size;
    std::printf("data: %u MiB, %d runs each, median wall time, highest peak\n", mib, repetitions);
    std::printf("read(2) into fresh memory: %8.1f ms  peak %7.1f MiB (%.3fx data)\n",
                r.seconds * 1e3, r.peak_bytes / (1 << 20), r.peak_bytes / data_size);
    std::printf("MIX_AddFile:               %8.1f ms  peak %7.1f MiB (%.3fx data)\n",
                l.seconds * 1e3, l.peak_bytes / (1 << 20), peak_ratio);
    std::printf("time %.3fx read(2) (target <= 1.2x), peak %.3fx data (target <= 1.1x)\n",
                time_ratio, peak_ratio);
    return time_ratio <= 1.2 && peak_ratio <= 1.1 ? 0 : 1;
}
