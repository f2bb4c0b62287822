#include "robots/autopilot.h"

#include <assert.h>
#include <math.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/drive.h"
#include "bike/steering.h"
#include "common/mem.h"
#include "common/mt.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/timing.h"
#include "race/world.h"
#include "robots/pick.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static const float k_pi = 3.14159265f;
static const float k_gravity = 32;
static const float k_tic = 1.0f / 128;
static const int k_pick_before_end = 10;       // path points left when the next line is picked
static const float k_first_target_distance = 10;
static const int k_stuck_tics = 3 * 128;
static const float k_off_path = 12;             // ft: knocked off its line, not riding it
static const float k_off_path_speed = 30;       // ft/s ridden back to it
// The bike takes most of a second to roll into a turn: a look-ahead point only half a second on
// leaves it late into every corner and wide of the line.
static const int k_lookahead_extra = 3;
static const float k_cross_track_reach = 60;    // ft: look-ahead points nearer pull back well enough
static const float k_cross_track_span = 30;     // ft over which the correction comes in
static const float k_cross_track_most = 6;      // ft: a settled error, not a bike heading across its line
static const float k_alone_distance = 40;       // ft to the nearest other bike
static const float k_downed_lean = 0.95f;        // rad: past anything a line asks for
// ft/s: leaned past k_downed_lean below this a bike would be turning on a radius under 9 ft,
// so it is lying over, not cornering
static const float k_downed_speed = 20;
static const float k_stood_lean = 0.5f;          // rad: stood up far enough to ride on
static const int k_stand_tics = 3 * 128;        // the longest wait for the foot to stand it up
static const int k_stand_retry_tics = 2 * 128;  // ridden after a wait in vain before the next
static const int k_lost_drag_tics = 19 * 128;
static const float k_spin_slip = 8;             // ft/s: the rear tyre spinning, its grip falling away
static const float k_spin_speed = 10;           // ft/s: faster, a spinning rear is ridden, not stuck
static const float k_walking_speed = 5;         // ft/s: the foot holds the bike upright
static const float k_stall_speed = 1;           // ft/s: not getting anywhere
static const int k_stall_tics = 128;
static const int k_back_up_tics = 3 * 64;
static const int k_walk_free_tics = 4 * 128;
static const float k_progress_distance = 3;     // ft nearer the target: getting somewhere
static const int k_progress_tics = 3 * 128;
static const int k_hooked_tics = 128;           // touching another bike without a break: hooked
static const int k_touch_gap_tics = 16;
static const int k_lost_reset_tics = 40 * 128;
static const float k_max_lean_grip = 1.1780972f;
static const int k_flight_aim = 3;             // points past a take-off aimed at on its approach

static float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

static float uniform(void)
{
    return (float)(mt_next() / 4294967296.0);
}

// ---- the start

StartPlan plan_start(float t5, float drop, float reaction_min, float reaction_max)
{
    StartPlan p = {};
    float on = 2 * uniform();
    while (p.blips < k_max_blips && on < t5) {
        float off = on + 0.25f + 0.5f * uniform();
        p.blip_on[p.blips] = on;
        p.blip_off[p.blips] = off < t5 ? off : t5;
        p.blips++;
        on = off + 2 + 0.5f * uniform();
    }
    p.rev_at = t5 + 0.125f + 0.375f * uniform();
    p.launch = drop + reaction_min + uniform() * (reaction_max - reaction_min);
    return p;
}

void waiting_inputs(RobotInputs *out)
{
    out->throttle = 0;
    out->clutch_engagement = 0;
    out->front_brake = out->rear_brake = 1;
    out->steer = 0;
    out->sit = 1;
}

bool start_inputs(const StartPlan *plan, float t, float t5, float drop, int second_gear, RobotInputs *out)
{
    if (t >= drop + 5 || t >= plan->launch + 2)
        return false;
    if (t >= plan->launch) {
        float k = clampf((t - plan->launch) * 4, 0, 1);
        out->clutch_engagement = k;
        out->throttle = 1;
        out->sit = 1 - k;
        out->front_brake = out->rear_brake = 0;
        out->steer = 0;
        out->auto_shift = k >= 0.75f;
        out->gear = k >= 0.75f ? -1 : second_gear;
        return true;
    }
    waiting_inputs(out);
    out->auto_shift = false;
    out->gear = second_gear;
    if (t < t5) {
        for (int i = 0; i < plan->blips; i++)
            if (t >= plan->blip_on[i] && t < plan->blip_off[i])
                out->throttle = 1;
    } else if (t >= plan->rev_at) {
        out->throttle = 1;
    }
    return true;
}

// ---- speed

void speed_control(float d, float m, const SpeedState *s, RobotInputs *out)
{
    out->front_brake = out->rear_brake = 0;
    if (s->rear_airborne) {
        out->clutch_engagement = 1;
        if (s->pitch_rate < -k_pi / 4 || (s->front_below_rear && s->pitch_rate < 0)) {
            out->throttle = 1;
            out->clutch_engagement = 0.125f;
        } else {
            out->throttle = 0;
            out->clutch_engagement = 0.125f;
            if (s->front_above_rear > 1 && s->pitch_rate > -k_pi / 8) {
                out->clutch_engagement = 0;
                out->rear_brake = 1;
            }
        }
        return;
    }
    if (m < d - 1) {
        out->throttle = 1;
    } else if (m < d) {
        out->throttle = d - m;
    } else {
        out->throttle = 0;
        out->front_brake = out->rear_brake = fminf(m - d, 1);
    }
    out->clutch_engagement = s->gear > 0 ? 1 : clampf((s->rpm - s->down_shift_rpm + 1000) * 0.001f, 0, 1);
}

