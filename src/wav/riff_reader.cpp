#include "wav/riff_reader.h"

#include "platform/last_error.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sonvale {

namespace {

constexpr uint64_t chunk_header_size = 8;
constexpr size_t form_type_size = 4;
// Enough headers at once that a walk over a file of empty chunks reads it
// about as fast as one sequential read, few enough to stay in the cache.
constexpr size_t window_size = 128 * 1024;
constexpr size_t headers_per_group = 16;

// True when the `count` headers at `p` are all of empty chunks (size 0) and
// none has the identifier `id` (a little-endian word; any when `any_id`).
// Without a branch inside, so that the compiler can vectorise a group.
template <size_t count> bool all_empty(const unsigned char* p, uint32_t id, bool any_id) {
    uint32_t sizes = 0, hits = 0;
    for (size_t i = 0; i < count; ++i) {
        sizes |= riff_le32(p + i * chunk_header_size + 4);
        hits |= riff_le32(p + i * chunk_header_size) == id ? 1u : 0u;
    }
    return sizes == 0 && (any_id || hits == 0);
}

// How many of the `count` headers at `p` are those of empty chunks that a
// search for `id` (any, when null) passes over, before the first that it
// does not.
size_t empty_run(const unsigned char* p, size_t count, const char* id) {
    const bool any_id = id == nullptr;
    const uint32_t word = any_id ? 0 : riff_le32(reinterpret_cast<const unsigned char*>(id));
    size_t n = 0;
    while (count - n >= headers_per_group &&
           all_empty<headers_per_group>(p + n * chunk_header_size, word, any_id))
        n += headers_per_group;
    while (n < count && all_empty<1>(p + n * chunk_header_size, word, any_id))
        ++n;
    return n;
}

} // namespace

bool riff_chunk::is(const char other[4]) const {
    return std::memcmp(id, other, sizeof id) == 0;
}

riff_reader::~riff_reader() {
    close();
}

bool riff_reader::open(const char* path) {
    close();
    if (!m_window)
        m_window.reset(new (std::nothrow) unsigned char[window_size]);
    if (!m_window) {
        set_last_error("out of memory for reading '%s'", path);
        return false;
    }
    return m_file.open(path);
}

bool riff_reader::descend_form(riff_chunk& out, const char form[4]) {
    return find(out, m_file.size(), nullptr, form);
}

bool riff_reader::descend(riff_chunk& out, const riff_chunk& parent, const char id[4]) {
    return find(out, std::min(parent.data_end(), m_file.size()), id, nullptr);
}

void riff_reader::ascend(const riff_chunk& chunk) {
    const uint64_t end = chunk.data_end();
    m_pos = end == UINT64_MAX ? end : end + (chunk.size & 1);
}

size_t riff_reader::read(void* buffer, size_t len) {
    size_t got = m_file.read_at(m_pos, buffer, len);
    m_pos += got;
    return got;
}

void riff_reader::close() {
    m_file.close();
    m_pos = 0;
    m_data_size = riff_size_elsewhere;
    m_window_pos = 0;
    m_window_len = 0;
}

// Walks the chunk headers from the current position until one with
// identifier `id` is found, or, with `form` given, a "RIFF" or "RF64" chunk
// of that form type. Each step moves at least one header forward; a chunk
// running past `end` stops the walk, since nothing after it can be located
// reliably, unless it is the form searched for, whose sub-chunks are then
// searched up to `end`.
bool riff_reader::find(riff_chunk& out, uint64_t end, const char* id, const char* form) {
    riff_chunk chunk;
    // An empty chunk never holds a form, so a form search passes over all.
    while (m_file.is_open() && skip_empty(end, form ? nullptr : id) && chunk_at(m_pos, chunk)) {
        const bool past_end = chunk.data_end() > end;
        const bool found = matches(chunk, id, form);
        if (found || (past_end && !form)) {
            out = chunk;
            if (found)
                m_pos = chunk.data_pos + (form ? form_type_size : 0);
            return found && !(past_end && !form);
        }
        if (past_end)
            return false;
        ascend(chunk);
    }
    return false;
}

// Moves past the empty chunks from the current position that a search for
// `id` (any, when null) up to `end` passes over, a window at a time, as the
// walk is then bound by reading, not by one step a chunk. True when a
// chunk header lies there, before `end` and the file's end.
bool riff_reader::skip_empty(uint64_t end, const char* id) {
    for (;;) {
        if (m_pos > end || end - m_pos < chunk_header_size)
            return false;
        const unsigned char* p = window_at(m_pos, chunk_header_size);
        if (!p)
            return false;
        const size_t in_window = (m_window_len - (m_pos - m_window_pos)) / chunk_header_size;
        const size_t count =
            static_cast<size_t>(std::min<uint64_t>(in_window, (end - m_pos) / chunk_header_size));
        const size_t skipped = empty_run(p, count, id);
        m_pos += skipped * chunk_header_size;
        if (skipped < count)
            return true;
    }
}

bool riff_reader::matches(const riff_chunk& chunk, const char* id, const char* form) {
    if (!form)
        return chunk.is(id);
    const unsigned char* type =
        chunk.size >= form_type_size ? window_at(chunk.data_pos, form_type_size) : nullptr;
    return (chunk.is("RIFF") || chunk.is("RF64")) && type &&
           std::memcmp(type, form, form_type_size) == 0;
}

bool riff_reader::chunk_at(uint64_t pos, riff_chunk& out) {
    const unsigned char* header = window_at(pos, chunk_header_size);
    if (!header)
        return false;
    std::memcpy(out.id, header, sizeof out.id);
    const uint32_t size = riff_le32(header + 4);
    out.size = size == riff_size_elsewhere && out.is("data") ? m_data_size : size;
    out.data_pos = pos + chunk_header_size;
    return true;
}

// `len` bytes (at most the window's size) of the file at `pos`, read into
// the window unless they are in it already; null when the file ends first.
const unsigned char* riff_reader::window_at(uint64_t pos, size_t len) {
    const bool inside = pos >= m_window_pos && pos - m_window_pos <= m_window_len &&
                        m_window_len - (pos - m_window_pos) >= len;
    if (!inside) {
        m_window_pos = pos;
        m_window_len = m_file.read_at(pos, m_window.get(), window_size);
        if (m_window_len < len)
            return nullptr;
    }
    return m_window.get() + (pos - m_window_pos);
}

} // namespace sonvale
