#include "mixer/mixer_support.h"
#include "output/ring_common.h"
#include "platform/inbox.h"
#include "support/settled_threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace mixer_test;
using test_support::pattern;

namespace {

bool mixer_is_closed(const CSonvale& mixer) {
    return mixer.m_hThread == nullptr && mixer.m_dwThreadId == 0 &&
           mixer.m_waveOut.m_hWaveOut == nullptr && mixer.m_bStop;
}

// Destroying an item with this marks `held` and then waits until `release`
// holds: the worker stays there, that item's block handed to the recorder
// and the next item not yet taken.
std::function<void()> hold_worker(std::atomic<bool>& held, std::function<bool()> release) {
    return [&held, release] {
        held = true;
        test_support::wait_until(release, 30);
    };
}

} // namespace

TEST(MixerLifecycle, OpenCloseLeavesNoThreadBehind) {
    const int threads_before = test_support::settled_thread_count();
    CSonvale never_opened;
    EXPECT_EQ(never_opened.MIX_Close(), 0);
    EXPECT_TRUE(mixer_is_closed(never_opened));

    WAVEFORMATEX format = pcm_format(16);
    for (int round = 0; round < 3; ++round) {
        CSonvale mixer;
        ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
        EXPECT_NE(mixer.m_hThread, nullptr);
        EXPECT_NE(mixer.m_dwThreadId, 0u);
        EXPECT_FALSE(mixer.m_bStop);
        EXPECT_EQ(mixer.MIX_Close(), 0);
        EXPECT_TRUE(mixer_is_closed(mixer));
        EXPECT_EQ(mixer.MIX_Close(), 0);
    }
    {
        CSonvale destroyed_open;
        ASSERT_EQ(destroyed_open.MIX_Init(&format, nullptr), 0);
    }
    EXPECT_TRUE(test_support::threads_settle_to(threads_before));
}

TEST(MixerLifecycle, InitRefusalsOpenNothing) {
    const int threads_before = test_support::settled_thread_count();
    CSonvale mixer;
    EXPECT_EQ(mixer.MIX_Init(nullptr, nullptr), -1);
    EXPECT_TRUE(mixer_is_closed(mixer));
    WAVEFORMATEX format = pcm_format(16);
    EXPECT_EQ(mixer.MIX_InitEx(nullptr, 3, 2048, nullptr), -1);
    EXPECT_EQ(mixer.MIX_InitEx(&format, 0, 2048, nullptr), -1);
    EXPECT_TRUE(mixer_is_closed(mixer));
    EXPECT_EQ(mixer.MIX_InitEx(&format, 3, 0, nullptr), -1);
    EXPECT_TRUE(mixer_is_closed(mixer));
    WAVEFORMATEX no_channels = pcm_format(16, 0);
    EXPECT_EQ(mixer.MIX_InitEx(&no_channels, 3, 2048, nullptr), -2);
    EXPECT_TRUE(mixer_is_closed(mixer));
    EXPECT_TRUE(test_support::threads_settle_to(threads_before));

    // A refused open of an open mixer leaves it closed too.
    ASSERT_EQ(mixer.MIX_InitEx(&format, 3, 2048, nullptr), 0);
    EXPECT_EQ(mixer.MIX_Init(nullptr, nullptr), -1);
    EXPECT_TRUE(mixer_is_closed(mixer));
    EXPECT_TRUE(test_support::threads_settle_to(threads_before));
}

TEST(MixerLifecycle, AddDataChecksItsArguments) {
    const bytes data = pattern(16);
    CSonvale never_opened;
    EXPECT_EQ(never_opened.MIX_AddData(data.data(), 16, 3, 1, 0), 3); // dropped, not leaked
    EXPECT_EQ(never_opened.MIX_AddData(data.data(), -1, 3, 1, 0), -1);
    EXPECT_EQ(never_opened.MIX_AddData(nullptr, 16, 3, 1, 0), -1);
    EXPECT_EQ(never_opened.MIX_AddData(nullptr, 0, 3, 1, 0), 3);
    EXPECT_EQ(never_opened.MIX_AppendData(data.data(), 16, 3), 0);
    EXPECT_EQ(never_opened.MIX_Remove(3), 0);
    EXPECT_EQ(never_opened.MIX_Clear(), 0);
    EXPECT_EQ(never_opened.MIX_Pause(), -1);
    EXPECT_EQ(never_opened.MIX_Restart(), -1);
}

TEST(MixerLifecycle, CloseFinishesTheItemInProgressAndDropsTheRest) {
    test_support::temp_dir dir;
    const std::string path = dir.file("stop.wav");
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    std::atomic<int> destroyed{0};
    std::atomic<bool> held{false};
    const bytes in_progress = pattern(100, 1);
    auto stopping = [&] { return mixer.m_bStop.load(); };
    ASSERT_TRUE(
        post_item(mixer, new probe_item(in_progress, destroyed, hold_worker(held, stopping))));
    ASSERT_TRUE(test_support::wait_until([&] { return held.load(); }));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(post_item(mixer, new probe_item(pattern(50, 2), destroyed)));
    add(mixer, pattern(60, 3), 1);
    EXPECT_EQ(mixer.MIX_Close(), 0);
    EXPECT_EQ(destroyed, 6);
    EXPECT_FALSE(mixer.m_recorder.isOpen());
    EXPECT_EQ(recorded_data(path), in_progress);
}

