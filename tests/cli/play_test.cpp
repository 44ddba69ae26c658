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
        run_result record = run_program(sonvale_command({"record", path + ".out.wav", path}));
        ASSERT_EQ(record.status, 0) << record.err;
        EXPECT_EQ(run.err + record.err,
                  path == rf64 ? ""
                               : "sonvale play: " + note + "playing the 8000 bytes of whole " +
                                     "frames\nsonvale record: " + note + "recording the 8000 " +
                                     "bytes of whole frames\n");
    }
}

// A file far longer than memory would hold is played as it is read.
TEST(Play, MemoryStaysBoundedForAnyLength) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory dwarfs what is measured";
#endif
    test_support::temp_dir dir;
    const std::string path = dir.file("long.wav");
    constexpr uint32_t data_bytes = uint32_t{1} << 30;
    const test_support::bytes header = test_support::concat(
        {test_support::raw_chunk("RIFF", 0xFFFFFFFF, {'W', 'A', 'V', 'E'}),
         test_support::fmt_chunk({}), test_support::raw_chunk("data", data_bytes)});
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

// Playing into a private sound server that stops (SIGSTOP) or dies while it
// plays: q and Ctrl-C are answered at once (0.2 s) however long the stopped
// server holds a ring call or the device's close, and a death within a
// second, saying when. The rest of the second is for a busy machine.
TEST(Play, AnswersAtOnceWhenItsSoundServerStopsOrDies) {
    using namespace std::chrono_literals;
    using clock_type = std::chrono::steady_clock;
    test_support::pulse_server server;
    std::string why;
    if (!server.start(why))
        GTEST_SKIP() << why;
    test_support::temp_dir dir;
    if (run_program(sonvale_command({"play", "--device", "pulse", silence_file(dir, 0.1)}))
            .status != 0)
        GTEST_SKIP() << "ALSA's pulse PCM does not play here";
    const std::string in = silence_file(dir, 10.0);
    const struct {
        int signal;
        char key; // 0: none
        int status;
        const char* says;
    } cases[] = {{SIGSTOP, 'q', 0, "Stopped at 0:0"},
                 {SIGSTOP, '\x03', 130, "Stopped at 0:0"},
                 {SIGKILL, 0, 1, "the output device was lost at 0:0"}};
    for (const auto& c : cases) {
        // The signal half a second into playing, the key half a second later.
        std::optional<clock_type::time_point> playing, answer_from;
        bool signalled = false;
        const terminal_result run = run_on_terminal(
            sonvale_command({"play", "--device", "pulse", in}),
            [&](const std::string& out) {
                const auto now = clock_type::now();
                if (!playing && contains(out, "Output:"))
                    playing = now;
                if (!playing || answer_from || now - *playing < 500ms)
                    return std::string();
                if (!signalled) {
                    server.signal(c.signal);
                    signalled = true;
                }
                if (c.key == 0 || now - *playing >= 1s)
                    answer_from = now;
                return std::string(answer_from && c.key ? 1 : 0, c.key);
            },
            10.0);
        const std::chrono::duration<double> answer =
            clock_type::now() - answer_from.value_or(clock_type::time_point{});
        server.signal(SIGCONT);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_LT(answer.count(), 1.0);
        EXPECT_TRUE(contains(run.out, c.says)) << run.out;
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
