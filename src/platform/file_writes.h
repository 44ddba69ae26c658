// The seam under CFile's writes, in the manner of a virtual file system:
// every write, seek, cut and sync a CFile makes goes through the installed
// file_writes. They are the system's own unless a test installs others,
// which wrap the system's and make chosen writes fail, or log every step to
// build the files a power cut could leave, the same way on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sonvale {

struct file_writes {
    // One write of up to `len` (at least 1) bytes to `file` (a CFile's
    // descriptor or HANDLE) at `offset`, or at the file's position (then
    // moved past them) when `offset` is negative. Returns the bytes written,
    // at least 1; 0 or -1 for a failure, with the system's error set
    // (errno, or the thread's last error on Windows). A write interrupted
    // before anything went in (EINTR) may be tried again.
    int64_t (*write)(intptr_t file, const void* data, size_t len, int64_t offset);
    // The file's position in bytes from the start; -1 when it cannot be had.
    int64_t (*position)(intptr_t file);
    // Moves the position to `offset` from the start. False when it cannot.
    bool (*seek)(intptr_t file, uint64_t offset);
    // Cuts (or extends) the file to `size` bytes, keeping the position.
    bool (*truncate)(intptr_t file, uint64_t size);
    // Puts the file's data, and what reading it back needs (its size), on
    // stable storage: fdatasync, FlushFileBuffers. False, with the system's
    // error set, when that failed: the data may then be gone from the cache
    // too, so a later sync that succeeds does not cover it.
    bool (*sync)(intptr_t file);
    // Puts the entry of the file at `path` in its folder on stable storage:
    // POSIX: fsync of the folder. Windows: nothing of its own, NTFS commits
    // a file's entry in its folder with the file's first FlushFileBuffers.
    // False, with the system's error set, when that failed.
    bool (*sync_directory)(const char* path);
};

// The platform's own writes.
const file_writes& system_file_writes();

// The writes every CFile makes from now on: `writes` (which must outlive
// their use), or the system's for null. Meant for tests: install before the
// files to be failed are written.
void install_file_writes(const file_writes* writes);

// The writes installed now.
const file_writes& current_file_writes();

// The installed writes' sync_directory.
bool sync_directory_of(const char* path);

// Sets the system's error to "no space left on the device", as a write that
// failed for lack of room does; for writes that a test makes fail.
void set_no_space_error();

} // namespace sonvale
