// The starting riding lines of a generated track, so that robots race on a fresh install. They
// are worked out from the track's own centre lines, without physics: a speed profile capped on
// straights by skill and in corners by the grip of the ground (more on berms), with the jumps'
// approach speeds chosen to land them on their landings, accelerating at most 10 ft/s² and
// braking at most 16 ft/s². Several lines run across the track at fixed offsets, each keeping
// its offset from section to section; in the first section, a line from every gate place
// merges into them over the first sections so that a field spreads out instead of queuing on
// one line.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "datagen.h"
#include "race/timing.h"
#include "robots/lines.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"
#include "vfs/vfs.h"

static const float k_offsets[] = { -10, -5, 0, 5, 10 };    // ft to the rider's right of the centre
static const int k_offset_count = (int)(sizeof k_offsets / sizeof k_offsets[0]);
static const float k_jump_spread = 0.5f;       // of the offsets, kept over a jump
static const float k_jump_close_up = 15;       // ft either side of a jump over which the lines keep close
static const float k_jump_ease = 40;           // ft over which they close up and spread out again
// ft after the gate over which a gate line reaches its offset: as late as the start straight,
// narrowing from 30 to 280 ft past the gate (track.cpp), keeps the outermost lines inside its
// edges (a longer merge has them clamped onto one another there), so that a launched field has
// longer to string out before the lines of a group close in side by side
static const float k_merge_length = 300;
static const float k_merge_pace = 45;          // ft/s over the merge for the gate line with least to move across
static const float k_merge_pace_step = 4;      // ft/s less for each gate line of its group nearer the offset
static const float k_straight_cap[3] = { 45, 55, 65 };     // ft/s by skill
static const float k_corner_share[3] = { 0.55f, 0.7f, 0.85f };
static const float k_crest_span = 8;           // ft either side over which a crest's bend is measured
static const float k_max_lean = 0.7f;           // rad: kept below the bike's 45-degree roll limit
static const float k_whoops_lead = 10;          // ft before a roller where the whoops pace begins
static const float k_whoops_speed[3] = { 18, 20, 22 };     // ft/s by skill
static const int k_landing_passes = 4;
static const float k_double_gap = 60;           // ft from a jump's end to a landing that makes it a double
static const float k_approach = 12;             // ft before a take-off over which its speed is held
static const float k_flight_reach = 200;        // ft after a take-off searched for the landing
static const float k_slowest_take_off = 8;      // ft/s
static const float k_landing_tolerance = 0.2f;  // rad between the arc and the ground at landing
static const float k_accelerate = 10, k_brake = 16;        // ft/s²
static const float k_gravity = 32;
static const float k_frame_height = 2.2f;      // ft above the ground of a standing bike's frame
static const float k_point_seconds = 0.25f;
static const float k_takeoff_gap = 0.25f;      // ft the ground must fall below the arc: small kinks are ridden through
static const float k_slope_span = 3;           // ft behind a sample over which its take-off slope is measured
static const int k_curvature_span = 8;         // samples either side
static const int k_join_round = 30;           // samples either side of the start straight's join that are rounded off
static const int k_laps = 3;                   // the route: the start straight, then three laps
static const float k_pre_drop_tics = 14 * 128; // a recorded first section counts from the session's start

// One sample of a rider's path.
struct PathSample {
    float x, z, ground;
    float s;                // ft from the gate
    float lap_s;            // ft along the lap; -1 on the start straight
    float curvature;        // 1/ft, > 0 turning right
    float cap, speed;       // ft/s
    float y;                // frame height, on the ground or on the flight arc
    bool airborne;
    bool designed;          // on a designed jump's approach or among whoops: paced by the design
    bool whoops;            // rolled at the whoops pace: ridden on the ground, never a flight
    float t;                // s from the gate
};

struct Route {
    Centre *c;
    float *lap_s;
    int n;
};

