#include "wav_file.h"

#include "errors.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sonvale_cli {

namespace {

[[noreturn]] void unreadable(const std::string& path) {
    throw command_error("cannot read '" + path + "': " + std::strerror(errno));
}

} // namespace

wav_file read_wav_file(const std::string& path) {
    wav_file wav;
    uint64_t offset = 0;
    const int64_t size = MIX_ReadFileFormatEx(path.c_str(), &wav.format, &offset);
    if (size < 0)
        throw command_error(MIX_GetLastError());
    // The path is UTF-8; on Windows only a wide path reaches every name.
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
        unreadable(path);
    const uint64_t frame = wav.format.nBlockAlign ? wav.format.nBlockAlign : 1;
    wav.data.resize(static_cast<size_t>(static_cast<uint64_t>(size) / frame * frame));
    if (!in.seekg(static_cast<std::streamoff>(offset)) ||
        !in.read(reinterpret_cast<char*>(wav.data.data()),
                 static_cast<std::streamsize>(wav.data.size())))
        unreadable(path);
    return wav;
}

} // namespace sonvale_cli
