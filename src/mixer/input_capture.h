// A mixer's capture from an input device: the device's thread fills buffers
// allocated when the capture starts and hands each full one over; a relay
// thread of the capture's own queues them on the mixer as stream runs and
// gives them back to the device once the worker is done with them, and
// counts what the device lost in the recording. So the device's thread never
// waits for the worker or the disk, nor allocates, nor takes the recorder's
// lock. The captures live in a registry keyed by the mixer, as the mixer
// holds no member for one.
#pragma once

#include "sonvale.h"

#include <cstdint>

namespace sonvale {

struct stream_run;

// What a capture needs of its mixer.
struct capture_link {
    CSonvale* mixer;
    // Posts `run` to the worker as a unit of `bytes` bytes: the mixer's
    // count of queued units once posted (the worker has finished the run
    // once it has finished as many); 0 when no worker takes it (the bytes
    // then counted lost).
    uint64_t (*post)(CSonvale* mixer, stream_run& run, uint64_t bytes);
    // Units the worker has finished, ever.
    uint64_t (*finished)(const CSonvale* mixer);
    // Counts `bytes` lost to the open recording, for `reason`.
    void (*lose)(CSonvale* mixer, uint64_t bytes, const char* reason);
};

// Starts capturing from the input device called `device` into the mixer
// (format: the mixer's), queueing its first `frames` (0: all). 0; -1 when
// one runs already or memory runs out; -2 when the device does not open (the
// reason says why).
int capture_start(const capture_link& link, const WAVEFORMATEX& format, const char* device,
                  uint64_t frames);
// Stops the mixer's capture, queueing what was captured; nothing when none
// runs.
void capture_stop(const CSonvale* mixer);

} // namespace sonvale
