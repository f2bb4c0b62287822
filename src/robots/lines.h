// Riding lines: short recorded paths, one per section of the lap between two counting
// checkpoints, with the speed and lean that were ridden. Humans' laps fill the store; robots'
// runs on a line keep its successes, failures and times; faster lines evict slow or unreliable
// ones. The store belongs to the loaded track and one skill level, and lives in a text file
// ("lines_novice", "lines_amateur", "lines_expert") in the track folder.
#pragma once
#include <stdint.h>

struct DataFile;

enum {
    k_line_entries = 45,            // per section slot
    k_line_modes = 3,               // designated lines: one per pick mode 0..2
    k_line_no_time = 1000000,       // tics: an empty entry's times, and "no time" wherever a denominator is 0
    k_line_max_points = 65536,      // an entry claiming more points is read as empty
    k_line_max_stat = 65535,        // trials and failures after a file is read
    k_line_max_sum = 100000000,     // tics: trial sums after a file is read
    k_line_empty_expected = 1250000,
};

static const float k_line_lone_range_sq = 4;    // ft²: another line starting closer makes an entry not lone

// Frame position, speed (negative while neither wheel touched the ground) and lean.
struct LinePoint {
    float x, y, z;
    float speed;                    // ft/s
    float lean;                     // rad, as the rider's lean angle
};

struct LineEntry {
    LinePoint *points;              // owned
    int count;                      // 0: empty
    int recorded_time;              // tics: the section's own span of the ride that made the line
    int best_time;                  // tics: the section and the next one
    int trials;                     // robot runs judged successful
    int best_trial[2];              // tics: smallest short and long spans of those runs
    int trial_sum[2];               // tics: sums of their short and long spans
    int failures;
    int last_picked;                // race tic a robot last chose it or a line ending near it
    int identity;                   // 0: none
};

// ---- the store

// Makes an empty store of first + normal section slots; the identity counter starts again.
// False (no store) unless both counts exceed 2.
bool lines_store_create(int first_counting, int normal_counting);
void lines_store_free(void);        // no store afterwards
bool lines_store_exists(void);
int  lines_store_slots(void);       // E + K; 0 without a store
int  lines_store_first(void);       // E
int  lines_store_normal(void);      // K
// The store slot of section s (s >= 0): s below E its own, later ones shared round the lap.
// -1 without a store or for s < 0.
int  section_slot(int section);
LineEntry *line_entry(int slot, int entry);     // null outside the store
// The entry of that identity, searching the slot first (slot -1: every slot); null when none.
LineEntry *line_by_identity(int identity, int slot);
// Changes whenever an entry of the slot gets or loses its points (link tables follow it).
int  line_slot_version(int slot);
int  designated_line(int mode, int slot);       // identity; 0 none (or outside)
void set_designated_line(int mode, int slot, int identity);

// Frees the entry's points and makes it empty; its last-picked tic stays.
void line_clear(LineEntry *e);
// Gives an empty (or cleared) entry a copy of the points and a new identity, with no trials.
// False when the copy could not be allocated (the entry stays empty).
bool line_fill(LineEntry *e, const LinePoint *points, int count, int short_span, int long_span);

// ---- the file

// Reads the per-slot part of a lines file (after its "ct03 %d" count, which the caller has
// matched with lines_store_slots()). A truncated or malformed file leaves the rest empty.
void lines_read_store(DataFile *f);
// Writes the whole store, "ct03" count first. False when a write failed.
bool lines_write_store(DataFile *f);
// Reads "@<folder>/<lines file of the skill>" into a fresh store for the track's sections,
// then prunes it and designates the best laps' lines. An unreadable file or another track's count leaves the store empty.
void load_lines(const char *folder, int first_counting, int normal_counting, int skill);
// Writes the store to the home directory's copy of that file; false when nothing was written.
bool save_lines(const char *folder, int skill);
const char *lines_file_name(int skill);         // "lines_novice", ...; skills outside 0..2: novice

// Brings an entry's statistics into range (halving trials, failures and sums together), after
// clamping them to at least 0.
void line_reduce_statistics(LineEntry *e);

// ---- judging lines

// The expected time (tics) of an entry in the slot: trials' average with failures costed, or
// the recorded ride's with a margin; a lone line (no other starts within 2 ft) 3/4 of that.
int  line_expected_time(int slot, int entry, bool lone_factor);
// The entry of a full slot that a new line may replace; -1 when none qualifies.
int  choose_eviction(int slot);
// Whether segments ab and cd cross: each one's ends on different sides of the other's line
// (a cross product below 0 one side, 0 or above the other). Only x and z count.
bool segments_cross(const LinePoint *a, const LinePoint *b, const LinePoint *c, const LinePoint *d);
bool polylines_cross(const LineEntry *a, const LineEntry *b);
// Thins every first-lap slot to 43 entries: crossing lines and then evicted ones go first.
void prune_lines(void);
