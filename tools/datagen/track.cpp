// The two shipped tracks. Each has a closed lap and a start straight of its own that leads
// from behind the starting gate onto the lap, as on a real track: laps never cross the gate.
// The sample track's lap is a motocross loop laid along a spline through hand-placed points;
// its bed follows the lie of the land, smoothed, with jumps, whoops and bermed corners added
// along the lap. The practice track is a flat field with a dirt pad and three ramps.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "common/mt.h"
#include "datagen.h"
#include "terrain/terrain.h"

static const float k_pi = 3.14159265f;
static const float k_half_width = 15.0f;       // 30 ft track
static const float k_shoulder = 12.0f;         // from the track's edge to the untouched ground
static const float k_berm_back = 30;           // ft more shoulder behind a full berm: a rider run wide rides back up
static const float k_pad = 30;                 // ft past the gate at the gate's full width
static const float k_narrowing = 250;          // ft over which the start straight then narrows
static const float k_reach = k_gate_half_width + k_shoulder + k_berm_back + 8;   // nearest-sample search
static const float k_berm_angle = 22.0f * 3.14159265f / 180;
static const float k_berm_smoothing = 24;      // ft either side: berms grow and change sides gently

// Hand-placed control points of the lap, in feet; it runs from the first one towards +x.
static const Point2 k_controls[] = {
    { 200, 860 }, { 430, 860 }, { 620, 855 }, { 760, 800 }, { 770, 690 }, { 660, 640 }, { 480, 650 },
    { 340, 660 }, { 250, 600 }, { 250, 500 }, { 310, 420 }, { 420, 420 }, { 640, 430 }, { 790, 400 },
    { 820, 290 }, { 740, 200 }, { 560, 190 }, { 400, 200 }, { 300, 235 }, { 210, 225 }, { 150, 280 },
    { 140, 400 }, { 140, 560 }, { 130, 720 }, { 140, 810 },
};
static const int k_control_count = (int)(sizeof k_controls / sizeof k_controls[0]);
// The start straight: from behind the gate, between the lap's top straight and the bend below
// it, funnelling onto the top straight before the first corner.
static const Point2 k_start_controls[] = { { 215, 755 }, { 330, 760 }, { 455, 808 } };
static const Point2 k_join_near = { 570, 858 };
static const float k_start_runs_on = 60;       // ft the start straight runs on along the lap

// Both tracks' lines while one is built.
static struct {
    TrackLayout layout;
    float control_s[k_control_count];
    float sand_begin, sand_end;
    float *bank;            // per lap sample: signed berm strength, > 0 banked for a right turn
    float *merge;           // per start sample: how far its surface has become the lap's, 0..1
} g_track;

static Line &lap(void) { return g_track.layout.lap; }
static Line &start(void) { return g_track.layout.start; }

// ---- layout ----

static void record_feature(float begin, float length, int kind)
{
    TrackLayout &l = g_track.layout;
    if (l.feature_count < k_max_lap_features)
        l.features[l.feature_count++] = { begin, begin + length, kind };
}

// The start straight: the controls, then the lap from the join on, so that it ends on the lap.
static void build_start(const Point2 *controls, int count, Point2 join_near)
{
    Line &L = lap();
    int join = 0;
    float best = 1e30f;
    for (int i = 0; i < L.n; i++) {
        float d = hypotf(L.c[i].x - join_near.x, L.c[i].z - join_near.z);
        if (d < best) {
            best = d;
            join = i;
        }
    }
    Point2 points[8];
    int n = 0;
    for (int k = 0; k < count && n < 6; k++)
        points[n++] = controls[k];
    int on = line_sample_at(&L, join * L.step + k_start_runs_on);
    points[n++] = { L.c[join].x, L.c[join].z };
    points[n++] = { L.c[on].x, L.c[on].z };
    line_from_spline(&start(), points, n, false);
    g_track.layout.join = join;
    int start_join = 0;
    best = 1e30f;
    for (int i = 0; i < start().n; i++) {
        float d = hypotf(start().c[i].x - L.c[join].x, start().c[i].z - L.c[join].z);
        if (d < best) {
            best = d;
            start_join = i;
        }
    }
    g_track.layout.start_join = start_join;
    // the gate's width up to the pad's end, narrowing to the track's
    for (int i = 0; i < start().n; i++) {
        float past = i * start().step - k_gate_along_start - k_pad;
        start().c[i].half_width =
            k_half_width + (k_gate_half_width - k_half_width) * smoothstep(k_narrowing, 0, past);
    }
}

