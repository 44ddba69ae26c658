// The WAV recorder: header bytes, locking, full disks, clamped sizes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "record/record_util.h"
#include "sonvale.h"
#include "support/test_support.h"
#include "wav/wave_header.h"

namespace {

using record_test::expected_header;
using record_test::make_block;
using record_test::parse_blocks;
using test_support::file_exists;
using test_support::le32;
using test_support::pattern;
using test_support::read_file;
using test_support::temp_dir;
using test_support::write_file;

std::vector<uint8_t> header_of(const std::vector<uint8_t>& file) {
    return std::vector<uint8_t>(file.begin(), file.begin() + std::min<size_t>(44, file.size()));
}

std::vector<uint8_t> data_of(const std::vector<uint8_t>& file) {
    return file.size() > 44 ? std::vector<uint8_t>(file.begin() + 44, file.end())
                            : std::vector<uint8_t>();
}

void write_bytes(CWaveRecorder& r, const std::vector<uint8_t>& b) {
    r.Write(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()));
}

TEST(Recorder, StartsClosed) {
    CWaveRecorder r;
    EXPECT_EQ(r.isOpen(), 0);
    EXPECT_EQ(r.m_bOpen, 0);
    EXPECT_FALSE(r.m_file.IsOpen());
    r.Close(); // harmless
    r.Write("abc", 3);
    EXPECT_EQ(r.isOpen(), 0);
}

TEST(Recorder, OpenCloseWithoutWrites) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    EXPECT_NE(r.isOpen(), 0);
    EXPECT_EQ(r.m_nDataLen, 0u);
    // The header is in the file from the start.
    EXPECT_EQ(read_file(path), expected_header(22050, 1, 16, 0));
    r.Close();
    EXPECT_EQ(r.isOpen(), 0);
    const std::vector<uint8_t> file = read_file(path);
    EXPECT_EQ(file, expected_header(22050, 1, 16, 0));
    EXPECT_EQ(le32(file, 28), 44100u);
    EXPECT_EQ(file[32], 2);
    EXPECT_EQ(le32(file, 4), 36u);
    // m_header holds the bytes as written (this host is little-endian).
    ASSERT_EQ(0, std::memcmp(&r.m_header, file.data(), 44));
    r.Close(); // closing twice is harmless
    EXPECT_EQ(read_file(path), file);
}

TEST(Recorder, TwoWritesMakeA1324ByteFile) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    const std::vector<uint8_t> a = pattern(1000, 1), b = pattern(280, 2);
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    write_bytes(r, a);
    // Each block is in the file as soon as Write returns.
    EXPECT_EQ(read_file(path).size(), 1044u);
    write_bytes(r, b);
    EXPECT_EQ(r.m_nDataLen, 1280u);
    r.Close();
    const std::vector<uint8_t> file = read_file(path);
    ASSERT_EQ(file.size(), 1324u);
    EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, 1280));
    EXPECT_EQ(le32(file, 40), 1280u);
    EXPECT_EQ(le32(file, 4), 1316u);
    std::vector<uint8_t> data = a;
    data.insert(data.end(), b.begin(), b.end());
    EXPECT_EQ(data_of(file), data);
    EXPECT_EQ(0, std::memcmp(&r.m_header, file.data(), 44));
}

TEST(Recorder, OverviewRecordingGives1044Bytes) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    write_bytes(r, pattern(1000));
    r.Close();
    const std::vector<uint8_t> file = read_file(path);
    EXPECT_EQ(file.size(), 1044u);
    EXPECT_EQ(le32(file, 4), 1036u);
    EXPECT_EQ(le32(file, 40), 1000u);
}

