#include "wav_file.h"

#include "errors.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sonvale_cli {

namespace {

uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

[[noreturn]] void unreadable(const std::string& path) {
    throw command_error("cannot read '" + path + "': " + std::strerror(errno));
}

// The chunk header at `at`: its identifier and size; false past the end.
bool chunk_at(std::ifstream& in, std::streamoff at, char id[4], uint32_t& size) {
    unsigned char header[8];
    if (!in.seekg(at) || !in.read(reinterpret_cast<char*>(header), sizeof header))
        return false;
    std::memcpy(id, header, 4);
    size = le32(header + 4);
    return true;
}

std::streamoff next_chunk(std::streamoff at, uint32_t size) {
    return at + 8 + std::streamoff{size} + (size & 1);
}

// The offset of the samples, found as the library finds them (it has
// checked the file already): the first "RIFF" chunk of form "WAVE", and in
// it the first "data" chunk after the "fmt " chunk.
std::streamoff data_offset(std::ifstream& in, const std::string& path) {
    char id[4];
    uint32_t size = 0;
    std::streamoff at = 0;
    char form[4] = {};
    while (chunk_at(in, at, id, size) && !(std::memcmp(id, "RIFF", 4) == 0 && in.read(form, 4) &&
                                           std::memcmp(form, "WAVE", 4) == 0))
        at = next_chunk(at, size);
    bool after_fmt = false;
    for (at += 12; chunk_at(in, at, id, size); at = next_chunk(at, size)) {
        if (after_fmt && std::memcmp(id, "data", 4) == 0)
            return at + 8;
        after_fmt = after_fmt || std::memcmp(id, "fmt ", 4) == 0;
    }
    unreadable(path);
}

} // namespace

wav_file read_wav_file(const std::string& path) {
    wav_file wav;
    const int64_t size = MIX_ReadFileFormat(path.c_str(), &wav.format);
    if (size < 0)
        throw command_error(MIX_GetLastError());
    // The path is UTF-8; on Windows only a wide path reaches every name.
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
        unreadable(path);
    const uint64_t frame = wav.format.nBlockAlign ? wav.format.nBlockAlign : 1;
    wav.data.resize(static_cast<size_t>(static_cast<uint64_t>(size) / frame * frame));
    if (!in.seekg(data_offset(in, path)) || !in.read(reinterpret_cast<char*>(wav.data.data()),
                                                     static_cast<std::streamsize>(wav.data.size())))
        unreadable(path);
    return wav;
}

} // namespace sonvale_cli
