// Record_Open where no file can be created, and recordings whose file or
// directory is removed, replaced or made read-only while the worker writes.
#include <gtest/gtest.h>

#include <set>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "faults/faults_common.h"
#include "support/figures.h"

namespace {

using faults::child_failure;
using faults::record_one;
using test_support::file_exists;
using test_support::read_file;
using test_support::temp_dir;

std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<uint32_t> expect_valid(const std::string& path) {
    std::string problem;
    const std::vector<uint32_t> seqs = faults::recorded_items(path, problem);
    EXPECT_EQ(problem, "");
    return seqs;
}

const std::vector<uint32_t> six_items = {0, 1, 2, 3, 4, 5};

TEST(RecordOpenFaults, PathsWhereNoFileCanBeCreated) {
    temp_dir dir;
    const std::vector<uint8_t> plain = {1, 2, 3};
    test_support::write_file(dir.file("plain"), plain);
#ifndef _WIN32
    ASSERT_EQ(symlink(dir.file("missing/target.wav").c_str(), dir.file("dangling.wav").c_str()), 0);
#endif
    WAVEFORMATEX format = faults::mono16();
    HSONVALE mixer = MIX_Init(&format, nullptr);
    ASSERT_NE(mixer, nullptr);
    const std::set<std::string> before = entries(dir.path());
    const int fds = test_support::fd_count();

    std::vector<std::string> paths = {
        dir.file("missing/a.wav"),                // a folder that does not exist
        dir.file("plain/a.wav"),                  // a path through a regular file
        dir.path(),                               // a folder
        dir.file(std::string(300, 'n') + ".wav"), // a name too long
        "",                                       // no name at all
#ifdef _WIN32
        dir.file("what?.wav"), // a character Windows does not allow in names
#else
        dir.file("dangling.wav"), // a link into a missing folder
        "/proc/sonvale-test.wav", // a file system that makes no files
        "/dev/null",              // a device, which cannot keep a header
#endif
    };
#ifndef _WIN32
    // Root passes permission bits: only other users can test them.
    if (geteuid() != 0) {
        ASSERT_EQ(mkdir(dir.file("locked").c_str(), 0555), 0);
        paths.push_back(dir.file("locked/a.wav"));
    }
#endif
    for (const std::string& path : paths) {
        EXPECT_FALSE(Record_Open(mixer, path.c_str(), 22050, 1, 16)) << path;
        EXPECT_EQ(std::string(MIX_GetLastError()).find("Success"), std::string::npos) << path;
    }
    EXPECT_FALSE(Record_Open(mixer, nullptr, 22050, 1, 16));

    std::set<std::string> after = entries(dir.path());
    after.erase("locked");
    EXPECT_EQ(after, before);
    EXPECT_EQ(read_file(dir.file("plain")), plain);
#ifndef _WIN32
    EXPECT_FALSE(file_exists("/proc/sonvale-test.wav"));
#endif
    EXPECT_EQ(test_support::fd_count(), fds);

    // The mixer records as before.
    const std::string good = dir.file("good.wav");
    ASSERT_TRUE(Record_Open(mixer, good.c_str(), 22050, 1, 16));
    const std::vector<char> item = record_test::make_block(0, 1280);
    EXPECT_EQ(MIX_AddData(mixer, reinterpret_cast<const unsigned char*>(item.data()), 1280, 3, 1),
              3);
    EXPECT_TRUE(faults::wait_for_size(good, 44 + 1280));
    Record_Close(mixer);
    EXPECT_EQ(expect_valid(good), std::vector<uint32_t>{0});
    EXPECT_EQ(MIX_Close(mixer), 0);
    test_support::report_figure("faults.bad_paths", static_cast<long long>(paths.size()) + 1);
}

#ifdef _WIN32
// The system keeps a recording's file in place: it can be neither removed nor
// replaced while the recorder holds it, and the recording goes on whole.
TEST(RecordingFaults, HeldFileCannotBeRemovedOrReplaced) {
    temp_dir dir;
    const std::string path = dir.file("a.wav"), other = dir.file("other");
    CSonvale mixer;
    WAVEFORMATEX format = faults::mono16();
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    for (uint32_t seq = 0; seq < 3; ++seq)
        ASSERT_TRUE(record_one(mixer, path, seq)) << "item " << seq;
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::remove(path, ec));
    test_support::write_file(other, test_support::pattern(100));
    std::filesystem::rename(other, path, ec);
    EXPECT_TRUE(ec) << "replaced while held";
    for (uint32_t seq = 3; seq < 6; ++seq)
        ASSERT_TRUE(record_one(mixer, path, seq)) << "item " << seq;
    mixer.m_recorder.Close();
    EXPECT_EQ(mixer.MIX_Close(), 0);
    EXPECT_EQ(expect_valid(path), six_items);
    test_support::report_figure("faults.recording_path", 1);
}

