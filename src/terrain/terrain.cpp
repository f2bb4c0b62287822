#include "terrain/terrain.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/mem.h"
#include "common/ripemd160.h"
#include "platform/log.h"
#include "terrain/terrain_images.h"
#include "terrain/tiles.h"
#include "vfs/vfs.h"

static struct {
    int verbosity;
    const TerrainProgress *progress;
    TerrainRenderHooks hooks;
    bool light_set;
    Vec3 sun, sun_color, ambient;
    TrackInfo *tracks;
    int track_count;
} g_terrain;

// ---- settings and hooks ----

void terrain_set_progress(const TerrainProgress *progress) { g_terrain.progress = progress; }
void terrain_set_verbosity(int level) { g_terrain.verbosity = level; }

void terrain_set_render_hooks(const TerrainRenderHooks *hooks)
{
    if (hooks)
        g_terrain.hooks = *hooks;
    else
        memset(&g_terrain.hooks, 0, sizeof g_terrain.hooks);
}

const TerrainRenderHooks *terrain_render_hooks(void) { return &g_terrain.hooks; }

static void ensure_light(void)
{
    if (g_terrain.light_set)
        return;
    g_terrain.light_set = true;
    g_terrain.sun = v3_normalize(v3(1, 1, 1));
    g_terrain.sun_color = v3(1, 1, 1);
    g_terrain.ambient = v3(0.5f, 0.5f, 0.5f);
}

void terrain_set_lighting(Vec3 sun_vector, Vec3 sun_color, Vec3 ambient)
{
    g_terrain.light_set = true;
    g_terrain.sun = v3_normalize(sun_vector);
    g_terrain.sun_color = sun_color;
    g_terrain.ambient = ambient;
}

void terrain_get_lighting(Vec3 *sun_vector, Vec3 *sun_color, Vec3 *ambient)
{
    ensure_light();
    *sun_vector = g_terrain.sun;
    *sun_color = g_terrain.sun_color;
    *ambient = g_terrain.ambient;
}

static void step_begin(const char *title)
{
    if (g_terrain.progress && g_terrain.progress->log)
        g_terrain.progress->log(title);
    else
        log_printf("%s\n", title);
}

static void step_done(const char *title)
{
    if (g_terrain.progress && g_terrain.progress->done)
        g_terrain.progress->done(title);
}

static void step_dots(const char *title)
{
    if (g_terrain.progress && g_terrain.progress->dots)
        g_terrain.progress->dots(title);
}

static unsigned long texture_memory(void)
{
    return g_terrain.hooks.texture_memory ? g_terrain.hooks.texture_memory() : 0;
}

// ---- bit sets ----

static inline bool bit_get(const uint8_t *bits, size_t k) { return bits[k >> 3] >> (k & 7) & 1; }
static inline void bit_set(uint8_t *bits, size_t k) { bits[k >> 3] |= (uint8_t)(1 << (k & 7)); }
static inline void bit_clear(uint8_t *bits, size_t k) { bits[k >> 3] &= (uint8_t)~(1 << (k & 7)); }
static size_t bit_bytes(size_t n) { return (n + 7) / 8; }

// Widens the reshade box to vertices i0 .. i1 - 1, j0 .. j1 - 1 (already inside the field).
static void reshade_box_add(Terrain *t, int i0, int j0, int i1, int j1)
{
    if (t->reshade_i0 >= t->reshade_i1 || t->reshade_j0 >= t->reshade_j1) {
        t->reshade_i0 = i0, t->reshade_j0 = j0, t->reshade_i1 = i1, t->reshade_j1 = j1;
        return;
    }
    if (i0 < t->reshade_i0)
        t->reshade_i0 = i0;
    if (j0 < t->reshade_j0)
        t->reshade_j0 = j0;
    if (i1 > t->reshade_i1)
        t->reshade_i1 = i1;
    if (j1 > t->reshade_j1)
        t->reshade_j1 = j1;
}

// ---- life cycle ----

void terrain_unload(Terrain *t)
{
    if (g_terrain.hooks.release_textures && t->heights)
        g_terrain.hooks.release_textures(t);
    if (g_terrain.hooks.free_decals && t->decals)
        g_terrain.hooks.free_decals(t);
    tiles_free(t);
    xfree(t->heights);
    xfree(t->initial_heights);
    xfree(t->shading);
    xfree(t->shadow);
    xfree(t->reshade_flags);
    xfree(t->triangle_normals);
    xfree(t->triangle_dirty);
    xfree(t->normal_bytes);
    xfree(t->normal_dirty);
    memset(t, 0, sizeof *t);
}

static bool size_valid(int n, float d)
{
    return n >= k_terrain_min_exponent && n <= k_terrain_max_exponent && isfinite(d) && d > 0.0f;
}

static void set_geometry(Terrain *t, int n, float d)
{
    t->size_exponent = n;
    t->dim = (1 << (n + 1)) + 1;
    t->spacing = d;
    t->tile_size = 2.0f * d;
    t->world_size = (float)(1 << n) * t->tile_size;
    t->inv_spacing = 1.0f / d;
}

