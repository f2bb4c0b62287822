// The formatted read of vfs.h: scanf conventions over a DataFile, built on one character of
// look-ahead (data_peekc), so a failed match leaves at most that character unread.
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "vfs/vfs.h"

enum { k_len_none, k_len_hh, k_len_h, k_len_l, k_len_ll, k_len_L };

static bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

static int digit_value(int c, int base)
{
    int v;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'z')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
        v = c - 'A' + 10;
    else
        return -1;
    return v < base ? v : -1;
}

static void skip_space(DataFile *f, int *count)
{
    while (is_space(data_peekc(f))) {
        data_getc(f);
        (*count)++;
    }
}

// Reads an integer of at most width characters. base 0 detects "0x" and "0". Returns false
// when no digit was read. The magnitude saturates at UINT64_MAX (overflow reported).
static bool scan_integer(DataFile *f, int width, int base, bool *negative, uint64_t *magnitude,
                         bool *overflow, int *count)
{
    *negative = false;
    *magnitude = 0;
    *overflow = false;
    int used = 0;
    int c = data_peekc(f);
    if ((c == '+' || c == '-') && used < width) {
        *negative = c == '-';
        data_getc(f);
        (*count)++;
        used++;
        c = data_peekc(f);
    }
    bool any = false;
    if ((base == 0 || base == 16) && c == '0' && used < width) {
        data_getc(f);
        (*count)++;
        used++;
        any = true;
        c = data_peekc(f);
        if ((c == 'x' || c == 'X') && used < width) {
            data_getc(f);
            (*count)++;
            used++;
            base = 16;
            c = data_peekc(f);
            any = false;                    // "0x" needs a hex digit after it
            if (digit_value(c, 16) < 0) {
                return true;                // reads as 0, as the C library does
            }
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0)
        base = 10;
    int d;
    while (used < width && (d = digit_value(c, base)) >= 0) {
        data_getc(f);
        (*count)++;
        used++;
        any = true;
        if (*magnitude > (UINT64_MAX - (uint64_t)d) / (uint64_t)base) {
            *overflow = true;
            *magnitude = UINT64_MAX;
        } else if (!*overflow) {
            *magnitude = *magnitude * (uint64_t)base + (uint64_t)d;
        }
        c = data_peekc(f);
    }
    return any;
}

static void store_signed(void *out, int length, bool negative, uint64_t magnitude)
{
    long long max = LLONG_MAX, min = LLONG_MIN;
    switch (length) {
    case k_len_hh: max = SCHAR_MAX; min = SCHAR_MIN; break;
    case k_len_h: max = SHRT_MAX; min = SHRT_MIN; break;
    case k_len_none: max = INT_MAX; min = INT_MIN; break;
    case k_len_l: max = LONG_MAX; min = LONG_MIN; break;
    default: break;
    }
    long long v;
    if (negative)
        v = magnitude > (uint64_t)max + 1 ? min : -(long long)(magnitude - 1) - 1;
    else
        v = magnitude > (uint64_t)max ? max : (long long)magnitude;
    if (negative && magnitude == 0)
        v = 0;
    switch (length) {
    case k_len_hh: *(signed char *)out = (signed char)v; break;
    case k_len_h: *(short *)out = (short)v; break;
    case k_len_none: *(int *)out = (int)v; break;
    case k_len_l: *(long *)out = (long)v; break;
    default: *(long long *)out = v; break;
    }
}

static void store_unsigned(void *out, int length, bool negative, uint64_t magnitude, bool overflow)
{
    unsigned long long max = ULLONG_MAX;
    switch (length) {
    case k_len_hh: max = UCHAR_MAX; break;
    case k_len_h: max = USHRT_MAX; break;
    case k_len_none: max = UINT_MAX; break;
    case k_len_l: max = ULONG_MAX; break;
    default: break;
    }
    unsigned long long v = overflow || magnitude > max ? max : magnitude;
    if (negative && !overflow && magnitude <= max)
        v = (0 - v) & max;                  // "-1" wraps, as strtoul does
    switch (length) {
    case k_len_hh: *(unsigned char *)out = (unsigned char)v; break;
    case k_len_h: *(unsigned short *)out = (unsigned short)v; break;
    case k_len_none: *(unsigned *)out = (unsigned)v; break;
    case k_len_l: *(unsigned long *)out = (unsigned long)v; break;
    default: *(unsigned long long *)out = v; break;
    }
}

// Collects the longest floating-point prefix (sign, digits, ".", digits, exponent) into buf.
static int scan_float_text(DataFile *f, int width, char *buf, int room, int *count)
{
    int len = 0;
    auto take = [&](void) {
        int c = data_getc(f);
        (*count)++;
        if (len < room - 1)
            buf[len++] = (char)c;
    };
    int used = 0;
    int c = data_peekc(f);
    if ((c == '+' || c == '-') && used < width) {
        take();
        used++;
        c = data_peekc(f);
    }
    bool digits = false;
    while (used < width && c >= '0' && c <= '9') {
        take();
        used++;
        digits = true;
        c = data_peekc(f);
    }
    if (used < width && c == '.') {
        take();
        used++;
        c = data_peekc(f);
        while (used < width && c >= '0' && c <= '9') {
            take();
            used++;
            digits = true;
            c = data_peekc(f);
        }
    }
    if (!digits)
        return 0;
    if (used < width && (c == 'e' || c == 'E')) {
        take();
        used++;
        c = data_peekc(f);
        if (used < width && (c == '+' || c == '-')) {
            take();
            used++;
            c = data_peekc(f);
        }
        while (used < width && c >= '0' && c <= '9') {
            take();
            used++;
            c = data_peekc(f);
        }
    }
    buf[len] = 0;
    return len;
}

// Parses a "[" set starting after "["; fills accept[256]; returns the format after "]", or
// null for an unterminated set.
static const char *parse_set(const char *p, bool accept[256])
{
    bool invert = false;
    if (*p == '^') {
        invert = true;
        p++;
    }
    bool in[256] = {};
    if (*p == ']') {
        in[(unsigned char)']'] = true;
        p++;
    }
    while (*p && *p != ']') {
        unsigned char lo = (unsigned char)*p;
        if (p[1] == '-' && p[2] && p[2] != ']') {
            unsigned char hi = (unsigned char)p[2];
            for (int c = lo; c <= hi; c++)
                in[c] = true;
            p += 3;
        } else {
            in[lo] = true;
            p++;
        }
    }
    if (*p != ']')
        return nullptr;
    for (int c = 0; c < 256; c++)
        accept[c] = in[c] != invert;
    return p + 1;
}

static int vscan(DataFile *f, const char *format, va_list ap)
{
    int assigned = 0;
    int count = 0;                  // characters consumed, for "%n"
    bool input_failed = false;
    const char *p = format;
    while (*p) {
        unsigned char fc = (unsigned char)*p;
        if (is_space(fc)) {
            skip_space(f, &count);
            while (is_space((unsigned char)*p))
                p++;
            continue;
        }
        if (fc != '%' || p[1] == '%') {
            if (fc == '%') {
                p++;
                skip_space(f, &count);
            }
            int c = data_peekc(f);
            if (c < 0) {
                input_failed = true;
                break;
            }
            if (c != (unsigned char)*p)
                break;
            data_getc(f);
            count++;
            p++;
            continue;
        }
        p++;
        bool suppress = false;
        if (*p == '*') {
            suppress = true;
            p++;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') {
            if (width < INT_MAX / 10)
                width = width * 10 + (*p - '0');
            p++;
        }
        bool has_width = width > 0;
        if (!has_width)
            width = INT_MAX;
        int length = k_len_none;
        if (p[0] == 'h' && p[1] == 'h') {
            length = k_len_hh;
            p += 2;
        } else if (*p == 'h') {
            length = k_len_h;
            p++;
        } else if (p[0] == 'l' && p[1] == 'l') {
            length = k_len_ll;
            p += 2;
        } else if (*p == 'l') {
            length = k_len_l;
            p++;
        } else if (*p == 'L' || *p == 'q' || *p == 'j') {
            length = *p == 'L' ? k_len_L : k_len_ll;
            p++;
        } else if (*p == 'z' || *p == 't') {
            length = k_len_l;
            p++;
        }
        char conv = *p;
        if (!conv)
            break;
        p++;
        if (conv == 'n') {
            if (!suppress)
                store_signed(va_arg(ap, void *), length, count < 0, (uint64_t)count);
            continue;
        }
        if (conv != 'c' && conv != '[')
            skip_space(f, &count);
        if (data_peekc(f) < 0) {
            input_failed = true;
            break;
        }
        if (conv == 'd' || conv == 'i' || conv == 'o' || conv == 'u' || conv == 'x' || conv == 'X') {
            int base = conv == 'd' || conv == 'u' ? 10 : conv == 'i' ? 0 : conv == 'o' ? 8 : 16;
            bool negative, overflow;
            uint64_t magnitude;
            if (!scan_integer(f, width, base, &negative, &magnitude, &overflow, &count))
                break;
            if (!suppress) {
                void *out = va_arg(ap, void *);
                if (conv == 'd' || conv == 'i')
                    store_signed(out, length, negative, magnitude);
                else
                    store_unsigned(out, length, negative, magnitude, overflow);
                assigned++;
            }
        } else if (conv == 'f' || conv == 'e' || conv == 'g' || conv == 'E' || conv == 'G' || conv == 'a' ||
                   conv == 'F') {
            char text[512];
            if (!scan_float_text(f, width, text, sizeof text, &count))
                break;
            if (!suppress) {
                void *out = va_arg(ap, void *);
                if (length == k_len_L)
                    *(long double *)out = strtold(text, nullptr);
                else if (length == k_len_l)
                    *(double *)out = strtod(text, nullptr);
                else
                    *(float *)out = strtof(text, nullptr);
                assigned++;
            }
        } else if (conv == 's' || conv == '[') {
            bool accept[256];
            if (conv == '[') {
                p = parse_set(p, accept);
                if (!p)
                    break;
            } else {
                for (int c = 0; c < 256; c++)
                    accept[c] = !is_space(c);
            }
            char *out = suppress ? nullptr : va_arg(ap, char *);
            int len = 0;
            int c = data_peekc(f);
            while (len < width && c >= 0 && accept[c]) {
                data_getc(f);
                count++;
                if (out)
                    out[len] = (char)c;
                len++;
                c = data_peekc(f);
            }
            if (len == 0)
                break;
            if (out) {
                out[len] = 0;
                assigned++;
            }
        } else if (conv == 'c') {
            if (!has_width)
                width = 1;
            char *out = suppress ? nullptr : va_arg(ap, char *);
            int len = 0;
            while (len < width) {
                int c = data_getc(f);
                if (c < 0)
                    break;
                count++;
                if (out)
                    out[len] = (char)c;
                len++;
            }
            if (len < width) {
                input_failed = true;
                if (len == 0)
                    break;
            }
            if (out)
                assigned++;
            if (input_failed)
                break;
        } else {
            break;                          // an unknown conversion ends the scan
        }
    }
    if (input_failed && assigned == 0)
        return -1;
    return assigned;
}

int data_scanf(DataFile *f, const char *format, ...)
{
    if (!f || !format)
        return -1;
    va_list ap;
    va_start(ap, format);
    int n = vscan(f, format, ap);
    va_end(ap);
    return n;
}

int data_read_int(DataFile *f)
{
    int v;
    return data_scanf(f, "%d", &v) == 1 ? v : INT_MIN;
}