// The start straight from the gate to the join, then the lap from the join round k_laps times.
static void build_route(Route *r, const TrackLayout *layout)
{
    const Line &S = layout->start, &L = layout->lap;
    int gate = line_sample_at(&S, k_gate_along_start);
    int on_start = layout->start_join > gate ? layout->start_join - gate : 0;
    r->n = on_start + L.n * k_laps;
    r->c = (Centre *)xmalloc((size_t)r->n * sizeof(Centre));
    r->lap_s = (float *)xmalloc((size_t)r->n * sizeof(float));
    for (int i = 0; i < on_start; i++) {
        r->c[i] = S.c[gate + i];
        r->lap_s[i] = -1;
    }
    for (int i = 0; i < L.n * k_laps; i++) {
        int k = (layout->join + i) % L.n;
        r->c[on_start + i] = L.c[k];
        r->lap_s[on_start + i] = k * L.step;
    }
    // The start straight meets the lap at an angle: round the corner off so that the offset
    // lines neither cross themselves on its inside nor brake hard for a kink.
    int from = on_start - k_join_round > 1 ? on_start - k_join_round : 1;
    int to = on_start + k_join_round < r->n - 1 ? on_start + k_join_round : r->n - 2;
    for (int pass = 0; on_start > 0 && pass < k_join_round * 4; pass++)
        for (int i = from; i <= to; i++) {
            r->c[i].x = (r->c[i - 1].x + 2 * r->c[i].x + r->c[i + 1].x) / 4;
            r->c[i].z = (r->c[i - 1].z + 2 * r->c[i].z + r->c[i + 1].z) / 4;
        }
    for (int i = from - 1; on_start > 0 && i <= to + 1; i++) {
        float dx = r->c[i + 1].x - r->c[i - 1].x, dz = r->c[i + 1].z - r->c[i - 1].z, len = hypotf(dx, dz);
        if (len > 0) {
            r->c[i].tx = dx / len;
            r->c[i].tz = dz / len;
        }
    }
}

static float tile_grip(const Terrain *t, float x, float z)
{
    const TileType *tile = tile_type(t, tile_at(t, x, z));
    return tile ? tile->friction_value[0] : 1.0f;
}

// A distance along the lap folded into (-half a lap, half a lap].
static float wrapped(float d, float lap_length)
{
    if (d <= -lap_length / 2)
        d += lap_length;
    if (d > lap_length / 2)
        d -= lap_length;
    return d;
}

// How far across the track the lines spread at 'lap_s' ft along the lap (1: fully): over a jump
// they close up towards the middle, where its faces are full height; a bike pushed wide there
// by another must not come off the side of a kicker.
static float spread_at(const TrackLayout *layout, float lap_s)
{
    if (lap_s < 0)
        return 1;
    float spread = 1;
    for (int f = 0; f < layout->feature_count; f++) {
        const LapFeature &feature = layout->features[f];
        if (feature.kind != k_feature_jump)
            continue;
        float into = wrapped(lap_s - feature.begin, layout->lap.length), length = feature.end - feature.begin;
        float near = into < 0 ? -into : into > length ? into - length : 0;
        float close = 1 - smoothstep(k_jump_close_up, k_jump_close_up + k_jump_ease, near);
        spread = fminf(spread, 1 - (1 - k_jump_spread) * close);
    }
    return spread;
}

