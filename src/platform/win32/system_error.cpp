// The system's words for GetLastError().
#include "platform/last_error.h"

#include <windows.h>

#include <cstdio>

namespace sonvale {

namespace {

thread_local char t_text[256];

} // namespace

const char* system_error_text() {
    const DWORD code = GetLastError();
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), t_text, sizeof t_text, nullptr);
    if (n == 0)
        n = static_cast<DWORD>(std::snprintf(t_text, sizeof t_text, "system error %lu", code));
    // The system's sentences end with a full stop and a line break.
    while (n > 0 && (t_text[n - 1] == '\n' || t_text[n - 1] == '\r' || t_text[n - 1] == '.'))
        t_text[--n] = '\0';
    return t_text;
}

} // namespace sonvale
