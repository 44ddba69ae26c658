// The ALSA device: plays on (or captures from) a PCM by its name, "default"
// (the user's, so that desktop sound servers are reached through ALSA's own
// plugins) or one that ALSA lists; where alsa-lib cannot be loaded there is
// no such device.
//
// The device thread writes without ever blocking inside ALSA, and sleeps in
// poll() on the PCM's descriptors (when ALSA is full) and on an eventfd that
// wakes it. A buffer is given back as soon as ALSA has taken all of its
// bytes, so what is heard lags the callbacks by at most ALSA's own buffer
// (k_latency_us); what ALSA holds has been given back as played, so only a
// reset with buffers still queued silences it, and closing lets it play out.
// Capturing, the thread reads what ALSA holds as it comes (poll() wakes it
// once a period is there) and recovers from an overrun, counting the frames
// the overrun cost by the time since its last read.
#include "device/alsa_library.h"
#include "device/wave_device.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sonvale {

namespace {

// Long enough to ride out a busy machine, short enough that pause and reset
// are heard at once.
constexpr unsigned k_latency_us = 100000;

// How long the device thread waits for room before it looks again, in case
// a plugin's descriptors fail to signal it: the length of ALSA's buffer.
constexpr int k_room_timeout_ms = int(k_latency_us / 1000);

// The longest close waits for what ALSA still holds to play out; a device
// that reports more (or a stalled server) is cut short.
constexpr std::chrono::milliseconds k_play_out_limit{500};

// How long a stream that has not played yet may take nothing before its
// sound system counts as not answering: a sound server may wait about 2 s
// before it starts a stream (PulseAudio on an idle null sink).
constexpr std::chrono::milliseconds k_start_limit{4000};

// Attempts at a write after an underrun or a suspend before it has failed.
constexpr int k_recover_attempts = 3;

void ignore_alsa_error(const char*, int, const char*, int, const char*, va_list) {}

// alsa-lib prints its errors on stderr. This takes them on the calling thread
// while it lives; other threads, and a handler the host application
// installed for itself, are left alone.
class alsa_quiet {
public:
    explicit alsa_quiet(const alsa_library& alsa)
        : m_alsa(alsa), m_previous(alsa.snd_lib_error_set_local(ignore_alsa_error)) {}
    ~alsa_quiet() { m_alsa.snd_lib_error_set_local(m_previous); }
    alsa_quiet(const alsa_quiet&) = delete;
    alsa_quiet& operator=(const alsa_quiet&) = delete;

private:
    const alsa_library& m_alsa;
    snd_local_error_handler_t m_previous;
};

// ALSA's sample format for a wave format, or SND_PCM_FORMAT_UNKNOWN.
snd_pcm_format_t sample_format(const WAVEFORMATEX& f) {
    const struct {
        uint16_t tag, bits;
        snd_pcm_format_t format;
    } known[] = {{WAVE_FORMAT_PCM, 8, SND_PCM_FORMAT_U8},
                 {WAVE_FORMAT_PCM, 16, SND_PCM_FORMAT_S16_LE},
                 {WAVE_FORMAT_PCM, 24, SND_PCM_FORMAT_S24_3LE},
                 {WAVE_FORMAT_PCM, 32, SND_PCM_FORMAT_S32_LE},
                 {WAVE_FORMAT_IEEE_FLOAT, 32, SND_PCM_FORMAT_FLOAT_LE},
                 {WAVE_FORMAT_IEEE_FLOAT, 64, SND_PCM_FORMAT_FLOAT64_LE}};
    for (const auto& k : known)
        if (k.tag == f.wFormatTag && k.bits == f.wBitsPerSample)
            return k.format;
    return SND_PCM_FORMAT_UNKNOWN;
}

class alsa_backend final : public device_backend {
public:
    alsa_backend(const alsa_library& alsa, snd_pcm_stream_t stream)
        : m_alsa(alsa), m_stream(stream) {}
    ~alsa_backend() override {
        alsa_quiet quiet(m_alsa);
        if (m_pcm)
            m_alsa.snd_pcm_close(m_pcm);
        if (m_wake_fd >= 0)
            ::close(m_wake_fd);
    }

