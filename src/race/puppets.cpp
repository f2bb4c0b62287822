#include "race/puppets.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "bike/bike.h"
#include "race/session.h"
#include "race/world.h"
#include "terrain/terrain.h"

static const double k_tic = 1.0 / 128;

struct Puppet {
    bool on;
    bool cut;
    float speed;
    bool started;
    float from_x, from_z;           // the segment the front wheel is on
    int to;                         // lap-order position at the segment's end
    double travelled;               // ft from the start to the segment's start
};

static struct {
    Puppet puppets[RIDER_SLOTS];
} g_puppets;

void puppet_set(int slot, float speed, bool cut)
{
    if (slot < 0 || slot >= RIDER_SLOTS)
        return;
    g_puppets.puppets[slot] = {};
    g_puppets.puppets[slot].on = true;
    g_puppets.puppets[slot].speed = speed > 0 && isfinite(speed) ? speed : 0;
    g_puppets.puppets[slot].cut = cut;
}

void puppets_clear(void)
{
    memset(&g_puppets, 0, sizeof g_puppets);
}

bool is_puppet(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS && g_puppets.puppets[slot].on;
}

int puppets_parse(const char *text, float *speeds, bool *cuts, int max)
{
    int n = 0;
    const char *at = text;
    if (!text || !*text)
        return -1;
    for (;;) {
        char *end = nullptr;
        double v = strtod(at, &end);
        if (end == at || !isfinite(v) || v < 0 || v > 1000 || n >= max)
            return -1;
        bool cut = *end == 'c';
        if (cut)
            end++;
        speeds[n] = (float)v;
        cuts[n] = cut;
        n++;
        if (*end == 0)
            return n;
        if (*end != ',')
            return -1;
        at = end + 1;
    }
}

// The lap-order position after k, skipping the cut entries of every normal lap when cutting.
static int next_position(const Timing *t, const Puppet &p, int k)
{
    int next = k + 1;
    int d = t->first_count, c = t->normal_count;
    if (p.cut && c > k_cut_to_entry && next >= d && (next - d) % c == k_cut_from_entry + 1)
        next += k_cut_to_entry - k_cut_from_entry - 1;
    return next;
}

static void checkpoint_xz(const Timing *t, int position, float *x, float *z)
{
    const Checkpoint *c = &t->checkpoints[position_checkpoint(t, position)];
    *x = c->centre.x;
    *z = c->centre.z;
}

// Stands the bike with its front-wheel centre at (x, z) on the ground, facing along (dx, dz),
// pitched to the ground under both wheels, every body moving at 'speed' along the ground.
static void pose(BikeState *bike, const Terrain *ground, float x, float z, float dx, float dz, float speed)
{
    reset_bike(bike);
    const dReal *f = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
    const dReal *r = dBodyGetPosition(bike->body[BODY_REAR_WHEEL]);
    float base = (float)fabs(f[2] - r[2]);
    float front_r = bike->wheel[0].major_radius + bike->wheel[0].minor_radius;
    float rear_r = bike->wheel[1].major_radius + bike->wheel[1].minor_radius;
    float front_y = terrain_height(ground, x, z) + front_r;
    float rear_y = terrain_height(ground, x - dx * base, z - dz * base) + rear_r;
    float rise = base > 0 ? (front_y - rear_y) / base : 0;
    float heading = atan2f(-dx, -dz);
    // as built the bike faces -z: a turn about +x lifts the front
    turn_bike(bike, 1, 0, 0, atanf(rise));
    turn_bike(bike, 0, 1, 0, heading);
    f = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
    move_bike(bike, (float)(x - f[0]), (float)(front_y - f[1]), (float)(z - f[2]));
    for (dBodyID body : bike->body)
        dBodySetLinearVel(body, speed * dx, speed * rise, speed * dz);
    float lateral[3] = { cosf(heading), 0, -sinf(heading) };
    float along = speed * sqrtf(1 + rise * rise);
    for (int k = 0; k < 2; k++) {
        float spin = -along / (k == 0 ? front_r : rear_r);
        dBodySetAngularVel(bike->wheel[k].wheel, lateral[0] * spin, 0, lateral[2] * spin);
    }
}

bool puppet_drive(int slot)
{
    if (!is_puppet(slot))
        return false;
    Puppet &p = g_puppets.puppets[slot];
    BikeState *bike = rider_slot(slot)->bike;
    const Timing *t = session_timing();
    if (!bike || !bike->built || !t->valid || p.speed <= 0 || race_tic() < gate_drop_tic())
        return true;
    if (!p.started) {
        const dReal *f = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
        p.from_x = (float)f[0];
        p.from_z = (float)f[2];
        p.to = 0;
        p.travelled = 0;
        p.started = true;
    }
    double s = p.speed * (race_tic() - gate_drop_tic()) * k_tic;
    float tx, tz, dx = 0, dz = -1;
    double length = 0;
    // a lap order whose checkpoints all stand in one place goes nowhere
    for (int empty = 0; empty <= t->first_count + t->normal_count; empty = length > 0 ? 0 : empty + 1) {
        checkpoint_xz(t, p.to, &tx, &tz);
        length = hypot(tx - p.from_x, tz - p.from_z);
        if (length > 0) {
            dx = (float)((tx - p.from_x) / length);
            dz = (float)((tz - p.from_z) / length);
        }
        if (p.travelled + length > s)
            break;
        p.travelled += length;
        p.from_x = tx;
        p.from_z = tz;
        p.to = next_position(t, p, p.to);
    }
    double along = s - p.travelled < length ? s - p.travelled : length;
    pose(bike, session_terrain(), (float)(p.from_x + dx * along), (float)(p.from_z + dz * along), dx, dz, p.speed);
    return true;
}
