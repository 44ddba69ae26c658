// The WAV recorder: a lock serialising
// Write / Open / Close / Flush, every block handed to the OS at once,
// exclusive files, a short write rolled back to its last whole block, sizes
// in the file kept current while recording, and an account of the bytes
// that did not reach the file.
#include "platform/last_error.h"
#include "record/block_layout.h"
#include "record/durable_recording.h"
#include "record/recording_ticket.h"
#include "record/sizes_max_age.h"
#include "sonvale.h"
#include "wav/wave_header.h"

bool CWaveRecorder::State::rf64_auto() const {
    return (flags & SONVALE_RECORD_RF64_AUTO) != 0;
}

size_t CWaveRecorder::State::header_bytes() const {
    return rf64_auto() ? sonvale::rf64_header_bytes : sonvale::wave_header_bytes;
}

void CWaveRecorder::State::count_loss(uint64_t bytes, const char* reason) {
    if (bytes == 0)
        return;
    // The first failure since the last report is the one reported.
    if (lost == lost_reported)
        sonvale::format_reason(loss_reason, sizeof loss_reason, "%s", reason);
    lost += bytes;
}

CWaveRecorder::CWaveRecorder()
    : m_nDataLen(0), m_header(), m_bOpen(0), m_nFileData(0), m_nSyncedData(0),
      m_nSourceTag(WAVE_FORMAT_PCM), m_nSourceBits(0) {}

CWaveRecorder::~CWaveRecorder() {
    Close();
}

bool CWaveRecorder::Open(const char* path, unsigned long samplesPerSec, unsigned short channels,
                         unsigned short bitsPerSample) {
    return OpenEx(path, samplesPerSec, channels, bitsPerSample, 0);
}

bool CWaveRecorder::OpenEx(const char* path, unsigned long samplesPerSec, unsigned short channels,
                           unsigned short bitsPerSample, unsigned int flags) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bOpen)
        return true; // the open file goes on; the arguments are ignored
    m_nDataLen = 0;
    m_nFileData = 0;
    m_state.lost = 0;
    m_state.lost_reported = 0;
    m_state.rf64 = false;
    m_state.header_stale = false;
    if (!path) {
        sonvale::set_last_error("no path was given for the recording");
        return false;
    }
    if ((flags & ~(SONVALE_RECORD_RF64_AUTO | SONVALE_RECORD_DURABLE)) != 0) {
        sonvale::set_last_error("unknown recording flags 0x%x", flags);
        return false;
    }
    // Fill a local header first, so that a failed Open leaves m_header as it
    // was.
    const bool is_float = m_nSourceTag == WAVE_FORMAT_IEEE_FLOAT && m_nSourceBits == bitsPerSample;
    sonvale::WaveFileHeader header;
    sonvale::wave_header_fill(header, is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM,
                              samplesPerSec, channels, bitsPerSample);
    std::unique_ptr<char[]> ticket = sonvale::new_ticket(path);
    if (!ticket) {
        sonvale::set_last_error("out of memory for recording into '%s'", path);
        return false;
    }
    if (!m_file.CreateExclusive(path))
        return false; // cannot be created, or another recorder holds it
    m_header = header;
    m_state.flags = flags;
    // The header goes in by a positioned write: the data follows it.
    const bool written = write_header();
    const bool placed = written && m_file.Seek(m_state.header_bytes());
    if (!placed || !sonvale::durable_recording::start(*this, path)) {
        // A device such as /dev/null takes the header but cannot place the
        // data after it, and leaves no system error to quote.
        if (written && !placed)
            sonvale::set_last_error("cannot record into '%s': it is not a file whose header "
                                    "can be kept up to date",
                                    path);
        else if (!written)
            sonvale::set_last_error("cannot write the header of '%s': %s", path,
                                    sonvale::system_error_text());
        // Not even the header fits (a full disk): no usable recording.
        m_file.Truncate(0);
        m_file.Close();
        return false;
    }
    m_state.path = std::move(ticket);
    m_nSyncedData = 0;
    m_synced = std::chrono::steady_clock::now();
    m_bOpen = 1;
    return true;
}

