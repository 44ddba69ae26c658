// Eight mixers on eight client threads at once, each on a format of its own
// and recording its own stream, half through the class and half through the
// flat functions: every file is byte for byte the header and the items its
// client queued, nothing of another stream in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "output/ring_common.h"
#include "record/record_util.h"
#include "sonvale.h"
#include "stress/stress_common.h"
#include "support/figures.h"

namespace {

using record_test::make_block;

struct stream_format {
    uint32_t rate;
    uint16_t bits;
    uint16_t channels;
};

const stream_format formats[] = {
    {8000, 8, 1},   {22050, 16, 1}, {44100, 16, 2}, {48000, 24, 1},
    {48000, 32, 2}, {11025, 8, 2},  {96000, 24, 2}, {16000, 32, 1},
};

// A client recording one stream; `flat` picks the flat functions.
class stream_client {
public:
    stream_client(int which, const std::string& path, long items)
        : m_which(which), m_path(path), m_items(items), m_format(formats[which]) {}

    void run() {
        WAVEFORMATEX format = ring_test::pcm(m_format.rate, m_format.bits, m_format.channels);
        HSONVALE handle = nullptr;
        CSonvale mixer;
        const bool flat = m_which % 2 == 1;
        if (flat)
            handle = MIX_Init(&format, nullptr);
        const bool opened = flat ? handle != nullptr : mixer.MIX_Init(&format, nullptr) == 0;
        const bool recording =
            opened && (flat ? Record_Open(handle, m_path.c_str(), m_format.rate, m_format.channels,
                                          m_format.bits)
                            : mixer.m_recorder.Open(m_path.c_str(), m_format.rate,
                                                    m_format.channels, m_format.bits));
        if (!recording) {
            problem = "could not open the mixer or its recording";
            MIX_Close(handle);
            return;
        }
        expected = record_test::expected_header(m_format.rate, m_format.channels, m_format.bits, 0);
        for (long k = 0; k < m_items; ++k) {
            // Whole frames of every format here (24 bytes), one block each.
            const uint32_t seq = static_cast<uint32_t>(m_which) << 24 | static_cast<uint32_t>(k);
            const std::vector<char> item = make_block(seq, 24 * (1 + k % 53));
            const auto* bytes = reinterpret_cast<const unsigned char*>(item.data());
            const int len = static_cast<int>(item.size());
            const int result = flat ? MIX_AddData(handle, bytes, len, 5, 1)
                                    : mixer.MIX_AddData(bytes, len, 5, 1, 0);
            if (result != 5)
                problem = "an item was refused";
            expected.insert(expected.end(), item.begin(), item.end());
        }
        if (!test_support::wait_until([&] { return file_size() >= expected.size(); }, 120.0))
            problem = "the recording never reached its size";
        if (flat) {
            Record_Close(handle);
            MIX_Close(handle);
        } else {
            mixer.MIX_Close();
        }
        const uint32_t data = static_cast<uint32_t>(expected.size() - 44);
        const std::vector<uint8_t> header =
            record_test::expected_header(m_format.rate, m_format.channels, m_format.bits, data);
        std::copy(header.begin(), header.end(), expected.begin());
    }

    std::string problem;
    std::vector<uint8_t> expected;

private:
    uint64_t file_size() {
        std::error_code ec;
        const uint64_t size = std::filesystem::file_size(m_path, ec);
        return ec ? 0 : size;
    }

    int m_which;
    std::string m_path;
    long m_items;
    stream_format m_format;
};

TEST(ManyMixers, EightClientThreadsEachRecordTheirOwnStreamExactly) {
    test_support::temp_dir dir;
    const long items = stress::scaled(5000, 20);
    std::vector<stream_client> clients;
    for (int which = 0; which < 8; ++which)
        clients.emplace_back(which, dir.file(std::to_string(which) + ".wav"), items);
    std::vector<std::thread> threads;
    for (stream_client& client : clients)
        threads.emplace_back([&client] { client.run(); });
    for (std::thread& t : threads)
        t.join();

    long long bytes = 0;
    for (int which = 0; which < 8; ++which) {
        const stream_client& client = clients[static_cast<size_t>(which)];
        const std::string path = dir.file(std::to_string(which) + ".wav");
        EXPECT_EQ(client.problem, "") << path;
        const std::vector<uint8_t> file = test_support::read_file(path);
        EXPECT_EQ(file.size(), client.expected.size()) << path;
        EXPECT_TRUE(file == client.expected) << path << " differs from what was queued";
        bytes += static_cast<long long>(file.size()) - 44;
    }
    test_support::report_figure("mixers.streams", 8);
    test_support::report_figure("mixers.bytes_recorded", bytes);
}

} // namespace
