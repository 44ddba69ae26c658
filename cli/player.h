// Plays a WAV file through a mixer's output ring at the device's pace, on a
// thread of its own, so that the thread controlling it (keys, interrupts,
// progress) never waits behind a ring call or a device that stops
// answering.
#pragma once

#include "wav_file.h"

#include <sonvale.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace sonvale_cli {

class player {
public:
    // `mixer` is open on the file's format, and is the playing thread's
    // from start() on: it closes the mixer when it is done.
    player(CSonvale& mixer, wav_file& file);
    // Waits for the playing thread (see finished()).
    ~player();
    player(const player&) = delete;
    player& operator=(const player&) = delete;

    // Starts playing: the file (or until stop()), then until the device has
    // played it.
    void start();
    // Waits at most `timeout` for the playing thread to have closed the
    // mixer; true once it has.
    bool finished(std::chrono::milliseconds timeout);
    // Once finished: true when played to the end or stopped; false when the
    // device was lost. Throws what the playing thread threw (a file that
    // cannot be read).
    bool result();

    // From the controlling thread, without waiting on the device. Pauses
    // or resumes: true when now paused.
    bool toggle_pause();
    void stop();

    bool stopped() const { return m_stop; }
    double played_seconds() const;
    double total_seconds() const;

private:
    void run();
    bool play();
    // False when the device was lost.
    bool submit(unsigned char*& buffer, unsigned int len);

    CSonvale& m_mixer;
    CWaveMixOut& m_ring;
    wav_file& m_file;
    WAVEFORMATEX m_format;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_played{0};
    bool m_paused = false;              // the controlling thread's own
    std::deque<unsigned int> m_in_ring; // lengths of the buffers maybe still playing
    // Held by the playing thread while it closes the mixer, when pausing
    // and restarting are no longer allowed; the controlling thread only
    // tries it.
    std::mutex m_device_calls;
    std::mutex m_lock; // for what follows
    std::condition_variable m_done_changed;
    bool m_done = false;
    bool m_played_whole = false;
    std::exception_ptr m_error;
};

// The output ring's buffer size for `format`: 2048 bytes, but at most a
// twentieth of a second (a key's answer waits for a buffer to play), and at
// least a whole frame.
int ring_buffer_size(const WAVEFORMATEX& format);

} // namespace sonvale_cli
