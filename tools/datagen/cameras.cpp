// A generated track's trackside cameras and its map. The first camera overlooks the starting
// gate from ahead and beside it; the others stand outside the sharpest corners, spread round
// the lap. Every checkpoint goes to the camera that sees most of the stretch after it, so that
// following a rider switches cameras as he rides from one to the next. "map.png" is the field
// from above, row 0 at z = 0, for the HUD's track map.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include "common/mem.h"
#include "datagen.h"
#include "race/timing.h"
#include "render/image/image.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const float k_camera_reach = 450;       // ft: farther than this a camera shows too little
static const float k_eye_above_rider = 3;      // ft: what a camera aims at above the ground
static const int k_map_size = 256;

// Whether the ground hides (x, z), k_eye_above_rider up, from the camera.
static bool camera_sees(const Terrain *t, const TrackCamera &c, float x, float z)
{
    float eye = terrain_height(t, c.x, c.z) + c.height, target = terrain_height(t, x, z) + k_eye_above_rider;
    float len = hypotf(x - c.x, z - c.z);
    if (len > k_camera_reach)
        return false;
    for (float d = 4; d < len - 4; d += 4) {
        float u = d / len;
        if (terrain_height(t, c.x + (x - c.x) * u, c.z + (z - c.z) * u) > eye + (target - eye) * u - 0.5f)
            return false;
    }
    return true;
}

// A camera off the track on one side of a line's sample, 'gap' ft beyond the edge, or farther
// out (up to 'gap' + 30 ft) where another section passes, or higher where a berm hides the
// sample; then the same on the other side.
static bool place_beside(const Terrain *t, const TrackLayout *layout, const Centre &c, float side, float gap,
                         TrackCamera *cam)
{
    const float heights[2] = { cam->height, cam->height + 10 };
    for (int attempt = 0; attempt < 12; attempt++) {
        float s = attempt < 6 ? side : -side;
        float lateral = s * (c.half_width + gap + 15 * (attempt % 3));
        cam->x = c.x - c.tz * lateral;
        cam->z = c.z + c.tx * lateral;
        cam->height = heights[attempt % 6 / 3];
        if (track_clearance(layout, cam->x, cam->z, 60) >= gap - 1 && camera_sees(t, *cam, c.x, c.z))
            return true;
    }
    return false;
}

int track_cameras(const Terrain *t, const TrackLayout *layout, TrackCamera *out, int max)
{
    if (max < 1)
        return 0;
    int n = 0;
    // Up behind the line-up, looking over the riders' backs along the start straight.
    const Line &S = layout->start, &L = layout->lap;
    for (float back : { 25.0f, 15.0f, 40.0f }) {
        const Centre &g = S.c[0];
        TrackCamera cam = { g.x - g.tx * back, g.z - g.tz * back, 24, 70, 40 };
        if (track_clearance(layout, cam.x, cam.z, 60) >= 12) {
            out[n++] = cam;
            break;
        }
    }
    // Outside the sharpest corners, at least 250 ft apart along the lap.
    LapCorner corners[k_max_corners];
    int count = lap_corners(layout, corners, k_max_corners);
    bool taken[k_max_corners] = {};
    int chosen[k_max_corners], chosen_count = 0;
    while (n + chosen_count < max) {
        int best = -1;
        for (int k = 0; k < count; k++) {
            if (taken[k])
                continue;
            bool spaced = true;
            for (int j = 0; j < chosen_count; j++) {
                float d = line_distance(&L, corners[chosen[j]].apex, corners[k].apex);
                spaced = spaced && fminf(d, L.length - d) >= 250;
            }
            if (spaced && (best < 0 || fabsf(corners[k].curvature) > fabsf(corners[best].curvature)))
                best = k;
        }
        if (best < 0)
            break;
        taken[best] = true;
        chosen[chosen_count++] = best;
    }
    // in order round the lap
    for (int k = 0; k < count && n < max; k++) {
        if (!taken[k])
            continue;
        const Centre &c = L.c[corners[k].apex];
        TrackCamera cam = { 0, 0, 20, 60, 25 };
        if (place_beside(t, layout, c, corners[k].curvature > 0 ? -1.0f : 1.0f, 30, &cam))
            out[n++] = cam;
    }
    return n;
}

