#include "driver/lists.h"

#include <stdio.h>
#include <string.h>

#include "bike/catalogue.h"
#include "bike/setup.h"
#include "common/mem.h"
#include "platform/log.h"
#include "platform/window.h"

struct VideoModeEntry {
    char label[32];
    int width, height;
};

struct DemoEntry {
    char *file;
    char *label;
};

struct TextureList {
    char **labels;                  // the names as stored in setups: "rider_body-red.png"
    char **shown;                   // what the menus show: "red"
    int count;
};

static struct {
    VideoModeEntry *modes;
    const char **mode_labels;
    int mode_count;
    DemoEntry *demos;
    int demo_count;
    TextureList textures[TEXTURE_LIST_COUNT];
} g_lists;

int build_video_mode_list(const VideoMode *platform_modes)
{
    free_video_mode_list();
    int n = 0;
    while (platform_modes && platform_modes[n].width)
        n++;
    g_lists.modes = (VideoModeEntry *)xcalloc(n + 2, sizeof(VideoModeEntry));
    snprintf(g_lists.modes[0].label, sizeof g_lists.modes[0].label, "Default Fullscreen");
    snprintf(g_lists.modes[1].label, sizeof g_lists.modes[1].label, "Windowed");
    g_lists.mode_count = 2;
    int desktop_bits = n > 0 ? platform_modes[0].bits : 0;
    for (int i = 0; i < n; i++) {
        const VideoMode &m = platform_modes[i];
        if (m.bits != desktop_bits)
            continue;
        VideoModeEntry &e = g_lists.modes[g_lists.mode_count++];
        snprintf(e.label, sizeof e.label, "%dx%d", m.width, m.height);
        e.width = m.width;
        e.height = m.height;
    }
    g_lists.mode_labels = (const char **)xcalloc(g_lists.mode_count, sizeof(const char *));
    for (int i = 0; i < g_lists.mode_count; i++)
        g_lists.mode_labels[i] = g_lists.modes[i].label;
    return g_lists.mode_count;
}

int video_mode_count(void)
{
    return g_lists.mode_count;
}

const char *video_mode_label(int entry)
{
    return entry >= 0 && entry < g_lists.mode_count ? g_lists.modes[entry].label : nullptr;
}

const char *const *video_mode_labels(void)
{
    return g_lists.mode_labels;
}

bool video_mode_size(int entry, int *width, int *height)
{
    if (entry < 0 || entry >= g_lists.mode_count)
        return false;
    *width = g_lists.modes[entry].width;
    *height = g_lists.modes[entry].height;
    return true;
}

void free_video_mode_list(void)
{
    xfree(g_lists.modes);
    xfree(g_lists.mode_labels);
    g_lists.modes = nullptr;
    g_lists.mode_labels = nullptr;
    g_lists.mode_count = 0;
}

static bool ends_with(const char *s, const char *suffix)
{
    size_t n = strlen(s), k = strlen(suffix);
    return n >= k && strcmp(s + n - k, suffix) == 0;
}

int build_demo_list(const char *const *index_names, int verbosity)
{
    free_demo_list();
    int n = 0;
    for (int i = 0; index_names && index_names[i]; i++)
        if (strncmp(index_names[i], "demos/", 6) == 0 && ends_with(index_names[i], ".skdemo"))
            n++;
    if (n == 0)
        return 0;
    g_lists.demos = (DemoEntry *)xcalloc(n, sizeof(DemoEntry));
    for (int i = 0; index_names[i]; i++) {
        const char *name = index_names[i];
        if (strncmp(name, "demos/", 6) != 0 || !ends_with(name, ".skdemo"))
            continue;
        const char *start = strrchr(name, '/') + 1;
        const char *end = strrchr(name, '.');
        DemoEntry &e = g_lists.demos[g_lists.demo_count++];
        e.file = xstrdup(name);
        size_t len = end > start ? (size_t)(end - start) : 0;
        e.label = (char *)xmalloc(len + 1);
        memcpy(e.label, start, len);
        e.label[len] = 0;
        if (verbosity >= 1)
            log_printf("%s -> %s\n", e.file, e.label);
    }
    return g_lists.demo_count;
}

int demo_list_count(void)
{
    return g_lists.demo_count;
}

const char *demo_list_file(int i)
{
    return i >= 0 && i < g_lists.demo_count ? g_lists.demos[i].file : nullptr;
}

const char *demo_list_label(int i)
{
    return i >= 0 && i < g_lists.demo_count ? g_lists.demos[i].label : nullptr;
}

void free_demo_list(void)
{
    for (int i = 0; i < g_lists.demo_count; i++) {
        xfree(g_lists.demos[i].file);
        xfree(g_lists.demos[i].label);
    }
    xfree(g_lists.demos);
    g_lists.demos = nullptr;
    g_lists.demo_count = 0;
}

// ---- texture lists

static const char *const k_texture_prefixes[TEXTURE_LIST_COUNT] = { "rider_body-", "rider_head-", nullptr, "wheels-" };

