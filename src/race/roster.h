// The robot riders who can be put on the gate: 80 entries with their numbers, bikes, gear and
// riding personalities, and the shuffled order in which a session hands them out.
#pragma once
#include <stdint.h>

enum { ROSTER_SIZE = 80 };

struct RosterEntry {
    const char *number;             // rider number text, at most 3 characters
    const char *bike;               // catalogue model name
    const char *rider_texture, *bike_texture, *wheel_texture, *head_texture;
    const char *personality;
};

const RosterEntry *roster_entry(int index);     // null outside 0..79

// The session's hand-out order and the next place in it.
struct RosterDraw {
    int order[ROSTER_SIZE];
    int cursor;                     // the next place in the order; past 79 it starts again at 0
};

// Identity order, then for i from 79 down to 1 swap i with j = (mt_next() / 65536) mod i.
// The caller seeds the generator.
void roster_shuffle(RosterDraw *d);
// The roster index for a robot request: 2 the next entry; 3 / 4 the first remaining entry whose
// bike contains "125" / "250", brought forward; 1000 + n the remaining entry numbered n,
// brought forward. When nothing matches, the next entry in order. More than 80 robots wrap
// round the order.
int  roster_take(RosterDraw *d, int request);
