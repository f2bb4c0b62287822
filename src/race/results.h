// Results: the running order while the race is on, the final order with the cutting penalties
// once it is over, lap and best-lap times, and "@results.txt" written when a race ends.
#pragma once
#include <stdint.h>

#include "race/timing.h"

// One rider of the final order. Times in tics.
struct FinalEntry {
    int slot;
    int positions;                  // after the whole laps the penalty took off
    int32_t last_tic;               // its real last pass; -1 none
    double time;                    // last pass plus what is left of the penalty
    double penalty;                 // what is left of the penalty, added to the last pass
    int laps_removed;
};

// How the race-over test sees the riders this computer does not drive.
struct ResultsActivityCalls {
    bool (*online)(void);                   // connected to a server
    bool (*own_in_race)(void);              // this client has a race slot
    int  (*replay_newest_tic)(int slot);    // newest tic of the slot's state history; -1 none
    double (*server_update_age)(int slot);  // seconds since the server last updated the rider
    bool (*has_race_slot)(int slot);        // the rider races on the server
};
// Null: the demo and network modules' own calls.
void results_set_activity_calls(const ResultsActivityCalls *calls);

// A new race: the results are open again and the final order is empty.
void results_begin(void);
// Refreshes the running order and the race's limits and finishes; once the race is over, builds
// the final order, writes "@results.txt" when its winner has finished, marks the results final
// and hands the event to the points series. Nothing once final.
void results_refresh(void);
bool results_final(void);
const FinalEntry *final_order(int *count);
// The final order of the riders' current passes, with their penalties; returns the count.
int  final_order_build(FinalEntry *out);

// A lap's time in tics: lap 1 from the gate drop, later laps between lap ends; 0 when the lap
// was not run or any of its passes is missing.
int  lap_tics(const Timing *t, const GatePasses *p, int lap, int32_t gate_drop);
// The fastest timed lap among laps 2 and on (the earlier on equal times); 0 with none, or with
// fewer than 2 completed laps. *tics gets its time (0 with none).
int  best_lap_of(const Timing *t, const GatePasses *p, int32_t gate_drop, int *tics);
// Whole laps of the best lap taken off a rider's positions for its penalty (tics), while it has
// more than D positions and the penalty exceeds the best lap; only with a best lap and at least
// 2 completed laps. Returns the laps taken off; *positions and *penalty keep what is left.
int  penalty_laps(const Timing *t, int *positions, double *penalty, int best_tics);

// By slot, in seconds.
double lap_time(int slot, int lap);
int  best_lap(int slot, double *seconds);   // lap number, 0 none

// Writes the final order's finished riders: false (the old file kept) when it cannot be written.
bool results_write(const char *name);

// The calendar time of "Date=": the clock's, or the one a test set.
long results_calendar(void);
void results_set_calendar_for_tests(bool fixed, long seconds);

// Minutes, seconds and milliseconds of a time in seconds (negative counts as 0).
void time_parts(double seconds, int *minutes, int *secs, int *millis);
