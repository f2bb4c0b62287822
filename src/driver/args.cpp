#include "driver/args.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "driver/config.h"

static const float k_min_lock_fps = 1, k_max_lock_fps = 1000;

static struct {
    StartupSettings settings;
} g_args;

StartupSettings *startup_settings(void)
{
    return &g_args.settings;
}

float terrain_detail_for(float ground_detail)
{
    if (!(ground_detail >= 1e-6f))         // also catches NaN
        ground_detail = 1e-6f;
    return 0.125f / ground_detail;
}

void settings_defaults(StartupSettings *s, float ground_detail)
{
    memset(s, 0, sizeof *s);
    s->learn_lines = true;
    s->model_texture_detail = 4;
    s->ground_texture_detail = 4;
    s->roost_frequency = 1000;
    s->terrain_detail = terrain_detail_for(ground_detail);
    s->max_detail_distance = 50;
    s->detail_fade_end = 55;
    s->lod_scale = 1;
    s->show_paused = true;
    s->show_hud = true;
    s->width = 640;
    s->height = 480;
    s->depth = 16;
    s->zdepth = 16;
    s->draw_ping = 1;
    s->chase_center[0] = 0;
    s->chase_center[1] = 2.52f;
    s->chase_center[2] = 0.52f;
}

static int clamp_int(int v, int lo, int hi);

// The configured detail (0..10, 10 the finest) as a texture-detail level: the number of mip
// levels the loaders drop, 10 minus the setting.
static int detail_level(double configured)
{
    if (!(configured >= 0))         // also NaN
        configured = 0;
    return clamp_int(10 - (int)configured, 0, 10);
}

void settings_from_config(StartupSettings *s)
{
    settings_defaults(s, (float)g_settings.ground_detail.value);
    s->model_texture_detail = detail_level(g_settings.model_texture_detail.value);
    s->ground_texture_detail = detail_level(g_settings.ground_texture_detail.value);
    s->width = g_settings.xres;
    s->height = g_settings.yres;
    s->draw_fps = g_settings.draw_fps;
    s->draw_time = g_settings.draw_time;
    s->draw_ping = g_settings.draw_ping;
    s->draw_speed = g_settings.draw_speed;
    double roost = g_settings.roost_density.value;
    s->roost_frequency = roost < 0 ? 0 : roost > 1000 ? 1000 : (int)roost;
    snprintf(s->track, sizeof s->track, "%s", g_settings.track);
}

// "%d" semantics: leading blanks, a sign and digits; anything after is ignored.
// Values beyond int saturate rather than wrap.
static bool scan_int(const char *v, int *out)
{
    if (!v)
        return false;
    char *end;
    errno = 0;
    long long n = strtoll(v, &end, 10);
    if (end == v)
        return false;
    if (n > 2147483647LL)
        n = 2147483647LL;
    if (n < -2147483647LL - 1)
        n = -2147483647LL - 1;
    *out = (int)n;
    return true;
}

// "%f" semantics, but a value that is not finite is refused: no NaN may reach a clamp.
static bool scan_float(const char *v, float *out, const char **rest)
{
    if (!v)
        return false;
    char *end;
    float f = strtof(v, &end);
    if (end == v || !isfinite(f))
        return false;
    *out = f;
    if (rest)
        *rest = end;
    return true;
}

