// The two shipped tracks. The sample track is a closed motocross loop laid along a spline
// through hand-placed points; its bed follows the lie of the land, smoothed, with jumps,
// whoops and bermed corners added along the lap. The practice track is a flat field with a
// dirt pad and three ramps.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "common/mt.h"
#include "datagen.h"
#include "platform/log.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const float k_pi = 3.14159265f;
static const float k_half_width = 15.0f;       // 30 ft track
static const float k_gate_half_width = 45.0f;  // 90 ft at the gate, for a 40-rider gate
static const float k_shoulder = 12.0f;

struct Point {
    float x, z;
};

// Hand-placed control points of the lap, in feet; the gate is at the first one, riders set
// off towards +x.
static const Point k_controls[] = {
    { 200, 860 }, { 430, 860 }, { 620, 855 }, { 760, 800 }, { 770, 690 }, { 660, 640 }, { 480, 650 },
    { 340, 660 }, { 250, 600 }, { 250, 500 }, { 310, 420 }, { 420, 420 }, { 640, 430 }, { 790, 400 },
    { 820, 290 }, { 740, 200 }, { 560, 190 }, { 400, 200 }, { 300, 235 }, { 210, 225 }, { 150, 280 },
    { 140, 400 }, { 140, 560 }, { 130, 720 }, { 140, 810 },
};
static const int k_control_count = (int)(sizeof k_controls / sizeof k_controls[0]);

struct Centre {
    float x, z, tx, tz;     // position and unit tangent
    float curvature;        // 1/ft, > 0 turning right (towards the rider's +x side)
    float bed;              // height of the track bed without features
    float feature;          // jumps and whoops
};

static struct {
    Centre *c;
    int n;                  // samples, one per 'step' feet of lap
    float step;
    float length;
    float control_s[k_control_count];
    float sand_begin, sand_end;
    int *bucket_start;      // CSR lists of samples per 32-ft bucket
    int *bucket_items;
    int buckets;            // per side
} g_lap;

// ---- the centreline ----

static Point catmull_rom(Point a, Point b, Point c, Point d, float t)
{
    float t2 = t * t, t3 = t2 * t;
    Point p;
    p.x = 0.5f * (2 * b.x + (-a.x + c.x) * t + (2 * a.x - 5 * b.x + 4 * c.x - d.x) * t2 + (-a.x + 3 * b.x - 3 * c.x + d.x) * t3);
    p.z = 0.5f * (2 * b.z + (-a.z + c.z) * t + (2 * a.z - 5 * b.z + 4 * c.z - d.z) * t2 + (-a.z + 3 * b.z - 3 * c.z + d.z) * t3);
    return p;
}

