// A generated track's trackside objects: trees and bushes off the track, tinted banners along
// the start straight ("billboards"); hay bales and tuff blocks lining the outside of the
// corners ("statues"); the starter, the finish-line flagger and a marshal at each corner
// ("flaggers"); the finish line painted on the ground ("decals"). Everything keeps clear of the
// racing surface, worked out from the lap's and the start straight's centre lines.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "common/mem.h"
#include "datagen.h"
#include "race/timing.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"
#include "vfs/vfs.h"

static const float k_corner_curvature = 1.0f / 220;    // tighter than this is a corner
static const float k_statue_gap = 4;           // ft from the track's edge to a statue's side
static const float k_tree_gap = 14;            // ft from the track's edge to a tree's crown
static const float k_bush_gap = 8;
static const float k_banner_gap = 3;
static const float k_marshal_gap = 12;

float track_clearance(const TrackLayout *layout, float x, float z, float far)
{
    float best = far;
    for (const Line *line : { &layout->lap, &layout->start }) {
        float lateral, beyond;
        int k = line_nearest(line, x, z, far + 70, &lateral, &beyond);
        if (k < 0)
            continue;
        float outside = fabsf(lateral) - line->c[k].half_width;
        float d = beyond > 0 ? hypotf(fmaxf(outside, 0), beyond) : outside;
        best = fminf(best, d);
    }
    return best;
}

int lap_corners(const TrackLayout *layout, LapCorner *out, int max)
{
    const Line &L = layout->lap;
    int n = L.n, half = (int)(20 / L.step);
    float *smooth = (float *)xmalloc(n * sizeof(float));
    for (int i = 0; i < n; i++) {
        float sum = 0;
        for (int k = -half; k <= half; k++)
            sum += L.c[((i + k) % n + n) % n].curvature;
        smooth[i] = sum / (2 * half + 1);
    }
    // an apex is the tightest sample within 60 ft either way
    int window = (int)(60 / L.step), count = 0;
    for (int i = 0; i < n && count < max; i++) {
        float k = fabsf(smooth[i]);
        bool apex = k >= k_corner_curvature;
        for (int d = -window; d <= window && apex; d++) {
            float other = fabsf(smooth[((i + d) % n + n) % n]);
            apex = d == 0 || (d < 0 ? other < k : other <= k);
        }
        if (apex)
            out[count++] = { i, smooth[i] };
    }
    xfree(smooth);
    return count;
}

// Which line a checkpoint lies on, and how far along it.
static bool checkpoint_on_lap(const TrackLayout *layout, const Checkpoint &c, float *s)
{
    float lateral, beyond;
    int k = line_nearest(&layout->lap, c.centre.x, c.centre.z, 3, &lateral, &beyond);
    if (k >= 0) {
        *s = k * layout->lap.step;
        return true;
    }
    k = line_nearest(&layout->start, c.centre.x, c.centre.z, 3, &lateral, &beyond);
    *s = k >= 0 ? k * layout->start.step : 0;
    return false;
}

// The checkpoint riders pass after this one: the next of the normal lap's order, or of the
// first lap's for the checkpoints only the first lap passes.
static int next_checkpoint(const Timing *timing, int checkpoint)
{
    for (int k = 0; k < timing->normal_count; k++)
        if (timing->normal[k] % k_non_counting == checkpoint)
            return timing->normal[(k + 1) % timing->normal_count] % k_non_counting;
    for (int k = 0; k + 1 < timing->first_count; k++)
        if (timing->first[k] % k_non_counting == checkpoint)
            return timing->first[k + 1] % k_non_counting;
    return -1;
}

int checkpoint_stretch(const TrackLayout *layout, const Timing *timing, int checkpoint, Point2 *out, int max, float step)
{
    int next = next_checkpoint(timing, checkpoint);
    if (checkpoint < 0 || checkpoint >= timing->checkpoint_count || next < 0)
        return 0;
    const Line &L = layout->lap, &S = layout->start;
    float from, to;
    bool from_lap = checkpoint_on_lap(layout, timing->checkpoints[checkpoint], &from);
    bool to_lap = checkpoint_on_lap(layout, timing->checkpoints[next], &to);
    int n = 0;
    if (!from_lap) {
        // along the start straight, then onto the lap from the join
        float end = to_lap ? layout->start_join * S.step : to;
        for (float s = from; s <= end && n < max; s += step)
            out[n++] = { S.c[line_sample_at(&S, s)].x, S.c[line_sample_at(&S, s)].z };
        if (!to_lap)
            return n;
        from = layout->join * L.step;
    }
    float length = to - from;
    if (length <= 0)
        length += L.length;
    for (float d = 0; d <= length && n < max; d += step) {
        const Centre &c = L.c[line_sample_at(&L, from + d)];
        out[n++] = { c.x, c.z };
    }
    return n;
}

