#include "player.h"

#include "errors.h"
#include "pcm_format.h"

#include <algorithm>
#include <cstring>

namespace sonvale_cli {

player::player(CSonvale& mixer, const std::vector<unsigned char>& data, progress_bar& bar)
    : m_mixer(mixer), m_ring(mixer.m_waveOut), m_data(data), m_bar(bar) {}

bool player::play() {
    unsigned int capacity = 0;
    unsigned char* buffer = m_ring.GetNextBuff(capacity);
    if (!buffer)
        throw command_error("the output ring has no buffers");
    // Whole sample frames in every buffer, so none straddles two.
    unsigned int frame = m_ring.getWaveFormate()->nBlockAlign;
    if (frame != 0 && capacity >= frame)
        capacity -= capacity % frame;

    m_bar.update(0.0, total_seconds());
    for (size_t offset = 0; offset < m_data.size() && !m_stop;) {
        auto len = static_cast<unsigned int>(std::min<size_t>(capacity, m_data.size() - offset));
        std::memcpy(buffer, m_data.data() + offset, len);
        if (!submit(buffer, len))
            return false;
        offset += len;
    }
    // Each call returns once the buffer queued (ring size - 1) calls earlier
    // has played, so that many empty buffers wait out the last sound.
    for (int i = 1; i < m_ring.m_nBuffNum && !m_stop; ++i)
        if (!submit(buffer, 0))
            return false;
    return true;
}

bool player::submit(unsigned char*& buffer, unsigned int len) {
    buffer = m_ring.SingAndRetNextBuff(len);
    // A lost device gave its buffers back unplayed: what was played stays
    // as counted.
    if (!buffer)
        return false;
    m_in_ring.push_back(len);
    while (m_in_ring.size() >= static_cast<size_t>(std::max(m_ring.m_nBuffNum, 1))) {
        m_played += m_in_ring.front();
        m_in_ring.pop_front();
    }
    m_bar.update(played_seconds(), total_seconds());
    return true;
}

void player::on_key(int key) {
    if (key == ' ')
        toggle_pause();
    else if (key == 'q' || key == 'Q')
        stop();
}

void player::toggle_pause() {
    if (m_stop)
        return;
    m_paused = !m_paused;
    if (m_paused)
        m_mixer.MIX_Pause();
    else
        m_mixer.MIX_Restart();
    m_bar.set_note(m_paused ? "paused (space resumes)" : "");
}

void player::stop() {
    m_stop = true;
    // A paused ring would hold play() in its wait for a buffer.
    if (m_paused)
        m_mixer.MIX_Restart();
    m_paused = false;
}

double player::played_seconds() const {
    return seconds_of(m_played, *m_ring.getWaveFormate());
}

double player::total_seconds() const {
    return seconds_of(m_data.size(), *m_ring.getWaveFormate());
}

} // namespace sonvale_cli
