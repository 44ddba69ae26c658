// Allocation failures swept over the mixer: its whole life (class and flat
// functions), queueing data and queueing WAV files. Each failure gives a documented
// result, leaves no thread or descriptor behind and leaks nothing (checked
// at exit in the sanitizer build); whatever was accepted is recorded whole.
#include <gtest/gtest.h>

#include "faults/faults_common.h"
#include "stress/stress_common.h"
#include "support/failing_new.h"
#include "support/figures.h"
#include "support/riff_builder.h"
#include "support/settled_threads.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

using test_support::report_figure;

// The process's threads and descriptors once the runtime's own helpers exist.
struct resources {
    int threads = test_support::settled_thread_count();
    int fds = test_support::fd_count();
};

void expect_back_to(const resources& before) {
    EXPECT_TRUE(test_support::wait_until(
        [&] { return test_support::settled_thread_count() == before.threads; }));
    EXPECT_EQ(test_support::fd_count(), before.fds);
}

// Opens a mixer once and closes it, so that what the runtime keeps for good
// (its helper threads) exists before counting.
void warm_up() {
    CSonvale mixer;
    WAVEFORMATEX format = faults::mono16();
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
}

// An open mixer records: one item, into a file of its own.
void expect_it_records(CSonvale& mixer, const std::string& path) {
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    EXPECT_TRUE(faults::record_one(mixer, path, 77));
    mixer.m_recorder.Close();
    std::string problem;
    EXPECT_EQ(faults::recorded_items(path, problem), std::vector<uint32_t>{77});
    EXPECT_EQ(problem, "");
}

// Runs `life` on a client thread of its own and waits for it, ending the
// process should it never return. Only the client's allocations count.
template <class Life> void watched(Life life) {
    faults::exempt watcher;
    std::atomic<bool> returned{false};
    std::thread client([&] {
        life();
        returned = true;
    });
    stress::await_or_abort([&] { return returned.load(); }, "a mixer's life");
    client.join();
}

// A recording made while allocations failed: valid, and empty.
void expect_empty_recording(const std::string& path) {
    std::string problem;
    EXPECT_TRUE(faults::recorded_items(path, problem).empty());
    EXPECT_EQ(problem, "");
}

// A whole life of a mixer with each allocation failing in turn: open it,
// open a recording, close it (items under failures are the next tests').
// Whatever fails, every call returns, opening fails with a documented code
// and leaves the mixer closed, and nothing stays behind.
TEST(AllocationFailure, MixerLife) {
    warm_up();
    test_support::temp_dir dir;
    const std::string path = dir.file("a.wav");
    const resources before;
    CSonvale mixer;
    WAVEFORMATEX format = faults::mono16();
    int result = 0;
    bool recording = false;
    const long injected = faults::sweep(
        [&] {
            watched([&] {
                result = mixer.MIX_Init(&format, nullptr);
                recording = result == 0 && mixer.m_recorder.Open(path.c_str(), 22050, 1, 16);
                mixer.MIX_Close();
            });
        },
        [&](bool failed) {
            if (result != 0) {
                EXPECT_TRUE(failed);
                EXPECT_TRUE(result == -1 || result == -2 || result == -3) << result;
            }
            EXPECT_EQ(mixer.m_hThread, nullptr);
            EXPECT_EQ(mixer.m_dwThreadId, 0u);
            EXPECT_EQ(mixer.m_waveOut.m_hWaveOut, nullptr);
            if (recording)
                expect_empty_recording(path);
            expect_back_to(before);
            // The same mixer still opens and records.
            ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
            expect_it_records(mixer, dir.file("b.wav"));
            EXPECT_EQ(mixer.MIX_Close(), 0);
        });
    EXPECT_GT(injected, 0);
    report_figure("faults.alloc.mixer_life", injected);
}

// The same through the flat functions: a handle, or null and nothing open.
TEST(AllocationFailure, FlatLife) {
    warm_up();
    test_support::temp_dir dir;
    const std::string path = dir.file("a.wav");
    const resources before;
    WAVEFORMATEX format = faults::mono16();
    bool opened = false, recording = false;
    const long injected = faults::sweep(
        [&] {
            watched([&] {
                HSONVALE mixer = MIX_InitEx(&format, 4, 1024, nullptr);
                opened = mixer != nullptr;
                recording = opened && Record_Open(mixer, path.c_str(), 22050, 1, 16);
                MIX_Close(mixer);
            });
        },
        [&](bool failed) {
            EXPECT_TRUE(opened || failed);
            if (recording)
                expect_empty_recording(path);
            expect_back_to(before);
        });
    EXPECT_GT(injected, 0);
    report_figure("faults.alloc.flat_life", injected);
}

