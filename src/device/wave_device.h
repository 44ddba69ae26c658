// The output device behind an HWAVEOUT: one core for every backend, owning
// the device thread, the buffer queue, completion, the reset handshake and
// pause; a backend supplies only what differs (device_backend below).
// wave_out.cpp keeps the header flags and sends WOM_OPEN and WOM_CLOSE.
//
// What the core promises (the contract the device tests check):
// - Every queued header (WHDR_INQUEUE set; its lpNext is the core's until
//   given back) comes back exactly once, in the order queued, once the
//   backend has taken all of its bytes, through complete() on the device
//   thread, never from inside a client's call and never two at once; the
//   client may reuse or free it as soon as the callback runs. The one
//   exception is a device that stops answering (below).
// - reset() gives back every queued header, in order, before it returns, and
//   no callback for a header queued before the reset runs after it returned.
// - busy() is true from queue() until complete() of the last queued header
//   has returned; the service refuses to close a busy device.
// - No client call waits on the sound system for longer than
//   k_answer_limit: the backend is called on the device thread only, never
//   with the device's lock held, and with bytes copied out of the client's
//   buffers. A reset the device thread does not answer in time, or a
//   backend call (but sleep) that has not returned after k_answer_limit when
//   a client asks lost(), gives the queue back from the client's thread and
//   marks the device lost; closing then leaves the device thread to finish
//   on its own, holding nothing of the client's and calling nothing back.
// - An input device (wave_direction::input) runs the same queue the other
//   way: the backend's read() fills the oldest buffer, which comes back with
//   wave_in_data once it holds no room for another frame. What arrives with
//   no buffer queued, what the backend lost itself, and a backend that fails
//   or delivers nothing for k_answer_limit, are reported with wave_in_lost;
//   the device thread allocates nothing while it captures.
// - A backend whose write fails for good marks the device lost: every queued
//   header is given back and later ones are refused, so a client is not
//   told its audio played.
// - A client callback must not call wave_out_reset or wave_out_close on its
//   own device (as on the platform this imitates).
#pragma once

#include "device/wave_out.h"
#include "platform/last_error.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace sonvale {

// How long a client call waits for the device thread (an open, a reset, a
// close) before it gives up on a sound system that does not answer.
constexpr std::chrono::milliseconds k_answer_limit{1500};

// Why a device did not open, for the client's reason; empty when the result
// code says it all.
struct device_note {
    char text[256] = {};
    void set(const char* format, ...);
};

// The sound system's side of one open device. The core calls every member
// but wake() on its device thread, without the device's lock, so a backend
// needs no lock of its own and may block in its sound system.
class device_backend {
public:
    using clock_type = std::chrono::steady_clock;

    virtual ~device_backend() = default;

    // What a user is told plays the sound, e.g. "ALSA default".
    virtual const char* name() const = 0;
    // Takes what the device accepts now of the `bytes` at `data`: the count
    // taken, 0 when it has no room, -1 when it failed for good or its sound
    // system stopped taking anything while it plays (the device is then
    // lost).
    virtual int64_t write(const char* data, uint32_t bytes) = 0;
    // An input backend: reads at most `bytes` (whole frames) of what the
    // device captured into `data`, adding to `overrun` the frames it lost
    // before them; the count read, 0 when nothing is there yet, -1 when it
    // failed for good. pause() stops capturing, resume() starts it.
    virtual int64_t read(char* data, uint32_t bytes, uint64_t& overrun);
    // Nothing is queued: the stream runs dry from here.
    virtual void idle() {}
    // Stop the stream where it stood at `at` (when the client asked), and go
    // on from there.
    virtual void pause(clock_type::time_point at) = 0;
    virtual void resume(clock_type::time_point at) = 0;
    // A reset: forget what was held back of a split frame; with buffers
    // queued (`queued`), what the device holds of them falls silent too.
    virtual void drop(bool queued) = 0;
    // Closing unpaused: what the device still holds was given back as
    // played, so it may play out (briefly: the client's close waits for it).
    virtual void drain() {}

    // Sleeps, with the device's lock held by `hold`, until wake() or, with
    // `for_room`, until write() may take more. The default waits on a
    // condition variable of the device's lock until room_at(); a backend
    // that asks its sound system must release `hold` while it does.
    virtual void sleep(std::unique_lock<std::mutex>& hold, bool for_room);
    // Ends sleep(); any thread, after a change made under the device's lock.
    virtual void wake();
    // The sound system's own handle of the device, for a client's calls to
    // that system (winmm's HWAVEOUT); null where the system has none of that
    // type. Valid until the backend is destroyed.
    virtual HWAVEOUT system_handle() const { return nullptr; }

protected:
    // When the default sleep looks for room again: a backend that cannot
    // tell looks every millisecond.
    virtual clock_type::time_point room_at() {
        return clock_type::now() + std::chrono::milliseconds(1);
    }

private:
    std::condition_variable m_wake;
};