static float lap_shoulder(int k, float lateral);

// The lap's figures, and whether its sections and the start straight keep clear of each other.
static void check_layout(const char *name)
{
    const Line &L = lap(), &S = start();
    float min_radius = 1e9f, min_gap = 1e9f, start_gap = 1e9f;
    for (int i = 0; i < L.n; i++)
        if (fabsf(L.c[i].curvature) > 1e-6f)
            min_radius = fminf(min_radius, 1.0f / fabsf(L.c[i].curvature));
    for (int i = 0; i < L.n; i += 2)
        for (int j = i + 1; j < L.n; j += 2) {
            if (fabsf(line_distance(&L, i, j)) <= 120 || line_distance(&L, j, i) <= 120)
                continue;
            float dx = L.c[j].x - L.c[i].x, dz = L.c[j].z - L.c[i].z;
            float gap = hypotf(dx, dz) - L.c[i].half_width - L.c[j].half_width;
            float towards_j = dx * -L.c[i].tz + dz * L.c[i].tx, towards_i = -dx * -L.c[j].tz - dz * L.c[j].tx;
            min_gap = fminf(min_gap, gap - lap_shoulder(i, towards_j) - lap_shoulder(j, towards_i));
        }
    // the lap's edge against the start straight's, away from where they meet
    for (int j = 0; j < L.n; j++) {
        float d = line_distance(&L, j, g_track.layout.join);
        if (d < 150 || L.length - d < 150 + k_start_runs_on)
            continue;
        float lateral, beyond;
        int k = line_nearest(&S, L.c[j].x, L.c[j].z, 2 * k_reach, &lateral, &beyond);
        if (k >= 0)
            start_gap = fminf(start_gap, hypotf(fmaxf(fabsf(lateral) - S.c[k].half_width, 0), beyond) - L.c[j].half_width);
    }
    printf("datagen: %s lap %.0f ft, tightest radius %.0f ft, closest clearance %.0f ft; start straight %.0f ft, "
           "%.0f ft clear of the lap\n",
           name, L.length, min_radius, min_gap, S.length, start_gap);
    if (min_gap < 20 || start_gap < 0)
        printf("datagen: warning: %s: track sections too close\n", name);
}

// ---- ground and bed ----

static float ground(float x, float z, float world)
{
    float g = 8.0f * fbm(31u, x / 400.0f, z / 400.0f, 3, 0) + 0.010f * x - 0.006f * z;
    float edge = fminf(fminf(x, world - x), fminf(z, world - z));
    float rim = 25.0f * smoothstep(60.0f, 0.0f, edge) * (0.75f + 0.25f * value_noise(37u, x / 60.0f, z / 60.0f, 0));
    return g + rim;
}

// The ground under a line, averaged over 200 ft along it.
static void smooth_bed(Line &line, float world)
{
    int n = line.n;
    int half = (int)(100 / line.step);
    float *raw = (float *)xmalloc(n * sizeof(float));
    for (int i = 0; i < n; i++)
        raw[i] = ground(line.c[i].x, line.c[i].z, world);
    for (int i = 0; i < n; i++) {
        double sum = 0;
        int count = 0;
        for (int k = i - half; k <= i + half; k++) {
            if (!line.closed && (k < 0 || k >= n))
                continue;
            sum += raw[(k % n + n) % n];
            count++;
        }
        line.c[i].bed = (float)(sum / count);
    }
    xfree(raw);
}

