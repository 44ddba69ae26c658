// Records one second of a 440 Hz tone (22050 Hz, mono, 16-bit PCM) through a
// mixer into the WAV file named on the command line: the tone is queued as
// several items, the mixer's worker records each as a block, and the file's
// header is then read back and printed.
//
//   record_tone out/tone.wav
//
// Uses only the public header and the shared library.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "sonvale.h"

namespace {

constexpr unsigned long kRate = 22050;
constexpr unsigned short kChannels = 1;
constexpr unsigned short kBits = 16;
constexpr double kFrequency = 440.0;
constexpr double kPi = 3.14159265358979323846;
// The worker records at most 1280 bytes of an item, so each piece stays below.
constexpr size_t kItemBytes = 1260;

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(le16(p)) | (static_cast<uint32_t>(le16(p + 2)) << 16);
}

// One second of the tone as little-endian 16-bit samples.
std::vector<unsigned char> tone() {
    std::vector<unsigned char> pcm;
    for (unsigned long i = 0; i < kRate; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const long s = std::lround(0.5 * 32767.0 * std::sin(2.0 * kPi * kFrequency * t));
        const uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(s));
        pcm.push_back(static_cast<unsigned char>(u & 0xFF));
        pcm.push_back(static_cast<unsigned char>(u >> 8));
    }
    return pcm;
}

// Waits up to ten seconds for the file to reach `size` bytes.
bool wait_for_file_size(const char* path, uintmax_t size) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) >= size && !ec)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Reads the header back from the file itself and prints it. False when the
// file does not hold `recorded` data bytes with matching sizes.
bool print_file(const char* path, size_t recorded) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "record_tone: cannot read %s back\n", path);
        return false;
    }
    unsigned char h[44];
    const size_t got = std::fread(h, 1, sizeof h, f);
    std::fseek(f, 0, SEEK_END);
    const long file_size = std::ftell(f);
    std::fclose(f);
    if (got != sizeof h) {
        std::fprintf(stderr, "record_tone: %s is shorter than a WAV header\n", path);
        return false;
    }

    const uint32_t data_size = le32(h + 40);
    const uint32_t bytes_per_sec = le32(h + 28);
    std::printf("%s: %ld bytes\n", path, file_size);
    std::printf("  chunk id          %.4s\n", reinterpret_cast<const char*>(h));
    std::printf("  RIFF size         %u\n", le32(h + 4));
    std::printf("  form type         %.4s\n", reinterpret_cast<const char*>(h + 8));
    std::printf("  format chunk      %.4s, %u bytes\n", reinterpret_cast<const char*>(h + 12),
                le32(h + 16));
    std::printf("  format tag        %u (PCM)\n", le16(h + 20));
    std::printf("  channels          %u\n", le16(h + 22));
    std::printf("  samples per sec   %u\n", le32(h + 24));
    std::printf("  bytes per sec     %u\n", bytes_per_sec);
    std::printf("  block align       %u\n", le16(h + 32));
    std::printf("  bits per sample   %u\n", le16(h + 34));
    std::printf("  data chunk        %.4s, %u bytes\n", reinterpret_cast<const char*>(h + 36),
                data_size);
    if (bytes_per_sec)
        std::printf("  duration          %.3f s of a %.0f Hz tone\n",
                    static_cast<double>(data_size) / bytes_per_sec, kFrequency);

    const bool consistent = data_size == recorded && le32(h + 4) == data_size + 36 &&
                            file_size == static_cast<long>(44 + data_size);
    if (!consistent)
        std::fprintf(stderr, "record_tone: the file does not hold what was recorded\n");
    return consistent;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const std::vector<unsigned char> pcm = tone();

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = kRate;
    format.wBitsPerSample = kBits;
    format.nBlockAlign = kChannels * kBits / 8;
    format.nAvgBytesPerSec = kRate * format.nBlockAlign;

    CSonvale mixer;
    const int opened = mixer.MIX_Init(&format, nullptr);
    if (opened != 0) {
        std::fprintf(stderr, "record_tone: the mixer did not open (%d)\n", opened);
        return 1;
    }
    if (!mixer.m_recorder.Open(path, kRate, kChannels, kBits)) {
        std::fprintf(stderr, "record_tone: cannot create %s (or another recording holds it)\n",
                     path);
        return 1;
    }

    int items = 0;
    for (size_t at = 0; at < pcm.size(); at += kItemBytes, ++items) {
        const size_t n = pcm.size() - at < kItemBytes ? pcm.size() - at : kItemBytes;
        if (mixer.MIX_AddData(pcm.data() + at, static_cast<int>(n), items, 1, 0) != items) {
            std::fprintf(stderr, "record_tone: item %d could not be queued\n", items);
            return 1;
        }
    }
    const bool all_recorded = wait_for_file_size(path, 44 + pcm.size());
    mixer.m_recorder.Close();
    mixer.MIX_Close();
    std::printf("queued %d items, %zu bytes; %s\n", items, pcm.size(),
                all_recorded ? "the worker recorded them all" : "timed out waiting for them");

    return all_recorded && print_file(path, pcm.size()) ? 0 : 1;
}
