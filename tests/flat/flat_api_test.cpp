#include "platform/file_writes.h"
#include "platform/last_error.h"
#include "sonvale.h"
#include "support/failing_writes.h"
#include "support/riff_builder.h"
#include "support/settled_threads.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

using namespace test_support;

namespace {

TEST(FlatApi, NullHandleIsRefusedEverywhere) {
    const unsigned char data[4] = {};
    EXPECT_EQ(MIX_Close(nullptr), -1);
    EXPECT_EQ(MIX_Restart(nullptr), -1);
    EXPECT_EQ(MIX_Pause(nullptr), -1);
    EXPECT_EQ(MIX_AddFile(nullptr, "x.wav", 1), -1);
    EXPECT_EQ(MIX_AddData(nullptr, data, 4, 1, 1), -1);
    EXPECT_EQ(MIX_AppendData(nullptr, data, 4, 1), -1);
    EXPECT_EQ(MIX_Remove(nullptr, 1), -1);
    EXPECT_EQ(MIX_Clear(nullptr), -1);
    EXPECT_FALSE(Record_Open(nullptr, "x.wav", 22050, 1, 16));
    EXPECT_EQ(MIX_Flush(nullptr, 0), -1);
    Record_Close(nullptr);
}

TEST(FlatApi, ClosedAndMadeUpHandlesAreRefusedUntouched) {
    WAVEFORMATEX f = waveformat(wav_format{});
    HSONVALE closed = MIX_Init(&f, nullptr);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(MIX_Close(closed), 0);
    CSonvale not_issued; // a real mixer, but not one MIX_Init returned
    const unsigned char data[4] = {};
    for (HSONVALE h : {closed, reinterpret_cast<HSONVALE>(&not_issued)}) {
        EXPECT_EQ(MIX_Close(h), -1);
        EXPECT_STREQ(MIX_GetLastError(), "not a mixer handle, or one closed already");
        EXPECT_EQ(MIX_AddData(h, data, 4, 1, 1), -1);
        EXPECT_EQ(MIX_AddStream(h, data, 4, 1), -1);
        EXPECT_EQ(MIX_AddFileStream(h, "x.wav", 1), -1);
        EXPECT_EQ(MIX_Flush(h, 0), -1);
        EXPECT_FALSE(Record_Open(h, "x.wav", 22050, 1, 16));
        Record_Close(h);
    }
}

TEST(FlatApi, RefusedOpeningGivesNullAndLeavesNoThread) {
    int threads = settled_thread_count();
    WAVEFORMATEX no_channels = waveformat(wav_format{1, 0, 44100, 16}),
                 good = waveformat(wav_format{});
    EXPECT_EQ(MIX_Init(nullptr, nullptr), nullptr);
    EXPECT_EQ(MIX_InitEx(nullptr, 3, 2048, nullptr), nullptr);
    EXPECT_EQ(MIX_Init(&no_channels, nullptr), nullptr);
    EXPECT_STREQ(MIX_GetLastError(), "the output device refuses 44100 Hz, 0 channels, 16-bit PCM");
    EXPECT_EQ(MIX_InitEx(&no_channels, 3, 2048, nullptr), nullptr);
    EXPECT_EQ(MIX_InitEx(&good, 0, 2048, nullptr), nullptr);
    EXPECT_EQ(MIX_InitEx(&good, 3, 0, nullptr), nullptr);
    EXPECT_TRUE(wait_until([&] { return thread_count() == threads; }));
}

TEST(FlatApi, ForwardsToAnOpenMixerAndCloseLeavesNoThread) {
    int threads = settled_thread_count();
    WAVEFORMATEX f = waveformat(wav_format{});
    HSONVALE h = MIX_InitEx(&f, 4, 4096, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_GT(thread_count(), threads);
    const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(MIX_Pause(h), 0);
    EXPECT_EQ(MIX_Restart(h), 0);
    EXPECT_EQ(MIX_AddData(h, data, 8, 9, 1), 9);
    EXPECT_EQ(MIX_AppendData(h, data, 8, 9), 0) << "nothing is queued without a recording";
    EXPECT_EQ(MIX_AddFile(h, "/nonexistent/x.wav", 9), -1);
    EXPECT_EQ(MIX_Remove(h, 9), 0);
    EXPECT_EQ(MIX_Clear(h), 0);
    EXPECT_EQ(MIX_Close(h), 0);
    EXPECT_TRUE(wait_until([&] { return thread_count() == threads; }));
}

TEST(FlatApi, RecordOpenTwiceKeepsTheFirstFile) {
    temp_dir dir;
    std::string first = dir.file("first.wav"), second = dir.file("second.wav");
    WAVEFORMATEX f = waveformat(wav_format{1, 1, 22050, 16});
    HSONVALE h = MIX_Init(&f, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(Record_Open(h, first.c_str(), 22050, 1, 16));
    EXPECT_TRUE(Record_Open(h, second.c_str(), 8000, 2, 8));
    EXPECT_FALSE(file_exists(second));
    EXPECT_EQ(MIX_AppendData(h, pattern(6).data(), 6, 4), 4);
    EXPECT_TRUE(wait_until([&] { return read_file(first).size() == 44 + 6; }));
    Record_Close(h);
    Record_Close(h);
    EXPECT_EQ(MIX_Close(h), 0);
    std::vector<uint8_t> file = read_file(first);
    ASSERT_EQ(file.size(), 50u);
    EXPECT_EQ(le32(file, 24), 22050u);
    EXPECT_EQ(le32(file, 40), 6u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 44, file.end()), pattern(6));
}

// Every refusal of the recording's calls gives -1 or false with a reason of
// its own, and creates no file: a header format other than the mixer's too.
TEST(FlatApi, RecordingCallsRefuseBadArgumentsWithAReason) {
    temp_dir dir;
    WAVEFORMATEX f = waveformat(wav_format{1, 1, 22050, 16});
    HSONVALE h = MIX_Init(&f, nullptr);
    ASSERT_NE(h, nullptr);
    SONVALE_RECORD_STATUS small{};
    small.cbSize = sizeof small - 1;
    SONVALE_RECORD_STATUS good{};
    good.cbSize = sizeof good;
    const std::string path = dir.file("x.wav");
    const struct {
        const char* what;
        std::function<bool()> refused;
        const char* says;
    } cases[] = {
        {"null path", [&] { return !Record_Open(h, nullptr, 22050, 1, 16); }, "no path"},
        {"unknown flag", [&] { return !Record_OpenEx(h, path.c_str(), 22050, 1, 16, 4); },
         "unknown recording flags 0x4"},
        {"null status", [&] { return Record_GetStatus(h, nullptr) == -1; }, "no status record"},
        {"short status", [&] { return Record_GetStatus(h, &small) == -1; }, "cbSize"},
        {"null handle", [&] { return Record_GetStatus(nullptr, &good) == -1; }, "no mixer handle"},
        {"null handle", [&] { return !Record_OpenEx(nullptr, path.c_str(), 8000, 1, 8, 0); },
         "no mixer handle"},
        {"another format", [&] { return !Record_Open(h, path.c_str(), 44100, 2, 8); },
         "a recording of 44100 Hz, 2 channels, 8-bit PCM cannot be opened on a mixer of 22050 "
         "Hz, 1 channel, 16-bit PCM: the mixer records only its own format"},
        {"another rate", [&] { return !Record_OpenEx(h, path.c_str(), 22051, 1, 16, 0); },
         "a recording of 22051 Hz, 1 channel, 16-bit PCM"},
        {"more channels", [&] { return !Record_Open(h, path.c_str(), 22050, 2, 16); },
         "a recording of 22050 Hz, 2 channels"},
        {"other bits", [&] { return !Record_OpenEx(h, path.c_str(), 22050, 1, 24, 1); },
         "1 channel, 24-bit PCM cannot"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.refused()) << c.what;
        EXPECT_NE(std::string(MIX_GetLastError()).find(c.says), std::string::npos) << c.what;
    }
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(Record_GetStatus(h, &good), 0);
    EXPECT_EQ(good.flags, 0u);
    EXPECT_TRUE(Record_OpenEx(h, path.c_str(), 22050, 1, 16, SONVALE_RECORD_RF64_AUTO));
    EXPECT_EQ(Record_GetStatus(h, &good), 0);
    EXPECT_EQ(good.flags, SONVALE_STATUS_OPEN);
    // While one is open, another format is ignored as every argument is.
    EXPECT_TRUE(Record_Open(h, dir.file("y.wav").c_str(), 44100, 2, 8));
    EXPECT_FALSE(file_exists(dir.file("y.wav")));
    EXPECT_EQ(MIX_Close(h), 0);
    EXPECT_EQ(read_file(path).size(), 80u);
}

// What a ring or a format is refused for, before anything is allocated.
TEST(FlatApi, InitExRefusesRingsAndAlignmentsItCannotHonour) {
    WAVEFORMATEX good = waveformat(wav_format{1, 1, 8000, 16});
    WAVEFORMATEX misaligned = good;
    misaligned.nBlockAlign = 4;
    const struct {
        WAVEFORMATEX* format;
        int count, size;
        const char* reason;
    } cases[] = {
        {&good, 1000000000, 2048, "a ring of 1000000000 buffers is more than the 4096 allowed"},
        {&good, MIX_MAX_BUFF_NUM + 1, 1, "a ring of 4097 buffers is more than the 4096 allowed"},
        {&good, 2, MIX_MAX_RING_BYTES / 2 + 1,
         "a ring of 2 buffers of 33554433 bytes is more than the 67108864 bytes allowed"},
        {&misaligned, 3, 2048,
         "the output device refuses 8000 Hz, 1 channel, 16-bit PCM with a block alignment of 4 "
         "bytes: its frames take 2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MIX_InitEx(c.format, c.count, c.size, nullptr), nullptr) << c.reason;
        EXPECT_STREQ(MIX_GetLastError(), c.reason);
    }
    HSONVALE largest =
        MIX_InitEx(&good, MIX_MAX_BUFF_NUM, MIX_MAX_RING_BYTES / MIX_MAX_BUFF_NUM, nullptr);
    EXPECT_NE(largest, nullptr) << MIX_GetLastError();
    EXPECT_EQ(MIX_Close(largest), 0);
}

// Reasons naming a long path or name (a file's, a lost write's, a device's)
// are cut once, between characters: the name loses its middle, and the words
// after it (the system's cause) stay.
TEST(FlatApi, ReasonsWithALongMultibyteNameEndWithTheirCause) {
    WAVEFORMATEX f = waveformat(wav_format{});
    HSONVALE h = MIX_Init(&f, nullptr);
    ASSERT_NE(h, nullptr);
    temp_dir dir;
    std::string name, euros;
    for (int i = 0; i < 400; ++i)
        name += i % 2 ? "\xC3\xA9" : "\xE2\x82\xAC"; // é and €
#ifdef _WIN32
    const int per_folder = 40; // a path within Windows's 260 characters
#else
    const int per_folder = 84; // 777 bytes of "€" in folders of 252 (a name takes 255)
#endif
    for (int i = 0; i < per_folder; ++i)
        euros += "\xE2\x82\xAC";
    const std::string deep = dir.path() + "/" + euros + "/" + euros + "/" + euros;
    std::filesystem::create_directories(std::filesystem::u8path(deep));
    const std::string lost = deep + "/" + euros.substr(0, 21) + ".wav";
    const std::string missing = dir.file("missing") + "/" + name + ".wav";
    sonvale::set_no_space_error();
    const std::string no_space = sonvale::system_error_text();
    const struct {
        const char* what;
        std::function<void()> fail;
        std::string start, end; // an empty end: any cause after ".wav': "
    } rows[] = {
        {"file", [&] { EXPECT_FALSE(Record_Open(h, missing.c_str(), 44100, 2, 16)); },
         "cannot create '" + dir.path(), ""},
        {"loss",
         [&] {
             ASSERT_TRUE(Record_Open(h, lost.c_str(), 44100, 2, 16)) << MIX_GetLastError();
             const failing_writes writes = failing_writes::past_bytes(44);
             const std::vector<uint8_t> data = pattern(1280);
             MIX_AddStream(h, data.data(), 1280, 1);
             EXPECT_EQ(MIX_Flush(h, -1), 2);
             Record_Close(h);
         },
         "cannot write to '" + dir.path(), "': " + no_space},
        {"device", [&] { EXPECT_EQ(MIX_InitOn(name.c_str(), &f, 3, 2048, nullptr), nullptr); },
         "there is no output device called \"\xE2\x82\xAC",
         "(the sonvale program: sonvale devices)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        row.fail();
        const std::string reason = MIX_GetLastError();
        EXPECT_TRUE(valid_utf8(reason)) << reason;
        EXPECT_EQ(reason.find(row.start), 0u) << reason;
        const std::string end = row.end.empty() ? ".wav': " : row.end;
        const size_t at = reason.rfind(end);
        ASSERT_NE(at, std::string::npos) << reason;
        EXPECT_EQ(at + end.size() == reason.size(), !row.end.empty()) << "the cause: " << reason;
    }
    EXPECT_EQ(MIX_Close(h), 0);
}

} // namespace
