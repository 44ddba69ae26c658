// Reading files on POSIX: open(2) and pread(2).
#include "platform/input_file.h"
#include "platform/last_error.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sonvale {

input_file::~input_file() {
    close();
}

bool input_file::open(const char* path) {
    close();
    // Non-blocking so that a FIFO at `path` cannot stall the open; it is
    // refused just below, and the flag changes nothing for a regular file.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        set_last_error("cannot open '%s': %s", path, system_error_text());
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        set_last_error("'%s' is not a regular file", path);
        ::close(fd);
        return false;
    }
    m_handle = fd;
    m_size = static_cast<uint64_t>(st.st_size);
    return true;
}

size_t input_file::read_at(uint64_t pos, void* buffer, size_t len) {
    if (!is_open() || pos >= m_size)
        return 0;
    len = static_cast<size_t>(std::min<uint64_t>(len, m_size - pos));
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pread(static_cast<int>(m_handle), out + done, len - done,
                                  static_cast<off_t>(pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void input_file::close() {
    if (is_open())
        ::close(static_cast<int>(m_handle));
    m_handle = no_handle;
    m_size = 0;
}

} // namespace sonvale
