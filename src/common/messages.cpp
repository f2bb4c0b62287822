#include "common/messages.h"

#include <stdio.h>
#include <string.h>

#include "platform/log.h"

static const double k_first_expiry = 2;     // seconds of game_clock after the last message
static const double k_next_expiry = 5;      // then one more line every this many seconds

static struct {
    char lines[MESSAGE_LOG_LINES][MESSAGE_LINE_CHARS + 1];
    int next;
    int showing;
    int max_showing = 5;
    double expires;
    bool hide_spam;
    double (*clock)(void);
} g_messages;

void post_message(const char *text)
{
    if (!text)
        return;
    if (g_messages.hide_spam && strstr(text, "[SPAM]"))
        return;
    size_t n = strlen(text);
    const char *reset = strchr(text, 27) ? "\033[0m" : "";
    if (n > 0 && text[n - 1] == '\n')
        log_printf("%s%s", text, reset);
    else
        log_printf("%s%s\n", text, reset);
    snprintf(g_messages.lines[g_messages.next], MESSAGE_LINE_CHARS + 1, "%s", text);
    g_messages.next = (g_messages.next + 1) % MESSAGE_LOG_LINES;
    if (g_messages.showing < g_messages.max_showing)
        g_messages.showing++;
    g_messages.expires = (g_messages.clock ? g_messages.clock() : 0) + k_first_expiry;
}

void messages_set_clock(double (*now)(void))
{
    g_messages.clock = now;
}

void messages_clear(void)
{
    memset(g_messages.lines, 0, sizeof g_messages.lines);
    g_messages.next = 0;
    g_messages.showing = 0;
    g_messages.expires = 0;
}

const char *message_line(int age)
{
    if (age < 0 || age >= MESSAGE_LOG_LINES)
        return "";
    return g_messages.lines[(g_messages.next - 1 - age + 2 * MESSAGE_LOG_LINES) % MESSAGE_LOG_LINES];
}

int message_next_index(void)
{
    return g_messages.next;
}

int messages_showing(void)
{
    return g_messages.showing;
}

void messages_update(double now)
{
    if (g_messages.showing > 0 && now >= g_messages.expires) {
        g_messages.showing--;
        g_messages.expires = now + k_next_expiry;
    }
}

void messages_set_max_showing(int lines)
{
    g_messages.max_showing = lines < 0 ? 0 : lines;
    if (g_messages.showing > g_messages.max_showing)
        g_messages.showing = g_messages.max_showing;
}

void messages_set_hide_spam(bool on)
{
    g_messages.hide_spam = on;
}

bool messages_hide_spam(void)
{
    return g_messages.hide_spam;
}

static bool colour_number(int n)
{
    return n == 0 || n == 1 || n == 22 || (n >= 30 && n <= 37) || (n >= 40 && n <= 47);
}

// The escape sequence at s (s[0] is ESC): its length, and whether it is a colour the fonts
// know. An unfinished sequence runs to the end of the text.
static size_t escape_length(const char *s, bool *colour)
{
    *colour = false;
    size_t i = 1;
    if (s[i] != '[') {
        // ESC and any other character: up to the next final character.
        while (s[i] && !(s[i] >= '@' && s[i] <= '~'))
            i++;
        return s[i] ? i + 1 : i;
    }
    i++;
    bool ok = true;
    int value = 0, digits = 0;
    for (; s[i]; i++) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            value = value < 1000 ? value * 10 + (c - '0') : value;
            digits++;
        } else if (c == ';' || c == 'm') {
            ok = ok && digits <= 3 && colour_number(value);
            value = digits = 0;
            if (c == 'm') {
                *colour = ok;
                return i + 1;
            }
        } else if (c >= '@' && c <= '~') {
            return i + 1;           // some other command: dropped whole
        } else {
            ok = false;
        }
    }
    return i;
}

void clean_remote_text(const char *text, char *out, size_t size)
{
    if (size == 0)
        return;
    size_t n = 0;
    for (const char *s = text ? text : ""; *s;) {
        unsigned char c = (unsigned char)*s;
        if (c == 27) {
            bool colour;
            size_t len = escape_length(s, &colour);
            if (colour && n + len < size) {
                memcpy(out + n, s, len);
                n += len;
            }
            s += len;
            continue;
        }
        s++;
        if (c < 32 || c == 127 || (c >= 128 && c < 160))
            continue;
        if (n + 1 < size)
            out[n++] = (char)c;
    }
    out[n] = 0;
}

void post_remote_message(const char *text)
{
    char clean[MESSAGE_LINE_CHARS * 4 + 1];
    clean_remote_text(text, clean, sizeof clean);
    post_message(clean);
}
