// What a recorder keeps beyond its released members: its recording's flags
// and account, and the partial frame its mixer's stream left over. Kept
// beside the recorder, found by its address, so that the exported class's
// layout stays as it was released.
#pragma once

#include <cstdint>
#include <memory>

#include "sonvale.h"

struct CWaveRecorder::State {
    unsigned int flags = 0;          // the open recording's Record_OpenEx flags
    bool rf64 = false;               // the file's header is RF64
    bool header_stale = false;       // the last header update failed
    uint64_t lost = 0;               // bytes of this recording lost
    uint64_t lost_reported = 0;      // `lost` when MIX_Flush last reported
    char loss_reason[640] = {};      // the first loss since that report
    std::unique_ptr<char[]> path;    // the open file's path, for reasons
    unsigned char stream_tail[1280]; // the mixer's stream's unfinished frame
    uint32_t stream_tail_len = 0;    // its bytes
};

namespace sonvale {

using recorder_state = CWaveRecorder::State;

// The state of `recorder`; made when there is none yet and `create` is
// set. Null without one (or without memory for it).
recorder_state* recorder_state_of(const CWaveRecorder* recorder, bool create);

// Destroys the state of `recorder`, if any.
void release_recorder_state(const CWaveRecorder* recorder);

} // namespace sonvale
