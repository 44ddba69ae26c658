// MIX_Close on one thread while another calls into the same handle: every
// call returns a result its function documents, the handle is refused once
// closing has begun, and (in the sanitizer build) nothing touches a freed
// mixer.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sonvale.h"
#include "stress/stress_common.h"
#include "support/figures.h"
#include "support/riff_builder.h"

namespace {

using namespace test_support;

constexpr int index = 7;
const char* const refused = "not a mixer handle, or one closed already";

// What the calls on the other thread saw that their functions do not
// document; the first one is kept for the message.
class findings {
public:
    void add(const std::string& what) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_first.empty())
            m_first = what;
        ++m_count;
    }
    std::string first() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_first;
    }
    int count() const { return m_count; }

private:
    std::mutex m_lock;
    std::string m_first;
    std::atomic<int> m_count{0};
};

// One call on `h`, its result checked: true while the handle was still
// taken, false once it was refused.
using racing_call = std::function<bool(HSONVALE h, findings& out)>;

// A -1 (or false) result: the handle refused, or `also` (a reason the call
// may give while the mixer is closing).
bool refusal(findings& out, const char* call, const char* also = nullptr) {
    const std::string reason = MIX_GetLastError();
    if (reason == refused)
        return false;
    if (!also || reason != also)
        out.add(std::string(call) + " failed with \"" + reason + "\"");
    return true;
}

bool index_or_refused(int result, findings& out, const char* call, const char* also = nullptr) {
    if (result == index)
        return true;
    if (result != -1) {
        out.add(std::string(call) + " returned " + std::to_string(result));
        return true;
    }
    return refusal(out, call, also);
}

struct race {
    const char* name;
    racing_call call;
};

std::vector<race> races(const std::string& wav, const std::string& recording) {
    static const std::vector<uint8_t> block = pattern(1280), stream = pattern(64 * 1280);
    return {
        {"MIX_AddData",
         [](HSONVALE h, findings& out) {
             return index_or_refused(MIX_AddData(h, block.data(), 1280, index, 1), out,
                                     "MIX_AddData");
         }},
        {"MIX_AddStream",
         [](HSONVALE h, findings& out) {
             return index_or_refused(
                 MIX_AddStream(h, stream.data(), static_cast<int>(stream.size()), index), out,
                 "MIX_AddStream");
         }},
        {"MIX_AddFileStream",
         [wav](HSONVALE h, findings& out) {
             return index_or_refused(MIX_AddFileStream(h, wav.c_str(), index), out,
                                     "MIX_AddFileStream", "the mixer was closed");
         }},
        {"MIX_Flush",
         [](HSONVALE h, findings& out) {
             MIX_AddData(h, block.data(), 1280, index, 1);
             const int result = MIX_Flush(h, -1); // must end: closing drops what is queued
             if (result == 0)
                 return true;
             if (result != -1)
                 out.add("MIX_Flush returned " + std::to_string(result));
             return result != -1 || refusal(out, "MIX_Flush");
         }},
        {"Record_Open",
         [recording](HSONVALE h, findings& out) {
             const bool opened = Record_Open(h, recording.c_str(), 22050, 1, 16);
             Record_Close(h);
             return opened || refusal(out, "Record_Open");
         }},
    };
}

TEST(CloseRace, EveryCallRacingMixCloseGetsADocumentedResult) {
    temp_dir dir;
    const std::string wav = dir.file("stream.wav"), recording = dir.file("recording.wav");
    const wav_format f{1, 1, 22050, 16};
    write_file(wav, wav_file(f, pattern(200 * 1280)));
    WAVEFORMATEX format = waveformat(f);
    const long rounds = stress::scaled(1000, 20);
    for (const race& r : races(wav, recording)) {
        findings found;
        long calls_before_close = 0;
        for (long round = 0; round < rounds && found.count() == 0; ++round) {
            HSONVALE h = MIX_Init(&format, nullptr);
            ASSERT_NE(h, nullptr) << MIX_GetLastError();
            std::atomic<long> calls{0};
            std::thread caller([&] {
                while (r.call(h, found))
                    ++calls;
            });
            // Close after a varying number of calls, the first one included.
            const long wait_for = round % 4;
            stress::await_or_abort([&] { return calls.load() >= wait_for; },
                                   std::string(r.name) + " before MIX_Close");
            calls_before_close += calls.load();
            EXPECT_EQ(MIX_Close(h), 0) << r.name << ", round " << round;
            caller.join();
            EXPECT_EQ(MIX_Close(h), -1);
        }
        EXPECT_EQ(found.count(), 0) << r.name << ": " << found.first();
        report_figure(std::string("close_race.") + r.name, rounds);
        report_figure(std::string("close_race.calls_before_close.") + r.name, calls_before_close);
    }
}

} // namespace
