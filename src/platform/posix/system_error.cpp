// The system's words for errno.
#include "platform/last_error.h"

#include <cerrno>
#include <cstring>

namespace sonvale {

namespace {

thread_local char t_text[128];

// strerror_r comes in two kinds; both are served.
[[maybe_unused]] const char* text_of(int result, const char* buffer) {
    return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* text_of(const char* result, const char*) {
    return result;
}

} // namespace

const char* system_error_text() {
    return text_of(strerror_r(errno, t_text, sizeof t_text), t_text);
}

} // namespace sonvale