void CWaveRecorder::Write(const char* data, int len) {
    if (!data || len <= 0)
        return;
    const size_t n = static_cast<size_t>(len);
    const sonvale::block_layout::unit block{n, 0};
    write_blocks(sonvale::any_recording, data, n, {&block, 1});
}

void CWaveRecorder::write_blocks(uint64_t tag, const char* data, size_t len,
                                 const sonvale::block_layout& blocks) {
    std::lock_guard<std::mutex> guard(m_lock);
    sonvale::recording_ticket* ticket = nullptr;
    if (len == 0 || !meant_for_open(tag, ticket))
        return;
    if (ticket)
        ticket->settled += len;
    const size_t written = m_file.Write(data, len);
    // A short or failed write keeps the whole blocks it wrote: the rest, a
    // partial block and the blocks after it, is cut off again.
    const size_t kept = written == len ? len : blocks.whole(written);
    m_nFileData += kept;
    const uint64_t counted = static_cast<uint64_t>(m_nDataLen) + kept;
    m_nDataLen = counted < 0xFFFFFFFFu ? static_cast<uint32_t>(counted) : 0xFFFFFFFFu;
    if (written == len) {
        if (sonvale::durable_recording::is_durable(*this))
            sonvale::durable_recording::declare_if_due(*this);
        else if (std::chrono::steady_clock::now() - m_synced >= sonvale::sizes_max_age)
            write_sizes();
        return;
    }
    // Read before any other system call can change it.
    char reason[sizeof m_state.loss_reason];
    sonvale::format_reason(reason, sizeof reason, "cannot write to '%s': %s",
                           sonvale::path_in(m_state.path), sonvale::system_error_text());
    m_state.count_loss(len - kept, reason);
    // Move back to the end of the data, so that the next block follows the
    // last whole one.
    const uint64_t end = m_state.header_bytes() + m_nFileData;
    if (written > kept)
        m_file.Truncate(end);
    m_file.Seek(end);
}

void CWaveRecorder::settle_dropped(uint64_t tag, uint64_t bytes, const char* reason) {
    std::lock_guard<std::mutex> guard(m_lock);
    sonvale::recording_ticket* ticket = nullptr;
    if (!meant_for_open(tag, ticket))
        return;
    if (ticket)
        ticket->settled += bytes;
    if (reason)
        m_state.count_loss(bytes, reason);
}

bool CWaveRecorder::meant_for_open(uint64_t tag, sonvale::recording_ticket*& ticket) {
    if (!m_bOpen)
        return false;
    ticket = sonvale::ticket_in(m_state.path);
    if (tag == sonvale::any_recording) {
        ticket = nullptr;
        return true;
    }
    return ticket && ticket->number == tag;
}

uint64_t CWaveRecorder::queue_tag() const {
    // Open and Close run on this same thread: no lock is needed to look.
    const sonvale::recording_ticket* ticket = sonvale::ticket_in(m_state.path);
    return m_bOpen && ticket ? ticket->number : sonvale::no_recording;
}

void CWaveRecorder::count_queued(uint64_t tag, uint64_t bytes) {
    sonvale::recording_ticket* ticket = sonvale::ticket_in(m_state.path);
    if (ticket && ticket->number == tag)
        ticket->queued += bytes;
}