// The per-vertex and per-triangle bookkeeping that every live terrain has.
static void allocate_caches(Terrain *t, bool reshade_all)
{
    size_t vertices = (size_t)t->dim * t->dim;
    size_t triangles = 2 * (size_t)(t->dim - 1) * (t->dim - 1);
    t->reshade_flags = (uint8_t *)xcalloc(bit_bytes(vertices), 1);
    if (reshade_all) {
        memset(t->reshade_flags, 0xff, bit_bytes(vertices));
        reshade_box_add(t, 0, 0, t->dim, t->dim);
    }
    t->triangle_dirty = (uint8_t *)xmalloc(bit_bytes(triangles));
    memset(t->triangle_dirty, 0xff, bit_bytes(triangles));
    t->triangle_normals = (Vec3 *)xcalloc(triangles, sizeof(Vec3));
}

static void normal_byte_vertex(Terrain *t, int i, int j);
static void allocate_normal_bytes(Terrain *t);

void terrain_prepare_normals(Terrain *t)
{
    if (!t->normal_bytes && t->heights)
        allocate_normal_bytes(t);
}

static void allocate_normal_bytes(Terrain *t)
{
    size_t vertices = (size_t)t->dim * t->dim;
    t->normal_bytes = (uint8_t *)xcalloc(vertices, 3);
    t->normal_dirty = (uint8_t *)xcalloc(bit_bytes(vertices), 1);
    step_begin("Creating terrain normals");
    for (int j = 0; j < t->dim; j++) {
        for (int i = 0; i < t->dim; i++)
            normal_byte_vertex(t, i, j);
        if ((j & 63) == 0)
            step_dots("Creating terrain normals");
    }
    step_done("Creating terrain normals");
}

bool terrain_create(Terrain *t, int size_exponent, float spacing)
{
    terrain_unload(t);
    if (!size_valid(size_exponent, spacing))
        return false;
    set_geometry(t, size_exponent, spacing);
    size_t vertices = (size_t)t->dim * t->dim;
    t->heights = (float *)xcalloc(vertices, sizeof(float));
    t->initial_heights = (float *)xcalloc(vertices, sizeof(float));
    t->shading = (uint8_t *)xmalloc(vertices * 3);
    memset(t->shading, 127, vertices * 3);
    t->shadow = (uint8_t *)xcalloc(vertices, 1);
    t->tiles = (TileType *)xcalloc(k_max_tile_types, sizeof(TileType));
    tile_set_defaults(&t->tiles[0]);
    t->tile_count = 1;
    t->tilemap = (uint8_t *)xcalloc((size_t)1 << (2 * size_exponent), 1);
    allocate_caches(t, true);
    t->texture_method = 1;
    return true;
}

void terrain_mark_all_reshade(Terrain *t)
{
    if (!t->reshade_flags)
        return;
    size_t bytes = bit_bytes((size_t)t->dim * t->dim);
    memset(t->reshade_flags, 0xff, bytes);
    if (t->normal_dirty)
        memset(t->normal_dirty, 0xff, bytes);
    reshade_box_add(t, 0, 0, t->dim, t->dim);
}

// ---- loading ----

static void join(char *out, size_t size, const char *folder, const char *file)
{
    snprintf(out, size, "%s/%s", folder, file);
}

static bool fail_load(Terrain *t, DataFile *f)
{
    if (f)
        close_data_file(f);
    terrain_unload(t);
    return false;
}

static void log_digest(const uint8_t digest[20])
{
    char hex[41];
    for (int k = 0; k < 20; k++)
        snprintf(hex + 2 * k, 3, "%02x", digest[k]);
    log_printf("%s\n", hex);
}

static float sample_height(const Terrain *t, unsigned v)
{
    // in double so that 0 and 65535 give exactly the minimum and the maximum
    double lo = t->min_height, hi = t->max_height;
    return (float)(lo + (hi - lo) * v / 65535.0);
}

static bool read_inline_samples(Terrain *t, DataFile *f, Ripemd160 *digest)
{
    size_t total = (size_t)t->dim * t->dim, done = 0;
    uint8_t buffer[65536];
    while (done < total) {
        size_t want = total - done;
        if (want > sizeof buffer / 2)
            want = sizeof buffer / 2;
        size_t got = data_read(f, buffer, want * 2);
        if (got != want * 2)
            return false;
        ripemd160_update(digest, buffer, got);
        for (size_t k = 0; k < want; k++)
            t->heights[done + k] = sample_height(t, buffer[2 * k] | buffer[2 * k + 1] << 8);
        done += want;
        step_dots("Loading heights");
    }
    return true;
}

static void read_image_samples(Terrain *t, Ripemd160 *digest)
{
    char path[1100];
    join(path, sizeof path, t->folder, "terrain.png");
    int w, h;
    uint16_t *pixels;
    int dim = t->dim;
    if (!read_gray16_image(path, &w, &h, &pixels)) {
        for (size_t k = 0; k < (size_t)dim * dim; k++)
            t->heights[k] = t->min_height;
        return;
    }
    uint8_t *row = (uint8_t *)xmalloc((size_t)dim * 2);
    for (int j = 0; j < dim; j++) {
        const uint16_t *src = pixels + (size_t)(j < h ? j : h - 1) * w;
        for (int i = 0; i < dim; i++) {
            unsigned v = src[i < w ? i : w - 1];
            row[2 * i] = (uint8_t)v;
            row[2 * i + 1] = (uint8_t)(v >> 8);
            t->heights[i + (size_t)j * dim] = sample_height(t, v);
        }
        ripemd160_update(digest, row, (size_t)dim * 2);
    }
    xfree(row);
    xfree(pixels);
}

