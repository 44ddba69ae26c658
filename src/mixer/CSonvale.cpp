#include "sonvale.h"

#include "item/stream_run.h"
#include "mixer/input_capture.h"
#include "platform/inbox.h"
#include "platform/last_error.h"
#include "platform/thread.h"
#include "record/durable_recording.h"
#include "wav/block_size.h"
#include "worker/worker.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

namespace {

sonvale::thread* worker_of(void* handle) {
    return static_cast<sonvale::thread*>(handle);
}

// True for client data an item can copy; else false with the reason set.
bool valid_data(const unsigned char* data, int len) {
    if (len < 0)
        sonvale::set_last_error("a length of %d bytes", len);
    else if (!data && len > 0)
        sonvale::set_last_error("no data for %d bytes", len);
    return len >= 0 && (data || len == 0);
}

// A copy of the client's (valid) bytes as an item; null for a lack of
// memory.
CWaveData* new_item(const unsigned char* data, int len, int index, int loops,
                    unsigned int firstAllowPlayLen) {
    CWaveData* item =
        new (std::nothrow) CWaveData(data, static_cast<unsigned int>(len), loops, index);
    if (item && !item->m_pBuff) { // its storage could not be allocated
        delete item;
        item = nullptr;
    }
    if (item)
        item->m_nFirstAllowPlayLen = firstAllowPlayLen;
    return item;
}

// new_item for client data, with the reason set on every failure.
CWaveData* new_client_item(const unsigned char* data, int len, int index, int loops,
                           unsigned int firstAllowPlayLen) {
    if (!valid_data(data, len))
        return nullptr;
    CWaveData* item = new_item(data, len, index, loops, firstAllowPlayLen);
    if (!item)
        sonvale::set_last_error("out of memory for %d bytes of data", len);
    return item;
}

// Runs of a stream queued but unrecorded at most while the next is filled:
// the worker always has one to write, and memory stays at a few runs.
constexpr size_t runs_in_flight = 2;

// The kept partial frame and the client's bytes after it, copied into runs.
struct joined_bytes {
    const unsigned char* head;
    size_t head_len;
    const unsigned char* data;
    size_t at; // bytes of both copied so far
};

bool copy_next(void* source, unsigned char* out, size_t n) {
    joined_bytes& bytes = *static_cast<joined_bytes*>(source);
    if (bytes.at < bytes.head_len) {
        const size_t from_head = std::min(n, bytes.head_len - bytes.at);
        std::memcpy(out, bytes.head + bytes.at, from_head);
        out += from_head;
        n -= from_head;
        bytes.at += from_head;
    }
    std::memcpy(out, bytes.data + (bytes.at - bytes.head_len), n);
    bytes.at += n;
    return true;
}

} // namespace

CSonvale::CSonvale()
    : m_hThread(nullptr), m_bStop(true), m_dwThreadId(0), m_nQueued(0), m_nFinished(0),
      m_nFlushWaiters(0) {}

CSonvale::~CSonvale() {
    MIX_Close();
}

int CSonvale::MIX_Init(WAVEFORMATEX* format, CWnd* notifyWnd) {
    return init_on(nullptr, format, notifyWnd);
}

int CSonvale::MIX_InitOn(const char* device, WAVEFORMATEX* format, int buffNum, int buffSize,
                         CWnd* notifyWnd) {
    m_waveOut.SetBuffParam(buffNum, buffSize);
    return init_on(device, format, notifyWnd);
}

int CSonvale::init_on(const char* device, WAVEFORMATEX* format, CWnd* notifyWnd) {
    MIX_Close();
    if (!format) {
        sonvale::set_last_error("no format was given");
        return -1;
    }
    const int opened = m_waveOut.OpenOn(device, format);
    if (opened != 0)
        return opened;
    uint32_t id = 0;
    sonvale::thread* worker = sonvale::thread_create_suspended(SonvaleThreadPro, this, &id);
    if (!worker) {
        sonvale::set_last_error("cannot start the worker thread: %s", sonvale::system_error_text());
        m_waveOut.Close();
        return -3;
    }
    m_hThread = worker;
    m_dwThreadId = id;
    m_recorder.m_nSourceTag = format->wFormatTag;
    m_recorder.m_nSourceBits = format->wBitsPerSample;
    // The worker must not run before the stop flag is cleared, or it would
    // stop at once.
    m_waveOut.m_pNotifyWnd = notifyWnd;
    m_bStop = false;
    sonvale::thread_raise_priority(worker);
    sonvale::thread_resume(worker);
    return 0;
}

int CSonvale::MIX_InitEx(WAVEFORMATEX* format, int buffNum, int buffSize, CWnd* notifyWnd) {
    m_waveOut.SetBuffParam(buffNum, buffSize);
    return MIX_Init(format, notifyWnd);
}