TEST(Recorder, SecondOpenChangesNothing) {
    temp_dir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(a.c_str(), 22050, 1, 16));
    write_bytes(r, pattern(10, 1));
    const std::vector<uint8_t> before = read_file(a);
    const sonvale::WaveFileHeader header = r.m_header;
    EXPECT_TRUE(r.Open(b.c_str(), 44100, 2, 8));
    EXPECT_TRUE(r.Open(nullptr, 8000, 1, 8));
    EXPECT_FALSE(file_exists(b));
    EXPECT_EQ(read_file(a), before);
    EXPECT_EQ(0, std::memcmp(&header, &r.m_header, 44));
    EXPECT_EQ(r.m_nDataLen, 10u);
    write_bytes(r, pattern(10, 2));
    r.Close();
    const std::vector<uint8_t> file = read_file(a);
    EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, 20));
    std::vector<uint8_t> data = pattern(10, 1), more = pattern(10, 2);
    data.insert(data.end(), more.begin(), more.end());
    EXPECT_EQ(data_of(file), data);
}

TEST(Recorder, WritesOutsideAnOpenFileLeaveNoTrace) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    write_bytes(r, pattern(100));
    ASSERT_TRUE(r.Open(path.c_str(), 8000, 1, 8));
    EXPECT_EQ(r.m_nDataLen, 0u);
    write_bytes(r, pattern(5));
    r.Close();
    const std::vector<uint8_t> file = read_file(path);
    write_bytes(r, pattern(100));
    EXPECT_EQ(r.m_nDataLen, 5u);
    EXPECT_EQ(read_file(path), file);
    EXPECT_EQ(file.size(), 49u);
}

TEST(Recorder, BadArguments) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    EXPECT_FALSE(r.Open(nullptr, 22050, 1, 16));
    EXPECT_EQ(r.isOpen(), 0);
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    r.Write(nullptr, 10);
    r.Write("abc", 0);
    r.Write("abc", -5);
    EXPECT_EQ(r.m_nDataLen, 0u);
    r.Close();
    EXPECT_EQ(read_file(path), expected_header(22050, 1, 16, 0));
}

TEST(Recorder, OpenFailureLeavesItClosed) {
    temp_dir dir;
    CWaveRecorder r;
    r.m_nDataLen = 10; // as a recording before leaves it
    EXPECT_FALSE(r.Open(dir.file("missing/a.wav").c_str(), 22050, 1, 16));
    EXPECT_EQ(r.m_nDataLen, 0u);
    EXPECT_FALSE(r.Open(dir.path().c_str(), 22050, 1, 16));
    EXPECT_EQ(r.isOpen(), 0);
    r.Write("abc", 3);
    r.Close();
    EXPECT_FALSE(file_exists(dir.file("missing")));
    // It can still open somewhere else afterwards.
    EXPECT_TRUE(r.Open(dir.file("b.wav").c_str(), 8000, 1, 8));
}

TEST(Recorder, ReopenStartsAFreshFile) {
    temp_dir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(a.c_str(), 8000, 1, 8));
    write_bytes(r, pattern(30));
    r.Close();
    ASSERT_TRUE(r.Open(b.c_str(), 16000, 2, 16));
    EXPECT_EQ(r.m_nDataLen, 0u);
    write_bytes(r, pattern(8));
    r.Close();
    EXPECT_EQ(header_of(read_file(a)), expected_header(8000, 1, 8, 30));
    EXPECT_EQ(read_file(b).size(), 52u);
    EXPECT_EQ(header_of(read_file(b)), expected_header(16000, 2, 16, 8));
    // The same path again: truncated and started over.
    ASSERT_TRUE(r.Open(a.c_str(), 8000, 1, 8));
    r.Close();
    EXPECT_EQ(read_file(a), expected_header(8000, 1, 8, 0));
}

TEST(Recorder, DestructorFinishesTheFile) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    {
        CWaveRecorder r;
        ASSERT_TRUE(r.Open(path.c_str(), 8000, 1, 8));
        write_bytes(r, pattern(77));
    }
    const std::vector<uint8_t> file = read_file(path);
    EXPECT_EQ(header_of(file), expected_header(8000, 1, 8, 77));
    EXPECT_EQ(data_of(file), pattern(77));
}