float spin_guard(float throttle, float memory, float v, float rear_slip, bool rear_on_ground)
{
    if (v < k_spin_speed && rear_on_ground && rear_slip > k_spin_slip)
        return fminf(throttle, memory * 0.5f);
    return throttle;
}

float throttle_rate_limit(float wanted, float memory, int now, int grip_limited_tic)
{
    if (!(wanted > memory))
        return wanted;
    if (now - grip_limited_tic < 16)
        return memory;
    return fminf(wanted, memory + 1.0f / 32);
}

// ---- steering

float natural_steer_term(float natural_steer, float steer_angle, float steer_rate)
{
    float w = clampf(natural_steer - steer_angle, -0.25f, 0.25f);
    if (fabsf(w) < 1.0f / 32)
        w = 0;
    float e = 8 * w - steer_rate;
    if (fabsf(e) < 1.0f / 2400)
        e = 0;
    if (e < -4.0f / 3)
        return -2.0f / 3;
    if (e > 4.0f / 3)
        return 2.0f / 3;
    return e / 2;
}

float steering_output(float target_lean, float lean, float roll_rate, float n, int m, bool before_first_gate,
                      float natural_steer, float steer_angle, float steer_rate, bool front_on_ground,
                      float front_slip)
{
    float q = before_first_gate ? 1 : clampf((20 - m) / 17.0f, 0, 1);
    float k = 4 * q, limit = q * k_pi / (n >= 1 ? n : 1);
    float wanted = k * (target_lean - lean);
    if (wanted * lean < 0)          // towards upright
        limit *= 2;
    wanted = clampf(wanted, -limit, limit);
    float g = natural_steer_term(natural_steer, steer_angle, steer_rate);
    float steer;
    if (!front_on_ground) {
        steer = clampf(g, -1, 1);
    } else {
        float c = clampf((4 - front_slip) * 0.25f, 0, 1);
        steer = clampf(((roll_rate - wanted + clampf(wanted - roll_rate, -0.125f, 0.125f)) * 4 - g) * c + g, -1, 1);
    }
    return isfinite(steer) ? steer : 0;
}

bool lost_ride(float x, float z, float v, float lean, LostRide *out)
{
    float limit;
    out->sit = 0;
    out->target_speed = 15;
    if (v < 10) {
        out->sit = 1;
        limit = 1.0f / 6;
        out->target_speed = fabsf(lean) > 1.0f / 6 ? 5 : 15;
    } else if (v < 20) {
        limit = ((v - 10) * 0.1f * 2 / 3 + 1.0f / 3) * 0.5f;
    } else {
        limit = 0.5f;
    }
    bool ahead = -z > fabsf(x);     // within 45 degrees of the nose
    if (x == 0 && z == 0)
        out->wanted_lean = 0;       // at the frame: straight on
    else if (!ahead)
        out->wanted_lean = x > 0 ? -limit : limit;
    else
        out->wanted_lean = clampf(x * 0.5f / z, -limit, limit);
    if (!isfinite(out->wanted_lean))
        out->wanted_lean = 0;
    return -z >= 4 * fabsf(x);
}

float lost_steer(float x, float z, float v, float wanted_lean, float lean, float roll_rate)
{
    if (v < k_walking_speed) {
        if (x == 0 && z == 0)
            return 0;
        float bearing = atan2f(x, -z);     // to the right is positive; a positive steer turns left
        return isfinite(bearing) ? clampf(-2 * bearing, -1, 1) : 0;
    }
    float u = clampf(4 * (wanted_lean - lean), -4, 4);
    return clampf(2 * (roll_rate - u), -1, 1);
}

float drag_steer(float steer_angle, float steer_rate)
{
    return clampf(-(steer_angle + steer_rate) / 4, -1, 1);
}

void drag_force(float vx, float vz, float dx, float dz, float *fx, float *fz)
{
    *fx = *fz = 0;
    float d = hypotf(dx, dz);
    if (!(d > 1e-3f))
        return;
    // the hold force's rule: full strength once 1.5 ft/s off the walking pace
    float ex = vx - 5 * dx / d, ez = vz - 5 * dz / d, e = hypotf(ex, ez);
    if (!(e * e >= 1.0f / 16))
        return;
    float k = clampf((e - 0.25f) * 0.8f, 0, 1) * 2000 / e;
    *fx = -ex * k;
    *fz = -ez * k;
}

// ---- traffic

// A corridor: the four corners of the rectangle a bike is about to ride through.
struct Corridor {
    float x[4], z[4];
};

static bool moving(const BikeMotion *b)
{
    return b->vx * b->vx + b->vz * b->vz > 1e-4f;
}

static Corridor corridor(const BikeMotion *b)
{
    float speed = hypotf(b->vx, b->vz);
    float ux = speed > 0 ? b->vx / speed : 0, uz = speed > 0 ? b->vz / speed : -1;
    float rx = -uz, rz = ux;        // to the right of the direction of travel
    float back = -4, ahead = speed + 4;
    Corridor c;
    const float along[4] = { back, ahead, ahead, back }, side[4] = { -2, -2, 2, 2 };
    for (int k = 0; k < 4; k++) {
        c.x[k] = b->x + along[k] * ux + side[k] * rx;
        c.z[k] = b->z + along[k] * uz + side[k] * rz;
    }
    return c;
}