static void build_centreline(void)
{
    const int k_per_segment = 400;
    int dense_n = k_control_count * k_per_segment;
    Point *dense = (Point *)xmalloc((dense_n + 1) * sizeof(Point));
    float *dense_s = (float *)xmalloc((dense_n + 1) * sizeof(float));
    for (int seg = 0; seg < k_control_count; seg++) {
        Point a = k_controls[(seg + k_control_count - 1) % k_control_count], b = k_controls[seg];
        Point c = k_controls[(seg + 1) % k_control_count], d = k_controls[(seg + 2) % k_control_count];
        for (int k = 0; k < k_per_segment; k++)
            dense[seg * k_per_segment + k] = catmull_rom(a, b, c, d, k / (float)k_per_segment);
    }
    dense[dense_n] = dense[0];
    dense_s[0] = 0;
    for (int k = 1; k <= dense_n; k++)
        dense_s[k] = dense_s[k - 1] + hypotf(dense[k].x - dense[k - 1].x, dense[k].z - dense[k - 1].z);
    for (int seg = 0; seg < k_control_count; seg++)
        g_lap.control_s[seg] = dense_s[seg * k_per_segment];
    g_lap.length = dense_s[dense_n];
    g_lap.n = (int)g_lap.length;
    g_lap.step = g_lap.length / g_lap.n;
    g_lap.c = (Centre *)xcalloc(g_lap.n, sizeof(Centre));
    int k = 0;
    for (int i = 0; i < g_lap.n; i++) {
        float s = i * g_lap.step;
        while (k < dense_n - 1 && dense_s[k + 1] < s)
            k++;
        float f = (s - dense_s[k]) / fmaxf(dense_s[k + 1] - dense_s[k], 1e-6f);
        g_lap.c[i].x = dense[k].x + (dense[k + 1].x - dense[k].x) * f;
        g_lap.c[i].z = dense[k].z + (dense[k + 1].z - dense[k].z) * f;
    }
    xfree(dense);
    xfree(dense_s);
    int n = g_lap.n;
    float *heading = (float *)xmalloc(n * sizeof(float));
    for (int i = 0; i < n; i++) {
        const Centre &a = g_lap.c[(i + n - 1) % n], &b = g_lap.c[(i + 1) % n];
        float dx = b.x - a.x, dz = b.z - a.z, len = hypotf(dx, dz);
        g_lap.c[i].tx = dx / len;
        g_lap.c[i].tz = dz / len;
        heading[i] = atan2f(dz, dx);
    }
    // curvature from the turn of the heading over +-8 ft, so the spline's small wiggles do
    // not make berms
    for (int i = 0; i < n; i++) {
        float turn = heading[(i + 8) % n] - heading[(i + n - 8) % n];
        while (turn > k_pi)
            turn -= 2 * k_pi;
        while (turn < -k_pi)
            turn += 2 * k_pi;
        g_lap.c[i].curvature = turn / (16 * g_lap.step);
    }
    xfree(heading);
}

static float lap_distance(int a, int b)
{
    int d = abs(a - b);
    return fminf((float)d, (float)(g_lap.n - d)) * g_lap.step;
}

static float half_width(float s)
{
    // 90 ft at the gate narrowing to 30 ft over 250 ft; widening again over the 40 ft before it
    float after = s, before = g_lap.length - s;
    float w = k_half_width;
    if (after < 250)
        w = fmaxf(w, k_gate_half_width + (k_half_width - k_gate_half_width) * smoothstep(0, 250, after));
    if (before < 40)
        w = fmaxf(w, k_half_width + (k_gate_half_width - k_half_width) * smoothstep(40, 0, before));
    return w;
}

// Logs the loop's figures and whether it keeps clear of itself.
static void check_lap(void)
{
    float min_radius = 1e9f, min_gap = 1e9f;
    int tightest = 0;
    for (int i = 0; i < g_lap.n; i++)
        if (fabsf(g_lap.c[i].curvature) > 1e-6f && 1.0f / fabsf(g_lap.c[i].curvature) < min_radius) {
            min_radius = 1.0f / fabsf(g_lap.c[i].curvature);
            tightest = i;
        }
    for (int i = 0; i < g_lap.n; i += 2)
        for (int j = i + 1; j < g_lap.n; j += 2) {
            if (lap_distance(i, j) <= 120)
                continue;
            float gap = hypotf(g_lap.c[i].x - g_lap.c[j].x, g_lap.c[i].z - g_lap.c[j].z) -
                        half_width(i * g_lap.step) - half_width(j * g_lap.step) - 2 * k_shoulder;
            min_gap = fminf(min_gap, gap);
        }
    printf("datagen: sample lap %.0f ft, tightest radius %.0f ft at (%.0f, %.0f), closest clearance %.0f ft\n",
           g_lap.length, min_radius, g_lap.c[tightest].x, g_lap.c[tightest].z, min_gap);
    if (min_gap < 20)
        printf("datagen: warning: track sections closer than 20 ft\n");
}

// ---- ground and bed ----

static float ground(float x, float z, float world)
{
    float g = 8.0f * fbm(31u, x / 400.0f, z / 400.0f, 3, 0) + 0.010f * x - 0.006f * z;
    float edge = fminf(fminf(x, world - x), fminf(z, world - z));
    float rim = 25.0f * smoothstep(60.0f, 0.0f, edge) * (0.75f + 0.25f * value_noise(37u, x / 60.0f, z / 60.0f, 0));
    return g + rim;
}

