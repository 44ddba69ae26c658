// Whether two paths name one file, however they are written: links, other
// spellings and relative paths all lead to the same file.
#pragma once

#include <string>

namespace sonvale_cli {

// True when `a` and `b` both exist and are the same file (device and inode;
// on Windows the volume and file index).
bool same_file(const std::string& a, const std::string& b);

} // namespace sonvale_cli