// The gate stands on a flat pad with a 1 % rise from it; over the last 150 ft before the join
// the start straight's surface becomes the lap's, and from the join on it is the lap's.
static void build_beds(float world)
{
    smooth_bed(lap(), world);
    Line &S = start();
    smooth_bed(S, world);
    float gate = S.c[line_sample_at(&S, k_gate_along_start)].bed;
    float join_s = line_distance(&S, 0, g_track.layout.start_join);
    g_track.merge = (float *)xmalloc(S.n * sizeof(float));
    for (int i = 0; i < S.n; i++) {
        float s = i * S.step;
        float pad = smoothstep(k_gate_along_start + 200, k_gate_along_start + 80, s);
        S.c[i].bed += (gate + 0.01f * fmaxf(s - k_gate_along_start, 0) - S.c[i].bed) * pad;
        g_track.merge[i] = smoothstep(join_s - 150, join_s, s);
    }
}

// A jump or bump as eased sections from 'start': each section rises (or falls) by dh over ds.
struct Section {
    float ds, dh;
};

static float add_shape(float begin, const Section *sections, int count)
{
    Line &L = lap();
    float s = begin, h = 0;
    for (int k = 0; k < count; k++) {
        for (int i = (int)ceilf(s / L.step); i * L.step < s + sections[k].ds; i++) {
            float t = (i * L.step - s) / sections[k].ds;
            L.c[i % L.n].feature += h + sections[k].dh * 0.5f * (1 - cosf(k_pi * t));
        }
        s += sections[k].ds;
        h += sections[k].dh;
    }
    return s;
}

static void add_profile(float begin, const Section *sections, int count, int kind)
{
    record_feature(begin, add_shape(begin, sections, count) - begin, kind);
}

static void build_features(void)
{
    const float *cs = g_track.control_s;
    // tabletop: 15-degree face up 4 ft, 40 ft table, 15-degree landing. A queue held up by the
    // bike ahead rolls up its face slowly, and a bike stopped on a steeper face slid back
    // into the ones behind.
    const Section table[] = { { 24, 4 }, { 40, 0 }, { 24, -4 } };
    add_profile(cs[5] + 15, table, 3, k_feature_jump);
    // whoops: ten 1.2-ft rollers 14 ft apart, low enough to roll at a pace a queue keeps up
    // and to leave them on the line
    for (int k = 0; k < 10; k++) {
        const Section whoop[] = { { 7, 1.2f }, { 7, -1.2f } };
        add_profile(cs[11] - 40 + 14 * k, whoop, 2, k_feature_whoops);
    }
    // double: two 4-ft kickers, their tops 61 ft apart, the landing falls away; a bike rolling
    // the gap climbs the landing's back at 17 degrees
    const Section take_off[] = { { 15, 4 }, { 10, -4 } };
    const Section landing[] = { { 20, 4 }, { 30, -4 } };
    float lip = cs[15] + 45 + take_off[0].ds;
    add_profile(cs[15] + 45, take_off, 2, k_feature_jump);
    add_profile(lip + 61 - landing[0].ds, landing, 2, k_feature_jump);
    // a single before the S-bends
    const Section single[] = { { 12, 3.5f }, { 22, -3.5f } };
    add_profile(cs[16] + 70, single, 2, k_feature_jump);
    // step-up: 4 ft up, 25 ft on top, then down gently
    const Section step_up[] = { { 12, 4 }, { 25, 0 }, { 45, -4 } };
    add_profile(cs[20] + 40, step_up, 3, k_feature_jump);
    // step-down: a gentle rise, a short flat, then a drop onto a downslope
    const Section step_down[] = { { 40, 3 }, { 10, 0 }, { 16, -3 } };
    add_profile(cs[21] + 20, step_down, 3, k_feature_jump);
    // a kicker 150 ft before the finish line
    float finish = line_distance(&lap(), 0, g_track.layout.join) - k_finish_before_join;
    const Section kicker[] = { { 12, 3 }, { 20, -3 } };
    add_profile(finish - 150 - 12, kicker, 2, k_feature_jump);
    // the sand section: the back straight after the step-down
    g_track.sand_begin = cs[21] + 100;
    g_track.sand_end = cs[22] + 120;
}