// The camera that sees most of a checkpoint's stretch, nearer points counting more; the
// nearest to the stretch's middle when none sees any of it.
static int camera_for_stretch(const Terrain *t, const TrackCamera *cams, int count, const Point2 *points, int n)
{
    int best = -1;
    float best_score = 0;
    for (int k = 0; k < count; k++) {
        float score = 0;
        for (int i = 0; i < n; i++)
            if (camera_sees(t, cams[k], points[i].x, points[i].z))
                score += 1 / (1 + hypotf(points[i].x - cams[k].x, points[i].z - cams[k].z) / 100);
        if (score > best_score) {
            best_score = score;
            best = k;
        }
    }
    if (best >= 0 || n == 0)
        return best < 0 ? 0 : best;
    float nearest = 1e30f;
    for (int k = 0; k < count; k++) {
        float d = hypotf(points[n / 2].x - cams[k].x, points[n / 2].z - cams[k].z);
        if (d < nearest) {
            nearest = d;
            best = k;
        }
    }
    return best;
}

static bool write_cameras_file(const char *dir, const Terrain *t, const TrackLayout *layout, const Timing *timing)
{
    TrackCamera cams[k_max_track_cameras];
    int count = track_cameras(t, layout, cams, k_max_track_cameras);
    int owner[k_max_checkpoints];
    Point2 *points = (Point2 *)xmalloc(4096 * sizeof(Point2));
    for (int cp = 0; cp < timing->checkpoint_count; cp++) {
        int n = checkpoint_stretch(layout, timing, cp, points, 4096, 8);
        owner[cp] = count > 0 ? camera_for_stretch(t, cams, count, points, n) : -1;
    }
    xfree(points);
    char path[1100];
    snprintf(path, sizeof path, "%s/cameras", dir);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    data_printf(f, "# trackside cameras: the checkpoints each covers, then where it stands\n");
    for (int k = 0; k < count; k++) {
        data_printf(f, "fov %.0f\nautofovsize %.0f\n", cams[k].fov, cams[k].auto_fov_size);
        bool any = false;
        for (int cp = 0; cp < timing->checkpoint_count && cp < 256; cp++)
            if (owner[cp] == k) {
                data_printf(f, any ? " %d" : "gate %d", cp);
                any = true;
            }
        if (any)
            data_printf(f, "\n");
        data_printf(f, "addcamera %.2f %.2f %.2f\n", cams[k].x, cams[k].height, cams[k].z);
    }
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

// The field from above: grass faint and see-through, the track's surface light with a dark
// edge, the finish line white. 3 x 3 samples a pixel.
static bool write_map(const char *dir, const Terrain *t, const TrackLayout *layout, const Timing *timing)
{
    const float grass[4] = { 0.20f, 0.34f, 0.18f, 0.45f }, edge[4] = { 0.08f, 0.08f, 0.08f, 0.95f };
    const float surface[4] = { 0.86f, 0.74f, 0.55f, 0.95f }, line[4] = { 1, 1, 1, 1 };
    const Checkpoint &finish = timing->checkpoints[0];
    float across_x = -finish.direction.z, across_z = finish.direction.x;
    float dir_len = hypotf(across_x, across_z);
    float ft = t->world_size / k_map_size;
    unsigned char *px = (unsigned char *)xmalloc((size_t)k_map_size * k_map_size * 4);
    for (int row = 0; row < k_map_size; row++)
        for (int col = 0; col < k_map_size; col++) {
            float sum[4] = {};
            for (int sy = 0; sy < 3; sy++)
                for (int sx = 0; sx < 3; sx++) {
                    float x = (col + (sx + 0.5f) / 3) * ft, z = (row + (sy + 0.5f) / 3) * ft;
                    float clear = track_clearance(layout, x, z, 4 * ft);
                    const float *c = clear > 1.5f * ft ? grass : (clear > 0 ? edge : surface);
                    if (clear <= 0 && dir_len > 0) {
                        float dx = x - finish.centre.x, dz = z - finish.centre.z;
                        float along = (dx * finish.direction.x + dz * finish.direction.z) / dir_len;
                        float side = (dx * across_x + dz * across_z) / dir_len;
                        if (fabsf(along) < ft && fabsf(side) < finish.radius)
                            c = line;
                    }
                    for (int k = 0; k < 3; k++)
                        sum[k] += c[k] * c[3];
                    sum[3] += c[3];
                }
            unsigned char *p = px + ((size_t)row * k_map_size + col) * 4;
            for (int k = 0; k < 3; k++)
                p[k] = (unsigned char)lrintf(clampf(sum[3] > 0 ? sum[k] / sum[3] : 0, 0, 1) * 255);
            p[3] = (unsigned char)lrintf(clampf(sum[3] / 9, 0, 1) * 255);
        }
    char path[1100];
    snprintf(path, sizeof path, "%s/map.png", dir);
    bool ok = png_write_rgba(path, px, k_map_size, k_map_size);
    xfree(px);
    return ok;
}

bool write_track_cameras(const char *dir, const Terrain *t, const TrackLayout *layout, const Timing *timing)
{
    return write_cameras_file(dir, t, layout, timing) && write_map(dir, t, layout, timing);
}
