// Plays sample data through a mixer's output ring at the device's pace, with
// pause, resume and stop from another thread.
#pragma once

#include "progress.h"

#include <sonvale.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

namespace sonvale_cli {

class player {
public:
    // `mixer` is open on the data's format; `bar` shows the time played.
    player(CSonvale& mixer, const std::vector<unsigned char>& data, progress_bar& bar);

    // Feeds the whole data (or until stop()) and returns once the device has
    // played it: true; false as soon as the device is lost.
    bool play();

    // From any one other thread while play() runs: space pauses and resumes,
    // q stops.
    void on_key(int key);

    bool stopped() const { return m_stop; }
    double played_seconds() const;
    double total_seconds() const;

private:
    void toggle_pause();
    void stop();
    // False when the device was lost.
    bool submit(unsigned char*& buffer, unsigned int len);

    CSonvale& m_mixer;
    CWaveMixOut& m_ring;
    const std::vector<unsigned char>& m_data;
    progress_bar& m_bar;
    std::atomic<bool> m_stop{false};
    bool m_paused = false;              // the key thread's own
    std::deque<unsigned int> m_in_ring; // lengths of the buffers maybe still playing
    uint64_t m_played = 0;
};

} // namespace sonvale_cli
