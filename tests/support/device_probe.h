// Output devices under test, on any backend: which can play here, and a
// probe that opens one, records everything it sends to the callback, and
// owns the buffers queued on it.
#pragma once

#include "device/wave_device.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace test_support {

// A format record whose block alignment and byte rate follow from the rest.
WAVEFORMATEX wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);

// True when the test step has started a sound server whose default sink is a
// null sink: the system's device must then play, and the default capture
// device records that sink.
bool null_sink_expected();

// Skips the calling test when `backend` cannot play here (ALSA or winmm on a
// machine without a sound server or card); fails it instead when
// null_sink_expected().
// Call it from a fixture's SetUp.
void skip_unless_device_plays(sonvale::wave_backend backend);

enum class device_kind { virtual_device, alsa, winmm, automatic, fake };

// The system's own device: winmm on Windows, ALSA elsewhere.
#ifdef _WIN32
constexpr device_kind system_device = device_kind::winmm;
constexpr sonvale::wave_backend system_backend = sonvale::wave_backend::winmm;
#else
constexpr device_kind system_device = device_kind::alsa;
constexpr sonvale::wave_backend system_backend = sonvale::wave_backend::alsa;
#endif

// What a fake backend was asked, and how it answers; the test holds it.
struct fake_device {
    std::mutex lock;
    uint32_t room = 1000; // bytes a write takes; 0: the device is full
    bool failing = false; // every write (read) fails for good
    // Capturing: bytes a read may deliver now, counting up from `next`, and
    // frames it reports lost before them.
    uint32_t ready = 0;
    unsigned char next = 0;
    uint64_t overrun = 0;
    bool hung = false; // a write does not return while set
    std::vector<char> written;
    int pauses = 0, resumes = 0, drops = 0, silencing_drops = 0, drains = 0;
};

// A fake backend on `state`.
std::unique_ptr<sonvale::device_backend> make_fake_backend(std::shared_ptr<fake_device> state);

class device_probe {
public:
    using clock_type = std::chrono::steady_clock;
    struct entry {
        HWAVEOUT device;
        unsigned message;
        WAVEHDR* header;
        DWORD_PTR param1, param2;
        uint32_t flags; // the header's flags when the callback ran
        std::thread::id thread;
        clock_type::time_point when;
        bool after_reset; // the callback ran once reset_returned was set
    };

    device_probe() = default;
    ~device_probe();
    device_probe(const device_probe&) = delete;
    device_probe& operator=(const device_probe&) = delete;

    // A device of `kind` for `format`, with the recording callback or none; a
    // fake one plays at once whatever the room of fake_state lets it take.
    int open(device_kind kind, const WAVEFORMATEX& format, bool with_callback = true);
    // An input device of `kind` ("default" for the system's), stopped;
    // buffers then come back with wave_in_data.
    int open_input(device_kind kind, const WAVEFORMATEX& format);
    int close();
    HWAVEOUT device() const { return m_device; }
    std::shared_ptr<fake_device> fake_state = std::make_shared<fake_device>();

    // A new header of `length` bytes (data never null) that this owns.
    WAVEHDR* buffer(uint32_t length, char fill = 0);
    // Prepares and queues `header`, expecting both to succeed.
    WAVEHDR* queue(WAVEHDR* header);
    WAVEHDR* play(uint32_t length, char fill = 0) { return queue(buffer(length, fill)); }
    WAVEHDR* play(const std::vector<char>& bytes);

    std::vector<entry> entries(unsigned message);
    std::vector<WAVEHDR*> returned();
    size_t returned_count() { return returned().size(); }
    bool wait_returned(size_t count, double seconds = 10.0);
    // Set by the test once a reset has returned, to catch late callbacks.
    std::atomic<bool> reset_returned{false};

private:
    static void SONVALE_CALLBACK callback(HWAVEOUT, unsigned int message, DWORD_PTR instance,
                                          DWORD_PTR param1, DWORD_PTR param2);

    HWAVEOUT m_device = nullptr;
    unsigned m_done = WOM_DONE; // how a buffer comes back
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<entry> m_log;
    std::deque<std::vector<char>> m_data;
    std::deque<WAVEHDR> m_headers;
};

} // namespace test_support
