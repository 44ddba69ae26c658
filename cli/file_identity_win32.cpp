#include "file_identity.h"

#include <windows.h>

namespace sonvale_cli {

namespace {

// The volume and index of the file at `path` (UTF-8); false when it cannot
// be opened.
bool identity_of(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, &wide[0], n);
    // No access asked: only the file's identity is read, whoever holds it.
    const HANDLE h =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool read = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return read;
}

} // namespace

bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    return identity_of(a, ia) && identity_of(b, ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

} // namespace sonvale_cli