static void build_bed(float world)
{
    int n = g_lap.n;
    float *raw = (float *)xmalloc(n * sizeof(float));
    for (int i = 0; i < n; i++)
        raw[i] = ground(g_lap.c[i].x, g_lap.c[i].z, world);
    int half = (int)(100 / g_lap.step);     // 200 ft window
    double sum = 0;
    for (int k = -half; k <= half; k++)
        sum += raw[(k + n) % n];
    for (int i = 0; i < n; i++) {
        g_lap.c[i].bed = (float)(sum / (2 * half + 1));
        sum += raw[(i + half + 1) % n] - raw[(i - half + n) % n];
    }
    // the start straight: flat with a 1 % rise from the gate
    float gate = g_lap.c[0].bed;
    for (int i = 0; i < n; i++) {
        float s = i * g_lap.step;
        float signed_s = s > g_lap.length / 2 ? s - g_lap.length : s;
        float w = smoothstep(-110, -30, signed_s) * smoothstep(430, 350, signed_s);
        g_lap.c[i].bed += (gate + 0.01f * fmaxf(signed_s, 0) - g_lap.c[i].bed) * w;
    }
    xfree(raw);
}

// A jump or bump as eased sections from 'start': each section rises (or falls) by dh over ds.
struct Section {
    float ds, dh;
};

static void add_profile(float start, const Section *sections, int count)
{
    float s = start, h = 0;
    for (int k = 0; k < count; k++) {
        for (int i = (int)ceilf(s / g_lap.step); i * g_lap.step < s + sections[k].ds; i++) {
            float t = (i * g_lap.step - s) / sections[k].ds;
            g_lap.c[i % g_lap.n].feature += h + sections[k].dh * 0.5f * (1 - cosf(k_pi * t));
        }
        s += sections[k].ds;
        h += sections[k].dh;
    }
}

static void build_features(void)
{
    const float *cs = g_lap.control_s;
    // tabletop: 25-degree face up 6 ft, 40 ft table, 18-degree landing
    const Section table[] = { { 20, 6 }, { 40, 0 }, { 29, -6 } };
    add_profile(cs[5] + 15, table, 3);
    // whoops: ten 2-ft rollers 14 ft apart
    for (int k = 0; k < 10; k++) {
        const Section whoop[] = { { 7, 2 }, { 7, -2 } };
        add_profile(cs[11] - 40 + 14 * k, whoop, 2);
    }
    // double: two 5-ft kickers 55 ft apart, the landing falls away
    const Section take_off[] = { { 15, 5 }, { 6, -5 } };
    const Section landing[] = { { 7, 5 }, { 30, -5 } };
    add_profile(cs[15] + 45, take_off, 2);
    add_profile(cs[15] + 45 + 15 + 55 - 7, landing, 2);
    // a single before the S-bends
    const Section single[] = { { 12, 3.5f }, { 22, -3.5f } };
    add_profile(cs[16] + 70, single, 2);
    // step-up: 4 ft up, 25 ft on top, then down gently
    const Section step_up[] = { { 12, 4 }, { 25, 0 }, { 45, -4 } };
    add_profile(cs[20] + 40, step_up, 3);
    // step-down: a gentle rise, a short flat, then a drop onto a downslope
    const Section step_down[] = { { 40, 3 }, { 10, 0 }, { 16, -3 } };
    add_profile(cs[21] + 20, step_down, 3);
    // finish-line kicker 150 ft before the gate
    const Section finish[] = { { 12, 3 }, { 20, -3 } };
    add_profile(g_lap.length - 150 - 12, finish, 2);
    // the sand section: the back straight after the step-down
    g_lap.sand_begin = cs[21] + 100;
    g_lap.sand_end = cs[22] + 120;
}

// ---- nearest centreline sample ----

static const int k_bucket_size = 32;