TEST(Recorder, PathHeldByAnotherRecorderIsRefusedAndUntouched) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder first, second;
    ASSERT_TRUE(first.Open(path.c_str(), 22050, 1, 16));
    write_bytes(first, pattern(100, 1));
    const std::vector<uint8_t> before = read_file(path);
    EXPECT_FALSE(second.Open(path.c_str(), 44100, 2, 16));
    EXPECT_EQ(second.isOpen(), 0);
    EXPECT_EQ(read_file(path), before);
    second.Write("abc", 3);
    second.Close();
    EXPECT_EQ(read_file(path), before);
    write_bytes(first, pattern(50, 2));
    first.Close();
    std::vector<uint8_t> data = pattern(100, 1), more = pattern(50, 2);
    data.insert(data.end(), more.begin(), more.end());
    const std::vector<uint8_t> file = read_file(path);
    EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, 150));
    EXPECT_EQ(data_of(file), data);
    // Free again once the first has closed.
    ASSERT_TRUE(second.Open(path.c_str(), 44100, 2, 16));
    second.Close();
    EXPECT_EQ(read_file(path), expected_header(44100, 2, 16, 0));
}

#ifdef _WIN32
// These run in a second copy of this program, started by the tests below
// with the path to use in SONVALE_TEST_CHILD_PATH; they stand in for the
// forked children of the POSIX build.
const char* child_path() {
    return std::getenv("SONVALE_TEST_CHILD_PATH");
}

TEST(RecorderInAnotherProcess, OpenIsRefused) {
    if (!child_path())
        GTEST_SKIP() << "runs only in a process started by another test";
    CWaveRecorder other;
    EXPECT_FALSE(other.Open(child_path(), 8000, 1, 8));
}

TEST(RecorderInAnotherProcess, EndsAbruptlyWhileRecording) {
    if (!child_path())
        GTEST_SKIP() << "runs only in a process started by another test";
    CWaveRecorder* r = new CWaveRecorder; // never closed, never freed
    if (!r->Open(child_path(), 22050, 1, 16))
        _exit(11);
    for (uint8_t seed = 1; seed <= 3; ++seed) {
        write_bytes(*r, pattern(500, seed));
        if (seed == 2)
            r->Flush();
    }
    _exit(0); // as abrupt as a crash: no destructor, no Close
}

int in_other_process(const char* test, const std::string& path) {
    return test_support::run_this_program(std::string("RecorderInAnotherProcess.") + test,
                                          "SONVALE_TEST_CHILD_PATH", path);
}

TEST(Recorder, FullDiskChecksAreLinuxOnly) {
    GTEST_SKIP() << "a file size limit (RLIMIT_FSIZE) plays the full disk on Linux; Windows "
                    "has no such limit, and makes no full disk without administrator rights";
}
#endif

TEST(Recorder, PathHeldInThisProcessIsRefusedInAnother) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    write_bytes(r, pattern(100));
    const std::vector<uint8_t> before = read_file(path);
#ifdef _WIN32
    const int code = in_other_process("OpenIsRefused", path);
#else
    const int code = test_support::in_child([&] {
        CWaveRecorder other;
        return other.Open(path.c_str(), 8000, 1, 8) ? 1 : 0;
    });
#endif
    EXPECT_EQ(code, 0);
    EXPECT_EQ(read_file(path), before);
    r.Close();
    EXPECT_EQ(header_of(read_file(path)), expected_header(22050, 1, 16, 100));
}

