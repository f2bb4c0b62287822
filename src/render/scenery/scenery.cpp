#include "render/scenery/scenery.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/shape.h"
#include "common/mem.h"
#include "platform/log.h"
#include "render/scenery/flaggers.h"
#include "render/scenery/roost.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

enum { k_grid = 8, k_piece_flag = 1 << 24 };
static const float k_pi = 3.14159265358979f;

struct GridCell {
    int *statues;
    int count, capacity;
};

static struct {
    SceneryHooks hooks;
    const Terrain *ground;
    Billboard *billboards;
    int billboard_count, billboard_capacity;
    int first_file;             // billboards before it are roost slots and flaggers
    Statue *statues;
    int statue_count, statue_capacity;
    WorldSolid *solids;         // one per statue (shape null when it has none)
    Statue pieces[160];
    WorldSolid piece_solids[160];
    float piece_heading[160];
    bool piece_tall[160];           // shape above 3.25 ft: no drop panel, never turned
    int piece_count;
    GridCell grid[k_grid][k_grid];
    float cell_size;
} g_scenery;

void scenery_set_hooks(const SceneryHooks *hooks)
{
    g_scenery.hooks = hooks ? *hooks : SceneryHooks{};
}

const SceneryHooks *scenery_hooks(void) { return &g_scenery.hooks; }

void scenery_set_ground(const Terrain *t) { g_scenery.ground = t; }
const Terrain *scenery_ground(void) { return g_scenery.ground; }

static float ground_height(float x, float z)
{
    const Terrain *t = g_scenery.ground;
    return t && t->heights ? terrain_height(t, x, z) : 0;
}

static unsigned load_texture(const char *name)
{
    return name && g_scenery.hooks.texture_load ? g_scenery.hooks.texture_load(name) : 0;
}

static bool finite_all(const float *v, int n)
{
    for (int i = 0; i < n; i++)
        if (!isfinite(v[i]))
            return false;
    return true;
}

static void *grow(void *array, int count, int *capacity, size_t size)
{
    if (count < *capacity)
        return array;
    *capacity = *capacity ? *capacity * 2 : 64;
    return xrealloc(array, (size_t)*capacity * size);
}

// ---- billboards

int billboard_add(float x, float y_offset, float z, float h, float aspect, unsigned texture, const uint8_t rgba[4])
{
    g_scenery.billboards = (Billboard *)grow(g_scenery.billboards, g_scenery.billboard_count,
                                             &g_scenery.billboard_capacity, sizeof(Billboard));
    Billboard &b = g_scenery.billboards[g_scenery.billboard_count];
    b = {};
    b.x = x;
    b.z = z;
    b.y_offset = y_offset;
    b.y = y_offset + ground_height(x, z);
    b.h = h;
    b.aspect = aspect;
    b.texture = texture;
    for (int k = 0; k < 4; k++)
        b.rgba[k] = rgba ? rgba[k] : 255;
    return g_scenery.billboard_count++;
}

Billboard *billboard(int index)
{
    return index >= 0 && index < g_scenery.billboard_count ? &g_scenery.billboards[index] : nullptr;
}

int billboard_count(void) { return g_scenery.billboard_count; }
int billboard_first_file(void) { return g_scenery.first_file; }

void scenery_reserved_done(void) { g_scenery.first_file = g_scenery.billboard_count; }

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool billboard_colour_prefix(const char *text, uint8_t rgb[3], const char **rest)
{
    rgb[0] = rgb[1] = rgb[2] = 255;
    *rest = text;
    if (text[0] != '#')
        return false;
    for (int i = 1; i <= 6; i++)
        if (hex_digit(text[i]) < 0)
            return false;
    if (text[7] != '#')
        return false;
    for (int c = 0; c < 3; c++)
        rgb[c] = (uint8_t)(hex_digit(text[1 + 2 * c]) * 16 + hex_digit(text[2 + 2 * c]));
    *rest = text + 8;
    return true;
}