TEST(MixerLifecycle, InitOnAnOpenMixerFinishesItsRecordingAndStartsAfresh) {
    test_support::temp_dir dir;
    const std::string first_path = dir.file("first.wav"), second_path = dir.file("second.wav");
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(first_path.c_str(), 22050, 1, 16));
    std::atomic<int> destroyed{0};
    std::atomic<bool> held{false};
    const bytes in_progress = pattern(40, 4);
    auto stopping = [&] { return mixer.m_bStop.load(); };
    ASSERT_TRUE(
        post_item(mixer, new probe_item(in_progress, destroyed, hold_worker(held, stopping))));
    ASSERT_TRUE(test_support::wait_until([&] { return held.load(); }));
    ASSERT_TRUE(post_item(mixer, new probe_item(pattern(30, 5), destroyed)));
    const uint32_t old_worker = mixer.m_dwThreadId;

    WAVEFORMATEX format32 = pcm_format(32);
    ASSERT_EQ(mixer.MIX_Init(&format32, nullptr), 0);
    EXPECT_EQ(destroyed, 2);
    EXPECT_FALSE(mixer.m_recorder.isOpen());
    EXPECT_EQ(recorded_data(first_path), in_progress);
    EXPECT_NE(mixer.m_dwThreadId, old_worker);
    EXPECT_FALSE(sonvale::inbox_post(old_worker, MIXMSG_STOP, 0));

    ASSERT_TRUE(mixer.m_recorder.Open(second_path.c_str(), 22050, 1, 32));
    const bytes five = pattern(5, 6);
    add(mixer, five, 1);
    ASSERT_TRUE(wait_for_file_size(second_path, 52));
    mixer.MIX_Close();
    EXPECT_EQ(recorded_data(second_path), five + bytes({0, 0, 0}));
}

TEST(MixerLifecycle, AppendDataQueuesOnlyWhileRecording) {
    test_support::temp_dir dir;
    const std::string path = dir.file("append.wav");
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_InitEx(&format, 4, 4096, nullptr), 0);
    const bytes data = pattern(200, 7);
    EXPECT_EQ(mixer.MIX_AppendData(data.data(), 200, 9), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    EXPECT_EQ(mixer.MIX_AppendData(nullptr, 200, 9), 0);
    EXPECT_EQ(mixer.MIX_AppendData(data.data(), -1, 9), 0);

    // Held at the end of the probe, the worker takes the appended item out
    // of its own inbox so that the item can be looked at.
    std::atomic<int> destroyed{0};
    std::atomic<bool> held{false}, appended{false};
    sonvale::inbox_message taken{};
    auto take_appended = [&, hold = hold_worker(held, [&] { return appended.load(); })] {
        hold();
        sonvale::inbox_take(taken);
    };
    ASSERT_TRUE(post_item(mixer, new probe_item(pattern(2), destroyed, take_appended)));
    ASSERT_TRUE(test_support::wait_until([&] { return held.load(); }));
    EXPECT_EQ(mixer.MIX_AppendData(data.data(), 200, 9), 9);
    appended = true;
    ASSERT_TRUE(test_support::wait_until([&] { return destroyed == 1; }));
    ASSERT_EQ(taken.code, static_cast<uint32_t>(MIXMSG_DATA));
    CWaveData* item = reinterpret_cast<CWaveData*>(taken.payload);
    EXPECT_EQ(item->m_nFirstAllowPlayLen, 20480u);
    EXPECT_EQ(item->m_nLoop, 1);
    EXPECT_EQ(item->m_nIndex, 9);
    EXPECT_EQ(bytes(item->m_pBuff, item->m_pBuff + item->m_nLen), (data));
    delete item;

    EXPECT_EQ(mixer.MIX_AppendData(data.data(), 200, 0), 0); // queued, but index 0
    ASSERT_TRUE(wait_for_file_size(path, 44 + 2 + 200));
    mixer.MIX_Close();
    EXPECT_EQ(recorded_data(path), pattern(2) + data);
}

// A worker that cannot take the format's samples ends at once: it records
// nothing, destroys what reached it, and later posts fail.
TEST(MixerLifecycle, UnsupportedSampleWidthEndsTheWorker) {
    // Only the virtual device opens these formats.
    ring_test::backend_scope device(sonvale::wave_backend::virtual_device);
    const int threads_before = test_support::settled_thread_count();
    for (WAVEFORMATEX format : {format_with_tag(0x11, 4, 256), format_with_tag(3, 64, 8)}) {
        test_support::temp_dir dir;
        const std::string path = dir.file("none.wav");
        CSonvale mixer;
        ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
        ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
        std::atomic<int> destroyed{0};
        for (int i = 0; i < 20; ++i)
            post_item(mixer, new probe_item(pattern(64), destroyed));
        ASSERT_TRUE(test_support::wait_until(
            [&] { return !sonvale::inbox_post(mixer.m_dwThreadId, MIXMSG_STOP, 0); }));
        const bytes data = pattern(64);
        EXPECT_EQ(mixer.MIX_AddData(data.data(), 64, 4, 1, 0), 4);
        EXPECT_EQ(mixer.MIX_AppendData(data.data(), 64, 4), 4);
        EXPECT_EQ(mixer.MIX_Close(), 0);
        EXPECT_EQ(destroyed, 20);
        EXPECT_EQ(recorded_data(path), bytes{});
    }
    EXPECT_TRUE(test_support::threads_settle_to(threads_before));
}