TEST(Recorder, SizesClampAtTheLimit) {
    temp_dir dir;
    struct {
        uint32_t start;     // m_nDataLen set after Open
        uint32_t written;   // bytes then written
        uint32_t data_len;  // m_nDataLen before Close
        uint32_t data_size; // header
        uint32_t riff_size; // header
    } cases[] = {
        {0xFFFFFFDBu - 11u, 0, 0xFFFFFFDBu - 11u, 0xFFFFFFDBu - 11u, 0xFFFFFFF4u},
        {0xFFFFFFDBu - 5u, 4, 0xFFFFFFDAu, 0xFFFFFFDAu, 0xFFFFFFFEu},
        {0xFFFFFFDBu - 4u, 5, 0xFFFFFFDCu, 0xFFFFFFDAu, 0xFFFFFFFEu},
        {0xFFFFFFF0u, 100, 0xFFFFFFFFu, 0xFFFFFFDAu, 0xFFFFFFFEu},
        {0xFFFFFFFFu, 7, 0xFFFFFFFFu, 0xFFFFFFDAu, 0xFFFFFFFEu},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = dir.file("clamp" + std::to_string(n++) + ".wav");
        CWaveRecorder r;
        ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
        r.m_nDataLen = c.start;
        if (c.written)
            write_bytes(r, pattern(c.written));
        EXPECT_EQ(r.m_nDataLen, c.data_len) << path;
        r.Close();
        const std::vector<uint8_t> file = read_file(path);
        // Nothing the client recorded is thrown away...
        ASSERT_EQ(file.size(), 44u + c.written) << path;
        EXPECT_EQ(data_of(file), pattern(c.written));
        // ...and the sizes are clamped to whole frames, not wrapped.
        EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, c.data_size, c.riff_size)) << path;
    }
}

#ifndef _WIN32
TEST(Recorder, ABlockTheFileCannotTakeIsDroppedWhole) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    // A file size limit plays the full disk: 3 blocks of 1000 fit, the
    // fourth fits only half.
    const int code = test_support::in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {44 + 3000 + 500, 44 + 3000 + 500};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 10;
        CWaveRecorder r;
        if (!r.Open(path.c_str(), 22050, 1, 16))
            return 11;
        for (uint8_t seed = 1; seed <= 5; ++seed)
            write_bytes(r, pattern(1000, seed)); // 1-3 fit, 4 and 5 do not
        if (r.m_nDataLen != 3000)
            return 12;
        if (read_file(path).size() != 3044)
            return 13;                    // the half block was cut off again
        write_bytes(r, pattern(400, 6));  // fits: recording went on
        write_bytes(r, pattern(1000, 7)); // does not
        if (r.m_nDataLen != 3400 || !r.isOpen())
            return 14;
        r.Close();
        return 0;
    });
    ASSERT_EQ(code, 0);
    const std::vector<uint8_t> file = read_file(path);
    ASSERT_EQ(file.size(), 3444u);
    EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, 3400));
    std::vector<uint8_t> data;
    for (uint8_t seed : {1, 2, 3}) {
        const std::vector<uint8_t> b = pattern(1000, seed);
        data.insert(data.end(), b.begin(), b.end());
    }
    const std::vector<uint8_t> last = pattern(400, 6);
    data.insert(data.end(), last.begin(), last.end());
    EXPECT_EQ(data_of(file), data);
}

TEST(Recorder, OpenFailsWhenNotEvenTheHeaderFits) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    const int code = test_support::in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {20, 20};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 10;
        CWaveRecorder r;
        if (r.Open(path.c_str(), 22050, 1, 16))
            return 11;
        if (r.isOpen() || r.m_file.IsOpen())
            return 12;
        r.Write("abc", 3);
        r.Close();
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(read_file(path).empty());
}

#endif

TEST(Recorder, ACrashLosesNoBlockAndTheHeaderDescribesTheFlushedOnes) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
#ifdef _WIN32
    const int code = in_other_process("EndsAbruptlyWhileRecording", path);
#else
    const int code = test_support::in_child([&] {
        CWaveRecorder* r = new CWaveRecorder; // never closed, never freed
        if (!r->Open(path.c_str(), 22050, 1, 16))
            return 11;
        for (uint8_t seed = 1; seed <= 3; ++seed) {
            write_bytes(*r, pattern(500, seed));
            if (seed == 2)
                r->Flush();
        }
        _exit(0); // as abrupt as a crash: no destructor, no Close
    });