int billboards_load(DataFile *f)
{
    g_scenery.first_file = g_scenery.billboard_count;
    int read = 0;
    char texture[1024];
    float v[5];
    while (f && data_scanf(f, "[ %f %f %f ] %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], texture) == 6) {
        if (!finite_all(v, 5))
            break;
        uint8_t rgba[4] = { 255, 255, 255, 255 };
        const char *name;
        billboard_colour_prefix(texture, rgba, &name);
        int i = billboard_add(v[0], v[1], v[2], v[3], v[4], load_texture(name), rgba);
        g_scenery.billboards[i].name = xstrdup(name);
        read++;
    }
    return read;
}

bool billboards_write(DataFile *f)
{
    bool ok = true;
    for (int i = g_scenery.first_file; i < g_scenery.billboard_count; i++) {
        const Billboard &b = g_scenery.billboards[i];
        if (!b.name)
            continue;
        ok &= data_printf(f, "[%f %f %f] %f %f ", b.x, b.y_offset, b.z, b.h, b.aspect) >= 0;
        if (b.rgba[0] == 255 && b.rgba[1] == 255 && b.rgba[2] == 255)
            ok &= data_printf(f, "%s\n", b.name) >= 0;
        else
            ok &= data_printf(f, "#%02x%02x%02x#%s\n", b.rgba[0], b.rgba[1], b.rgba[2], b.name) >= 0;
    }
    return ok;
}

static bool save_with(const char *name, const char *label, bool (*write)(DataFile *))
{
    DataFile *f = begin_replace_file(name);
    if (!f) {
        log_printf("Can't open '%s'\n", label);
        return false;
    }
    if (!write(f)) {
        abandon_replace_file(f);
        return false;
    }
    return finish_replace_file(f);
}

bool billboards_save(const char *name) { return save_with(name, "billboards", billboards_write); }

// ---- statues

static void identity(float m[9])
{
    static const float k_identity[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
    memcpy(m, k_identity, sizeof k_identity);
}

static void multiply(const float a[9], const float b[9], float out[9])
{
    float r[9];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
    memcpy(out, r, sizeof r);
}

// Rotation by angle about a unit axis (right-handed).
static void axis_rotation(float ax, float ay, float az, float angle, float m[9])
{
    float c = cosf(angle), s = sinf(angle), t = 1 - c;
    m[0] = t * ax * ax + c, m[1] = t * ax * ay - s * az, m[2] = t * ax * az + s * ay;
    m[3] = t * ax * ay + s * az, m[4] = t * ay * ay + c, m[5] = t * ay * az - s * ax;
    m[6] = t * ax * az - s * ay, m[7] = t * ay * az + s * ax, m[8] = t * az * az + c;
}

void statue_orientation(const Terrain *t, float x, float z, float angle, float m[9])
{
    if (!isfinite(angle) || angle >= 3.25f) {
        identity(m);
        return;
    }
    axis_rotation(0, 1, 0, angle, m);
    if (angle <= -2 * k_pi || !t || !t->heights)
        return;
    float h0 = terrain_height(t, x, z), hx = terrain_height(t, x + 1, z), hz = terrain_height(t, x, z + 1);
    float nx = -(hx - h0), ny = 1, nz = -(hz - h0);
    float len = sqrtf(nx * nx + ny * ny + nz * nz);
    if (!(len > 0) || !isfinite(len))
        return;
    nx /= len, ny /= len, nz /= len;
    // The shortest turn taking the up axis onto the ground's normal: about up x n.
    float ax = nz, az = -nx, s = sqrtf(ax * ax + az * az);
    if (s < 1e-6f)
        return;
    float tilt[9];
    axis_rotation(ax / s, 0, az / s, atan2f(s, ny), tilt);
    multiply(tilt, m, m);
}

static char *name_or_null(const char *name)
{
    return name && *name && strcmp(name, "null") != 0 ? xstrdup(name) : nullptr;
}

static bool file_exists(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    close_data_file(f);
    return f != nullptr;
}

static bool ends_with(const char *s, const char *tail)
{
    size_t n = strlen(s), m = strlen(tail);
    return n >= m && strcmp(s + n - m, tail) == 0;
}

// The first of the stem's "<kind>.seq", ".png", ".ppm" that exists (kind "_norm" or "_spec"),
// trying a "-repeat" texture's own repeat variants, then the model's stem.
static unsigned find_map(const char *texture, const char *model, const char *kind)
{
    static const char *const k_exts[] = { ".seq", ".png", ".ppm" };
    char stem[1024], name[1100];
    for (int source = 0; source < 2; source++) {
        const char *from = source == 0 ? texture : model;
        if (!from)
            continue;
        snprintf(stem, sizeof stem, "%s", from);
        const char *repeat = "";
        if (source == 0 && (ends_with(stem, "-repeat.png") || ends_with(stem, "-repeat.ppm") ||
                            ends_with(stem, "-repeat.seq"))) {
            stem[strlen(stem) - strlen("-repeat.png")] = 0;
            repeat = "-repeat";
        } else if (char *dot = strrchr(stem, '.'); dot && !strchr(dot, '/')) {
            *dot = 0;
        }
        for (const char *ext : k_exts) {
            snprintf(name, sizeof name, "%s%s%s%s", stem, kind, repeat, ext);
            if (file_exists(name))
                return load_texture(name);
        }
    }
    return 0;
}

static void make_statue(Statue *s, float x, float y_offset, float z, float angle, const char *model,
                        const char *texture, const char *shape)
{
    *s = {};
    s->model_name = name_or_null(model);
    s->texture_name = name_or_null(texture);
    s->shape_name = name_or_null(shape);
    if (s->model_name && g_scenery.hooks.model_load)
        s->model = g_scenery.hooks.model_load(s->model_name);
    if (s->texture_name)
        s->texture = load_texture(s->texture_name);
    if (s->texture_name && g_scenery.hooks.maps_wanted && g_scenery.hooks.maps_wanted()) {
        s->normal_map = find_map(s->texture_name, s->model_name, "_norm");
        s->specular_map = find_map(s->texture_name, s->model_name, "_spec");
    }
    if (s->shape_name) {
        s->shape = shape_load(s->shape_name);
        if (!s->shape)
            log_printf("Warning: missing shape file %.900s\n", s->shape_name);
    }
    s->x = x;
    s->z = z;
    s->y_offset = y_offset;
    s->y = y_offset + ground_height(x, z);
    s->angle = angle;
    s->hit_tic = -1;
    statue_orientation(g_scenery.ground, x, z, angle, s->m);
}

static void place_solid(WorldSolid *w, const Statue *s, int object)
{
    w->shape = shape_get(s->shape);
    w->object = object;
    w->place.position[0] = s->x;
    w->place.position[1] = s->y;
    w->place.position[2] = s->z;
    for (int k = 0; k < 9; k++)
        w->place.rotation[k] = s->m[k];
}

static void forget_near_lists(void)
{
    for (int i = 0; i < BIKE_SLOTS; i++)
        if (BikeState *b = bike_slot(i))
            b->near_solid_count = 0;
}

int statue_add(float x, float y_offset, float z, float angle, const char *model, const char *texture, const char *shape)
{
    int capacity = g_scenery.statue_capacity;
    g_scenery.statues = (Statue *)grow(g_scenery.statues, g_scenery.statue_count, &g_scenery.statue_capacity,
                                       sizeof(Statue));
    if (capacity != g_scenery.statue_capacity) {
        g_scenery.solids = (WorldSolid *)xrealloc(g_scenery.solids, (size_t)g_scenery.statue_capacity * sizeof(WorldSolid));
        forget_near_lists();        // they pointed into the old array
    }
    int i = g_scenery.statue_count++;
    make_statue(&g_scenery.statues[i], x, y_offset, z, angle, model, texture, shape);
    place_solid(&g_scenery.solids[i], &g_scenery.statues[i], i);
    return i;
}

Statue *statue(int index)
{
    return index >= 0 && index < g_scenery.statue_count ? &g_scenery.statues[index] : nullptr;
}

int statue_count(void) { return g_scenery.statue_count; }

const char *statue_model(int index)
{
    const Statue *s = statue(index);
    return s ? s->model_name : nullptr;
}

int statues_load(DataFile *f)
{
    int read = 0;
    char model[1024], texture[1024], shape[1024];
    float v[4];
    while (f && data_scanf(f, "[ %f %f %f ] %f %1023s %1023s %1023s ", &v[0], &v[1], &v[2], &v[3], model, texture,
                           shape) == 7) {
        if (!finite_all(v, 4))
            break;
        statue_add(v[0], v[1], v[2], v[3], model, texture, shape);
        read++;
    }
    return read;
}

bool statues_write(DataFile *f)
{
    bool ok = true;
    for (int i = 0; i < g_scenery.statue_count; i++) {
        const Statue &s = g_scenery.statues[i];
        ok &= data_printf(f, "[%f %f %f] %f %s %s %s\n", s.x, s.y_offset, s.z, s.angle,
                          s.model_name ? s.model_name : "null", s.texture_name ? s.texture_name : "null",
                          s.shape_name ? s.shape_name : "null") >= 0;
    }
    return ok;
}

bool statues_save(const char *name) { return save_with(name, "statues", statues_write); }

bool statue_move(int index, float x, float y_offset, float z, float angle)
{
    Statue *s = statue(index);
    if (!s || s->shape || !isfinite(x) || !isfinite(y_offset) || !isfinite(z) || !isfinite(angle))
        return false;
    s->x = x;
    s->z = z;
    s->y_offset = y_offset;
    s->y = y_offset + ground_height(x, z);
    s->angle = angle;
    statue_orientation(g_scenery.ground, x, z, angle, s->m);
    place_solid(&g_scenery.solids[index], s, index);
    return true;
}

// ---- starting-gate pieces

static bool piece_is_tall(const Statue *s)
{
    const Shape *shape = shape_get(s->shape);
    for (int i = 0; shape && i < shape->count; i++)
        if (shape->spheres[i].centre[1] + shape->spheres[i].radius > 3.25f)
            return true;
    return false;
}

int scenery_create_gate_piece(const char *model, const char *texture, const char *shape, float x, float y, float z,
                              float heading)
{
    if (g_scenery.piece_count >= 160 || !isfinite(x) || !isfinite(y) || !isfinite(z) || !isfinite(heading))
        return -1;
    int i = g_scenery.piece_count++;
    // The piece stands where the gate file puts it, y included (not above the ground).
    make_statue(&g_scenery.pieces[i], x, y, z, 4, model, texture, shape);
    g_scenery.pieces[i].y = y;
    g_scenery.piece_heading[i] = heading;
    g_scenery.piece_tall[i] = piece_is_tall(&g_scenery.pieces[i]);
    scenery_gate_piece_turn(i, 1);
    return i;
}

void scenery_gate_piece_turn(int object, float angle)
{
    if (object < 0 || object >= g_scenery.piece_count || !isfinite(angle))
        return;
    Statue &s = g_scenery.pieces[object];
    // The model lies as it lands when the gate has dropped (angle 0), its hinge on the local x
    // axis through its origin; standing (angle 1) it is turned 3/16 of a half turn about the
    // hinge, its free end lifted towards the riders. A piece whose shape stands taller than
    // 3.25 ft is no drop panel and keeps its own orientation.
    float turn[9], tilt[9];
    axis_rotation(0, 1, 0, g_scenery.piece_heading[object], turn);
    axis_rotation(1, 0, 0, g_scenery.piece_tall[object] ? 0 : -angle * 0.5890486f, tilt);
    multiply(turn, tilt, s.m);
    place_solid(&g_scenery.piece_solids[object], &s, object | k_piece_flag);
}

const Statue *scenery_gate_piece(int object)
{
    return object >= 0 && object < g_scenery.piece_count ? &g_scenery.pieces[object] : nullptr;
}

int scenery_gate_piece_count(void) { return g_scenery.piece_count; }

bool scenery_solid_is_gate_piece(int object, int *piece)
{
    if (!(object & k_piece_flag))
        return false;
    *piece = object & ~k_piece_flag;
    return true;
}

bool scenery_object_touches(int object, BikeState *bike)
{
    if (object < 0 || object >= g_scenery.piece_count || !bike || !bike->built)
        return false;
    const WorldSolid &w = g_scenery.piece_solids[object];
    for (int body = 0; body < BODY_COUNT; body++)
        if (shape_contact_placed(shape_get(bike->shape[body]), bike->body[body], w.shape, &w.place, SHAPE_TEST))
            return true;
    return false;
}

// ---- grid and gathering

static void grid_free(void)
{
    for (auto &row : g_scenery.grid)
        for (GridCell &c : row) {
            xfree(c.statues);
            c = {};
        }
}

static int cell_of(float v)
{
    if (!(g_scenery.cell_size > 0))
        return 0;
    float c = floorf(v / g_scenery.cell_size);
    return !(c >= 0) ? 0 : c >= (float)k_grid ? k_grid - 1 : (int)c;
}

void scenery_sort_into_grid(void)
{
    grid_free();
    const Terrain *t = g_scenery.ground;
    g_scenery.cell_size = t && t->world_size > 0 ? t->world_size / (float)k_grid : 0;
    for (int i = 0; i < g_scenery.statue_count; i++) {
        const Statue &s = g_scenery.statues[i];
        const Shape *shape = shape_get(s.shape);
        if (!shape || shape->count == 0)
            continue;
        // Every cell the shape's bounding square reaches; a bike then looks only in its own.
        int x0 = cell_of(s.x - shape->bound), x1 = cell_of(s.x + shape->bound);
        int z0 = cell_of(s.z - shape->bound), z1 = cell_of(s.z + shape->bound);
        for (int cz = z0; cz <= z1; cz++)
            for (int cx = x0; cx <= x1; cx++) {
                GridCell &c = g_scenery.grid[cz][cx];
                c.statues = (int *)grow(c.statues, c.count, &c.capacity, sizeof(int));
                c.statues[c.count++] = i;
            }
    }
}

void scenery_clear_hit_marks(void)
{
    for (int i = 0; i < g_scenery.statue_count; i++)
        g_scenery.statues[i].hit_tic = -1;
    for (int i = 0; i < g_scenery.piece_count; i++)
        g_scenery.pieces[i].hit_tic = -1;
}

static bool within_reach(const WorldSolid &w, const double at[3], double reach)
{
    if (!w.shape || w.shape->count == 0)
        return false;
    double dx = w.place.position[0] - at[0], dy = w.place.position[1] - at[1], dz = w.place.position[2] - at[2];
    double r = reach + w.shape->bound;
    return dx * dx + dy * dy + dz * dz < r * r;
}

void scenery_gather_near(BikeState *bike)
{
    if (!bike)
        return;
    bike->near_solid_count = 0;
    if (!bike->built)
        return;
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    double at[3] = { p[0], p[1], p[2] }, reach = bike_reach(bike);
    int cx0 = cell_of((float)(at[0] - reach)), cx1 = cell_of((float)(at[0] + reach));
    int cz0 = cell_of((float)(at[2] - reach)), cz1 = cell_of((float)(at[2] + reach));
    // A statue listed in several cells is taken once.
    for (int cz = cz0; cz <= cz1; cz++)
        for (int cx = cx0; cx <= cx1; cx++) {
            const GridCell &c = g_scenery.grid[cz][cx];
            for (int k = 0; k < c.count && bike->near_solid_count < BIKE_NEAR_SOLIDS; k++) {
                int i = c.statues[k];
                bool seen = false;
                for (int n = 0; n < bike->near_solid_count && !seen; n++)
                    seen = bike->near_solids[n] == &g_scenery.solids[i];
                if (!seen && within_reach(g_scenery.solids[i], at, reach))
                    bike->near_solids[bike->near_solid_count++] = &g_scenery.solids[i];
            }
        }
    for (int i = 0; i < g_scenery.piece_count && bike->near_solid_count < BIKE_NEAR_SOLIDS; i++)
        if (within_reach(g_scenery.piece_solids[i], at, reach))
            bike->near_solids[bike->near_solid_count++] = &g_scenery.piece_solids[i];
}

void scenery_mark_hits(const BikeState *bike, int32_t tic)
{
    for (int k = 0; bike && k < bike->touched_solid_count; k++) {
        int object = bike->touched_solids[k], piece;
        if (scenery_solid_is_gate_piece(object, &piece)) {
            if (piece >= 0 && piece < g_scenery.piece_count)
                g_scenery.pieces[piece].hit_tic = tic;
        } else if (object >= 0 && object < g_scenery.statue_count) {
            g_scenery.statues[object].hit_tic = tic;
        }
    }
}

// ---- teardown

static void statue_free(Statue *s)
{
    xfree(s->model_name);
    xfree(s->texture_name);
    xfree(s->shape_name);
    *s = {};
}

void scenery_free_all(void)
{
    forget_near_lists();
    grid_free();
    roost_pool_free();
    flaggers_free();
    for (int i = 0; i < g_scenery.billboard_count; i++)
        xfree(g_scenery.billboards[i].name);
    xfree(g_scenery.billboards);
    for (int i = 0; i < g_scenery.statue_count; i++)
        statue_free(&g_scenery.statues[i]);
    xfree(g_scenery.statues);
    xfree(g_scenery.solids);
    for (int i = 0; i < g_scenery.piece_count; i++)
        statue_free(&g_scenery.pieces[i]);
    SceneryHooks hooks = g_scenery.hooks;
    const Terrain *ground = g_scenery.ground;
    g_scenery = {};
    g_scenery.hooks = hooks;
    g_scenery.ground = ground;
}