// Berms: each corner's outside is banked by its curvature, the strength smoothed along the lap
// so that a berm grows gently and, between two corners, goes down to nothing before it rises
// on the other side.
static void build_berms(void)
{
    Line &L = lap();
    int n = L.n, half = (int)(k_berm_smoothing / L.step);
    float *raw = (float *)xmalloc(n * sizeof(float));
    g_track.bank = (float *)xcalloc(n, sizeof(float));
    for (int i = 0; i < n; i++) {
        float c = L.c[i].curvature;
        raw[i] = (c > 0 ? 1.0f : -1.0f) * smoothstep(1.0f / 300.0f, 1.0f / 90.0f, fabsf(c));
    }
    for (int i = 0; i < n; i++) {
        float sum = 0;
        for (int k = -half; k <= half; k++)
            sum += raw[((i + k) % n + n) % n];
        g_track.bank[i] = sum / (2 * half + 1);
    }
    xfree(raw);
}

// The lap's shoulder on the side of 'lateral': wider behind a berm, whose back falls gently
// enough for a rider who went over the top to ride back up.
static float lap_shoulder(int k, float lateral)
{
    float b = g_track.bank ? g_track.bank[k] : 0;
    return k_shoulder + (b * lateral < 0 ? k_berm_back * fabsf(b) : 0);
}

// The height of the lap's surface at lateral offset 'lateral' from sample k.
static float lap_bed(int k, float lateral)
{
    const Centre &c = lap().c[k];
    float b = g_track.bank[k], bend = fabsf(b), hw = c.half_width;
    float outside = b > 0 ? -lateral : lateral;
    float bank = tanf(k_berm_angle * bend) * fmaxf(0.0f, outside + 0.3f * hw);
    float lip = 2.5f * bend * smoothstep(0.55f * hw, hw, outside);
    return c.bed + c.feature + bank + lip;
}

// How much of a line's surface a point gets (1 on the track, falling to 0 across the shoulder
// and past an open line's ends) and that surface's height there; 0 when the line is far.
static float line_weight(const Line &line, float x, float z, float *height)
{
    float lateral, beyond;
    int k = line_nearest(&line, x, z, k_reach, &lateral, &beyond);
    if (k < 0)
        return 0;
    float hw = line.c[k].half_width, shoulder = &line == &lap() ? lap_shoulder(k, lateral) : k_shoulder;
    float w = (1.0f - smoothstep(hw, hw + shoulder, fabsf(lateral))) * (1.0f - smoothstep(0, k_shoulder, beyond));
    if (&line == &lap()) {
        *height = lap_bed(k, lateral);
        return w;
    }
    *height = line.c[k].bed;
    float lap_lateral, lap_beyond;
    int j = g_track.merge[k] > 0 ? line_nearest(&lap(), x, z, k_reach, &lap_lateral, &lap_beyond) : -1;
    if (j >= 0)
        *height += (lap_bed(j, lap_lateral) - *height) * g_track.merge[k];
    return w;
}

static float track_height(float x, float z, float world)
{
    float g = ground(x, z, world);
    float lap_h = 0, start_h = 0;
    float wl = line_weight(lap(), x, z, &lap_h);
    float ws = line_weight(start(), x, z, &start_h);
    // where the start straight has merged the two surfaces agree; between the lines they blend
    return g + (wl * (lap_h - g) + ws * (start_h - g)) / fmaxf(1.0f, wl + ws);
}

