// The player's settings in "@config": read once at start-up over the defaults and graphics
// preset 0, written once at shutdown. The file also carries the bike setup block, the
// server-name history and the control bindings (driver/bindings.h).
#pragma once
#include "common/items.h"

enum {
    GATE_COUNT = 40,                // starting-gate choices of the New Race menu
    SERVER_HISTORY_COUNT = 16,
    SERVER_NAME_MAX = 126,          // characters
    TRACK_NAME_MAX = 1023,
    CONFIG_LINE_MAX = 1023,         // longer lines are damage and are skipped whole
    GRAPHICS_PRESET_COUNT = 4,
};

// The settings, read by every subsystem and edited in place by the menus. Numeric and
// choice settings are menu items; the others are plain values.
struct Settings {
    int xres, yres;                     // window size in "Windowed" mode
    int draw_fps, draw_time, draw_ping, draw_speed;
    int spy;
    char track[TRACK_NAME_MAX + 1];     // folder of the track to load at start; "" none
    ChoiceItem record, skill;
    NumberItem minutes, laps;
    ChoiceItem slot[GATE_COUNT];        // "Gate 1".."Gate 40"
    NumberItem ghost_fade_distance;
    ChoiceItem time_trial_abort;
    ChoiceItem video_mode;              // over the video-mode list
    char server_name[SERVER_NAME_MAX + 1];
    char server_name_hist[SERVER_HISTORY_COUNT][SERVER_NAME_MAX + 1];   // newest first
    NumberItem ground_detail, ground_texture_detail;
    ChoiceItem ground_texture_dim, ground_mipmaps, texture_compress, use_fbo, render_texture,
        use_shader;
    NumberItem model_detail, model_texture_detail, roost_density, reshade_delay;
    ChoiceItem lens_flare, reflections, hide_rider, rigid_camera;
    NumberItem fov, first_person_height, first_person_angle, first_person_gimbal,
        third_person_height, third_person_distance, volume, comp_volume;
    ChoiceItem playback_mode;
    int billboard_optimize_lookahead;
    int message_lines;                  // 0..1000
    int demo_backups;
    NumberItem map_scale;               // 0.125..8
};

extern Settings g_settings;

// Start-up: clears the server-name history, sets every setting, the bike setup and the
// bindings to their defaults, applies the stability preset and graphics preset 0.
void config_apply_defaults(void);

// The "Video Mode" labels ("Default Fullscreen", "Windowed", then "%dx%d" modes); the caller
// keeps the array. Set before reading the file; a chosen label no longer listed falls
// back to entry 0.
void config_set_video_modes(const char *const *labels, int count);

// Reads "@config" over the current settings. False (settings untouched) when it is missing
// or unreadable; damaged lines are skipped and every good line is still read.
bool config_load(void);
// Writes "@config" beside the old file and replaces it only once the whole file is written.
// False (old file intact) on any failure.
bool config_save(void);

// Applies a whole file's text (lines of "key=value"); the text ends at its NUL.
bool config_read_text(const char *text);
// The same for bytes that may hold NULs.
bool config_read_buffer(const char *data, size_t size);
// Applies one line without its line feed (size bytes, may hold NULs); false when skipped.
bool config_read_line(const char *line, size_t size);
// The whole file's text in its fixed order and formats; xmalloc'ed, never null.
char *config_write_text(void);

// The track written back at shutdown. Empty or over-long names are refused (false), so the
// configured track survives sessions that load none.
bool config_set_track(const char *name);

// Pushes a server name onto the history: ignored when empty or equal to the newest entry;
// otherwise the entries move down one and the oldest is dropped. Cut to 126 characters.
void config_push_server_name(const char *name);
void config_clear_server_history(void);

// Graphics presets 0 "Compatibility", 1 "High FPS", 2 "Normal", 3 "High Detail".
bool config_apply_preset(int preset);               // false: no such preset
// The highest preset that all thirteen items equal; -1 when none does.
int  config_current_preset(void);
const char *config_preset_name(int preset);         // "Custom" for -1
// "Current Settings: Normal" and so on, for the graphics menu.
const char *config_preset_text(void);
