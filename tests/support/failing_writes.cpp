#include "support/failing_writes.h"

#include <atomic>

#include "platform/file_writes.h"

namespace test_support {

namespace {

std::atomic<uint64_t> g_nth{0};
std::atomic<uint64_t> g_limit{UINT64_MAX};
std::atomic<uint64_t> g_writes{0};

int64_t failing_write(intptr_t file, const void* data, size_t len, int64_t offset) {
    const sonvale::file_writes& system = sonvale::system_file_writes();
    const int64_t at = offset >= 0 ? offset : system.position(file);
    const uint64_t limit = g_limit.load();
    if (++g_writes == g_nth.load() || at < 0 || static_cast<uint64_t>(at) >= limit) {
        sonvale::set_no_space_error();
        return -1;
    }
    const uint64_t room = limit - static_cast<uint64_t>(at);
    return system.write(file, data, len < room ? len : static_cast<size_t>(room), offset);
}

const sonvale::file_writes g_failing = [] {
    sonvale::file_writes writes = sonvale::system_file_writes();
    writes.write = failing_write;
    return writes;
}();

bool failing_sync(intptr_t) {
    sonvale::set_no_space_error();
    return false;
}

const sonvale::file_writes g_failing_syncs = [] {
    sonvale::file_writes writes = sonvale::system_file_writes();
    writes.sync = failing_sync;
    return writes;
}();

const sonvale::file_writes g_failing_folder_syncs = [] {
    sonvale::file_writes writes = g_failing_syncs;
    writes.sync_directory = [](const char*) { return failing_sync(0); };
    return writes;
}();

} // namespace

failing_syncs::failing_syncs(bool folders) {
    sonvale::install_file_writes(folders ? &g_failing_folder_syncs : &g_failing_syncs);
}

failing_syncs::~failing_syncs() {
    sonvale::install_file_writes(nullptr);
}

failing_writes::failing_writes(uint64_t nth_write, uint64_t byte_limit) {
    g_nth = nth_write;
    g_limit = byte_limit;
    g_writes = 0;
    sonvale::install_file_writes(&g_failing);
}

failing_writes::~failing_writes() {
    sonvale::install_file_writes(nullptr);
}

} // namespace test_support