#endif
    EXPECT_EQ(code, 0);
    const std::vector<uint8_t> file = read_file(path);
    ASSERT_EQ(file.size(), 44u + 1500u);
    EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, 1000));
    std::vector<uint8_t> data;
    for (uint8_t seed = 1; seed <= 3; ++seed) {
        const std::vector<uint8_t> b = pattern(500, seed);
        data.insert(data.end(), b.begin(), b.end());
    }
    EXPECT_EQ(data_of(file), data);
}

TEST(Recorder, TheHeaderInTheFileFollowsBlocksThatKeepComing) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300))
        write_bytes(r, pattern(2));
    const uint32_t on_disk = le32(read_file(path), 40);
    EXPECT_GT(on_disk, 0u) << "no Flush, no Close: Write itself must bring the sizes up";
    EXPECT_LE(on_disk, r.m_nDataLen);
    r.Close();
}

// Checks one closed recording: header sizes match the file, the data is a
// run of whole blocks. Appends the blocks' sequence numbers to `seqs`.
void check_recording(const std::string& path, std::vector<uint32_t>& seqs) {
    const std::vector<uint8_t> file = read_file(path);
    ASSERT_GE(file.size(), 44u) << path;
    const uint32_t data = static_cast<uint32_t>(file.size() - 44);
    EXPECT_EQ(header_of(file), expected_header(22050, 1, 16, data)) << path;
    EXPECT_TRUE(parse_blocks(file.data() + 44, data, seqs)) << path;
}

TEST(Recorder, WriteRacingOpenAndCloseNeverSplitsABlock) {
    temp_dir dir;
    CWaveRecorder r;
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> attempted{0};
    std::thread worker([&] {
        uint32_t seq = 0;
        while (!stop.load()) {
            const std::vector<char> b = make_block(seq, 12 + (seq * 37) % 3000);
            r.Write(b.data(), static_cast<int>(b.size()));
            ++seq;
        }
        attempted = seq;
    });
    const int files = 300;
    for (int i = 0; i < files; ++i) {
        ASSERT_TRUE(r.Open(dir.file(std::to_string(i) + ".wav").c_str(), 22050, 1, 16));
        if (i % 3 == 0)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50 * (i % 7)));
        r.Close();
        std::this_thread::sleep_for(std::chrono::microseconds(20 * (i % 5)));
    }
    stop = true;
    worker.join();
    std::vector<uint32_t> seqs;
    for (int i = 0; i < files; ++i)
        check_recording(dir.file(std::to_string(i) + ".wav"), seqs);
    // Blocks appear in order, each at most once, across all the files.
    for (size_t i = 1; i < seqs.size(); ++i)
        ASSERT_LT(seqs[i - 1], seqs[i]);
    EXPECT_GT(seqs.size(), 0u);
    EXPECT_LE(seqs.size(), attempted.load());
}

TEST(Recorder, WritersOnManyThreadsNeverInterleave) {
    temp_dir dir;
    const std::string path = dir.file("a.wav");
    CWaveRecorder r;
    ASSERT_TRUE(r.Open(path.c_str(), 22050, 1, 16));
    std::vector<std::thread> writers;
    const uint32_t per_thread = 400;
    for (uint32_t t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (uint32_t k = 0; k < per_thread; ++k) {
                const uint32_t seq = t * per_thread + k;
                const std::vector<char> b = make_block(seq, 12 + (seq * 53) % 5000);
                r.Write(b.data(), static_cast<int>(b.size()));
            }
        });
    for (auto& w : writers)
        w.join();
    r.Close();
    std::vector<uint32_t> seqs;
    check_recording(path, seqs);
    ASSERT_EQ(seqs.size(), 4 * per_thread);
    EXPECT_EQ(std::set<uint32_t>(seqs.begin(), seqs.end()).size(), seqs.size());
}

} // namespace
