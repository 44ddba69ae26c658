#include "platform/file_writes.h"

#include <atomic>

namespace sonvale {

namespace {

std::atomic<const file_writes*> g_installed{nullptr};

} // namespace

void install_file_writes(const file_writes* writes) {
    g_installed.store(writes);
}

const file_writes& current_file_writes() {
    const file_writes* installed = g_installed.load();
    return installed ? *installed : system_file_writes();
}

bool sync_directory_of(const char* path) {
    return current_file_writes().sync_directory(path);
}

} // namespace sonvale
