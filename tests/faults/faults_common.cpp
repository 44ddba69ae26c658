#include "faults/faults_common.h"

#include "support/wav_readback.h"

namespace faults {

std::vector<uint32_t> recorded_items(const std::string& path, std::string& problem) {
    const test_support::wav_readback wav = test_support::read_wav_back(path);
    problem = wav.problem;
    std::vector<uint32_t> seqs;
    if (problem.empty() && !record_test::parse_blocks(wav.data.data(), wav.data.size(), seqs))
        problem = path + ": not a run of whole items";
    return seqs;
}

} // namespace faults