// The index name as a choice: without the ".gz"/".scram" a reader adds by itself; false
// for names that are no choice of their own.
static bool texture_label(const char *name, char *out, size_t size)
{
    if (strchr(name, '/'))
        return false;
    size_t n = strlen(name);
    static const char *const k_stored[] = { ".gz.scram", ".scram", ".gz" };
    for (const char *suffix : k_stored) {
        size_t k = strlen(suffix);
        if (n > k && strcmp(name + n - k, suffix) == 0) {
            n -= k;
            break;
        }
    }
    if (n == 0 || n >= size)
        return false;
    memcpy(out, name, n);
    out[n] = 0;
    if (ends_with(out, ".info"))
        return false;
    const char *dot = strrchr(out, '.');
    size_t stem = dot ? (size_t)(dot - out) : n;
    static const char *const k_maps[] = { "_tnorm", "_tspec" };
    for (const char *map : k_maps) {
        size_t k = strlen(map);
        if (stem >= k && strncmp(out + stem - k, map, k) == 0)
            return false;
    }
    return true;
}

static void free_texture_list(TextureList *l)
{
    for (int i = 0; i < l->count; i++) {
        xfree(l->labels[i]);
        xfree(l->shown[i]);
    }
    xfree(l->labels);
    xfree(l->shown);
    l->labels = nullptr;
    l->shown = nullptr;
    l->count = 0;
}

static int fill_texture_list(TextureList *l, const char *const *names, const char *prefix)
{
    free_texture_list(l);
    size_t k = strlen(prefix);
    int capacity = 0;
    for (int i = 0; names && names[i]; i++)
        if (strncmp(names[i], prefix, k) == 0)
            capacity++;
    if (capacity == 0)
        return 0;
    l->labels = (char **)xcalloc((size_t)capacity, sizeof(char *));
    l->shown = (char **)xcalloc((size_t)capacity, sizeof(char *));
    for (int i = 0; names[i]; i++) {
        char label[256];
        if (strncmp(names[i], prefix, k) != 0 || !texture_label(names[i], label, sizeof label))
            continue;
        bool seen = false;
        for (int j = 0; j < l->count && !seen; j++)
            seen = strcmp(l->labels[j], label) == 0;
        if (seen)
            continue;
        // Shown: the text between the prefix and the extension, or the whole name if that is empty.
        const char *dot = strrchr(label + k, '.');
        size_t n = dot ? (size_t)(dot - (label + k)) : strlen(label + k);
        l->shown[l->count] = xstrdup(n > 0 ? label + k : label);
        if (n > 0)
            l->shown[l->count][n] = 0;
        l->labels[l->count++] = xstrdup(label);
    }
    return l->count;
}

int build_bike_texture_list(const char *const *index_names)
{
    const BikeModel *m = find_bike_model(choice_label(&g_setup.bike));
    char prefix[80] = "";
    if (m) {
        const char *file = m->files[BIKE_FILE_BIKE_TEXTURE];
        if (file[0] == '@')
            file++;
        size_t n = strcspn(file, ".");
        snprintf(prefix, sizeof prefix, "%.*s-", (int)n, file);
    }
    TextureList *l = &g_lists.textures[TEXTURES_BIKE];
    if (!prefix[0] || prefix[0] == '-') {
        free_texture_list(l);
        return 0;
    }
    return fill_texture_list(l, index_names, prefix);
}

int build_texture_lists(const char *const *index_names)
{
    int total = 0;
    for (int i = 0; i < TEXTURE_LIST_COUNT; i++)
        if (k_texture_prefixes[i])
            total += fill_texture_list(&g_lists.textures[i], index_names, k_texture_prefixes[i]);
    total += build_bike_texture_list(index_names);
    choose_setup_textures();
    return total;
}

int texture_list_count(int list)
{
    return list >= 0 && list < TEXTURE_LIST_COUNT ? g_lists.textures[list].count : 0;
}

const char *const *texture_list_labels(int list)
{
    if (list < 0 || list >= TEXTURE_LIST_COUNT || g_lists.textures[list].count == 0)
        return nullptr;
    return g_lists.textures[list].labels;
}

const char *const *texture_list_shown(int list)
{
    if (list < 0 || list >= TEXTURE_LIST_COUNT || g_lists.textures[list].count == 0)
        return nullptr;
    return g_lists.textures[list].shown;
}

const char *texture_list_label(int list, int i)
{
    if (list < 0 || list >= TEXTURE_LIST_COUNT || i < 0 || i >= g_lists.textures[list].count)
        return nullptr;
    return g_lists.textures[list].labels[i];
}

void choose_setup_textures(void)
{
    char *const chosen[TEXTURE_LIST_COUNT] = { g_setup.rider_texture, g_setup.head_texture, g_setup.bike_texture,
                                               g_setup.wheel_texture };
    for (int list = 0; list < TEXTURE_LIST_COUNT; list++) {
        const TextureList &l = g_lists.textures[list];
        bool listed = false;
        for (int i = 0; i < l.count && !listed; i++)
            listed = strcmp(l.labels[i], chosen[list]) == 0;
        if (!listed)
            snprintf(chosen[list], sizeof g_setup.rider_texture, "%s", l.count > 0 ? l.labels[0] : "");
    }
}

void free_texture_lists(void)
{
    for (TextureList &l : g_lists.textures)
        free_texture_list(&l);
}
