#include "mixer/mixer_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace mixer_test;
using test_support::pattern;

// Recordings opened and closed while the worker records: every file is
// well formed and holds whole blocks only.
TEST(MixerConcurrency, RecordingsOpenAndCloseWhileTheWorkerWrites) {
    test_support::temp_dir dir;
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    const bytes block = pattern(1280, 9);
    for (int i = 0; i < 20; ++i) {
        const std::string path = dir.file("race" + std::to_string(i) + ".wav");
        ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
        for (int n = 0; n < 50; ++n)
            add(mixer, block, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200 * i));
        mixer.m_recorder.Close();
        const bytes data = recorded_data(path);
        ASSERT_EQ(data.size() % block.size(), 0u);
        for (size_t at = 0; at < data.size(); at += block.size())
            ASSERT_TRUE(std::equal(block.begin(), block.end(), data.begin() + at));
    }
    EXPECT_EQ(mixer.MIX_Close(), 0);
}

// Two mixers driven from two client threads record only their own items.
TEST(MixerConcurrency, SeparateMixersAreIndependent) {
    test_support::temp_dir dir;
    auto run = [&](int which, bytes& recorded) {
        const std::string path = dir.file("mixer" + std::to_string(which) + ".wav");
        WAVEFORMATEX format = pcm_format(16);
        CSonvale mixer;
        ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
        ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
        for (int i = 0; i < 200; ++i)
            add(mixer, pattern(100, static_cast<uint8_t>(which * 50 + i % 7)), 1);
        ASSERT_TRUE(wait_for_file_size(path, 44 + 200 * 100));
        mixer.MIX_Close();
        recorded = recorded_data(path);
    };
    bytes got[2];
    std::thread first_client(run, 0, std::ref(got[0]));
    std::thread second_client(run, 1, std::ref(got[1]));
    first_client.join();
    second_client.join();
    for (int which = 0; which < 2; ++which) {
        bytes expected;
        for (int i = 0; i < 200; ++i)
            expected = expected + pattern(100, static_cast<uint8_t>(which * 50 + i % 7));
        EXPECT_EQ(got[which], expected);
    }
}
