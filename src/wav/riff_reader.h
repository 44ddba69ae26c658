// Reading RIFF files chunk by chunk. A chunk is a 4-byte identifier, a 4-byte
// little-endian size and that many bytes, plus a pad byte when the size is
// odd. Searches never leave the enclosing chunk or the file, and every step
// moves forward, so no declared size can make a search loop or read outside
// the file. Chunk headers are read through a window of the file, so a walk
// over many small chunks costs about a sequential read, not a system call
// per chunk; runs of empty chunks are passed over many headers at a step.
#pragma once

#include "platform/input_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sonvale {

// Little-endian fields, as every number in a RIFF file is stored.
inline uint16_t riff_le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t riff_le32(const unsigned char* p) {
    return static_cast<uint32_t>(riff_le16(p)) | static_cast<uint32_t>(riff_le16(p + 2)) << 16;
}
inline uint64_t riff_le64(const unsigned char* p) {
    return static_cast<uint64_t>(riff_le32(p)) | static_cast<uint64_t>(riff_le32(p + 4)) << 32;
}

// The 32-bit size that stands for a 64-bit one kept elsewhere (RF64).
constexpr uint32_t riff_size_elsewhere = 0xFFFFFFFFu;

struct riff_chunk {
    char id[4];        // chunk identifier
    uint64_t size;     // declared data size, without the pad byte
    uint64_t data_pos; // file offset of the data (for a form: of its form type)

    // The offset just past the data; saturates rather than wraps.
    uint64_t data_end() const {
        return size > UINT64_MAX - data_pos ? UINT64_MAX : data_pos + size;
    }
    bool is(const char other[4]) const;
};

class riff_reader {
public:
    riff_reader() = default;
    // Closes the file if it is still open.
    ~riff_reader();
    riff_reader(const riff_reader&) = delete;
    riff_reader& operator=(const riff_reader&) = delete;

    // Opens the regular file `path` for reading, positioned at its start.
    // False, with the reason set, when it cannot be opened, is not a regular
    // file, or memory for the window runs out.
    bool open(const char* path);

    // From the current position, searches the top-level chunks for a "RIFF"
    // (or "RF64") chunk whose form type is `form` and moves to just after
    // the form type. The form found may declare more than the file holds (a
    // file cut short, a placeholder size): searches inside it stop at the
    // file's end. False when none comes before the end of the file, or when
    // another chunk's declared size runs past the end first.
    bool descend_form(riff_chunk& out, const char form[4]);

    // From the current position, searches the sub-chunks of `parent` for one
    // with identifier `id` and moves to its data. False when none comes
    // before the end of `parent` or of the file, or when a chunk's declared
    // size runs past either first: `out` then describes that chunk (when it
    // is the one searched for, the reader is at its data). The chunk found
    // lies wholly within both.
    bool descend(riff_chunk& out, const riff_chunk& parent, const char id[4]);

    // Moves past the data and pad byte of `chunk`.
    void ascend(const riff_chunk& chunk);

    // From now on, a "data" chunk declaring riff_size_elsewhere bytes holds
    // `size` bytes (the size an RF64 file keeps in its "ds64" chunk).
    void set_data_size(uint64_t size) { m_data_size = size; }

    // Reads up to `len` bytes at the current position and moves past them.
    // Returns the count read: fewer than `len` only at the end of the file or
    // on a read error.
    size_t read(void* buffer, size_t len);

    // Moves to `pos`, a file offset.
    void seek(uint64_t pos) { m_pos = pos; }
    uint64_t position() const { return m_pos; }
    // The file's size; 0 when none is open.
    uint64_t file_size() const { return m_file.size(); }

    // Closes the file; harmless when none is open.
    void close();

private:
    bool find(riff_chunk& out, uint64_t end, const char* id, const char* form);
    bool skip_empty(uint64_t end, const char* id);
    bool matches(const riff_chunk& chunk, const char* id, const char* form);
    bool chunk_at(uint64_t pos, riff_chunk& out);
    const unsigned char* window_at(uint64_t pos, size_t len);

    input_file m_file;
    uint64_t m_pos = 0; // current position
    uint64_t m_data_size = riff_size_elsewhere;
    std::unique_ptr<unsigned char[]> m_window; // file bytes from m_window_pos on
    uint64_t m_window_pos = 0;
    size_t m_window_len = 0;
};

} // namespace sonvale
