// The WAV recorder: a lock serialising
// Write / Open / Close / Flush, every block handed to the OS at once,
// exclusive files, whole-block rollback on a failed write, sizes in the file
// kept current while recording and clamped at Close.
#include "platform/last_error.h"
#include "record/wave_header.h"
#include "sonvale.h"

using sonvale::wave_header_bytes;

namespace {

// While blocks keep coming, the sizes in the file are at most this old, so a
// killed process leaves a file that reads as nearly all it recorded.
constexpr std::chrono::milliseconds sizes_max_age{200};

// Writes the serialised header at offset 0. True when all 44 bytes went in.
bool write_header(CFile& file, const WaveFileHeader& header) {
    unsigned char bytes[wave_header_bytes];
    sonvale::wave_header_serialise(header, bytes);
    return file.Seek(0) && file.Write(bytes, sizeof bytes) == sizeof bytes;
}

} // namespace

CWaveRecorder::CWaveRecorder()
    : m_nDataLen(0), m_header(), m_bOpen(0), m_nFileData(0), m_nSyncedData(0),
      m_nSourceTag(WAVE_FORMAT_PCM), m_nSourceBits(0) {}

CWaveRecorder::~CWaveRecorder() {
    Close();
}

bool CWaveRecorder::Open(const char* path, unsigned long samplesPerSec, unsigned short channels,
                         unsigned short bitsPerSample) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bOpen)
        return true; // the open file goes on; the arguments are ignored
    m_nDataLen = 0;
    if (!path)
        return false;
    // Fill a local header first, so that a failed Open leaves m_header as it
    // was.
    const bool is_float = m_nSourceTag == WAVE_FORMAT_IEEE_FLOAT && m_nSourceBits == bitsPerSample;
    WaveFileHeader header;
    sonvale::wave_header_fill(header, is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM,
                              samplesPerSec, channels, bitsPerSample);
    if (!m_file.CreateExclusive(path))
        return false; // cannot be created, or another recorder holds it
    if (!write_header(m_file, header)) {
        sonvale::set_last_error("cannot write the header of '%s': %s", path,
                                sonvale::system_error_text());
        // Not even the header fits (a full disk): no usable recording.
        m_file.Truncate(0);
        m_file.Close();
        return false;
    }
    m_header = header;
    m_nFileData = 0;
    m_nSyncedData = 0;
    m_synced = std::chrono::steady_clock::now();
    m_bOpen = 1;
    return true;
}

void CWaveRecorder::Write(const char* data, int len) {
    if (!data || len <= 0)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen)
        return;
    const size_t want = static_cast<size_t>(len);
    const size_t written = m_file.Write(data, want);
    if (written == want) {
        m_nFileData += want;
        const uint64_t counted = static_cast<uint64_t>(m_nDataLen) + want;
        m_nDataLen = counted < 0xFFFFFFFFu ? static_cast<uint32_t>(counted) : 0xFFFFFFFFu;
        if (std::chrono::steady_clock::now() - m_synced >= sizes_max_age)
            write_sizes();
        return;
    }
    // A short or failed write: drop the block whole. Cut off whatever part of
    // it reached the file and move back to the end of the data, so that the
    // next block follows the last whole one.
    const uint64_t end = wave_header_bytes + m_nFileData;
    if (written > 0)
        m_file.Truncate(end);
    m_file.Seek(end);
}

void CWaveRecorder::Close() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen)
        return;
    m_bOpen = 0;
    write_sizes();
    // Should a rollback's cut have failed, leftovers of a dropped block may
    // lie past the data: the file ends where the data ends.
    m_file.Truncate(wave_header_bytes + m_nFileData);
    m_file.Close();
}

void CWaveRecorder::Flush() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bOpen && m_nSyncedData != m_nFileData)
        write_sizes();
}

void CWaveRecorder::write_sizes() {
    sonvale::wave_header_set_sizes(m_header, m_nDataLen);
    unsigned char bytes[wave_header_bytes];
    sonvale::wave_header_serialise(m_header, bytes);
    // The whole header in one positioned write: the rest of it is unchanged,
    // and the position stays at the end of the data.
    m_file.WriteAt(0, bytes, sizeof bytes);
    m_nSyncedData = m_nFileData;
    m_synced = std::chrono::steady_clock::now();
}

int CWaveRecorder::isOpen() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bOpen;
}
