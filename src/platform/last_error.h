// The reason for the last failure on each thread, as the platform keeps a
// last error per thread: a short English sentence, handed to clients by
// MIX_GetLastError. Setting it never allocates and never fails; a success
// leaves it as it was.
#pragma once

namespace sonvale {

#if defined(__GNUC__)
#define SONVALE_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define SONVALE_PRINTF_LIKE
#endif

// Sets the calling thread's reason from a printf format. A string argument
// of more than 300 bytes (a path) keeps its first and last 150 or so,
// around an ellipsis, so the words after it (the system's cause) stay; a
// reason still too long is cut between UTF-8 characters.
void set_last_error(const char* format, ...) SONVALE_PRINTF_LIKE;

// The calling thread's reason; "" before the first failure.
const char* last_error();

// The system's words for the error of the last system call that failed on
// this thread ("Permission denied"). Read it before any other system call.
const char* system_error_text();

} // namespace sonvale
