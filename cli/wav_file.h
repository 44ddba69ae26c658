// A WAV file's sample data, read a piece at a time for playing it, so that
// memory stays bounded however long the file.
#pragma once

#include <sonvale.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace sonvale_cli {

class wav_file {
public:
    // Opens the WAV file at `path`, accepted, described and located by the
    // library (MIX_ReadFileFormatEx): its format, an extensible one with its
    // plain tag, and its samples up to the last whole frame the file holds
    // (a trailing partial frame is left out). Throws command_error with the
    // library's reason when the file is refused, or naming the file when it
    // cannot be read.
    explicit wav_file(const std::string& path);

    const WAVEFORMATEX& format() const { return m_format; }
    // Bytes of whole sample frames.
    uint64_t bytes() const { return m_bytes; }
    // A note when the file ends before its "data" chunk does; else "".
    const std::string& cut_short_note() const { return m_note; }

    // Reads the next `len` bytes of samples (no more than remain) into
    // `out`. Throws command_error naming the file when they cannot be read.
    void read(unsigned char* out, size_t len);

private:
    [[noreturn]] void unreadable() const;

    std::string m_path;
    WAVEFORMATEX m_format{};
    uint64_t m_bytes = 0;
    std::string m_note;
    std::ifstream m_in;
};

} // namespace sonvale_cli