static bool load_heights(Terrain *t)
{
    char path[1100];
    join(path, sizeof path, t->folder, "terrain.hf");
    DataFile *f = open_data_file(path, "rb");
    if (!f) {
        log_printf("Can't open '%.950s'\n", path);
        return false;
    }
    int n = 0;
    float d = 0, lo = 0, hi = 0;
    if (data_scanf(f, "%d %f %f %f ", &n, &d, &lo, &hi) != 4 || !size_valid(n, d) || !isfinite(lo) || !isfinite(hi)) {
        log_printf("Bad height field parameters\n");
        log_printf("Error reading heights\n");
        close_data_file(f);
        return false;
    }
    set_geometry(t, n, d);
    t->min_height = lo;
    t->max_height = hi;
    size_t vertices = (size_t)t->dim * t->dim;
    t->heights = (float *)xmalloc(vertices * sizeof(float));
    t->initial_heights = (float *)xmalloc(vertices * sizeof(float));

    step_begin("Loading heights");
    Ripemd160 digest;
    ripemd160_init(&digest);
    if (data_peekc(f) == ':') {
        data_getc(f);
        if (!read_inline_samples(t, f, &digest)) {
            log_printf("Error reading heights\n");
            close_data_file(f);
            return false;
        }
    } else {
        read_image_samples(t, &digest);
    }
    ripemd160_final(&digest, t->height_digest);
    if (g_terrain.verbosity >= 2)
        log_digest(t->height_digest);
    step_done("Loading heights");

    memcpy(t->initial_heights, t->heights, vertices * sizeof(float));
    if (g_terrain.hooks.compute_lod_errors)
        g_terrain.hooks.compute_lod_errors(t);
    close_data_file(f);
    return true;
}

static bool load_shading(Terrain *t)
{
    step_begin("Loading shading");
    char path[1100];
    join(path, sizeof path, t->folder, "shadingx2.ppm");
    DataFile *f = open_data_file(path, "rb");
    bool halve = false;
    if (!f) {
        join(path, sizeof path, t->folder, "shading.ppm");
        f = open_data_file(path, "rb");
        halve = true;
        if (!f) {
            log_printf("Can't open '%.950s'\n", path);
            return false;
        }
    }
    int w, h;
    uint8_t *rgb;
    bool ok = read_ppm_rgb(f, &w, &h, &rgb);
    close_data_file(f);
    if (!ok) {
        log_printf("Error reading shading\n");
        return false;
    }
    if (w != t->dim || h != t->dim) {
        log_printf("Bad shading dimensions (%dx%d)\n", w, h);
        xfree(rgb);
        return false;
    }
    if (halve)
        for (size_t k = 0; k < (size_t)w * h * 3; k++)
            rgb[k] >>= 1;
    t->shading = rgb;
    step_done("Loading shading");
    return true;
}

static bool load_shadows(Terrain *t)
{
    step_begin("Loading shadows");
    char path[1100];
    join(path, sizeof path, t->folder, "shadows.pgm");
    DataFile *f = open_data_file(path, "rb");
    size_t vertices = (size_t)t->dim * t->dim;
    if (!f) {
        t->shadow = (uint8_t *)xcalloc(vertices, 1);
        step_done("Loading shadows");
        return true;
    }
    int w, h;
    uint8_t *gray;
    bool ok = read_pgm_gray8(f, &w, &h, &gray);
    close_data_file(f);
    if (!ok) {
        log_printf("Error reading shadows\n");
        return false;
    }
    if (w != t->dim || h != t->dim) {
        log_printf("Bad shadow dimensions (%dx%d)\n", w, h);
        xfree(gray);
        return false;
    }
    for (size_t k = 0; k < vertices; k++)
        gray[k] = (uint8_t)(255 - gray[k]);
    t->shadow = gray;
    step_done("Loading shadows");
    return true;
}

static bool load_tiles(Terrain *t)
{
    if (g_terrain.verbosity >= 1)
        log_printf("%lu bytes texture memory used before ground tiles loaded\n", texture_memory());
    step_begin("Loading tileinfo");
    char path[1100];
    join(path, sizeof path, t->folder, "tileinfo");
    DataFile *f = open_data_file(path, "rb");
    if (f) {
        bool ok = tileinfo_load(t, f);
        close_data_file(f);
        if (!ok) {
            log_printf("Error reading tileinfo\n");
            return false;
        }
    } else {
        join(path, sizeof path, t->folder, "texturelist");
        f = open_data_file(path, "rb");
        if (!f) {
            log_printf("Can't open '%.950s'\n", path);
            return false;
        }
        bool ok = texturelist_load(t, f);
        close_data_file(f);
        if (!ok) {
            log_printf("Error reading textures\n");
            return false;
        }
    }
    if (g_terrain.verbosity >= 1)
        log_printf("%lu bytes texture memory used after ground tiles loaded\n", texture_memory());
    step_done("Loading tileinfo");

    step_begin("Loading tilemap");
    join(path, sizeof path, t->folder, "tilemap");
    f = open_data_file(path, "rb");
    if (!f) {
        log_printf("Can't open '%.950s'\n", path);
        return false;
    }
    bool ok = tilemap_load(t, f);
    close_data_file(f);
    if (!ok)
        return false;
    step_done("Loading tilemap");
    return true;
}