static void build_buckets(float world)
{
    int b = (int)(world / k_bucket_size) + 1;
    g_lap.buckets = b;
    g_lap.bucket_start = (int *)xcalloc(b * b + 1, sizeof(int));
    g_lap.bucket_items = (int *)xmalloc(g_lap.n * sizeof(int));
    int *fill = (int *)xcalloc(b * b, sizeof(int));
    auto bucket_of = [&](int i) {
        int bx = (int)(g_lap.c[i].x / k_bucket_size), bz = (int)(g_lap.c[i].z / k_bucket_size);
        bx = bx < 0 ? 0 : (bx >= b ? b - 1 : bx);
        bz = bz < 0 ? 0 : (bz >= b ? b - 1 : bz);
        return bx + bz * b;
    };
    for (int i = 0; i < g_lap.n; i++)
        g_lap.bucket_start[bucket_of(i) + 1]++;
    for (int k = 0; k < b * b; k++)
        g_lap.bucket_start[k + 1] += g_lap.bucket_start[k];
    for (int i = 0; i < g_lap.n; i++) {
        int k = bucket_of(i);
        g_lap.bucket_items[g_lap.bucket_start[k] + fill[k]++] = i;
    }
    xfree(fill);
}

// The nearest sample within 64 ft and the signed offset to its right; -1 when none.
static int nearest(float x, float z, float *lateral)
{
    int b = g_lap.buckets;
    int bx = (int)floorf(x / k_bucket_size), bz = (int)floorf(z / k_bucket_size);
    int best = -1;
    float best_d2 = 64.0f * 64.0f;
    for (int j = bz - 2; j <= bz + 2; j++)
        for (int i = bx - 2; i <= bx + 2; i++) {
            if (i < 0 || j < 0 || i >= b || j >= b)
                continue;
            for (int k = g_lap.bucket_start[i + j * b]; k < g_lap.bucket_start[i + j * b + 1]; k++) {
                const Centre &c = g_lap.c[g_lap.bucket_items[k]];
                float d2 = (x - c.x) * (x - c.x) + (z - c.z) * (z - c.z);
                if (d2 < best_d2) {
                    best_d2 = d2;
                    best = g_lap.bucket_items[k];
                }
            }
        }
    if (best >= 0) {
        const Centre &c = g_lap.c[best];
        *lateral = (x - c.x) * -c.tz + (z - c.z) * c.tx;
    }
    return best;
}

static float track_height(float x, float z, float world)
{
    float g = ground(x, z, world);
    float lateral;
    int k = nearest(x, z, &lateral);
    if (k < 0)
        return g;
    const Centre &c = g_lap.c[k];
    float hw = half_width(k * g_lap.step);
    float w = 1.0f - smoothstep(hw, hw + k_shoulder, fabsf(lateral));
    if (w <= 0)
        return g;
    // berms: the outside of a turn is banked up, more for tighter turns, with a lip at the edge
    float bend = smoothstep(1.0f / 300.0f, 1.0f / 90.0f, fabsf(c.curvature));
    float outside = c.curvature > 0 ? -lateral : lateral;
    float bank = tanf(22.0f * k_pi / 180.0f * bend) * fmaxf(0.0f, outside + 0.3f * hw);
    float lip = 2.5f * bend * smoothstep(0.55f * hw, hw, outside);
    float bed = c.bed + c.feature + bank + lip;
    return g + (bed - g) * w;
}

static int surface_at(float x, float z)
{
    float lateral;
    int k = nearest(x, z, &lateral);
    if (k < 0)
        return k_grass;
    float s = k * g_lap.step;
    if (fabsf(lateral) > half_width(s) + 2)
        return k_grass;
    if (s >= g_lap.sand_begin && s <= g_lap.sand_end)
        return k_sand;
    return fabsf(lateral) <= 7.0f ? k_hardpack : k_dirt;
}

static void fill_tilemap(Terrain *t, int (*surface)(float x, float z))
{
    int tiles = 1 << t->size_exponent, corners = tiles + 1;
    float size = t->tile_size;
    int *corner = (int *)xmalloc(corners * corners * sizeof(int));
    for (int j = 0; j < corners; j++)
        for (int i = 0; i < corners; i++)
            corner[i + j * corners] = surface(i * size, j * size);
    for (int r = 0; r < tiles; r++)
        for (int c = 0; c < tiles; c++) {
            const int four[4] = { corner[c + r * corners], corner[c + 1 + r * corners], corner[c + (r + 1) * corners],
                                  corner[c + 1 + (r + 1) * corners] };
            bool alt = mt_next() % 100 < 30;
            t->tilemap[c + (r << t->size_exponent)] = (uint8_t)tile_for_corners(four, alt);
        }
    xfree(corner);
}

