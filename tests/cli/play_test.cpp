// `sonvale play`: paced by the output device, with keys on a terminal.
#include "run_program.h"
#include "sonvale.h"
#include "sound_file.h"
#include "support/pulse_server.h"
#include "support/riff_builder.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>

using namespace cli_test;

namespace {

constexpr int rate = 8000;

std::string silence_file(const test_support::temp_dir& dir, double seconds) {
    std::string path = dir.file("in.wav");
    write_sound(path, rate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                std::vector<int32_t>(static_cast<size_t>(seconds * rate), 0));
    return path;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

// Bounds are generous: the machine is small and busy.
TEST(Play, TwoSecondsOfSoundTakeAboutTwoSeconds) {
    test_support::temp_dir dir;
    run_result run = run_program(sonvale_command({"play", silence_file(dir, 2.0)}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.seconds, 1.8);
    EXPECT_LE(run.seconds, 10.0);
    EXPECT_TRUE(contains(run.out, "Played at 0:02.0 of 0:02.0")) << run.out;
}

// An RF64 file, and a file cut inside a frame (as a crash or a pipe leaves
// it) up to its last whole frame, with a note (recorded the same way).
TEST(Play, PlaysRF64AndFilesCutShort) {
    test_support::temp_dir dir;
    const std::string rf64 = dir.file("rf64.wav"), cut = dir.file("cut.wav");
    write_sound(rf64, rate, 1, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, std::vector<int32_t>(rate / 2));
    write_sound(cut, rate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::vector<int32_t>(rate));
    WAVEFORMATEX format{};
    uint64_t offset = 0;
    ASSERT_EQ(MIX_ReadFileFormatEx(cut.c_str(), &format, &offset), 2 * rate);
    std::filesystem::resize_file(cut, offset + rate + 1); // half a second and half a frame
    const std::string note = "'" + cut + "' is cut short: its \"data\" chunk declares 16000 " +
                             "bytes, but the file holds 8001; ";
    for (const std::string& path : {rf64, cut}) {
        run_result run = run_program(sonvale_command({"play", path}));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(contains(run.out, "Played at 0:00.5 of 0:00.5")) << run.out;
        run_result record = run_program(sonvale_command({"record", dir.file("out.wav"), path}));
        ASSERT_EQ(record.status, 0) << record.err;
        const std::string said = path == cut ? note : "";
        EXPECT_EQ(run.err, said.empty() ? ""
                                        : "sonvale play: " + said +
                                              "playing the 8000 bytes of whole frames\n");
        EXPECT_EQ(record.err, said.empty() ? ""
                                           : "sonvale record: " + said +
                                                 "recording the 8000 bytes of whole frames\n");
        std::filesystem::remove(dir.file("out.wav"));
    }
}

// A file far longer than memory would hold is played as it is read.
TEST(Play, MemoryStaysBoundedForAnyLength) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory dwarfs what is measured";
#endif
    test_support::temp_dir dir;
    const std::string path = dir.file("long.wav");
    constexpr uint64_t data_bytes = uint64_t{1} << 30;
    test_support::bytes header = test_support::rf64(test_support::fmt_chunk({}), {});
    test_support::bytes sizes;
    test_support::put64(sizes, header.size() - 8 + data_bytes); // the form's, then the data's
    test_support::put64(sizes, data_bytes);
    std::copy(sizes.begin(), sizes.end(), header.begin() + 20);
    test_support::write_file(path, header);
    std::filesystem::resize_file(path, header.size() + data_bytes); // sparse
    // Killed while playing: reading it whole would have taken 1 GiB by then.
    const run_result run =
        run_program(sonvale_command({"play", "--device", "silent", path}), {}, 1.5);
    EXPECT_TRUE(contains(run.out, "Playing '" + path + "'")) << run.err;
    EXPECT_LT(run.max_rss_kb, 32 * 1024);
}

TEST(PlayKeys, SpacePausesAndResumes) {
    test_support::temp_dir dir;
    terminal_result run = run_on_terminal(sonvale_command({"play", silence_file(dir, 2.0)}),
                                          {{0.5, ' '}, {2.0, ' '}});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_GE(run.seconds, 3.2) << "2 s of sound and 1.5 s of pause";
    EXPECT_TRUE(contains(run.out, "paused")) << run.out;
    EXPECT_TRUE(contains(run.out, "Played at 0:02.0 of 0:02.0")) << run.out;
    EXPECT_TRUE(run.terminal_restored);
}

TEST(PlayKeys, QStopsPlayingAndPaused) {
    test_support::temp_dir dir;
    std::string in = silence_file(dir, 10.0);
    const std::vector<timed_key> playing = {{0.5, 'q'}};
    const std::vector<timed_key> paused = {{0.5, ' '}, {1.0, 'q'}};
    for (const auto& keys : {playing, paused}) {
        terminal_result run = run_on_terminal(sonvale_command({"play", in}), keys);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_LT(run.seconds, 6.0);
        EXPECT_TRUE(contains(run.out, "Stopped at")) << run.out;
        EXPECT_TRUE(run.terminal_restored);
    }
}

// Playing into a private sound server that dies or stops while it plays.
class PulsePlay : public testing::Test {
protected:
    using clock_type = std::chrono::steady_clock;

    void SetUp() override {
        std::string why;
        if (!server.start(why))
            GTEST_SKIP() << why;
        if (run_program(sonvale_command({"play", "--device", "pulse", silence_file(dir, 0.1)}))
                .status != 0)
            GTEST_SKIP() << "ALSA's pulse PCM does not play here";
    }

    // Plays 10 s on a terminal; `step` gets the seconds since the program
    // said what it plays on, and gives the keys to type then.
    terminal_result play(const std::function<std::string(double)>& step) {
        std::optional<clock_type::time_point> playing;
        return run_on_terminal(
            sonvale_command({"play", "--device", "pulse", silence_file(dir, 10.0)}),
            [&](const std::string& out) {
                if (!playing && contains(out, "Output:"))
                    playing = clock_type::now();
                if (!playing)
                    return std::string();
                return step(std::chrono::duration<double>(clock_type::now() - *playing).count());
            },
            20.0);
    }

    static double seconds_since(const std::optional<clock_type::time_point>& at) {
        return at ? std::chrono::duration<double>(clock_type::now() - *at).count() : -1.0;
    }

    test_support::pulse_server server;
    test_support::temp_dir dir;
};

TEST_F(PulsePlay, ExitsWithinASecondOfItsSoundServerDyingAndSaysWhen) {
    std::optional<clock_type::time_point> killed;
    const terminal_result run = play([&](double playing) {
        if (!killed && playing >= 0.5) {
            server.signal(SIGKILL);
            killed = clock_type::now();
        }
        return std::string();
    });
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_LT(seconds_since(killed), 1.0);
    EXPECT_TRUE(contains(run.out, "the output device was lost at 0:0")) << run.out;
}

// The answer does not wait for a ring call held by a sound server that has
// stopped (SIGSTOP), nor for the device's close.
TEST_F(PulsePlay, QAndCtrlCAnswerAtOnceWhenItsSoundServerStops) {
    for (const auto& [key, status] : {std::pair{'q', 0}, std::pair{'\x03', 130}}) {
        std::optional<clock_type::time_point> typed;
        const terminal_result run = play([&, key = key](double playing) {
            if (playing < 0.5 || typed)
                return std::string();
            server.signal(SIGSTOP); // until the key, half a second later
            if (playing < 1.0)
                return std::string();
            typed = clock_type::now();
            return std::string(1, key);
        });
        const double answer = seconds_since(typed);
        server.signal(SIGCONT);
        EXPECT_EQ(run.status, status) << run.out;
        EXPECT_GE(answer, 0.0) << "the key was typed";
        EXPECT_LT(answer, 1.0) << "0.2 s; the rest is for a busy machine";
        EXPECT_TRUE(contains(run.out, "Stopped at 0:0")) << run.out;
        EXPECT_TRUE(run.terminal_restored);
    }
}

TEST(PlayKeys, InterruptRestoresTheTerminal) {
    test_support::temp_dir dir;
    terminal_result run =
        run_on_terminal(sonvale_command({"play", silence_file(dir, 10.0)}), {{0.5, '\x03'}});
    EXPECT_EQ(run.status, 130) << run.out;
    EXPECT_TRUE(run.terminal_restored);
}
