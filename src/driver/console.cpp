#include "driver/console.h"

#include <ctype.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audio/engine_sound.h"
#include "bike/setup.h"
#include "common/items.h"
#include "common/mem.h"
#include "common/messages.h"
#include "driver/args.h"
#include "driver/config.h"
#include "driver/frame_timing.h"
#include "driver/loop.h"
#include "driver/startup_stubs.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"
#include "render/cameras.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const double k_chat_interval = (int)CHAT_INTERVAL_MS / 1000.0;
static const int k_path_max = 1023;

static struct {
    bool switches[CONSOLE_SWITCH_COUNT];
    CameraKey *keys;
    int key_count;
    int key_capacity;
    bool chatted;
    double last_chat;               // game_clock of the last chat line sent
} g_console;

bool console_switch(int which)
{
    return which >= 0 && which < CONSOLE_SWITCH_COUNT && g_console.switches[which];
}

int camera_key_count(void)
{
    return g_console.key_count;
}

const CameraKey *camera_key(int index)
{
    return index >= 0 && index < g_console.key_count ? &g_console.keys[index] : nullptr;
}

void console_free(void)
{
    xfree(g_console.keys);
    g_console.keys = nullptr;
    g_console.key_count = g_console.key_capacity = 0;
}

void console_reset_for_tests(void)
{
    console_free();
    memset(&g_console, 0, sizeof g_console);
}

static void postf(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void postf(const char *format, ...)
{
    char text[MESSAGE_LINE_CHARS + 1];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    post_message(text);
}

static void post_toggle(const char *name, bool on)
{
    postf(on ? "%.60s ON" : "%.60s OFF", name);
}

bool console_safe_name(const char *name)
{
    if (!name || !*name || *name == '/' || strchr(name, '\\') || strlen(name) > (size_t)k_path_max)
        return false;
    for (const char *part = name; *part;) {
        const char *end = strchr(part, '/');
        size_t n = end ? (size_t)(end - part) : strlen(part);
        if (n == 0 || (n == 1 && part[0] == '.') || (n == 2 && part[0] == '.' && part[1] == '.'))
            return false;
        if (!end)
            break;
        part = end + 1;
        if (!*part)
            return false;           // a trailing "/" names a folder, not a file
    }
    return true;
}

// The plain names setups take: no folder, no leading dot.
static bool plain_name(const char *name)
{
    return name && *name && name[0] != '.' && !strpbrk(name, "/\\");
}

// ---- keyframes

static bool add_key(const CameraKey &k)
{
    if (g_console.key_count >= CAMERA_KEYS_MAX)
        return false;
    if (g_console.key_count == g_console.key_capacity) {
        g_console.key_capacity = g_console.key_capacity ? g_console.key_capacity * 2 : 16;
        g_console.keys = (CameraKey *)xrealloc(g_console.keys, sizeof(CameraKey) * g_console.key_capacity);
    }
    // After every key of the same or an earlier tic: the list stays in tic order.
    int at = g_console.key_count;
    while (at > 0 && g_console.keys[at - 1].tic > k.tic)
        at--;
    memmove(&g_console.keys[at + 1], &g_console.keys[at], sizeof(CameraKey) * (g_console.key_count - at));
    g_console.keys[at] = k;
    g_console.key_count++;
    return true;
}

static void clear_keys(void)
{
    g_console.key_count = 0;
}

static void add_key_here(void)
{
    CameraKey k;
    free_camera_get(k.position, k.rotation, &k.fov);
    k.fov = (float)g_settings.fov.value;     // the free camera follows the configured one
    k.tic = race_tic();
    if (add_key(k))
        post_message("Keyframe added");
}

static void delete_key_here(void)
{
    if (g_console.key_count < 2) {
        clear_keys();
        post_message("Keyframe deleted");
        return;
    }
    int at = -1;
    for (int i = 0; i < g_console.key_count; i++)
        if (g_console.keys[i].tic <= race_tic())
            at = i;
    if (at < 0)
        return;
    memmove(&g_console.keys[at], &g_console.keys[at + 1], sizeof(CameraKey) * (g_console.key_count - at - 1));
    g_console.key_count--;
    post_message("Keyframe deleted");
}

static void list_keys(void)
{
    for (int i = 0; i < g_console.key_count; i++) {
        const CameraKey &k = g_console.keys[i];
        postf("pos = { %.2f, %.2f, %.2f }, rot = { %.2f, %.2f, %.2f, %.2f }, time = %.2f", k.position[0], k.position[1],
              k.position[2], k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3], k.tic * TIC_SECONDS);
    }
}