// Decals only dress the ground: a file that does not read leaves the track without them.
static void load_decals(Terrain *t)
{
    step_begin("Loading decals");
    char path[1100];
    join(path, sizeof path, t->folder, "decals");
    DataFile *f = g_terrain.hooks.load_decals ? open_data_file(path, "rb") : nullptr;
    if (f) {
        bool ok = g_terrain.hooks.load_decals(t, f);
        close_data_file(f);
        if (!ok) {
            log_printf("Warning: Can't read '%.900s'; the track has no decals\n", path);
            if (g_terrain.hooks.free_decals && t->decals)
                g_terrain.hooks.free_decals(t);
            t->decals = nullptr;
            t->decal_count = 0;
        }
    }
    step_done("Loading decals");
}

bool terrain_load(Terrain *t, const char *folder, int texture_method)
{
    terrain_unload(t);
    if (!folder || strlen(folder) >= sizeof t->folder - 32) {
        log_printf("Can't open '%.950s'\n", folder ? folder : "");
        return false;
    }
    snprintf(t->folder, sizeof t->folder, "%s", folder);
    step_begin("Loading terrain");
    if (!load_heights(t))
        return fail_load(t, nullptr);
    step_done("Loading terrain");

    t->texture_method = texture_method >= 1 && texture_method <= 3 ? texture_method : 1;
    if (g_terrain.hooks.choose_method)
        g_terrain.hooks.choose_method(t, texture_method);

    if (!load_shading(t) || !load_shadows(t) || !load_tiles(t))
        return fail_load(t, nullptr);
    allocate_caches(t, false);
    if (t->shader_path)
        terrain_prepare_normals(t);
    if (g_terrain.hooks.build_textures)
        g_terrain.hooks.build_textures(t);
    load_decals(t);
    return true;
}

// ---- point queries ----

static inline float HA(const float *heights, int dim, int i, int j)
{
    int last = dim - 1;
    i = i < 0 ? 0 : (i > last ? last : i);
    j = j < 0 ? 0 : (j > last ? last : j);
    return heights[i + j * dim];
}

static inline float H(const Terrain *t, int i, int j) { return HA(t->heights, t->dim, i, j); }

// Grid coordinates of a point, kept to one cell beyond the field so that huge or NaN inputs
// stay defined (the edge heights continue outside anyway).
static inline void locate(const Terrain *t, float x, float z, int *i, int *j, float *fu, float *fw)
{
    float limit = (float)t->dim;
    float u = fminf(fmaxf(x * t->inv_spacing, -1.0f), limit);
    float w = fminf(fmaxf(z * t->inv_spacing, -1.0f), limit);
    float fi = floorf(u), fj = floorf(w);
    *i = (int)fi;
    *j = (int)fj;
    *fu = u - fi;
    *fw = w - fj;
}

static float surface_height(const Terrain *t, const float *heights, float x, float z)
{
    int i, j, dim = t->dim;
    float fu, fw;
    locate(t, x, z, &i, &j, &fu, &fw);
    if (((i + j) & 1) == 0) {
        float a = 1.0f - fu;
        if (a + fw <= 1.0f) {
            float h10 = HA(heights, dim, i + 1, j);
            return h10 + a * (HA(heights, dim, i, j) - h10) + fw * (HA(heights, dim, i + 1, j + 1) - h10);
        }
        float h01 = HA(heights, dim, i, j + 1);
        return h01 + fu * (HA(heights, dim, i + 1, j + 1) - h01) + (1.0f - fw) * (HA(heights, dim, i, j) - h01);
    }
    if (fu + fw <= 1.0f) {
        float h00 = HA(heights, dim, i, j);
        return h00 + fu * (HA(heights, dim, i + 1, j) - h00) + fw * (HA(heights, dim, i, j + 1) - h00);
    }
    float h11 = HA(heights, dim, i + 1, j + 1);
    return h11 + (1.0f - fu) * (HA(heights, dim, i, j + 1) - h11) + (1.0f - fw) * (HA(heights, dim, i + 1, j) - h11);
}

float terrain_height(const Terrain *t, float x, float z) { return surface_height(t, t->heights, x, z); }

float terrain_initial_height(const Terrain *t, float x, float z)
{
    return surface_height(t, t->initial_heights ? t->initial_heights : t->heights, x, z);
}

