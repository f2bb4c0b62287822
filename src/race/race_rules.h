// How a race runs on top of the track session and the gate passes: the race length, the
// false-start rule of a server race, the starting gate's pieces, the lap limit of timed races,
// the chequered flag and each rider's finish, the running order, and the restarts of warp mode
// and of the "New Race" menu.
#pragma once
#include <stdint.h>

#include "race/timing.h"

struct BikeState;
struct ChoiceItem;

enum {
    k_race_open = 1000000,          // lap limit and half-race lap of a timed race until fixed
    k_false_start_hold_tics = 1920, // 15 s after the gate drop
    k_gate_window_tics = 1280,      // the gate animates until 10 s after the drop
};

// What the flagger at the finish shows, by the leader's lap.
enum FlaggerBoard { BOARD_NORMAL, BOARD_HALF_WAY, BOARD_LAST_LAP, BOARD_CHEQUERED };

// A starting-gate piece, one per gate position (same index). angle 1 is upright, 0 flat; its
// scenery object is turned about its hinge by angle x 3pi/16, drawn and solid alike.
struct GatePiece {
    float angle;
    float speed;                    // of the fall, per second
    int32_t touched_tic;            // race tic a bike last touched it; -1 never
};

// The race settings the configuration keeps ("Robot Skill": "Novice", "Amateur", "Expert";
// "Backing Up Aborts Attempt": "No", "Yes"), read where they are used. Null items read as
// "Novice" and "Yes".
struct RaceSettingItems {
    const ChoiceItem *robot_skill;
    const ChoiceItem *backing_up_aborts;
};
void race_use_settings(const RaceSettingItems *items);
int  race_settings_robot_skill(void);       // 0..2
bool race_settings_backing_up_aborts(void);

// "12 laps", "20 minutes", "20 minutes + 2 laps". Returns out.
const char *race_length_text(char *out, int size, int time_limit_tics, int laps);

// A new race (every session load): the race length, no one finished, no hold, every gate piece
// upright, the running order empty and the results open again.
void race_begin(int time_limit_tics, int laps);
int  race_lap_limit(void);
int  race_half_lap(void);

// The session is a server race (set by the network at load; tests set it here).
void race_set_server(bool server);
bool race_server(void);

// The local player's start, taken from its bike's frame where it stands; clears its hold.
void race_remember_start(int slot, const BikeState *bike);
// The false-start rule for the local player's slot in a server race: held with sit/dab on up to
// the gate drop; moving 3 ft or more from the start holds it until 15 s after the drop, brakes
// on, throttle and clutch off. Nothing offline.
void false_start_rule(int slot);
int  false_start_hold(int slot);    // tics left; 0 none

// Starting-gate pieces.
bool gate_window_open(void);        // from the start until 10 s after the (delayed) drop
void starting_gate_pieces_raise(void);
void starting_gate_animate(void);   // one tic
void gate_piece_touch(int piece);   // a bike touched the piece in this tic
void gate_pieces_touch(BikeState *bike);    // a replayed bike against every piece
const GatePiece *gate_piece(int piece);     // null outside the track's gate positions

// Refresh step 1 of the results: the running order, the limits of a timed race, the chequered
// flag and the riders' finished flags.
void race_update(void);
const RunningEntry *running_order(int *count);
int  running_order_step(int slot, int direction);   // the rider before (-1) or after (+1), clamped
bool rider_finished(int slot);
int32_t chequered_tic(void);        // when the leader finished the race; -1 not yet
int  leader_lap(void);              // the lap the leader is on; 0 with no order
FlaggerBoard flagger_board(void);

// Warp mode: the leader has completed the race's laps.
bool race_leader_finished(void);
// Moves each slot's request i to (i + by) mod count.
void lineup_rotate(int *requests, int count, int by);
// Starts the race again with the same settings and the line-up rotated by 'slots'; a time trial
// simply starts again. Nothing without a track.
void race_restart_rotated(int slots);

// Test hook: everything back to its state before any race.
void race_reset_for_tests(void);
