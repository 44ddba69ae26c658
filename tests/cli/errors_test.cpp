// What the sonvale program says, and the status it ends with, when it cannot
// do its job; and its help.
#include "run_program.h"
#include "sound_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

using namespace cli_test;
using test_support::file_exists;

namespace {

constexpr int failure = 1;
constexpr int usage = 2;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void write_mono_16(const std::string& path, int rate) {
    write_sound(path, rate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, sample_pattern(800, 16, 0));
}

// A WAV file of 12-bit PCM, which no output device takes.
std::vector<uint8_t> twelve_bit_wav() {
    std::vector<uint8_t> bytes = {'R', 'I', 'F',  'F',  136, 0,   0,    0,    'W', 'A', 'V',
                                  'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                  1,   0,   0x40, 0x1F, 0,   0,   0x80, 0x3E, 0,   0,   2,
                                  0,   12,  0,    'd',  'a', 't', 'a',  100,  0,   0,   0};
    bytes.resize(bytes.size() + 100);
    return bytes;
}

} // namespace

TEST(Errors, MissingInput) {
    test_support::temp_dir dir;
    std::string missing = dir.file("missing.wav");
    for (const auto& args : {sonvale_command({"record", dir.file("out.wav"), missing}),
                             sonvale_command({"play", missing})}) {
        run_result run = run_program(args);
        EXPECT_EQ(run.status, failure);
        EXPECT_TRUE(contains(run.err, "cannot open '" + missing + "': No such file")) << run.err;
    }
    EXPECT_FALSE(file_exists(dir.file("out.wav"))) << "no output for a bad input";
}

TEST(Errors, MalformedInputs) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("text.wav"), {'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> short_riff = twelve_bit_wav();
    short_riff[4] = 40; // the "RIFF" chunk now ends inside its "data" chunk
    test_support::write_file(dir.file("short-riff.wav"), short_riff);
    const struct {
        std::string file;
        std::string why;
    } cases[] = {
        {"text.wav", "is not a WAV file: it has no \"RIFF\" chunk of form \"WAVE\""},
        {"short-riff.wav", "has a \"data\" chunk that runs past the end of its \"RIFF\" chunk"}};
    for (const auto& c : cases)
        for (std::string command : {"record", "play"}) {
            SCOPED_TRACE(command + " " + c.file);
            std::vector<std::string> args =
                command == "record"
                    ? sonvale_command({"record", dir.file("out.wav"), dir.file(c.file)})
                    : sonvale_command({"play", dir.file(c.file)});
            run_result run = run_program(args);
            EXPECT_EQ(run.status, failure);
            EXPECT_TRUE(contains(run.err, "'" + dir.file(c.file) + "' " + c.why)) << run.err;
        }
}

TEST(Errors, FormatTheDeviceRefuses) {
    test_support::temp_dir dir;
    test_support::write_file(dir.file("12bit.wav"), twelve_bit_wav());
    run_result run = run_program(sonvale_command({"play", dir.file("12bit.wav")}));
    EXPECT_EQ(run.status, failure);
    EXPECT_TRUE(contains(run.err, "refuses")) << run.err;
}

TEST(Errors, UnwritableOutput) {
    test_support::temp_dir dir;
    for (const std::string& out : {dir.file("no/such/folder/out.wav"), dir.path()}) {
        run_result run = run_program(sonvale_command({"record", out, "--tone", "440"}));
        EXPECT_EQ(run.status, failure);
        EXPECT_TRUE(contains(run.err, "cannot create '" + out + "': ")) << run.err;
    }
}

// Wrong command lines, and inputs and options that cannot be recorded: all
// refused before anything is created.
TEST(Errors, WrongCommandLines) {
    test_support::temp_dir dir;
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    write_mono_16(a, 8000);
    write_mono_16(b, 11025);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "Usage: sonvale COMMAND"},
        {{"mix"}, "unknown command 'mix'"},
        {{"record"}, "missing the output file"},
        {{"record", "out.wav"}, "nothing to record"},
        {{"record", "out.wav", "--tone"}, "option '--tone' needs a value"},
        {{"record", "out.wav", "--tone", "440", "--loud"}, "unknown option '--loud'"},
        {{"record", "out.wav", "--tone", "-5"}, "--tone takes a number above 0, not '-5'"},
        {{"record", "out.wav", "--tone", "440", "--rate=fast"},
         "--rate takes a whole number from 1 to 4294967295, not 'fast'"},
        {{"record", "out.wav", "--tone", "440", "--rate", "0"},
         "--rate takes a whole number from 1 to 4294967295, not '0'"},
        {{"record", "out.wav", "--tone", "440", "--rate", "4294967295"},
         "8589934590 bytes a second, more than the 4294967295 a WAV file describes: at most "
         "2147483647 Hz"},
        {{"record", "out.wav", "--tone", "440", "--channels", "0"},
         "--channels takes a whole number from 1 to 65535, not '0'"},
        {{"record", "out.wav", "--tone", "440", "--channels", "40000"},
         "40000 channels of 16 bits make frames of 80000 bytes, more than the 65535"},
        {{"record", "out.wav", "--tone", "440", "--seconds", "1e15"},
         "--seconds gives more than the 9223372036854775807 bytes of data a recording holds"},
        {{"record", "out.wav", "--tone", "440", "--seconds", "1e-9"},
         "--seconds gives less than one sample frame at 44100 Hz"},
        {{"record", "out.wav", "--tone", "440", "--seconds", "50000", "--classic"},
         "more data than a classic WAV header can describe"},
        {{"record", "out.wav", a, b},
         "'" + b + "' is 11025 Hz, 1 channel, 16-bit PCM, but the recording is 8000 Hz"},
        {{"record", "out.wav", "--seconds", "2", "in.wav"}, "--seconds needs --tone"},
        {{"record", "out.wav", "--tone", "440", "--bits", "12"},
         "--bits takes 8, 16, 24 or 32, not '12'"},
        {{"play"}, "missing the file to play"},
        {{"play", "a.wav", "b.wav"}, "play takes one file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        run_result run = run_program(sonvale_command(c.args));
        EXPECT_EQ(run.status, usage);
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_FALSE(file_exists("out.wav"));
    }
}

TEST(Help, ForTheProgramAndEachCommandAndTheVersion) {
    const struct {
        std::vector<std::string> args;
        std::string usage;
    } cases[] = {
        {{"--help"}, "Usage: sonvale COMMAND"},
        {{"record", "--help"}, "Usage: sonvale record OUT.wav"},
        {{"play", "-h"}, "Usage: sonvale play IN.wav"},
        {{"--version"}, "sonvale " SONVALE_TEST_VERSION "\n"},
    };
    for (const auto& c : cases) {
        run_result run = run_program(sonvale_command(c.args));
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(contains(run.out, c.usage)) << run.out;
    }
}
