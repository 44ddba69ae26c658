// Recording switched on and off by the client in a tight loop for seconds
// while items stream in: every closed file is a valid WAV whose header
// describes its data, made of whole items only, and no item is split
// between files or recorded twice.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "output/ring_common.h"
#include "record/record_util.h"
#include "sonvale.h"
#include "stress/stress_common.h"
#include "support/figures.h"
#include "support/wav_readback.h"

namespace {

using namespace std::chrono_literals;
using record_test::make_block;
using record_test::parse_blocks;

// File names are reused batch after batch, so that a long run needs little
// disk; each batch is checked before its names come round again.
constexpr int files_per_batch = 256;

class RecordToggle : public testing::Test {
protected:
    test_support::temp_dir dir;
    HSONVALE mixer = nullptr;
    uint32_t next_seq = 0;
    std::vector<uint32_t> recorded_seqs;
    long long recorded_bytes = 0;

    void TearDown() override { MIX_Close(mixer); }

    std::string path_of(int file) { return dir.file(std::to_string(file) + ".wav"); }

    // Each item one whole block, stamped with its sequence number.
    void queue_items(unsigned count) {
        for (unsigned i = 0; i < count; ++i, ++next_seq) {
            const std::vector<char> item = make_block(next_seq, 1280);
            ASSERT_EQ(MIX_AddData(mixer, reinterpret_cast<const unsigned char*>(item.data()),
                                  static_cast<int>(item.size()), 1, 1),
                      1);
        }
    }

    void check_batch(int files) {
        for (int file = 0; file < files; ++file) {
            const test_support::wav_readback wav = test_support::read_wav_back(path_of(file));
            ASSERT_EQ(wav.problem, "");
            ASSERT_TRUE(parse_blocks(wav.data.data(), wav.data.size(), recorded_seqs))
                << path_of(file) << " holds something other than whole items";
            recorded_bytes += static_cast<long long>(wav.data.size());
        }
    }
};

TEST_F(RecordToggle, EveryFileIsWholeItemsEachRecordedAtMostOnce) {
    WAVEFORMATEX format = ring_test::pcm(22050, 16, 1);
    mixer = MIX_Init(&format, nullptr);
    ASSERT_NE(mixer, nullptr);
    std::mt19937 random(std::random_device{}());

    long toggles = 0;
    const auto deadline = std::chrono::steady_clock::now() + stress::scaled(3000ms);
    while (std::chrono::steady_clock::now() < deadline) {
        int files = 0;
        for (; files < files_per_batch; ++files, ++toggles) {
            ASSERT_TRUE(Record_Open(mixer, path_of(files).c_str(), 22050, 1, 16));
            queue_items(random() % 4);
            Record_Close(mixer);
            queue_items(random() % 3);
        }
        check_batch(files);
    }
    // Items came out in the order queued, each at most once across files.
    for (size_t i = 1; i < recorded_seqs.size(); ++i)
        ASSERT_LT(recorded_seqs[i - 1], recorded_seqs[i]) << "at item " << i;
    EXPECT_LE(recorded_seqs.size(), next_seq);
    EXPECT_GT(recorded_seqs.size(), 0u);
    test_support::report_figure("toggle.files_closed", toggles);
    test_support::report_figure("toggle.items_queued", next_seq);
    test_support::report_figure("toggle.bytes_recorded", recorded_bytes);
}

} // namespace
