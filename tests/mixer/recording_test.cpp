#include "mixer/mixer_support.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace mixer_test;
using test_support::pattern;

TEST(MixerRecording, TypicalRecordingGivesTheCanonicalFile) {
    test_support::temp_dir dir;
    const std::string path = dir.file("typical.wav");
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    const bytes data = pattern(1000, 3);
    EXPECT_EQ(mixer.MIX_AddData(data.data(), 1000, 7, 1, 0), 7);
    ASSERT_TRUE(wait_for_file_size(path, 1044));
    mixer.m_recorder.Close();
    EXPECT_EQ(mixer.MIX_Close(), 0);

    const bytes file = test_support::read_file(path);
    ASSERT_EQ(file.size(), 1044u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(test_support::le32(file, 4), 1036u);
    EXPECT_EQ(test_support::le32(file, 24), 22050u);
    EXPECT_EQ(test_support::le32(file, 28), 44100u);
    EXPECT_EQ(test_support::le16(file, 32), 2u);
    EXPECT_EQ(test_support::le16(file, 34), 16u);
    EXPECT_EQ(test_support::le32(file, 40), 1000u);
    EXPECT_EQ(bytes(file.begin() + 44, file.end()), data);
}

TEST(MixerRecording, HeaderCatchesUpOnceBlocksStopComing) {
    test_support::temp_dir dir;
    const std::string path = dir.file("idle.wav");
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    const bytes data = pattern(1000, 3);
    mixer.MIX_AddData(data.data(), 1000, 7, 1, 0);
    // Neither flushed nor closed: the worker alone brings the sizes up to date.
    EXPECT_TRUE(test_support::wait_until([&] {
        const bytes file = test_support::read_file(path);
        return file.size() == 1044 && test_support::le32(file, 4) == 1036u &&
               test_support::le32(file, 40) == 1000u;
    }));
    EXPECT_EQ(mixer.MIX_Close(), 0);
}

TEST(MixerRecording, SixteenBitBlocks) {
    const bytes eight = pattern(8, 1), four = pattern(4, 2), big = pattern(4000, 3);
    const bytes thousand = pattern(1000, 4), exact = pattern(1280, 5), odd = pattern(7, 6);
    const bytes expected = eight                              // one pass
                           + repeat(eight, 3)                 // three passes
                           + repeat(four, 320)                // endless: cut at 1280
                           + first(big, 1280)                 // the 1280-byte cut
                           + thousand + first(thousand, 280)  // 1000 bytes x 3 passes
                           + exact                            // exactly 1280, 1 pass
                           + exact                            // exactly 1280, 2 passes
                           + odd + bytes{0} + odd + bytes{0}; // odd length, zero-completed
    const bytes got = record(16, expected.size(), [&](CSonvale& mixer) {
        add(mixer, eight, 1);
        add(mixer, eight, 3);
        add(mixer, four, 0);
        add(mixer, big, 1);
        add(mixer, bytes{}, 1); // no data: records nothing
        add(mixer, thousand, 3);
        add(mixer, exact, 1);
        add(mixer, exact, 2);
        add(mixer, odd, 2);
    });
    EXPECT_EQ(got, expected);
}

TEST(MixerRecording, EightBitBytesPassUnchanged) {
    bytes every_value(256);
    for (int i = 0; i < 256; ++i)
        every_value[i] = static_cast<uint8_t>(i);
    const bytes three = pattern(3, 7), big = pattern(2000, 8);
    const bytes expected = every_value + first(repeat(three, 427), 1280) + first(big, 1280);
    const bytes got = record(8, expected.size(), [&](CSonvale& mixer) {
        add(mixer, every_value, 1);
        add(mixer, three, -1);
        add(mixer, big, 1);
    });
    EXPECT_EQ(got, expected);
}

TEST(MixerRecording, TwentyFourBitBlocksStopAtWholeSamples) {
    const bytes seven = pattern(7, 9), three = pattern(3, 10), big = pattern(2000, 11);
    const bytes expected = seven + bytes{0, 0}  // last sample zero-completed
                           + repeat(three, 426) // endless: 1278 bytes
                           + first(big, 1278)   // cut at 1278
                           + repeat(pattern(6, 12), 2);
    const bytes got = record(24, expected.size(), [&](CSonvale& mixer) {
        add(mixer, seven, 1);
        add(mixer, three, 0);
        add(mixer, big, 1);
        add(mixer, pattern(6, 12), 2);
    });
    EXPECT_EQ(got, expected);
}

TEST(MixerRecording, ThirtyTwoBitBlocks) {
    const bytes four = pattern(4, 13), five = pattern(5, 14), thousand = pattern(1000, 15);
    const bytes expected =
        four + five + bytes{0, 0, 0} + repeat(four, 320) + thousand + first(thousand, 280);
    const bytes got = record(32, expected.size(), [&](CSonvale& mixer) {
        add(mixer, four, 1);
        add(mixer, five, 1);
        add(mixer, four, 0);
        add(mixer, thousand, 2);
    });
    EXPECT_EQ(got, expected);
}

TEST(MixerRecording, ItemsQueuedWhileNotRecordingAreConsumedUnrecorded) {
    test_support::temp_dir dir;
    const std::string path = dir.file("late.wav");
    WAVEFORMATEX format = pcm_format(16);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&format, nullptr), 0);
    std::atomic<int> destroyed{0};
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(post_item(mixer, new probe_item(pattern(64, 1), destroyed)));
    ASSERT_TRUE(test_support::wait_until([&] { return destroyed == 10; }));
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 22050, 1, 16));
    const bytes data = pattern(100, 2);
    add(mixer, data, 1);
    ASSERT_TRUE(wait_for_file_size(path, 144));
    mixer.MIX_Close();
    EXPECT_EQ(recorded_data(path), data);
}

