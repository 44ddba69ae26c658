// Records one second of a 440 Hz tone (22050 Hz, mono, 16-bit PCM) through
// CWaveRecorder into the WAV file named on the command line, then reads the
// file back and prints its header fields.
//
//   record_tone out/tone.wav
//
// Uses only the public header and the shared library.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "sonvale.h"

namespace {

constexpr unsigned long kRate = 22050;
constexpr unsigned short kChannels = 1;
constexpr unsigned short kBits = 16;
constexpr double kFrequency = 440.0;
constexpr double kPi = 3.14159265358979323846;
constexpr int kBlockFrames = 2205; // 100 ms per Write

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(le16(p)) | (static_cast<uint32_t>(le16(p + 2)) << 16);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];

    // One second of the tone as little-endian 16-bit samples.
    std::vector<unsigned char> pcm;
    for (unsigned long i = 0; i < kRate; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const long s = std::lround(0.5 * 32767.0 * std::sin(2.0 * kPi * kFrequency * t));
        const uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(s));
        pcm.push_back(static_cast<unsigned char>(u & 0xFF));
        pcm.push_back(static_cast<unsigned char>(u >> 8));
    }

    CWaveRecorder recorder;
    if (!recorder.Open(path, kRate, kChannels, kBits)) {
        std::fprintf(stderr, "record_tone: cannot create %s (or another recording holds it)\n",
                     path);
        return 1;
    }
    const size_t block = kBlockFrames * kChannels * (kBits / 8);
    for (size_t at = 0; at < pcm.size(); at += block) {
        const size_t n = pcm.size() - at < block ? pcm.size() - at : block;
        recorder.Write(reinterpret_cast<const char*>(pcm.data() + at), static_cast<int>(n));
    }
    const uint32_t recorded = recorder.m_nDataLen;
    recorder.Close();

    // Read the header back from the file itself.
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "record_tone: cannot read %s back\n", path);
        return 1;
    }
    unsigned char h[44];
    const size_t got = std::fread(h, 1, sizeof h, f);
    std::fseek(f, 0, SEEK_END);
    const long file_size = std::ftell(f);
    std::fclose(f);
    if (got != sizeof h) {
        std::fprintf(stderr, "record_tone: %s is shorter than a WAV header\n", path);
        return 1;
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

    const bool consistent = data_size == recorded && data_size == pcm.size() &&
                            le32(h + 4) == data_size + 36 &&
                            file_size == static_cast<long>(44 + data_size);
    if (!consistent) {
        std::fprintf(stderr, "record_tone: the file does not hold what was recorded\n");
        return 1;
    }
    return 0;
}