static int clamp_int(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

static float clamp_float(float v, float lo, float hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

static void copy_text(char *dst, const char *src)
{
    snprintf(dst, SETTINGS_TEXT, "%s", src ? src : "");
}

static int bad_arg(const char *option)
{
    fprintf(stderr, "Bad arg for %s\n", option);
    return ARGS_EXIT_FAILURE;
}

static int bad_size(const char *option, int minimum)
{
    fprintf(stderr, "Bad arg for %s (%d to %d pixels)\n", option, minimum, (int)WINDOW_MAX_SIZE);
    return ARGS_EXIT_FAILURE;
}

enum ValueKind { NO_VALUE, TAKES_VALUE };

struct OptionMatch {
    const char *value;      // null when the option was the last argument
};

// Matches arg against an option name: the whole argument, or "name=value".
// For a value option the value is the text after "=" or the next argument (consumed).
static bool match(const char *arg, const char *name, ValueKind kind, int argc, char **argv, int *i,
                  OptionMatch *m)
{
    size_t n = strlen(name);
    if (strncmp(arg, name, n) != 0)
        return false;
    if (arg[n] == 0) {
        m->value = nullptr;
        if (kind == TAKES_VALUE && *i + 1 < argc)
            m->value = argv[++*i];
        return true;
    }
    if (kind == TAKES_VALUE && arg[n] == '=') {
        m->value = arg + n + 1;
        return true;
    }
    return false;
}

int parse_command_line(int argc, char **argv, StartupSettings *s)
{
    bool options_done = false;
    int files = 0;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        OptionMatch m = { nullptr };
        if (options_done || a[0] != '-') {
            if (++files > 1) {
                fputs("Too many files!\n", stderr);
                return ARGS_EXIT_FAILURE;
            }
            copy_text(s->demo_file, a);
            continue;
        }
        int iv;
        float fv;
        if (strcmp(a, "--") == 0)
            options_done = true;
        else if (match(a, "--open-home", NO_VALUE, argc, argv, &i, &m))
            s->open_home = true;
        else if (match(a, "--fugly", NO_VALUE, argc, argv, &i, &m))
            s->flat_shading = true;
        else if (match(a, "--nosound", NO_VALUE, argc, argv, &i, &m))
            s->sound_off = true;
        else if (match(a, "--novertexarrays", NO_VALUE, argc, argv, &i, &m))
            s->no_vertex_arrays = true;
        else if (match(a, "--learn", NO_VALUE, argc, argv, &i, &m))
            s->learn_lines = true;
        else if (match(a, "--nolearn", NO_VALUE, argc, argv, &i, &m))
            s->learn_lines = false;
        else if (match(a, "--nommx", NO_VALUE, argc, argv, &i, &m))
            ;
        else if (match(a, "--debug", NO_VALUE, argc, argv, &i, &m))
            s->verbosity = 1;
        else if (match(a, "--super-debug", NO_VALUE, argc, argv, &i, &m))
            s->verbosity = 2;
        else if (match(a, "--practice", NO_VALUE, argc, argv, &i, &m))
            s->practice_robots = true;
        else if (match(a, "--warp", NO_VALUE, argc, argv, &i, &m))
            s->warp = true;
        else if (match(a, "--texture-detail", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_int(m.value, &iv))
                return bad_arg("--texture-detail");
            s->model_texture_detail = s->ground_texture_detail = clamp_int(iv, 0, 4);
        } else if (match(a, "--ground-texture-detail", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_int(m.value, &iv))
                return bad_arg("--ground-texture-detail");
            s->ground_texture_detail = clamp_int(iv, 0, 4);
        } else if (match(a, "--roostfrequency", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_int(m.value, &iv))
                return bad_arg("--roostfrequency");
            s->roost_frequency = clamp_int(iv, 0, 1000);
        } else if (match(a, "--erode", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_float(m.value, &fv, nullptr))
                return bad_arg("--erode");
            s->erode_rate = (int)floorf(clamp_float(fv, 0, 100) * 1024.0f);
        } else if (match(a, "--detail", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_float(m.value, &fv, nullptr))
                return bad_arg("--detail");
            // The renderer divides by it: 0 or a negative value would make it infinite.
            s->terrain_detail = fv < 1e-6f ? 1e-6f : fv;
        } else if (match(a, "--max-detail-distance", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_float(m.value, &fv, nullptr))
                return bad_arg("--max-detail-distance");
            s->max_detail_distance = fv;
            s->detail_fade_end = fv + 5;
        } else if (match(a, "--lod-scale", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_float(m.value, &fv, nullptr))
                return bad_arg("--lod-scale");
            s->lod_scale = clamp_float(fv, 1e-6f, 1e6f);
        } else if (match(a, "--lod-bias", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_float(m.value, &fv, nullptr))
                return bad_arg("--lod-bias");
            s->lod_bias = fv;
        } else if (match(a, "--lock-fps", TAKES_VALUE, argc, argv, &i, &m)) {
            // 0 turns the lock off; a rate below 1 would sleep for ages, one above 1000 never.
            if (!scan_float(m.value, &fv, nullptr) || (fv != 0 && (fv < k_min_lock_fps || fv > k_max_lock_fps)))
                return bad_arg("--lock-fps");
            s->lock_fps = fv;
        } else if (match(a, "--fake-lag", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_float(m.value, &fv, nullptr))
                return bad_arg("--fake-lag");
            s->fake_lag = clamp_float(fv * 0.001f, 0, 1);
        } else if (match(a, "--fake-loss", TAKES_VALUE, argc, argv, &i, &m)) {
            if (!scan_int(m.value, &iv))
                return bad_arg("--fake-loss");
            s->fake_loss = clamp_int(iv, 0, 100);
        } else if (match(a, "--record-audio", TAKES_VALUE, argc, argv, &i, &m)) {
            copy_text(s->record_audio, m.value);
        } else if (match(a, "--record-video", NO_VALUE, argc, argv, &i, &m)) {
            s->record_video = true;
        } else if (match(a, "--rotate-lineup", TAKES_VALUE, argc, argv, &i, &m)) {
            if (scan_int(m.value, &iv))
                s->rotate_lineup = iv;
        } else if (match(a, "--editor", NO_VALUE, argc, argv, &i, &m)) {
            s->editor = true;
        } else if (match(a, "--hidden-pause", NO_VALUE, argc, argv, &i, &m)) {
            s->show_paused = false;
        } else if (match(a, "--hidden-hud", NO_VALUE, argc, argv, &i, &m)) {
            s->show_hud = false;
        } else if (match(a, "--bikes", TAKES_VALUE, argc, argv, &i, &m)) {
            fputs("--bikes doesn't do anything anymore\n", stderr);
        } else if (match(a, "--width", TAKES_VALUE, argc, argv, &i, &m)) {
            if (scan_int(m.value, &iv)) {
                if (iv < WINDOW_MIN_WIDTH || iv > WINDOW_MAX_SIZE)
                    return bad_size("--width", WINDOW_MIN_WIDTH);
                s->width = iv;
            }
        } else if (match(a, "--height", TAKES_VALUE, argc, argv, &i, &m)) {
            if (scan_int(m.value, &iv)) {
                if (iv < WINDOW_MIN_HEIGHT || iv > WINDOW_MAX_SIZE)
                    return bad_size("--height", WINDOW_MIN_HEIGHT);
                s->height = iv;
            }
        } else if (match(a, "--depth", TAKES_VALUE, argc, argv, &i, &m)) {
            // Colour bits travel beside the window's mode flags: only real depths may pass.
            iv = m.value ? atoi(m.value) : 0;
            if (iv != 16 && iv != 24 && iv != 32) {
                fputs("Bad arg for --depth (16, 24 or 32)\n", stderr);
                return ARGS_EXIT_FAILURE;
            }
            s->depth = iv;
        } else if (match(a, "--zdepth", TAKES_VALUE, argc, argv, &i, &m)) {
            iv = m.value ? atoi(m.value) : 0;
            if (iv < 0 || iv > 32) {
                fputs("Bad arg for --zdepth (0 to 32)\n", stderr);
                return ARGS_EXIT_FAILURE;
            }
            s->zdepth = iv;
        } else if (match(a, "--draw-fps", TAKES_VALUE, argc, argv, &i, &m)) {
            s->draw_fps = m.value ? atoi(m.value) : 0;
        } else if (match(a, "--draw-time", TAKES_VALUE, argc, argv, &i, &m)) {
            s->draw_time = m.value ? atoi(m.value) : 0;
        } else if (match(a, "--draw-ping", TAKES_VALUE, argc, argv, &i, &m)) {
            s->draw_ping = m.value ? atoi(m.value) : 0;
        } else if (match(a, "--draw-speed", TAKES_VALUE, argc, argv, &i, &m)) {
            s->draw_speed = m.value ? atoi(m.value) : 0;
        } else if (match(a, "--draw-render-stats", TAKES_VALUE, argc, argv, &i, &m)) {
            s->draw_render_stats = m.value ? atoi(m.value) : 0;
        } else if (match(a, "--accurate-skip", NO_VALUE, argc, argv, &i, &m)) {
            s->accurate_skip = true;
        } else if (match(a, "--track", TAKES_VALUE, argc, argv, &i, &m)) {
            if (m.value)        // as the last argument: the configured track stays
                copy_text(s->track, m.value);
        } else if (match(a, "--connect", TAKES_VALUE, argc, argv, &i, &m)) {
            const char *v = m.value ? m.value : "";
            if (strncmp(v, "skorva:", 7) == 0)
                v += 7;
            s->connect_requested = true;
            if (!*v) {
                // No address: the configured server, which stays as it is.
                copy_text(s->server, g_settings.server_name);
                continue;
            }
            copy_text(s->server, v);
            // The address becomes the server the menus offer and is remembered in the history.
            snprintf(g_settings.server_name, sizeof g_settings.server_name, "%.*s", (int)SERVER_NAME_MAX, s->server);
            config_push_server_name(s->server);
        } else if (match(a, "--password", TAKES_VALUE, argc, argv, &i, &m)) {
            copy_text(s->password, m.value);
            s->have_password = m.value != nullptr;
        } else if (match(a, "--chase-center", TAKES_VALUE, argc, argv, &i, &m)) {
            float c[3];
            const char *p = m.value;
            bool ok = scan_float(p, &c[0], &p) && *p++ == ',' && scan_float(p, &c[1], &p) && *p++ == ',' &&
                      scan_float(p, &c[2], &p);
            if (!ok)
                return bad_arg("--chase-center");
            memcpy(s->chase_center, c, sizeof c);
        } else if (match(a, "--glfinish", NO_VALUE, argc, argv, &i, &m)) {
            s->glfinish = true;
        } else if (match(a, "--print-orientation", NO_VALUE, argc, argv, &i, &m)) {
            s->print_orientation = true;
        } else {
            fprintf(stderr, "bad option '%s'\n", a);
            return ARGS_EXIT_FAILURE;
        }
    }
    return ARGS_OK;
}