void CWaveRecorder::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    drop_stream_tail_locked();
    if (!m_bOpen)
        return;
    // What was queued for this recording and is not written yet never will
    // be: it is this recording's loss, counted now rather than waited for.
    const sonvale::recording_ticket* ticket = sonvale::ticket_in(m_state.path);
    if (ticket && ticket->queued > ticket->settled) {
        char reason[160];
        sonvale::format_reason(reason, sizeof reason,
                               "%llu bytes queued for the recording were not recorded yet when "
                               "it was closed: MIX_Flush before Record_Close waits for them",
                               static_cast<unsigned long long>(ticket->queued - ticket->settled));
        m_state.count_loss(ticket->queued - ticket->settled, reason);
    }
    m_bOpen = 0;
    const bool durable = sonvale::durable_recording::is_durable(*this);
    if (!durable)
        write_sizes();
    // Should a rollback's cut have failed, leftovers of a dropped block may
    // lie past the data: the file ends where the data ends.
    m_file.Truncate(m_state.header_bytes() + m_nFileData);
    if (durable)
        sonvale::durable_recording::declare(*this);
    m_file.Close();
    m_state.path.reset();
}

void CWaveRecorder::Flush() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bOpen && sonvale::durable_recording::is_durable(*this))
        sonvale::durable_recording::declare_if_due(*this);
    else if (m_bOpen && m_nSyncedData != m_nFileData)
        write_sizes();
}

int CWaveRecorder::GetStatus(SONVALE_RECORD_STATUS* status) {
    if (!status || status->cbSize < sizeof(SONVALE_RECORD_STATUS)) {
        sonvale::set_last_error(status ? "the status record's cbSize is %u, less than %u bytes"
                                       : "no status record was given",
                                status ? status->cbSize : 0u,
                                static_cast<unsigned>(sizeof(SONVALE_RECORD_STATUS)));
        return -1;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    status->flags = (m_bOpen ? SONVALE_STATUS_OPEN : 0u) |
                    (m_state.rf64 ? SONVALE_STATUS_RF64 : 0u) |
                    (m_state.header_stale ? SONVALE_STATUS_HEADER_STALE : 0u) |
                    sonvale::durable_recording::status_flags(*this);
    status->dataBytes = m_nFileData;
    status->lostBytes = m_state.lost;
    return 0;
}

int CWaveRecorder::isOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bOpen;
}

bool CWaveRecorder::write_header() {
    unsigned char bytes[sonvale::rf64_header_bytes];
    const size_t n = m_state.header_bytes();
    if (m_state.rf64_auto()) {
        sonvale::wave_header_serialise_rf64(m_header, m_nFileData, bytes);
    } else {
        sonvale::wave_header_set_sizes(m_header, m_nDataLen);
        sonvale::wave_header_serialise(m_header, bytes);
    }
    // The whole header in one positioned write: the rest of it is unchanged,
    // and the position stays at the end of the data.
    return m_file.WriteAt(0, bytes, n) == n;
}

void CWaveRecorder::write_sizes() {
    const bool written = write_header();
    m_state.header_stale = !written;
    if (written && m_state.rf64_auto())
        m_state.rf64 = sonvale::wave_header_needs_rf64(m_nFileData);
    m_nSyncedData = m_nFileData;
    m_synced = std::chrono::steady_clock::now();
}

void CWaveRecorder::note_loss(uint64_t bytes, const char* reason) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bOpen)
        m_state.count_loss(bytes, reason);
}

bool CWaveRecorder::report_loss() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_state.lost == m_state.lost_reported)
        return false;
    m_state.lost_reported = m_state.lost;
    sonvale::set_last_error("%s", m_state.loss_reason);
    return true;
}

void CWaveRecorder::drop_stream_tail() {
    // The kept frame is the client thread's own: looking needs no lock, and
    // the common case (none kept) must not wait for the worker's write.
    if (m_state.stream_tail_len == 0)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    drop_stream_tail_locked();
}

void CWaveRecorder::drop_stream_tail_locked() {
    if (m_state.stream_tail_len == 0)
        return;
    if (m_bOpen) {
        char reason[96];
        sonvale::format_reason(reason, sizeof reason,
                               "%u bytes of a frame left unfinished by MIX_AddStream were dropped",
                               static_cast<unsigned>(m_state.stream_tail_len));
        m_state.count_loss(m_state.stream_tail_len, reason);
    }
    // Without a recording, nothing was meant for one.
    m_state.stream_tail_len = 0;
}
