// The README's code: each example it quotes is quoted whole, and runs.
#include "run_program.h"
#include "sound_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace cli_test;

namespace {

std::string text_of(const std::string& path) {
    std::vector<uint8_t> bytes = test_support::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void expect_recording(const std::string& path, int64_t frames) {
    sound s = read_sound(path);
    ASSERT_TRUE(s.opened) << path;
    EXPECT_EQ(s.rate, 8000);
    EXPECT_EQ(s.channels, 1);
    EXPECT_EQ(s.frames, frames);
}

} // namespace

TEST(Readme, QuotesEachExampleWhole) {
    std::string readme = text_of(SONVALE_TEST_SOURCE_DIR "/README.md");
    const struct {
        const char* file;
        const char* language;
    } examples[] = {
        {"readme_c_api.c", "c"}, {"readme_cpp_api.cpp", "cpp"}, {"readme_ctypes.py", "python"}};
    for (const auto& example : examples) {
        std::string code =
            text_of(std::string(SONVALE_TEST_SOURCE_DIR "/examples/") + example.file);
        ASSERT_FALSE(code.empty()) << example.file;
        std::string block = std::string("```") + example.language + "\n" + code + "```\n";
        EXPECT_NE(readme.find(block), std::string::npos)
            << "README.md does not quote examples/" << example.file << " as it is";
    }
}

TEST(Readme, CExampleRecordsOneSecond) {
    test_support::temp_dir dir;
    run_result run = run_program({README_C_API_PATH, dir.file("c.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    expect_recording(dir.file("c.wav"), 8000);
}

TEST(Readme, CppExamplePlaysAndRecordsOneBlock) {
    test_support::temp_dir dir;
    run_result run = run_program({README_CPP_API_PATH, dir.file("cpp.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_GE(run.seconds, 0.4) << "half a second of tone through the ring";
    expect_recording(dir.file("cpp.wav"), 640);
}

TEST(Readme, CtypesExampleRecordsOneSecond) {
    if (SONVALE_SANITIZED)
        GTEST_SKIP() << "python3 cannot load a library built with sanitizers";
    test_support::temp_dir dir;
    run_result run =
        run_program({"/usr/bin/python3", SONVALE_TEST_SOURCE_DIR "/examples/readme_ctypes.py",
                     dir.file("py.wav")},
                    {"SONVALE_LIBRARY=" SONVALE_LIBRARY_FILE});
    ASSERT_EQ(run.status, 0) << run.err;
    expect_recording(dir.file("py.wav"), 8000);
}
