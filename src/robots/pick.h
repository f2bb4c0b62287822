// How a robot chooses its lines: a personality decides the risk (a mode of judging a line's
// expected time), chains of linked lines over the coming sections give each line a score,
// and the line that scores best, was not just taken by someone else and fits on to the
// robot's path is picked. At load the best closed lap and first lap are designated per mode.
#pragma once

#include "robots/lines.h"

enum {
    k_pick_modes = 4,               // 0..2 by reliability, 3 exploring little-ridden lines
    k_score_sections = 8,
};

static const double k_chain_none = 100000000;  // tics: no chain

struct Personality {
    const char *name;
    int mode_near, mode_far;
    float gap_threshold;            // s
    float reaction_min, reaction_max;   // s
};

// Personalities by index; index 0 is "not a robot", so the table starts at 1.
const Personality *personality(int index);      // null outside the table
int  personality_count(void);
// The index of the named personality; logs "auto pilot personality '%s' not found" and gives
// the first for an unknown name.
int  find_personality(const char *name);

// The expected time of a line under a mode, in tics.
double line_time(const LineEntry *e, int mode);

// The centre of the circle through three points (x, z); nearly in line, a centre far away on
// the first pair's bisector.
void circle_centre(double x1, double z1, double x2, double z2, double x3, double z3, double *cx, double *cz);
// Whether line a runs on into line b.
bool lines_link(const LineEntry *a, const LineEntry *b);
// The slot after a slot: the last shared slot runs on into the first shared one.
int  next_slot(int slot);
// Gives back the link tables (they are remade on their next use).
void link_tables_free(void);

// Chains of linked lines over n sections from section s0 in a mode: cost[a * 45 + k] for
// entry a of s0 and k of s0 + n (k_chain_none without a chain); via (when not null, n - 1
// blocks of 45 x 45) the entry of each section in between that the best chain took.
void chain_costs(int s0, int n, int mode, double *cost, int *via);
// Designates per mode 0..2 the lines of the best closed lap and first lap (entries with 5 or
// more trials). Verbose runs log "First lap:" and "Normal lap:" in seconds.
void designate_lines(int verbosity);
// Scores of every entry of a section's slot in a mode at race tic 'now' (0 for empty ones).
void section_scores(int section, int mode, int now, float scores[k_line_entries]);

// How well a line fits on to a path that ends with these points (count of them; the frame's
// position counts when fewer than 3).
float line_match(const LineEntry *line, const LinePoint *path, int count, float frame_x, float frame_y, float frame_z);
// The entry to ride among a slot's entries: the best of (time since it was last picked, up
// to 3 s) x score + match, the first on ties; -1 when the slot has no line. The winner and
// lines ending within 3 ft of it are marked picked at 'now'.
int  choose_line(int slot, const float scores[k_line_entries], const float match[k_line_entries], int now,
                 int verbosity);