TEST(RecordingFaults, MountsAreLinuxOnly) {
    GTEST_SKIP() << "read-only file systems are made with mounts in a namespace of a forked "
                    "child; Windows has neither";
}
#else
// Files are refused on a read-only file system, new ones and existing ones
// alike, and an existing one is left as it was. Root ignores permission
// bits, but not a read-only mount: made in a mount namespace of a child's
// own, so that nobody else sees it.
TEST(RecordOpenFaults, ReadOnlyFileSystem) {
    temp_dir dir;
    const std::string ro = dir.file("ro");
    const int code = test_support::in_child([&] {
        if (mkdir(ro.c_str(), 0755) != 0 || !faults::private_mounts() ||
            mount("tmpfs", ro.c_str(), "tmpfs", 0, "size=64k") != 0)
            return faults::not_permitted;
        const std::vector<uint8_t> old = {'o', 'l', 'd'};
        test_support::write_file(ro + "/old.wav", old);
        if (mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return child_failure(20, "remount read-only");
        WAVEFORMATEX format = faults::mono16();
        HSONVALE mixer = MIX_Init(&format, nullptr);
        if (!mixer)
            return child_failure(21, "MIX_Init");
        if (Record_Open(mixer, (ro + "/new.wav").c_str(), 22050, 1, 16))
            return child_failure(22, "a new file opened");
        if (Record_Open(mixer, (ro + "/old.wav").c_str(), 22050, 1, 16))
            return child_failure(23, "an existing file opened");
        MIX_Close(mixer);
        if (entries(ro) != std::set<std::string>{"old.wav"} || read_file(ro + "/old.wav") != old)
            return child_failure(24, "the file system changed");
        return 0;
    });
    if (code == faults::not_permitted)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    EXPECT_EQ(code, 0);
    test_support::report_figure("faults.bad_paths", 2);
}

// A recording whose path changes under it while the worker writes: a second
// link to the file (made before) shows what the recording holds.
class RecordingFaults : public testing::Test {
protected:
    temp_dir dir;
    CSonvale mixer;
    const std::string keep = dir.file("keep.wav");

    void start(const std::string& path) {
        WAVEFORMATEX format = faults::mono16();
        ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
        ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
        ASSERT_EQ(link(path.c_str(), keep.c_str()), 0);
    }

    void record_items(uint32_t first, uint32_t count) {
        for (uint32_t seq = first; seq < first + count; ++seq)
            ASSERT_TRUE(record_one(mixer, keep, seq)) << "item " << seq;
    }

    void finish() {
        mixer.m_recorder.Close();
        EXPECT_EQ(mixer.MIX_Close(), 0);
        EXPECT_EQ(expect_valid(keep), six_items);
        test_support::report_figure("faults.recording_path", 1);
    }
};

TEST_F(RecordingFaults, FileRemoved) {
    const std::string path = dir.file("a.wav");
    start(path);
    record_items(0, 3);
    ASSERT_EQ(unlink(path.c_str()), 0);
    record_items(3, 3);
    finish();
    EXPECT_FALSE(file_exists(path)); // finishing did not make it again
}

TEST_F(RecordingFaults, FolderRemoved) {
    const std::string sub = dir.file("sub"), path = sub + "/a.wav";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    start(path);
    record_items(0, 3);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(rmdir(sub.c_str()), 0);
    record_items(3, 3);
    finish();
    EXPECT_FALSE(file_exists(sub));
}

TEST_F(RecordingFaults, FileReplaced) {
    const std::string path = dir.file("a.wav"), other = dir.file("other");
    start(path);
    record_items(0, 3);
    const std::vector<uint8_t> replacement = test_support::pattern(100);
    test_support::write_file(other, replacement);
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    record_items(3, 3);
    finish();
    EXPECT_EQ(read_file(path), replacement); // never written to
}

// The folder turns read-only (a read-only mount over it, in a child's own
// mount namespace): the open file goes on, new files cannot be made there.
TEST(RecordingFaultsReadOnly, FolderMadeReadOnly) {
    temp_dir dir;
    const std::string sub = dir.file("sub"), path = sub + "/a.wav";
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    const int code = test_support::in_child([&] {
        if (!faults::private_mounts())
            return faults::not_permitted;
        CSonvale mixer;
        WAVEFORMATEX format = faults::mono16();
        if (mixer.MIX_Init(&format, nullptr) != 0 ||
            !mixer.m_recorder.Open(path.c_str(), 22050, 1, 16))
            return child_failure(20, "start recording");
        for (uint32_t seq = 0; seq < 3; ++seq)
            if (!record_one(mixer, path, seq))
                return child_failure(21, "before");
        if (mount(sub.c_str(), sub.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, sub.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return child_failure(22, "read-only mount");
        CWaveRecorder another;
        if (another.Open((sub + "/b.wav").c_str(), 22050, 1, 16))
            return child_failure(23, "the folder is not read-only");
        for (uint32_t seq = 3; seq < 6; ++seq)
            if (!record_one(mixer, path, seq))
                return child_failure(24, "after");
        mixer.m_recorder.Close();
        mixer.MIX_Close();
        return 0;
    });
    if (code == faults::not_permitted)
        GTEST_SKIP() << "mount namespaces need root";
    ASSERT_EQ(code, 0);
    EXPECT_EQ(expect_valid(path), six_items);
    test_support::report_figure("faults.recording_path", 1);
}

#endif

} // namespace
