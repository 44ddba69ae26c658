// The ALSA output device, on the user's "default" PCM (see
// support/device_probe.h for where these tests run; what every device does is
// proved in device/wave_device_contract_test.cpp). Under the ALSA test
// step what it plays is recorded back from the null sink's monitor.
#include "support/device_probe.h"
#include "support/settled_threads.h"
#include "support/test_support.h"
#include "support/wav_readback.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

using namespace sonvale;
using test_support::device_kind;
using test_support::device_probe;
using test_support::wait_until;
using test_support::wave_format;
using clock_type = std::chrono::steady_clock;

namespace {

const WAVEFORMATEX k_cd = wave_format(WAVE_FORMAT_PCM, 2, 44100, 16);

// Queues `seconds` of silence in buffers of `buffer_seconds`.
std::vector<WAVEHDR*> play_silence(device_probe& out, const WAVEFORMATEX& format, double seconds,
                                   double buffer_seconds) {
    const size_t bytes = size_t(format.nSamplesPerSec * buffer_seconds) * format.nBlockAlign;
    std::vector<WAVEHDR*> queued;
    for (size_t i = 0; i < size_t(seconds / buffer_seconds + 0.5); ++i)
        queued.push_back(out.play(uint32_t(bytes)));
    return queued;
}

// Records the default capture device as 16-bit stereo at 44100 Hz, the null
// sink's own format, on a thread of its own. An overrun (the capture fell
// behind, on a busy machine) loses frames that the device did play: it is
// counted, so that a test can tell it from a frame the device lost.
class recorder {
public:
    ~recorder() {
        stop();
        if (m_pcm)
            snd_pcm_close(m_pcm);
    }

    bool start() {
        if (snd_pcm_open(&m_pcm, "default", SND_PCM_STREAM_CAPTURE, 0) < 0) {
            m_pcm = nullptr;
            return false;
        }
        // Half a second: a longer buffer delivers in longer periods, and the
        // last of what was played would come after the capture stopped.
        if (snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2,
                               44100, 1, 500000) < 0)
            return false;
        m_thread = std::thread([this] { run(); });
        return true;
    }

    std::vector<int16_t> stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_samples;
    }

    int overruns() const { return m_overruns; }

private:
    void run() {
        std::vector<int16_t> block(2 * 1024);
        while (!m_stop) {
            const snd_pcm_sframes_t frames = snd_pcm_readi(m_pcm, block.data(), 1024);
            if (frames == -EPIPE)
                ++m_overruns;
            if (frames < 0 && snd_pcm_recover(m_pcm, int(frames), 1) < 0) {
                ++m_overruns; // what follows is not heard
                return;
            }
            if (frames > 0)
                m_samples.insert(m_samples.end(), block.begin(), block.begin() + 2 * frames);
        }
    }

    snd_pcm_t* m_pcm = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::vector<int16_t> m_samples;
    std::atomic<int> m_overruns{0};
};

// Frame i of the test signal: never silent, and different from its
// neighbours, so a lost, repeated or shifted byte shows.
int16_t ramp(size_t frame) {
    return int16_t(1 + frame % 32000);
}

// `frames` of the ramp on the left and its negation on the right, as stereo
// samples of `bytes` bytes (the ramp in the top two).
std::vector<char> stereo_ramp(size_t frames, size_t bytes) {
    std::vector<char> out(frames * 2 * bytes);
    for (size_t i = 0; i < frames; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            const uint16_t value = uint16_t(channel == 0 ? ramp(i) : -ramp(i));
            char* sample = &out[(2 * i + size_t(channel)) * bytes];
            sample[bytes - 2] = char(value & 0xff);
            sample[bytes - 1] = char(value >> 8);
        }
    }
    return out;
}

// Expects the captured frames that are not silence to be the ramp's first
// `frames`, each sample within `tolerance`.
void expect_ramp(const std::vector<int16_t>& captured, size_t frames, int tolerance) {
    std::vector<size_t> sounding;
    for (size_t i = 0; i + 1 < captured.size(); i += 2)
        if (captured[i] != 0 || captured[i + 1] != 0)
            sounding.push_back(i);
    ASSERT_EQ(sounding.size(), frames);
    for (size_t n = 0; n < frames; ++n) {
        const int left = captured[sounding[n]];
        const int right = captured[sounding[n] + 1];
        if (std::abs(left - ramp(n)) > tolerance || std::abs(right + ramp(n)) > tolerance) {
            ADD_FAILURE() << "frame " << n << " is " << left << "/" << right << ", not " << ramp(n);
            return;
        }
    }
}

class AlsaDevice : public ::testing::Test {
protected:
    void SetUp() override { test_support::skip_unless_device_plays(wave_backend::alsa); }
};

