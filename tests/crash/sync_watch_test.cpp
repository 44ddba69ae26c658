// A durable recording watched from outside, by an LD_PRELOAD shim
// (sync_watch.c) that follows the file's writes and syncs: its folder is
// synced once it is created, no header declares data not yet synced, the
// data is synced at least once a second while it comes, and everything is
// synced when MIX_Flush returns. For a client of the flat functions and for
// `sonvale record` without options.
#include <gtest/gtest.h>

#ifdef SONVALE_SYNC_WATCH
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sonvale.h"
#include "support/test_support.h"

namespace {

// What the shim's log shows.
struct watched {
    std::string problem;    // the first broken rule, empty when none
    double longest_gap = 0; // seconds between two syncs while data came
    unsigned syncs = 0;
};

watched read_log(const std::string& log, const std::string& folder, uint64_t header_len) {
    const std::vector<uint8_t> bytes = test_support::read_file(log);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    watched out;
    long long file = -1, folder_fd = -1, t = 0, last_sync = 0, last_data = 0;
    uint64_t end = header_len, synced = 0, declared = 0, declared_synced = 0;
    bool folder_synced = false;
    const auto fail = [&](const std::string& why) {
        if (out.problem.empty())
            out.problem = why + " (at " + std::to_string(t) + " ns)";
    };
    for (std::string event; lines >> t >> event;) {
        long long n = 0;
        std::string path;
        if (event == "folder") {
            lines >> n >> path;
            if (path == folder && file >= 0)
                folder_fd = n;
        } else if (event == "open") {
            lines >> file;
        } else if (event == "end") {
            lines >> n;
            if (!folder_synced)
                fail("data was written before the folder was synced");
            end = static_cast<uint64_t>(n);
            if (last_data && (t - last_sync) * 1e-9 > out.longest_gap)
                out.longest_gap = (t - last_sync) * 1e-9;
            last_data = t;
        } else if (event == "header") {
            lines >> declared;
            if (declared + header_len > synced && declared > 0)
                fail("a header declared " + std::to_string(declared) + " bytes, " +
                     std::to_string(synced) + " synced");
        } else if (event == "sync") {
            lines >> n;
            folder_synced |= n == folder_fd;
            if (n == file) {
                synced = end;
                declared_synced = declared;
                last_sync = t;
                ++out.syncs;
            }
        } else if (event == "mark" && (synced != end || declared_synced + header_len != end)) {
            fail("MIX_Flush returned with " + std::to_string(end - synced) + " bytes unsynced");
        }
    }
    if (!folder_synced)
        fail("the folder was never synced");
    if (synced != end || declared_synced + header_len != end)
        fail("the recording ended unsynced");
    return out;
}

watched run_watched(const std::string& command, const std::string& file, const std::string& folder,
                    const std::string& log) {
    // An AddressSanitizer build finds the shim loaded before its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string env = std::string("LD_PRELOAD=") + SONVALE_SYNC_WATCH +
                            " ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") +
                            "verify_asan_link_order=0 SONVALE_WATCH=" + file +
                            " SONVALE_WATCH_LOG=" + log + " ";
    EXPECT_EQ(std::system((env + command).c_str()), 0) << command;
    return read_log(log, folder, 80);
}

// 3.5 s of 48 kHz stereo fed in real time, 100 ms at a time, flushed
// halfway and at the end.
TEST(SyncWatch, ClientOfTheFlatFunctions) {
    const char* path = std::getenv("SONVALE_WATCH");
    if (!path || !std::getenv("SONVALE_WATCH_CLIENT"))
        GTEST_SKIP() << "run by SyncWatch.DurableRecordingsSyncBeforeTheyDeclare";
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    HSONVALE mixer = MIX_Init(&f, nullptr);
    ASSERT_TRUE(mixer && Record_OpenEx(mixer, path, 48000, 2, 16,
                                       SONVALE_RECORD_DURABLE | SONVALE_RECORD_RF64_AUTO));
    const std::vector<uint8_t> tenth = test_support::pattern(19200);
    auto next = std::chrono::steady_clock::now();
    for (int i = 1; i <= 35; ++i) {
        ASSERT_EQ(MIX_AddStream(mixer, tenth.data(), 19200, 1), 1);
        if (i == 18 || i == 35) {
            ASSERT_EQ(MIX_Flush(mixer, -1), 0);
            ASSERT_EQ(write(2, "@mark\n", 6), 6);
        }
        std::this_thread::sleep_until(next += std::chrono::milliseconds(100));
    }
    Record_Close(mixer);
    MIX_Close(mixer);
}

TEST(SyncWatch, DurableRecordingsSyncBeforeTheyDeclare) {
    test_support::temp_dir dir;
    const std::string file = dir.file("take.wav");
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const watched client =
        run_watched(std::string("SONVALE_WATCH_CLIENT=1 ") + self +
                        " --gtest_filter=SyncWatch.ClientOfTheFlatFunctions >/dev/null",
                    file, dir.path(), dir.file("client.log"));
    EXPECT_EQ(client.problem, "");
    EXPECT_LE(client.longest_gap, 1.5);
    EXPECT_GE(client.syncs, 4u);
    std::printf("client: %u syncs of the file, at most %.2f s apart while data came\n",
                client.syncs, client.longest_gap);
#ifdef SONVALE_CLI_PATH
    const watched cli = run_watched(std::string(SONVALE_CLI_PATH) + " record " + file +
                                        " --tone 440 --seconds 30 >/dev/null",
                                    file, dir.path(), dir.file("cli.log"));
    EXPECT_EQ(cli.problem, "");
#endif
}

} // namespace
#endif
