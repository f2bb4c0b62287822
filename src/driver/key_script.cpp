#include "driver/key_script.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/input.h"
#include "platform/log.h"

enum { KEY_SCRIPT_MAX = 256, KEY_NAME_MAX = 31 };

static struct {
    bool loaded;
    int count;
    struct {
        int frame;
        char key[KEY_NAME_MAX + 1];
    } entries[KEY_SCRIPT_MAX];
} g_script;

int key_script_load(const char *script)
{
    g_script.loaded = true;
    g_script.count = 0;
    if (!script)
        return 0;
    for (const char *p = script; *p;) {
        const char *end = strchr(p, ',');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        char entry[64];
        int frame, used = 0;
        if (n >= sizeof entry || g_script.count >= KEY_SCRIPT_MAX) {
            g_script.count = 0;
            return -1;
        }
        memcpy(entry, p, n);
        entry[n] = 0;
        if (sscanf(entry, "%d:%n", &frame, &used) != 1 || used == 0 || !entry[used] ||
            strlen(entry + used) > KEY_NAME_MAX) {
            g_script.count = 0;
            return -1;
        }
        g_script.entries[g_script.count].frame = frame;
        strcpy(g_script.entries[g_script.count].key, entry + used);
        g_script.count++;
        p = end ? end + 1 : p + n;
    }
    return g_script.count;
}

void key_script_frame(int frame)
{
    if (!g_script.loaded) {
        const char *script = getenv("SK_TEST") ? getenv("SK_TEST_KEYS") : nullptr;
        if (key_script_load(script) < 0)
            log_printf("SK_TEST_KEYS: not a list of frame:key entries\n");
    }
    for (int i = 0; i < g_script.count; i++) {
        if (g_script.entries[i].frame != frame)
            continue;
        char key[KEY_NAME_MAX + 1];
        strcpy(key, g_script.entries[i].key);
        size_t n = strlen(key);
        char held = n > 1 && (key[n - 1] == '+' || key[n - 1] == '-') ? key[n - 1] : 0;
        if (held)
            key[n - 1] = 0;
        bool ok = (held == '-' || inject_key(key, true)) && (held == '+' || inject_key(key, false));
        if (!ok)
            log_printf("SK_TEST_KEYS: can't press '%s'\n", key);
    }
}
