// The files service: CFile creates exclusively, writes unbuffered, cuts.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "sonvale.h"
#include "support/test_support.h"

namespace {

using sonvale::CFile;
using test_support::fd_count;
using test_support::pattern;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

std::vector<uint8_t> bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

size_t write_str(CFile& f, const std::string& s) {
    return f.Write(s.data(), s.size());
}

TEST(File, CreatesAndWrites) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile f;
    EXPECT_FALSE(f.IsOpen());
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(write_str(f, "hello"), 5u);
    // Unbuffered: the bytes are in the file before Close.
    EXPECT_EQ(read_file(path), bytes("hello"));
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(read_file(path), bytes("hello"));
}

TEST(File, TruncatesAnExistingFile) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    write_file(path, pattern(1000));
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    EXPECT_TRUE(read_file(path).empty());
    EXPECT_EQ(write_str(f, "xy"), 2u);
    f.Close();
    EXPECT_EQ(read_file(path), bytes("xy"));
}

TEST(File, SeekOverwrites) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    EXPECT_EQ(write_str(f, "0123456789"), 10u);
    EXPECT_TRUE(f.Seek(2));
    EXPECT_EQ(write_str(f, "XY"), 2u);
    EXPECT_TRUE(f.Seek(10));
    EXPECT_EQ(write_str(f, "!"), 1u);
    f.Close();
    EXPECT_EQ(read_file(path), bytes("01XY456789!"));
}

TEST(File, TruncateCutsAndLeavesThePosition) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    EXPECT_EQ(write_str(f, "0123456789"), 10u);
    EXPECT_TRUE(f.Truncate(4));
    EXPECT_EQ(read_file(path), bytes("0123"));
    EXPECT_EQ(write_str(f, "Z"), 1u); // still at offset 10
    f.Close();
    EXPECT_EQ(read_file(path), bytes(std::string("0123") + std::string(6, '\0') + "Z"));
}

TEST(File, LargeWriteGoesInWhole) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    const std::vector<uint8_t> data = pattern(8 << 20, 7);
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    EXPECT_EQ(f.Write(data.data(), data.size()), data.size());
    f.Close();
    EXPECT_EQ(read_file(path), data);
}

TEST(File, HeldPathIsRefusedAndUntouched) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile holder;
    ASSERT_TRUE(holder.CreateExclusive(path.c_str()));
    EXPECT_EQ(write_str(holder, "abc"), 3u);
    const int fds = fd_count();
    CFile other;
    EXPECT_FALSE(other.CreateExclusive(path.c_str()));
    EXPECT_EQ(std::string(MIX_GetLastError()), "'" + path + "' is held by another recording");
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(fd_count(), fds); // the refused descriptor was closed
    EXPECT_EQ(read_file(path), bytes("abc"));
    // The same path spelt differently, and through a hard link: still held.
    const std::string spelt = dir.path() + "/./a.bin";
    EXPECT_FALSE(other.CreateExclusive(spelt.c_str()));
    const std::string link = dir.file("link.bin");
    std::filesystem::create_hard_link(path, link);
    EXPECT_FALSE(other.CreateExclusive(link.c_str()));
    EXPECT_EQ(write_str(holder, "def"), 3u);
    holder.Close();
    EXPECT_EQ(read_file(path), bytes("abcdef"));
    // Released with the file: now it can be taken (and is cut).
    ASSERT_TRUE(other.CreateExclusive(path.c_str()));
    EXPECT_TRUE(read_file(path).empty());
}

#ifdef _WIN32
// Runs in a second copy of this program, started by the test below.
TEST(FileInAnotherProcess, HeldPathIsRefused) {
    const char* path = std::getenv("SONVALE_TEST_CHILD_PATH");
    if (!path)
        GTEST_SKIP()
            << "runs only in a process started by File.HeldByThisProcessIsRefusedInAnother";
    CFile f;
    EXPECT_FALSE(f.CreateExclusive(path));
}

