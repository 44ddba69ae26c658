// The files a power cut could leave of one recording, in the model of ALICE
// and CrashMonkey. Installed under CFile through the write seam, it logs
// every write, cut and sync of the file being recorded without touching the
// disk (so a recording may pass 4 GiB in the log alone). check() then builds
// the images a cut could leave: every step before a sync persisted, and any
// subset of the writes after it, each possibly torn at 512-byte sectors; and
// reads each as a WAV file (src/wav) against what was recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace test_support {

class crash_states {
public:
    // The data recorded is `period` repeated: byte d of the data is
    // period[d % period.size()].
    explicit crash_states(std::vector<uint8_t> period);
    ~crash_states();
    crash_states(const crash_states&) = delete;
    crash_states& operator=(const crash_states&) = delete;

    // From now on every image must hold the first `data_bytes` of the data:
    // the recording was opened (0), or a flush returned success.
    void require(uint64_t data_bytes);

    struct outcome {
        uint64_t syncs = 0;
        uint64_t images = 0;
        uint64_t failures = 0;
        std::map<std::string, uint64_t> reasons; // failing images by reason
        std::string first;                       // the first failure, in detail
    };
    // Checks `per_sync` images (the first two: all later writes whole, none)
    // after each sync, and before the first.
    outcome check(unsigned per_sync, unsigned seed) const;

    struct step {
        enum kind_t { write, cut, sync, sync_folder } kind;
        uint64_t at, len; // a write's place; a cut's size in `at`
        int header;       // a header write: index into m_headers; else -1
        bool expected;    // a data write holding the recorded data
    };

private:
    std::vector<uint8_t> m_period;
    std::vector<step> m_log;
    std::vector<std::vector<uint8_t>> m_headers;
    std::vector<std::pair<size_t, uint64_t>> m_required; // (log size, data)
    std::vector<uint64_t> m_block_ends;                  // data offsets
    uint64_t m_data_start = 0;
    uint64_t m_position = 0;
    const void* m_last_ptr = nullptr; // the last data write found expected
    uint64_t m_last_len = 0, m_last_phase = 0;

    friend struct crash_log;
};

} // namespace test_support
