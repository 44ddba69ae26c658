// The reason for the last failure on each thread, as the platform keeps a
// last error per thread: a short English sentence, handed to clients by
// MIX_GetLastError. Setting it never allocates and never fails; a success
// leaves it as it was.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace sonvale {

#if defined(__GNUC__)
#define SONVALE_PRINTF_LIKE_AT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define SONVALE_PRINTF_LIKE_AT(fmt, first)
#endif
#define SONVALE_PRINTF_LIKE SONVALE_PRINTF_LIKE_AT(1, 2)

// Formats a reason from a printf format into `buffer`, `capacity` bytes
// with its terminating null, cutting it once: when it does not fit, its
// string arguments (paths, names) lose their middle around an ellipsis, the
// longest first, so that the words after them (the system's cause) stay;
// any cut falls between UTF-8 characters. Never allocates.
void format_reason(char* buffer, size_t capacity, const char* format, ...)
    SONVALE_PRINTF_LIKE_AT(3, 4);
void vformat_reason(char* buffer, size_t capacity, const char* format, va_list args);

// Sets the calling thread's reason from a printf format, as format_reason
// does into room for about 1000 bytes.
void set_last_error(const char* format, ...) SONVALE_PRINTF_LIKE;

// The calling thread's reason; "" before the first failure.
const char* last_error();

// The system's words for the error of the last system call that failed on
// this thread ("Permission denied"). Read it before any other system call.
const char* system_error_text();

} // namespace sonvale