// Height steps per grid step along u and w of triangle k (0 or 1) of cell (i, j).
static inline void triangle_slopes(const Terrain *t, int i, int j, int k, float *du, float *dw)
{
    if (((i + j) & 1) == 0) {
        if (k == 0) {
            *du = H(t, i + 1, j) - H(t, i, j);
            *dw = H(t, i + 1, j + 1) - H(t, i + 1, j);
        } else {
            *du = H(t, i + 1, j + 1) - H(t, i, j + 1);
            *dw = H(t, i, j + 1) - H(t, i, j);
        }
    } else {
        if (k == 0) {
            *du = H(t, i + 1, j) - H(t, i, j);
            *dw = H(t, i, j + 1) - H(t, i, j);
        } else {
            *du = H(t, i + 1, j + 1) - H(t, i, j + 1);
            *dw = H(t, i + 1, j + 1) - H(t, i + 1, j);
        }
    }
}

Vec3 terrain_triangle_normal(const Terrain *t, float x, float z)
{
    int i, j;
    float fu, fw;
    locate(t, x, z, &i, &j, &fu, &fw);
    bool even = ((i + j) & 1) == 0;
    int k = even ? (fw <= fu ? 0 : 1) : (fu + fw <= 1.0f ? 0 : 1);
    float du, dw, d = t->spacing;
    triangle_slopes(t, i, j, k, &du, &dw);
    return v3(-du * d, d * d, -dw * d);
}

static Vec3 cached_triangle_normal(Terrain *t, int i, int j, int k)
{
    size_t index = 2 * ((size_t)i + (size_t)j * (t->dim - 1)) + k;
    if (bit_get(t->triangle_dirty, index)) {
        float du, dw, d = t->spacing;
        triangle_slopes(t, i, j, k, &du, &dw);
        t->triangle_normals[index] = v3_normalize(v3(-du * d, d * d, -dw * d));
        bit_clear(t->triangle_dirty, index);
    }
    return t->triangle_normals[index];
}

// Whether triangle k of cell (ci, cj) has vertex (i, j) as a corner.
static bool triangle_has_vertex(int ci, int cj, int k, int i, int j)
{
    int di = i - ci, dj = j - cj;      // 0 or 1 each
    if (((ci + cj) & 1) == 0) {
        // diagonal (0,0)-(1,1) belongs to both; (1,0) only to 0, (0,1) only to 1
        if (di == dj)
            return true;
        return k == 0 ? di == 1 : dj == 1;
    }
    // diagonal (1,0)-(0,1) belongs to both; (0,0) only to 0, (1,1) only to 1
    if (di != dj)
        return true;
    return k == 0 ? di == 0 : di == 1;
}

Vec3 terrain_vertex_normal(Terrain *t, int i, int j)
{
    int last = t->dim - 1;
    i = i < 0 ? 0 : (i > last ? last : i);
    j = j < 0 ? 0 : (j > last ? last : j);
    Vec3 sum = v3(0, 0, 0);
    for (int cj = j - 1; cj <= j; cj++) {
        if (cj < 0 || cj >= last)
            continue;
        for (int ci = i - 1; ci <= i; ci++) {
            if (ci < 0 || ci >= last)
                continue;
            for (int k = 0; k < 2; k++)
                if (triangle_has_vertex(ci, cj, k, i, j))
                    sum = v3_add(sum, cached_triangle_normal(t, ci, cj, k));
        }
    }
    return v3_normalize(sum);
}

// ---- edits and shading ----

void terrain_set_height(Terrain *t, int i, int j, float h)
{
    int dim = t->dim;
    if (!t->heights || i < 0 || j < 0 || i >= dim || j >= dim || t->frozen)
        return;
    t->change_mask = 7;
    if (h < t->min_height)
        t->min_height = h;
    if (h > t->max_height)
        t->max_height = h;
    t->heights[i + (size_t)j * dim] = h;
    reshade_box_add(t, i > 0 ? i - 1 : 0, j > 0 ? j - 1 : 0, i + 2 < dim ? i + 2 : dim, j + 2 < dim ? j + 2 : dim);
    for (int b = j - 1; b <= j + 1; b++)
        for (int a = i - 1; a <= i + 1; a++)
            if (a >= 0 && b >= 0 && a < dim && b < dim) {
                bit_set(t->reshade_flags, a + (size_t)b * dim);
                if (t->normal_dirty)
                    bit_set(t->normal_dirty, a + (size_t)b * dim);
            }
    for (int cj = j - 1; cj <= j; cj++)
        for (int ci = i - 1; ci <= i; ci++)
            if (ci >= 0 && cj >= 0 && ci < dim - 1 && cj < dim - 1) {
                size_t cell = (size_t)ci + (size_t)cj * (dim - 1);
                bit_set(t->triangle_dirty, 2 * cell);
                bit_set(t->triangle_dirty, 2 * cell + 1);
            }
}

// The square of vertices a bump of radius c cells around (u, w) reaches: columns i0 .. i1 and
// rows j0 .. j1, possibly beyond the field. False when nothing in the field can be reached, the
// bump is under one spacing wide, or a value is not finite: then no double goes into an int
// out of range.
struct BumpSquare {
    double u, w, c;
    int i0, j0, i1, j1;
};