static bool keycam_path(const char *name, char *out, size_t size)
{
    if (!plain_name(name))
        return false;
    int n = snprintf(out, size, "@keycam/%s", name);
    return n > 0 && (size_t)n < size;
}

static void read_keys(const char *name)
{
    char path[k_path_max + 1];
    DataFile *f = keycam_path(name, path, sizeof path) ? open_data_file(path, "r") : nullptr;
    if (!f) {
        post_message("Error reading camera keys");
        return;
    }
    clear_keys();
    char line[512];
    while (data_gets(f, line, sizeof line)) {
        CameraKey k;
        float *v[8] = { &k.position[0], &k.position[1], &k.position[2], &k.rotation[0],
                        &k.rotation[1], &k.rotation[2], &k.rotation[3], &k.fov };
        if (sscanf(line, "%f %f %f %f %f %f %f %f %d", v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], &k.tic) != 9)
            continue;
        bool finite = true;
        for (float *x : v)
            finite = finite && isfinite(*x);
        if (finite && !add_key(k))
            break;
    }
    close_data_file(f);
    post_message("Camera keys updated");
}

static void write_keys(const char *name)
{
    char path[k_path_max + 1];
    DataFile *f = keycam_path(name, path, sizeof path) ? begin_replace_file(path) : nullptr;
    bool ok = f != nullptr;
    for (int i = 0; ok && i < g_console.key_count; i++) {
        const CameraKey &k = g_console.keys[i];
        ok = data_printf(f, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.2f %d\n", k.position[0], k.position[1],
                         k.position[2], k.rotation[0], k.rotation[1], k.rotation[2], k.rotation[3], k.fov,
                         k.tic) >= 0;
    }
    if (f && !ok)
        abandon_replace_file(f);
    else if (f)
        ok = finish_replace_file(f);
    post_message(ok ? "Camera keys saved" : "Error saving camera keys");
}

// ---- commands with a file

static void save_track_info(void)
{
    const char *folder = session_track();
    if (!folder)
        return;
    char path[k_path_max + 2];
    int n = snprintf(path, sizeof path, "@%s.trackinfo", folder);
    if (n <= 0 || n > k_path_max || !console_safe_name(path + 1)) {
        postf("Can't save track info for \"%.200s\"", folder);
        return;
    }
    const TrackInfo *info = track_info(track_find(folder));
    const Timing *t = session_timing();
    DataFile *f = begin_replace_file(path);
    bool ok = f != nullptr;
    if (ok) {
        data_printf(f, "dir=%s\n", folder);
        data_printf(f, "longname=%s\n", info && info->name[0] ? info->name : folder);
        data_printf(f, "firstlap=%d\n", t ? t->first_count : 0);
        data_printf(f, "normallap=%d\n", t ? t->normal_count : 0);
        data_printf(f, "gatecount=%d\n", t ? t->gate_count : 0);
        data_puts(f, "hash=");
        const uint8_t *hash = session_track_hash();
        for (int i = 0; i < 20; i++)
            data_printf(f, "%02x", hash[i]);
        data_puts(f, "\n");
        ok = finish_replace_file(f);
    }
    if (ok)
        postf("Track info saved to %.200s.trackinfo", folder);
    else
        postf("Can't save track info to %.200s.trackinfo", folder);
}

