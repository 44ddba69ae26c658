// The files service: CFile, the one place where the library touches POSIX
// files. A CFile creates (or truncates) a file for writing only, holding it
// exclusively, and writes straight to the operating system, without any
// buffering of its own.
//
// Exclusivity: CreateExclusive opens the path without truncating it, then
// takes a non-blocking exclusive lock on the open file description (an OFD
// lock, or flock(2) where the kernel has no OFD locks). Both kinds are held by
// the open file, not by the process, so a second CFile in the same process is
// refused as surely as one in another process. Only once the lock is held is
// the file truncated; a refused open leaves the file untouched. The lock is
// advisory: programs that do not lock the file are not kept out. A file
// system that cannot lock at all refuses the open too: exclusivity is
// promised, so it is never silently dropped. Only regular files are locked
// and truncated; devices (/dev/null) are shared and written as they are.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_writes.h"
#include "platform/last_error.h"
#include "sonvale.h"

namespace {

constexpr intptr_t no_file = -1;

int open_retrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// True when this open file description now holds the exclusive lock.
bool lock_exclusive(int fd) {
#ifdef F_OFD_SETLK
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file, however large it grows
    lock.l_pid = 0;
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return true;
    if (errno != EINVAL)
        return false; // held by someone else (EAGAIN / EACCES), or failed
                      // EINVAL: a kernel without OFD locks; flock(2) below.
#endif
    int rc2;
    do {
        rc2 = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc2 < 0 && errno == EINTR);
    return rc2 == 0;
}

bool truncate_retrying(int fd, off_t size) {
    int rc;
    do {
        rc = ::ftruncate(fd, size);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

void close_fd(int fd) {
    // close(2) is not retried on EINTR: on Linux the descriptor is released
    // whatever it returns.
    ::close(fd);
}

int64_t system_write(intptr_t file, const void* data, size_t len, int64_t offset) {
    const int fd = static_cast<int>(file);
    return offset < 0 ? ::write(fd, data, len)
                      : ::pwrite(fd, data, len, static_cast<off_t>(offset));
}

int64_t system_position(intptr_t file) {
    return ::lseek(static_cast<int>(file), 0, SEEK_CUR);
}

bool system_seek(intptr_t file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) ==
           static_cast<off_t>(offset);
}

bool system_truncate(intptr_t file, uint64_t size) {
    return size <= static_cast<uint64_t>(INT64_MAX) &&
           truncate_retrying(static_cast<int>(file), static_cast<off_t>(size));
}

bool system_sync(intptr_t file) {
    int rc;
    do {
        rc = ::fdatasync(static_cast<int>(file));
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

// The folder holding `path`: what comes before its last '/'.
std::string folder_of(const char* path) {
    const std::string p(path);
    const size_t slash = p.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

bool system_sync_directory(const char* path) {
    const int fd = open_retrying(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int rc;
    do {
        rc = ::fsync(fd);
    } while (rc < 0 && errno == EINTR);
    const int error = errno;
    close_fd(fd);
    errno = error;
    return rc == 0;
}

constexpr sonvale::file_writes system_writes{system_write, system_position,
                                             system_seek,  system_truncate,
                                             system_sync,  system_sync_directory};

// Writes all `len` bytes through the installed writes, at `offset` or at
// the position (a negative `offset`), resuming interrupted and partial
// writes; returns the bytes written.
size_t write_all(intptr_t file, const void* data, size_t len, int64_t offset) {
    const sonvale::file_writes& writes = sonvale::current_file_writes();
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < len) {
        size_t chunk = len - done;
        if (chunk > static_cast<size_t>(SSIZE_MAX))
            chunk = static_cast<size_t>(SSIZE_MAX);
        const int64_t at = offset < 0 ? -1 : offset + static_cast<int64_t>(done);
        const int64_t n = writes.write(file, p + done, chunk, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a full disk (ENOSPC), a size limit (EFBIG), an I/O error
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

namespace sonvale {

CFile::CFile() : m_hFile(no_file) {}

CFile::~CFile() {
    Close();
}

bool CFile::CreateExclusive(const char* path) {
    using sonvale::set_last_error;
    if (!path || m_hFile != no_file) {
        set_last_error(path ? "the file object already holds a file" : "no path was given");
        return false;
    }
    // O_NONBLOCK only so that a FIFO without a reader is refused instead of
    // blocking the caller; it is cleared again at once.
    const int fd =
        open_retrying(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0) {
        if (errno == ENXIO)
            set_last_error("'%s' is a FIFO, which cannot hold a recording", path);
        else
            set_last_error("cannot create '%s': %s", path, sonvale::system_error_text());
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    struct stat st;
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 || ::fstat(fd, &st) != 0) {
        set_last_error("cannot create '%s': %s", path, sonvale::system_error_text());
        close_fd(fd);
        return false;
    }
    // A FIFO cannot take the header's sizes back at the start: refused.
    // Only regular files are held and cut. A device such as /dev/null is
    // shared by everyone and written as it is.
    bool held = true;
    if (S_ISFIFO(st.st_mode))
        set_last_error("'%s' is a FIFO, which cannot hold a recording", path);
    else if (S_ISREG(st.st_mode) && !lock_exclusive(fd))
        set_last_error("'%s' is held by another recording", path);
    else if (S_ISREG(st.st_mode) && !truncate_retrying(fd, 0))
        set_last_error("cannot empty '%s': %s", path, sonvale::system_error_text());
    else
        held = false;
    if (held) {
        close_fd(fd);
        return false;
    }
    m_hFile = fd;
    return true;
}

bool CFile::Seek(uint64_t offset) {
    return m_hFile != no_file && sonvale::current_file_writes().seek(m_hFile, offset);
}

size_t CFile::Write(const void* data, size_t len) {
    if (m_hFile == no_file || (!data && len > 0))
        return 0;
    return write_all(m_hFile, data, len, -1);
}

size_t CFile::WriteAt(uint64_t offset, const void* data, size_t len) {
    if (m_hFile == no_file || (!data && len > 0) || offset > static_cast<uint64_t>(INT64_MAX) - len)
        return 0;
    return write_all(m_hFile, data, len, static_cast<int64_t>(offset));
}

bool CFile::Truncate(uint64_t size) {
    return m_hFile != no_file && sonvale::current_file_writes().truncate(m_hFile, size);
}

bool CFile::Sync() {
    return m_hFile != no_file && sonvale::current_file_writes().sync(m_hFile);
}

void CFile::Close() {
    if (m_hFile == no_file)
        return;
    close_fd(static_cast<int>(m_hFile)); // releases the lock with the file
    m_hFile = no_file;
}

bool CFile::IsOpen() const {
    return m_hFile != no_file;
}

} // namespace sonvale

const sonvale::file_writes& sonvale::system_file_writes() {
    return system_writes;
}

void sonvale::set_no_space_error() {
    errno = ENOSPC;
}
