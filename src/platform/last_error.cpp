#include "platform/last_error.h"

#include <cstdarg>
#include <cstdio>

namespace sonvale {

namespace {

// Room for a sentence with a long path in it.
thread_local char t_reason[640];

} // namespace

void set_last_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_reason, sizeof t_reason, format, args);
    va_end(args);
}

const char* last_error() {
    return t_reason;
}

} // namespace sonvale