static void send_file(const char *name)
{
    if (strlen(name) + 11 > 1024) {
        post_message("Filename too long");
        return;
    }
    // Only a plain file name of the outgoing folder: no "." or "..", no hidden files.
    bool ok = *name && *name != '.';
    for (const char *p = name; ok && *p; p++)
        ok = isalnum((unsigned char)*p) || *p == '_' || *p == '.';
    if (!ok) {
        post_message("Filename may only contain alphanumeric characters, '_' or '.'");
        return;
    }
    if (!net_connected()) {
        post_message("Not connected to server");
        return;
    }
    net_offer_file(name);
}

static void list_files(const char *text)
{
    file_index_names();             // built on first use
    int count = file_index_count();
    for (int i = 0; i < count; i++) {
        char line[MESSAGE_LINE_CHARS + 1];
        if (!file_index_describe(i, line, sizeof line))
            continue;
        bool match = !*text;
        for (const char *s = line; !match && *s; s++) {
            size_t k = 0;
            while (text[k] && s[k] && tolower((unsigned char)s[k]) == tolower((unsigned char)text[k]))
                k++;
            match = !text[k];
        }
        // Names inside archives come from whoever made them.
        if (match)
            post_remote_message(line);
    }
}

static void name_demo(const char *rest)
{
    if (!demo_recording()) {
        post_message("Not currently recording a demo");
        return;
    }
    char word[k_path_max + 1] = "";
    sscanf(rest, "%1023s", word);
    static const char k_suffix[] = ".skdemo";
    size_t n = strlen(word), k = sizeof k_suffix - 1;
    bool has_suffix = n >= k && strcmp(word + n - k, k_suffix) == 0;
    if (!plain_name(word) || strlen("@demos/") + n + (has_suffix ? 0 : k) > (size_t)k_path_max) {
        post_message(plain_name(word) ? "Name too long" : "Demo names are plain file names");
        return;
    }
    if (!has_suffix)
        strcat(word, k_suffix);
    demo_set_name(word);
    post_message("Demo name updated");
}

static double height_field_volume(void)
{
    const Terrain *t = session_terrain();
    double sum = 0;
    if (t && t->heights)
        for (long i = 0; i < (long)t->dim * t->dim; i++)
            sum += t->heights[i];
    return sum;
}

static void frame_histogram_report(void)
{
    int bins[8];
    frame_histogram(bins);
    static const int k_bounds[8] = { 128, 64, 32, 16, 8, 4, 2, 1 };
    char text[MESSAGE_LINE_CHARS + 1];
    int n = 0;
    for (int i = 0; i < 8 && n < (int)sizeof text; i++)
        n += snprintf(text + n, sizeof text - n, "%d=%d ", k_bounds[i], bins[i]);
    post_message(text);
    clear_frame_histogram();
}

// ---- matching

static const char *skip_blanks(const char *s)
{
    while (*s == ' ' || *s == '\t')
        s++;
    return s;
}

// The argument after a command matched as a prefix; trailing blanks and line ends cut.
static void argument(const char *rest, char *out, size_t size)
{
    snprintf(out, size, "%s", skip_blanks(rest));
    size_t n = strlen(out);
    while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t' || out[n - 1] == '\n' || out[n - 1] == '\r'))
        out[--n] = 0;
}

// The line's first word (leading spaces allowed) is word: the rest after it, else null.
static const char *first_word(const char *line, const char *word)
{
    const char *s = skip_blanks(line);
    size_t n = strlen(word);
    if (strncmp(s, word, n) != 0)
        return nullptr;
    char after = s[n];
    if (after && after != ' ' && after != '\t' && after != '\n' && after != '\r')
        return nullptr;
    return skip_blanks(s + n);
}

static void toggle_int(int *value, const char *name)
{
    *value = !*value;
    post_toggle(name, *value != 0);
}