static bool bump_square(const Terrain *t, float x, float z, float radius, BumpSquare *b)
{
    if (!t->heights || !isfinite(x) || !isfinite(z) || !isfinite(radius))
        return false;
    double d = t->spacing;
    b->c = radius / d;
    double o = ceil(b->c);
    // Wider than the field many times over: nothing sensible to spread.
    if (!(o >= 1) || o > 16.0 * t->dim)
        return false;
    b->u = x / d;
    b->w = z / d;
    double last = t->dim - 1;
    if (b->u < -b->c || b->w < -b->c || b->u > last + b->c || b->w > last + b->c)
        return false;
    int n = (int)o, i = (int)floor(b->u), j = (int)floor(b->w);
    b->i0 = i - n + 1, b->i1 = i + n;
    b->j0 = j - n + 1, b->j1 = j + n;
    return true;
}

// 1 - 3s^2 + 2s^3 at s = distance / c, 0 beyond c.
static inline double bump_weight(const BumpSquare &b, int i, int j)
{
    double du = b.u - i, dw = b.w - j;
    double s = sqrt(du * du + dw * dw) / b.c;
    return s <= 1 ? 1 - 3 * s * s + 2 * s * s * s : 0;
}

// Adds scale x weight to every vertex of the square inside the field; returns the sum added.
static double bump_add(Terrain *t, const BumpSquare &b, double scale)
{
    int last = t->dim - 1;
    int i0 = b.i0 > 0 ? b.i0 : 0, i1 = b.i1 < last ? b.i1 : last;
    int j0 = b.j0 > 0 ? b.j0 : 0, j1 = b.j1 < last ? b.j1 : last;
    if (i0 > i1 || j0 > j1)
        return 0;
    double sum = 0;
    for (int j = j0; j <= j1; j++)
        for (int i = i0; i <= i1; i++) {
            double weight = bump_weight(b, i, j);
            if (weight <= 0)
                continue;
            float delta = (float)(scale * weight);
            terrain_set_height(t, i, j, t->heights[i + (size_t)j * t->dim] + delta);
            sum += delta;
        }
    t->height_changes++;
    if (g_terrain.hooks.mark_region)
        g_terrain.hooks.mark_region(t, i0, j0, i1, j1);
    return sum;
}

float terrain_raise(Terrain *t, float x, float z, float radius, float amount)
{
    BumpSquare b;
    if (t->frozen || !isfinite(amount) || !bump_square(t, x, z, radius, &b))
        return 0;
    return (float)bump_add(t, b, amount);
}

void terrain_deposit(Terrain *t, float x, float z, float radius, float total)
{
    BumpSquare b;
    if (t->frozen || !isfinite(total) || !bump_square(t, x, z, radius, &b))
        return;
    double weights = 0;
    for (int j = b.j0; j <= b.j1; j++)
        for (int i = b.i0; i <= b.i1; i++)
            weights += bump_weight(b, i, j);
    bump_add(t, b, total / (weights > 1 ? weights : 1));
}

static void shade_vertex(Terrain *t, int i, int j)
{
    size_t k = i + (size_t)j * t->dim;
    Vec3 n = terrain_vertex_normal(t, i, j);
    float lit = v3_dot(n, g_terrain.sun);
    lit = lit < 0.0f ? 0.0f : (lit > 1.0f ? 1.0f : lit);
    lit *= 1.0f - t->shadow[k] / 255.0f;
    const float sun[3] = { g_terrain.sun_color.x, g_terrain.sun_color.y, g_terrain.sun_color.z };
    const float amb[3] = { g_terrain.ambient.x, g_terrain.ambient.y, g_terrain.ambient.z };
    for (int c = 0; c < 3; c++) {
        float v = truncf((sun[c] * lit + amb[c]) * 0.5f * 255.0f);
        t->shading[3 * k + c] = (uint8_t)(v < 0.0f ? 0.0f : (v > 255.0f ? 255.0f : v));
    }
}

static uint8_t normal_component_byte(float c)
{
    float v = truncf(c * 127.0f);
    v = v < -127.0f ? -127.0f : (v > 127.0f ? 127.0f : v);
    return (uint8_t)((int)v + 128);
}

static void normal_byte_vertex(Terrain *t, int i, int j)
{
    size_t k = i + (size_t)j * t->dim;
    Vec3 n = terrain_vertex_normal(t, i, j);
    t->normal_bytes[3 * k] = normal_component_byte(n.x);
    // the shader rebuilds y from x and z, so the byte carries the light instead
    t->normal_bytes[3 * k + 1] = (uint8_t)(255 - t->shadow[k]);
    t->normal_bytes[3 * k + 2] = normal_component_byte(n.z);
}

