#include "driver/config.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "bike/setup.h"
#include "common/mem.h"
#include "driver/args.h"
#include "driver/bindings.h"
#include "vfs/vfs.h"

Settings g_settings;

static const char *const k_no_yes[] = { "No", "Yes" };
static const char *const k_skills[] = { "Novice", "Amateur", "Expert" };
static const char *const k_gate_choices[] = { "Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)" };
static const char *const k_texture_dims[] = { "32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024" };
static const char *const k_compress[] = { "No", "Yes", "Always" };
static const char *const k_render[] = { "Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy", "Shaders/Direct" };
static const char *const k_playback[] = { "Playback Only", "Race Against" };
static const char *const k_default_video_modes[] = { "Default Fullscreen", "Windowed" };

// Nobody runs a public server for a fresh install; a local one is the safe default.
static const char *const k_default_server = "localhost";

static struct {
    char gate_labels[GATE_COUNT][8];
    char preset_text[64];
} g_config;

enum FieldKind {
    FIELD_INT,          // "%d", clamped to [minimum, maximum]
    FIELD_NUMBER,       // NumberItem, "%f"
    FIELD_CHOICE,       // ChoiceItem, by label
    FIELD_TRACK,
    FIELD_GATES,        // "slot%02d", 40 choices
    FIELD_SETUP,        // the bike setup block is written here
    FIELD_VIDEO_MODE,
    FIELD_SERVER,
    FIELD_HISTORY,      // "server_name_hist%02d", 16 names
    FIELD_BINDINGS,     // the twenty bindings close the file
    FIELD_USE_FBO,      // read only: the older form of "render_texture"
    FIELD_IGNORED,      // read only: no longer used
};

struct Field {
    const char *key;
    FieldKind kind;
    void *item;
    const char *label;
    double value, step, minimum, maximum;
    const char *const *choices;
    int count;
    const char *choice;             // default label
};

