#include "wav_file.h"

#include "data_chunk.h"
#include "errors.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace sonvale_cli {

wav_file::wav_file(const std::string& path) : m_path(path) {
    uint64_t offset = 0;
    const int64_t size = MIX_ReadFileFormatEx(path.c_str(), &m_format, &offset);
    if (size < 0)
        throw command_error(MIX_GetLastError());
    const uint64_t frame = m_format.nBlockAlign ? m_format.nBlockAlign : 1;
    m_bytes = static_cast<uint64_t>(size) / frame * frame;
    m_note = sonvale_cli::cut_short_note(path, offset, m_bytes, "playing");
    // The path is UTF-8; on Windows only a wide path reaches every name.
    m_in.open(std::filesystem::u8path(path), std::ios::binary);
    if (!m_in || !m_in.seekg(static_cast<std::streamoff>(offset)))
        unreadable();
}

void wav_file::read(unsigned char* out, size_t len) {
    if (!m_in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(len)))
        unreadable();
}

void wav_file::unreadable() const {
    // A file shortened since it was opened ends early, with no error of
    // the system's.
    throw command_error("cannot read '" + m_path +
                        "': " + (m_in.eof() ? "it ended early" : std::strerror(errno)));
}

} // namespace sonvale_cli
