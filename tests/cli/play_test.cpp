// `sonvale play`: paced by the output device, with keys on a terminal.
#include "run_program.h"
#include "sonvale.h"
#include "sound_file.h"
#include "support/pulse_server.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <csignal>
#include <thread>

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
// it) up to its last whole frame.
TEST(Play, PlaysRF64AndFilesCutShort) {
    test_support::temp_dir dir;
    const std::string rf64 = dir.file("rf64.wav"), cut = dir.file("cut.wav");
    write_sound(rf64, rate, 1, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, std::vector<int32_t>(rate / 2));
    write_sound(cut, rate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, std::vector<int32_t>(rate));
    WAVEFORMATEX format{};
    uint64_t offset = 0;
    ASSERT_EQ(MIX_ReadFileFormatEx(cut.c_str(), &format, &offset), 2 * rate);
    std::filesystem::resize_file(cut, offset + rate + 1); // half a second and half a frame
    for (const std::string& path : {rf64, cut}) {
        run_result run = run_program(sonvale_command({"play", path}));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(contains(run.out, "Played at 0:00.5 of 0:00.5")) << run.out;
    }
}

TEST(Play, ExitsWithinASecondOfItsSoundServerDyingAndSaysWhen) {
    test_support::pulse_server server;
    std::string why;
    if (!server.start(why))
        GTEST_SKIP() << why;
    test_support::temp_dir dir;
    if (run_program(sonvale_command({"play", "--device", "pulse", silence_file(dir, 0.1)}))
            .status != 0)
        GTEST_SKIP() << "ALSA's pulse PCM does not play here";
    const std::string in = silence_file(dir, 10.0);
    constexpr double kill_after = 1.5;
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::duration<double>(kill_after));
        server.signal(SIGKILL);
    });
    const run_result run = run_program(sonvale_command({"play", "--device", "pulse", in}));
    killer.join();
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_LT(run.seconds, kill_after + 1.0);
    EXPECT_TRUE(contains(run.err, "the output device was lost at 0:0")) << run.err;
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

TEST(PlayKeys, InterruptRestoresTheTerminal) {
    test_support::temp_dir dir;
    terminal_result run =
        run_on_terminal(sonvale_command({"play", silence_file(dir, 10.0)}), {{0.5, '\x03'}});
    EXPECT_EQ(run.status, 130) << run.out;
    EXPECT_TRUE(run.terminal_restored);
}
