// Timing gates: where the riders line up, the checkpoints, and the order in which the
// checkpoints are passed on the first and on every later lap. Every bike keeps the race tic
// at which it passed each position of that order; laps, lap times, the running order and the
// cutting penalty all come from those pass times.
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

struct DataFile;

enum {
    k_max_start_gates = 160,
    k_max_checkpoints = 256,
    k_max_lap_entries = 256,
    k_non_counting = 100000,        // added to a lap-order entry that is no line segment boundary
};

#define k_gate_default_model "@startgate.jm"
#define k_gate_default_texture "@startgate.ppm"
#define k_gate_default_shape "@startgate.shp"

struct StartGate {
    float x, y, z;
    float heading;                  // radians, [-pi, pi]
    char *model, *texture, *shape;  // owned; the piece's names (defaults when the file gave none)
    int piece;                      // scenery object of the gate piece, -1 none
};

struct Checkpoint {
    Vec3 centre;
    Vec3 direction;                 // only x and z are used: the forward side
    float radius;
};

struct Timing {
    StartGate gates[k_max_start_gates];
    int gate_count;
    Checkpoint checkpoints[k_max_checkpoints];
    int checkpoint_count;
    int first[k_max_lap_entries];   // F: checkpoint index, + k_non_counting when not counting
    int first_count;                // D
    int normal[k_max_lap_entries];  // L
    int normal_count;               // C
    int first_counting;             // E
    int normal_counting;            // K
    bool valid;                     // laps can be counted
};

// Empties the record (frees the gate names): no gates, no checkpoints, D = C = 0.
void timing_clear(Timing *t);
// Reads a "timing_gates" stream into a cleared record. Returns t->valid. A malformed section
// ends that section; gates read so far are kept either way. Verbose runs log the counts.
bool timing_parse(Timing *t, DataFile *f, int verbosity);
// Writes the record in the file's format. False when a write failed.
bool timing_write(const Timing *t, DataFile *f);
// Writes "@<folder>/timing_gates"; when it cannot be opened the console shows
// "Can't open 'timing_gates'" and nothing is written. False on any failure.
bool timing_save(const Timing *t, const char *folder);
// Stores a gate position with the heading wrapped into [-pi, pi]; names null take the
// defaults. False when the table is full.
bool timing_add_gate(Timing *t, float x, float y, float z, float heading, const char *model, const char *texture,
                     const char *shape);
float wrap_heading(float h);

// The lap-order entry of position k (F then L repeating); -1 outside or without timing.
int  position_entry(const Timing *t, int k);
// The checkpoint of position k, without the non-counting mark; -1 outside or without timing.
int  position_checkpoint(const Timing *t, int k);
// True for positions D - 1 + n C (the end of a lap); false without timing.
bool position_ends_lap(const Timing *t, int k);
// The position that ends lap n (n >= 1).
int  lap_end_position(const Timing *t, int lap);
// Completed laps of a bike that has passed 'positions' positions.
int  laps_completed(const Timing *t, int positions);
// Inside the checkpoint's circle (horizontally) and on its forward side.
bool checkpoint_inside(const Checkpoint *c, float x, float z);

// A bike's progress: the next position to pass and the pass tic of every position so far.
struct GatePasses {
    int next;                       // p: the next position to pass
    int count;                      // positions in the list
    int room;
    int32_t *tics;                  // -1: not passed
};

int  gate_pass_time(const GatePasses *p, int k);        // -1 outside the list or not passed
void set_gate_pass(GatePasses *p, int k, int32_t tic);  // grows with -1 up to k; k < 0 ignored
void truncate_passes(GatePasses *p, int n);             // keeps the first n entries
void passes_free(GatePasses *p);                        // back to empty, next = 0
// One tic of gate passing for a bike whose front wheel is at (x, z). Returns the position
// passed (its tic is stored and next moves past it), or -1 when none was passed.
int  gate_passing_step(const Timing *t, GatePasses *p, float x, float z, int32_t race_tic);

// Time of lap n (1 = from the gate drop to the end of lap 1) in tics; -1 when not known.
int  lap_time_tics(const Timing *t, const GatePasses *p, int lap, int32_t gate_drop_tic);
// Pass(to) - pass(from); -1 when either is missing.
int  split_time(const GatePasses *p, int from, int to);
// The cutting penalty in tics of a bike against the other riders of the running order.
double cutting_penalty(const Timing *t, const GatePasses *bike, const GatePasses *const *others, int other_count);

// The running order: more positions first, then the earlier last pass, then the lower slot.
struct RunningEntry {
    int slot;
    int positions;                  // positions passed (length of the pass list)
    int32_t last_tic;               // tic of the last pass, -1 none
};
// Fills 'out' from the pass lists of the occupied slots (passes[i] null: no bike) and sorts
// it. Returns the number of entries.
int  running_order_build(const GatePasses *const *passes, int slots, RunningEntry *out);
void running_order_sort(RunningEntry *entries, int n);
