// `sonvale record`: what it writes, read back by libsndfile.
#include "run_program.h"
#include "sound_file.h"
#include "support/test_support.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sndfile.h>

using namespace cli_test;

namespace {

int crossings(const std::vector<int32_t>& samples) {
    int n = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        n += (samples[i - 1] < 0) != (samples[i] < 0);
    return n;
}

double peak(const std::vector<int32_t>& samples) {
    double top = 0.0;
    for (int32_t s : samples)
        top = std::max(top, std::fabs(s / 2147483648.0));
    return top;
}

std::vector<int32_t> concat(std::vector<int32_t> a, const std::vector<int32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int32_t> tail(const std::vector<int32_t>& v, size_t from) {
    return std::vector<int32_t>(v.begin() + static_cast<std::ptrdiff_t>(from), v.end());
}

} // namespace

// Every sample width, two channels: the pieces must be whole frames (1278
// bytes at 24 bits) or the recording comes out short.
TEST(Record, ToneInEveryWidthIsReadBackWhole) {
    const struct {
        const char* option;
        const char* value;
        int subtype;
    } widths[] = {{"--bits", "8", SF_FORMAT_PCM_U8},
                  {"--bits", "16", SF_FORMAT_PCM_16},
                  {"--bits", "24", SF_FORMAT_PCM_24},
                  {"--bits", "32", SF_FORMAT_PCM_32},
                  {"--float", "--", SF_FORMAT_FLOAT}};
    test_support::temp_dir dir;
    for (const auto& width : widths) {
        SCOPED_TRACE(width.value);
        std::string out = dir.file(std::string("tone") + width.value + ".wav");
        run_result run = run_program(
            sonvale_command({"record", "--tone", "440", "--seconds", "1.5", "--rate", "8000",
                             "--channels", "2", width.option, width.value, out}));
        ASSERT_EQ(run.status, 0) << run.err;
        sound s = read_sound(out);
        ASSERT_TRUE(s.opened);
        EXPECT_EQ(s.rate, 8000);
        EXPECT_EQ(s.channels, 2);
        EXPECT_EQ(s.subtype, width.subtype);
        EXPECT_EQ(s.frames, 12000);
        std::vector<int32_t> left = channel_of(s, 0);
        EXPECT_EQ(left, channel_of(s, 1));
        EXPECT_NEAR(peak(left), 0.5, 0.02);
        EXPECT_NEAR(crossings(left), 2 * 440 * 1.5, 4);
    }
}

TEST(Record, DefaultFormatAndSummary) {
    test_support::temp_dir dir;
    std::string out = dir.file("tone.wav");
    run_result run =
        run_program(sonvale_command({"record", out, "--tone", "440", "--seconds", "2"}));
    ASSERT_EQ(run.status, 0) << run.err;
    sound s = read_sound(out);
    EXPECT_EQ(s.rate, 44100);
    EXPECT_EQ(s.channels, 1);
    EXPECT_EQ(s.subtype, SF_FORMAT_PCM_16);
    EXPECT_EQ(s.frames, 88200);
    // 176400 bytes in pieces of 1280.
    EXPECT_NE(run.out.find("138 items, 176400 bytes, 2.000 s"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "") << "no progress bar off a terminal";
}

TEST(Record, InputsFollowTheToneByteForByteInTheirOwnFormat) {
    test_support::temp_dir dir;
    std::vector<int32_t> first = sample_pattern(3001 * 2, 16, 1);
    std::vector<int32_t> second = sample_pattern(1500 * 2, 16, 2);
    write_sound(dir.file("a.wav"), 8000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, first);
    write_sound(dir.file("b.wav"), 8000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, second);
    std::string out = dir.file("out.wav");

    run_result run = run_program(sonvale_command({"record", out, "--tone", "300", "--seconds",
                                                  "0.25", dir.file("a.wav"), dir.file("b.wav")}));
    ASSERT_EQ(run.status, 0) << run.err;
    sound s = read_sound(out);
    EXPECT_EQ(s.rate, 8000);
    EXPECT_EQ(s.channels, 2);
    ASSERT_EQ(s.frames, 2000 + 3001 + 1500);
    EXPECT_EQ(tail(s.samples, 2000 * 2), concat(first, second));
}

TEST(Record, ExtensibleInputOf24BitsThreeChannels) {
    test_support::temp_dir dir;
    std::vector<int32_t> samples = sample_pattern(1000 * 3, 24, 3);
    write_sound(dir.file("in.wav"), 8000, 3, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, samples);
    std::string out = dir.file("out.wav");

    run_result run = run_program(sonvale_command({"record", out, dir.file("in.wav")}));
    ASSERT_EQ(run.status, 0) << run.err;
    sound s = read_sound(out);
    EXPECT_EQ(s.channels, 3);
    EXPECT_EQ(s.subtype, SF_FORMAT_PCM_24);
    EXPECT_EQ(s.samples, samples);
}

TEST(Record, CtrlCFinishesTheFileWithEverythingQueued) {
    test_support::temp_dir dir;
    std::string out = dir.file("long.wav");
    terminal_result run = run_on_terminal(
        sonvale_command({"record", out, "--tone", "440", "--rate", "8000", "--seconds", "90000"}),
        {{0.5, '\x03'}});
    EXPECT_EQ(run.status, 130) << run.out;
    EXPECT_NE(run.out.find("Interrupted; recorded"), std::string::npos) << run.out;
    sound s = read_sound(out);
    ASSERT_TRUE(s.opened);
    EXPECT_GT(s.frames, 0);
    EXPECT_LT(s.frames, 8000LL * 90000) << "it went on to the end";
    EXPECT_EQ(static_cast<uint64_t>(80 + s.frames * 2), test_support::read_file(out).size())
        << "the header describes the whole file";
    size_t redraws = 0;
    for (size_t at = run.out.find("\r["); at != std::string::npos; at = run.out.find("\r[", at + 1))
        ++redraws;
    EXPECT_LE(redraws, 10 * run.seconds + 2)
        << "the progress bar redraws at most 10 times a second";
}

TEST(Record, LongRecordingsKeepMemoryBounded) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory dwarfs what is measured";
#endif
    test_support::temp_dir dir;
    std::vector<std::string> args = {
        "record", dir.file("out.wav"), "--tone", "440", "--seconds", "600", "--rate",
        "44100",  "--channels",        "2"};
    for (int i = 0; i < 4; ++i) { // 4 x 21 MB of samples
        args.push_back(dir.file("in" + std::to_string(i) + ".wav"));
        ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 -b 16 " + args.back() +
                               " synth 120 sine 300 2>/dev/null")
                                  .c_str()),
                  0);
    }
    run_result run = run_program(sonvale_command(args));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.max_rss_kb, 64 * 1024);
    SF_INFO info{};
    SNDFILE* file = sf_open(dir.file("out.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    sf_close(file);
    EXPECT_EQ(info.frames, 44100 * (600 + 4 * 120));
}

// Refused before anything is created or touched, exit status 2.
TEST(Record, RefusesInputsItCannotRecordAndAnOutputThatIsAnInput) {
    test_support::temp_dir dir;
    const std::string a = dir.file("a.wav");
    write_sound(a, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, sample_pattern(800, 16, 1));
    write_sound(dir.file("alaw.wav"), 8000, 1, SF_FORMAT_WAV | SF_FORMAT_ALAW,
                sample_pattern(800, 8, 1));
    write_sound(dir.file("f64.wav"), 8000, 1, SF_FORMAT_WAV | SF_FORMAT_DOUBLE,
                sample_pattern(800, 16, 1));
    const std::vector<uint8_t> before = test_support::read_file(a);
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{a, a}, "both an input and the output"},
        {{a, dir.file("./a.wav")}, "both an input and the output"},
        {{dir.file("out.wav"), dir.file("alaw.wav")}, "only PCM and IEEE float"},
        {{dir.file("out.wav"), dir.file("f64.wav")}, "8, 16, 24 and 32-bit samples"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"record"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const run_result run = run_program(sonvale_command(args));
        EXPECT_EQ(run.status, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(test_support::read_file(a), before);
        EXPECT_FALSE(test_support::file_exists(dir.file("out.wav")));
    }
}

// Below 4 GiB the default header is a plain WAV header that every reader
// takes; --classic gives the 44-byte one.
TEST(Record, DefaultHeaderIsReadAsPlainWavEverywhere) {
    test_support::temp_dir dir;
    for (const char* header : {"--seconds", "--classic"}) {
        const std::string out = dir.file(std::string(header + 2) + ".wav");
        std::vector<std::string> args = {"record", out,      "--tone", "440",        "--seconds",
                                         "6",      "--rate", "44100",  "--channels", "2"};
        if (std::string(header) == "--classic")
            args.push_back(header);
        ASSERT_EQ(run_program(sonvale_command(args)).status, 0);
        const uint64_t frames = 6 * 44100; // 1 MiB and a bit
        EXPECT_EQ(read_sound(out).frames, static_cast<int64_t>(frames));
        const run_result soxi = run_program({"/usr/bin/env", "soxi", "-s", out});
        EXPECT_EQ(soxi.out, std::to_string(frames) + "\n") << soxi.err;
        const run_result python =
            run_program({"/usr/bin/env", "python3", "-c",
                         "import sys, wave; print(wave.open(sys.argv[1]).getnframes())", out});
        EXPECT_EQ(python.out, std::to_string(frames) + "\n") << python.err;
        EXPECT_EQ(test_support::read_file(out).size(),
                  frames * 4 + (std::string(header) == "--classic" ? 44 : 80));
    }
}

// From an input device: the silent one gives exactly the frames asked for,
// at its real-time pace; an unknown one is refused with its reason; and the
// input devices are listed.
TEST(Record, FromAnInputDevice) {
    test_support::temp_dir dir;
    const std::string out = dir.file("input.wav");
    run_result run =
        run_program(sonvale_command({"record", out, "--input", "silent", "--seconds", "2"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GT(run.seconds, 1.9);
    EXPECT_LT(run.seconds, 5.0);
    const sound s = read_sound(out);
    EXPECT_EQ(s.rate, 48000);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.frames, 96000);
    EXPECT_EQ(peak(s.samples), 0.0);

    run = run_program(sonvale_command({"record", out, "--input", "no such device"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("there is no input device \"no such device\""), std::string::npos)
        << run.err;

    run = run_program(sonvale_command({"devices"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Input devices:\nauto"), std::string::npos) << run.out;
}
