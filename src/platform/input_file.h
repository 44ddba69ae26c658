// The files service for reading: a regular file opened read-only, read at
// explicit positions, so that its reader keeps its own position.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvale {

class input_file {
public:
    input_file() = default;
    // Closes the file if it is still open.
    ~input_file();
    input_file(const input_file&) = delete;
    input_file& operator=(const input_file&) = delete;

    // Opens the regular file `path` (UTF-8) for reading and notes its size.
    // False when it cannot be opened or is not a regular file (a folder, a
    // FIFO or a device is refused without waiting for it).
    bool open(const char* path);
    // Reads up to `len` bytes at `pos`. Returns the count read: fewer than
    // `len` only at the end of the file or on a read error.
    size_t read_at(uint64_t pos, void* buffer, size_t len);
    // Closes the file; harmless when none is open.
    void close();

    bool is_open() const { return m_handle != no_handle; }
    // The file's size when it was opened; 0 when none is open.
    uint64_t size() const { return m_size; }

private:
    static constexpr intptr_t no_handle = -1;
    intptr_t m_handle = no_handle; // a descriptor or a HANDLE
    uint64_t m_size = 0;
};

} // namespace sonvale
