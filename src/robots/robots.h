// The robot riders' place in the game: robots_install hands the race the calls through which
// a track session loads, learns and writes back its riding lines and runs the robots. Programs
// that race robots (the game, skorva-sim) install them once at start-up.
#pragma once

#include "common/vecmath.h"

struct LineEntry;

void robots_install(void);

// What the autopilot costs: microseconds in all, calls (one per robot and tic), and the most
// spent in one tic by all robots together.
struct AutopilotCost {
    double total_us;
    long calls;
    double worst_tic_us;
};
const AutopilotCost *autopilot_cost(void);
void autopilot_cost_reset(void);

// Queries for turning a bike at a standstill.
// The line of the section with the smallest expected time; null without lines for it.
const LineEntry *section_fastest_line(int section);
// The point a robot steers for; false when it has none (no path).
bool robot_target_point(int slot, Vec3 *out);
// Where a rider stopped at (x, z) in `section` turns to: on the section's fastest line, four
// points past the one nearest (x, z), running on into the next section's fastest line (its
// last point when that is shorter; the nearest point itself when it has no line). From the
// line's last point the next section is tried the same way. False when a section tried has no
// line of 2 points or more, or when two were tried: the checkpoint ahead serves then.
bool line_standstill_target(int section, float x, float z, float *tx, float *tz);
