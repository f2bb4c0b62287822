#include "render/scenery/flaggers.h"

#include <math.h>

#include "common/mem.h"
#include "render/scenery/scenery.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static Flaggers g_flaggers = { false, false, -1, {}, {}, 0, {}, -1, -1, {}, -1, nullptr, 0, 0 };

static bool finite_all(const float *v, int n)
{
    for (int i = 0; i < n; i++)
        if (!isfinite(v[i]))
            return false;
    return true;
}

static bool read_textures(DataFile *f, unsigned *out, int n)
{
    char name[1024];
    const SceneryHooks *h = scenery_hooks();
    for (int i = 0; i < n; i++) {
        if (data_scanf(f, " %1023s ", name) != 1)
            return false;
        out[i] = h->texture_load ? h->texture_load(name) : 0;
    }
    return true;
}

static int clamp_gate(int g, int checkpoints)
{
    return g < -1 ? -1 : g > checkpoints - 1 ? checkpoints - 1 : g;
}

int flaggers_load(DataFile *f, int checkpoints)
{
    flaggers_free();
    Flaggers &fl = g_flaggers;
    int made = 0;
    float v[9];
    if (f && data_scanf(f, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                        &v[7], &v[8]) == 9 && finite_all(v, 9) && read_textures(f, fl.start_pictures, 5)) {
        for (int k = 0; k < 3; k++)
            fl.start[k] = v[k], fl.end[k] = v[3 + k];
        fl.duration = v[8];
        fl.start_billboard = billboard_add(v[0], v[1], v[2], v[6], v[7], fl.start_pictures[0], nullptr);
        fl.start_shown = 0;
        fl.has_start = true;
        made++;
        if (data_scanf(f, " [ %f %f %f ] %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4]) == 5 && finite_all(v, 5) &&
            read_textures(f, fl.lap_pictures, 4)) {
            fl.lap_billboard = billboard_add(v[0], v[1], v[2], v[3], v[4], fl.lap_pictures[0], nullptr);
            fl.lap_shown = 0;
            fl.has_lap = true;
            made++;
            int g[4];
            unsigned pictures[2];
            while (data_scanf(f, " [ %f %f %f ] %f %f %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &g[0], &g[1],
                              &g[2], &g[3]) == 9 &&
                   finite_all(v, 5) && read_textures(f, pictures, 2)) {
                if (fl.worker_count >= fl.worker_capacity) {
                    fl.worker_capacity = fl.worker_capacity ? fl.worker_capacity * 2 : 8;
                    fl.workers = (CornerWorker *)xrealloc(fl.workers, (size_t)fl.worker_capacity * sizeof(CornerWorker));
                }
                CornerWorker &w = fl.workers[fl.worker_count++];
                w.billboard = billboard_add(v[0], v[1], v[2], v[3], v[4], pictures[0], nullptr);
                for (int k = 0; k < FLAGGER_CORNER_GATES; k++)
                    w.gates[k] = clamp_gate(g[k], checkpoints);
                w.normal = pictures[0];
                w.warning = pictures[1];
                made++;
            }
        }
    }
    scenery_reserved_done();
    return made;
}

const Flaggers *flaggers(void) { return &g_flaggers; }

void flaggers_free(void)
{
    xfree(g_flaggers.workers);
    g_flaggers = { false, false, -1, {}, {}, 0, {}, -1, -1, {}, -1, nullptr, 0, 0 };
}

int start_flagger_picture(double t, float duration)
{
    if (!(t >= 0.1))
        return 0;
    if (t < 0.4)
        return 1;
    if (t < 1)
        return 2;
    // A walk of no length (or a broken one) is over as soon as it starts.
    double walk = duration > 0 && isfinite(duration) ? duration : 0;
    return t < 1 + walk ? 3 : 4;
}

float start_flagger_progress(double t, float duration)
{
    if (!(t > 1))
        return 0;
    if (!(duration > 0) || !isfinite(duration))
        return 1;
    double u = (t - 1) / duration;
    return u >= 1 ? 1 : (float)u;
}

bool corner_worker_warns(const CornerWorker *w, const int *down_gates, int down_count)
{
    for (int r = 0; r < down_count; r++)
        for (int k = 0; k < FLAGGER_CORNER_GATES; k++)
            if (w->gates[k] >= 0 && w->gates[k] == down_gates[r])
                return true;
    return false;
}

static void show(int index, unsigned texture)
{
    Billboard *b = billboard(index);
    if (!b || b->texture == texture)
        return;
    b->texture = texture;
    if (texture && scenery_hooks()->animation_restart)
        scenery_hooks()->animation_restart(texture);
}

static void put_on_ground(Billboard *b, float x, float y_offset, float z, const Terrain *t)
{
    b->x = x;
    b->z = z;
    b->y_offset = y_offset;
    b->y = y_offset + (t && t->heights ? terrain_height(t, x, z) : 0);
}

void flaggers_apply(const FlaggerView *view)
{
    Flaggers &fl = g_flaggers;
    if (fl.has_start) {
        int picture = start_flagger_picture(view->since_drop, fl.duration);
        if (picture != fl.start_shown) {
            fl.start_shown = picture;
            show(fl.start_billboard, fl.start_pictures[picture]);
        }
        float u = start_flagger_progress(view->since_drop, fl.duration);
        if (Billboard *b = billboard(fl.start_billboard))
            put_on_ground(b, fl.start[0] + u * (fl.end[0] - fl.start[0]), fl.start[1] + u * (fl.end[1] - fl.start[1]),
                          fl.start[2] + u * (fl.end[2] - fl.start[2]), scenery_ground());
    }
    if (fl.has_lap) {
        int picture = view->board < 0 ? 0 : view->board > 3 ? 3 : view->board;
        if (picture != fl.lap_shown) {
            fl.lap_shown = picture;
            show(fl.lap_billboard, fl.lap_pictures[picture]);
        }
    }
    for (int i = 0; i < fl.worker_count; i++) {
        const CornerWorker &w = fl.workers[i];
        show(w.billboard, corner_worker_warns(&w, view->down_gates, view->down_count) ? w.warning : w.normal);
    }
}