// The path at a lateral offset; a gate line starts at 'from' and eases onto 'offset'.
static PathSample *offset_path(const Terrain *t, const Route *r, const TrackLayout *layout, float from, float offset)
{
    PathSample *p = (PathSample *)xcalloc((size_t)r->n, sizeof(PathSample));
    float along = 0;        // ft from the gate along the centre line
    for (int i = 0; i < r->n; i++) {
        const Centre &c = r->c[i];
        if (i > 0)
            along += hypotf(c.x - r->c[i - 1].x, c.z - r->c[i - 1].z);
        float o = from + (offset - from) * smoothstep(0, k_merge_length, along);
        o *= spread_at(layout, r->lap_s[i]);
        o = clampf(o, -c.half_width + 2, c.half_width - 2);
        p[i].x = c.x - c.tz * o;        // the rider's right is (-tz, tx)
        p[i].z = c.z + c.tx * o;
        p[i].ground = terrain_height(t, p[i].x, p[i].z);
        p[i].lap_s = r->lap_s[i];
    }
    for (int i = 1; i < r->n; i++)
        p[i].s = p[i - 1].s + hypotf(p[i].x - p[i - 1].x, p[i].z - p[i - 1].z);
    // Curvature from the turn of the path's own heading over a few feet either side.
    for (int i = 0; i < r->n; i++) {
        int a = i - k_curvature_span < 0 ? 0 : i - k_curvature_span;
        int b = i + k_curvature_span >= r->n ? r->n - 1 : i + k_curvature_span;
        int a1 = a + 1 < r->n ? a + 1 : a, b0 = b - 1 >= 0 ? b - 1 : b;
        float ha = atan2f(p[a1].z - p[a].z, p[a1].x - p[a].x), hb = atan2f(p[b].z - p[b0].z, p[b].x - p[b0].x);
        float turn = hb - ha;
        while (turn > 3.14159265f)
            turn -= 6.2831853f;
        while (turn < -3.14159265f)
            turn += 6.2831853f;
        float length = p[b].s - p[a].s;
        // Heading measured from +x towards +z turns right for a rider facing along it.
        p[i].curvature = length > 0 ? turn / length : 0;
    }
    return p;
}

// How sharply the ground bends down over a crest at sample i (1/ft, 0 in a dip or on the level):
// its height's second derivative along the path over a few feet either side.
static float crest_curvature(const PathSample *p, int n, int i)
{
    int a = i, b = i;
    while (a > 0 && p[i].s - p[a].s < k_crest_span)
        a--;
    while (b + 1 < n && p[b].s - p[i].s < k_crest_span)
        b++;
    float ha = p[i].s - p[a].s, hb = p[b].s - p[i].s;
    if (!(ha > 0) || !(hb > 0))
        return 0;
    float bend = ((p[b].ground - p[i].ground) / hb - (p[i].ground - p[a].ground) / ha) / (0.5f * (ha + hb));
    return bend < 0 ? -bend : 0;
}

// The corner and straight caps: grip times the share the skill dares, helped by the bank.
static void speed_caps(const Terrain *t, PathSample *p, int n, int skill)
{
    for (int i = 0; i < n; i++) {
        float cap = k_straight_cap[skill];
        float k = fabsf(p[i].curvature);
        if (k > 1e-4f) {
            float mu = tile_grip(t, p[i].x, p[i].z);
            // the bank across the path, positive when it leans into the turn
            int j = i + 1 < n ? i + 1 : i, h = i > 0 ? i - 1 : i;
            float dx = p[j].x - p[h].x, dz = p[j].z - p[h].z, len = hypotf(dx, dz);
            float rx = len > 0 ? -dz / len : 0, rz = len > 0 ? dx / len : 0;
            float right = terrain_height(t, p[i].x + rx, p[i].z + rz);
            float left = terrain_height(t, p[i].x - rx, p[i].z - rz);
            float bank = (p[i].curvature > 0 ? left - right : right - left) / 2;
            float grip = mu;
            if (bank > 0 && mu * bank < 0.9f)
                grip = fminf((mu + bank) / (1 - mu * bank), 3 * mu);
            // Over a crest the ground falls away under the wheels and presses on them less:
            // the grip and the lean that hold a turn go with the weight the wheels carry, g
            // less v² times the ground's curvature. With a = v² / weight held, v² = a·g / (1 + a·c).
            float c = crest_curvature(p, n, i);
            float a = grip * k_corner_share[skill] / k;
            cap = fminf(cap, sqrtf(a * k_gravity / (1 + a * c)));
            // However much a berm grips, a rider leaning past the bike's roll limit fights it.
            a = tanf(k_max_lean) / k;
            cap = fminf(cap, sqrtf(a * k_gravity / (1 + a * c)));
        }
        p[i].cap = cap;
    }
}

// The ground's slope along the path arriving at sample i, over the last few feet.
static float ground_slope(const PathSample *p, int i)
{
    int a = i;
    while (a > 0 && p[i].s - p[a].s < k_slope_span)
        a--;
    return p[i].s > p[a].s ? (p[i].ground - p[a].ground) / (p[i].s - p[a].s) : 0;
}

