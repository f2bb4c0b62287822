// Start-up settings and the command line that overrides them for one run.
#pragma once

enum {
    SETTINGS_TEXT = 1024,
    // Window sizes a run may ask for; the configuration's xres and yres are kept to the same.
    WINDOW_MIN_WIDTH = 320,
    WINDOW_MIN_HEIGHT = 240,
    WINDOW_MAX_SIZE = 16384,
};

struct StartupSettings {
    bool flat_shading;              // --fugly
    bool sound_off;                 // --nosound
    bool no_vertex_arrays;          // --novertexarrays
    bool learn_lines;               // --learn / --nolearn
    int verbosity;                  // 0, 1 --debug, 2 --super-debug
    bool practice_robots;           // --practice
    bool warp;                      // --warp
    // Texture-detail levels: mip levels dropped (0 full detail). From the configuration as
    // 10 minus "Model Texture Detail" / "Ground Texture Levels"; the options set 0..4.
    int model_texture_detail;
    int ground_texture_detail;
    int roost_frequency;            // 0..1000
    int erode_rate;                 // fixed point, 1024 = 1.0; 0 no erosion
    float terrain_detail;           // never below 1e-6: the renderer divides by it
    float max_detail_distance;
    float detail_fade_end;          // max_detail_distance + 5
    float lod_scale;                // [1e-6, 1e6]
    float lod_bias;
    float lock_fps;                 // frames per second, 1..1000; 0 off
    float fake_lag;                 // seconds, 0..1
    int fake_loss;                  // percent, 0..100
    char record_audio[SETTINGS_TEXT];   // empty: none
    bool record_video;
    int rotate_lineup;
    bool editor;
    bool show_paused;
    bool show_hud;
    int width, height;              // the "Windowed" mode's size
    int depth, zdepth;              // colour and depth-buffer bits
    int draw_fps, draw_time, draw_ping, draw_speed, draw_render_stats;
    bool accurate_skip;
    char track[SETTINGS_TEXT];      // empty: none
    bool connect_requested;
    char server[SETTINGS_TEXT];     // the --connect address without "skorva:"
    bool have_password;
    char password[SETTINGS_TEXT];
    float chase_center[3];          // bike body coordinates
    bool glfinish;
    bool print_orientation;
    char demo_file[SETTINGS_TEXT];  // empty: none
    bool open_home;                 // --open-home: show the home folder and exit 0
};

// Built-in defaults, before the configuration file; ground_detail is the configured
// "Ground Geometric Detail" that terrain detail derives from.
void settings_defaults(StartupSettings *s, float ground_detail);
// The defaults a run takes from the configuration (g_settings): window size, HUD switches,
// roost, track, texture-detail levels and the terrain detail.
void settings_from_config(StartupSettings *s);
// 0.125 / ground_detail with the divisor floored at 1e-6, so 0 gives a finite value.
float terrain_detail_for(float ground_detail);

enum { ARGS_OK = 0, ARGS_EXIT_FAILURE = 1 };

// Applies the arguments after argv[0] on top of s. On a bad option or value prints the
// message on standard error and returns ARGS_EXIT_FAILURE (the process exits with 1).
int parse_command_line(int argc, char **argv, StartupSettings *s);

// The process-wide settings record.
StartupSettings *startup_settings(void);
