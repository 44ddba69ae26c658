// A capture into the mixer accounts for every frame: a disk that stalls the
// worker for longer than the capture's buffers hold loses frames, which
// the recording counts with their reason, and the rest is recorded whole.
#include "platform/file_writes.h"
#include "sonvale.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_stalled{false};

int64_t stalling_write(intptr_t file, const void* data, size_t len, int64_t offset) {
    while (g_stalled.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sonvale::system_file_writes().write(file, data, len, offset);
}

} // namespace

TEST(Capture, AStalledDiskLosesFramesThatAreCountedWithTheirReason) {
    test_support::temp_dir dir;
    const std::string path = dir.file("stalled.wav");
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_InitOn("silent", &format, 3, 2048, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 48000, 2, 16));
    sonvale::file_writes stalling = sonvale::system_file_writes();
    stalling.write = stalling_write;
    sonvale::install_file_writes(&stalling);
    EXPECT_EQ(mixer.MIX_StartInput("nothing of that name"), -2);
    EXPECT_NE(std::string(MIX_GetLastError()).find("no input device"), std::string::npos);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(mixer.MIX_StartInput("silent"), 0);
    EXPECT_EQ(mixer.MIX_StartInput("silent"), -1); // one at a time
    g_stalled = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2800)); // past 2 s of buffers
    g_stalled = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(mixer.MIX_StopInput(), 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(mixer.MIX_Flush(10000), 2);
    EXPECT_NE(
        std::string(MIX_GetLastError()).find("the worker did not take the captured sound in time"),
        std::string::npos)
        << MIX_GetLastError();
    SONVALE_RECORD_STATUS status{sizeof status, 0, 0, 0};
    mixer.m_recorder.GetStatus(&status);
    sonvale::install_file_writes(nullptr);
    // Every frame the device delivered is recorded or counted lost.
    const double frames = double(status.dataBytes + status.lostBytes) / 4;
    EXPECT_GT(status.lostBytes, 0u);
    EXPECT_GT(status.dataBytes, 2 * 192000u);
    EXPECT_NEAR(frames, seconds * 48000, 0.05 * 48000);
    EXPECT_EQ(status.dataBytes % 4, 0u);
}