static void toggle_switch(int which, const char *name)
{
    g_console.switches[which] = !g_console.switches[which];
    post_toggle(name, g_console.switches[which]);
}

static bool whole_line_command(const char *c)
{
    StartupSettings *s = startup_settings();
    if (strcmp(c, "savetrackinfo") == 0) {
        save_track_info();
    } else if (strcmp(c, "renderstats") == 0) {
        g_console.switches[SWITCH_RENDER_STATS] = true;
        s->draw_render_stats = 1;
    } else if (strcmp(c, "togglespy") == 0) {
        toggle_int(&g_settings.spy, "Spy mode");
    } else if (strcmp(c, "togglegraph") == 0) {
        toggle_switch(SWITCH_SUSPENSION_GRAPH, "Suspension graph");
    } else if (strcmp(c, "forcereload") == 0) {
        session_force_reload();
        post_message("Track will be reloaded on next restart");
    } else if (strcmp(c, "randdump") == 0) {
        // Kept for old scripts; there is nothing to dump.
    } else if (strcmp(c, "addkey") == 0) {
        add_key_here();
    } else if (strcmp(c, "deletekey") == 0 || strcmp(c, "rmkey") == 0) {
        delete_key_here();
    } else if (strcmp(c, "clearkeys") == 0) {
        clear_keys();
        post_message("Keyframes cleared");
    } else if (strcmp(c, "listkeys") == 0) {
        list_keys();
    } else if (strcmp(c, "togglekeycam") == 0) {
        toggle_switch(SWITCH_KEYCAM, "Keycam mode");
    } else if (strcmp(c, "togglefps") == 0) {
        toggle_int(&g_settings.draw_fps, "FPS display");
        s->draw_fps = g_settings.draw_fps;
    } else if (strcmp(c, "toggletime") == 0) {
        toggle_int(&g_settings.draw_time, "Time display");
        s->draw_time = g_settings.draw_time;
    } else if (strcmp(c, "toggleping") == 0) {
        toggle_int(&g_settings.draw_ping, "Ping display");
        s->draw_ping = g_settings.draw_ping;
    } else if (strcmp(c, "togglespeed") == 0) {
        toggle_int(&g_settings.draw_speed, "Speed display");
        s->draw_speed = g_settings.draw_speed;
    } else if (strcmp(c, "togglespam") == 0) {
        messages_set_hide_spam(!messages_hide_spam());
        post_toggle("Hide spam", messages_hide_spam());
    } else if (strcmp(c, "toggledecals") == 0) {
        toggle_switch(SWITCH_HIDE_DECALS, "Hide decals");
        terrain_decals_hidden(g_console.switches[SWITCH_HIDE_DECALS]);
    } else if (strcmp(c, "hfvol") == 0) {
        postf("%f\n", height_field_volume());
    } else {
        return false;
    }
    return true;
}

static bool prefix_command(const char *c)
{
    static const char *const k_prefixes[] = { "bbopt", "pipe", "namedemo", "camangle", "fov",
                                              "fpshist", "readsetup", "writesetup", "readkeys", "writekeys" };
    const char *word = nullptr;
    for (const char *p : k_prefixes)
        if (strncmp(c, p, strlen(p)) == 0)
            word = p;
    if (!word)
        return false;
    char arg[k_path_max + 1];
    argument(c + strlen(word), arg, sizeof arg);
    if (strcmp(word, "bbopt") == 0) {
        int v;
        if (sscanf(arg, "%d", &v) == 1) {
            g_settings.billboard_optimize_lookahead = v < 0 ? 0 : v;
            postf("Billboard optimization window is now %d", g_settings.billboard_optimize_lookahead);
        }
    } else if (strcmp(word, "pipe") == 0) {
        // The engine voice replies "Pipe updated" itself.
        if (!pipe_command(arg))
            post_message("No engine sound to retune");
    } else if (strcmp(word, "namedemo") == 0) {
        name_demo(arg);
    } else if (strcmp(word, "camangle") == 0) {
        float yaw, pitch;
        if (sscanf(arg, "%f %f", &yaw, &pitch) != 2 || !isfinite(yaw) || !isfinite(pitch)) {
            post_message("Usage: camangle <yaw> <pitch>");
        } else if (rider_slot(viewed_slot())->bike) {
            free_camera_aim(yaw, pitch);
            post_message("Camera aimed");
        }
    } else if (strcmp(word, "fov") == 0) {
        double v;
        if (!parse_number(arg, &v)) {
            post_message("Usage: fov <degrees>");
        } else {
            number_set(&g_settings.fov, v);
            post_message("fov set");
        }
    } else if (strcmp(word, "fpshist") == 0) {
        frame_histogram_report();
    } else if (strcmp(word, "readsetup") == 0) {
        if (setup_read_file(arg))
            session_apply_setup();
    } else if (strcmp(word, "writesetup") == 0) {
        setup_write_file(arg);
    } else if (strcmp(word, "readkeys") == 0) {
        read_keys(arg);
    } else {
        write_keys(arg);
    }
    return true;
}