// The heading that faces along (tx, tz), as the gate's does: a model as built faces -z.
static float facing(float tx, float tz)
{
    return atan2f(-tx, -tz);
}

// ---- statues ----

// A row of statues along the outside of each corner, alternately tuff blocks and hay bales,
// clear of the track by k_statue_gap.
static void write_statues(DataFile *f, const TrackLayout *layout, const LapCorner *corners, int count)
{
    const Line &L = layout->lap;
    for (int k = 0; k < count; k++) {
        bool blocks = k % 2 == 0;
        const float *size = blocks ? k_block_size : k_bale_size;
        float apex = corners[k].apex * L.step, out = corners[k].curvature > 0 ? -1.0f : 1.0f;
        for (float d = -36; d <= 36; d += size[2] + 1.5f) {
            const Centre &c = L.c[line_sample_at(&L, apex + d)];
            float lateral = out * (c.half_width + k_statue_gap + size[0] / 2);
            float x = c.x - c.tz * lateral, z = c.z + c.tx * lateral;
            // its whole length clear, wherever another section passes
            float ex = c.tx * size[2] / 2, ez = c.tz * size[2] / 2;
            if (track_clearance(layout, x, z, 50) < k_statue_gap + size[0] / 2 - 0.5f ||
                track_clearance(layout, x + ex, z + ez, 50) < k_statue_gap - 0.5f ||
                track_clearance(layout, x - ex, z - ez, 50) < k_statue_gap - 0.5f)
                continue;
            data_printf(f, "[%.2f %.2f %.2f] %.4f %s %s %s\n", x, -0.1f, z, facing(c.tx, c.tz),
                        blocks ? k_block_model : k_bale_model, blocks ? k_block_texture : k_bale_texture,
                        blocks ? k_block_shape : k_bale_shape);
        }
    }
}

// ---- billboards ----

struct Flora {
    const char *picture;
    float height, spread, aspect, gap;
};

static const Flora k_flora[] = {
    { k_pine_picture, 26, 18, 0.45f, k_tree_gap },
    { k_oak_picture, 22, 12, 1.0f, k_tree_gap },
    { k_bush_picture, 3.5f, 3, 1.8f, k_bush_gap },
};

// Whether a billboard of this half width at (x, z) would stand in a camera's view of the lap.
static bool blocks_camera(const TrackLayout *layout, const TrackCamera *cams, int cam_count, float x, float z,
                          float half)
{
    const Line &L = layout->lap;
    for (int k = 0; k < cam_count; k++) {
        const TrackCamera &c = cams[k];
        if (hypotf(x - c.x, z - c.z) < half + 40)
            return true;
        for (int i = 0; i < L.n; i += (int)(10 / L.step)) {
            float dx = L.c[i].x - c.x, dz = L.c[i].z - c.z, len2 = dx * dx + dz * dz;
            if (len2 > 260.0f * 260.0f)
                continue;
            float t = clampf(((x - c.x) * dx + (z - c.z) * dz) / len2, 0, 1);
            if (hypotf(x - (c.x + t * dx), z - (c.z + t * dz)) < half + 6)
                return true;
        }
    }
    return false;
}