int CSonvale::MIX_Close() {
    sonvale::capture_stop(this);
    m_bStop = true;
    if (m_dwThreadId != 0) {
        // A worker waiting on its inbox sees only messages; should not even
        // the stop message fit (no memory), its wait is ended all the same.
        if (!sonvale::inbox_post(m_dwThreadId, MIXMSG_STOP, 0))
            sonvale::inbox_quit(m_dwThreadId);
        m_dwThreadId = 0;
    }
    if (m_hThread) {
        sonvale::thread_join(worker_of(m_hThread));
        sonvale::thread_release(worker_of(m_hThread));
        m_hThread = nullptr;
    }
    if (m_waveOut.m_hWaveOut) // (without a device Reset only reports that)
        m_waveOut.Reset();
    m_waveOut.Close();
    MIX_Clear();
    m_recorder.Close();
    return 0;
}

int CSonvale::MIX_Pause() {
    return m_waveOut.Pause();
}

int CSonvale::MIX_Restart() {
    return m_waveOut.Restart();
}

int CSonvale::MIX_AddData(const unsigned char* data, int len, int index, int loops,
                          unsigned int firstAllowPlayLen) {
    m_recorder.drop_stream_tail();
    CWaveData* item = new_client_item(data, len, index, loops, firstAllowPlayLen);
    if (!item)
        return -1;
    queue_part(item, item->m_nLen, "MIX_AddData", nullptr);
    return index;
}

int CSonvale::MIX_AppendData(const unsigned char* data, int len, int index) {
    if (m_dwThreadId == 0 || !m_recorder.isOpen()) {
        sonvale::set_last_error(m_dwThreadId == 0 ? "the mixer is not open"
                                                  : "no recording is open");
        return 0;
    }
    // Formed wide: no buffer count and size can overflow it.
    const int64_t threshold =
        (static_cast<int64_t>(m_waveOut.m_nBuffNum) + 1) * m_waveOut.m_nBuffSize;
    CWaveData* item =
        new_client_item(data, len, index, 1,
                        static_cast<unsigned int>(std::clamp<int64_t>(threshold, 0, UINT32_MAX)));
    if (!item)
        return 0;
    queue_part(item, item->m_nLen, "MIX_AppendData", nullptr);
    return index;
}

int CSonvale::MIX_Remove(int) {
    return 0;
}

int CSonvale::MIX_Clear() {
    return 0;
}

int CSonvale::MIX_Flush(int timeoutMs) {
    // Items are finished in the order they were queued, so once as many are
    // finished as had been queued, every one queued before this call is.
    if (!wait_finished(m_nQueued.load(), timeoutMs)) {
        sonvale::set_last_error("the worker had not recorded every item queued within %d ms",
                                timeoutMs);
        return 1;
    }
    sonvale::durable_recording::flush(m_recorder);
    return m_recorder.report_loss() ? 2 : 0;
}

int CSonvale::MIX_AddStream(const unsigned char* data, int len, int index) {
    if (!valid_data(data, len))
        return -1;
    CWaveRecorder::State* r = &m_recorder.m_state;
    const size_t n = static_cast<size_t>(len);
    const size_t kept = r->stream_tail_len;
    const size_t unit = sonvale::stream_unit(m_waveOut.m_waveFormate);
    const size_t whole = (kept + n) / unit * unit;
    // What is not a whole frame yet waits for the next piece.
    if (whole == 0) {
        std::memcpy(r->stream_tail + kept, data, n);
        r->stream_tail_len = static_cast<uint32_t>(kept + n);
        return index;
    }
    const size_t used = whole - kept;
    joined_bytes bytes{r->stream_tail, kept, data, 0};
    if (!queue_runs(whole, copy_next, &bytes))
        return -1;
    std::memcpy(r->stream_tail, data + used, n - used);
    r->stream_tail_len = static_cast<uint32_t>(n - used);
    return index;
}

int CSonvale::MIX_StartInput(const char* device, uint64_t frames) {
    if (m_dwThreadId == 0) {
        sonvale::set_last_error("the mixer is not open");
        return -1;
    }
    m_recorder.drop_stream_tail();
    const sonvale::capture_link link{
        this,
        [](CSonvale* mixer, sonvale::stream_run& run, uint64_t bytes) -> uint64_t {
            const bool posted =
                mixer->post_unit(sonvale::run_message, reinterpret_cast<uintptr_t>(&run), bytes);
            return posted ? mixer->m_nQueued.load() : 0;
        },
        [](const CSonvale* mixer) { return mixer->m_nFinished.load(); },
        [](CSonvale* mixer, uint64_t bytes, const char* reason) {
            mixer->m_recorder.note_loss(bytes, reason);
        }};
    return sonvale::capture_start(link, m_waveOut.m_waveFormate, device, frames);
}

int CSonvale::MIX_StopInput() {
    sonvale::capture_stop(this);
    return 0;
}

