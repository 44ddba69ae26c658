// The winmm backend: the system's wave mapper (WAVE_MAPPER) or a device by
// its product name, opened with a function callback. The core's buffers are copied into a few
// blocks of the backend's own, each about 20 ms long, which winmm plays in turn; a buffer thus
// counts as played once its bytes are in a block, and winmm holds at most about a tenth of a second
// beyond it.
//
// Capturing, winmm fills a ring of such blocks of the backend's own; each is
// read out as it comes back and queued again at once, and a time when winmm
// held none counts as an overrun.
//
// winmm calls the callback on a thread of its own, from inside its own
// locks, where no other waveOut function may be called: the callback only
// marks its block free and wakes the device thread, which does the rest.
#include "device/wave_device.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

namespace sonvale {

namespace {

constexpr int k_blocks = 5;
constexpr uint32_t k_block_ms = 20;
// How long closing lets winmm play out what it holds before it is cut off.
constexpr auto k_drain_limit = std::chrono::seconds(1);

int wave_result_of(MMRESULT result) {
    switch (result) {
    case MMSYSERR_NOERROR:
        return WAVE_OK;
    case WAVERR_BADFORMAT:
        return WAVE_ERR_BADFORMAT;
    case MMSYSERR_NOMEM:
        return WAVE_ERR_NOMEM;
    default:
        return WAVE_ERR_NODRIVER; // no device, no driver, or none that opens
    }
}

class winmm_backend final : public device_backend {
public:
    winmm_backend() = default;
    ~winmm_backend() override { close(); }

    int open(const WAVEFORMATEX& format, UINT id);

    const char* name() const override { return m_name; }
    void set_name(const char* device) { format_reason(m_name, sizeof m_name, "winmm %s", device); }
    int64_t write(const char* data, uint32_t bytes) override;
    void idle() override { submit_whole_frames(); }
    void pause(clock_type::time_point) override {
        m_paused = true;
        waveOutPause(m_out);
    }
    void resume(clock_type::time_point) override {
        m_paused = false;
        waveOutRestart(m_out);
    }
    void drop(bool queued) override;
    void drain() override;
    HWAVEOUT system_handle() const override { return m_out; }

private:
    struct block {
        WAVEHDR hdr{};
        std::unique_ptr<char[]> bytes;
        std::atomic<bool> held{false}; // queued on winmm, not yet given back
    };

    static void CALLBACK on_message(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                    DWORD_PTR);
    // Hands the block being filled to winmm with its first `length` bytes.
    void submit(uint32_t length);
    // Submits the whole frames of the block being filled; a split frame at
    // its end waits in m_carry for the bytes that complete it.
    void submit_whole_frames();
    bool any_held() const;
    void close();