// Whether the corridors overlap: no edge direction of either separates them. (Edges of two
// bikes riding the same way are parallel and never cross, so crossing edges alone would never
// see the bike just ahead in the same rut.)
static bool corridors_overlap(const Corridor &p, const Corridor &q)
{
    const Corridor *both[2] = { &p, &q };
    for (const Corridor *c : both)
        for (int e = 0; e < 2; e++) {
            float ax = c->x[e + 1] - c->x[e], az = c->z[e + 1] - c->z[e];
            float lo_p = 1e30f, hi_p = -1e30f, lo_q = 1e30f, hi_q = -1e30f;
            for (int k = 0; k < 4; k++) {
                float sp = p.x[k] * ax + p.z[k] * az, sq = q.x[k] * ax + q.z[k] * az;
                lo_p = sp < lo_p ? sp : lo_p;
                hi_p = sp > hi_p ? sp : hi_p;
                lo_q = sq < lo_q ? sq : lo_q;
                hi_q = sq > hi_q ? sq : hi_q;
            }
            if (hi_p < lo_q || hi_q < lo_p)
                return false;
        }
    return true;
}

bool corridors_meet(const BikeMotion *a, const BikeMotion *b)
{
    return corridors_overlap(corridor(a), corridor(b));
}

float traffic_speed(const BikeMotion *self, float lean, float g, const BikeMotion *others, int count,
                    float race_time, float d, bool *slowed)
{
    *slowed = false;
    float v = hypotf(self->vx, self->vz);
    float ux = v > 0 ? self->vx / v : 0, uz = v > 0 ? self->vz / v : -1;
    const BikeMotion *follow = nullptr;
    float nearest = 0;
    Corridor mine = corridor(self);
    for (int i = 0; i < count; i++) {
        const BikeMotion *o = &others[i];
        if (!moving(o))
            continue;
        float dx = o->x - self->x, dz = o->z - self->z;
        // A corridor lies within its speed + 6 ft of its bike: farther apart, they cannot meet.
        float reach = v + sqrtf(o->vx * o->vx + o->vz * o->vz) + 12;
        if (dx * dx + dz * dz > reach * reach || !corridors_overlap(mine, corridor(o)))
            continue;
        float os = hypotf(o->vx, o->vz);
        if (!(dx * (ux + o->vx / os) + dz * (uz + o->vz / os) > 0))
            continue;
        float dist = hypotf(dx, dz);
        if (!follow || dist < nearest) {
            follow = o;
            nearest = dist;
        }
    }
    if (!follow)
        return d;
    // Its speed across the line from the centre of the robot's turning circle; upright, the
    // centre lies infinitely far to the side and that is its speed along the robot's way.
    float useful;
    float t = tanf(lean);
    float radius = fabsf(t) > 1e-6f ? -v * v / (g * t) : INFINITY;
    if (!isfinite(radius) || fabsf(radius) > 1e6f) {
        useful = follow->vx * ux + follow->vz * uz;
    } else {
        float cx = self->x - uz * radius, cz = self->z + ux * radius;
        float lx = follow->x - cx, lz = follow->z - cz, len = hypotf(lx, lz);
        float px = follow->vx, pz = follow->vz;
        if (len > 1e-6f) {
            float along = (px * lx + pz * lz) / (len * len);
            px -= along * lx;
            pz -= along * lz;
        }
        useful = px * ux + pz * uz > 0 ? hypotf(px, pz) : 0;
    }
    if (useful < 0)
        useful = 0;
    float rt = race_time > 100 ? 100 : race_time;
    float r = clampf((rt - 3) / 2, 0, 1) * clampf((120 - rt) / 100, 0, 1);
    float s = 8 * r + 12;
    if (nearest < s)
        return fminf(d, useful * (1 - r / 4));
    if (d > useful) {
        float closing = (v - useful) / 5;
        float c = v * closing - 2.5f * closing * closing - useful * closing - nearest;
        if (c > -s) {
            *slowed = true;
            return d + clampf((s + c) / 3, 0, 1) * (useful - d);
        }
    }
    return d;
}

// ---- the path

static bool path_room(RobotPath *path, int room)
{
    if (room <= path->room)
        return true;
    int grown = path->room ? path->room : 64;
    while (grown < room)
        grown *= 2;
    path->points = (LinePoint *)xrealloc(path->points, (size_t)grown * sizeof(LinePoint));
    path->room = grown;
    return true;
}

bool path_append_line(RobotPath *path, const LineEntry *line)
{
    if (!line || line->count <= 0)
        return false;
    if (path->target > k_path_behind) {
        int drop = path->target - k_path_behind;
        memmove(path->points, path->points + drop, (size_t)(path->count - drop) * sizeof(LinePoint));
        path->count -= drop;
        path->target -= drop;
    }
    bool was_empty = path->count == 0;
    if (!path_room(path, path->count + line->count + 5))
        return false;
    if (was_empty)
        for (int i = 0; i < 5; i++)
            path->points[path->count++] = line->points[0];
    int junction = path->count;
    memcpy(path->points + junction, line->points, (size_t)line->count * sizeof(LinePoint));
    path->count += line->count;
    if (was_empty)
        return true;
    // The curve from the old path into the line over the last points before the junction.
    int m = junction - 2 < 5 ? junction - 2 : 5;
    if (m < 1 || path->count < junction + 2)
        return true;
    LinePoint *p = path->points;
    int a = junction - m - 1;
    const LinePoint A = p[a], before = p[a - 1 >= 0 ? a - 1 : a], B = p[junction], after = p[junction + 1];
    float span = (float)(m + 1);
    float t0x = (A.x - before.x) * span, t0y = (A.y - before.y) * span, t0z = (A.z - before.z) * span;
    float t1x = (after.x - B.x) * span, t1y = (after.y - B.y) * span, t1z = (after.z - B.z) * span;
    for (int i = a + 1; i < junction; i++) {
        float u = (i - a) / span, u2 = u * u, u3 = u2 * u;
        float h00 = 2 * u3 - 3 * u2 + 1, h10 = u3 - 2 * u2 + u, h01 = -2 * u3 + 3 * u2, h11 = u3 - u2;
        LinePoint &q = p[i];
        q.x = h00 * A.x + h10 * t0x + h01 * B.x + h11 * t1x;
        q.y = h00 * A.y + h10 * t0y + h01 * B.y + h11 * t1y;
        q.z = h00 * A.z + h10 * t0z + h01 * B.z + h11 * t1z;
        // Magnitudes: an airborne end (negative speed) must not pull the speed through 0.
        float speed = fabsf(A.speed) + (fabsf(B.speed) - fabsf(A.speed)) * u;
        if (speed < fabsf(q.speed))
            q.speed = q.speed < 0 ? -speed : speed;
        q.lean = A.lean + (B.lean - A.lean) * u;
    }
    return true;
}

