// Reading RIFF files chunk by chunk. A chunk is a 4-byte identifier, a 4-byte
// little-endian size and that many bytes, plus a pad byte when the size is
// odd. Searches never leave the enclosing chunk or the file, and always move
// forward, whatever sizes the file declares.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvale {

struct riff_chunk {
    char id[4];         // chunk identifier
    uint32_t size;      // declared data size
    char form[4];       // form type, for "RIFF" and "LIST" chunks
    uint64_t data_pos;  // file offset of the chunk's data
};

class riff_reader {
public:
    riff_reader() = default;
    ~riff_reader();
    riff_reader(const riff_reader&) = delete;
    riff_reader& operator=(const riff_reader&) = delete;

    // Opens `path` for reading. False when it cannot be opened.
    bool open(const char* path);
    // Finds the next top-level "RIFF" chunk of form `form` (when `parent` is
    // null) or the next sub-chunk `id` inside `parent`, and moves to its
    // data. False when none is found before the end of the enclosing chunk
    // or the file, or when a chunk's declared size runs past either.
    bool descend_form(riff_chunk& out, const char form[4]);
    bool descend(riff_chunk& out, const riff_chunk& parent, const char id[4]);
    // Moves past the data and pad byte of `chunk`.
    bool ascend(const riff_chunk& chunk);
    // Reads up to `len` bytes at the current position; returns the count.
    size_t read(void* buffer, size_t len);
    // File bytes from the current position to the end.
    uint64_t remaining() const;
    void close();

private:
    int m_fd = -1;
    uint64_t m_pos = 0;
    uint64_t m_size = 0;
};

} // namespace sonvale
