#include "support/crash_states.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/file_writes.h"
#include "support/test_support.h"
#include "wav/wav_reader.h"

namespace test_support {

namespace {

constexpr uint64_t sector = 512;
constexpr size_t max_header = 80;

crash_states* g_log = nullptr;

// What an image holds from a span's start to its `end`: the recorded data,
// other bytes, or a header write's bytes (its index).
constexpr int right_data = -2;
constexpr int wrong_data = -1;
struct span {
    uint64_t end;
    int kind;
};

struct image {
    std::map<uint64_t, span> spans;
    uint64_t size = 0;

    void paint(uint64_t from, uint64_t to, int kind) {
        if (from >= to)
            return;
        cut_out(from, to);
        spans.emplace(from, span{to, kind});
        size = std::max(size, to);
    }

    void cut(uint64_t to) {
        cut_out(to, UINT64_MAX);
        size = to;
    }

    // True when [from, to) holds the recorded data throughout.
    bool holds_data(uint64_t from, uint64_t to) const {
        while (from < to) {
            auto it = spans.upper_bound(from);
            if (it == spans.begin())
                return false;
            --it;
            if (it->second.end <= from || it->second.kind != right_data)
                return false;
            from = it->second.end;
        }
        return true;
    }

    // The header write that holds bytes [0, len); -1 when none does whole.
    int header(uint64_t len) const {
        auto it = spans.find(0);
        return it != spans.end() && it->second.end >= len ? it->second.kind : -1;
    }

private:
    void cut_out(uint64_t from, uint64_t to) {
        auto it = spans.lower_bound(from);
        if (it != spans.begin() && std::prev(it)->second.end > from) {
            span& before = std::prev(it)->second;
            if (before.end > to)
                spans[to] = span{before.end, before.kind};
            before.end = from;
        }
        for (it = spans.lower_bound(from); it != spans.end() && it->first < to;) {
            if (it->second.end > to)
                spans[to] = span{it->second.end, it->second.kind};
            it = spans.erase(it);
        }
    }
};

// A write as far as an image keeps it: whole, not at all, or torn at a
// sector boundary (a prefix, a suffix, all but one sector).
void apply_torn(image& img, const crash_states::step& s, int kind, unsigned how,
                std::mt19937& rng) {
    const uint64_t first = (s.at / sector + 1) * sector, end = s.at + s.len;
    const uint64_t inner = first < end ? (end - 1 - first) / sector + 1 : 0; // boundaries inside
    const uint64_t cut = inner ? first + (rng() % inner) * sector : end;
    if (how == 1 || (how > 1 && !inner))
        return img.paint(s.at, end, kind);
    if (how == 2)
        img.paint(s.at, cut, kind);
    if (how == 3)
        img.paint(cut, end, kind);
    if (how == 4) {
        img.paint(s.at, cut, kind);
        img.paint(std::min(end, cut + sector), end, kind);
    }
}

int kind_of(const crash_states::step& s) {
    return s.header >= 0 ? s.header : s.expected ? right_data : wrong_data;
}

void apply(image& img, const crash_states::step& s) {
    if (s.kind == crash_states::step::write)
        img.paint(s.at, s.at + s.len, kind_of(s));
    else if (s.kind == crash_states::step::cut)
        img.cut(s.at);
}

} // namespace

// The seam's functions, on the log being kept.
struct crash_log {
    static int64_t write(intptr_t, const void* data, size_t len, int64_t offset) {
        crash_states& c = *g_log;
        const uint64_t at = offset < 0 ? c.m_position : static_cast<uint64_t>(offset);
        if (offset < 0)
            c.m_position += len;
        crash_states::step s{crash_states::step::write, at, len, -1, false};
        if (at == 0 && len <= max_header) {
            s.header = static_cast<int>(c.m_headers.size());
            const uint8_t* p = static_cast<const uint8_t*>(data);
            c.m_headers.emplace_back(p, p + len);
            c.m_data_start = c.m_data_start ? c.m_data_start : len;
        } else if (at >= c.m_data_start) {
            s.expected = expected(c, at - c.m_data_start, data, len);
            c.m_block_ends.push_back(at + len - c.m_data_start);
        }
        c.m_log.push_back(s);
        return static_cast<int64_t>(len);
    }

    // Big writes repeat one buffer at one phase of the period: checked once.
    static bool expected(crash_states& c, uint64_t d, const void* data, size_t len) {
        const uint64_t n = c.m_period.size(), phase = d % n;
        if (data == c.m_last_ptr && len == c.m_last_len && phase == c.m_last_phase)
            return true;
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (size_t done = 0; done < len;) {
            const size_t at = (phase + done) % n, part = std::min<size_t>(len - done, n - at);
            if (std::memcmp(p + done, c.m_period.data() + at, part) != 0)
                return false;
            done += part;
        }
        c.m_last_ptr = data;
        c.m_last_len = len;
        c.m_last_phase = phase;
        return true;
    }

    static int64_t position(intptr_t) { return static_cast<int64_t>(g_log->m_position); }

    static bool seek(intptr_t, uint64_t offset) {
        g_log->m_position = offset;
        return true;
    }