TEST(File, HeldByThisProcessIsRefusedInAnother) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile holder;
    ASSERT_TRUE(holder.CreateExclusive(path.c_str()));
    EXPECT_EQ(write_str(holder, "abc"), 3u);
    EXPECT_EQ(test_support::run_this_program("FileInAnotherProcess.HeldPathIsRefused",
                                             "SONVALE_TEST_CHILD_PATH", path),
              0);
    EXPECT_EQ(read_file(path), bytes("abc"));
}

// A file another program holds so that no writer may join is not said to be
// a recording's.
TEST(File, RefusalNamesWhoHoldsTheFile) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    write_file(path, bytes("abc"));
    const struct {
        DWORD access, share;
        const char* holder;
    } cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, "is open in another program"},
        {GENERIC_READ, 0, "is open in another program"},
        {GENERIC_WRITE, FILE_SHARE_READ, "is held by another recording"},
    };
    for (const auto& c : cases) {
        const HANDLE h =
            CreateFileW(std::filesystem::u8path(path).wstring().c_str(), c.access, c.share, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CFile f;
        EXPECT_FALSE(f.CreateExclusive(path.c_str()));
        EXPECT_EQ(std::string(MIX_GetLastError()), "'" + path + "' " + c.holder);
        CloseHandle(h);
    }
    EXPECT_EQ(read_file(path), bytes("abc"));
}

TEST(File, AnyFileNameWorks) {
    temp_dir dir;
    const std::string name = "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5.bin"; // UTF-8
    const std::string path = dir.file(name);
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    EXPECT_EQ(write_str(f, "abc"), 3u);
    f.Close();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().u8string());
    EXPECT_EQ(names, std::vector<std::string>{name});
    EXPECT_FALSE(f.CreateExclusive(dir.file("\xff.bin").c_str())) << "not UTF-8";
}
#else
TEST(File, HeldByThisProcessIsRefusedInAnother) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile holder;
    ASSERT_TRUE(holder.CreateExclusive(path.c_str()));
    EXPECT_EQ(write_str(holder, "abc"), 3u);
    const int code = test_support::in_child([&] {
        CFile f;
        return f.CreateExclusive(path.c_str()) ? 1 : 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(read_file(path), bytes("abc"));
}

TEST(File, HeldByAnotherProcessIsRefusedHere) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        CFile f;
        const char ok = f.CreateExclusive(path.c_str()) && f.Write("held", 4) == 4 ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char c;
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    CFile f;
    EXPECT_FALSE(f.CreateExclusive(path.c_str()));
    EXPECT_EQ(read_file(path), bytes("held"));
    (void)!write(release[1], "x", 1);
    int status = 0;
    waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
    // The holder has ended: its lock went with it.
    EXPECT_TRUE(f.CreateExclusive(path.c_str()));
}

#endif

TEST(File, FailuresLeaveNothingOpen) {
    temp_dir dir;
    const int fds = fd_count();
    CFile f;
    EXPECT_FALSE(f.CreateExclusive(nullptr));
    EXPECT_FALSE(f.CreateExclusive(dir.file("missing/a.bin").c_str()));
    EXPECT_FALSE(f.CreateExclusive(dir.path().c_str())); // a directory
    EXPECT_FALSE(f.CreateExclusive(""));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(fd_count(), fds);
    EXPECT_FALSE(test_support::file_exists(dir.file("missing")));
}

TEST(File, SecondCreateOnAnOpenObjectIsRefused) {
    temp_dir dir;
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(dir.file("a.bin").c_str()));
    EXPECT_FALSE(f.CreateExclusive(dir.file("b.bin").c_str()));
    EXPECT_FALSE(test_support::file_exists(dir.file("b.bin")));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(write_str(f, "a"), 1u);
    f.Close();
    EXPECT_EQ(read_file(dir.file("a.bin")), bytes("a"));
}

