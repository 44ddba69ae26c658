// Streams at the speed of the disk: 256 MiB recorded through a stream beside
// a plain copy of the same bytes, into files in a scratch folder (the input
// in the page cache), each pair in the same round:
// - MIX_AddFileStream of a WAV file + MIX_Flush, beside read(2)/write(2) of
//   the file 1 MiB at a time (target: within 2x);
// - MIX_AddStream of the samples from memory + MIX_Flush, beside write(2) of
//   the same bytes in 1 MiB pieces (target: within 1.5x).
// Usage: bench_stream_throughput [MiB] (default 256). Exits 1 when a target
// is missed.
#include "bench_files.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

constexpr int rounds = 5;
constexpr size_t piece = 1 << 20;

int create(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    return fd;
}

// Seconds `feed` takes on a mixer recording into `out` until MIX_Flush says
// every byte is in the file.
double on_mixer(const std::string& out, const std::function<bool(CSonvale&)>& feed) {
    WAVEFORMATEX f = bench::stereo16();
    CSonvale mixer;
    if (mixer.MIX_Init(&f, nullptr) != 0 || !mixer.m_recorder.Open(out.c_str(), 44100, 2, 16))
        std::abort();
    const auto start = bench::clock_type::now();
    if (!feed(mixer) || mixer.MIX_Flush(-1) != 0)
        std::abort();
    const double seconds = bench::seconds_since(start);
    mixer.MIX_Close();
    unlink(out.c_str());
    return seconds;
}

double file_stream(const std::string& in, const std::string& out) {
    return on_mixer(out, [&](CSonvale& m) { return m.MIX_AddFileStream(in.c_str(), 1) == 1; });
}

double memory_stream(const std::vector<uint8_t>& samples, const std::string& out) {
    return on_mixer(out, [&](CSonvale& m) {
        return m.MIX_AddStream(samples.data(), static_cast<int>(samples.size()), 1) == 1;
    });
}

double copy_file(const std::string& in, const std::string& out) {
    std::vector<uint8_t> buffer(piece);
    const auto start = bench::clock_type::now();
    const int from = open(in.c_str(), O_RDONLY | O_CLOEXEC);
    const int to = create(out);
    for (ssize_t n; (n = read(from, buffer.data(), buffer.size())) > 0;)
        if (!bench::write_all(to, buffer.data(), static_cast<size_t>(n)))
            std::abort();
    const double seconds = bench::seconds_since(start);
    close(from);
    close(to);
    unlink(out.c_str());
    return seconds;
}

double write_pieces(const std::vector<uint8_t>& samples, const std::string& out) {
    const std::vector<uint8_t> h =
        bench::wav_header(bench::stereo16(), static_cast<uint32_t>(samples.size()));
    const auto start = bench::clock_type::now();
    const int to = create(out);
    if (!bench::write_all(to, h.data(), h.size()) ||
        !bench::write_all(to, samples.data(), samples.size()))
        std::abort();
    const double seconds = bench::seconds_since(start);
    close(to);
    unlink(out.c_str());
    return seconds;
}

struct figures {
    std::vector<double> ms;
    double median() const { return bench::median(ms); }
    double min() const { return *std::min_element(ms.begin(), ms.end()); }
    double max() const { return *std::max_element(ms.begin(), ms.end()); }
};

void report(const char* what, const figures& f) {
    std::printf("%-34s median %8.1f ms  min %8.1f  max %8.1f\n", what, f.median(), f.min(),
                f.max());
}

bool target(const char* what, const figures& ours, const figures& peer, double most) {
    const double ratio = ours.median() / peer.median();
    std::printf("%-34s %.2fx its peer (target within %.1fx)\n", what, ratio, most);
    return ratio <= most;
}

} // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 256;
    const std::string dir = bench::scratch_dir();
    const std::string in = dir + "/in.wav", out = dir + "/out.wav";
    const std::vector<uint8_t> samples = bench::pattern(mib << 20);
    if (!bench::make_wav(in, bench::stereo16(), static_cast<uint32_t>(samples.size()),
                         static_cast<uint32_t>(samples.size())))
        std::abort();
    figures streamed, copied, added, written;
    for (int round = 1; round <= rounds; ++round) {
        streamed.ms.push_back(file_stream(in, out) * 1e3);
        copied.ms.push_back(copy_file(in, out) * 1e3);
        added.ms.push_back(memory_stream(samples, out) * 1e3);
        written.ms.push_back(write_pieces(samples, out) * 1e3);
        std::printf("round %d: file stream %.1f ms, copy %.1f ms; stream %.1f ms, write %.1f ms\n",
                    round, streamed.ms.back(), copied.ms.back(), added.ms.back(),
                    written.ms.back());
    }
    unlink(in.c_str());
    rmdir(dir.c_str());
    std::printf("%zu MiB, %d rounds\n", mib, rounds);
    report("MIX_AddFileStream + MIX_Flush:", streamed);
    report("read/write copy, 1 MiB a time:", copied);
    report("MIX_AddStream + MIX_Flush:", added);
    report("write(2), 1 MiB pieces:", written);
    const bool files = target("MIX_AddFileStream:", streamed, copied, 2.0);
    const bool memory = target("MIX_AddStream:", added, written, 1.5);
    return files && memory ? 0 : 1;
}
