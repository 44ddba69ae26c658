// Paths on Windows: the library takes UTF-8, the system's wide functions take
// UTF-16, so that every file name works whatever the process's code page.
#pragma once

#include <string>

namespace sonvale {

// `path` (UTF-8) as UTF-16 in `out`. False for a null path or one that is
// not valid UTF-8; no exception leaves (a lack of memory is a false too).
bool widen_path(const char* path, std::wstring& out);

} // namespace sonvale