TEST(File, ClosedFileDoesNothing) {
    CFile f;
    EXPECT_EQ(f.Write("abc", 3), 0u);
    EXPECT_FALSE(f.Seek(0));
    EXPECT_FALSE(f.Truncate(0));
    f.Close();
    f.Close();
    EXPECT_FALSE(f.IsOpen());
}

TEST(File, BadArgumentsOnAnOpenFile) {
    temp_dir dir;
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(dir.file("a.bin").c_str()));
    EXPECT_EQ(f.Write(nullptr, 3), 0u);
    EXPECT_EQ(f.Write("abc", 0), 0u);
    EXPECT_FALSE(f.Seek(static_cast<uint64_t>(INT64_MAX) + 1));
    EXPECT_FALSE(f.Truncate(UINT64_MAX));
}

#ifdef _WIN32
TEST(File, DevicesAreWrittenNotCut) {
    CFile a;
    ASSERT_TRUE(a.CreateExclusive("NUL"));
    EXPECT_EQ(a.Write("abc", 3), 3u);
}

TEST(File, PipeWithoutServerIsRefusedAtOnce) {
    CFile f;
    EXPECT_FALSE(f.CreateExclusive("\\\\.\\pipe\\sonvale-test-no-server"));
}

TEST(File, LinuxOnlyChecks) {
    GTEST_SKIP() << "descriptors closed on exec, FIFOs, and a file size limit (RLIMIT_FSIZE) "
                    "are Linux mechanisms; Windows handles are created uninheritable";
}
#else
// The descriptor of this process that has `path` open, or -1.
int fd_of(const std::string& path) {
    const std::string want = std::filesystem::canonical(path).string();
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(entry.path(), ec);
        if (!ec && target.string() == want)
            return std::stoi(entry.path().filename().string());
    }
    return -1;
}

TEST(File, DescriptorIsClosedOnExec) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    CFile f;
    ASSERT_TRUE(f.CreateExclusive(path.c_str()));
    const int fd = fd_of(path);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    const int fl = fcntl(fd, F_GETFL);
    EXPECT_EQ(fl & O_ACCMODE, O_WRONLY);
    EXPECT_FALSE(fl & O_NONBLOCK);
    EXPECT_FALSE(fl & O_APPEND);
    f.Close();
    EXPECT_EQ(fd_of(path), -1);
}

TEST(File, DevicesAreSharedNotLocked) {
    CFile a, b;
    ASSERT_TRUE(a.CreateExclusive("/dev/null"));
    EXPECT_TRUE(b.CreateExclusive("/dev/null"));
    EXPECT_EQ(a.Write("abc", 3), 3u);
}

TEST(File, FifoIsRefusedAtOnceWithOrWithoutAReader) {
    temp_dir dir;
    const std::string path = dir.file("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    CFile f;
    EXPECT_FALSE(f.CreateExclusive(path.c_str()));
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(f.CreateExclusive(path.c_str()));
    close(reader);
}

TEST(File, ShortWriteAtAFileSizeLimit) {
    temp_dir dir;
    const std::string path = dir.file("a.bin");
    const int code = test_support::in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {100, 100};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 10;
        CFile f;
        if (!f.CreateExclusive(path.c_str()))
            return 11;
        const std::vector<uint8_t> data = pattern(250);
        if (f.Write(data.data(), data.size()) != 100)
            return 12; // as much as fits, then the refusal ends the loop
        if (f.Write(data.data(), 10) != 0)
            return 13;
        if (!f.Truncate(50) || !f.Seek(50))
            return 14;
        if (f.Write(data.data(), 10) != 10)
            return 15;
        return 0;
    });
    EXPECT_EQ(code, 0);
    std::vector<uint8_t> expected = pattern(50);
    const std::vector<uint8_t> tail = pattern(10);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(read_file(path), expected);
}

#endif

} // namespace