static int write_flora(DataFile *f, const Terrain *t, const TrackLayout *layout, const TrackCamera *cams, int cam_count)
{
    const float cell = 22, world = t->world_size;
    int written = 0;
    for (int j = 0; (j + 1) * cell < world; j++)
        for (int i = 0; (i + 1) * cell < world; i++) {
            // groves: dense where the noise is high, a lone tree here and there elsewhere
            float gx = (i + 0.5f) * cell, gz = (j + 0.5f) * cell;
            float grove = fbm(131u, gx / 260.0f, gz / 260.0f, 3, 0);
            float chance = 0.06f + 0.7f * smoothstep(0.05f, 0.45f, grove);
            if (hash01(137u, i, j) >= chance)
                continue;
            float pick = hash01(139u, i, j);
            const Flora &fl = k_flora[pick < 0.45f ? 0 : (pick < 0.8f ? 1 : 2)];
            float x = gx + (hash01(149u, i, j) - 0.5f) * cell * 0.8f;
            float z = gz + (hash01(151u, i, j) - 0.5f) * cell * 0.8f;
            float h = fl.height + fl.spread * hash01(157u, i, j), half = h * fl.aspect / 2;
            // on grass only: not on a dirt pad or a ramp off the lap
            int tile = tile_at(t, x, z);
            if (x < 8 || z < 8 || x > world - 8 || z > world - 8 || (tile != 1 && tile != 3))
                continue;
            if (track_clearance(layout, x, z, 80) < fl.gap + half || blocks_camera(layout, cams, cam_count, x, z, half))
                continue;
            // trunks sink a little, so that they stand in sloping ground
            data_printf(f, "[%.2f %.2f %.2f] %.2f %.3f %s\n", x, -0.4f, z, h, fl.aspect, fl.picture);
            written++;
        }
    return written;
}

// Banners on both sides of the start straight from behind the gate to where it narrows,
// tinted in turn; white ones carry no colour.
static int write_banners(DataFile *f, const TrackLayout *layout)
{
    static const unsigned k_tints[] = { 0xd83020, 0x2050d0, 0xffffff, 0xf0c020, 0x20a040, 0xe07010 };
    const Line &S = layout->start;
    const float height = 6, aspect = 2, half = height * aspect / 2;
    float end = layout->start_join * S.step - 160;
    int written = 0, tint = 0;
    for (float s = k_gate_along_start - 10; s <= end; s += 36)
        for (float side : { -1.0f, 1.0f }) {
            const Centre &c = S.c[line_sample_at(&S, s)];
            float lateral = side * (c.half_width + k_banner_gap + half);
            float x = c.x - c.tz * lateral, z = c.z + c.tx * lateral;
            if (track_clearance(layout, x, z, 50) < k_banner_gap + half - 0.5f)
                continue;
            unsigned rgb = k_tints[tint++ % (sizeof k_tints / sizeof k_tints[0])];
            if (rgb == 0xffffff)
                data_printf(f, "[%.2f %.2f %.2f] %.1f %.1f %s\n", x, 0.0f, z, height, aspect, k_banner_picture);
            else
                data_printf(f, "[%.2f %.2f %.2f] %.1f %.1f #%06x#%s\n", x, 0.0f, z, height, aspect, rgb,
                            k_banner_picture);
            written++;
        }
    return written;
}

// ---- flaggers ----

// The side (+1 right, -1 left) of a line's sample with more room off the track.
static float roomier_side(const TrackLayout *layout, const Centre &c, float lateral)
{
    float room[2];
    for (int k = 0; k < 2; k++) {
        float side = k ? 1.0f : -1.0f;
        room[k] = track_clearance(layout, c.x - c.tz * side * lateral, c.z + c.tx * side * lateral, 60);
    }
    return room[1] >= room[0] ? 1.0f : -1.0f;
}

