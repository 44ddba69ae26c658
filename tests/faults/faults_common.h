// Helpers of the fault tests that record through a mixer, often in a forked
// child that may change its limits and mounts without touching the test
// process.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#endif

#include "output/ring_common.h"
#include "record/record_util.h"
#include "sonvale.h"
#include "support/test_support.h"

namespace faults {

// Exit status of a child that could not set up what the test needs (mount
// namespaces need root): the test is skipped, not failed.
constexpr int not_permitted = 77;

inline WAVEFORMATEX mono16() {
    return ring_test::pcm(22050, 16, 1);
}

#ifndef _WIN32
// In a forked child: a mount namespace of its own, so that whatever it
// mounts is gone with it and the rest of the system never sees it.
inline bool private_mounts() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
#endif

// For the exit status of a child: prints why, returns `code`.
inline int child_failure(int code, const std::string& why) {
    std::fprintf(stderr, "child failed (%d): %s (errno %d)\n", code, why.c_str(), errno);
    return code;
}

inline uint64_t size_of(const std::string& path) {
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

// Waits until the file at `path` holds exactly `size` bytes.
inline bool wait_for_size(const std::string& path, uint64_t size, double seconds = 20.0) {
    return test_support::wait_until([&] { return size_of(path) == size; }, seconds);
}

// Queues an item stamped with `seq` (see record_test::make_block): 16-bit
// samples pass the worker unchanged, so it is recorded as it is.
inline bool add_stamped(CSonvale& mixer, uint32_t seq, uint32_t len = 1280) {
    const std::vector<char> item = record_test::make_block(seq, len);
    return mixer.MIX_AddData(reinterpret_cast<const unsigned char*>(item.data()),
                             static_cast<int>(item.size()), 1, 1, 0) == 1;
}

// Queues a stamped item and waits until `path` has grown by its size: one
// item at a time, so that each is written on its own.
inline bool record_one(CSonvale& mixer, const std::string& path, uint32_t seq,
                       uint32_t len = 1280) {
    const uint64_t before = size_of(path);
    return add_stamped(mixer, seq, len) && wait_for_size(path, before + len);
}

// The sequence numbers of the stamped items a finished recording holds, in
// order; `problem` tells what is wrong with the file otherwise.
std::vector<uint32_t> recorded_items(const std::string& path, std::string& problem);

} // namespace faults
