#include "platform/last_error.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sonvale {

namespace {

// Room for a sentence with two long paths and the system's words.
constexpr size_t reason_capacity = 1024;
constexpr char elision[] = "\xE2\x80\xA6"; // U+2026, the ellipsis
constexpr size_t elision_len = sizeof elision - 1;
// String arguments a reason shortens one by one; past these, strings are
// treated as fixed text (reasons have one or two).
constexpr size_t max_strings = 8;

thread_local char t_reason[reason_capacity];

bool continuation_byte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// `at` moved back (or, with `forward`, on) to the start of a UTF-8
// character of `s`, `len` bytes long, so that a cut there splits none.
size_t char_boundary(const char* s, size_t len, size_t at, bool forward) {
    while (at > 0 && at < len && continuation_byte(s[at]))
        at += forward ? 1 : -1;
    return at;
}

// Appends text to a buffer of `capacity` bytes; what does not fit is cut at
// a character.
class reason_writer {
public:
    reason_writer(char* buffer, size_t capacity)
        : m_start(buffer), m_at(buffer), m_capacity(capacity) {}
    ~reason_writer() { *m_at = '\0'; }
    reason_writer(const reason_writer&) = delete;
    reason_writer& operator=(const reason_writer&) = delete;

    void put(const char* s, size_t len) {
        const size_t room = m_capacity - 1 - static_cast<size_t>(m_at - m_start);
        if (len > room)
            len = char_boundary(s, len, room, false);
        std::memcpy(m_at, s, len);
        m_at += len;
    }