static void write_flaggers(DataFile *f, const TrackLayout *layout, const Timing *timing, const LapCorner *corners,
                           int count)
{
    const float height = 6, aspect = 0.5f;
    // The starter stands beside the pad just ahead of the gate, and walks off once it drops.
    const Line &S = layout->start, &L = layout->lap;
    const Centre &g = S.c[line_sample_at(&S, k_gate_along_start + 8)];
    float side = roomier_side(layout, g, g.half_width + 22);
    float a = side * (g.half_width + 5), b = side * (g.half_width + 22);
    data_printf(f, "[%.2f 0 %.2f] [%.2f 0 %.2f] %.1f %.2f %.1f", g.x - g.tz * a, g.z + g.tx * a,
                g.x - g.tz * b + g.tx * 6, g.z + g.tx * b + g.tz * 6, height, aspect, 5.0f);
    for (const char *p : k_start_flagger_pictures)
        data_printf(f, " %s", p);
    data_printf(f, "\n");
    // The finish-line flagger, beside the line on the side with more room.
    const Checkpoint &finish = timing->checkpoints[0];
    float lateral, beyond;
    int k = line_nearest(&L, finish.centre.x, finish.centre.z, 5, &lateral, &beyond);
    const Centre &c = L.c[k < 0 ? 0 : k];
    side = roomier_side(layout, c, c.half_width + 6);
    a = side * (c.half_width + 6);
    data_printf(f, "[%.2f 0 %.2f] %.1f %.2f", c.x - c.tz * a + c.tx * 3, c.z + c.tx * a + c.tz * 3, height, aspect);
    for (const char *p : k_lap_flagger_pictures)
        data_printf(f, " %s", p);
    data_printf(f, "\n");
    // A marshal outside each corner, behind its statues, watching the checkpoints whose
    // stretches run through the corner: a rider down there last passed one of them.
    Point2 *points = (Point2 *)xmalloc(4096 * sizeof(Point2));
    for (int i = 0; i < count; i++) {
        const Centre &apex = L.c[line_sample_at(&L, corners[i].apex * L.step - 12)];
        float out = corners[i].curvature > 0 ? -1.0f : 1.0f;
        a = out * (apex.half_width + k_marshal_gap);
        float x = apex.x - apex.tz * a, z = apex.z + apex.tx * a;
        if (track_clearance(layout, x, z, 40) < k_marshal_gap - 1)
            continue;
        int gates[4] = { -1, -1, -1, -1 }, n = 0;
        for (int cp = 0; cp < timing->checkpoint_count && n < 4; cp++) {
            int m = checkpoint_stretch(layout, timing, cp, points, 4096, 4);
            bool near = false;
            for (int p = 0; p < m && !near; p++)
                near = hypotf(points[p].x - apex.x, points[p].z - apex.z) < 90;
            if (near)
                gates[n++] = cp;
        }
        data_printf(f, "[%.2f 0 %.2f] %.1f %.2f %d %d %d %d %s %s\n", x, z, height, aspect, gates[0], gates[1], gates[2],
                    gates[3], k_worker_pictures[0], k_worker_pictures[1]);
    }
    xfree(points);
}

// ---- decals ----

// The finish line across the lap at checkpoint 0: two feet deep (s), as long as the track is
// wide (s x r), its length along the rider's right.
static void write_decals(DataFile *f, const TrackLayout *layout, const Timing *timing)
{
    const Checkpoint &finish = timing->checkpoints[0];
    float lateral, beyond;
    int k = line_nearest(&layout->lap, finish.centre.x, finish.centre.z, 5, &lateral, &beyond);
    const Centre &c = layout->lap.c[k < 0 ? 0 : k];
    const float depth = 2;
    data_printf(f, "[%.2f %.2f] %.4f %.1f %.2f %s\n", c.x, c.z, atan2f(c.tx, -c.tz), depth, 2 * c.half_width / depth,
                k_finish_line_picture);
}

static DataFile *create(const char *dir, const char *name)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    return open_data_file(path, "wb");
}

static bool close_written(DataFile *f)
{
    bool ok = f && data_flush(f);
    close_data_file(f);
    return ok;
}

bool write_track_scenery(const char *dir, const Terrain *t, const TrackLayout *layout, const Timing *timing)
{
    LapCorner corners[k_max_corners];
    int corner_count = lap_corners(layout, corners, k_max_corners);
    TrackCamera cams[k_max_track_cameras];
    int cam_count = track_cameras(t, layout, cams, k_max_track_cameras);
    DataFile *f = create(dir, "billboards");
    if (f) {
        int banners = write_banners(f, layout), flora = write_flora(f, t, layout, cams, cam_count);
        printf("datagen: %s: %d banners, %d trees and bushes, %d corners\n", dir, banners, flora, corner_count);
    }
    bool ok = close_written(f);
    f = ok ? create(dir, "statues") : nullptr;
    if (f)
        write_statues(f, layout, corners, corner_count);
    ok = close_written(f);
    f = ok ? create(dir, "flaggers") : nullptr;
    if (f)
        write_flaggers(f, layout, timing, corners, corner_count);
    ok = close_written(f);
    f = ok ? create(dir, "decals") : nullptr;
    if (f)
        write_decals(f, layout, timing);
    return close_written(f);
}

bool write_track_surroundings(const char *dir, const Terrain *t, const TrackLayout *layout)
{
    Timing *timing = (Timing *)xcalloc(1, sizeof(Timing));
    char path[1100];
    snprintf(path, sizeof path, "%s/timing_gates", dir);
    DataFile *in = open_data_file(path, "rb");
    bool ok = in && timing_parse(timing, in, 0) && timing->checkpoint_count > 0;
    close_data_file(in);
    ok = ok && write_track_scenery(dir, t, layout, timing) && write_track_cameras(dir, t, layout, timing);
    timing_clear(timing);
    xfree(timing);
    return ok;
}