bool target_reached(const RobotPath *path, float x, float z, float heading_x, float heading_z, float reach)
{
    if (path->count <= 0 || path->target < 0 || path->target >= path->count)
        return false;
    const LinePoint &t = path->points[path->target];
    float dx = t.x - x, dz = t.z - z, d = hypotf(dx, dz);
    if (!(d < reach))
        return false;
    if (d > 4 && path->target > 0) {
        const LinePoint &prev = path->points[path->target - 1];
        float sx = t.x - prev.x, sz = t.z - prev.z;
        if (hypotf(sx, sz) >= 1 && sx * heading_x + sz * heading_z < 0)
            return false;
    }
    return true;
}

float path_distance(const RobotPath *path, float x, float z)
{
    float best = INFINITY;
    if (path->count <= 0)
        return best;
    int last = path->count - 1;
    int from = path->target - 10 < 0 ? 0 : path->target - 10;
    int to = path->target + 2 < last ? path->target + 2 : last;
    for (int k = from; k <= to; k++) {
        const LinePoint &a = path->points[k], &b = path->points[k < last ? k + 1 : k];
        float sx = b.x - a.x, sz = b.z - a.z, len2 = sx * sx + sz * sz;
        float u = len2 > 0 ? clampf(((x - a.x) * sx + (z - a.z) * sz) / len2, 0, 1) : 0;
        best = fminf(best, hypotf(a.x + u * sx - x, a.z + u * sz - z));
    }
    return best;
}

// Once down a robot waits until it stands well up: riding off at the edge of lying over only
// tips it over again a moment later, and lost time piles up fall by fall. A bike the foot cannot
// stand up (pinned against another, or on a slope) is ridden for a while before it waits again:
// waiting at once would keep it lying there until the drag.
void downed_wait(DownedWait *w, float lean, float v, int now, bool dragging)
{
    if (w->since < 0 && fabsf(lean) > k_downed_lean && v < k_downed_speed && now - w->gave_up > k_stand_retry_tics)
        w->since = now;
    if (w->since >= 0 && (fabsf(lean) < k_stood_lean || now - w->since > k_stand_tics || dragging)) {
        if (fabsf(lean) >= k_stood_lean && !dragging)
            w->gave_up = now;
        w->since = -1;
    }
}

Wedged backing_up(BackingUp *b, float v, float throttle, int now)
{
    if (now < b->walk_until)
        return WEDGED_WALK;
    if (now < b->until)
        return WEDGED_BACK_UP;
    if (!(v < k_stall_speed) || !(throttle > 0.5f)) {
        b->stalled_since = -1;
        return WEDGED_NO;
    }
    if (b->stalled_since < 0) {
        b->stalled_since = now;
        return WEDGED_NO;
    }
    if (now - b->stalled_since < k_stall_tics)
        return WEDGED_NO;
    b->stalled_since = -1;
    if (b->tries++ > 0) {
        b->tries = 0;
        b->walk_until = now + k_walk_free_tics;
        return WEDGED_WALK;
    }
    b->until = now + k_back_up_tics;
    return WEDGED_BACK_UP;
}

void lost_progress(BackingUp *b, float distance, int now)
{
    if (b->closer_tic < 0 || distance < b->closest - k_progress_distance) {
        b->closer_tic = now;
        b->closest = distance;
    } else if (now >= b->walk_until && now - b->closer_tic > k_progress_tics) {
        b->walk_until = now + k_walk_free_tics;
        b->closer_tic = now;
        b->closest = distance;
    }
}

bool hooked_walk(BackingUp *b, bool touching, int now)
{
    if (!touching)
        return false;
    if (b->touch_since < 0 || now - b->touch_last > k_touch_gap_tics)
        b->touch_since = now;
    b->touch_last = now;
    if (now >= b->walk_until && now - b->touch_since >= k_hooked_tics) {
        b->walk_until = now + k_walk_free_tics;
        b->touch_since = -1;
        return true;
    }
    return false;
}

// ---- per robot

struct Robot {
    int personality;                // 0: not a robot
    StartPlan start;
    bool planned;
    int next_section;
    int advance_tic;
    int lost;
    float throttle;
    int grip_tic;
    bool launched;
    DownedWait downed;
    BackingUp backing;
};

static struct {
    Robot robot[RIDER_SLOTS];
} g_auto;

