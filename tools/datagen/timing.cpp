// The "timing_gates" file of a generated track: a 40-wide starting gate across the start
// straight and checkpoints spread evenly round the lap, written through the game's own writer.
#include <math.h>
#include <stdio.h>

#include "common/mem.h"
#include "datagen.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const int k_gates = 40;
static const float k_gate_spacing = 2.1f;      // ft between neighbours on the gate
static const float k_gate_at = 40;             // ft along the lap from its first sample
static const float k_finish_after_gate = 20;    // the finish line lies just past the gate
static const int k_checkpoints = 24;
static const float k_checkpoint_margin = 8;    // ft beyond the track's edge

// The heading that faces a rider along (tx, tz): a bike as built faces -z.
static float facing(float tx, float tz)
{
    return atan2f(-tx, -tz);
}

bool write_track_timing(const char *dir, const Terrain *t, const LapPoint *lap, int n, float step)
{
    Timing *timing = (Timing *)xcalloc(1, sizeof(Timing));
    const LapPoint &g = lap[(int)(k_gate_at / step) % n];
    float h = facing(g.tx, g.tz);
    for (int i = 0; i < k_gates; i++) {
        // across the track: the rider's right is (-tz, tx)
        float across = (i - (k_gates - 1) * 0.5f) * k_gate_spacing;
        float x = g.x - g.tz * across, z = g.z + g.tx * across;
        timing_add_gate(timing, x, terrain_height(t, x, z), z, h, nullptr, nullptr, nullptr);
    }
    int first = (int)((k_gate_at + k_finish_after_gate) / step);
    for (int k = 0; k < k_checkpoints; k++) {
        const LapPoint &p = lap[(first + (int)((long long)k * n / k_checkpoints)) % n];
        Checkpoint *c = &timing->checkpoints[timing->checkpoint_count++];
        c->centre = v3(p.x, terrain_height(t, p.x, p.z), p.z);
        c->direction = v3(p.tx, 0, p.tz);
        c->radius = p.half_width + k_checkpoint_margin;
    }
    // checkpoint 0 is the finish line, so every lap runs 1 .. 23 and ends on 0
    for (int k = 1; k <= k_checkpoints; k++) {
        timing->first[timing->first_count++] = k % k_checkpoints;
        timing->normal[timing->normal_count++] = k % k_checkpoints;
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