static int surface_at(float x, float z)
{
    const Line *lines[2] = { &lap(), &start() };
    for (const Line *line : lines) {
        float lateral, beyond;
        int k = line_nearest(line, x, z, k_reach, &lateral, &beyond);
        if (k < 0 || fabsf(lateral) > line->c[k].half_width + 2 || beyond > 2)
            continue;
        float s = k * line->step;
        if (line == &lap() && s >= g_track.sand_begin && s <= g_track.sand_end)
            return k_sand;
        return fabsf(lateral) <= 7.0f ? k_hardpack : k_dirt;
    }
    return k_grass;
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

void track_layout_free(TrackLayout *layout)
{
    line_free(&layout->lap);
    line_free(&layout->start);
    memset(layout, 0, sizeof *layout);
}

static void free_track(void)
{
    track_layout_free(&g_track.layout);
    xfree(g_track.bank);
    xfree(g_track.merge);
    memset(&g_track, 0, sizeof g_track);
}

// Lines, beds, features and berms of the sample track on a field 'world' ft wide.
static void lay_out_sample(float world)
{
    free_track();
    line_from_spline(&lap(), k_controls, k_control_count, true);
    for (int k = 0; k < k_control_count; k++) {
        // the lap passes through each control point: its sample nearest to it
        float best = 1e30f;
        for (int i = 0; i < lap().n; i++) {
            float d = hypotf(lap().c[i].x - k_controls[k].x, lap().c[i].z - k_controls[k].z);
            if (d < best) {
                best = d;
                g_track.control_s[k] = i * lap().step;
            }
        }
    }
    for (int i = 0; i < lap().n; i++)
        lap().c[i].half_width = k_half_width;
    build_start(k_start_controls, (int)(sizeof k_start_controls / sizeof k_start_controls[0]), k_join_near);
    line_index(&lap(), world);
    line_index(&start(), world);
    build_beds(world);
    build_features();
    build_berms();
}

static const int k_sample_exponent = 8;
static const float k_sample_spacing = 2.0f;

bool sample_track_layout(TrackLayout *layout)
{
    memset(layout, 0, sizeof *layout);
    lay_out_sample((float)(1 << k_sample_exponent) * 2 * k_sample_spacing);
    *layout = g_track.layout;
    memset(&g_track.layout, 0, sizeof g_track.layout);      // handed over
    free_track();
    return layout->lap.n > 0 && layout->start.n > 0;
}

bool write_sample_track(const char *dir)
{
    Terrain t = {};
    if (!terrain_create(&t, k_sample_exponent, k_sample_spacing))
        return false;
    float world = t.world_size;
    lay_out_sample(world);
    check_layout("sample");
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++)
            t.heights[i + (size_t)j * t.dim] = track_height(i * t.spacing, j * t.spacing, world);
    fill_tilemap(&t, surface_at);
    bool ok = write_track_common(&t, dir, "Sample Track", true);
    ok = ok && write_track_timing(dir, &t, &g_track.layout);
    ok = ok && write_track_lines(dir, &t, &g_track.layout);
    ok = ok && write_track_surroundings(dir, &t, &g_track.layout);
    free_track();
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

// The practice start straight: across the north of the field, then down onto the lap's top.
static const Point2 k_practice_start[] = { { 40, 95 }, { 150, 100 }, { 215, 140 } };

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
    float lateral, beyond;
    int k = line_nearest(&start(), x, z, k_reach, &lateral, &beyond);
    if (k >= 0 && fabsf(lateral) <= start().c[k].half_width + 2 && beyond <= 2)
        return k_dirt;
    return x >= 96 && x <= 416 && z >= 160 && z <= 352 ? k_dirt : k_grass;
}

bool write_practice_track(const char *dir)
{
    Terrain t = {};
    if (!terrain_create(&t, 7, 2.0f))
        return false;
    free_track();
    // a lap round the pad: an ellipse over the ramps, sampled every foot or so
    line_from_ellipse(&lap(), 256, 256, 140, 80, 720);
    for (int i = 0; i < lap().n; i++)
        lap().c[i].half_width = k_half_width;
    build_start(k_practice_start, (int)(sizeof k_practice_start / sizeof k_practice_start[0]), { 256, 176 });
    line_index(&lap(), t.world_size);
    line_index(&start(), t.world_size);
    check_layout("practice");
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++) {
            float h = 0;
            for (const Ramp &r : k_ramps)
                h = fmaxf(h, ramp_height(r, i * t.spacing, j * t.spacing));
            t.heights[i + (size_t)j * t.dim] = h;
        }
    fill_tilemap(&t, practice_surface);
    bool ok = write_track_common(&t, dir, "Practice Field", false);
    ok = ok && write_track_timing(dir, &t, &g_track.layout);
    ok = ok && write_track_lines(dir, &t, &g_track.layout);
    ok = ok && write_track_surroundings(dir, &t, &g_track.layout);
    free_track();
    terrain_unload(&t);
    return ok;
}
