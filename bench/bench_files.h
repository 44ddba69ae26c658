// Files and clocks shared by the mixer benchmarks.
#pragma once

#include "sonvale.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

using clock_type = std::chrono::steady_clock;

inline double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A fresh folder under /tmp for the run's files.
inline std::string scratch_dir() {
    char templ[] = "/tmp/sonvale-bench-XXXXXX";
    const char* dir = mkdtemp(templ);
    if (!dir)
        std::abort();
    return dir;
}

inline uint64_t file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Waits, sleeping briefly between looks, until the file holds `size` bytes.
inline void wait_for_size(const std::string& path, uint64_t size) {
    while (file_size(path) < size)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

inline WAVEFORMATEX pcm16() {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 22050;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 44100;
    format.wBitsPerSample = 16;
    return format;
}

inline std::vector<uint8_t> block_bytes() {
    std::vector<uint8_t> block(1280);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 13);
    return block;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// 16-bit stereo at 44,100 Hz: the format of the file benchmarks.
inline WAVEFORMATEX stereo16() {
    return {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

// The 44-byte header of a PCM WAV file in `format` whose "data" chunk holds
// `data_size` bytes.
inline std::vector<uint8_t> wav_header(const WAVEFORMATEX& format, uint32_t data_size) {
    std::vector<uint8_t> h(44);
    const uint32_t riff = data_size + 36;
    std::memcpy(h.data(), "RIFF", 4);
    std::memcpy(h.data() + 4, &riff, 4); // the platform is little-endian
    std::memcpy(h.data() + 8, "WAVEfmt \x10\0\0\0", 12);
    std::memcpy(h.data() + 20, &format, 16);
    std::memcpy(h.data() + 36, "data", 4);
    std::memcpy(h.data() + 40, &data_size, 4);
    return h;
}

// Writes all `n` bytes to `fd`, at most 1 MiB a write(2); false when one
// fails.
inline bool write_all(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, std::min<size_t>(n, 1 << 20));
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// `n` bytes of a pattern that repeats every 256 bytes.
inline std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

// A WAV file in `format` declaring `data_size` bytes of the pattern, of which
// the first `written` are written; a non-zero `file_size` then extends the
// file, sparse, to that many bytes. False when it cannot be made.
inline bool make_wav(const std::string& path, const WAVEFORMATEX& format, uint32_t data_size,
                     uint32_t written, off_t file_size = 0) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const std::vector<uint8_t> h = wav_header(format, data_size);
    const std::vector<uint8_t> piece = pattern(1 << 20);
    bool ok = fd >= 0 && write_all(fd, h.data(), h.size());
    for (uint32_t left = written; ok && left > 0;) {
        const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(piece.size()));
        ok = write_all(fd, piece.data(), n);
        left -= n;
    }
    ok = ok && (file_size == 0 || ftruncate(fd, file_size) == 0);
    return fd >= 0 && close(fd) == 0 && ok;
}

struct usage {
    double wall; // seconds
    double cpu;  // seconds, user + system
};

inline double cpu_seconds(const rusage& used) {
    return used.ru_utime.tv_sec + used.ru_utime.tv_usec * 1e-6 + used.ru_stime.tv_sec +
           used.ru_stime.tv_usec * 1e-6;
}

// Starts `args` with its output discarded; its process id, or -1.
inline pid_t start_program(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Runs `args` with its output discarded; false when it cannot run or fails.
inline bool run_program(const std::vector<std::string>& args, usage& out) {
    const auto start = clock_type::now();
    const pid_t pid = start_program(args);
    int status = 0;
    rusage used{};
    if (pid < 0 || wait4(pid, &status, 0, &used) != pid)
        return false;
    out.wall = seconds_since(start);
    out.cpu = cpu_seconds(used);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace bench
