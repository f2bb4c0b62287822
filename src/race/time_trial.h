// The time trial: the local player alone against a ghost of its fastest lap. The player starts
// a little before the end of the first lap; each lap end keeps the lap time, keeps the lap's
// demo as the fast lap when it beat the ghost, and sends the ghost off again with the player.
#pragma once
#include <stdint.h>

#include "race/timing.h"

// The demo calls of a lap's end and of a restart, in their order. The ghost's riders come in
// slots 1 and up as replayed bikes, standing at the start of the lap.
struct TimeTrialDemoCalls {
    void (*finish_recording)(void);
    void (*close_playback)(void);
    bool (*open_ghost)(const char *file);   // "@<track>/fastlap.skdemo"; false: no ghost
    void (*start_recording)(void);          // "@<track>/lastlap.skdemo"
};
// Null: the demo module's own calls.
void time_trial_set_demo_calls(const TimeTrialDemoCalls *calls);

// The lap-order position a restart with attempt counter n stands at: D + C - n, positions
// before D as they are, later ones wrapped into the normal lap. Never below 0.
int  time_trial_restart_position(const Timing *t, int attempt);

// Session load: the laps are cleared (before the bikes), then the counter is set to 2, the
// player placed and the attempt counted.
void time_trial_clear_laps(void);
void time_trial_begin(void);
// Ends the demos, empties slots 1 to 159, stands the player at its restart checkpoint with its
// passes cut back so that the next lap end starts a timed lap, and refreshes the results.
void time_trial_restart(void);
// The player's back-up and throttle channels, each tic the player's bike is in view: backing up
// (when "Backing Up Aborts Attempt" says so) restarts further back; the throttle resets the
// counter to 2.
void time_trial_restart_input(void);
// After the tic: the player's lap ends and the ghost's.
void time_trial_tic(void);

int  time_trial_attempt(void);
int32_t time_trial_last_lap(void);  // tics; 0 none
int32_t time_trial_best_lap(void);

// Test hook: counter, laps and calls back to their start.
void time_trial_reset_for_tests(void);