// A robot with nothing behind it: no grip-limited corner, no wait, no back-up.
static void robot_fresh(Robot &r)
{
    r = {};
    r.grip_tic = -100000;
    r.downed = { -1, -100000 };
    r.backing = { -1, -1, 0, -1, -1, 0, -1, -1 };
}

void robots_clear(void)
{
    for (int i = 0; i < RIDER_SLOTS; i++) {
        int keep = g_auto.robot[i].personality;
        robot_fresh(g_auto.robot[i]);
        g_auto.robot[i].personality = keep;
    }
}

void set_personality(int slot, const char *name)
{
    if (slot < 0 || slot >= RIDER_SLOTS)
        return;
    Robot &r = g_auto.robot[slot];
    robot_fresh(r);
    r.personality = name ? find_personality(name) : 0;
}

// Lost so long without a target advance that the robot walks its bike to the path, or walking
// it free of a wedge.
static bool dragging(const Robot &r, int now)
{
    return r.lost > 0 && (now - r.advance_tic > k_lost_drag_tics || now < r.backing.walk_until);
}

bool robot_drags(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS && g_auto.robot[slot].personality &&
           dragging(g_auto.robot[slot], race_tic());
}

int robot_lost_counter(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS ? g_auto.robot[slot].lost : 0;
}

int robot_personality(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS ? g_auto.robot[slot].personality : 0;
}

// The mode a robot picks by: far ahead of the second rider it takes the far mode.
static int pick_mode(int slot, const Personality *p)
{
    int n;
    const RunningEntry *order = running_order(&n);
    if (n > 1 && order[0].slot == slot && order[1].positions > 0) {
        int position = order[1].positions - 1;
        int mine = gate_pass_time(session_passes(slot), position);
        int theirs = gate_pass_time(session_passes(order[1].slot), position);
        if (mine > 0 && theirs > 0 && theirs - mine > p->gap_threshold * 128)
            return p->mode_far;
    }
    return p->mode_near;
}

static void frame_heading(const dReal *r, float *hx, float *hz)
{
    float fx = (float)-r[2], fz = (float)-r[10], len = hypotf(fx, fz);
    *hx = len > 1e-9f ? fx / len : 0;
    *hz = len > 1e-9f ? fz / len : -1;
}

static void frame_values(const BikeState *bike, float *hx, float *hz, float *lean)
{
    const dReal *r = dBodyGetRotation(bike->body[BODY_FRAME]);
    frame_heading(r, hx, hz);
    float s = clampf(*hx * (float)r[9] - *hz * (float)r[1], -1, 1);
    *lean = acosf(s) - k_pi / 2;
}

// A bike's place and motion for the traffic rules. Below walking pace the velocity of a bike
// stopped in a queue, or pressed against another, jitters in every direction, and a bike beside
// or behind it counts as ahead of it: two stopped robots then wait for each other until both
// are stuck. Slow, a bike travels the way it points.
static BikeMotion pointed_motion(float x, float z, float vx, float vz, float hx, float hz)
{
    float speed = hypotf(vx, vz);
    if (speed < k_walking_speed)
        return { x, z, hx * speed, hz * speed };
    return { x, z, vx, vz };
}

BikeMotion traffic_motion(const BikeState *bike)
{
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    const dReal *v = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    float vx = (float)v[0], vz = (float)v[2], hx = 0, hz = 0;
    if (hypotf(vx, vz) < k_walking_speed)       // the same test as pointed_motion's
        frame_heading(dBodyGetRotation(bike->body[BODY_FRAME]), &hx, &hz);
    return pointed_motion((float)p[0], (float)p[2], vx, vz, hx, hz);
}

// Picks the next section's line and appends it; false when none could be had this tic.
static bool pick_next(int slot, Robot &r, RobotPath *path, const BikeState *bike)
{
    int section = r.next_section, store_slot = section_slot(section);
    if (store_slot < 0 || rider_finished(slot))
        return false;
    const Personality *p = personality(r.personality);
    int mode = p ? pick_mode(slot, p) : 0;
    float scores[k_line_entries], match[k_line_entries];
    section_scores(section, mode, race_tic(), scores);
    const dReal *f = dBodyGetPosition(bike->body[BODY_FRAME]);
    int tail = path->count < 3 ? path->count : 3;
    for (int i = 0; i < k_line_entries; i++)
        match[i] = line_match(line_entry(store_slot, i), path->count >= 3 ? path->points + path->count - 3 : nullptr,
                              tail, (float)f[0], (float)f[1], (float)f[2]);
    int chosen = choose_line(store_slot, scores, match, race_tic(), session_verbosity());
    const LineEntry *line = line_entry(store_slot, chosen);
    if (!line || line->count <= 0)
        return false;
    bool first = path->count == 0;
    lines_note_pick(slot, section, line->identity);
    r.next_section++;
    path_append_line(path, line);
    if (first) {
        path->target = 0;
        const LinePoint &s = path->points[0];
        while (path->target + 1 < path->count &&
               hypotf(path->points[path->target].x - s.x, path->points[path->target].z - s.z) <= k_first_target_distance)
            path->target++;
        r.advance_tic = race_tic();
    }
    return true;
}