TEST_F(AlsaDevice, RefusesFormatsItCannotPlayAndLeavesNothingOpen) {
    const int threads = test_support::settled_thread_count();
    const int fds = test_support::fd_count();
    WAVEFORMATEX odd_block = k_cd;
    odd_block.nBlockAlign = 3;
    WAVEFORMATEX odd_rate = k_cd;
    odd_rate.nAvgBytesPerSec = 1000;
    std::vector<WAVEFORMATEX> refused = {wave_format(WAVE_FORMAT_PCM, 1, 8000, 12),
                                         wave_format(0x11, 1, 8000, 4),
                                         wave_format(WAVE_FORMAT_PCM, 0, 8000, 16),
                                         odd_block,
                                         odd_rate,
                                         wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 16)};
    if (test_support::null_sink_expected()) // formats only the sink refuses
        refused.insert(refused.end(), {wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 64),
                                       wave_format(WAVE_FORMAT_PCM, 64, 44100, 16)});
    for (const WAVEFORMATEX& format : refused) {
        device_probe out;
        EXPECT_EQ(out.open(device_kind::alsa, format), WAVE_ERR_BADFORMAT)
            << format.wFormatTag << "/" << format.nChannels << "/" << format.wBitsPerSample;
        EXPECT_EQ(out.device(), nullptr);
    }
    EXPECT_TRUE(test_support::threads_settle_to(threads));
    EXPECT_EQ(test_support::fd_count(), fds);
}

TEST_F(AlsaDevice, PlaysEveryCommonFormat) {
    for (const WAVEFORMATEX& format :
         {wave_format(WAVE_FORMAT_PCM, 1, 8000, 8), wave_format(WAVE_FORMAT_PCM, 2, 48000, 24),
          wave_format(WAVE_FORMAT_PCM, 2, 44100, 32),
          wave_format(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32)}) {
        device_probe out;
        ASSERT_EQ(out.open(device_kind::alsa, format), WAVE_OK)
            << format.wFormatTag << "/" << format.wBitsPerSample;
        // About a second in the ring's default buffer size, which splits
        // 24-bit frames.
        const size_t count = format.nAvgBytesPerSec / 2048 + 1;
        const auto start = clock_type::now();
        for (size_t i = 0; i < count; ++i)
            out.play(2048);
        ASSERT_TRUE(out.wait_returned(count, 10));
        const double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        const double audio = double(count) * 2048 / format.nAvgBytesPerSec;
        // Taken at the device's pace, less what its buffer holds.
        EXPECT_GT(seconds, audio - 0.3) << format.wBitsPerSample;
        EXPECT_LT(seconds, audio + 2.0) << format.wBitsPerSample;
    }
}

// What the device plays, recorded back from the null sink's monitor.
class AlsaDeviceOnNullSink : public AlsaDevice {
protected:
    void SetUp() override {
        AlsaDevice::SetUp();
        if (!IsSkipped() && !HasFatalFailure() && !test_support::null_sink_expected())
            GTEST_SKIP() << "the default capture device is not known to hear the default sink";
    }

    // Plays `bytes` and checks that the capture holds the ramp's first
    // `frames`, exactly. A capture that overran cannot tell, so it is tried
    // again; one that overruns every time skips the test, saying so.
    void expect_played(const WAVEFORMATEX& format, const std::vector<char>& bytes,
                       const std::vector<size_t>& lengths, size_t gap_at, size_t frames) {
        constexpr int k_attempts = 4;
        for (int attempt = 1; attempt <= k_attempts; ++attempt) {
            const int overruns = play_recorded(format, bytes, lengths, gap_at);
            if (HasFatalFailure())
                return;
            if (overruns == 0) {
                expect_ramp(m_captured, frames, 0);
                return;
            }
            std::printf("attempt %d: the capture overran %d times\n", attempt, overruns);
        }
        GTEST_SKIP() << "the capture overran in each of " << k_attempts
                     << " attempts (the machine is too busy to record what was played)";
    }