static void free_lap(void)
{
    xfree(g_lap.c);
    xfree(g_lap.bucket_start);
    xfree(g_lap.bucket_items);
    memset(&g_lap, 0, sizeof g_lap);
}

bool write_sample_track(const char *dir)
{
    Terrain t = {};
    if (!terrain_create(&t, 8, 2.0f))
        return false;
    float world = t.world_size;
    build_centreline();
    check_lap();
    build_bed(world);
    build_features();
    build_buckets(world);
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++)
            t.heights[i + (size_t)j * t.dim] = track_height(i * t.spacing, j * t.spacing, world);
    fill_tilemap(&t, surface_at);
    bool ok = write_track_common(&t, dir, "Sample Track", true);
    LapPoint *lap = (LapPoint *)xmalloc(g_lap.n * sizeof(LapPoint));
    for (int i = 0; i < g_lap.n; i++)
        lap[i] = { g_lap.c[i].x, g_lap.c[i].z, g_lap.c[i].tx, g_lap.c[i].tz, half_width(i * g_lap.step) };
    ok = ok && write_track_timing(dir, &t, lap, g_lap.n, g_lap.step);
    xfree(lap);
    free_lap();
    terrain_unload(&t);
    return ok;
}

// ---- practice field ----

struct Ramp {
    float x0, z0, z1;       // start of the face, and the lane it spans
    Section sections[3];
};

static const Ramp k_ramps[] = {
    { 150, 190, 230, { { 10, 2 }, { 8, 0 }, { 16, -2 } } },        // a small roller
    { 150, 270, 310, { { 14, 4 }, { 30, 0 }, { 24, -4 } } },       // a table-top
    { 280, 220, 280, { { 14, 5 }, { 6, -5 }, { 0, 0 } } },         // a kicker onto the flat
};

static float ramp_height(const Ramp &r, float x, float z)
{
    float side = smoothstep(r.z0 - 4, r.z0, z) * smoothstep(r.z1 + 4, r.z1, z);
    float s = x - r.x0, h = 0;
    for (const Section &sec : r.sections) {
        if (sec.ds <= 0)
            break;
        if (s < sec.ds)
            return side * (h + sec.dh * 0.5f * (1 - cosf(k_pi * fmaxf(s, 0) / sec.ds)));
        s -= sec.ds;
        h += sec.dh;
    }
    return side * h;
}

static int practice_surface(float x, float z)
{
    return x >= 96 && x <= 416 && z >= 160 && z <= 352 ? k_dirt : k_grass;
}

bool write_practice_track(const char *dir)
{
    Terrain t = {};
    if (!terrain_create(&t, 7, 2.0f))
        return false;
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++) {
            float h = 0;
            for (const Ramp &r : k_ramps)
                h = fmaxf(h, ramp_height(r, i * t.spacing, j * t.spacing));
            t.heights[i + (size_t)j * t.dim] = h;
        }
    fill_tilemap(&t, practice_surface);
    bool ok = write_track_common(&t, dir, "Practice Field", false);
    // a lap round the pad: an ellipse over the ramps, sampled every foot or so
    const int n = 720;
    LapPoint *lap = (LapPoint *)xmalloc(n * sizeof(LapPoint));
    for (int i = 0; i < n; i++) {
        float a = 2 * k_pi * i / n;
        float tx = -140 * sinf(a), tz = 80 * cosf(a), len = hypotf(tx, tz);
        lap[i] = { 256 + 140 * cosf(a), 256 + 80 * sinf(a), tx / len, tz / len, 15 };
    }
    ok = ok && write_track_timing(dir, &t, lap, n, 2 * k_pi * 110 / n);
    xfree(lap);
    terrain_unload(&t);
    return ok;
}
