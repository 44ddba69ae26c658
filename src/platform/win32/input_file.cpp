// Reading files on Windows: CreateFileW (the UTF-8 path as UTF-16) and reads
// at explicit offsets.
#include "platform/input_file.h"
#include "platform/last_error.h"

#include "platform/win32/wide_path.h"

#include <windows.h>

#include <algorithm>

namespace sonvale {

namespace {

HANDLE handle_of(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

} // namespace

input_file::~input_file() {
    close();
}

bool input_file::open(const char* path) {
    close();
    std::wstring wide;
    if (!widen_path(path, wide)) {
        if (path)
            set_last_error("'%s' is not a valid UTF-8 path", path);
        else
            set_last_error("no path was given");
        return false;
    }
    // Readers and writers may share the file, as they may on POSIX; a
    // folder cannot be opened this way, and only files on disk are read.
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A folder is refused as on POSIX, not with the system's "access denied".
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        SetLastError(error);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            set_last_error("'%s' is not a regular file", path);
        else
            set_last_error("cannot open '%s': %s", path, system_error_text());
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
        set_last_error("'%s' is not a regular file", path);
        CloseHandle(h);
        return false;
    }
    m_handle = reinterpret_cast<intptr_t>(h);
    m_size = static_cast<uint64_t>(size.QuadPart);
    return true;
}

size_t input_file::read_at(uint64_t pos, void* buffer, size_t len) {
    if (!is_open() || pos >= m_size)
        return 0;
    len = static_cast<size_t>(std::min<uint64_t>(len, m_size - pos));
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < len) {
        const uint64_t at = pos + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(len - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(handle_of(m_handle), out + done, chunk, &got, &where) || got == 0)
            break;
        done += got;
    }
    return done;
}

void input_file::close() {
    if (is_open())
        CloseHandle(handle_of(m_handle));
    m_handle = no_handle;
    m_size = 0;
}

} // namespace sonvale