    // Plays `bytes` in buffers of the given lengths, taken in turn; once
    // `gap_at` bytes are out, lets the device run dry for a while. Returns
    // the capture's overruns.
    int play_recorded(const WAVEFORMATEX& format, const std::vector<char>& bytes,
                      const std::vector<size_t>& lengths, size_t gap_at) {
        recorder capture;
        EXPECT_TRUE(capture.start());
        device_probe out;
        EXPECT_EQ(out.open(device_kind::alsa, format), WAVE_OK);
        if (HasFailure())
            return 0;
        size_t count = 0;
        bool gap = false;
        for (size_t at = 0; at < bytes.size(); ++count) {
            if (!gap && at >= gap_at) {
                gap = true;
                EXPECT_TRUE(out.wait_returned(count, 10));
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
            }
            const size_t n = std::min(lengths[count % lengths.size()], bytes.size() - at);
            out.play(std::vector<char>(bytes.begin() + long(at), bytes.begin() + long(at + n)));
            at += n;
        }
        // Closed as the ring closes, once every buffer is back: what ALSA
        // still holds has been given back as played, and must be heard.
        EXPECT_TRUE(out.wait_returned(count, 10));
        EXPECT_EQ(wave_out_reset(out.device()), WAVE_OK);
        EXPECT_EQ(out.close(), WAVE_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_captured = capture.stop();
        return capture.overruns();
    }

    std::vector<int16_t> m_captured;
};

TEST_F(AlsaDeviceOnNullSink, PlaysEveryFrameInOrderAcrossSplitFramesAndUnderruns) {
    const size_t frames = 44100;
    expect_played(k_cd, stereo_ramp(frames, 2), {1001, 2, 4097, 3, 17641, 6}, frames * 2, frames);
}

TEST_F(AlsaDeviceOnNullSink, ResetWithBuffersQueuedSilencesWhatTheDeviceHolds) {
    // 2 s in 100 ms buffers, paused once 0.5 s is back so that the count of
    // buffers given back stands still. A reset drops what ALSA holds of them,
    // so a restart afterwards has nothing to play.
    const size_t buffer_frames = 4410;
    const std::vector<char> bytes = stereo_ramp(20 * buffer_frames, 2);
    recorder capture;
    ASSERT_TRUE(capture.start());
    device_probe out;
    ASSERT_EQ(out.open(device_kind::alsa, k_cd), WAVE_OK);
    for (size_t at = 0; at < bytes.size(); at += buffer_frames * 4)
        out.play(std::vector<char>(bytes.begin() + long(at),
                                   bytes.begin() + long(at + buffer_frames * 4)));
    ASSERT_TRUE(out.wait_returned(5, 10));
    ASSERT_EQ(wave_out_pause(out.device()), WAVE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t given_back = out.returned_count();
    ASSERT_EQ(wave_out_reset(out.device()), WAVE_OK);
    ASSERT_EQ(wave_out_restart(out.device()), WAVE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<int16_t> captured = capture.stop();
    size_t sounding = 0;
    for (size_t i = 0; i + 1 < captured.size(); i += 2)
        sounding += captured[i] != 0 || captured[i + 1] != 0;
    EXPECT_GT(sounding, 0u);
    // At least 50 ms of it never sounds.
    EXPECT_LT(sounding + buffer_frames / 2, given_back * buffer_frames);
}

// The library's own capture from the sink's monitor, as a client records:
// every frame of a counting signal played meanwhile is in the recording, in
// order and without a gap, and nothing is counted lost.
TEST_F(AlsaDeviceOnNullSink, CaptureRecordsEveryFramePlayedWithoutAGap) {
    const size_t frames = 22050;
    test_support::temp_dir dir;
    const std::string path = dir.file("captured.wav");
    WAVEFORMATEX format = k_cd;
    HSONVALE mixer = MIX_InitOn("silent", &format, 3, 2048, nullptr);
    ASSERT_NE(mixer, nullptr);
    ASSERT_EQ(Record_Open(mixer, path.c_str(), 44100, 2, 16), 1);
    ASSERT_EQ(MIX_StartInput(mixer, "default"), 0) << MIX_GetLastError();
    {
        device_probe out;
        ASSERT_EQ(out.open(device_kind::alsa, k_cd), WAVE_OK);
        out.play(stereo_ramp(frames, 2));
        ASSERT_TRUE(out.wait_returned(1, 10));
        // Busy until the callback has returned; what ALSA holds plays out.
        EXPECT_TRUE(wait_until([&] { return out.close() == WAVE_OK; }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(MIX_StopInput(mixer), 0);
    EXPECT_EQ(MIX_Flush(mixer, 10000), 0) << MIX_GetLastError();
    Record_Close(mixer);
    MIX_Close(mixer);
    const test_support::wav_readback back = test_support::read_wav_back(path);
    ASSERT_TRUE(back.problem.empty()) << back.problem;
    std::vector<int16_t> captured(back.data.size() / 2);
    std::memcpy(captured.data(), back.data.data(), captured.size() * 2);
    expect_ramp(captured, frames, 0);
}

TEST_F(AlsaDeviceOnNullSink, PlaysPacked24BitFramesSplitByTheRingsBuffers) {
    const size_t frames = 22050;
    expect_played(wave_format(WAVE_FORMAT_PCM, 2, 44100, 24), stereo_ramp(frames, 3), {2048},
                  frames * 3, frames);
}

TEST_F(AlsaDevice, TheAutomaticChoicePlaysInRealTime) {
    // 5.5 s of audio in 50 ms buffers. The first 0.5 s fills ALSA's buffer;
    // from then on each buffer is taken as the device plays the one before,
    // so the remaining 5 s of buffers must take 5 s to come back.
    device_probe out;
    ASSERT_EQ(out.open(device_kind::automatic, k_cd), WAVE_OK);
    ASSERT_STREQ(wave_out_device_name(out.device()), "ALSA default");
    const std::vector<WAVEHDR*> queued = play_silence(out, k_cd, 5.5, 0.05);
    ASSERT_EQ(queued.size(), 110u);
    ASSERT_TRUE(out.wait_returned(queued.size(), 15));
    const auto done = out.entries(WOM_DONE);
    const double seconds = std::chrono::duration<double>(done[109].when - done[9].when).count();
    RecordProperty("paced_seconds", std::to_string(seconds));
    std::printf("5 s of audio came back in %.3f s\n", seconds);
    EXPECT_NEAR(seconds, 5.0, 0.1);
}

} // namespace
