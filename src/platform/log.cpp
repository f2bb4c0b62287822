#include "platform/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "platform/clock.h"

// The sound thread logs too, so every write happens under one lock.
static struct {
    std::recursive_mutex lock;
    bool opened;            // the first call has happened
    FILE *file;
    char last_error[1024];
    void (*observer)(const char *text);
} g_log;

static void write_prefixed(const char *text)
{
    if ((unsigned char)text[0] == 19)
        return;
    if (g_log.observer)
        g_log.observer(text);
    if (!g_log.file)
        return;
    long sec, usec;
    clock_now(&sec, &usec);
    fprintf(g_log.file, "[%ld:%02ld:%02ld.%02ld] %s", sec / 3600, (sec / 60) % 60, sec % 60, usec / 10000, text);
    fflush(g_log.file);
}

static void open_log(const char *first_message)
{
    g_log.opened = true;
    const char *path = getenv("TOVA_LOGFILE");
    bool first_names_path = strncmp(first_message, "TOVA_LOGFILE=", 13) == 0;
    char from_message[1024];
    if (!path && first_names_path) {
        snprintf(from_message, sizeof from_message, "%s", first_message + 13);
        from_message[strcspn(from_message, "\r\n")] = 0;
        path = from_message;
    }
    if (!path || !*path)
        return;
    // ">>path" appends, ">path" or a bare path writes anew.
    const char *mode = "w";
    if (strncmp(path, ">>", 2) == 0) {
        mode = "a";
        path += 2;
    } else if (path[0] == '>') {
        path += 1;
    }
    const char *flags = getenv("TOVA_LOGFILE_FLAGS");
    if (flags && *flags)
        mode = flags;
    g_log.file = fopen(path, mode);
    if (!g_log.file)
        return;
    char line[1200];
    snprintf(line, sizeof line, "Logfile \"%s\" opened\n", path);
    write_prefixed(line);
    write_prefixed("TOVA 0.31\n");
}

static void log_text(const char *text)
{
    if (!g_log.opened) {
        open_log(text);
        if (strncmp(text, "TOVA_LOGFILE=", 13) == 0)
            return;
    }
    write_prefixed(text);
}

void log_printf(const char *format, ...)
{
    std::lock_guard<std::recursive_mutex> hold(g_log.lock);
    if (!format) {
        if (g_log.file)
            fclose(g_log.file);
        g_log.file = nullptr;
        return;
    }
    char text[4096];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < (int)sizeof text) {
        log_text(text);
        return;
    }
    // A long message (a script dump, a file list) is written whole. Plain malloc: the
    // tracked allocator reports through this log.
    char *big = (char *)malloc((size_t)n + 1);
    if (!big) {
        log_text(text);
        return;
    }
    va_start(ap, format);
    vsnprintf(big, (size_t)n + 1, format, ap);
    va_end(ap);
    log_text(big);
    free(big);
}

bool log_is_open(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_log.lock);
    return g_log.file != nullptr;
}

void log_error(const char *text)
{
    std::lock_guard<std::recursive_mutex> hold(g_log.lock);
    snprintf(g_log.last_error, sizeof g_log.last_error, "%s", text);
    log_printf("Error: %s\n", text);
}

const char *last_error(void)
{
    return g_log.last_error[0] ? g_log.last_error : "Unknown";
}

void log_set_observer(void (*observer)(const char *text))
{
    std::lock_guard<std::recursive_mutex> hold(g_log.lock);
    g_log.observer = observer;
}

void log_reset_for_tests(void)
{
    std::lock_guard<std::recursive_mutex> hold(g_log.lock);
    if (g_log.file)
        fclose(g_log.file);
    g_log.file = nullptr;
    g_log.opened = false;
    g_log.last_error[0] = 0;
}
