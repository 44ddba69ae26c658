#include "player.h"

#include "errors.h"
#include "pcm_format.h"

#include <algorithm>

namespace sonvale_cli {

namespace {

constexpr unsigned int usual_buffer_bytes = 2048;
constexpr unsigned int buffers_a_second = 20;

} // namespace

player::player(CSonvale& mixer, wav_file& file)
    : m_mixer(mixer), m_ring(mixer.m_waveOut), m_file(file), m_format(*m_ring.getWaveFormate()) {}

player::~player() {
    if (m_thread.joinable())
        m_thread.join();
}

void player::start() {
    m_thread = std::thread(&player::run, this);
}

bool player::finished(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_done_changed.wait_for(hold, timeout, [this] { return m_done; });
}

bool player::result() {
    m_thread.join();
    if (m_error)
        std::rethrow_exception(m_error);
    return m_played_whole;
}

void player::run() {
    bool whole = false;
    std::exception_ptr error;
    try {
        whole = play();
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> closing(m_device_calls);
        m_mixer.MIX_Close();
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_done = true;
    m_played_whole = whole;
    m_error = error;
    m_done_changed.notify_all();
}

bool player::play() {
    unsigned int capacity = 0;
    unsigned char* buffer = m_ring.GetNextBuff(capacity);
    if (!buffer)
        throw command_error("the output ring has no buffers");
    // Whole sample frames in every buffer, so none straddles two.
    const unsigned int frame = m_format.nBlockAlign;
    if (frame != 0 && capacity >= frame)
        capacity -= capacity % frame;

    for (uint64_t offset = 0; offset < m_file.bytes() && !m_stop;) {
        auto len = static_cast<unsigned int>(std::min<uint64_t>(capacity, m_file.bytes() - offset));
        m_file.read(buffer, len);
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
    return true;
}

bool player::toggle_pause() {
    std::unique_lock<std::mutex> device(m_device_calls, std::try_to_lock);
    if (!device || m_stop)
        return m_paused;
    m_paused = !m_paused;
    if (m_paused)
        m_mixer.MIX_Pause();
    else
        m_mixer.MIX_Restart();
    return m_paused;
}

void player::stop() {
    m_stop = true;
    // A paused ring would hold the playing thread in its wait for a buffer.
    std::unique_lock<std::mutex> device(m_device_calls, std::try_to_lock);
    if (device && m_paused)
        m_mixer.MIX_Restart();
    m_paused = false;
}

double player::played_seconds() const {
    return seconds_of(m_played, m_format);
}

double player::total_seconds() const {
    return seconds_of(m_file.bytes(), m_format);
}

int ring_buffer_size(const WAVEFORMATEX& format) {
    const unsigned int frame = std::max<unsigned int>(format.nBlockAlign, 1);
    const unsigned int short_buffer = format.nAvgBytesPerSec / buffers_a_second / frame * frame;
    return static_cast<int>(std::max(frame, std::min(usual_buffer_bytes, short_buffer)));
}

} // namespace sonvale_cli