    char m_name[224] = "the Windows wave mapper";
    HWAVEOUT m_out = nullptr;
    block m_blocks[k_blocks];
    uint32_t m_block_bytes = 0;
    uint32_t m_align = 1;
    int m_next = 0;        // the block being filled
    uint32_t m_filled = 0; // its bytes so far
    std::unique_ptr<char[]> m_carry;
    uint32_t m_carried = 0;
    bool m_paused = false;
};

int winmm_backend::open(const WAVEFORMATEX& format, UINT id) {
    m_align = format.nBlockAlign;
    const uint32_t frames = std::max<uint32_t>(
        static_cast<uint32_t>(uint64_t(format.nAvgBytesPerSec) * k_block_ms / 1000 / m_align), 1);
    m_block_bytes = frames * m_align;
    m_carry.reset(new (std::nothrow) char[m_align]);
    if (!m_carry)
        return WAVE_ERR_NOMEM;
    for (block& b : m_blocks) {
        b.bytes.reset(new (std::nothrow) char[m_block_bytes]);
        if (!b.bytes)
            return WAVE_ERR_NOMEM;
        b.hdr.lpData = b.bytes.get();
        b.hdr.dwBufferLength = m_block_bytes;
    }
    const MMRESULT opened =
        waveOutOpen(&m_out, id, &format, reinterpret_cast<DWORD_PTR>(&on_message),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (opened != MMSYSERR_NOERROR) {
        m_out = nullptr;
        return wave_result_of(opened);
    }
    for (block& b : m_blocks) {
        const MMRESULT prepared = waveOutPrepareHeader(m_out, &b.hdr, sizeof b.hdr);
        if (prepared != MMSYSERR_NOERROR)
            return wave_result_of(prepared);
    }
    return WAVE_OK;
}

void CALLBACK winmm_backend::on_message(HWAVEOUT, UINT message, DWORD_PTR instance,
                                        DWORD_PTR param1, DWORD_PTR) {
    if (message != WOM_DONE || !instance || !param1)
        return;
    auto* self = reinterpret_cast<winmm_backend*>(instance);
    for (block& b : self->m_blocks)
        if (&b.hdr == reinterpret_cast<WAVEHDR*>(param1))
            b.held = false;
    self->wake();
}

int64_t winmm_backend::write(const char* data, uint32_t bytes) {
    uint32_t taken = 0;
    while (taken < bytes && !m_blocks[m_next].held) {
        char* into = m_blocks[m_next].bytes.get();
        if (m_filled == 0 && m_carried > 0) {
            std::memcpy(into, m_carry.get(), m_carried);
            m_filled = m_carried;
            m_carried = 0;
        }
        const uint32_t n = std::min(bytes - taken, m_block_bytes - m_filled);
        std::memcpy(into + m_filled, data + taken, n);
        m_filled += n;
        taken += n;
        if (m_filled == m_block_bytes)
            submit(m_block_bytes);
    }
    return taken;
}

void winmm_backend::submit(uint32_t length) {
    block& b = m_blocks[m_next];
    b.hdr.dwBufferLength = length;
    b.held = true;
    if (waveOutWrite(m_out, &b.hdr, sizeof b.hdr) != MMSYSERR_NOERROR)
        b.held = false; // refused: the block is lost, the stream goes on
    m_next = (m_next + 1) % k_blocks;
    m_filled = 0;
}

void winmm_backend::submit_whole_frames() {
    const uint32_t split = m_filled % m_align;
    const uint32_t whole = m_filled - split;
    if (whole == 0)
        return;
    std::memcpy(m_carry.get(), m_blocks[m_next].bytes.get() + whole, split);
    m_carried = split;
    submit(whole);
}

void winmm_backend::drop(bool queued) {
    m_carried = 0;
    if (!queued) {
        submit_whole_frames();
        m_carried = 0;
        return;
    }
    m_filled = 0;
    waveOutReset(m_out);
    if (m_paused)
        waveOutPause(m_out);
}

bool winmm_backend::any_held() const {
    return std::any_of(std::begin(m_blocks), std::end(m_blocks),
                       [](const block& b) { return b.held.load(); });
}

void winmm_backend::drain() {
    if (!m_out)
        return;
    submit_whole_frames();
    const auto deadline = clock_type::now() + k_drain_limit;
    while (!m_paused && any_held() && clock_type::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void winmm_backend::close() {
    if (!m_out)
        return;
    if (any_held())
        waveOutReset(m_out);
    for (block& b : m_blocks)
        waveOutUnprepareHeader(m_out, &b.hdr, sizeof b.hdr);
    waveOutClose(m_out);
    m_out = nullptr;
}

// The product name of device `id` of `direction`, as UTF-8; false when
// there is none.
bool winmm_device_name(wave_direction direction, UINT id, char (&name)[4 * MAXPNAMELEN]) {
    WAVEOUTCAPSW out{};
    WAVEINCAPSW in{};
    const bool input = direction == wave_direction::input;
    const MMRESULT asked =
        input ? waveInGetDevCapsW(id, &in, sizeof in) : waveOutGetDevCapsW(id, &out, sizeof out);
    return asked == MMSYSERR_NOERROR &&
           WideCharToMultiByte(CP_UTF8, 0, input ? in.szPname : out.szPname, -1, name, sizeof name,
                               nullptr, nullptr) > 0;
}

constexpr int k_input_blocks = 10;

class winmm_input_backend final : public device_backend {
public:
    winmm_input_backend() = default;
    ~winmm_input_backend() override { close(); }

    int open(const WAVEFORMATEX& format, UINT id);
    const char* name() const override { return m_name; }
    void set_name(const char* device) { std::snprintf(m_name, sizeof m_name, "winmm %s", device); }
    int64_t write(const char*, uint32_t) override { return -1; }
    int64_t read(char* data, uint32_t bytes, uint64_t& overrun) override;
    void pause(clock_type::time_point) override { waveInStop(m_in); }
    void resume(clock_type::time_point) override { waveInStart(m_in); }
    void drop(bool) override {}

protected:
    clock_type::time_point room_at() override {
        return clock_type::now() + std::chrono::milliseconds(k_block_ms / 2);
    }

private:
    struct block {
        WAVEHDR hdr{};
        std::unique_ptr<char[]> bytes;
        std::atomic<bool> full{false}; // given back by winmm, not yet read out
    };

    static void CALLBACK on_message(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                                    DWORD_PTR);
    // Queues the block read out on winmm again; false when winmm refuses.
    bool requeue(block& b, uint64_t& overrun);
    void close();

    char m_name[224] = "the Windows wave mapper";
    HWAVEIN m_in = nullptr;
    block m_blocks[k_input_blocks];
    uint32_t m_rate = 1; // frames a second
    uint32_t m_align = 1;
    int m_next = 0;         // the block read next
    uint32_t m_read = 0;    // its bytes read out so far
    bool m_starved = false; // winmm held no block since m_starved_at
    clock_type::time_point m_starved_at{};
};

int winmm_input_backend::open(const WAVEFORMATEX& format, UINT id) {
    m_rate = format.nSamplesPerSec;
    m_align = format.nBlockAlign;
    const uint32_t frames = std::max<uint32_t>(
        static_cast<uint32_t>(uint64_t(format.nAvgBytesPerSec) * k_block_ms / 1000 / m_align), 1);
    for (block& b : m_blocks) {
        b.bytes.reset(new (std::nothrow) char[frames * m_align]);
        if (!b.bytes)
            return WAVE_ERR_NOMEM;
        b.hdr.lpData = b.bytes.get();
        b.hdr.dwBufferLength = frames * m_align;
    }
    const MMRESULT opened = waveInOpen(&m_in, id, &format, reinterpret_cast<DWORD_PTR>(&on_message),
                                       reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (opened != MMSYSERR_NOERROR) {
        m_in = nullptr;
        return wave_result_of(opened);
    }
    for (block& b : m_blocks)
        if (waveInPrepareHeader(m_in, &b.hdr, sizeof b.hdr) != MMSYSERR_NOERROR ||
            waveInAddBuffer(m_in, &b.hdr, sizeof b.hdr) != MMSYSERR_NOERROR)
            return WAVE_ERR_NOMEM;
    return WAVE_OK;
}

void CALLBACK winmm_input_backend::on_message(HWAVEIN, UINT message, DWORD_PTR instance,
                                              DWORD_PTR param1, DWORD_PTR) {
    if (message != WIM_DATA || !instance || !param1)
        return;
    auto* self = reinterpret_cast<winmm_input_backend*>(instance);
    for (block& b : self->m_blocks)
        if (&b.hdr == reinterpret_cast<WAVEHDR*>(param1))
            b.full = true;
    self->wake();
}

int64_t winmm_input_backend::read(char* data, uint32_t bytes, uint64_t& overrun) {
    uint32_t given = 0;
    while (given < bytes && m_blocks[m_next].full) {
        block& b = m_blocks[m_next];
        const uint32_t recorded = b.hdr.dwBytesRecorded - b.hdr.dwBytesRecorded % m_align;
        const uint32_t n = std::min(bytes - given, recorded - m_read);
        std::memcpy(data + given, b.bytes.get() + m_read, n);
        given += n;
        m_read += n;
        if (m_read < recorded)
            break;
        if (!requeue(b, overrun))
            return -1;
    }
    return given;
}

bool winmm_input_backend::requeue(block& b, uint64_t& overrun) {
    const bool all_full = std::all_of(std::begin(m_blocks), std::end(m_blocks),
                                      [](const block& each) { return each.full.load(); });
    const auto now = clock_type::now();
    if (all_full && !m_starved) {
        m_starved = true;
        m_starved_at = now;
    } else if (m_starved) {
        m_starved = false;
        overrun +=
            uint64_t(
                std::chrono::duration_cast<std::chrono::milliseconds>(now - m_starved_at).count()) *
            m_rate / 1000;
    }
    m_read = 0;
    b.full = false;
    m_next = (m_next + 1) % k_input_blocks;
    return waveInAddBuffer(m_in, &b.hdr, sizeof b.hdr) == MMSYSERR_NOERROR;
}

void winmm_input_backend::close() {
    if (!m_in)
        return;
    waveInReset(m_in);
    for (block& b : m_blocks)
        waveInUnprepareHeader(m_in, &b.hdr, sizeof b.hdr);
    waveInClose(m_in);
    m_in = nullptr;
}

// Each device's product name, as UTF-8, until `each` says it is found.
template <class Each> void for_each_winmm_device(wave_direction direction, Each each) {
    const UINT count =
        direction == wave_direction::input ? waveInGetNumDevs() : waveOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        char name[4 * MAXPNAMELEN];
        if (winmm_device_name(direction, id, name) && !each(id, name))
            return;
    }
}

// The device called `device`: the wave mapper for "default".
bool winmm_device_id(wave_direction direction, const char* device, UINT& id) {
    if (std::strcmp(device, "default") == 0) {
        id = WAVE_MAPPER;
        return true;
    }
    bool found = false;
    for_each_winmm_device(direction, [&](UINT each, const char* name) {
        found = std::strcmp(name, device) == 0;
        if (found)
            id = each;
        return !found;
    });
    return found;
}

template <class Backend>
int open_winmm(wave_direction direction, const WAVEFORMATEX& format, const char* device,
               std::unique_ptr<device_backend>& out, device_note& why) {
    const bool input = direction == wave_direction::input;
    UINT id = WAVE_MAPPER;
    if (!winmm_device_id(direction, device, id)) {
        why.set("winmm has no %sdevice called \"%s\" now", input ? "input " : "", device);
        return WAVE_ERR_NODRIVER;
    }
    std::unique_ptr<Backend> backend(new (std::nothrow) Backend);
    if (!backend)
        return WAVE_ERR_NOMEM;
    if (id != WAVE_MAPPER)
        backend->set_name(device);
    const int result = backend->open(format, id);
    if (result == WAVE_OK)
        out = std::move(backend);
    else if (result == WAVE_ERR_BADFORMAT)
        why.set("%s cannot %s it", backend->name(), input ? "capture" : "play");
    return result;
}

} // namespace

int open_winmm_backend(const WAVEFORMATEX& format, const char* device,
                       std::unique_ptr<device_backend>& out, device_note& why) {
    return open_winmm<winmm_backend>(wave_direction::output, format, device, out, why);
}

int open_winmm_input_backend(const WAVEFORMATEX& format, const char* device,
                             std::unique_ptr<device_backend>& out, device_note& why) {
    return open_winmm<winmm_input_backend>(wave_direction::input, format, device, out, why);
}

void list_winmm_devices(wave_direction direction, device_name_fn each, void* context) {
    for_each_winmm_device(direction, [&](UINT, const char* name) {
        each(name, context);
        return true;
    });
}

} // namespace sonvale
