// The robot riders' place in the game: robots_install hands the race the calls through which
// a track session loads, learns and writes back its riding lines and runs the robots. Programs
// that race robots (the game, skorva-sim) install them once at start-up.
#pragma once

#include "common/vecmath.h"

struct LineEntry;

void robots_install(void);

// Queries for turning a bike at a standstill.
// The line of the section with the smallest expected time; null without lines for it.
const LineEntry *section_fastest_line(int section);
// The point a robot steers for; false when it has none (no path).
bool robot_target_point(int slot, Vec3 *out);