static void apply(BikeState *bike, const RobotInputs &in)
{
    assert(isfinite(in.throttle) && isfinite(in.steer) && isfinite(in.front_brake) && isfinite(in.rear_brake));
    BikeInputs &b = bike->inputs;
    b.throttle = isfinite(in.throttle) ? clampf(in.throttle, 0, 1) : 0;
    b.front_brake = isfinite(in.front_brake) ? clampf(in.front_brake, 0, 1) : 0;
    b.rear_brake = isfinite(in.rear_brake) ? clampf(in.rear_brake, 0, 1) : 0;
    b.clutch = isfinite(in.clutch_engagement) ? 1 - clampf(in.clutch_engagement, 0, 1) : 1;
    b.steer = isfinite(in.steer) ? clampf(in.steer, -1, 1) : 0;
    b.sit = isfinite(in.sit) ? clampf(in.sit, 0, 1) : 0;
    b.back_up = isfinite(in.back_up) ? clampf(in.back_up, 0, 1) : 0;
    if (in.auto_shift)
        bike->flags |= BIKE_FLAG_AUTO_SHIFT;
    else
        bike->flags &= (uint8_t)~BIKE_FLAG_AUTO_SHIFT;
    if (in.gear >= 0)
        bike->engine.gear = in.gear;
}

// The most a robot leans on the ground at (x, z).
static float grip_lean(const Terrain *ground, float x, float z)
{
    const TileType *tile = tile_type(ground, tile_at(ground, x, z));
    return fminf(atanf(tile ? tile->friction_value[0] : 1), k_max_lean_grip);
}

// The look-ahead point's turn: the target lean and the radius, limited by the ground's grip.
static float following_lean(const RobotPath *path, int at, float fraction, int ahead_points, float fx, float fz,
                            float hx, float hz, float v, float g, bool alone, float *radius)
{
    float idx = at + fraction + ahead_points;
    int i = (int)idx;
    if (i >= path->count - 1) {
        i = path->count - 2;
        idx = (float)path->count - 1;
    }
    if (i < 0) {
        *radius = INFINITY;
        return 0;
    }
    float u = idx - i;
    const LinePoint &a = path->points[i], &b = path->points[i + 1];
    float px = a.x + (b.x - a.x) * u - fx, pz = a.z + (b.z - a.z) * u - fz;
    // the bike's horizontal frame: x to its right, (-hz, hx), and z along its heading
    float x = -hz * px + hx * pz, z = hx * px + hz * pz;
    // A far look-ahead point pulls back to the line only weakly: at speed, through a long
    // sweeper, the bike settles several feet wide of it. Away from traffic the point moves
    // across by the line's offset at the frame, so the error closes; only by a few feet, since
    // a bike thrown far off its line and moved across by all of it overshoots, weaving wider
    // and wider at speed until it leaves the track. With bikes about, or in the first lap's
    // pack, a robot pushed off its line rejoins it gently instead of cutting across the others.
    if (alone && at >= 0 && at + 1 < path->count) {
        const LinePoint &c = path->points[at], &d = path->points[at + 1];
        float qx = c.x + (d.x - c.x) * fraction - fx, qz = c.z + (d.z - c.z) * fraction - fz;
        float reach = hypotf(x, z);
        float offset = clampf(-hz * qx + hx * qz, -k_cross_track_most, k_cross_track_most);
        x += clampf((reach - k_cross_track_reach) / k_cross_track_span, 0, 1) * offset;
    }
    float r;
    if (fabsf(x) < 1e-6f && fabsf(z) < 1e-6f)
        r = INFINITY;           // the point at the frame: straight on
    else if (!(z > 0))
        r = x >= 0 ? 10 : -10;
    else if (fabsf(x) < 1e-6f)
        r = INFINITY;           // straight ahead
    else
        r = (x * x + z * z) / (2 * x);
    *radius = r;
    if (!isfinite(r))
        return 0;
    return atan2f(-v * v / r, g);
}

// Before a take-off the bike must leave the lip heading where the line flies: nothing steers it
// in the air. A look-ahead point past the lip lies on the flight, straight on in plan, so
// aiming there lines the bike up with the flight instead of cutting across it from a corner.
static int takeoff_lookahead(const RobotPath *path, int at, int ahead)
{
    for (int k = at + 1; k < path->count && k <= at + ahead; k++) {
        if (path->points[k].speed < 0 && path->points[k - 1].speed >= 0) {
            return k + k_flight_aim - at;
        }
    }
    return ahead;
}

