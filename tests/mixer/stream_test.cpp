// MIX_AddStream is a byte stream: pieces of any size record exactly their
// concatenation, and a partial frame left at the end is dropped, counted
// as lost, by whatever ends the stream.
#include <gtest/gtest.h>

#include <random>

#include "mixer_support.h"
#include "output/ring_common.h"
#include "support/riff_builder.h"
#include "support/test_support.h"

namespace {

using mixer_test::bytes;
using mixer_test::operator+;

// Longer than the few MiB a stream may hold queued at once: queueing it
// waits for the worker.
constexpr size_t long_stream = (7u << 20) / 2;

struct stream_mixer {
    explicit stream_mixer(const std::string& file, WAVEFORMATEX format) : path(file), f(format) {
        mixer = MIX_Init(&f, nullptr);
        EXPECT_NE(mixer, nullptr) << MIX_GetLastError();
        EXPECT_TRUE(
            Record_Open(mixer, path.c_str(), f.nSamplesPerSec, f.nChannels, f.wBitsPerSample));
    }
    ~stream_mixer() { MIX_Close(mixer); }
    SONVALE_RECORD_STATUS status() {
        SONVALE_RECORD_STATUS s{};
        s.cbSize = sizeof s;
        EXPECT_EQ(Record_GetStatus(mixer, &s), 0);
        return s;
    }
    std::string path;
    WAVEFORMATEX f;
    HSONVALE mixer;
};

TEST(Stream, PiecesOfRandomSizesRecordTheirConcatenation) {
    const struct { uint16_t bits, channels; } formats[] = {{16, 2}, {24, 2}, {16, 6}};
    test_support::temp_dir dir;
    std::mt19937 random(18);
    for (const auto& format : formats) {
        SCOPED_TRACE(std::to_string(format.bits) + " bits, " + std::to_string(format.channels));
        const size_t frame = format.bits / 8u * format.channels;
        const bytes data = test_support::pattern(300000 / frame * frame);
        {
            stream_mixer m(dir.file("pieces.wav"),
                           ring_test::pcm(8000, format.bits, format.channels));
            std::uniform_int_distribution<size_t> piece(1, 5000);
            for (size_t at = 0; at < data.size();) {
                const size_t n = std::min(piece(random), data.size() - at);
                ASSERT_EQ(MIX_AddStream(m.mixer, data.data() + at, static_cast<int>(n), 3), 3);
                at += n;
            }
            EXPECT_EQ(MIX_Flush(m.mixer, -1), 0) << MIX_GetLastError();
            Record_Close(m.mixer);
            EXPECT_EQ(m.status().lostBytes, 0u);
        }
        EXPECT_EQ(mixer_test::recorded_data(dir.file("pieces.wav")), data);
    }
}

TEST(Stream, APartialFrameWaitsAndIsDroppedAsLostByWhatEndsTheStream) {
    const bytes six = {1, 2, 3, 4, 5, 6};
    const std::function<void(HSONVALE)> enders[] = {
        [](HSONVALE m) { Record_Close(m); },
        [](HSONVALE m) { MIX_AddData(m, nullptr, 0, 1, 1); },
        [](HSONVALE m) { MIX_AddFile(m, "no such file.wav", 1); },
    };
    test_support::temp_dir dir;
    for (const auto& end : enders) {
        stream_mixer m(dir.file("tail.wav"), ring_test::pcm(8000, 16, 2));
        // Frames of 4: 1 2 3 4 | 5 6 1 2 | and 3 4 5 left over.
        ASSERT_EQ(MIX_AddStream(m.mixer, six.data(), 6, 1), 1);
        ASSERT_EQ(MIX_AddStream(m.mixer, six.data(), 5, 1), 1);
        EXPECT_EQ(MIX_Flush(m.mixer, -1), 0) << "a partial frame is not lost yet";
        end(m.mixer);
        EXPECT_EQ(MIX_Flush(m.mixer, -1), 2);
        EXPECT_NE(std::string(MIX_GetLastError()).find("3 bytes"), std::string::npos);
        Record_Close(m.mixer);
        const SONVALE_RECORD_STATUS s = m.status();
        EXPECT_EQ(s.dataBytes, 8u);
        EXPECT_EQ(s.lostBytes, 3u);
        EXPECT_EQ(mixer_test::recorded_data(m.path), (bytes{1, 2, 3, 4, 5, 6, 1, 2}));
    }
}

TEST(Stream, LongStreamsKeepTheirPlaceAmongItemsAndRecordWhole) {
    test_support::temp_dir dir;
    const bytes item = test_support::pattern(1280, 1),
                stream = test_support::pattern(long_stream, 2),
                piece = test_support::pattern(4000, 3),
                file = test_support::pattern(long_stream, 4);
    test_support::write_file(dir.file("long.wav"), test_support::wav_file({1, 2, 8000, 16}, file));
    const std::string long_wav = dir.file("long.wav");
    const struct {
        const char* what;
        std::function<int(HSONVALE)> queue;
        const bytes& recorded;
    } steps[] = {
        {"an item", [&](HSONVALE m) { return MIX_AddData(m, item.data(), 1280, 1, 1); }, item},
        {"a long stream",
         [&](HSONVALE m) { return MIX_AddStream(m, stream.data(), long_stream, 1); }, stream},
        {"an item", [&](HSONVALE m) { return MIX_AddData(m, item.data(), 1280, 1, 1); }, item},
        {"a short stream", [&](HSONVALE m) { return MIX_AddStream(m, piece.data(), 4000, 1); },
         piece},
        {"a long file", [&](HSONVALE m) { return MIX_AddFileStream(m, long_wav.c_str(), 1); },
         file},
        {"an item", [&](HSONVALE m) { return MIX_AddData(m, item.data(), 1280, 1, 1); }, item},
    };
    bytes expected;
    {
        stream_mixer m(dir.file("order.wav"), ring_test::pcm(8000, 16, 2));
        for (const auto& step : steps) {
            EXPECT_EQ(step.queue(m.mixer), 1) << step.what << ": " << MIX_GetLastError();
            expected = expected + step.recorded;
        }
        EXPECT_EQ(MIX_Flush(m.mixer, -1), 0) << MIX_GetLastError();
        Record_Close(m.mixer);
        EXPECT_EQ(m.status().lostBytes, 0u);
    }
    EXPECT_EQ(mixer_test::recorded_data(dir.file("order.wav")), expected);
}

TEST(Stream, ClosingWithRunsQueuedKeepsWhatWasRecordedAndLosesNothing) {
    test_support::temp_dir dir;
    const std::string path = dir.file("closed.wav");
    const bytes data = test_support::pattern(long_stream);
    WAVEFORMATEX f = ring_test::pcm(8000, 16, 2);
    CSonvale mixer;
    ASSERT_EQ(mixer.MIX_Init(&f, nullptr), 0);
    ASSERT_TRUE(mixer.m_recorder.Open(path.c_str(), 8000, 2, 16));
    ASSERT_EQ(mixer.MIX_AddStream(data.data(), long_stream, 1), 1);
    mixer.MIX_Close(); // what the worker had not begun is dropped, by the client's choice
    SONVALE_RECORD_STATUS s{};
    s.cbSize = sizeof s;
    ASSERT_EQ(mixer.m_recorder.GetStatus(&s), 0);
    EXPECT_EQ(s.lostBytes, 0u);
    EXPECT_EQ(mixer_test::recorded_data(path), mixer_test::first(data, s.dataBytes));
}

TEST(Stream, AStreamedFileEndingInsideAFrameEndsInAFrameCompletedWithZeros) {
    // Past one run, and ending 2 or 4 bytes into a frame of 4 or 6.
    const struct {
        uint16_t bits;
        size_t frames, extra;
    } files[] = {{16, 300000, 2}, {24, 200000, 4}};
    test_support::temp_dir dir;
    for (const auto& file : files) {
        SCOPED_TRACE(std::to_string(file.bits) + " bits");
        const size_t frame = file.bits / 8u * 2u;
        const bytes samples = test_support::pattern(file.frames * frame + file.extra, 6);
        const std::string path = dir.file("odd.wav"),
                          out = dir.file("padded" + std::to_string(file.bits) + ".wav");
        test_support::write_file(path, test_support::wav_file({1, 2, 8000, file.bits}, samples));
        {
            stream_mixer m(out, ring_test::pcm(8000, file.bits, 2));
            EXPECT_EQ(MIX_AddFileStream(m.mixer, path.c_str(), 1), 1) << MIX_GetLastError();
            EXPECT_EQ(MIX_Flush(m.mixer, -1), 0) << MIX_GetLastError();
        }
        EXPECT_EQ(mixer_test::recorded_data(out), samples + bytes(frame - file.extra, 0));
    }
}

} // namespace
