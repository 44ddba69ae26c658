// The files service on Windows: CFile on the system's own file handles. A
// CFile opens the path (UTF-8, as UTF-16) for writing, shared with readers
// only, so that no other writer, and no other CFile in any process, can open
// it while it is held; the system enforces this, not a convention. The file
// is opened without truncation and only then cut, so a refused open leaves it
// untouched; a refusal says whether a recording or another program holds
// the file. Only files on disk are cut; a device (NUL) is written as it is,
// and a pipe is refused.
#include "platform/file_writes.h"
#include "platform/last_error.h"
#include "platform/win32/wide_path.h"
#include "sonvale.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace {

constexpr intptr_t no_file = -1;

HANDLE handle_of(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

bool move_to(HANDLE h, uint64_t offset) {
    if (offset > static_cast<uint64_t>(LLONG_MAX))
        return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(h, to, nullptr, FILE_BEGIN) != 0;
}

bool position_of(HANDLE h, uint64_t& out) {
    LARGE_INTEGER zero{};
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(h, zero, &at, FILE_CURRENT))
        return false;
    out = static_cast<uint64_t>(at.QuadPart);
    return true;
}

// Cuts (or extends) the file at `h` to `size` bytes, keeping the position.
bool cut_to(HANDLE h, uint64_t size) {
    uint64_t at = 0;
    if (!position_of(h, at) || !move_to(h, size))
        return false;
    const bool cut = SetEndOfFile(h) != 0;
    return move_to(h, at) && cut;
}

int64_t system_write(intptr_t file, const void* data, size_t len, int64_t offset) {
    if (offset >= 0 && !move_to(handle_of(file), static_cast<uint64_t>(offset)))
        return -1;
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(len, 1u << 30));
    if (!WriteFile(handle_of(file), data, chunk, &written, nullptr))
        return -1;
    return written;
}

int64_t system_position(intptr_t file) {
    uint64_t at = 0;
    return position_of(handle_of(file), at) ? static_cast<int64_t>(at) : -1;
}

bool system_seek(intptr_t file, uint64_t offset) {
    return move_to(handle_of(file), offset);
}

bool system_truncate(intptr_t file, uint64_t size) {
    return cut_to(handle_of(file), size);
}

bool system_sync(intptr_t file) {
    return FlushFileBuffers(handle_of(file)) != 0;
}

// NTFS journals the new entry in the folder and commits it with the file's
// first FlushFileBuffers, which a durable recording makes right after.
bool system_sync_directory(const char*) {
    return true;
}

constexpr sonvale::file_writes system_writes{system_write, system_position,
                                             system_seek,  system_truncate,
                                             system_sync,  system_sync_directory};

// Writes all `len` bytes through the installed writes, at `offset` (then
// moving the position past them) or at the position (a negative `offset`).
size_t write_all(intptr_t file, const void* data, size_t len, int64_t offset) {
    const sonvale::file_writes& writes = sonvale::current_file_writes();
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < len) {
        const int64_t at = offset < 0 ? -1 : offset + static_cast<int64_t>(done);
        const int64_t n = writes.write(file, p + done, len - done, at);
        if (n <= 0)
            break; // a full disk (ERROR_DISK_FULL), an I/O error
        done += static_cast<size_t>(n);
    }
    return done;
}

// True when opening `wide` for reading with `share` is refused because of
// how another opener holds it.
bool sharing_refused(const std::wstring& wide, DWORD share) {
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return false;
}

// Whether what keeps a recording out of `wide` is held as a recording holds
// its file: written, with readers let in. A program that has it open only
// for reading, or keeps readers out too, is another program.
bool held_as_a_recording(const std::wstring& wide) {
    constexpr DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return !sharing_refused(wide, all) && sharing_refused(wide, all & ~FILE_SHARE_WRITE);
}

} // namespace

namespace sonvale {

CFile::CFile() : m_hFile(no_file) {}

CFile::~CFile() {
    Close();
}

bool CFile::CreateExclusive(const char* path) {
    using sonvale::set_last_error;
    std::wstring wide;
    if (m_hFile != no_file || !sonvale::widen_path(path, wide)) {
        if (m_hFile != no_file)
            set_last_error("the file object already holds a file");
        else if (path)
            set_last_error("'%s' is not a valid UTF-8 path", path);
        else
            set_last_error("no path was given");
        return false;
    }
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_SHARING_VIOLATION)
            set_last_error("cannot create '%s': %s", path, sonvale::system_error_text());
        else if (held_as_a_recording(wide))
            set_last_error("'%s' is held by another recording", path);
        else
            set_last_error("'%s' is open in another program", path);
        return false;
    }
    // A pipe could not take a recording's header back at the start.
    const DWORD type = GetFileType(h);
    bool refused = true;
    if (type == FILE_TYPE_PIPE)
        set_last_error("'%s' is a pipe, which cannot hold a recording", path);
    else if (type == FILE_TYPE_DISK && !cut_to(h, 0))
        set_last_error("cannot empty '%s': %s", path, sonvale::system_error_text());
    else
        refused = false;
    if (refused) {
        CloseHandle(h);
        return false;
    }
    m_hFile = reinterpret_cast<intptr_t>(h);
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

// A write at an offset moves the position on Windows: it is put back.
size_t CFile::WriteAt(uint64_t offset, const void* data, size_t len) {
    const sonvale::file_writes& writes = sonvale::current_file_writes();
    const int64_t at = m_hFile == no_file ? -1 : writes.position(m_hFile);
    if (at < 0 || (!data && len > 0) || offset > static_cast<uint64_t>(LLONG_MAX) - len)
        return 0;
    const size_t written = write_all(m_hFile, data, len, static_cast<int64_t>(offset));
    writes.seek(m_hFile, static_cast<uint64_t>(at));
    return written;
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
    CloseHandle(handle_of(m_hFile));
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
    SetLastError(ERROR_DISK_FULL);
}
