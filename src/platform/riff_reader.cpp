#include "platform/riff_reader.h"

#include <algorithm>
#include <cstring>

namespace sonvale {

namespace {

constexpr uint64_t chunk_header_size = 8;
constexpr uint64_t form_type_size = 4;

} // namespace

riff_reader::~riff_reader() {
    close();
}

bool riff_reader::open(const char* path) {
    close();
    return m_file.open(path);
}

bool riff_reader::descend_form(riff_chunk& out, const char form[4]) {
    static const char riff_id[4] = {'R', 'I', 'F', 'F'};
    return find(out, m_file.size(), riff_id, form);
}

bool riff_reader::descend(riff_chunk& out, const riff_chunk& parent, const char id[4]) {
    return find(out, std::min(parent.data_end(), m_file.size()), id, nullptr);
}

void riff_reader::ascend(const riff_chunk& chunk) {
    m_pos = chunk.data_end() + (chunk.size & 1);
}

size_t riff_reader::read(void* buffer, size_t len) {
    size_t got = m_file.read_at(m_pos, buffer, len);
    m_pos += got;
    return got;
}

void riff_reader::close() {
    m_file.close();
    m_pos = 0;
}

// Walks the chunk headers from the current position until one with
// identifier `id` (and, when `form` is given, that form type) is found. Each
// step moves at least one header forward; a chunk running past `end` stops
// the walk, since nothing after it can be located reliably, unless it is the
// form searched for, whose sub-chunks are then searched up to `end`.
bool riff_reader::find(riff_chunk& out, uint64_t end, const char id[4], const char* form) {
    while (m_file.is_open() && m_pos + chunk_header_size <= end) {
        unsigned char header[chunk_header_size];
        if (m_file.read_at(m_pos, header, sizeof header) != sizeof header)
            return false;
        riff_chunk chunk;
        std::memcpy(chunk.id, header, sizeof chunk.id);
        chunk.size = riff_le32(header + 4);
        chunk.data_pos = m_pos + chunk_header_size;
        const bool past_end = chunk.data_end() > end;
        if (past_end && !form) {
            out = chunk;
            return false;
        }
        if (std::memcmp(chunk.id, id, sizeof chunk.id) == 0) {
            if (!form) {
                m_pos = chunk.data_pos;
                out = chunk;
                return true;
            }
            char type[form_type_size];
            if (chunk.size >= form_type_size &&
                m_file.read_at(chunk.data_pos, type, sizeof type) == sizeof type &&
                std::memcmp(type, form, sizeof type) == 0) {
                m_pos = chunk.data_pos + form_type_size;
                out = chunk;
                return true;
            }
        }
        if (past_end)
            return false;
        ascend(chunk);
    }
    return false;
}

} // namespace sonvale