    // WAVE_ERR_NODRIVER when the PCM does not open (no card, no sound
    // server), WAVE_ERR_BADFORMAT when it cannot play `format`.
    int open(const WAVEFORMATEX& format, const char* device, device_note& why) {
        alsa_quiet quiet(m_alsa);
        format_reason(m_name, sizeof m_name, "ALSA %s", device);
        const bool capture = m_stream == SND_PCM_STREAM_CAPTURE;
        const int opened = m_alsa.snd_pcm_open(&m_pcm, device, m_stream, SND_PCM_NONBLOCK);
        if (opened < 0) {
            m_pcm = nullptr;
            why.set("%s does not open: %s", m_name, m_alsa.snd_strerror(opened));
            return WAVE_ERR_NODRIVER;
        }
        if (!linear_format_valid(format)) {
            why.set("ALSA %s PCM and float samples only", capture ? "captures" : "plays");
            return WAVE_ERR_BADFORMAT;
        }
        const int set =
            m_alsa.snd_pcm_set_params(m_pcm, sample_format(format), SND_PCM_ACCESS_RW_INTERLEAVED,
                                      format.nChannels, format.nSamplesPerSec, 1, k_latency_us);
        if (set < 0) {
            why.set("%s cannot %s it: %s", m_name, capture ? "capture" : "play",
                    m_alsa.snd_strerror(set));
            return WAVE_ERR_BADFORMAT;
        }
        m_rate = format.nSamplesPerSec;
        m_frame_bytes = format.nBlockAlign;
        if (!read_setup())
            return WAVE_ERR_BADFORMAT;
        m_carry.reset(new (std::nothrow) char[m_frame_bytes]);
        m_fds.reset(new (std::nothrow) pollfd[1 + m_pcm_fd_count]);
        if (!m_carry || !m_fds)
            return WAVE_ERR_NOMEM;
        m_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_wake_fd < 0)
            return WAVE_ERR_NOMEM;
        m_fds[0] = pollfd{m_wake_fd, POLLIN, 0};
        return WAVE_OK;
    }

    const char* name() const override { return m_name; }

    int64_t write(const char* data, uint32_t bytes) override {
        alsa_quiet quiet(m_alsa);
        if (m_was_idle)
            note_restart();
        if (m_carry_len > 0 || bytes < m_frame_bytes)
            return answered(write_split_frame(data, bytes));
        const snd_pcm_sframes_t frames = write_frames(data, bytes / m_frame_bytes);
        return answered(frames > 0 ? int64_t(frames) * m_frame_bytes : frames);
    }

    int64_t read(char* data, uint32_t bytes, uint64_t& overrun) override {
        alsa_quiet quiet(m_alsa);
        for (int attempt = 0; attempt < k_recover_attempts; ++attempt) {
            const snd_pcm_sframes_t got = m_alsa.snd_pcm_readi(m_pcm, data, bytes / m_frame_bytes);
            const auto now = clock_type::now();
            if (got > 0) {
                m_last_read = now;
                return int64_t(got) * m_frame_bytes;
            }
            if (got == 0 || got == -EAGAIN) {
                if (m_alsa.snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED)
                    m_alsa.snd_pcm_start(m_pcm);
                return 0;
            }
            // What ALSA held when it overran is gone too.
            if (got == -EPIPE)
                overrun += std::max<uint64_t>(
                    1, uint64_t(
                           std::chrono::duration_cast<std::chrono::microseconds>(now - m_last_read)
                               .count()) *
                           m_rate / 1000000);
            m_last_read = now;
            if (m_alsa.snd_pcm_recover(m_pcm, int(got), 1) < 0)
                return -1;
            m_alsa.snd_pcm_start(m_pcm);
        }
        return -1;
    }

    // Nothing more to write for now: a stream that has not started yet plays
    // what it holds, however short.
    void idle() override {
        m_was_idle = true;
        alsa_quiet quiet(m_alsa);
        if (m_alsa.snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED &&
            m_alsa.snd_pcm_avail(m_pcm) < snd_pcm_sframes_t(m_buffer_frames))
            m_alsa.snd_pcm_start(m_pcm);
    }

    // A device that cannot pause refuses; the device thread then simply
    // stops feeding, ALSA plays out what it holds and resumes from there.
    // Capturing stops for good (what ALSA holds is dropped) and starts
    // afresh.
    void pause(clock_type::time_point) override {
        alsa_quiet quiet(m_alsa);
        if (m_stream == SND_PCM_STREAM_CAPTURE) {
            m_alsa.snd_pcm_drop(m_pcm);
            m_alsa.snd_pcm_prepare(m_pcm);
        } else if (m_alsa.snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING) {
            m_alsa.snd_pcm_pause(m_pcm, 1);
        }
    }