    static void add(crash_states::step::kind_t kind, uint64_t at = 0) {
        g_log->m_log.push_back({kind, at, 0, -1, false});
    }
};

namespace {

const sonvale::file_writes g_logging{
    crash_log::write,
    crash_log::position,
    crash_log::seek,
    [](intptr_t, uint64_t size) { return crash_log::add(crash_states::step::cut, size), true; },
    [](intptr_t) { return crash_log::add(crash_states::step::sync), true; },
    [](const char*) { return crash_log::add(crash_states::step::sync_folder), true; }};

// What a WAV reader makes of a header; whether the file holds what it
// declares is up to each image.
struct header_reading {
    bool read = false;
    uint64_t data_pos = 0, declared = 0;
};

header_reading read_header(const std::vector<uint8_t>& header, const std::string& path) {
    write_file(path, header);
    std::filesystem::resize_file(path, 1ull << 34); // sparse, past every recording here
    sonvale::riff_reader reader;
    sonvale::wav_file_info info{};
    const bool read = sonvale::open_wav(reader, path.c_str(), info);
    return {read, info.data_pos, info.declared_size};
}

// What a recording's images are judged against.
struct recording_facts {
    const std::vector<std::vector<uint8_t>>& headers;
    const std::vector<uint64_t>& block_ends;
    uint64_t data_start;
    std::string scratch; // a file for the reader
    std::map<int, header_reading> readings;
};

// Why the image reads against the promise; empty when it keeps it.
std::string judge(const image& img, uint64_t required, bool folder_synced, recording_facts& f) {
    const int header = img.header(f.data_start);
    if (header < 0)
        return "has no whole header";
    auto found = f.readings.find(header);
    if (found == f.readings.end())
        found = f.readings.emplace(header, read_header(f.headers[header], f.scratch)).first;
    const header_reading& r = found->second;
    if (!r.read)
        return "is not read as a WAV file";
    if (r.data_pos + r.declared > img.size)
        return "declares more data than the file holds";
    if (!img.holds_data(r.data_pos, r.data_pos + r.declared))
        return "declares data that did not reach the disk";
    if (r.declared < required)
        return "lacks data a flush reported on the disk";
    if (r.declared &&
        std::find(f.block_ends.begin(), f.block_ends.end(), r.declared) == f.block_ends.end())
        return "ends inside a block";
    if (!folder_synced)
        return "may be missing: its folder was never synced";
    return "";
}

} // namespace

crash_states::crash_states(std::vector<uint8_t> period) : m_period(std::move(period)) {
    g_log = this;
    sonvale::install_file_writes(&g_logging);
}

crash_states::~crash_states() {
    sonvale::install_file_writes(nullptr);
    g_log = nullptr;
}

void crash_states::require(uint64_t data_bytes) {
    m_required.emplace_back(m_log.size(), data_bytes);
}

crash_states::outcome crash_states::check(unsigned per_sync, unsigned seed) const {
    outcome out;
    std::vector<size_t> syncs;
    for (size_t i = 0; i < m_log.size(); ++i)
        if (m_log[i].kind == step::sync || m_log[i].kind == step::sync_folder)
            syncs.push_back(i);
    out.syncs = syncs.size();
    std::mt19937 rng(seed);
    temp_dir dir;
    recording_facts facts{m_headers, m_block_ends, m_data_start, dir.file("image.wav"), {}};
    image base;
    bool folder_synced = false;
    size_t applied = 0;
    for (size_t k = 0; k <= syncs.size(); ++k) {
        // Crashing after the sync before `start`, with some steps up to `end`.
        const size_t start = k == 0 ? 0 : syncs[k - 1] + 1,
                     end = k < syncs.size() ? syncs[k] : m_log.size();
        for (; applied < start; ++applied) {
            apply(base, m_log[applied]);
            folder_synced |= m_log[applied].kind == step::sync_folder;
        }
        uint64_t required = 0;
        bool recording = false;
        for (const auto& r : m_required) {
            recording |= r.first <= end;
            if (r.first <= start)
                required = std::max(required, r.second);
        }
        for (unsigned n = 0; recording && n < per_sync; ++n) {
            image img = base;
            for (size_t i = start; i < end; ++i) {
                const unsigned how = n == 0 ? 1 : n == 1 ? 0 : rng() % 5;
                if (m_log[i].kind == step::write && how != 0)
                    apply_torn(img, m_log[i], kind_of(m_log[i]), how, rng);
                else if (m_log[i].kind == step::cut && how % 2 == 1)
                    apply(img, m_log[i]);
            }
            const std::string problem = judge(img, required, folder_synced, facts);
            ++out.images;
            if (problem.empty())
                continue;
            ++out.failures;
            ++out.reasons[problem];
            if (out.first.empty())
                out.first = "after sync " + std::to_string(k) + " of " +
                            std::to_string(syncs.size()) + ", image " + std::to_string(n) +
                            ": the file " + problem + " (" + std::to_string(required) +
                            " bytes required)";
        }
    }
    return out;
}

} // namespace test_support
