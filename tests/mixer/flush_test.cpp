#include "mixer/mixer_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

using namespace mixer_test;
using test_support::pattern;

TEST(MixerFlush, KeepsEveryItemOfABurstBeforeClose) {
    test_support::temp_dir dir;
    const std::string path = dir.file("burst.wav");
    WAVEFORMATEX format = pcm_format(16);
    HSONVALE mixer = MIX_Init(&format, nullptr);
    ASSERT_NE(mixer, nullptr);
    ASSERT_TRUE(Record_Open(mixer, path.c_str(), 22050, 1, 16));
    const int items = 50000;
    bytes expected;
    for (int i = 0; i < items; ++i) {
        const uint8_t stamp[4] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0x5A};
        MIX_AddData(mixer, stamp, 4, i, 1);
        expected.insert(expected.end(), stamp, stamp + 4);
    }
    EXPECT_EQ(MIX_Flush(mixer, -1), 0);
    EXPECT_EQ(MIX_Close(mixer), 0);
    EXPECT_EQ(recorded_data(path), expected);
}

TEST(MixerFlush, TimesOutWhileTheWorkerIsBusyAndDropsNothing) {
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    EXPECT_EQ(mixer.MIX_Flush(0), 0) << "a mixer never opened has nothing pending";
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    EXPECT_EQ(mixer.MIX_Flush(0), 0);
    // An item that holds the worker until released.
    std::mutex lock;
    std::condition_variable changed;
    bool released = false;
    std::atomic<int> destroyed{0};
    ASSERT_TRUE(post_item(mixer, new probe_item(pattern(4), destroyed, [&] {
                              std::unique_lock<std::mutex> hold(lock);
                              changed.wait(hold, [&] { return released; });
                          })));
    add(mixer, pattern(4), 1);
    EXPECT_EQ(mixer.MIX_Flush(0), 1);
    EXPECT_EQ(mixer.MIX_Flush(30), 1);
    {
        std::lock_guard<std::mutex> guard(lock);
        released = true;
    }
    changed.notify_all();
    EXPECT_EQ(mixer.MIX_Flush(-1), 0);
    mixer.MIX_Close();
    EXPECT_EQ(mixer.MIX_Flush(0), 0) << "a closed mixer has nothing pending";
}
