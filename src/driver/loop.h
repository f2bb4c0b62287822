// The main loop: frames, the tic clock that feeds the simulation, views, menu state, pause and
// the player's controls. The world's state and simulation_tic itself are the simulation's
// (race/world.h, race/simulation.h).
#pragma once
#include <stdint.h>

#include "race/simulation.h"
#include "race/world.h"
#include "ui/menus.h"

struct StartupSettings;

enum { SETUP_WATCHED_VALUES = 39 };

enum ViewMode { VIEW_RIDER = 0, VIEW_EDITOR = 2, VIEW_CHASE = 3, VIEW_CAMERA = 4, VIEW_TITLE = 5 };
struct ChaseCamera {
    float yaw;                      // radians, [-pi, pi]
    float distance;
    float height;
};

// Views.
int    view_mode(void);
void   set_view_mode(int view);
const ChaseCamera *chase_camera(void);
int    selected_camera(void);       // trackside camera, -1 the free camera
bool   auto_camera_switching(void);
// The trackside camera a digit key selects: min(digit, count) - 1; digit 0 the free camera.
int    camera_for_digit(int digit, int camera_count);

// Pause.
bool   game_paused(void);

// A race started again from the "New Race" menu: the line-up rotated by "--rotate-lineup"
// slots (warp mode's own restarts rotate by one).
void   loop_new_race(void);
int    new_race_rotation(void);

// Starts the loop's clock, takes its switches from the settings and opens the cursor axes.
void   loop_init(const StartupSettings *settings);
void   loop_release_input(void);               // closes the cursor axes (shutdown)
// Runs until the window's close event, a failed present, SIGINT or SIGTERM, or
// SK_QUIT_AFTER_FRAMES frames. Returns the number of frames presented.
int    run_main_loop(void);
// A frame's wait (window-system input is taken in while it waits) and its game-time step.
double loop_wait_for_frame(void);
// Posts "Stutter in %s - %f seconds" when more than the threshold passed since the last check.
void   stutter_check(const char *label);
void   set_stutter_threshold(double seconds);      // 0 turns the checks off

// One key event (code, 1 pressed / 0 released) through the key handling of a tic.
void   loop_handle_key(int code, int pressed);
// Adds a frame's game-time step and runs the tics it covers, reading input by time stamp.
// Returns the number of tics run.
int    loop_advance(double step);
// Takes the pending window events without acting on them (loading screens); a close is kept.
void   loop_drain_events(void);
bool   loop_close_requested(void);

// The setup change report: "[SPAM] Setup change " and one letter per changed value ("-" for
// unchanged), ending in a line feed. False (and out left empty) when nothing changed.
bool   build_setup_change_report(const double *reference, const double *current, char *out, int size);
void   setup_report_take_reference(void);      // start-up and end of every track load

// The longest frame step since the last call (0 none); the shortest and longest start again.
double loop_take_longest_step(void);
// Frame statistics: the histogram of frame intervals, then cleared ("fpshist").
void   frame_histogram(int out[8]);
void   clear_frame_histogram(void);

// Takes the setup change report's reference and puts the free camera above the viewed bike:
// the driver's part at the end of every track load.
void   loop_session_loaded(void);

// Test hooks: a function called after every tic, and a full reset of the loop state (the
// world's state too).
void   loop_set_tic_observer(void (*observer)(void));
// Test hook: what polls the network in every tic (null: the network's own poll).
void   loop_set_net_poller(void (*poller)(void));
void   loop_reset_for_tests(void);
