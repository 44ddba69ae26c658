// The sonvale program where alsa-lib cannot be loaded at all: it records
// (on the silent device, as always), and the default build plays into the
// silent virtual device.
//
// How the library is hidden: `unshare --mount` runs a shell in a mount
// namespace of its own (private, so nothing reaches the rest of the
// machine), which bind-mounts an empty file over every libasound.so.2 the
// dynamic loader's cache lists and then runs the program. A dlopen of
// libasound.so.2 in there finds a file that is no library, and fails; python
// checks that it does before the program runs.
#include "run_program.h"
#include "sound_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace cli_test;

namespace {

const char hide_alsa[] = R"(set -e
empty=$(mktemp)
for lib in $(ldconfig -p | sed -n 's/^[[:space:]]*libasound\.so\.2 .* => //p'); do
  mount --bind "$empty" "$lib"
done
if python3 -c 'import ctypes; ctypes.CDLL("libasound.so.2")' 2>/dev/null; then
  echo "libasound.so.2 is still loadable" >&2
  exit 3
fi
exec "$@")";

run_result without_alsa(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
                                     hide_alsa,          "sh"};
    for (const std::string& arg : sonvale_command(args))
        argv.push_back(arg);
    return run_program(argv);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(NoAlsa, RecordsAndPlaysIntoTheVirtualDevice) {
    if (run_program({"/usr/bin/unshare", "--mount", "/bin/true"}).status != 0)
        GTEST_SKIP() << "no mount namespace can be made here (needs root)";
    test_support::temp_dir dir;
    const std::string path = dir.file("tone.wav");
    const run_result record =
        without_alsa({"record", path, "--tone", "440", "--seconds", "1", "--rate", "8000"});
    ASSERT_EQ(record.status, 0) << record.err;
    EXPECT_EQ(read_sound(path).frames, 8000);

    const run_result play = without_alsa({"play", path});
    const std::string build = SONVALE_TEST_OUTPUT;
    if (build == "alsa") {
        // The ALSA-only build has no device to play on.
        EXPECT_EQ(play.status, 1) << play.err;
        EXPECT_TRUE(contains(play.err, "no output device was found")) << play.err;
        return;
    }
    ASSERT_EQ(play.status, 0) << play.err;
    EXPECT_GE(play.seconds, 0.9); // the virtual device keeps time
    EXPECT_TRUE(contains(
        play.out, build == "auto" ? "Output: the silent virtual device: no sound device was found"
                                  : "Output: the silent virtual device\n"))
        << play.out;
}

TEST(NoAlsa, TheLibraryDoesNotNeedAlsaLib) {
    const run_result dynamic = run_program({"/usr/bin/readelf", "-d", SONVALE_LIBRARY_FILE});
    ASSERT_EQ(dynamic.status, 0) << dynamic.err;
    EXPECT_TRUE(contains(dynamic.out, "(NEEDED)")) << dynamic.out;
    EXPECT_FALSE(contains(dynamic.out, "libasound")) << dynamic.out;
}
