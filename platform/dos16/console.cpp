// Console text: standard output through DOS handle 1, so that a batch file
// can redirect it, and a small printf for the messages' numbers.
#include "platform/dos16/runtime.h"

namespace dos16 {
namespace {

constexpr int kStandardOutput = 1;

struct Output {
    char *out;
    size_t capacity;
    size_t length = 0;

    void Put(char c) {
        if (length + 1 < capacity)
            out[length] = c;
        ++length;
    }
};

void PutNumber(Output &o, uint32_t value, unsigned base, bool upper, bool negative, unsigned width,
               char pad) {
    char digits[12];
    unsigned n = 0;
    const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[n++] = set[value % base];
        value /= base;
    } while (value);
    if (negative)
        digits[n++] = '-';
    for (unsigned i = n; i < width; ++i)
        o.Put(pad);
    while (n)
        o.Put(digits[--n]);
}

}  // namespace

size_t FormatV(char *out, size_t capacity, const char *format, va_list args) {
    Output o{out, capacity};
    for (const char *f = format; *f; ++f) {
        if (*f != '%') {
            o.Put(*f);
            continue;
        }
        char pad = ' ';
        if (*++f == '0') {
            pad = '0';
            ++f;
        }
        unsigned width = 0;
        while (*f >= '0' && *f <= '9')
            width = width * 10 + unsigned(*f++ - '0');
        switch (*f) {
        case 's': {
            const char *s = va_arg(args, const char *);
            unsigned n = 0;
            while (s[n])
                ++n;
            for (; n < width; ++n)
                o.Put(' ');
            for (; *s; ++s)
                o.Put(*s);
            break;
        }
        case 'c': o.Put(char(va_arg(args, int))); break;
        case 'd': {
            int32_t v = va_arg(args, int32_t);
            PutNumber(o, v < 0 ? 0u - uint32_t(v) : uint32_t(v), 10, false, v < 0, width, pad);
            break;
        }
        case 'u': PutNumber(o, va_arg(args, uint32_t), 10, false, false, width, pad); break;
        case 'x': PutNumber(o, va_arg(args, uint32_t), 16, false, false, width, pad); break;
        case 'X': PutNumber(o, va_arg(args, uint32_t), 16, true, false, width, pad); break;
        case 0: --f; break;
        default: o.Put(*f); break;
        }
    }
    if (capacity)
        out[o.length < capacity ? o.length : capacity - 1] = 0;
    return o.length;
}

size_t Format(char *out, size_t capacity, const char *format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = FormatV(out, capacity, format, args);
    va_end(args);
    return n;
}

void Write(const char *text, size_t length) {
    while (length) {
        uint16_t chunk = length > 0x8000 ? 0x8000 : uint16_t(length);
        if (WriteFile(kStandardOutput, text, chunk) <= 0)
            return;
        text += chunk;
        length -= chunk;
    }
}

void Print(const char *text) {
    size_t n = 0;
    while (text[n])
        ++n;
    Write(text, n);
}

void Printf(const char *format, ...) {
    char line[256];
    va_list args;
    va_start(args, format);
    size_t n = FormatV(line, sizeof line, format, args);
    va_end(args);
    Write(line, n < sizeof line ? n : sizeof line - 1);
}

}  // namespace dos16