bool CSonvale::queue_runs(uint64_t total, run_filler fill, void* source) {
    if (total == 0)
        return true;
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    const size_t per_run = sonvale::run_data_bytes(sonvale::item_block_bytes(format));
    // Every buffer is made before any run is queued: all of the stream, or
    // none of it.
    sonvale::run_buffers* buffers = sonvale::run_buffers::create(
        total, per_run, sonvale::stream_unit(format), runs_in_flight + 1);
    if (!buffers) {
        sonvale::set_last_error("out of memory for %llu bytes of data",
                                static_cast<unsigned long long>(total));
        return false;
    }
    bool filled = true;
    for (uint64_t left = total; filled && left > 0;) {
        sonvale::stream_run& run = buffers->next();
        wait_finished(run.done_at, -1);
        buffers->prepare(run, static_cast<size_t>(std::min<uint64_t>(left, per_run)));
        filled = fill(source, run.bytes, run.len);
        if (filled) {
            buffers->lend();
            const bool posted =
                post_unit(sonvale::run_message, reinterpret_cast<uintptr_t>(&run), run.recorded);
            buffers->posted(run, posted, m_nQueued.load());
        }
        left -= run.len;
    }
    buffers->release();
    return filled;
}

bool CSonvale::wait_finished(uint64_t target, int timeoutMs) {
    auto done = [&] { return m_nFinished.load() >= target; };
    if (done() || timeoutMs == 0)
        return done();
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_flushLock);
    ++m_nFlushWaiters;
    while (!done()) {
        if (timeoutMs < 0)
            m_flushWake.wait(lock);
        else if (clock::now() >= deadline)
            break; // a timed wait may end early by the clock: only the clock decides
        else
            m_flushWake.wait_until(lock, deadline);
    }
    --m_nFlushWaiters;
    return done();
}

void CSonvale::queue_item(CWaveData* item) {
    if (!post_unit(MIXMSG_DATA, reinterpret_cast<uintptr_t>(item), lost_bytes_of(*item)))
        delete item;
}

void CSonvale::queue_part(CWaveData* item, uint64_t handed, const char* call, const char* path) {
    // Where the worker records nothing, the item's own loss counts all of it.
    const uint64_t kept =
        worker_records()
            ? std::min<uint64_t>(item->m_nLen, sonvale::item_block_bytes(m_waveOut.m_waveFormate))
            : item->m_nLen;
    // Counted first, so that its reason comes before any the item's block
    // itself may meet.
    if (handed > kept && m_dwThreadId != 0)
        note_beyond_block(handed - kept, kept, call, path);
    queue_item(item);
}

void CSonvale::note_beyond_block(uint64_t lost, uint64_t kept, const char* call, const char* path) {
    if (!worker_records())
        return note_unrecordable(lost);
    char reason[sizeof m_recorder.m_state.loss_reason];
    const auto first = static_cast<unsigned long long>(kept);
    const auto all = static_cast<unsigned long long>(kept + lost);
    if (path)
        sonvale::format_reason(reason, sizeof reason,
                               "MIX_AddFile recorded the first %llu bytes of the %llu bytes of "
                               "samples in '%s': an item records one block; MIX_AddFileStream "
                               "records all of it",
                               first, all, path);
    else
        sonvale::format_reason(reason, sizeof reason,
                               "%s recorded the first %llu bytes of a %llu-byte item: an item "
                               "records one block; MIX_AddStream records all of it",
                               call, first, all);
    m_recorder.note_loss(lost, reason);
}

bool CSonvale::post_unit(uint32_t code, uintptr_t payload, uint64_t bytes) {
    // The unit is meant for the recording open now, and for no other.
    const uint64_t tag = m_recorder.queue_tag();
    if (sonvale::inbox_post(m_dwThreadId, code, payload, tag)) {
        ++m_nQueued;
        m_recorder.count_queued(tag, bytes);
        return true;
    }
    // Reported as queued, so a recording that is open has lost it.
    if (m_dwThreadId != 0 && !worker_records())
        note_unrecordable(bytes);
    else if (m_dwThreadId != 0)
        m_recorder.note_loss(bytes, "the worker could not be handed an item");
    return false;
}

bool CSonvale::worker_records() const {
    return sonvale::sample_width_supported(m_waveOut.m_waveFormate.wBitsPerSample / 8u);
}

void CSonvale::note_unrecordable(uint64_t bytes) {
    char reason[64];
    sonvale::unrecordable_reason(m_waveOut.m_waveFormate, reason, sizeof reason);
    m_recorder.note_loss(bytes, reason);
}

uint64_t CSonvale::lost_bytes_of(const CWaveData& item) const {
    const WAVEFORMATEX& format = m_waveOut.m_waveFormate;
    return sonvale::block_bytes_of(
        item,
        worker_records() ? sonvale::pump_unit(format.wBitsPerSample / 8u, format.nBlockAlign) : 0);
}

void CSonvale::items_finished(size_t items) {
    if (items == 0)
        return;
    m_nFinished += items;
    // Taking the lock orders this with a flush that has just checked the
    // count and is about to sleep.
    if (m_nFlushWaiters.load() > 0) {
        std::lock_guard<std::mutex> guard(m_flushLock);
        m_flushWake.notify_all();
    }
}