// Flies from sample 'from' at constant horizontal speed v; returns the sample where the arc
// lands after a take-off (-1 when it never leaves the ground before 'to'), and the slopes of the
// flight and of the ground there.
static int fly(const PathSample *p, int from, int to, float v, int *takeoff, float *flight_slope, float *landing_slope)
{
    float y = p[from].ground + k_frame_height, vy = 0;
    float v0 = v;
    bool air = false;
    float gap = 0;          // the most the ground has fallen below the arc on this flight
    int leave = -1;
    *takeoff = -1;
    for (int i = from + 1; i <= to; i++) {
        float ds = p[i].s - p[i - 1].s;
        if (ds <= 0)
            continue;
        float dt = ds / v, ground = p[i].ground + k_frame_height;
        if (!air) {
            // Climbing a face costs the speed its height is worth: a bike reaching its foot at
            // v leaves the lip slower, and the flight is that of the lip's speed.
            float rise = p[i - 1].ground - p[from].ground;
            v = sqrtf(fmaxf(v0 * v0 - 2 * k_gravity * rise, 1));
            dt = ds / v;
            // Leaving the ground is judged against the whole arc from where the wheels last
            // pressed on it: a step at a time the ground never falls far below it.
            vy = ground_slope(p, i - 1) * v;
            float arc = y + vy * dt - 0.5f * k_gravity * dt * dt;
            if (ground < arc) {
                air = true;
                leave = i - 1;
                gap = 0;
                y = arc;
                vy -= k_gravity * dt;
            } else {
                y = ground;
            }
            continue;
        }
        float arc = y + vy * dt - 0.5f * k_gravity * dt * dt;
        if (arc <= ground) {
            if (gap < k_takeoff_gap) {
                air = false;            // a small kink, ridden through
                y = ground;
                continue;
            }
            *takeoff = leave;
            *flight_slope = (vy - k_gravity * dt) / v;
            *landing_slope = (p[i].ground - p[i - 1].ground) / ds;
            return i;
        }
        gap = fmaxf(gap, arc - ground);
        y = arc;
        vy -= k_gravity * dt;
    }
    if (air && gap >= k_takeoff_gap)
        *takeoff = leave;
    return -1;
}