// Opens a backend for `format` on the system device `device` (a name the
// system lists; "default" for its default), into `out`; or a non-zero
// wave_result with, where it helps, the reason in `why`.
using backend_opener = int (*)(const WAVEFORMATEX& format, const char* device,
                               std::unique_ptr<device_backend>& out, device_note& why);

class wave_device {
public:
    // Opens a device whose backend `open` makes on the device thread, waiting
    // at most k_answer_limit for it (WAVE_ERR_NOTANSWERING after that, the
    // thread left to finish on its own). On success `*out` is the device.
    // `label` names the device in that reason.
    // An input device starts stopped (paused).
    static int open(backend_opener open, const WAVEFORMATEX& format, const char* device,
                    const char* label, wave_out_callback callback, DWORD_PTR instance,
                    wave_device** out, device_note& why,
                    wave_direction direction = wave_direction::output);
    // A device on a backend made already; an input one reads frames of
    // `frame_bytes`.
    static int adopt(std::unique_ptr<device_backend> backend, wave_out_callback callback,
                     DWORD_PTR instance, wave_device** out,
                     wave_direction direction = wave_direction::output, uint32_t frame_bytes = 1);
    // Stops the device thread (waiting at most k_answer_limit, none for a
    // lost device), sends nothing to the callback, and frees the device,
    // now or once its thread has finished.
    void close();

    // Plays `header` after those already queued (WHDR_INQUEUE is set);
    // WAVE_ERR_LOST once the device is lost.
    int queue(WAVEHDR* header);
    int pause();
    int restart();
    // Stops playback; every queued buffer is given back, in order, before it
    // returns. WAVE_ERR_NOTANSWERING when the device thread did not answer.
    int reset();
    // True while a buffer is queued or in its callback (close is refused).
    bool busy();
    // True once the device failed or stopped answering; gives up on the
    // device here when its thread has been in a backend call for longer than
    // k_answer_limit.
    bool lost();
    const char* name() const { return m_name; }
    // The backend's system_handle(), once it is open; null before.
    HWAVEOUT system_handle();

    HWAVEOUT handle() { return reinterpret_cast<HWAVEOUT>(this); }
    static wave_device* from_handle(HWAVEOUT handle) {
        return reinterpret_cast<wave_device*>(handle);
    }
    // Sends `message` to the client's callback (none when it is null).
    void notify(unsigned int message, DWORD_PTR param1, DWORD_PTR param2 = 0);

    // Guards every change of a header's dwFlags between the service (on the
    // client's threads) and complete() (on the device thread).
    std::mutex& flags_lock() { return m_flags_lock; }

private:
    // What the device thread does after one step of feeding the backend.
    enum class step { again, wait_for_room, idle };
    // Where the device thread stands, for a client waiting on it.
    enum class phase { opening, running, ended };

    wave_device(wave_out_callback callback, DWORD_PTR instance, wave_direction direction,
                uint32_t frame_bytes);
    ~wave_device();
    // Starts the device thread; false when it cannot.
    bool start(backend_opener open, const WAVEFORMATEX& format, const char* device);
    // Waits until the thread is past `from`, at most k_answer_limit; false
    // when it took longer (the thread is then left to finish alone).
    bool wait_past(phase from, std::unique_lock<std::mutex>& hold);
    void abandon(std::unique_lock<std::mutex>& hold);
    // The device thread no longer answers: the device is lost and its queue
    // given back from the calling thread.
    void give_up(std::unique_lock<std::mutex>& hold);
    // Wakes the device thread after a change; the device's lock is held.
    void wake_thread();
    // Pauses or restarts; the pause clock starts again at each change.
    int set_paused(bool paused);
    // One reference is the client's, one the thread's; the last frees.
    void release();

    void thread_main(backend_opener open, WAVEFORMATEX format, const char* device);
    void run(std::unique_lock<std::mutex>& hold);
    void apply_pause(std::unique_lock<std::mutex>& hold);
    // Runs `call` on the backend with the device's lock released, noting
    // when it started, so that a call that never returns is seen (lost()).
    template <class Call> void call_backend(std::unique_lock<std::mutex>& hold, Call call);
    step feed(std::unique_lock<std::mutex>& hold);
    // The input side of feed(): one read into the oldest buffer; also while
    // paused when `stopping` (what the device held when told to stop).
    step capture(std::unique_lock<std::mutex>& hold, bool stopping);
    // Sends wave_in_lost with the lock released.
    void report_loss(uint64_t frames, unsigned int cause, std::unique_lock<std::mutex>& hold);
    // Marks the device lost and gives the whole queue back.
    void fail(std::unique_lock<std::mutex>& hold);
    void answer_reset(std::unique_lock<std::mutex>& hold);
    // Unlinks the queue up to and including `last` (all of it when null),
    // and gives each header back, in order.
    void give_back_queue(WAVEHDR* last, std::unique_lock<std::mutex>& hold);
    // Gives back `header`, already unlinked, with the lock released around
    // the callback, so that the client may call the device from there.
    void give_back(WAVEHDR* header, std::unique_lock<std::mutex>& hold);
    // Clears WHDR_INQUEUE, sets WHDR_DONE, then sends WOM_DONE.
    void complete(WAVEHDR* header);