static bool first_word_command(const char *c)
{
    const char *rest;
    char arg[k_path_max + 1];
    if ((rest = first_word(c, "sendfile"))) {
        argument(rest, arg, sizeof arg);
        send_file(arg);
    } else if ((rest = first_word(c, "listfiles"))) {
        argument(rest, arg, sizeof arg);
        list_files(arg);
    } else if ((rest = first_word(c, "messagelines"))) {
        int v;
        if (sscanf(rest, "%d", &v) == 1) {
            g_settings.message_lines = v < 0 ? 0 : v > MESSAGE_LOG_LINES ? MESSAGE_LOG_LINES : v;
            messages_set_max_showing(g_settings.message_lines);
            postf("Maximum showing messages is now %d", g_settings.message_lines);
        }
    } else if ((rest = first_word(c, "demobackups"))) {
        int v;
        if (sscanf(rest, "%d", &v) == 1) {
            g_settings.demo_backups = v < 0 ? 0 : v > 9999 ? 9999 : v;
            postf("Now keeping %d demo backups", g_settings.demo_backups);
        }
    } else if ((rest = first_word(c, "mapscale"))) {
        double v;
        if (parse_number(rest, &v)) {
            number_set(&g_settings.map_scale, v);
            postf("Map scale set to %f", g_settings.map_scale.value);
        }
    } else if ((rest = first_word(c, "clearlog"))) {
        physics_log_clear();
    } else if ((rest = first_word(c, "log"))) {
        char flags[64] = "";
        float spacing = 10;
        int got = sscanf(rest, "%63s %f", flags, &spacing);
        if (got < 2 || !isfinite(spacing))
            spacing = 10;
        int bits = strchr(flags, 'e') ? 1 : 0;
        physics_log_start(bits, spacing);
        postf("Logging 0x%x, spacing %f", bits, spacing);
    } else if ((rest = first_word(c, "reportstutter"))) {
        double v;
        if (sscanf(rest, "%lf", &v) == 1 && isfinite(v)) {
            set_stutter_threshold(v);
            postf("Stutter threshold set to %f", v > 0 ? v : 0);
        }
    } else {
        return false;
    }
    return true;
}

static void chat(const char *text)
{
    double now = game_clock();
    if (g_console.chatted && now - g_console.last_chat < k_chat_interval) {
        post_message("No one likes a spammer");
        return;
    }
    g_console.chatted = true;
    g_console.last_chat = now;
    if (!net_connected())
        post_message("Not connected to server");
    else
        net_send_chat(text);
}

void console_line(const char *text)
{
    if (!text || !*text)
        return;
    if (text[0] != '/' && text[0] != '\\') {
        chat(text);
        return;
    }
    const char *c = text + 1;
    if (!whole_line_command(c) && !prefix_command(c))
        first_word_command(c);
}
