// A disk that fills up while the worker records: blocks that do not fit are
// dropped whole, the worker goes on, and the finished file is a valid WAV
// holding exactly the blocks written. Played by a file size limit (SIGXFSZ
// ignored) and by a small tmpfs, each in a forked child.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "faults/faults_common.h"
#include "support/figures.h"

namespace {

using faults::child_failure;

// What limits the file, how much more it can take, and how to lift it.
class disk_limit {
public:
    virtual ~disk_limit() = default;
    // Sets the limit up in the child; the recording goes to the returned path.
    virtual bool set_up(std::string& path) = 0;
    virtual uint64_t room(const std::string& path) = 0;
    virtual bool lift() = 0;
};

class file_size_limit : public disk_limit {
public:
    explicit file_size_limit(std::string dir) : m_dir(std::move(dir)) {}
    bool set_up(std::string& path) override {
        path = m_dir + "/full.wav";
        // Past the limit a write fails with EFBIG instead of ending the
        // process. The hard limit stays open, so that the limit can be lifted.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{m_limit, RLIM_INFINITY};
        return setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    uint64_t room(const std::string& path) override { return m_limit - faults::size_of(path); }
    bool lift() override {
        rlimit lim{RLIM_INFINITY, RLIM_INFINITY};
        return setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }

private:
    std::string m_dir;
    const rlim_t m_limit = 44 + 10 * 1280 + 600; // ten blocks and a bit
};

class small_tmpfs : public disk_limit {
public:
    explicit small_tmpfs(std::string dir) : m_mount(std::move(dir) + "/small") {}
    bool set_up(std::string& path) override {
        path = m_mount + "/full.wav";
        return mkdir(m_mount.c_str(), 0755) == 0 && faults::private_mounts() &&
               mount("tmpfs", m_mount.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    // Free blocks of the file system, and what is left of the file's last one.
    uint64_t room(const std::string& path) override {
        struct statvfs fs {};
        struct stat st {};
        if (statvfs(m_mount.c_str(), &fs) != 0 || stat(path.c_str(), &st) != 0)
            return 0;
        return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize +
               static_cast<uint64_t>(st.st_blocks) * 512 - static_cast<uint64_t>(st.st_size);
    }
    bool lift() override {
        return mount(nullptr, m_mount.c_str(), nullptr, MS_REMOUNT, "size=1m") == 0;
    }

private:
    std::string m_mount;
};

constexpr uint32_t marker_base = 2000, marker_len = 24, after_base = 3000;

// In the child: whole blocks until the disk is full; then blocks that do not
// fit; then small markers until one lands on its own (it can only be written
// alone: a marker taken together with blocks that do not fit is dropped with
// them), which shows the worker has dealt with everything before it; then the
// limit is lifted and recording goes on.
int fill_the_disk(disk_limit& limit) {
    std::string path;
    if (!limit.set_up(path))
        return faults::not_permitted;
    CSonvale mixer;
    WAVEFORMATEX format = faults::mono16();
    if (mixer.MIX_Init(&format, nullptr) != 0)
        return child_failure(20, "MIX_Init");
    if (!mixer.m_recorder.Open(path.c_str(), 22050, 1, 16))
        return child_failure(21, "Record_Open");
    const uint64_t fit = limit.room(path) / 1280;
    for (uint32_t seq = 0; seq < fit; ++seq)
        if (!faults::record_one(mixer, path, seq))
            return child_failure(22, "block " + std::to_string(seq) + " did not fit");
    const uint64_t left = limit.room(path);
    if (left >= 1280 || left < marker_len)
        return child_failure(23, "unexpected room " + std::to_string(left));
    for (uint32_t seq = 1000; seq < 1020; ++seq)
        faults::add_stamped(mixer, seq);
    // Not the size the file shows now: part of a block being dropped may
    // still be in it for a moment.
    const uint64_t full = 44 + fit * 1280;
    bool landed = false;
    for (uint32_t k = 0; k < 20 && !landed; ++k)
        landed = faults::add_stamped(mixer, marker_base + k, marker_len) &&
                 faults::wait_for_size(path, full + marker_len, 2.0);
    if (!landed)
        return child_failure(24, "no marker was recorded");
    if (!limit.lift())
        return child_failure(25, "cannot lift the limit");
    for (uint32_t seq = after_base; seq < after_base + 3; ++seq)
        if (!faults::record_one(mixer, path, seq))
            return child_failure(26, "recording did not go on");
    mixer.m_recorder.Close();
    mixer.MIX_Close();
    // The parent cannot see into this child's mounts: check the file here.
    std::string problem;
    const std::vector<uint32_t> seqs = faults::recorded_items(path, problem);
    if (!problem.empty())
        return child_failure(27, problem);
    std::vector<uint32_t> expected;
    for (uint32_t seq = 0; seq < fit; ++seq)
        expected.push_back(seq);
    if (seqs.size() != fit + 4 || seqs[fit] < marker_base || seqs[fit] >= marker_base + 20)
        return child_failure(28, "wrong items recorded");
    expected.push_back(seqs[fit]);
    for (uint32_t seq = after_base; seq < after_base + 3; ++seq)
        expected.push_back(seq);
    return seqs == expected ? 0 : child_failure(29, "wrong items recorded");
}

TEST(FullDisk, FileSizeLimit) {
    test_support::temp_dir dir;
    file_size_limit limit(dir.path());
    EXPECT_EQ(test_support::in_child([&] { return fill_the_disk(limit); }), 0);
    test_support::report_figure("faults.full_disk", 1);
}

TEST(FullDisk, SmallTmpfs) {
    test_support::temp_dir dir;
    small_tmpfs limit(dir.path());
    const int code = test_support::in_child([&] { return fill_the_disk(limit); });
    if (code == faults::not_permitted)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    EXPECT_EQ(code, 0);
    test_support::report_figure("faults.full_disk", 1);
}

} // namespace
