// What a mixer's recording holds for other readers (libsndfile) when its
// process is killed, and how a float mixer's recording is labelled.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sndfile.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "sonvale.h"
#include "support/test_support.h"

namespace {

using bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr size_t block = 1280;

// A block whose every 32-bit word is its number: a misplaced or partial
// block shows.
bytes stamped(uint32_t n) {
    bytes b(block);
    for (size_t i = 0; i < block; i += 4)
        std::memcpy(&b[i], &n, 4);
    return b;
}

// What the recording child tells the test, through shared memory.
struct progress {
    std::atomic<uint32_t> queued;
    std::atomic<uint32_t> flushed;
};

// Records stamped blocks until killed: `burst` at once followed by a
// MIX_Flush when `burst` is non-zero, then one block a millisecond.
[[noreturn]] void record_until_killed(const std::string& path, uint32_t burst, progress& p) {
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    HSONVALE mixer = MIX_Init(&format, nullptr);
    if (!mixer || !Record_Open(mixer, path.c_str(), 22050, 1, 16))
        _exit(1);
    for (uint32_t n = 0;; ++n) {
        const bytes b = stamped(n);
        MIX_AddData(mixer, b.data(), static_cast<int>(block), 1, 1);
        p.queued = n + 1;
        if (n + 1 == burst && MIX_Flush(mixer, -1) == 0)
            p.flushed = burst;
        if (n + 1 >= burst)
            std::this_thread::sleep_for(1ms);
    }
}

// The data of the killed recording as libsndfile reads it, in whole blocks
// numbered from 0; the count of such blocks, or -1 with a failure noted.
long readable_blocks(const std::string& path) {
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf) {
        ADD_FAILURE() << "libsndfile: " << sf_strerror(nullptr);
        return -1;
    }
    bytes data(static_cast<size_t>(info.frames) * 2);
    const sf_count_t read = sf_read_raw(sf, data.data(), static_cast<sf_count_t>(data.size()));
    sf_close(sf);
    EXPECT_EQ(read, static_cast<sf_count_t>(data.size()));
    EXPECT_EQ(data.size() % block, 0u) << "a partial block is readable";
    for (size_t at = 0; at + block <= data.size(); at += block)
        if (!std::equal(data.begin() + at, data.begin() + at + block,
                        stamped(static_cast<uint32_t>(at / block)).begin())) {
            ADD_FAILURE() << "block " << at / block << " is not the one queued";
            return -1;
        }
    return static_cast<long>(data.size() / block);
}

// Starts a recording child, lets `ready` decide when the blocks it promises
// are on their way (returning how many), waits `settle`, kills the child and
// checks that at least the promised blocks are readable.
template <class Ready>
void kill_and_read(uint32_t burst, Ready ready, std::chrono::milliseconds settle) {
    test_support::temp_dir dir;
    const std::string path = dir.file("killed.wav");
    void* shared =
        mmap(nullptr, sizeof(progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    progress* p = new (shared) progress{};
    const pid_t child = fork();
    if (child == 0)
        record_until_killed(path, burst, *p);
    uint32_t promised = 0;
    const bool started = test_support::wait_until([&] { return (promised = ready(*p)) > 0; });
    std::this_thread::sleep_for(settle);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(started) << "the child never got going";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended before it was killed";
    EXPECT_GE(readable_blocks(path), static_cast<long>(promised));
    munmap(shared, sizeof(progress));
}

TEST(KilledRecording, KeepsEverythingFlushed) {
    kill_and_read(
        3000, [](progress& p) { return p.flushed.load(); }, 0ms);
}

TEST(KilledRecording, KeepsWhatWasWrittenAQuarterSecondBeforeTheKill) {
    // Blocks queued 400 ms before the kill were written well over 250 ms
    // before it: the worker keeps up with one block a millisecond.
    kill_and_read(
        0, [](progress& p) { return p.queued >= 500 ? p.queued.load() : 0u; }, 400ms);
}

TEST(FloatMixer, RecordingReadsBackAsFloat) {
    test_support::temp_dir dir;
    const std::string path = dir.file("float.wav");
    WAVEFORMATEX format = {WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 384000, 8, 32, 0};
    HSONVALE mixer = MIX_Init(&format, nullptr);
    ASSERT_NE(mixer, nullptr);
    ASSERT_TRUE(Record_Open(mixer, path.c_str(), 48000, 2, 32));
    std::vector<float> samples(300);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(i) / 300.0f - 0.5f;
    MIX_AddData(mixer, reinterpret_cast<const unsigned char*>(samples.data()),
                static_cast<int>(samples.size() * sizeof(float)), 1, 1);
    EXPECT_EQ(MIX_Flush(mixer, -1), 0);
    Record_Close(mixer);
    EXPECT_EQ(MIX_Close(mixer), 0);

    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> back(samples.size() + 2); // room for one frame more than queued
    EXPECT_EQ(sf_read_float(sf, back.data(), static_cast<sf_count_t>(back.size())),
              static_cast<sf_count_t>(samples.size()));
    sf_close(sf);
    back.resize(samples.size());
    EXPECT_EQ(back, samples);
}

} // namespace