    const wave_out_callback m_callback;
    const DWORD_PTR m_instance;
    const bool m_input;
    const uint32_t m_frame_bytes; // an input device reads whole frames
    // An input device's last delivery, or its start.
    device_backend::clock_type::time_point m_delivered{};
    std::mutex m_flags_lock;
    std::unique_ptr<device_backend> m_backend; // the device thread's
    std::thread m_thread;
    std::atomic<int> m_refs{2};
    std::atomic<bool> m_lost{false};
    const char* m_name = "an output device"; // lives as long as the process
    HWAVEOUT m_system_handle = nullptr;
    char* m_device_name = nullptr; // the system device being opened (owned)
    int m_open_result = WAVE_OK;
    device_note m_open_note;

    std::mutex m_lock;
    std::condition_variable m_changed; // the phase, or a reset answered
    phase m_phase = phase::opening;
    WAVEHDR* m_head = nullptr; // the queue, linked through lpNext
    WAVEHDR* m_tail = nullptr;
    uint32_t m_offset = 0;    // bytes of the oldest buffer the backend took
    size_t m_outstanding = 0; // queued, or in their WOM_DONE callback
    uint64_t m_resets_asked = 0;
    uint64_t m_resets_done = 0;
    bool m_paused = false;         // as the client asked
    bool m_backend_paused = false; // as the backend was told
    device_backend::clock_type::time_point m_paused_at{};
    bool m_quit = false;
    uint64_t m_wakes = 0;   // wake_thread() calls, ever
    bool m_stuck = false;   // a reset or a backend call went unanswered: wait no more
    bool m_in_call = false; // the device thread is in a backend call, since m_call_started
    device_backend::clock_type::time_point m_call_started{};
    bool m_abandoned = false; // the client no longer waits: call nothing back
    // Bytes of the oldest buffer, copied for the backend, so that a backend
    // stuck in its sound system holds none of the client's memory.
    std::unique_ptr<char[]> m_bounce;
};

// What every device accepts: any tag with at least one channel, at least one
// sample per second, a non-zero block alignment and byte rate; PCM and IEEE
// float must also be self-consistent at a width they define (8, 16, 24 or 32
// bits; 32 or 64 for float). A backend refuses more only for what its sound
// system cannot play, and says so.
bool format_acceptable(const WAVEFORMATEX& f);
// True for PCM at 8, 16, 24 or 32 bits, or IEEE float at 32 or 64, whose
// fields agree with each other, so that queued bytes split into whole frames.
bool linear_format_valid(const WAVEFORMATEX& f);

// Each backend's opener (a backend_opener). The virtual one's `device` is
// what its name says after "the silent virtual device" (null: nothing).
// It also captures: silence, at the format's pace.
int open_virtual_backend(const WAVEFORMATEX& format, const char* device,
                         std::unique_ptr<device_backend>& out, device_note& why);
int open_alsa_backend(const WAVEFORMATEX& format, const char* device,
                      std::unique_ptr<device_backend>& out, device_note& why);
int open_winmm_backend(const WAVEFORMATEX& format, const char* device,
                       std::unique_ptr<device_backend>& out, device_note& why);
// The capturing ALSA and winmm backends.
int open_alsa_input_backend(const WAVEFORMATEX& format, const char* device,
                            std::unique_ptr<device_backend>& out, device_note& why);
int open_winmm_input_backend(const WAVEFORMATEX& format, const char* device,
                             std::unique_ptr<device_backend>& out, device_note& why);
// True when alsa-lib is built in and can be loaded here.
bool alsa_available();

// Calls `each` with the name of every device of `direction` the system
// lists, in its order, without opening any; the system's default is left
// out (it is "default"). ALSA: its PCM names that play (capture); winmm: its
// output (input) devices' product names.
using device_name_fn = void (*)(const char* name, void* context);
void list_alsa_devices(wave_direction direction, device_name_fn each, void* context);
void list_winmm_devices(wave_direction direction, device_name_fn each, void* context);

// Opens a device on `backend` (null: WAVE_ERR_NOMEM) as wave_out_open does.
int wave_out_open_backend(std::unique_ptr<device_backend> backend, HWAVEOUT* out,
                          wave_out_callback callback, DWORD_PTR instance);
// The same for an input device reading frames of `frame_bytes`, stopped.
int wave_in_open_backend(std::unique_ptr<device_backend> backend, uint32_t frame_bytes,
                         HWAVEOUT* out, wave_out_callback callback, DWORD_PTR instance);

} // namespace sonvale
