#include "wav_file.h"

#include "errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sonvale_cli {

namespace {

constexpr uint16_t extensible_tag = 0xFFFE;
constexpr size_t min_fmt_size = 16;
constexpr size_t extensible_fmt_size = 40;
constexpr size_t subformat_offset = 24;

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char* p) {
    return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16;
}

[[noreturn]] void malformed(const std::string& path, const std::string& why) {
    throw command_error("'" + path + "' is not a usable WAV file: " + why);
}

std::vector<unsigned char> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw command_error("cannot read '" + path + "': " + std::strerror(errno));
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (in.bad())
        throw command_error("cannot read '" + path + "': " + std::strerror(errno));
    return bytes;
}

WAVEFORMATEX parse_fmt(const std::string& path, const unsigned char* p, uint32_t size) {
    if (size < min_fmt_size)
        malformed(path, "its \"fmt \" chunk is too short");
    WAVEFORMATEX format{};
    format.wFormatTag = le16(p);
    format.nChannels = le16(p + 2);
    format.nSamplesPerSec = le32(p + 4);
    format.nAvgBytesPerSec = le32(p + 8);
    format.nBlockAlign = le16(p + 12);
    format.wBitsPerSample = le16(p + 14);
    if (format.wFormatTag == extensible_tag && size >= extensible_fmt_size)
        format.wFormatTag = le16(p + subformat_offset);
    return format;
}

} // namespace

wav_file read_wav_file(const std::string& path) {
    std::vector<unsigned char> bytes = read_all(path);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        malformed(path, "no RIFF/WAVE header");
    size_t end = std::min<uint64_t>(bytes.size(), 8 + uint64_t{le32(bytes.data() + 4)});

    wav_file wav;
    bool have_fmt = false, have_data = false;
    for (size_t at = 12; at + 8 <= end && !(have_fmt && have_data);) {
        const unsigned char* chunk = bytes.data() + at;
        uint32_t size = le32(chunk + 4);
        if (size > end - at - 8) {
            if (std::memcmp(chunk, "data", 4) == 0)
                malformed(path, "its \"data\" chunk declares " + std::to_string(size) +
                                    " bytes but only " + std::to_string(end - at - 8) + " follow");
            malformed(path, "a chunk runs past the end of the file");
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            wav.format = parse_fmt(path, chunk + 8, size);
            have_fmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            wav.data.assign(chunk + 8, chunk + 8 + size);
            have_data = true;
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
    if (!have_fmt)
        malformed(path, "no \"fmt \" chunk");
    if (!have_data)
        malformed(path, "no \"data\" chunk");
    if (wav.format.nBlockAlign != 0)
        wav.data.resize(wav.data.size() - wav.data.size() % wav.format.nBlockAlign);
    return wav;
}

} // namespace sonvale_cli