    // A string argument in at most `limit` bytes: a longer one keeps its
    // start and its end around an ellipsis.
    void put_string(const char* s, size_t len, size_t limit) {
        if (len <= limit)
            return put(s, len);
        const size_t keep = limit > elision_len ? limit - elision_len : 0;
        const size_t head = char_boundary(s, len, keep / 2, false);
        const size_t tail = char_boundary(s, len, len - (keep - keep / 2), true);
        put(s, head);
        put(elision, elision_len);
        put(s + tail, len - tail);
    }

private:
    char* m_start;
    char* m_at;
    size_t m_capacity;
};

// One conversion of a reason's format, read after its '%'.
struct conversion {
    char conversion[48] = "%"; // its flags, width and precision ('*' as digits)
    int precision = -1;        // -1 when none
    char length = 0;           // the last modifier, 'q' for "ll"; 0 when none
    char kind = 0;             // the conversion character; 0 at the format's end
    const char* end = {};      // just past it
};

// Appends a field of `p` (digits or '*') to `c.conversion`; returns its value.
int read_number(const char*& p, conversion& c, va_list& args) {
    const size_t n = std::strlen(c.conversion);
    const size_t room = sizeof c.conversion - n - 4; // for "ll", the kind and '\0'
    int value = 0;
    if (*p == '*') {
        value = va_arg(args, int);
        ++p;
    } else {
        for (; *p >= '0' && *p <= '9'; ++p)
            value = value * 10 + (*p - '0');
    }
    std::snprintf(c.conversion + n, room, "%d", value);
    return value;
}

conversion read_conversion(const char* p, va_list& args) {
    conversion c;
    size_t n = 1;
    for (; *p && std::strchr("-+ #0", *p) && n < 8; ++p)
        c.conversion[n++] = *p;
    if ((*p >= '0' && *p <= '9') || *p == '*')
        read_number(p, c, args);
    if (*p == '.') {
        std::strcat(c.conversion, ".");
        ++p;
        c.precision = read_number(p, c, args);
    }
    for (; *p && std::strchr("hlLzjt", *p); ++p)
        c.length = *p == 'l' && c.length == 'l' ? 'q' : *p;
    c.kind = *p;
    c.end = *p ? p + 1 : p;
    return c;
}

// The integer argument of the type the modifier names, widened.
long long signed_argument(char length, va_list& args) {
    switch (length) {
    case 'l':
        return va_arg(args, long);
    case 'q':
        return va_arg(args, long long);
    case 'z':
        return static_cast<long long>(va_arg(args, size_t));
    case 'j':
        return va_arg(args, intmax_t);
    case 't':
        return va_arg(args, ptrdiff_t);
    default:
        return va_arg(args, int); // char and short arrive as int
    }
}
unsigned long long unsigned_argument(char length, va_list& args) {
    switch (length) {
    case 'l':
        return va_arg(args, unsigned long);
    case 'q':
        return va_arg(args, unsigned long long);
    case 'z':
        return va_arg(args, size_t);
    case 'j':
        return static_cast<unsigned long long>(va_arg(args, uintmax_t));
    case 't':
        return static_cast<unsigned long long>(va_arg(args, ptrdiff_t));
    default:
        return va_arg(args, unsigned);
    }
}

// The text of a conversion other than 's' and '%', into `out`.
void format_value(conversion& c, char (&out)[128], va_list& args) {
    const size_t n = std::strlen(c.conversion);
    const bool integer = std::strchr("diuoxXc", c.kind) != nullptr;
    // Integers are printed as the widest type, so the conversion says so.
    std::snprintf(c.conversion + n, sizeof c.conversion - n, "%s%c",
                  integer && c.kind != 'c' ? "ll" : (c.length == 'L' ? "L" : ""), c.kind);
    out[0] = '\0';
    if (c.kind == 'd' || c.kind == 'i')
        std::snprintf(out, sizeof out, c.conversion, signed_argument(c.length, args));
    else if (c.kind == 'c')
        std::snprintf(out, sizeof out, c.conversion, va_arg(args, int));
    else if (integer)
        std::snprintf(out, sizeof out, c.conversion, unsigned_argument(c.length, args));
    else if (c.kind == 'p')
        std::snprintf(out, sizeof out, c.conversion, va_arg(args, void*));
    else if (c.length == 'L' && std::strchr("fFeEgGaA", c.kind))
        std::snprintf(out, sizeof out, c.conversion, va_arg(args, long double));
    else if (std::strchr("fFeEgGaA", c.kind))
        std::snprintf(out, sizeof out, c.conversion, va_arg(args, double));
}

// The pieces of a reason, in order: literal text and formatted values
// (`shortened` false), and string arguments (`shortened` true).
template <class Piece> void for_each_piece(const char* format, va_list& args, Piece piece) {
    for (const char* p = format; *p;) {
        const char* percent = std::strchr(p, '%');
        const size_t literal = percent ? static_cast<size_t>(percent - p) : std::strlen(p);
        piece(p, literal, false);
        if (!percent)
            break;
        conversion c = read_conversion(percent + 1, args);
        if (c.kind == '%') {
            piece("%", 1, false);
        } else if (c.kind == 's') {
            const char* s = va_arg(args, const char*);
            s = s ? s : "(null)";
            size_t len = std::strlen(s);
            if (c.precision >= 0 && static_cast<size_t>(c.precision) < len)
                len = char_boundary(s, len, static_cast<size_t>(c.precision), false);
            piece(s, len, true);
        } else if (c.kind) {
            char text[128];
            format_value(c, text, args);
            piece(text, std::strlen(text), false);
        }
        p = c.end;
    }
}

// The most bytes each string argument may take so that the reason fits in
// `room` bytes after `fixed` bytes of other text: the longest strings give
// way first, down to the same length, while shorter ones stay whole.
size_t string_limit(size_t fixed, const size_t* lengths, size_t count, size_t room) {
    size_t total = fixed;
    for (size_t i = 0; i < count; ++i)
        total += lengths[i];
    if (total <= room)
        return SIZE_MAX;
    // Strings within an even share of what is left stay whole, which leaves
    // more for the others; the rest share it.
    size_t left = room > fixed ? room - fixed : 0;
    size_t limit = 0;
    bool whole[max_strings] = {};
    for (size_t sharing = count; sharing > 0;) {
        limit = left / sharing;
        size_t fitted = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!whole[i] && lengths[i] <= limit) {
                whole[i] = true;
                left -= lengths[i];
                ++fitted;
            }
        }
        if (fitted == 0)
            break;
        sharing -= fitted;
    }
    return limit;
}

} // namespace

void vformat_reason(char* buffer, size_t capacity, const char* format, va_list args) {
    if (capacity == 0)
        return;
    // First the lengths, then the text with the strings' limit.
    size_t fixed = 0, count = 0;
    size_t lengths[max_strings];
    va_list measuring;
    va_copy(measuring, args);
    for_each_piece(format, measuring, [&](const char*, size_t len, bool shortened) {
        if (shortened && count < max_strings)
            lengths[count++] = len;
        else
            fixed += len;
    });
    va_end(measuring);
    const size_t limit = string_limit(fixed, lengths, count, capacity - 1);
    reason_writer reason(buffer, capacity);
    size_t strings = 0;
    va_list writing;
    va_copy(writing, args);
    for_each_piece(format, writing, [&](const char* s, size_t len, bool shortened) {
        if (shortened && strings++ < max_strings)
            reason.put_string(s, len, limit);
        else
            reason.put(s, len);
    });
    va_end(writing);
}

void format_reason(char* buffer, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_reason(buffer, capacity, format, args);
    va_end(args);
}

void set_last_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vformat_reason(t_reason, sizeof t_reason, format, args);
    va_end(args);
}

const char* last_error() {
    return t_reason;
}

} // namespace sonvale
