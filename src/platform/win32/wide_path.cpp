#include "platform/win32/wide_path.h"

#include <windows.h>

#include <new>

namespace sonvale {

bool widen_path(const char* path, std::wstring& out) {
    if (!path)
        return false;
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (needed <= 0)
        return false;
    try {
        out.resize(static_cast<size_t>(needed));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, out.data(), needed) != needed)
        return false;
    out.pop_back(); // the terminating null, which wstring keeps itself
    return true;
}

} // namespace sonvale