void terrain_reshade(Terrain *t)
{
    if (!t->reshade_flags)
        return;
    int dim = t->dim;
    int i0 = t->reshade_i0 > 0 ? t->reshade_i0 : 0, i1 = t->reshade_i1 < dim ? t->reshade_i1 : dim;
    int j0 = t->reshade_j0 > 0 ? t->reshade_j0 : 0, j1 = t->reshade_j1 < dim ? t->reshade_j1 : dim;
    t->reshade_i0 = t->reshade_j0 = t->reshade_i1 = t->reshade_j1 = 0;
    if (i0 >= i1 || j0 >= j1)
        return;
    ensure_light();
    size_t vertices = (size_t)dim * dim;
    // Row by row over the box's bytes; a byte's bits beyond the box are clear (every flag lies
    // in the box), or belong to the box's next row and are shaded in this visit.
    for (int j = j0; j < j1; j++) {
        size_t first = (i0 + (size_t)j * dim) / 8, last = (i1 - 1 + (size_t)j * dim) / 8;
        for (size_t b = first; b <= last; b++) {
            uint8_t shade = t->reshade_flags[b], normal = t->normal_dirty ? t->normal_dirty[b] : 0;
            if (!(shade | normal))
                continue;
            for (int bit = 0; bit < 8; bit++) {
                size_t k = b * 8 + bit;
                if (k >= vertices)
                    break;
                int i = (int)(k % dim), jj = (int)(k / dim);
                if (shade >> bit & 1)
                    shade_vertex(t, i, jj);
                if (normal >> bit & 1)
                    normal_byte_vertex(t, i, jj);
            }
            t->reshade_flags[b] = 0;
            if (t->normal_dirty)
                t->normal_dirty[b] = 0;
        }
    }
}

// ---- saving ----

static DataFile *create_file(const char *prefix, const char *file)
{
    char path[1100];
    join(path, sizeof path, prefix, file);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        log_printf("Can't open '%s'\n", file);
    return f;
}

static uint16_t quantise(const Terrain *t, float h)
{
    if (!(t->max_height > t->min_height))
        return 0;   // a flat field: every sample is the minimum
    double v = ((double)h - t->min_height) / ((double)t->max_height - t->min_height) * 65535.0 + 0.5;
    return (uint16_t)(v < 0.0 ? 0.0 : (v > 65535.0 ? 65535.0 : v));
}

bool terrain_save_files(Terrain *t, const char *prefix, bool inline_samples)
{
    if (!t->heights)
        return false;
    int dim = t->dim;
    size_t vertices = (size_t)dim * dim;
    float lo = t->heights[0], hi = t->heights[0];
    for (size_t k = 1; k < vertices; k++) {
        lo = fminf(lo, t->heights[k]);
        hi = fmaxf(hi, t->heights[k]);
    }
    t->min_height = lo;
    t->max_height = hi;

    DataFile *f = create_file(prefix, "terrain.hf");
    if (!f)
        return false;
    data_printf(f, "%d %f %f %f\n", t->size_exponent, t->spacing, t->min_height, t->max_height);
    if (inline_samples) {
        data_putc(f, ':');
        uint8_t *row = (uint8_t *)xmalloc((size_t)dim * 2);
        for (int j = 0; j < dim; j++) {
            for (int i = 0; i < dim; i++) {
                uint16_t v = quantise(t, t->heights[i + (size_t)j * dim]);
                row[2 * i] = (uint8_t)v;
                row[2 * i + 1] = (uint8_t)(v >> 8);
            }
            data_write(f, row, (size_t)dim * 2);
        }
        xfree(row);
    }
    close_data_file(f);
    if (!inline_samples) {
        uint16_t *samples = (uint16_t *)xmalloc(vertices * 2);
        for (size_t k = 0; k < vertices; k++)
            samples[k] = quantise(t, t->heights[k]);
        char path[1100];
        join(path, sizeof path, prefix, "terrain.png");
        write_png_gray16(path, dim, dim, samples);     // no error report: the save goes on
        xfree(samples);
    }

    terrain_reshade(t);
    uint8_t *full = (uint8_t *)xmalloc(vertices * 3);
    for (size_t k = 0; k < vertices * 3; k++)
        full[k] = t->shading[k] >= 128 ? 255 : (uint8_t)(t->shading[k] * 2);
    char path[1100];
    join(path, sizeof path, prefix, "shading.ppm");
    bool ok = write_ppm(path, dim, dim, full);
    xfree(full);
    if (!ok) {
        log_printf("Can't open 'shading.ppm'\n");
        return false;
    }
    join(path, sizeof path, prefix, "shadingx2.ppm");
    if (!write_ppm(path, dim, dim, t->shading)) {
        log_printf("Can't open 'shadingx2.ppm'\n");
        return false;
    }

    f = create_file(prefix, "tilemap");
    if (!f)
        return false;
    size_t tiles = (size_t)1 << (2 * t->size_exponent);
    if (t->tilemap) {
        data_write(f, t->tilemap, tiles);
    } else {
        for (size_t k = 0; k < tiles; k++)
            data_putc(f, 0);
    }
    close_data_file(f);

    if (t->decals && t->decal_count > 0 && g_terrain.hooks.save_decals) {
        f = create_file(prefix, "decals");
        if (!f)
            return false;
        ok = g_terrain.hooks.save_decals(t, f);
        close_data_file(f);
        return ok;
    }
    return true;
}

bool terrain_save(Terrain *t)
{
    char prefix[1100];
    snprintf(prefix, sizeof prefix, "%s%s", t->folder[0] == '@' ? "" : "@", t->folder);
    return terrain_save_files(t, prefix, false);
}

