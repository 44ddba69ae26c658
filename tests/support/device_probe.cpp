#include "support/device_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace sonvale;

// The ALSA device reaches PulseAudio through ALSA's pulse plugin. libpulse is
// not instrumented and hands memory between its threads through lock-free
// structures the race detector cannot see; every test program that opens the
// device links this file.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulse\n";
}

namespace test_support {

WAVEFORMATEX wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = uint16_t(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

bool null_sink_expected() {
    return std::getenv("SONVALE_TEST_NULL_SINK") != nullptr;
}

void skip_unless_device_plays(sonvale::wave_backend backend) {
    if (backend != sonvale::wave_backend::alsa && backend != sonvale::wave_backend::winmm)
        return;
    const char* name = backend == sonvale::wave_backend::alsa ? "ALSA" : "winmm";
    if (!sonvale::wave_backend_available(backend))
        GTEST_SKIP() << "built without " << name;
    const WAVEFORMATEX format = wave_format(WAVE_FORMAT_PCM, 2, 44100, 16);
    HWAVEOUT device = nullptr;
    if (sonvale::wave_out_open_on(backend, &device, &format, nullptr, 0) == sonvale::WAVE_OK) {
        sonvale::wave_out_close(device);
        return;
    }
    if (null_sink_expected())
        FAIL() << "the " << name << " default device does not open";
    GTEST_SKIP() << "no " << name << " default device plays here";
}

namespace {

class fake_backend final : public device_backend {
public:
    explicit fake_backend(std::shared_ptr<fake_device> state) : m_state(std::move(state)) {}

    const char* name() const override { return "fake"; }
    int64_t write(const char* data, uint32_t bytes) override {
        std::unique_lock<std::mutex> hold(m_state->lock);
        while (m_state->hung) { // a sound system that stopped answering
            hold.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            hold.lock();
        }
        if (m_state->failing)
            return -1;
        const uint32_t n = std::min(bytes, m_state->room);
        m_state->written.insert(m_state->written.end(), data, data + n);
        return n;
    }
    int64_t read(char* data, uint32_t bytes, uint64_t& overrun) override {
        std::lock_guard<std::mutex> hold(m_state->lock);
        if (m_state->failing)
            return -1;
        overrun += m_state->overrun;
        m_state->overrun = 0;
        const uint32_t n = std::min(bytes, m_state->ready);
        for (uint32_t i = 0; i < n; ++i)
            data[i] = char(m_state->next++);
        m_state->ready -= n;
        return n;
    }
    void pause(clock_type::time_point) override { count(m_state->pauses); }
    void resume(clock_type::time_point) override { count(m_state->resumes); }
    void drop(bool queued) override { count(queued ? m_state->silencing_drops : m_state->drops); }
    void drain() override { count(m_state->drains); }

private:
    void count(int& counter) {
        std::lock_guard<std::mutex> hold(m_state->lock);
        ++counter;
    }

    std::shared_ptr<fake_device> m_state;
};

} // namespace

std::unique_ptr<device_backend> make_fake_backend(std::shared_ptr<fake_device> state) {
    return std::make_unique<fake_backend>(std::move(state));
}

device_probe::~device_probe() {
    if (m_device) {
        wave_out_reset(m_device);
        EXPECT_EQ(wave_out_close(m_device), WAVE_OK);
    }
}

int device_probe::open(device_kind kind, const WAVEFORMATEX& format, bool with_callback) {
    const wave_out_callback on_message = with_callback ? &device_probe::callback : nullptr;
    const auto instance = reinterpret_cast<DWORD_PTR>(this);
    if (kind == device_kind::fake)
        return wave_out_open_backend(make_fake_backend(fake_state), &m_device, on_message,
                                     instance);
    const wave_backend backend = kind == device_kind::alsa        ? wave_backend::alsa
                                 : kind == device_kind::winmm     ? wave_backend::winmm
                                 : kind == device_kind::automatic ? wave_backend::automatic
                                                                  : wave_backend::virtual_device;
    return wave_out_open_on(backend, &m_device, &format, on_message, instance);
}

int device_probe::open_input(device_kind kind, const WAVEFORMATEX& format) {
    m_done = wave_in_data;
    const auto instance = reinterpret_cast<DWORD_PTR>(this);
    if (kind == device_kind::fake)
        return wave_in_open_backend(std::make_unique<fake_backend>(fake_state), format.nBlockAlign,
                                    &m_device, &device_probe::callback, instance);
    device_note why;
    return wave_in_open_named(kind == device_kind::virtual_device ? "silent" : "default", &m_device,
                              &format, &device_probe::callback, instance, why);
}

int device_probe::close() {
    const int result = wave_out_close(m_device);
    if (result == WAVE_OK)
        m_device = nullptr;
    return result;
}

WAVEHDR* device_probe::buffer(uint32_t length, char fill) {
    m_data.emplace_back(length + 1, fill);
    WAVEHDR& header = m_headers.emplace_back();
    header.lpData = m_data.back().data();
    header.dwBufferLength = length;
    return &header;
}

WAVEHDR* device_probe::queue(WAVEHDR* header) {
    EXPECT_EQ(wave_out_prepare_header(m_device, header), WAVE_OK);
    EXPECT_EQ(wave_out_write(m_device, header), WAVE_OK);
    return header;
}

WAVEHDR* device_probe::play(const std::vector<char>& bytes) {
    WAVEHDR* header = buffer(uint32_t(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), header->lpData);
    return queue(header);
}

std::vector<device_probe::entry> device_probe::entries(unsigned message) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<entry> out;
    std::copy_if(m_log.begin(), m_log.end(), std::back_inserter(out),
                 [&](const entry& e) { return e.message == message; });
    return out;
}

std::vector<WAVEHDR*> device_probe::returned() {
    std::vector<WAVEHDR*> out;
    for (const entry& e : entries(m_done))
        out.push_back(e.header);
    return out;
}

bool device_probe::wait_returned(size_t count, double seconds) {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, std::chrono::duration<double>(seconds), [&] {
        return size_t(std::count_if(m_log.begin(), m_log.end(),
                                    [&](const entry& e) { return e.message == m_done; })) >= count;
    });
}

void SONVALE_CALLBACK device_probe::callback(HWAVEOUT device, unsigned int message,
                                             DWORD_PTR instance, DWORD_PTR param1,
                                             DWORD_PTR param2) {
    auto* self = reinterpret_cast<device_probe*>(static_cast<uintptr_t>(instance));
    auto* header = message == wave_in_lost
                       ? nullptr
                       : reinterpret_cast<WAVEHDR*>(static_cast<uintptr_t>(param1));
    if (message != wave_in_lost) {
        EXPECT_EQ(param2, DWORD_PTR(0));
    }
    const entry e{device,
                  message,
                  header,
                  param1,
                  param2,
                  header ? header->dwFlags : 0u,
                  std::this_thread::get_id(),
                  clock_type::now(),
                  self->reset_returned.load()};
    std::lock_guard<std::mutex> hold(self->m_lock);
    self->m_log.push_back(e);
    self->m_changed.notify_all();
}

} // namespace test_support
