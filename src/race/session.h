// The track session: one loaded track and its line-up of riders. Every race start, restart,
// demo playback, time trial and server race goes through load_session.
#pragma once
#include <stdint.h>

#include "race/roster.h"
#include "race/timing.h"

struct BikeState;
struct Terrain;

// What each of the 160 slots asks for.
enum SlotRequest {
    REQUEST_EMPTY = 0,              // filled from the playing demo when loading one
    REQUEST_PLAYER = 1,
    REQUEST_ROBOT = 2,
    REQUEST_ROBOT_125 = 3,
    REQUEST_ROBOT_250 = 4,
    REQUEST_REMOTE = 5,
    REQUEST_ROBOT_NUMBER = 1000,    // + n: the robot with rider number n
};

enum {
    SESSION_SLOTS = 160,
    k_countdown_tics = 640,         // 5 s
    k_time_trial_start_tic = 38400, // 300 s, far past any gate drop
    k_session_text = 256,
};

// What the line-up gave a slot (kept whether or not a bike could be built).
struct SessionSlot {
    int request;                    // after the line-up rules
    int kind;                       // ControlKind given, -1 for an empty slot
    int roster;                     // roster entry of a robot, -1 none
    char number[4];
    char name[64];
    char bike[64];
    char textures[4][k_session_text];   // rider, bike, wheels, helmet; "" none
    float x, y, z, heading;         // start position on the gate
};

// What the player's command line asks of every session.
struct SessionOptions {
    int verbosity;                  // 0, 1 ("--debug") or 2 ("--super-debug")
    bool learn_lines;               // the robots' lines are written back when a session ends
    bool practice_robots;           // every robot rides as the tester
    bool editor;                    // the editor takes and releases the track
    int erode_rate;                 // fixed point, 1024 = 1.0; 0 no erosion (local sessions)
};
void session_set_options(const SessionOptions *options);   // null: all off

// Loads a session. requests: 160 slot requests, or null for a time trial. from_demo takes the
// track and riders from the demo open for playback; record_demo starts recording;
// time_limit_tics 0 means a lap race; skill 0..2 picks the robots' lines file. False when no
// track could be loaded: the game then shows the title view.
bool load_session(const int *requests, bool from_demo, bool record_demo, int time_limit_tics, int laps, int skill);
// Unloads the track's data ("Deallocating track" ... "Finished deallocating track").
void free_track(void);
// Destroys every slot's sound and bike ("Deallocating bikes" ... "Finished deallocating bikes").
void free_riders(void);
// Empties one slot: its engine sound, bike and passes.
void free_rider(int slot);

// The track the next load uses unless a demo or server names another. Only folders of the
// track list are taken; false leaves the choice alone. Null clears the choice: an offline load
// then keeps the loaded track, and with none loaded it fails without touching anything.
bool session_select_track(const char *folder);
const char *session_selected_track(void);       // null before any choice
void session_force_reload(void);                // the console's "forcereload"
// The ground rule every load applies to the loaded terrain: in a server race it is frozen, so
// that heights change only through the erosion the server relays; offline it is not.
void session_set_ground_rule(bool server_race);

const char *session_track(void);                // folder of the loaded track; null when none
const uint8_t *session_track_hash(void);        // 20 bytes; all zero when no track
Terrain *session_terrain(void);
const Timing *session_timing(void);
const SessionSlot *session_slot(int slot);      // null outside 0..159
GatePasses *session_passes(int slot);           // null outside 0..159
const RosterDraw *session_roster(void);
bool session_time_trial(void);
int  session_time_limit(void);
int  session_laps(void);
int  session_skill(void);
bool session_record_demo(void);
const int *session_requests(void);              // the 160 requests after the line-up rules
int  session_replay_delay(void);                // tics replays run behind (spectating a server race)
int  session_erosion_rate(void);
bool session_frills(void);
int  session_loads_scanned(void);               // how many loads read the track's files
int  session_verbosity(void);                   // 0, 1 or 2: the command line's

// Start position of a slot: from the gate positions (rows 10 apart, 0.0625 of a row behind the
// gate), or along x from the terrain's centre when there are none.
void start_position(const Timing *t, float terrain_width, int slot, float *x, float *z, float *heading);

// The driver's calls into the session.
bool track_session_request(const char *track, bool from_demo, int lap_limit);   // false: no track
// The same with slot 0 requesting `first` (a SlotRequest) instead of a robot.
bool track_session_request_first(const char *track, bool from_demo, int lap_limit, int first);
// Applies the rider's setup to the player's bike when it is in view: not while it moves faster
// than 0.125 (then "Settings not applied.  Mechanic can't keep up error." at most once per
// 10 s of game_clock). True when it was applied.
bool session_apply_setup(void);
bool track_is_loaded(void);
int  track_camera_count(void);
void session_tables_free(void);
// One tic of gate passing for a bike still in the race; a pass refreshes the results. Returns
// the position passed, -1 none.
int  bike_gate_passing(BikeState *bike);
// Test hook: forgets everything without logging (the caller frees the track first).
void session_reset_for_tests(void);
