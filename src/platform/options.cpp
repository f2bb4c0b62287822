#include "platform/options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/log.h"

static struct {
    bool read;
    char text[4096];
} g_options;

// Copies the value of [name:value] into out; false when the option is absent.
static bool find_value(const char *name, char *out, size_t out_size)
{
    if (!g_options.read) {
        const char *env = getenv("TOVA_OPTIONS");
        snprintf(g_options.text, sizeof g_options.text, "%s", env ? env : "");
        g_options.read = true;
    }
    char key[80];
    snprintf(key, sizeof key, "[%.60s:", name);
    const char *p = strstr(g_options.text, key);
    if (!p)
        return false;
    p += strlen(key);
    const char *end = strchr(p, ']');
    size_t n = end ? (size_t)(end - p) : strlen(p);
    if (n >= out_size)
        n = out_size - 1;
    memcpy(out, p, n);
    out[n] = 0;
    return true;
}

bool option_bool(const char *name, bool default_value)
{
    char value[256];
    if (!find_value(name, value, sizeof value))
        return default_value;
    if (!strcmp(value, "yes") || !strcmp(value, "on"))
        return true;
    if (!strcmp(value, "no") || !strcmp(value, "off"))
        return false;
    log_printf("unrecognized setting for %s\n", name);
    return default_value;
}

int option_int(const char *name, int default_value)
{
    char value[256];
    if (!find_value(name, value, sizeof value))
        return default_value;
    char *end;
    long v = strtol(value, &end, 10);
    if (end == value || *end != 0 || v < -2147483647L - 1 || v > 2147483647L) {
        log_printf("unrecognized setting for %s\n", name);
        return default_value;
    }
    return (int)v;
}

void options_reset_for_tests(void)
{
    g_options.read = false;
}
