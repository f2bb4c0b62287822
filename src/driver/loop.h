// The main loop, the tic clock, rider slots, views, menus state and the player's controls.
#pragma once
#include <stdint.h>

struct BikeState;
struct StartupSettings;

enum {
    RIDER_SLOTS = 160,
    NO_SLOT = 160,                  // stored wherever a slot number means "none"
    CONTROL_CHANNELS = 9,
    SETUP_WATCHED_VALUES = 39,
};

enum ControlKind { CONTROL_HUMAN = 0, CONTROL_REPLAYED = 1, CONTROL_ROBOT = 2 };
enum ViewMode { VIEW_RIDER = 0, VIEW_EDITOR = 2, VIEW_CHASE = 3, VIEW_CAMERA = 4, VIEW_TITLE = 5 };
enum { MENU_NONE = -1, MENU_MAIN = 0, MENU_CONSOLE = 16 };
enum { CHANNEL_STEER, CHANNEL_THROTTLE, CHANNEL_FRONT_BRAKE, CHANNEL_REAR_BRAKE, CHANNEL_SHIFT,
       CHANNEL_CLUTCH, CHANNEL_SIT_DAB, CHANNEL_BACK_UP, CHANNEL_LEAN };

struct RiderSlot {
    BikeState *bike;                // null: empty
    int kind;                       // ControlKind; empty slots are CONTROL_REPLAYED
};

struct ChaseCamera {
    float yaw;                      // radians, [-pi, pi]
    float distance;
    float height;
};

// Time.
int    race_tic(void);
void   set_race_tic(int tic);
int    gate_drop_tic(void);
void   set_gate_drop_tic(int tic);
double game_clock(void);            // seconds of game time since start-up

// Slots and views.
RiderSlot *rider_slot(int slot);    // null when out of range
void   clear_rider_slots(void);     // forgets every bike (the caller frees them) and marks all replayed
int    viewed_slot(void);
void   set_viewed_slot(int slot);
int    view_mode(void);
void   set_view_mode(int view);
const ChaseCamera *chase_camera(void);
int    selected_camera(void);       // trackside camera, -1 the free camera
bool   auto_camera_switching(void);
// The trackside camera a digit key selects: min(digit, count) - 1; digit 0 the free camera.
int    camera_for_digit(int digit, int camera_count);

// Menus (the screens themselves are drawn and driven by the menu code).
void   open_menu(int screen, int item);
void   close_menu(void);
int    menu_screen(void);           // MENU_NONE when closed
int    menu_item(void);

// Pause and controls.
bool   game_paused(void);
const float *control_channels(void);    // CONTROL_CHANNELS values of the current tic

// Starts the loop's clock, takes its switches from the settings and opens the cursor axes.
void   loop_init(const StartupSettings *settings);
void   loop_release_input(void);               // closes the cursor axes (shutdown)
// Runs until the window's close event, a failed present, or SK_QUIT_AFTER_FRAMES frames.
// Returns the number of frames presented.
int    run_main_loop(void);
// Advances the world by one tic.
void   simulation_tic(void);
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

// Frame statistics: the histogram of frame intervals, then cleared ("fpshist").
void   frame_histogram(int out[8]);
void   clear_frame_histogram(void);

// Seed of the random generator for a new session: calendar seconds, or the seed a test set.
uint32_t session_seed(void);
void   set_session_seed_for_tests(bool fixed, uint32_t seed);

// Test hooks: a function called after every tic, and a full reset of the loop state.
void   loop_set_tic_observer(void (*observer)(void));
void   loop_reset_for_tests(void);
