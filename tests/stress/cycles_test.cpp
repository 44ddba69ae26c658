// Thousands of mixer open/close cycles, through the class and through the
// flat functions, each closing with a recording open and items still queued:
// every recording is whole, and afterwards the process has the threads and
// descriptors it had before (the sanitizer build adds: nothing leaked).
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <set>
#include <string>

#include "output/ring_common.h"
#include "record/record_util.h"
#include "sonvale.h"
#include "stress/stress_common.h"
#include "support/figures.h"
#include "support/settled_threads.h"
#include "support/wav_readback.h"

namespace {

using record_test::make_block;
using record_test::parse_blocks;

constexpr int items_per_cycle = 6;
constexpr uint32_t item_bytes = 1280; // one whole block each

// One face for both ways of driving a mixer.
class cycle_driver {
public:
    virtual ~cycle_driver() = default;
    virtual bool open(WAVEFORMATEX& format) = 0;
    virtual bool record(const std::string& path) = 0;
    virtual int add(const std::vector<char>& item, int index) = 0;
    virtual int close() = 0;
};

// The class: one mixer opened again and again, replaced now and then so that
// its destructor takes part too.
class class_driver : public cycle_driver {
public:
    bool open(WAVEFORMATEX& format) override {
        if (!m_mixer || ++m_opens % 16 == 0)
            m_mixer = std::make_unique<CSonvale>();
        return m_mixer->MIX_Init(&format, nullptr) == 0;
    }
    bool record(const std::string& path) override {
        return m_mixer->m_recorder.Open(path.c_str(), 22050, 1, 16);
    }
    int add(const std::vector<char>& item, int index) override {
        return m_mixer->MIX_AddData(reinterpret_cast<const unsigned char*>(item.data()),
                                    static_cast<int>(item.size()), index, 1, 0);
    }
    int close() override { return m_mixer->MIX_Close(); }

private:
    std::unique_ptr<CSonvale> m_mixer;
    long m_opens = 0;
};

// The flat functions: a new handle every cycle.
class flat_driver : public cycle_driver {
public:
    bool open(WAVEFORMATEX& format) override {
        m_mixer = MIX_Init(&format, nullptr);
        return m_mixer != nullptr;
    }
    bool record(const std::string& path) override {
        return Record_Open(m_mixer, path.c_str(), 22050, 1, 16);
    }
    int add(const std::vector<char>& item, int index) override {
        return MIX_AddData(m_mixer, reinterpret_cast<const unsigned char*>(item.data()),
                           static_cast<int>(item.size()), index, 1);
    }
    int close() override {
        const int result = MIX_Close(m_mixer);
        m_mixer = nullptr;
        return result;
    }

private:
    HSONVALE m_mixer = nullptr;
};

// The recording of one cycle: a valid WAV holding whole items of this
// cycle, in the order queued, from its first on (the mixer stops after the
// item in progress and drops the rest). Returns its data bytes.
size_t check_cycle_recording(const std::string& path, uint32_t first_seq) {
    const test_support::wav_readback wav = test_support::read_wav_back(path);
    EXPECT_EQ(wav.problem, "");
    std::vector<uint32_t> seqs;
    EXPECT_TRUE(parse_blocks(wav.data.data(), wav.data.size(), seqs)) << path;
    EXPECT_LE(seqs.size(), static_cast<size_t>(items_per_cycle)) << path;
    for (size_t i = 0; i < seqs.size(); ++i)
        EXPECT_EQ(seqs[i], first_seq + i) << path;
    return wav.data.size();
}

class Cycles : public testing::TestWithParam<std::string> {
protected:
    std::unique_ptr<cycle_driver> make_driver() {
        if (GetParam() == "flat")
            return std::make_unique<flat_driver>();
        return std::make_unique<class_driver>();
    }
};

TEST_P(Cycles, InitAndCloseWithItemsInFlightAndARecordingOpen) {
    test_support::temp_dir dir;
    std::unique_ptr<cycle_driver> driver = make_driver();
    WAVEFORMATEX format = ring_test::pcm(22050, 16, 1);
    // One cycle first, so that the runtime's own threads and descriptors
    // exist before counting.
    ASSERT_TRUE(driver->open(format));
    ASSERT_EQ(driver->close(), 0);
    const int threads = test_support::settled_thread_count();
    const int fds = test_support::fd_count();

    const long cycles = stress::scaled(2000, 50);
    uint32_t seq = 0;
    long long recorded = 0;
    for (long cycle = 0; cycle < cycles; ++cycle) {
        const std::string path = dir.file(std::to_string(cycle % 8) + ".wav");
        ASSERT_TRUE(driver->open(format)) << "cycle " << cycle;
        ASSERT_TRUE(driver->record(path)) << "cycle " << cycle;
        const uint32_t first = seq;
        for (int i = 0; i < items_per_cycle; ++i, ++seq)
            ASSERT_EQ(driver->add(make_block(seq, item_bytes), i + 1), i + 1);
        ASSERT_EQ(driver->close(), 0) << "cycle " << cycle;
        recorded += static_cast<long long>(check_cycle_recording(path, first));
        if (HasFailure())
            FAIL() << "cycle " << cycle;
    }
    EXPECT_TRUE(test_support::wait_until([&] {
        return test_support::settled_thread_count() == threads;
    })) << test_support::settled_thread_count()
        << " threads, " << threads << " before";
    EXPECT_EQ(test_support::fd_count(), fds);
    test_support::report_figure("cycles." + GetParam(), cycles);
    test_support::report_figure("cycles.bytes_recorded", recorded);
}

INSTANTIATE_TEST_SUITE_P(Apis, Cycles, testing::Values("class", "flat"),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

// A closed handle's address is not handed to a new mixer while the next
// MIX_MIXER_QUARANTINE mixers close, so no stale handle reaches one.
TEST(FlatCycles, StaleHandlesNeverReachANewMixer) {
    WAVEFORMATEX f = ring_test::pcm(22050, 16, 1);
    const unsigned char data[4] = {};
    std::deque<HSONVALE> closed; // the most recent, oldest first
    std::set<HSONVALE> recent;
    const long cycles = stress::scaled(10000, 2 * MIX_MIXER_QUARANTINE);
    for (long cycle = 0; cycle < cycles; ++cycle) {
        HSONVALE h = MIX_Init(&f, nullptr);
        ASSERT_NE(h, nullptr) << MIX_GetLastError();
        ASSERT_EQ(recent.count(h), 0u) << "cycle " << cycle << " reused a recent address";
        if (!closed.empty()) { // the oldest and the newest stale handle
            ASSERT_EQ(MIX_AddData(closed.front(), data, 4, 1, 1), -1) << "cycle " << cycle;
            ASSERT_EQ(MIX_AddData(closed.back(), data, 4, 1, 1), -1) << "cycle " << cycle;
        }
        ASSERT_EQ(MIX_Close(h), 0);
        closed.push_back(h);
        recent.insert(h);
        if (closed.size() > MIX_MIXER_QUARANTINE) {
            recent.erase(closed.front());
            closed.pop_front();
        }
    }
    test_support::report_figure("cycles.stale_handles_refused", cycles);
}

} // namespace