// Each designed jump, wherever the path meets it: the approach speed that lands it on the
// landing's downslope most nearly along the ground caps the speed up to its lip.
static void jump_speeds(PathSample *p, int n, const TrackLayout *layout, int skill)
{
    float lap_length = layout->lap.length;
    // Whoops: rolled through at a pace that keeps both wheels near the ground, from a little
    // before the first roller to the last.
    for (int f = 0; f < layout->feature_count; f++) {
        const LapFeature &feature = layout->features[f];
        if (feature.kind != k_feature_whoops)
            continue;
        for (int i = 0; i < n; i++) {
            if (p[i].lap_s < 0)
                continue;
            float into = wrapped(p[i].lap_s - feature.begin, lap_length);
            if (into >= -k_whoops_lead && into <= feature.end - feature.begin) {
                p[i].cap = fminf(p[i].cap, k_whoops_speed[skill]);
                p[i].designed = true;
                p[i].whoops = true;
            }
        }
    }
    for (int f = 0; f < layout->feature_count; f++) {
        const LapFeature &feature = layout->features[f];
        if (feature.kind != k_feature_jump)
            continue;
        // A double: a jump whose landing is a second jump close after it is flown to that
        // landing, and the landing is never taken for a take-off of its own.
        float reach = feature.end - feature.begin + 5;
        float landing_from = -1e9f;     // along the lap from the jump's start: where a flight may come down
        bool landing_of_double = false;
        for (int g = 0; g < layout->feature_count; g++) {
            const LapFeature &other = layout->features[g];
            if (g == f || other.kind != k_feature_jump)
                continue;
            float gap = wrapped(other.begin - feature.end, lap_length);
            if (gap >= 0 && gap < k_double_gap) {
                reach = fmaxf(reach, wrapped(other.end - feature.begin, lap_length) + 5);
                // short of the landing's crest a flight lands on the take-off's steep back or the
                // landing's face: both pitch a bike onto its nose
                if (g == f + 1 && other.end - other.begin > feature.end - feature.begin)
                    landing_from = fmaxf(landing_from, wrapped(other.begin - feature.begin, lap_length) +
                                                           0.5f * (other.end - other.begin));
            }
            // a double's landing is laid out right after its take-off and is the longer of the two
            float after = wrapped(feature.begin - other.end, lap_length);
            if (g == f - 1 && after >= 0 && after < k_double_gap && other.end - other.begin < feature.end - feature.begin)
                landing_of_double = true;
        }
        if (landing_of_double)
            continue;
        for (int i = 1; i < n; i++) {
            if (p[i].lap_s < 0)
                continue;
            float into = wrapped(p[i].lap_s - feature.begin, lap_length);
            float before = p[i - 1].lap_s < 0 ? -1e9f : wrapped(p[i - 1].lap_s - feature.begin, lap_length);
            if (!(into >= -5 && into < 5 && before < -5))
                continue;
            // The path enters this jump at sample i: from here to well past its end.
            int to = i;
            while (to + 1 < n && p[to].s - p[i].s < reach + 55)
                to++;
            float best_v = -1, best_error = 1e9f;
            int best_lip = -1, best_land = -1;
            for (float v = 10; v <= k_straight_cap[skill]; v += 0.5f) {
                int takeoff;
                float flight, ground;
                int land = fly(p, i, to, v, &takeoff, &flight, &ground);
                if (land < 0 || ground > -0.05f || p[land].s - p[i].s > reach ||
                    wrapped(p[land].lap_s - feature.begin, lap_length) < landing_from)
                    continue;
                float error = fabsf(atanf(flight) - atanf(ground));
                if (error < best_error) {
                    best_error = error;
                    best_v = v;
                    best_lip = takeoff;
                    best_land = land;
                }
            }
            for (int k = i; best_v > 0 && k <= best_lip; k++)
                p[k].cap = fminf(p[k].cap, best_v);
            for (int k = i; best_v > 0 && k <= best_land; k++)
                p[k].designed = true;
        }
    }
}

// Speeds within the caps, reachable by the accelerating and braking limits, from a standing
// start; then the frame's height (the flight arc where the ground falls away) and the times.
static void profile(PathSample *p, int n)
{
    p[0].speed = 0;
    for (int i = 1; i < n; i++) {
        float ds = p[i].s - p[i - 1].s;
        p[i].speed = fminf(p[i].cap, sqrtf(p[i - 1].speed * p[i - 1].speed + 2 * k_accelerate * ds));
    }
    for (int i = n - 2; i >= 0; i--) {
        float ds = p[i + 1].s - p[i].s;
        p[i].speed = fminf(p[i].speed, sqrtf(p[i + 1].speed * p[i + 1].speed + 2 * k_brake * ds));
    }
    p[0].y = p[0].ground + k_frame_height;
    p[0].t = 0;
    float vy = 0;
    bool air = false;
    for (int i = 1; i < n; i++) {
        float ds = p[i].s - p[i - 1].s, v = fmaxf(0.5f * (p[i].speed + p[i - 1].speed), 0.5f);
        float dt = ds / v, ground = p[i].ground + k_frame_height;
        p[i].t = p[i - 1].t + dt;
        if (!air)
            vy = ground_slope(p, i - 1) * v;
        float arc = p[i - 1].y + vy * dt - 0.5f * k_gravity * dt * dt;
        // The rollers' small hops are no jumps: a line marked airborne there would hold a robot
        // that lost its way in lost mode all through them.
        if (!p[i].whoops && arc > ground + (air ? 0 : k_takeoff_gap)) {
            air = true;
            p[i].y = arc;
            vy -= k_gravity * dt;
        } else {
            air = false;
            p[i].y = ground;
        }
        p[i].airborne = air;
    }
}