// ---- installed tracks ----

void track_list_free(void)
{
    for (int k = 0; k < g_terrain.track_count; k++) {
        xfree(g_terrain.tracks[k].folder);
        xfree(g_terrain.tracks[k].name);
    }
    xfree(g_terrain.tracks);
    g_terrain.tracks = nullptr;
    g_terrain.track_count = 0;
}

static bool ends_with(const char *s, const char *suffix)
{
    size_t a = strlen(s), b = strlen(suffix);
    return a >= b && strcmp(s + a - b, suffix) == 0;
}

static char *display_name(const char *folder)
{
    char path[1100];
    snprintf(path, sizeof path, "@%s/desc", folder);
    DataFile *f = open_data_file(path, "rb");
    if (!f)
        return xstrdup(folder);
    char text[1024];
    size_t n = data_read(f, text, sizeof text - 1);
    close_data_file(f);
    // The first line, printable characters only: the name goes to the log and the menus, and
    // a binary file must not bring control codes with it.
    size_t kept = 0;
    for (size_t k = 0; k < n && text[k] && text[k] != '\n' && text[k] != '\r'; k++)
        if (text[k] >= ' ' && text[k] <= '~')
            text[kept++] = text[k];
    text[kept] = 0;
    return xstrdup(kept ? text : folder);
}

static int compare_lower(const char *a, const char *b)
{
    for (;; a++, b++) {
        int x = (unsigned char)*a, y = (unsigned char)*b;
        x = x >= 'A' && x <= 'Z' ? x + 32 : x;
        y = y >= 'A' && y <= 'Z' ? y + 32 : y;
        if (x != y || !x)
            return x - y;
    }
}

int track_list(void)
{
    static const char *const k_suffixes[] = { "/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram", "/terrain.hf.gz.scram" };
    track_list_free();
    const char *const *names = file_index_names();
    int room = 0;
    for (int k = 0; names && names[k]; k++) {
        bool track = false;
        for (const char *suffix : k_suffixes)
            track |= ends_with(names[k], suffix);
        if (!track)
            continue;
        size_t len = strrchr(names[k], '/') - names[k];
        char folder[1024];
        if (len >= sizeof folder)
            continue;
        memcpy(folder, names[k], len);
        folder[len] = 0;
        if (track_find(folder) >= 0)
            continue;      // "terrain.hf" and "terrain.hf.gz" in one folder are one track
        if (g_terrain.track_count == room) {
            room = room ? room * 2 : 16;
            g_terrain.tracks = (TrackInfo *)xrealloc(g_terrain.tracks, room * sizeof(TrackInfo));
        }
        TrackInfo *info = &g_terrain.tracks[g_terrain.track_count++];
        info->folder = xstrdup(folder);
        info->name = display_name(folder);
    }
    TrackInfo *list = g_terrain.tracks;
    for (int a = 0; a < g_terrain.track_count; a++) {
        int best = a;
        for (int b = a + 1; b < g_terrain.track_count; b++)
            if (compare_lower(list[b].name, list[best].name) < 0)
                best = b;
        TrackInfo swap = list[a];
        list[a] = list[best];
        list[best] = swap;
    }
    if (g_terrain.verbosity >= 1)
        for (int k = 0; k < g_terrain.track_count; k++)
            log_printf("%s -> %s\n", list[k].folder, list[k].name);
    return g_terrain.track_count;
}

int track_count(void) { return g_terrain.track_count; }

const TrackInfo *track_info(int index)
{
    return index >= 0 && index < g_terrain.track_count ? &g_terrain.tracks[index] : nullptr;
}

int track_find(const char *folder)
{
    for (int k = 0; folder && k < g_terrain.track_count; k++)
        if (compare_lower(g_terrain.tracks[k].folder, folder) == 0)
            return k;
    return -1;
}

// The name without trailing "/"s, or null when that leaves nothing or too much.
static bool trimmed_name(const char *name, char *out, size_t size)
{
    size_t n = name ? strlen(name) : 0;
    while (n > 0 && name[n - 1] == '/')
        n--;
    if (n == 0 || n >= size)
        return false;
    memcpy(out, name, n);
    out[n] = 0;
    return true;
}

int track_lookup(const char *name)
{
    char trimmed[1024], in_tracks[1100];
    if (!trimmed_name(name, trimmed, sizeof trimmed))
        return -1;
    int k = track_find(trimmed);
    if (k >= 0)
        return k;
    snprintf(in_tracks, sizeof in_tracks, "tracks/%s", trimmed);
    k = track_find(in_tracks);
    if (k >= 0)
        return k;
    for (k = 0; k < g_terrain.track_count; k++)
        if (compare_lower(g_terrain.tracks[k].name, trimmed) == 0)
            return k;
    return -1;
}

const char *track_choose(const char *configured)
{
    int k = track_lookup(configured);
    if (k < 0)
        k = g_terrain.track_count > 0 ? 0 : -1;
    return k >= 0 ? g_terrain.tracks[k].folder : nullptr;
}
