// The "timing_gates" file of a generated track, written through the game's own writer: a
// 40-place starting gate across the start straight, two checkpoints along the start straight
// that only the first lap passes, and checkpoints spread evenly round the lap from the finish
// line. The lap never crosses the gate.
#include <math.h>
#include <stdio.h>

#include "common/mem.h"
#include "datagen.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const int k_lap_checkpoints = 24;
static const float k_first_checkpoint_after_gate = 60;     // ft along the start straight
static const float k_checkpoint_margin = 8;    // ft beyond the track's edge

// The heading that faces a rider along (tx, tz): a bike as built faces -z.
static float facing(float tx, float tz)
{
    return atan2f(-tx, -tz);
}

static void add_checkpoint(Timing *timing, const Terrain *t, const Centre &p)
{
    Checkpoint *c = &timing->checkpoints[timing->checkpoint_count++];
    c->centre = v3(p.x, terrain_height(t, p.x, p.z), p.z);
    c->direction = v3(p.tx, 0, p.tz);
    c->radius = p.half_width + k_checkpoint_margin;
}

float gate_place_across(int place)
{
    return (place - (k_gate_places - 1) * 0.5f) * k_gate_place_width;
}

bool write_track_timing(const char *dir, const Terrain *t, const TrackLayout *layout)
{
    const Line &lap = layout->lap, &start = layout->start;
    Timing *timing = (Timing *)xcalloc(1, sizeof(Timing));
    int gate = line_sample_at(&start, k_gate_along_start);
    const Centre &g = start.c[gate];
    float h = facing(g.tx, g.tz);
    for (int i = 0; i < k_gate_places; i++) {
        // across the start straight: the rider's right is (-tz, tx)
        float across = gate_place_across(i);
        float x = g.x - g.tz * across, z = g.z + g.tx * across;
        timing_add_gate(timing, x, terrain_height(t, x, z), z, h, nullptr, nullptr, nullptr);
    }
    // Checkpoint 0 is the finish line, so every normal lap runs 1 .. 23 and ends on 0.
    float finish = line_distance(&lap, 0, layout->join) - k_finish_before_join;
    for (int k = 0; k < k_lap_checkpoints; k++)
        add_checkpoint(timing, t, lap.c[line_sample_at(&lap, finish + k * lap.length / k_lap_checkpoints)]);
    // The start straight's two come after them; the first lap passes them, then the lap's
    // checkpoints from the first one past the join round to the finish.
    float first = k_gate_along_start + k_first_checkpoint_after_gate;
    float last = (first + line_distance(&start, 0, layout->start_join)) / 2;
    add_checkpoint(timing, t, start.c[line_sample_at(&start, first)]);
    add_checkpoint(timing, t, start.c[line_sample_at(&start, last)]);
    timing->first[timing->first_count++] = k_lap_checkpoints;
    timing->first[timing->first_count++] = k_lap_checkpoints + 1;
    float joined = k_finish_before_join;
    for (int k = 1; k <= k_lap_checkpoints; k++) {
        if (k * lap.length / k_lap_checkpoints > joined)
            timing->first[timing->first_count++] = k % k_lap_checkpoints;
        timing->normal[timing->normal_count++] = k % k_lap_checkpoints;
    }
    char path[1100];
    snprintf(path, sizeof path, "%s/timing_gates", dir);
    DataFile *f = open_data_file(path, "wb");
    bool ok = f && timing_write(timing, f);
    close_data_file(f);
    timing_clear(timing);
    xfree(timing);
    return ok;
}