// Every take-off the profile rides into, a designed jump or a crest of the ground: a flight that
// comes down on flat or rising ground lands nose first, so the approach is slowed to the speed
// whose arc meets the ground most nearly along it (no flight at all counts as a perfect
// landing); the profile is then worked out again until no take-off needs a change.
static void landing_caps(PathSample *p, int n)
{
    for (int pass = 0; pass < k_landing_passes; pass++) {
        profile(p, n);
        bool changed = false;
        for (int i = 1; i < n; i++) {
            // A designed jump's take-off has its pace already, and a roller's crest is no
            // take-off: the whoops pace rolls them.
            if (!p[i].airborne || p[i - 1].airborne || p[i - 1].designed)
                continue;
            int from = i - 1;
            while (from > 0 && p[i].s - p[from].s < k_approach)
                from--;
            int to = i;
            while (to + 1 < n && p[to].s - p[i].s < k_flight_reach)
                to++;
            float best_v = -1, best_error = 1e9f, now_error = 1e9f;
            for (float v = k_slowest_take_off; v <= p[i - 1].speed + 0.25f; v += 0.5f) {
                int takeoff;
                float flight = 0, ground = 0;
                int land = fly(p, from, to, v, &takeoff, &flight, &ground);
                float error = takeoff < 0 ? 0 : land < 0 ? 1e6f : fabsf(atanf(flight) - atanf(ground));
                if (v + 0.5f > p[i - 1].speed + 0.25f)
                    now_error = error;
                if (error <= best_error + 0.02f) {
                    best_error = fminf(error, best_error);
                    best_v = v;
                }
            }
            if (best_v > 0 && now_error > k_landing_tolerance && best_v < p[i - 1].speed - 0.25f) {
                for (int k = from; k < i; k++)
                    p[k].cap = fminf(p[k].cap, best_v);
                changed = true;
            }
        }
        if (!changed)
            break;
    }
    profile(p, n);
}

// A line point at time t along the path (interpolated).
static LinePoint point_at(const PathSample *p, int n, float t, int *cursor)
{
    int i = *cursor;
    while (i + 1 < n - 1 && p[i + 1].t <= t)
        i++;
    *cursor = i;
    const PathSample &a = p[i], &b = p[i + 1 < n ? i + 1 : i];
    float f = b.t > a.t ? clampf((t - a.t) / (b.t - a.t), 0, 1) : 0;
    float v = a.speed + (b.speed - a.speed) * f, k = a.curvature + (b.curvature - a.curvature) * f;
    LinePoint out;
    out.x = a.x + (b.x - a.x) * f;
    out.y = a.y + (b.y - a.y) * f;
    out.z = a.z + (b.z - a.z) * f;
    out.speed = a.airborne || b.airborne ? -v : v;
    out.lean = -atanf(v * v * k / k_gravity);
    return out;
}

// Cuts one path into sections where it passes the counting checkpoints and files each as a
// line of its slot; a gate line only its sections that begin before it has merged (after that
// it is the line it merged into).
static void file_path(const Timing *timing, const PathSample *p, int n, bool gate_line)
{
    GatePasses passes = {};
    float pass_time[k_max_lap_entries * (k_laps + 1)], pass_s[k_max_lap_entries * (k_laps + 1)];
    int counted = 0;
    for (int i = 0; i < n && counted < (int)(sizeof pass_time / sizeof pass_time[0]); i++) {
        int q = gate_passing_step(timing, &passes, p[i].x, p[i].z, (int32_t)lroundf(p[i].t * 128));
        if (q >= 0 && position_entry(timing, q) < k_non_counting) {
            pass_s[counted] = p[i].s;
            pass_time[counted++] = p[i].t;
        }
    }
    passes_free(&passes);
    int sections = lines_store_first() + lines_store_normal();
    LinePoint *points = (LinePoint *)xmalloc(4096 * sizeof(LinePoint));
    int cursor = 0;
    for (int s = 0; s < sections && s + 1 < counted; s++) {
        if (gate_line && s > 0 && pass_s[s - 1] >= k_merge_length)
            break;
        float begin = s == 0 ? 0 : pass_time[s - 1], end = pass_time[s];
        int count = 0;
        for (float t = begin; t < end && count < 4096; t += k_point_seconds)
            points[count++] = point_at(p, n, t, &cursor);
        int short_span = (int)lroundf((end - begin) * 128);
        int long_span = (int)lroundf((pass_time[s + 1] - begin) * 128);
        if (s == 0) {
            short_span += (int)k_pre_drop_tics;
            long_span += (int)k_pre_drop_tics;
        }
        int slot = section_slot(s);
        for (int e = 0; e < k_line_entries; e++) {
            LineEntry *entry = line_entry(slot, e);
            if (entry->count == 0) {
                line_fill(entry, points, count, short_span, long_span);
                break;
            }
        }
    }
    xfree(points);
}