// Queues through `queue` with each allocation failing in turn; an item that
// was refused (-1) must not be recorded, one that was accepted may be lost
// only to a failed hand-over, never split or doubled.
class QueueingUnderFailures : public testing::Test {
protected:
    test_support::temp_dir dir;
    CSonvale mixer;
    const std::string path = dir.file("a.wav");
    std::vector<std::vector<char>> items;
    std::vector<uint32_t> refused;

    void SetUp() override {
        WAVEFORMATEX format = faults::mono16();
        ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
        ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
        for (uint32_t seq = 0; seq < 800; ++seq)
            items.push_back(record_test::make_block(seq, 1280));
    }

    // `queue(seq)` queues item seq and returns its result. Each attempt
    // queues a burst of items, so that the failures also reach the hand-over
    // to the worker, whose queue grows now and then.
    template <class Queue> long sweep(Queue queue, int index) {
        constexpr uint32_t burst = 8;
        uint32_t seq = 0;
        int results[burst] = {};
        const long injected = faults::sweep(
            [&] {
                for (uint32_t k = 0; k < burst; ++k)
                    results[k] = queue(seq + k);
            },
            [&](bool failed) {
                for (uint32_t k = 0; k < burst; ++k, ++seq) {
                    if (results[k] == -1) {
                        EXPECT_TRUE(failed);
                        refused.push_back(seq);
                    } else {
                        EXPECT_EQ(results[k], index);
                    }
                }
                ASSERT_LT(seq + burst, items.size());
            });
        // A last item: once it is recorded, so is everything queued before.
        EXPECT_TRUE(faults::add_stamped(mixer, 999));
        EXPECT_TRUE(test_support::wait_until([&] {
            const std::vector<uint8_t> file = test_support::read_file(path);
            std::vector<uint32_t> seqs;
            return file.size() > 44 &&
                   record_test::parse_blocks(file.data() + 44, file.size() - 44, seqs) &&
                   !seqs.empty() && seqs.back() == 999;
        }));
        mixer.m_recorder.Close();
        std::string problem;
        const std::vector<uint32_t> seqs = faults::recorded_items(path, problem);
        EXPECT_EQ(problem, "");
        for (size_t i = 1; i < seqs.size(); ++i)
            EXPECT_LT(seqs[i - 1], seqs[i]);
        for (uint32_t seq : refused)
            EXPECT_EQ(std::count(seqs.begin(), seqs.end(), seq), 0) << "refused item " << seq;
        EXPECT_EQ(mixer.MIX_Close(), 0);
        return injected;
    }
};

TEST_F(QueueingUnderFailures, AddData) {
    const long injected = sweep(
        [&](uint32_t seq) {
            const std::vector<char>& item = items[seq];
            return mixer.MIX_AddData(reinterpret_cast<const unsigned char*>(item.data()),
                                     static_cast<int>(item.size()), 4, 1, 0);
        },
        4);
    EXPECT_GE(injected, 2); // the item, its storage
    EXPECT_FALSE(refused.empty());
    report_figure("faults.alloc.add_data", injected);
}

TEST_F(QueueingUnderFailures, AddFile) {
    test_support::wav_format wav;
    wav.channels = 1;
    wav.rate = 22050;
    std::vector<std::string> files;
    for (uint32_t seq = 0; seq < items.size(); ++seq) {
        files.push_back(dir.file("in" + std::to_string(seq) + ".wav"));
        const std::vector<char>& item = items[seq];
        test_support::write_file(
            files.back(),
            test_support::wav_file(wav, test_support::bytes(item.begin(), item.end())));
    }
    const long injected =
        sweep([&](uint32_t seq) { return mixer.MIX_AddFile(files[seq].c_str(), 6); }, 6);
    EXPECT_GE(injected, 2);
    EXPECT_FALSE(refused.empty());
    report_figure("faults.alloc.add_file", injected);
}

} // namespace
