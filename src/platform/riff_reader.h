// Reading RIFF files chunk by chunk. A chunk is a 4-byte identifier, a 4-byte
// little-endian size and that many bytes, plus a pad byte when the size is
// odd. Searches never leave the enclosing chunk or the file, and every step
// moves forward, so no declared size can make a search loop or read outside
// the file.
#pragma once

#include "platform/input_file.h"

#include <cstddef>
#include <cstdint>

namespace sonvale {

// Little-endian fields, as every number in a RIFF file is stored.
inline uint16_t riff_le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t riff_le32(const unsigned char* p) {
    return static_cast<uint32_t>(riff_le16(p)) | static_cast<uint32_t>(riff_le16(p + 2)) << 16;
}

struct riff_chunk {
    char id[4];        // chunk identifier
    uint32_t size;     // declared data size, without the pad byte
    uint64_t data_pos; // file offset of the data (for a form: of its form type)

    uint64_t data_end() const { return data_pos + size; }
};

class riff_reader {
public:
    riff_reader() = default;
    // Closes the file if it is still open.
    ~riff_reader();
    riff_reader(const riff_reader&) = delete;
    riff_reader& operator=(const riff_reader&) = delete;

    // Opens the regular file `path` for reading, positioned at its start.
    // False when it cannot be opened or is not a regular file.
    bool open(const char* path);

    // From the current position, searches the top-level chunks for a "RIFF"
    // chunk whose form type is `form` and moves to just after the form type.
    // The form found may declare more than the file holds (a file cut short,
    // a placeholder size): searches inside it stop at the file's end. False
    // when none comes before the end of the file, or when another chunk's
    // declared size runs past the end first.
    bool descend_form(riff_chunk& out, const char form[4]);

    // From the current position, searches the sub-chunks of `parent` for one
    // with identifier `id` and moves to its data. False when none comes
    // before the end of `parent` or of the file, or when a chunk's declared
    // size runs past either first (when that chunk is the one searched for,
    // `out` describes it). The chunk found lies wholly within both.
    bool descend(riff_chunk& out, const riff_chunk& parent, const char id[4]);

    // Moves past the data and pad byte of `chunk`.
    void ascend(const riff_chunk& chunk);

    // Reads up to `len` bytes at the current position and moves past them.
    // Returns the count read: fewer than `len` only at the end of the file or
    // on a read error.
    size_t read(void* buffer, size_t len);

    // Closes the file; harmless when none is open.
    void close();

private:
    bool find(riff_chunk& out, uint64_t end, const char id[4], const char* form);

    input_file m_file;
    uint64_t m_pos = 0; // current position
};

} // namespace sonvale
