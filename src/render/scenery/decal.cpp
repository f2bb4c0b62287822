#include "render/scenery/decal.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "render/scenery/scenery.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

// The length runs along (cos, sin) in (x, z), the width along (-sin, cos).
Decal decal_make(float x, float z, float angle, float size, float aspect)
{
    Decal d = {};
    d.x = x;
    d.z = z;
    d.angle = angle;
    d.sin_angle = sinf(angle);
    d.cos_angle = cosf(angle);
    d.size = size;
    d.aspect = aspect;
    return d;
}

void decal_box(const Decal *d, float *x0, float *z0, float *x1, float *z1)
{
    float hx = fabsf(d->size * 0.5f * d->sin_angle) + fabsf(d->size * d->aspect * 0.5f * d->cos_angle);
    float hz = fabsf(d->size * 0.5f * d->cos_angle) + fabsf(d->size * d->aspect * 0.5f * d->sin_angle);
    *x0 = d->x - hx;
    *x1 = d->x + hx;
    *z0 = d->z - hz;
    *z1 = d->z + hz;
}

void decal_coords(const Decal *d, float x, float z, float *u, float *v)
{
    float dx = x - d->x, dz = z - d->z;
    float length = d->size * d->aspect;
    *u = length > 0 ? (dx * d->cos_angle + dz * d->sin_angle) / length + 0.5f : -1;
    *v = d->size > 0 ? (-dx * d->sin_angle + dz * d->cos_angle) / d->size + 0.5f : -1;
}

// ---- the file and the buckets

struct Bucket {
    int *decals;
    int count, capacity;
};

static struct {
    Bucket buckets[DECAL_GRID][DECAL_GRID];
    const Terrain *terrain;     // whose decals they are
    const Decal *decals;        // its array when last bucketed
    int count;
} g_decals;

static void buckets_free(void)
{
    for (auto &row : g_decals.buckets)
        for (Bucket &b : row) {
            xfree(b.decals);
            b = {};
        }
    g_decals.terrain = nullptr;
    g_decals.decals = nullptr;
    g_decals.count = 0;
}

bool decal_buckets_cover(const Terrain *t)
{
    return t && g_decals.terrain == t && g_decals.decals == t->decals && g_decals.count == t->decal_count;
}

static int bucket_of(const Terrain *t, float v)
{
    float cell = t->world_size / (float)DECAL_GRID;
    if (!(cell > 0))
        return 0;
    float c = floorf(v / cell);
    return !(c >= 0) ? 0 : c >= (float)DECAL_GRID ? DECAL_GRID - 1 : (int)c;
}

// A cell index within the field (a decal may reach far outside it).
static int cell_index(const Terrain *t, float c)
{
    return !(c >= 0) ? 0 : c >= (float)(t->dim - 1) ? t->dim - 1 : (int)c;
}

// Indices only grow as decals are added, so appending keeps every bucket sorted.
static void bucket_decal(Terrain *t, int index)
{
    float x0, z0, x1, z1;
    decal_box(&t->decals[index], &x0, &z0, &x1, &z1);
    for (int bz = bucket_of(t, z0); bz <= bucket_of(t, z1); bz++)
        for (int bx = bucket_of(t, x0); bx <= bucket_of(t, x1); bx++) {
            Bucket &b = g_decals.buckets[bz][bx];
            if (b.count >= b.capacity) {
                b.capacity = b.capacity ? b.capacity * 2 : 16;
                b.decals = (int *)xrealloc(b.decals, (size_t)b.capacity * sizeof(int));
            }
            b.decals[b.count++] = index;
        }
    const SceneryHooks *h = scenery_hooks();
    if (h->ground_changed && t->spacing > 0)
        h->ground_changed(cell_index(t, floorf(x0 / t->spacing)), cell_index(t, floorf(z0 / t->spacing)),
                          cell_index(t, ceilf(x1 / t->spacing)), cell_index(t, ceilf(z1 / t->spacing)));
}

const int *decal_bucket(int bx, int bz, int *count)
{
    *count = 0;
    if (bx < 0 || bx >= DECAL_GRID || bz < 0 || bz >= DECAL_GRID)
        return nullptr;
    const Bucket &b = g_decals.buckets[bz][bx];
    *count = b.count;
    return b.count ? b.decals : nullptr;
}

static bool file_exists(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    close_data_file(f);
    return f != nullptr;
}

// The texture's "<stem><kind>.seq", ".png" or ".ppm", the first that exists; 0 none.
static unsigned find_map(const char *texture, const char *kind)
{
    static const char *const k_exts[] = { ".seq", ".png", ".ppm" };
    char stem[1024], name[1100];
    snprintf(stem, sizeof stem, "%s", texture);
    if (char *dot = strrchr(stem, '.'); dot && !strchr(dot, '/'))
        *dot = 0;
    for (const char *ext : k_exts) {
        snprintf(name, sizeof name, "%s%s%s", stem, kind, ext);
        if (file_exists(name))
            return scenery_hooks()->texture_load(name);
    }
    return 0;
}

int decal_add(Terrain *t, float x, float z, float angle, float size, float aspect, const char *texture)
{
    if (!t || !isfinite(x) || !isfinite(z) || !isfinite(angle) || !isfinite(size) || !isfinite(aspect))
        return -1;
    bool covered = decal_buckets_cover(t);
    t->decals = (Decal *)xrealloc(t->decals, (size_t)(t->decal_count + 1) * sizeof(Decal));
    Decal &d = t->decals[t->decal_count];
    d = decal_make(x, z, angle, size, aspect);
    d.name = xstrdup(texture ? texture : "");
    const SceneryHooks *h = scenery_hooks();
    if (h->texture_load && texture) {
        d.texture = h->texture_load(texture);
        if (h->maps_wanted && h->maps_wanted()) {
            d.normal_texture = find_map(texture, "_tnorm");
            d.specular_texture = find_map(texture, "_tspec");
        }
    }
    if (h->image_load && texture)
        d.image = h->image_load(texture);      // the software composer paints from the picture
    if (!covered) {
        // The buckets were another list's: list this one's from the start.
        buckets_free();
        for (int i = 0; i < t->decal_count; i++)
            bucket_decal(t, i);
    }
    bucket_decal(t, t->decal_count);
    g_decals.terrain = t;
    g_decals.decals = t->decals;
    g_decals.count = ++t->decal_count;
    return t->decal_count - 1;
}

bool decals_load(Terrain *t, DataFile *f)
{
    decals_free(t);
    char texture[1024];
    float v[5];
    while (f && data_scanf(f, "[ %f %f ] %f %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], texture) == 6) {
        bool finite = true;
        for (float x : v)
            finite &= isfinite(x);
        if (!finite)
            break;
        decal_add(t, v[0], v[1], v[2], v[3], v[4], texture);
    }
    return true;
}

bool decals_save(const Terrain *t, DataFile *f)
{
    bool ok = true;
    for (int i = 0; t && i < t->decal_count; i++) {
        const Decal &d = t->decals[i];
        ok &= data_printf(f, "[%f %f] %f %f %f %s\n", d.x, d.z, d.angle, d.size, d.aspect, d.name ? d.name : "") >= 0;
    }
    return ok;
}

void decals_free(Terrain *t)
{
    buckets_free();
    if (!t)
        return;
    for (int i = 0; i < t->decal_count; i++)
        xfree(t->decals[i].name);
    xfree(t->decals);
    t->decals = nullptr;
    t->decal_count = 0;
}