    void resume(clock_type::time_point at) override {
        restart_count();
        alsa_quiet quiet(m_alsa);
        if (m_stream == SND_PCM_STREAM_CAPTURE) {
            m_last_read = at;
            m_alsa.snd_pcm_start(m_pcm);
        } else if (m_alsa.snd_pcm_state(m_pcm) == SND_PCM_STATE_PAUSED &&
                   m_alsa.snd_pcm_pause(m_pcm, 0) < 0) {
            m_alsa.snd_pcm_prepare(m_pcm);
        }
    }

    void drop(bool queued) override {
        restart_count();
        alsa_quiet quiet(m_alsa);
        if (queued && m_stream == SND_PCM_STREAM_PLAYBACK) {
            m_alsa.snd_pcm_drop(m_pcm);
            m_alsa.snd_pcm_prepare(m_pcm);
        }
        m_carry_len = 0;
    }

    // A bounded sleep, not a drain, which a stalled server could hold up.
    void drain() override {
        alsa_quiet quiet(m_alsa);
        snd_pcm_sframes_t delay = 0;
        if (m_alsa.snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING ||
            m_alsa.snd_pcm_delay(m_pcm, &delay) < 0 || delay <= 0)
            return;
        const std::chrono::microseconds left(int64_t(delay) * 1000000 / m_rate);
        std::this_thread::sleep_for(std::min<std::chrono::microseconds>(left, k_play_out_limit));
    }

    // Polls the eventfd, and with `for_room` the PCM's descriptors too (see
    // k_room_timeout_ms), without the device's lock.
    void sleep(std::unique_lock<std::mutex>& hold, bool for_room) override {
        hold.unlock();
        alsa_quiet quiet(m_alsa);
        nfds_t count = 1;
        if (for_room && m_alsa.snd_pcm_poll_descriptors(m_pcm, &m_fds[1],
                                                        unsigned(m_pcm_fd_count)) == m_pcm_fd_count)
            count += nfds_t(m_pcm_fd_count);
        const int ready = poll(m_fds.get(), count, for_room ? k_room_timeout_ms : -1);
        eventfd_t ignored = 0;
        eventfd_read(m_wake_fd, &ignored);
        if (ready > 0 && count > 1) {
            // Some plugins need this to clear what woke the poll.
            unsigned short revents = 0;
            m_alsa.snd_pcm_poll_descriptors_revents(m_pcm, &m_fds[1], unsigned(m_pcm_fd_count),
                                                    &revents);
        }
        hold.lock();
    }

    void wake() override { eventfd_write(m_wake_fd, 1); }

private:
    // A stream that plays makes room within ALSA's buffer (k_latency_us):
    // one that takes nothing for k_answer_limit has a sound system that
    // stopped answering (a stopped server), and fails (-1). A stream that
    // has not played yet (it took no more than ALSA's buffer since it
    // started) is given k_start_limit.
    int64_t answered(int64_t taken) {
        if (taken != 0) {
            m_full_since = {};
            m_taken += uint64_t(std::max<int64_t>(taken, 0));
            return taken;
        }
        const clock_type::time_point now = clock_type::now();
        if (m_full_since == clock_type::time_point{})
            m_full_since = now;
        const bool played = m_taken > uint64_t(m_buffer_frames) * m_frame_bytes;
        return now - m_full_since > (played ? k_answer_limit : k_start_limit) ? -1 : 0;
    }

    // The stream starts again, from nothing played.
    void restart_count() {
        m_full_since = {};
        m_taken = 0;
    }

    // After the device thread ran out of buffers: a stream that ran dry
    // starts again.
    void note_restart() {
        m_was_idle = false;
        const snd_pcm_sframes_t room = m_alsa.snd_pcm_avail(m_pcm);
        if (room < 0 || room >= snd_pcm_sframes_t(m_buffer_frames))
            restart_count();
    }

    // Reads back ALSA's buffer and poll descriptors as it set them up.
    bool read_setup() {
        snd_pcm_uframes_t period = 0;
        if (m_alsa.snd_pcm_get_params(m_pcm, &m_buffer_frames, &period) < 0)
            return false;
        m_pcm_fd_count = m_alsa.snd_pcm_poll_descriptors_count(m_pcm);
        return m_pcm_fd_count > 0;
    }

