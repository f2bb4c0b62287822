#include "driver/lists.h"

#include <stdio.h>
#include <string.h>

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

static struct {
    VideoModeEntry *modes;
    const char **mode_labels;
    int mode_count;
    DemoEntry *demos;
    int demo_count;
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
