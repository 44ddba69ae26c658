// MIX_Close on one thread while another calls into the same handle: every
// call returns a result its function documents, the handle is refused once
// closing has begun, and (in the sanitizer build) nothing touches a freed
// mixer.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "sonvale.h"
#include "stress/stress_common.h"
#include "support/figures.h"
#include "support/riff_builder.h"

namespace {

using namespace test_support;

constexpr int index = 7;

// What the calling thread saw that its function does not document (read
// once that thread has been joined).
struct findings {
    std::string first;
    long count = 0;
    void add(const std::string& what) {
        if (count++ == 0)
            first = what;
    }
};

// A call's result: `index` (or true) goes on; -1 (or false) must come with
// the invalid-handle reason, which ends the calls, or the reason `also`.
bool check(bool ok, findings& out, const char* call, const char* also = "") {
    const std::string reason = MIX_GetLastError();
    if (ok || (*also && reason == also))
        return true;
    if (reason != "not a mixer handle, or one closed already")
        out.add(std::string(call) + " failed with \"" + reason + "\"");
    return false;
}

bool check_index(int result, findings& out, const char* call, const char* also = "") {
    if (result != index && result != -1)
        out.add(std::string(call) + " returned " + std::to_string(result));
    return check(result != -1, out, call, also);
}

struct race {
    const char* name;
    std::function<bool(HSONVALE h, findings& out)> call; // false once refused
};

TEST(CloseRace, EveryCallRacingMixCloseGetsADocumentedResult) {
    temp_dir dir;
    const std::string wav = dir.file("stream.wav"), recording = dir.file("recording.wav");
    const wav_format f{1, 1, 22050, 16};
    write_file(wav, wav_file(f, pattern(200 * 1280)));
    const std::vector<uint8_t> block = pattern(64 * 1280);
    const int one = 1280, all = static_cast<int>(block.size());
    const race races[] = {
        {"MIX_AddData",
         [&](HSONVALE h, findings& out) {
             return check_index(MIX_AddData(h, block.data(), one, index, 1), out, "MIX_AddData");
         }},
        {"MIX_AddStream",
         [&](HSONVALE h, findings& out) {
             return check_index(MIX_AddStream(h, block.data(), all, index), out, "MIX_AddStream");
         }},
        {"MIX_AddFileStream",
         [&](HSONVALE h, findings& out) {
             return check_index(MIX_AddFileStream(h, wav.c_str(), index), out, "MIX_AddFileStream",
                                "the mixer was closed");
         }},
        {"MIX_Flush",
         [&](HSONVALE h, findings& out) {
             MIX_AddData(h, block.data(), one, index, 1);
             const int result = MIX_Flush(h, -1); // ends: closing drops what is queued
             if (result == 1)
                 out.add("MIX_Flush without a limit timed out");
             return check(result == 0, out, "MIX_Flush");
         }},
        {"Record_Open",
         [&](HSONVALE h, findings& out) {
             const bool opened = Record_Open(h, recording.c_str(), 22050, 1, 16);
             Record_Close(h);
             return check(opened, out, "Record_Open");
         }},
    };
    WAVEFORMATEX format = waveformat(f);
    const long rounds = stress::scaled(1000, 20);
    for (const race& r : races) {
        findings found;
        long calls_before_close = 0;
        for (long round = 0; round < rounds && found.count == 0; ++round) {
            HSONVALE h = MIX_Init(&format, nullptr);
            ASSERT_NE(h, nullptr) << MIX_GetLastError();
            std::atomic<long> calls{0};
            std::thread caller([&] {
                while (r.call(h, found))
                    ++calls;
            });
            // Closed after a varying number of calls, none to three.
            stress::await_or_abort([&] { return calls.load() >= round % 4; },
                                   std::string(r.name) + " before MIX_Close");
            calls_before_close += calls.load();
            EXPECT_EQ(MIX_Close(h), 0) << r.name << ", round " << round;
            caller.join();
            EXPECT_EQ(MIX_Close(h), -1);
        }
        EXPECT_EQ(found.count, 0) << r.name << ": " << found.first;
        report_figure(std::string("close_race.") + r.name, rounds);
        report_figure(std::string("close_race.calls_before_close.") + r.name, calls_before_close);
    }
}

} // namespace
