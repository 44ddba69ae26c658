#include "data_chunk.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace sonvale_cli {

namespace {

// A chunk's 32-bit size that says "see the "ds64" chunk", and where an RF64
// file keeps the "data" chunk's 64-bit size: in the "ds64" chunk that
// follows "RF64", its size and "WAVE", after the form's own 64-bit size.
constexpr uint64_t size_elsewhere = 0xFFFFFFFF;
constexpr std::streamoff ds64_id_at = 12;
constexpr std::streamoff ds64_data_size_at = 28;

// `count` little-endian bytes at `at`; false when the file has none there.
bool read_le(std::ifstream& in, std::streamoff at, int count, uint64_t& value) {
    unsigned char bytes[8];
    if (!in.seekg(at) || !in.read(reinterpret_cast<char*>(bytes), count))
        return false;
    value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return true;
}

bool has_id(std::ifstream& in, std::streamoff at, const char* id) {
    char found[4];
    return in.seekg(at) && in.read(found, sizeof found) && std::memcmp(found, id, 4) == 0;
}

// The size the "data" chunk, whose samples start at `data_offset`, declares;
// false when it cannot be read.
bool declared_size(std::ifstream& in, uint64_t data_offset, uint64_t& size) {
    const auto size_at = static_cast<std::streamoff>(data_offset) - 4;
    if (size_at < 0 || !read_le(in, size_at, 4, size))
        return false;
    if (size != size_elsewhere || !has_id(in, 0, "RF64"))
        return true;
    return has_id(in, ds64_id_at, "ds64") && read_le(in, ds64_data_size_at, 8, size);
}

} // namespace

std::string cut_short_note(const std::string& path, uint64_t data_offset, uint64_t bytes,
                           const char* doing) {
    // The path is UTF-8; on Windows only a wide path reaches every name.
    std::error_code failed;
    const uint64_t file_size = std::filesystem::file_size(std::filesystem::u8path(path), failed);
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    uint64_t declared = 0;
    if (failed || !in || file_size < data_offset || !declared_size(in, data_offset, declared))
        return "";
    const uint64_t held = file_size - data_offset;
    if (declared <= held)
        return "";
    return "'" + path + "' is cut short: its \"data\" chunk declares " + std::to_string(declared) +
           " bytes, but the file holds " + std::to_string(held) + "; " + doing + " the " +
           std::to_string(bytes) + " bytes of whole frames";
}

} // namespace sonvale_cli