void autopilot(int slot)
{
    RiderSlot *s = rider_slot(slot);
    if (!s || !s->bike || !s->bike->built || slot < 0 || slot >= RIDER_SLOTS)
        return;
    BikeState *bike = s->bike;
    Robot &r = g_auto.robot[slot];
    RobotPath *path = robot_path(slot);
    int now = race_tic();
    const Personality *persona = personality(r.personality ? r.personality : 1);
    bike->flags |= BIKE_FLAG_WHEELIE_THROTTLE | BIKE_FLAG_WHEELIE_BRAKE | BIKE_FLAG_FRONT_ANTILOCK |
                   BIKE_FLAG_REAR_ANTILOCK | BIKE_FLAG_AUTO_SHIFT;
    if (!r.planned) {
        r.start = plan_start(5, gate_drop_tic() * k_tic, persona->reaction_min, persona->reaction_max);
        r.planned = true;
    }
    const dReal *pos = dBodyGetPosition(bike->body[BODY_FRAME]);
    const dReal *vel = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    float fx = (float)pos[0], fz = (float)pos[2];
    float hx, hz, lean;
    frame_values(bike, &hx, &hz, &lean);
    float v = (float)sqrt(vel[0] * vel[0] + vel[1] * vel[1] + vel[2] * vel[2]);

    // Target advance, and the next line when the path runs short.
    // One point a tic: a lost robot's counter then comes down one advance at a time, and the hold
    // below keeps it lost while the next target is still off its nose.
    if (path->count > 0 && target_reached(path, fx, fz, hx, hz, r.lost == 3 ? 30.0f : 60.0f)) {
        r.advance_tic = now;
        r.backing.tries = 0;
        r.backing.closer_tic = -1;
        if (r.lost > 0)
            r.lost--;
        if (++path->target >= path->count) {
            path->count = 0;
            path->target = 0;
        }
    }
    if (path->count == 0 || path->target >= path->count - k_pick_before_end)
        pick_next(slot, r, path, bike);

    RobotInputs in = {};
    in.gear = -1;
    in.auto_shift = true;
    int second = bike_gear_ratio(bike, 1) > 0 ? 1 : 0;
    float t = now * k_tic;
    if (path->count == 0) {
        waiting_inputs(&in);
        apply(bike, in);
        return;
    }
    if (start_inputs(&r.start, t, 5, gate_drop_tic() * k_tic, second, &in)) {
        r.advance_tic = now;
        r.throttle = in.throttle;
        apply(bike, in);
        return;
    }

    if (r.lost == 0 && now - r.advance_tic > k_stuck_tics)
        r.lost = 3;
    // Hooked into another bike, a wheel caught in its frame or the bike lying across it, a lost
    // robot is carried off by it or pins it down, and no riding frees them. Two followers hooked
    // side by side hold each other still at full throttle.
    bool hooked = bike->collide_stamp == now && (r.lost > 0 || v < k_walking_speed);
    if (hooked_walk(&r.backing, hooked, now))
        r.lost = 3;
    // A bike lying over: throttle only spins it round on its side, at a crash's pace and far off
    // the track. Stop and let the rider's foot stand it up before riding on. Once the drag is due
    // it goes first: a bike pinned on its side under another never stands up by itself.
    downed_wait(&r.downed, lean, v, now, dragging(r, now));
    if (r.downed.since >= 0) {
        waiting_inputs(&in);
        in.gear = -1;
        in.auto_shift = true;
        r.throttle = 0;
        apply(bike, in);
        return;
    }
    const dReal *av = dBodyGetAngularVel(bike->body[BODY_FRAME]);
    const dReal *rot = dBodyGetRotation(bike->body[BODY_FRAME]);
    // roll rate: about the frame's own z axis
    float roll_rate = (float)(av[0] * rot[2] + av[1] * rot[6] + av[2] * rot[10]);
    dJointID steering = bike->joint[JOINT_STEERING];
    float steer_angle = steering ? (float)dJointGetHingeAngle(steering) : 0;
    float steer_rate = steering ? (float)dJointGetHingeAngleRate(steering) : 0;
    float target_speed;
    float target_lean;
    in.sit = 0;
    if (r.lost > 0) {
        if (now - r.advance_tic > k_lost_reset_tics) {
            r.advance_tic = now;
            r.lost = 3;
            path->target = path->count > 0 ? (now % path->count + path->count) % path->count : 0;
        }
        const LinePoint &tp = path->points[path->target];
        float px = tp.x - fx, pz = tp.z - fz;
        // frame coordinates: x to the right, z along the frame's own z (ahead is negative)
        float x = -hz * px + hx * pz;
        float z = -(hx * px + hz * pz);
        lost_progress(&r.backing, hypotf(px, pz), now);
        if (dragging(r, now)) {
            RobotInputs drag = {};
            drag.gear = -1;
            drag.auto_shift = true;
            drag.steer = drag_steer(steer_angle, steer_rate);
            drag.sit = 1;
            apply(bike, drag);
            // Hauled towards the target: the front wheel at walking pace, the frame held up.
            const dReal *fv = dBodyGetLinearVel(bike->body[BODY_FRONT_WHEEL]);
            float pull_x, pull_z;
            drag_force((float)fv[0], (float)fv[2], px, pz, &pull_x, &pull_z);
            dReal mass = 0;
            for (dBodyID body : bike->body) {
                dMass m;
                dBodyGetMass(body, &m);
                mass += m.mass;
            }
            dBodyAddForce(bike->body[BODY_FRONT_WHEEL], pull_x, 0, pull_z);
            dBodyAddForce(bike->body[BODY_FRAME], 0, mass * 16, 0);
            return;
        }
        LostRide ride;
        bool held = !lost_ride(x, z, v, lean, &ride);
        for (int k = path->target; k + 1 < path->count && k < path->target + 8; k++)
            held |= path->points[k].speed < 0 && path->points[k + 1].speed < 0;
        if (held)
            r.lost = 3;
        in.steer = lost_steer(x, z, v, ride.wanted_lean, lean, roll_rate);
        in.sit = ride.sit;
        target_speed = ride.target_speed;
    } else {
        r.backing.closer_tic = -1;
        float fraction;
        int at = path_position(path, fx, fz, hx, hz, &fraction);
        if (at < 0)
            at = 0;
        const LinePoint &a = path->points[at], &b = path->points[at + 1 < path->count ? at + 1 : at];
        target_speed = fabsf(a.speed) + (fabsf(b.speed) - fabsf(a.speed)) * fraction;
        // points ahead within the cone
        int m = 0;
        for (int k = at + 1; k < path->count && k <= at + 7; k++) {
            float px = path->points[k].x - fx, pz = path->points[k].z - fz;
            float along = hx * px + hz * pz, side = fabsf(-hz * px + hx * pz);
            m += along > 0 && side <= along / 8;
        }
        // the load factor from the wheels' vertical push in the last step
        dReal mass = 0;
        for (dBodyID body : bike->body) {
            dMass mm;
            dBodyGetMass(body, &mm);
            mass += mm.mass;
        }
        float push = (float)(bike->wheel[0].feedback.f1[1] + bike->wheel[1].feedback.f1[1]);
        float n = mass > 0 ? fmaxf(1, push / (k_gravity * (float)mass) - 1) : 1;
        if (!isfinite(n))
            n = 1;
        float g = k_gravity * n;
        // other bikes on the way
        BikeMotion self = pointed_motion(fx, fz, (float)vel[0], (float)vel[2], hx, hz), others[RIDER_SLOTS];
        int count = 0;
        // the first lap's pack is left alone: see following_lean
        bool alone = laps_completed(session_timing(), session_passes(slot)->count) > 0;
        for (int k = 0; k < RIDER_SLOTS; k++) {
            const RiderSlot *o = rider_slot(k);
            if (k == slot || !o->bike || !o->bike->built)
                continue;
            const dReal *op = dBodyGetPosition(o->bike->body[BODY_FRAME]);
            float dx = (float)op[0] - fx, dz = (float)op[2] - fz;
            alone = alone && dx * dx + dz * dz > k_alone_distance * k_alone_distance;
            if (dx * dx + dz * dz > (v + 80) * (v + 80))
                continue;       // too far for the corridors to meet
            others[count++] = traffic_motion(o->bike);
        }
        // Knocked off its line it turns back at a pace it can turn at: at the path's speed it
        // would swing out on a wide circle, off the track, and crash there.
        if (path_distance(path, fx, fz) > k_off_path)
            target_speed = fminf(target_speed, k_off_path_speed);
        bool slowed;
        float race_time = (now - gate_drop_tic()) * k_tic;
        target_speed = traffic_speed(&self, lean, g, others, count, race_time, target_speed, &slowed);
        if (slowed)
            lines_forget_trials(slot);
        bool before_gate = gate_pass_time(session_passes(slot), 0) < 0;
        int ahead = (before_gate ? 4 : (m > 4 && fabsf(lean) < k_pi / 8 ? 3 : 2)) + k_lookahead_extra;
        ahead = takeoff_lookahead(path, at, ahead);
        float radius;
        target_lean = following_lean(path, at, fraction, ahead, fx, fz, hx, hz, v, g, alone, &radius);
        // The grip under the next path points and under the front wheel a quarter second on.
        const Terrain *ground = session_terrain();
        const dReal *fw = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
        const dReal *fwv = dBodyGetLinearVel(bike->body[BODY_FRONT_WHEEL]);
        float limit = grip_lean(ground, (float)(fw[0] + 0.25 * fwv[0]), (float)(fw[2] + 0.25 * fwv[2]));
        for (int k = at; k <= at + 7 && k < path->count; k++)
            limit = fminf(limit, grip_lean(ground, path->points[k].x, path->points[k].z));
        if (fabsf(target_lean) > limit) {
            target_lean = target_lean > 0 ? limit : -limit;
            if (isfinite(radius))
                target_speed = fminf(target_speed, sqrtf(g * fabsf(radius) * tanf(limit)));
            r.grip_tic = now;
        }
        if (v < 7.5f)
            target_lean = 0;
        else if (v < 10)
            target_lean *= (v - 7.5f) / 2.5f;
        // Held up by traffic or a fallen bike a robot stops in the middle of the track: a foot
        // goes down as it does in lost mode, or the bike tips over where it stands.
        if (v < 10 && before_gate == false)
            in.sit = 1;
        float natural = (float)natural_steer(bike);
        in.steer = steering_output(target_lean, lean, roll_rate, n, m, before_gate, natural, steer_angle, steer_rate,
                                   bike->wheel[0].depth > 0, bike->wheel[0].slip);
        // the steering assists as robots ride them
        bike->params.full_lock_speed = 1;
        bike->params.restricted_lock_speed = 50;
        float correction = clampf(fabsf(target_lean - lean) / k_pi, 0, 1);
        bike->params.restricted_lock_angle = fminf((1 + 4 * correction) * k_pi / 180, k_pi / 4);
    }

    SpeedState st = {};
    st.rear_airborne = !(bike->wheel[1].depth > 0);
    st.pitch_rate = (float)(av[0] * rot[0] + av[1] * rot[4] + av[2] * rot[8]);
    const dReal *front = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
    const dReal *rear = dBodyGetPosition(bike->body[BODY_REAR_WHEEL]);
    st.front_below_rear = front[1] < rear[1];
    st.front_above_rear = (float)(front[1] - rear[1]);
    st.gear = bike->engine.gear;
    st.rpm = bike_engine_rpm(bike);
    st.down_shift_rpm = bike_catalogue_row(bike) ? bike_catalogue_row(bike)->shift_points[0] : 0;
    float steer = in.steer, sit = in.sit;
    speed_control(target_speed, v, &st, &in);
    in.steer = steer;
    in.sit = sit;
    // asked for, not given: the spin guard keeps cutting what a wedged bike is given
    Wedged wedged = r.lost > 0 ? backing_up(&r.backing, v, in.throttle, now) : WEDGED_NO;
    in.throttle = throttle_rate_limit(in.throttle, r.throttle, now, r.grip_tic);
    in.throttle = spin_guard(in.throttle, r.throttle, v, bike->wheel[1].slip, bike->wheel[1].depth > 0);
    if (wedged != WEDGED_NO) {
        in.throttle = 0;
        in.front_brake = in.rear_brake = 0;
        in.steer = 0;
        in.sit = 1;
        in.back_up = wedged == WEDGED_BACK_UP;     // a walk starts next tic, through the drag
    }
    r.throttle = in.throttle;
    in.gear = -1;
    in.auto_shift = true;
    apply(bike, in);
}