#define INT(key, def, lo, hi) { #key, FIELD_INT, &g_settings.key, nullptr, def, 1, lo, hi, nullptr, 0, nullptr }
#define NUM(key, label, def, step, lo, hi) { #key, FIELD_NUMBER, &g_settings.key, label, def, step, lo, hi, nullptr, 0, nullptr }
#define CHO(key, label, list, def) \
    { #key, FIELD_CHOICE, &g_settings.key, label, 0, 0, 0, 0, list, (int)(sizeof list / sizeof list[0]), def }
#define SPECIAL(key, kind) { key, kind, nullptr, nullptr, 0, 0, 0, 0, nullptr, 0, nullptr }

// In the order the file is written; the read-only keys come last.
static const Field k_fields[] = {
    // A damaged size must not open a sliver of a window on every later run.
    INT(xres, 640, WINDOW_MIN_WIDTH, WINDOW_MAX_SIZE),
    INT(yres, 480, WINDOW_MIN_HEIGHT, WINDOW_MAX_SIZE),
    INT(draw_fps, 0, INT_MIN, INT_MAX),
    INT(draw_time, 0, INT_MIN, INT_MAX),
    INT(draw_ping, 1, INT_MIN, INT_MAX),
    INT(draw_speed, 0, INT_MIN, INT_MAX),
    INT(spy, 0, INT_MIN, INT_MAX),
    SPECIAL("track", FIELD_TRACK),
    CHO(record, "Record Demo", k_no_yes, "No"),
    CHO(skill, "Robot Skill", k_skills, "Novice"),
    NUM(minutes, "Minutes", 0, 1, 0, 60),
    NUM(laps, "Laps", 5, 1, 0, 50),
    SPECIAL("slot", FIELD_GATES),
    NUM(ghost_fade_distance, "Ghost Fade Distance", 10, 1, 0, 40),
    CHO(time_trial_abort, "Backing Up Aborts Attempt", k_no_yes, "Yes"),
    SPECIAL(nullptr, FIELD_SETUP),
    SPECIAL("video_mode", FIELD_VIDEO_MODE),
    SPECIAL("server_name", FIELD_SERVER),
    SPECIAL("server_name_hist", FIELD_HISTORY),
    NUM(ground_detail, "Ground Geometric Detail", 50, 1, 0, 100),
    NUM(ground_texture_detail, "Ground Texture Levels", 9, 1, 0, 10),
    CHO(ground_texture_dim, "Ground Texture Resolution", k_texture_dims, "128x128"),
    CHO(ground_mipmaps, "Enable Ground Mipmaps", k_no_yes, "Yes"),
    CHO(texture_compress, "Compress Textures", k_compress, "Yes"),
    CHO(render_texture, "Terrain Rendering Method", k_render, "Hardware/Direct"),
    CHO(use_shader, "Use Shader Programs", k_no_yes, "Yes"),
    NUM(roost_density, "Roost Density", 250, 10, 0, 1000),
    NUM(reshade_delay, "Reshade Delay", 0, 1, 0, 20),
    CHO(lens_flare, "Enable Lens Flares", k_no_yes, "Yes"),
    CHO(reflections, "Enable Reflections", k_no_yes, "Yes"),
    CHO(hide_rider, "Hide 1st Person Rider", k_no_yes, "No"),
    CHO(rigid_camera, "Rigid 3rd person camera", k_no_yes, "No"),
    NUM(model_detail, "Model Geometric Detail", 50, 1, 0, 100),
    NUM(model_texture_detail, "Model Texture Detail", 9, 1, 0, 10),
    NUM(fov, "Field Of View", 110, 1, 10, 170),
    NUM(first_person_height, "1st Person Height", 0, 0.03125, 0, 1),
    NUM(first_person_angle, "1st Person Angle", 0, 1, 0, 40),
    NUM(first_person_gimbal, "1st Person Gimbal", 0, 1, 0, 100),
    NUM(third_person_height, "3rd Person Height", 5, 1, 0, 20),
    NUM(third_person_distance, "3rd Person Distance", 10, 1, 5, 40),
    NUM(volume, "Volume", 10, 1, 0, 10),
    NUM(comp_volume, "Competitor Volume", 8, 1, 0, 10),
    CHO(playback_mode, "Playback Mode", k_playback, "Playback Only"),
    INT(billboard_optimize_lookahead, 8, 0, INT_MAX),
    INT(message_lines, 5, 0, 1000),
    // Demo backups are numbered "%s.~%d~" up to 9999.
    INT(demo_backups, 0, 0, 9999),
    NUM(map_scale, nullptr, 1.0, 0.125, 0.125, 8),
    SPECIAL(nullptr, FIELD_BINDINGS),
    { "use_fbo", FIELD_USE_FBO, &g_settings.use_fbo, nullptr, 0, 0, 0, 0, k_no_yes, 2, "Yes" },
    SPECIAL("ground_texture_distance", FIELD_IGNORED),
};

#undef INT
#undef NUM
#undef CHO
#undef SPECIAL

// The thirteen items a graphics preset sets, with their values in presets 0 to 3.
struct PresetItem {
    NumberItem *number;
    ChoiceItem *choice;
    double values[GRAPHICS_PRESET_COUNT];
    const char *labels[GRAPHICS_PRESET_COUNT];
};

static const PresetItem k_preset_items[] = {
    { &g_settings.ground_detail, nullptr, { 70, 50, 70, 90 }, {} },
    { &g_settings.ground_texture_detail, nullptr, { 9, 7, 9, 10 }, {} },
    { nullptr, &g_settings.ground_texture_dim, {}, { "64x64", "64x64", "128x128", "256x256" } },
    { nullptr, &g_settings.ground_mipmaps, {}, { "Yes", "Yes", "Yes", "Yes" } },
    { nullptr, &g_settings.texture_compress, {}, { "No", "Yes", "Yes", "No" } },
    { nullptr, &g_settings.render_texture, {}, { "Software", "Hardware/Direct", "Shaders/Direct", "Shaders/Direct" } },
    { nullptr, &g_settings.use_shader, {}, { "Yes", "No", "Yes", "Yes" } },
    { &g_settings.model_detail, nullptr, { 50, 25, 50, 75 }, {} },
    { &g_settings.model_texture_detail, nullptr, { 9, 7, 9, 10 }, {} },
    { nullptr, &g_settings.lens_flare, {}, { "Yes", "No", "Yes", "Yes" } },
    { nullptr, &g_settings.reflections, {}, { "Yes", "No", "Yes", "Yes" } },
    { &g_settings.roost_density, nullptr, { 1000, 0, 1000, 1000 }, {} },
    { &g_settings.reshade_delay, nullptr, { 8, 10, 8, 0 }, {} },
};

static const char *const k_preset_names[GRAPHICS_PRESET_COUNT] = {
    "Compatibility", "High FPS", "Normal", "High Detail",
};

bool config_apply_preset(int preset)
{
    if (preset < 0 || preset >= GRAPHICS_PRESET_COUNT)
        return false;
    for (const PresetItem &p : k_preset_items) {
        if (p.number)
            number_set(p.number, p.values[preset]);
        else
            choice_set(p.choice, p.labels[preset]);
    }
    return true;
}

int config_current_preset(void)
{
    for (int preset = GRAPHICS_PRESET_COUNT - 1; preset >= 0; preset--) {
        bool all = true;
        for (const PresetItem &p : k_preset_items) {
            if (p.number ? p.number->value != p.values[preset]
                         : strcmp(choice_label(p.choice), p.labels[preset]) != 0) {
                all = false;
                break;
            }
        }
        if (all)
            return preset;
    }
    return -1;
}

const char *config_preset_name(int preset)
{
    return preset >= 0 && preset < GRAPHICS_PRESET_COUNT ? k_preset_names[preset] : "Custom";
}

const char *config_preset_text(void)
{
    snprintf(g_config.preset_text, sizeof g_config.preset_text, "Current Settings: %s",
             config_preset_name(config_current_preset()));
    return g_config.preset_text;
}

void config_clear_server_history(void)
{
    for (char *entry : g_settings.server_name_hist)
        entry[0] = 0;
}

void config_push_server_name(const char *name)
{
    if (!name || !name[0])
        return;
    char cut[SERVER_NAME_MAX + 1];
    copy_text(cut, name, SERVER_NAME_MAX);
    if (strcmp(cut, g_settings.server_name_hist[0]) == 0)
        return;
    memmove(g_settings.server_name_hist[1], g_settings.server_name_hist[0],
            sizeof g_settings.server_name_hist[0] * (SERVER_HISTORY_COUNT - 1));
    strcpy(g_settings.server_name_hist[0], cut);
}

bool config_set_track(const char *name)
{
    if (!name || !name[0] || strlen(name) > TRACK_NAME_MAX)
        return false;
    strcpy(g_settings.track, name);
    return true;
}

void config_set_video_modes(const char *const *labels, int count)
{
    if (!labels || count <= 0) {
        labels = k_default_video_modes;
        count = 2;
    }
    char keep[256];
    copy_text(keep, choice_label(&g_settings.video_mode), sizeof keep - 1);
    g_settings.video_mode.labels = labels;
    g_settings.video_mode.count = count;
    g_settings.video_mode.chosen = 0;
    choice_set(&g_settings.video_mode, keep);
}

static void set_field_default(const Field &f)
{
    switch (f.kind) {
    case FIELD_INT:
        *(int *)f.item = (int)f.value;
        break;
    case FIELD_NUMBER:
        *(NumberItem *)f.item = { f.label, f.value, f.step, f.minimum, f.maximum };
        break;
    case FIELD_CHOICE:
    case FIELD_USE_FBO: {
        ChoiceItem *c = (ChoiceItem *)f.item;
        *c = { f.label, f.choices, f.count, 0 };
        choice_set(c, f.choice);
        break;
    }
    case FIELD_TRACK:
        g_settings.track[0] = 0;
        break;
    case FIELD_GATES:
        for (int i = 0; i < GATE_COUNT; i++) {
            snprintf(g_config.gate_labels[i], sizeof g_config.gate_labels[i], "Gate %d", i + 1);
            ChoiceItem *c = &g_settings.slot[i];
            *c = { g_config.gate_labels[i], k_gate_choices, 5, 0 };
            // The player starts in the middle of the gate with robots either side.
            int gate = i + 1;
            if (gate == 20)
                choice_set(c, "Human");
            else if (gate == 18 || gate == 19 || (gate >= 21 && gate <= 23))
                choice_set(c, "Robot");
        }
        break;
    case FIELD_SETUP:
        setup_set_defaults();
        break;
    case FIELD_VIDEO_MODE:
        g_settings.video_mode.label = "Video Mode";
        if (!g_settings.video_mode.labels)
            config_set_video_modes(nullptr, 0);
        g_settings.video_mode.chosen = 0;
        break;
    case FIELD_SERVER:
        copy_text(g_settings.server_name, k_default_server, SERVER_NAME_MAX);
        break;
    case FIELD_HISTORY:
        config_clear_server_history();
        break;
    case FIELD_BINDINGS:
        bindings_set_defaults();
        break;
    case FIELD_IGNORED:
        break;
    }
}

void config_apply_defaults(void)
{
    for (const Field &f : k_fields)
        set_field_default(f);
    config_apply_preset(0);
}

// "slot07" and the like: prefix, then exactly two digits below limit; -1 otherwise.
static int indexed_key(const char *key, const char *prefix, int limit)
{
    size_t n = strlen(prefix);
    if (strncmp(key, prefix, n) != 0)
        return -1;
    const char *d = key + n;
    if (d[0] < '0' || d[0] > '9' || d[1] < '0' || d[1] > '9' || d[2])
        return -1;
    int i = (d[0] - '0') * 10 + (d[1] - '0');
    return i < limit ? i : -1;
}

static bool apply_pair(const char *key, const char *value)
{
    if (read_setup_pair(key, value))
        return true;
    int b = binding_find(key);
    if (b >= 0) {
        binding_read(b, value);
        return true;
    }
    for (const Field &f : k_fields) {
        switch (f.kind) {
        case FIELD_GATES: {
            int i = indexed_key(key, "slot", GATE_COUNT);
            if (i < 0)
                continue;
            choice_set(&g_settings.slot[i], value);
            return true;
        }
        case FIELD_HISTORY: {
            int i = indexed_key(key, "server_name_hist", SERVER_HISTORY_COUNT);
            if (i < 0)
                continue;
            // A name this long was never pushed by the game: the line is damaged.
            if (strlen(value) <= SERVER_NAME_MAX)
                strcpy(g_settings.server_name_hist[i], value);
            return true;
        }
        case FIELD_SETUP:
        case FIELD_BINDINGS:
            continue;
        default:
            break;
        }
        if (strcmp(key, f.key) != 0)
            continue;
        switch (f.kind) {
        case FIELD_INT: {
            int v;
            if (parse_int(value, &v))
                *(int *)f.item = v < f.minimum ? (int)f.minimum : v > f.maximum ? (int)f.maximum : v;
            break;
        }
        case FIELD_NUMBER:
            number_set_text((NumberItem *)f.item, value);
            break;
        case FIELD_CHOICE:
            choice_set((ChoiceItem *)f.item, value);
            break;
        case FIELD_TRACK:
            copy_text(g_settings.track, value, TRACK_NAME_MAX);
            break;
        case FIELD_VIDEO_MODE:
            choice_set(&g_settings.video_mode, value);
            break;
        case FIELD_SERVER:
            copy_text(g_settings.server_name, value, SERVER_NAME_MAX);
            break;
        case FIELD_USE_FBO:
            if (choice_set(&g_settings.use_fbo, value))
                choice_set(&g_settings.render_texture,
                           g_settings.use_fbo.chosen ? "Hardware/Direct" : "Hardware/Copy");
            break;
        default:
            break;
        }
        return true;
    }
    return false;
}

bool config_read_line(const char *line, size_t size)
{
    if (!line)
        return false;
    while (size > 0 && (line[size - 1] == '\r' || line[size - 1] == '\n'))
        size--;
    // Binary junk and over-long lines are damage, never settings the game wrote.
    if (size > CONFIG_LINE_MAX || memchr(line, 0, size))
        return false;
    char text[CONFIG_LINE_MAX + 1];
    memcpy(text, line, size);
    text[size] = 0;
    char *eq = strchr(text, '=');
    if (!eq)
        return false;
    *eq = 0;
    return apply_pair(text, eq + 1);
}

bool config_read_buffer(const char *data, size_t size)
{
    if (!data)
        return false;
    const char *end = data + size;
    while (data < end) {
        const char *nl = (const char *)memchr(data, '\n', (size_t)(end - data));
        const char *stop = nl ? nl : end;
        config_read_line(data, (size_t)(stop - data));
        data = nl ? nl + 1 : end;
    }
    return true;
}

bool config_read_text(const char *text)
{
    return text && config_read_buffer(text, strlen(text));
}

bool config_load(void)
{
    DataFile *f = open_data_file("@config", "rb");
    if (!f)
        return false;
    // A line with room for its "\r\n"; anything longer is skipped up to its line feed.
    char line[CONFIG_LINE_MAX + 3];
    size_t length = 0;
    bool overlong = false;
    char chunk[CONFIG_LINE_MAX + 3];
    for (;;) {
        // The line reader stops at line feeds, not at NULs: filling the buffer with line
        // feeds first makes its last NUL mark the true end of what was read.
        memset(chunk, '\n', sizeof chunk);
        if (!data_gets(f, chunk, (int)sizeof chunk))
            break;
        size_t got = sizeof chunk - 1;
        while (got > 0 && chunk[got] != 0)
            got--;
        bool complete = got > 0 && chunk[got - 1] == '\n';
        if (!overlong && length + got <= sizeof line) {
            memcpy(line + length, chunk, got);
            length += got;
        } else {
            overlong = true;
        }
        if (complete) {
            if (!overlong)
                config_read_line(line, length);
            length = 0;
            overlong = false;
        }
    }
    if (!overlong && length > 0)
        config_read_line(line, length);
    close_data_file(f);
    return true;
}

char *config_write_text(void)
{
    TextBuf out = {};
    for (const Field &f : k_fields) {
        switch (f.kind) {
        case FIELD_INT:
            textbuf_printf(&out, "%s=%d\n", f.key, *(const int *)f.item);
            break;
        case FIELD_NUMBER:
            textbuf_printf(&out, "%s=%f\n", f.key, ((const NumberItem *)f.item)->value);
            break;
        case FIELD_CHOICE:
            textbuf_printf(&out, "%s=%s\n", f.key, choice_label((const ChoiceItem *)f.item));
            break;
        case FIELD_TRACK:
            textbuf_printf(&out, "track=%s\n", g_settings.track);
            break;
        case FIELD_GATES:
            for (int i = 0; i < GATE_COUNT; i++)
                textbuf_printf(&out, "slot%02d=%s\n", i, choice_label(&g_settings.slot[i]));
            break;
        case FIELD_SETUP:
            write_setup_text(&out);
            break;
        case FIELD_VIDEO_MODE:
            textbuf_printf(&out, "video_mode=%s\n", choice_label(&g_settings.video_mode));
            break;
        case FIELD_SERVER:
            textbuf_printf(&out, "server_name=%s\n", g_settings.server_name);
            break;
        case FIELD_HISTORY:
            for (int i = 0; i < SERVER_HISTORY_COUNT; i++)
                textbuf_printf(&out, "server_name_hist%02d=%s\n", i, g_settings.server_name_hist[i]);
            break;
        case FIELD_BINDINGS:
            for (int i = 0; i < BINDING_COUNT; i++)
                binding_write(i, &out);
            break;
        case FIELD_USE_FBO:
        case FIELD_IGNORED:
            break;
        }
    }
    return textbuf_take(&out);
}

bool config_save(void)
{
    char *text = config_write_text();
    size_t size = strlen(text);
    DataFile *f = begin_replace_file("@config");
    if (!f) {
        xfree(text);
        return false;
    }
    if (data_write(f, text, size) != size) {
        abandon_replace_file(f);
        xfree(text);
        return false;
    }
    xfree(text);
    return finish_replace_file(f);
}
