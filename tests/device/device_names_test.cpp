// The names a client opens an output device by, on every platform, through
// the public functions: listed, opened, refused.
#include <gtest/gtest.h>
#include <sonvale.h>

#include <string>
#include <vector>

namespace {

WAVEFORMATEX cd_format() {
    return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// One of the two listings, output and input.
struct listing {
    int (*count)();
    int (*name)(int, char*, int);
};
const listing k_listings[] = {{MIX_GetOutputDeviceCount, MIX_GetOutputDeviceName},
                              {MIX_GetInputDeviceCount, MIX_GetInputDeviceName}};

std::vector<std::string> listed_names(const listing& list = k_listings[0]) {
    std::vector<std::string> names;
    const int count = list.count();
    for (int i = 0; i < count; ++i) {
        char name[512];
        EXPECT_EQ(list.name(i, name, sizeof name), 0) << MIX_GetLastError();
        names.push_back(name);
    }
    return names;
}

} // namespace

TEST(DeviceNames, ListsAutoSilentAndDefaultFirstAndTheSystemsAfter) {
    for (const listing& list : k_listings) {
        const std::vector<std::string> names = listed_names(list);
        ASSERT_GE(names.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3),
                  (std::vector<std::string>{"auto", "silent", "default"}));
        for (size_t i = 3; i < names.size(); ++i) {
            EXPECT_FALSE(names[i].empty());
            EXPECT_NE(names[i], "default"); // listed once, as the third
        }
        EXPECT_EQ(list.name(int(names.size()), nullptr, 0), -1);
    }
    EXPECT_NE(std::string(MIX_GetLastError()).find("there is no input device"), std::string::npos);
}

TEST(DeviceNames, RefusesAnIndexOutOfRangeAndTooSmallABufferSayingWhatItNeeds) {
    const int count = MIX_GetOutputDeviceCount();
    char name[8] = "x";
    const struct {
        int index;
        char* buffer;
        int size;
        const char* reason;
    } cases[] = {{-1, name, 8, "there is no output device -1"},
                 {count, name, 8, "there is no output device"},
                 {1, name, 6, "needs a buffer of 7 bytes, not 6"}, // "silent"
                 {1, nullptr, 0, "needs a buffer of 7 bytes, not 0"},
                 {0, name, -5, "needs a buffer of 5 bytes, not -5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(MIX_GetOutputDeviceName(c.index, c.buffer, c.size), -1);
        EXPECT_TRUE(contains(MIX_GetLastError(), c.reason)) << MIX_GetLastError();
    }
    EXPECT_STREQ(name, "x");
    EXPECT_EQ(MIX_GetOutputDeviceName(1, name, 7), 0);
    EXPECT_STREQ(name, "silent");
}

TEST(DeviceNames, EachNameOpensItsDeviceOrFailsNamingIt) {
    // A system device may be missing here: "default" then fails, and "auto"
    // opens the silent device saying why.
    const struct {
        const char* name;
        bool may_fail;
        const char* device; // how GetDeviceName starts on success
    } cases[] = {{"silent", false, "the silent virtual device"},
                 {"auto", false, ""},
                 {"default", true, ""},
                 {"no such device", true, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CWaveMixOut ring;
        WAVEFORMATEX format = cd_format();
        const int result = ring.OpenOn(c.name, &format);
        if (!c.device || (result != 0 && c.may_fail)) {
            EXPECT_EQ(result, -2);
            EXPECT_EQ(ring.m_hWaveOut, nullptr);
            EXPECT_TRUE(contains(MIX_GetLastError(), std::string("\"") + c.name + "\""))
                << MIX_GetLastError();
            continue;
        }
        ASSERT_EQ(result, 0) << MIX_GetLastError();
        EXPECT_TRUE(contains(ring.GetDeviceName(), c.device)) << ring.GetDeviceName();
        EXPECT_EQ(ring.Close(), 0);
    }
    CWaveMixOut ring;
    WAVEFORMATEX format = cd_format();
    ASSERT_EQ(ring.OpenOn("no such device", &format), -2);
    EXPECT_TRUE(contains(MIX_GetLastError(), "MIX_GetOutputDeviceName lists them"))
        << MIX_GetLastError();
}

TEST(DeviceNames, TheSilentDeviceRefusesWhatEveryDeviceRefusesAndNamesItself) {
    WAVEFORMATEX twelve_bit{WAVE_FORMAT_PCM, 2, 8000, 24000, 3, 12, 0};
    CWaveMixOut ring;
    EXPECT_EQ(ring.OpenOn("silent", &twelve_bit), -2);
    EXPECT_STREQ(MIX_GetLastError(),
                 "the output device \"silent\" refuses 8000 Hz, 2 channels, 12-bit PCM");
}

TEST(DeviceNames, ANullNameIsTheBuildsDefaultAsInMixInitEx) {
    // The test programs make the silent device the build's default.
    WAVEFORMATEX format = cd_format();
    HSONVALE on = MIX_InitOn(nullptr, &format, 4, 1000, nullptr);
    ASSERT_NE(on, nullptr) << MIX_GetLastError();
    const CWaveMixOut& ring = reinterpret_cast<CSonvale*>(on)->m_waveOut;
    EXPECT_EQ(ring.m_nBuffNum, 4);
    EXPECT_EQ(ring.m_nBuffSize, 1000);
    EXPECT_STREQ(reinterpret_cast<CSonvale*>(on)->m_waveOut.GetDeviceName(),
                 "the silent virtual device");
    EXPECT_EQ(MIX_Close(on), 0);

    WAVEFORMATEX no_channels{WAVE_FORMAT_PCM, 0, 44100, 0, 0, 16, 0};
    const struct {
        WAVEFORMATEX* format;
        int buffers;
    } refused[] = {{&no_channels, 3}, {&format, 0}, {nullptr, 3}};
    for (const auto& r : refused) {
        EXPECT_EQ(MIX_InitEx(r.format, r.buffers, 2048, nullptr), nullptr);
        const std::string ex = MIX_GetLastError();
        EXPECT_EQ(MIX_InitOn(nullptr, r.format, r.buffers, 2048, nullptr), nullptr);
        EXPECT_EQ(MIX_GetLastError(), ex);
    }
}
