#include "common/items.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/mem.h"

const char *choice_label(const ChoiceItem *c)
{
    if (!c || !c->labels || c->chosen < 0 || c->chosen >= c->count || !c->labels[c->chosen])
        return "";
    return c->labels[c->chosen];
}

int choice_find(const ChoiceItem *c, const char *text)
{
    if (!c || !c->labels || !text)
        return -1;
    for (int i = 0; i < c->count; i++)
        if (c->labels[i] && strcmp(c->labels[i], text) == 0)
            return i;
    return -1;
}

bool choice_set(ChoiceItem *c, const char *text)
{
    int i = choice_find(c, text);
    if (i < 0)
        return false;
    c->chosen = i;
    return true;
}

bool parse_number(const char *text, double *out)
{
    double v;
    if (!text || sscanf(text, "%lf", &v) != 1 || !isfinite(v))
        return false;
    *out = v;
    return true;
}

bool parse_int(const char *text, int *out)
{
    if (!text)
        return false;
    char *end;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text)
        return false;
    if (v > INT_MAX || (errno == ERANGE && v > 0))
        v = INT_MAX;
    if (v < INT_MIN || (errno == ERANGE && v < 0))
        v = INT_MIN;
    *out = (int)v;
    return true;
}

void number_set(NumberItem *n, double value)
{
    if (isnan(value))
        return;
    if (value < n->minimum)
        value = n->minimum;
    if (value > n->maximum)
        value = n->maximum;
    n->value = value;
}

bool number_set_text(NumberItem *n, const char *text)
{
    double v;
    if (!parse_number(text, &v))
        return false;
    number_set(n, v);
    return true;
}

void copy_text(char *dst, const char *src, size_t max_chars)
{
    size_t n = src ? strnlen(src, max_chars) : 0;
    if (n)
        memcpy(dst, src, n);
    dst[n] = 0;
}

static void reserve(TextBuf *b, size_t extra)
{
    size_t need = b->length + extra + 1;
    if (need <= b->capacity)
        return;
    size_t cap = b->capacity ? b->capacity : 256;
    while (cap < need)
        cap *= 2;
    b->text = (char *)xrealloc(b->text, cap);
    b->capacity = cap;
}

void textbuf_append(TextBuf *b, const char *s)
{
    size_t n = strlen(s);
    reserve(b, n);
    memcpy(b->text + b->length, s, n + 1);
    b->length += n;
}

void textbuf_printf(TextBuf *b, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n <= 0)
        return;
    reserve(b, (size_t)n);
    va_start(ap, format);
    vsnprintf(b->text + b->length, (size_t)n + 1, format, ap);
    va_end(ap);
    b->length += (size_t)n;
}

char *textbuf_take(TextBuf *b)
{
    char *t = b->text ? b->text : xstrdup("");
    b->text = nullptr;
    b->length = b->capacity = 0;
    return t;
}

void textbuf_free(TextBuf *b)
{
    xfree(b->text);
    b->text = nullptr;
    b->length = b->capacity = 0;
}