    // A frame split between two buffers is gathered in m_carry and written
    // whole. Bytes that complete it count as taken only once ALSA has it.
    int64_t write_split_frame(const char* data, uint32_t bytes) {
        const uint32_t n = std::min(m_frame_bytes - m_carry_len, bytes);
        std::memcpy(m_carry.get() + m_carry_len, data, n);
        if (m_carry_len + n < m_frame_bytes) {
            m_carry_len += n;
            return n;
        }
        const snd_pcm_sframes_t written = write_frames(m_carry.get(), 1);
        if (written == 0)
            return 0;
        m_carry_len = 0;
        return written > 0 ? n : -1;
    }

    // Frames ALSA took; 0 when it has no room; -1 when the device failed.
    // Underruns and suspends are recovered from: the frames are written again
    // to the prepared stream, so nothing queued is lost.
    snd_pcm_sframes_t write_frames(const char* data, snd_pcm_uframes_t frames) {
        for (int attempt = 0; attempt < k_recover_attempts; ++attempt) {
            const snd_pcm_sframes_t written = m_alsa.snd_pcm_writei(m_pcm, data, frames);
            if (written > 0)
                return written;
            if (written == 0 || written == -EAGAIN) {
                // Full before it started: ALSA would wait for a start that
                // never comes.
                if (m_alsa.snd_pcm_state(m_pcm) == SND_PCM_STATE_PREPARED)
                    m_alsa.snd_pcm_start(m_pcm);
                return 0;
            }
            if (m_alsa.snd_pcm_recover(m_pcm, int(written), 1) < 0)
                return -1;
        }
        return -1;
    }

    const alsa_library& m_alsa;
    const snd_pcm_stream_t m_stream;
    clock_type::time_point m_last_read{}; // capturing: the last read, or the start
    char m_name[224] = {};
    snd_pcm_t* m_pcm = nullptr;
    snd_pcm_uframes_t m_buffer_frames = 0;
    int m_pcm_fd_count = 0;
    std::unique_ptr<pollfd[]> m_fds; // the eventfd, then the PCM's descriptors
    int m_wake_fd = -1;
    uint32_t m_rate = 0; // frames a second
    uint32_t m_frame_bytes = 0;
    std::unique_ptr<char[]> m_carry;       // a frame split between two buffers
    uint32_t m_carry_len = 0;              // bytes in m_carry
    clock_type::time_point m_full_since{}; // since when writes take nothing (zero: they take)
    uint64_t m_taken = 0;                  // bytes taken since the stream started
    bool m_was_idle = false; // the device thread ran out of buffers since the last write
};

} // namespace

bool alsa_available() {
    return alsa_library::get() != nullptr;
}

namespace {

int open_alsa_stream(snd_pcm_stream_t stream, const WAVEFORMATEX& format, const char* device,
                     std::unique_ptr<device_backend>& out, device_note& why) {
    const alsa_library* alsa = alsa_library::get();
    if (!alsa)
        return WAVE_ERR_NODRIVER;
    std::unique_ptr<alsa_backend> backend(new (std::nothrow) alsa_backend(*alsa, stream));
    if (!backend)
        return WAVE_ERR_NOMEM;
    const int result = backend->open(format, device, why);
    if (result == WAVE_OK)
        out = std::move(backend);
    return result;
}

} // namespace

int open_alsa_backend(const WAVEFORMATEX& format, const char* device,
                      std::unique_ptr<device_backend>& out, device_note& why) {
    return open_alsa_stream(SND_PCM_STREAM_PLAYBACK, format, device, out, why);
}

int open_alsa_input_backend(const WAVEFORMATEX& format, const char* device,
                            std::unique_ptr<device_backend>& out, device_note& why) {
    return open_alsa_stream(SND_PCM_STREAM_CAPTURE, format, device, out, why);
}

// The PCMs that play (capture), as `aplay -L` (`arecord -L`) lists them,
// read from ALSA's configuration without opening any.
void list_alsa_devices(wave_direction direction, device_name_fn each, void* context) {
    const char* wanted = direction == wave_direction::input ? "Input" : "Output";
    const alsa_library* alsa = alsa_library::get();
    void** hints = nullptr;
    if (!alsa)
        return;
    alsa_quiet quiet(*alsa);
    if (alsa->snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints)
        return;
    for (void** hint = hints; *hint; ++hint) {
        char* name = alsa->snd_device_name_get_hint(*hint, "NAME");
        char* io = alsa->snd_device_name_get_hint(*hint, "IOID");
        // No direction means both; "default" has a name of its own.
        if (name && (!io || std::strcmp(io, wanted) == 0) && std::strcmp(name, "default") != 0)
            each(name, context);
        std::free(name);
        std::free(io);
    }
    alsa->snd_device_name_free_hint(hints);
}

} // namespace sonvale