// A gate standing where an offset line starts (within half a foot) has that line: 5 offset
// lines and 38 gate lines keep the first-lap slots within the 43 lines that loading keeps.
static bool on_offset(int g)
{
    for (float o : k_offsets)
        if (fabsf(gate_place_across(g) - o) < 0.5f)
            return true;
    return false;
}

static int gate_group(int g)
{
    return g * k_offset_count / k_gate_places;
}

// How many gate lines of the same group have less to move across to their offset (the lower
// gate first on a tie).
static int merge_rank(int g)
{
    float onto = k_offsets[gate_group(g)], own = fabsf(gate_place_across(g) - onto);
    int rank = 0;
    for (int h = 0; h < k_gate_places; h++) {
        float other = fabsf(gate_place_across(h) - onto);
        rank += h != g && gate_group(h) == gate_group(g) && (other < own || (other == own && h < g));
    }
    return rank;
}

bool write_track_lines(const char *dir, const Terrain *t, const TrackLayout *layout)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/timing_gates", dir);
    Timing *timing = (Timing *)xcalloc(1, sizeof(Timing));
    DataFile *in = open_data_file(path, "rb");
    bool ok = in && timing_parse(timing, in, 0);
    close_data_file(in);
    Route route = {};
    if (ok)
        build_route(&route, layout);
    for (int skill = 0; ok && skill < 3; skill++) {
        ok = lines_store_create(timing->first_counting, timing->normal_counting);
        for (int k = 0; ok && k < k_offset_count; k++) {
            PathSample *p = offset_path(t, &route, layout, k_offsets[k], k_offsets[k]);
            speed_caps(t, p, route.n, skill);
            jump_speeds(p, route.n, layout, skill);
            landing_caps(p, route.n);
            file_path(timing, p, route.n, false);
            xfree(p);
        }
        for (int g = 0; ok && g < k_gate_places; g++) {
            if (on_offset(g))
                continue;
            // In order across: the gates share the offsets evenly, so that the field from a full
            // gate does not funnel onto the outermost lines.
            PathSample *p = offset_path(t, &route, layout, gate_place_across(g), k_offsets[gate_group(g)]);
            speed_caps(t, p, route.n, skill);
            // Side by side the lines of a group close in faster than a launched field sorts
            // itself out: over the merge, each is paced a little below the ones with less to
            // move across, so that they arrive on their offset one behind another (and behind
            // a bike on the offset line itself).
            float pace = fminf(k_merge_pace, k_straight_cap[skill] - k_merge_pace_step) - k_merge_pace_step * merge_rank(g);
            for (int i = 0; i < route.n && p[i].s < k_merge_length; i++)
                p[i].cap = fminf(p[i].cap, pace);
            jump_speeds(p, route.n, layout, skill);
            landing_caps(p, route.n);
            file_path(timing, p, route.n, true);
            xfree(p);
        }
        snprintf(path, sizeof path, "%s/%s", dir, lines_file_name(skill));
        DataFile *out = ok ? open_data_file(path, "wb") : nullptr;
        ok = out && lines_write_store(out);
        close_data_file(out);
        lines_store_free();
    }
    xfree(route.c);
    xfree(route.lap_s);
    timing_clear(timing);
    xfree(timing);
    return ok;
}