// Each 16-bit sample holds its channel's number: a shifted channel shows.
bytes channel_stamped(size_t frames, uint16_t channels) {
    bytes out;
    for (size_t f = 0; f < frames; ++f)
        for (uint16_t c = 0; c < channels; ++c)
            out = out + bytes{static_cast<uint8_t>(c + 1), static_cast<uint8_t>(f)};
    return out;
}

TEST(MixerRecording, BlocksAndPassesEndOnWholeFrames) {
    const uint16_t channels = 6; // 12-byte frames: 1280 bytes is not a whole number
    const bytes long_item = channel_stamped(107, channels);              // 1284 bytes
    const bytes short_item = first(channel_stamped(84, channels), 1000); // 83 1/3 frames
    const bytes expected = first(long_item, 1272)                        // 106 frames
                           + short_item + bytes(8, 0)                    // frame completed
                           + first(long_item, 1272);                     // still in place
    const bytes got = record(
        16, expected.size(),
        [&](CSonvale& mixer) {
            add(mixer, long_item, 1);
            add(mixer, short_item, 1);
            add(mixer, long_item, 1);
        },
        channels);
    EXPECT_EQ(got, expected);
}

TEST(MixerRecording, StreamsRecordEveryByteInWholeFrames) {
    const uint16_t channels = 6;
    // Ends inside a frame: that frame waits for the stream's next bytes.
    const bytes data = first(channel_stamped(501, channels), 6004);
    const bytes got = record(
        16, 6000,
        [&](CSonvale& mixer) {
            EXPECT_EQ(mixer.MIX_AddStream(nullptr, 4, 9), -1);
            EXPECT_EQ(mixer.MIX_AddStream(data.data(), -1, 9), -1);
            EXPECT_EQ(mixer.MIX_AddStream(data.data(), static_cast<int>(data.size()), 9), 9);
        },
        channels);
    EXPECT_EQ(got, first(data, 6000));
}

// Record_Close without a flush and at once another recording: the second
// holds only what was queued for it, and what the first could not write is
// counted as its loss as it closes. Repeated, for the overlap depends on the
// worker's pace (it used to let the first's items into the second).
TEST(MixerRecording, ARecordingHoldsOnlyWhatWasQueuedForIt) {
    test_support::temp_dir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    WAVEFORMATEX format = pcm_format(16);
    HSONVALE mixer = MIX_Init(&format, nullptr);
    ASSERT_NE(mixer, nullptr);
    const bytes mine = pattern(1280, 1), theirs = pattern(1280, 2);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (int trial = 0; trial < 50 && std::chrono::steady_clock::now() < until; ++trial) {
        SCOPED_TRACE(trial);
        ASSERT_TRUE(Record_Open(mixer, a.c_str(), 22050, 1, 16));
        for (int i = 0; i < 3000; ++i)
            MIX_AddData(mixer, theirs.data(), 1280, i, 1);
        Record_Close(mixer);
        SONVALE_RECORD_STATUS first{sizeof first, 0, 0, 0};
        ASSERT_EQ(Record_GetStatus(mixer, &first), 0);
        EXPECT_EQ(first.dataBytes + first.lostBytes, 3000u * 1280);
        EXPECT_EQ(recorded_data(a), repeat(theirs, first.dataBytes / 1280));

        ASSERT_TRUE(Record_Open(mixer, b.c_str(), 22050, 1, 16));
        for (int i = 0; i < 10; ++i)
            MIX_AddData(mixer, mine.data(), 1280, i, 1);
        EXPECT_EQ(MIX_Flush(mixer, -1), 0) << MIX_GetLastError();
        Record_Close(mixer);
        ASSERT_EQ(recorded_data(b), repeat(mine, 10));
    }
    EXPECT_EQ(MIX_Close(mixer), 0);
}
