#include "terrain/tiles.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common/mem.h"
#include "platform/log.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static const float k_tic = 1.0f / 128.0f;

// A float from the file as a byte the way the colour and fade fields keep it: truncated to an
// integer and wrapped into 0..255 (so -2 is 254).
static uint8_t wrap_byte(double v)
{
    if (v > 1e9)
        v = 1e9;
    if (v < -1e9)
        v = -1e9;
    return (uint8_t)(long)v;
}

static void roost_defaults(RoostType *r)
{
    memset(r, 0, sizeof *r);
    r->count = 10.0f;
    r->dig = 1.0f;
    r->slip_threshold = 4.0f;
    r->slow_angle = 1.5707964f;
    r->fast_angle = 0.1963495f;
    r->slow_speed = 0.0f;
    r->fast_speed = 64.0f;
    r->size = 0.25f;
    r->grow = 4.0f;
    r->drag = 0.5f;
    r->vscale = 1.0f;
    r->randomize = 15.0f;
    r->r = r->g = r->b = r->a = 255;
    r->fade_a = 254;
}

static void erode_defaults(ErodeParams *e)
{
    memset(e, 0, sizeof *e);
    e->depth = 1.0f;
    e->lower = 50.0f;
    e->upper = 150.0f;
    e->displacement = 2.0f;
    e->radius = 4.0f;
    e->inner_depth = 0.125f;
    e->inner_radius = 2.0f;
    e->min_slope = -0.5f;
    e->max_slope = 0.5f;
    e->off_speed = 10.0f;
    e->on_speed = 15.0f;
    e->slip_lower = 0.0f;
    e->slip_upper = 5.0f;
    e->slip_base_scale = 1.0f;
    e->slip_scale = 1.5f;
    e->downhill_scale = 0.0f;
    e->limit_count = 1;
    e->limit_depth[0] = 0.0f;
    e->limit_outer[0] = 1.0f;
    e->limit_inner[0] = 1.0f;
    e->project_to_ground = 1.0f;
    e->lateral_scale = 1.0f;
    e->front_scale = 1.0f;
}

void tile_set_defaults(TileType *tile)
{
    memset(tile, 0, sizeof *tile);
    for (int k = 0; k < k_max_friction_points; k++) {
        tile->friction_value[k] = 1.0f;
        tile->friction_key[k] = k == 0 ? 1.0f : k_unused_friction_key;
    }
    for (int k = 0; k < k_max_roll_points; k++) {
        tile->roll_resist[k][0] = 5.0f;
        tile->roll_resist[k][1] = 15.0f;
        tile->roll_resist_key[k] = k == 0 ? 1.0f : 0.0f;
    }
    for (int k = 0; k < k_max_roost_types; k++)
        roost_defaults(&tile->roost[k]);
    erode_defaults(&tile->erode);
}

static void tile_release(TileType *tile)
{
    xfree(tile->texture_path);
    xfree(tile->file_name);
    for (int k = 0; k < k_max_roost_types; k++)
        xfree(tile->roost[k].texture_name);
    tile->texture_path = tile->file_name = nullptr;
}

void tiles_free(Terrain *t)
{
    for (int i = 0; i < t->tile_count; i++)
        tile_release(&t->tiles[i]);
    xfree(t->tiles);
    xfree(t->tilemap);
    t->tiles = nullptr;
    t->tilemap = nullptr;
    t->tile_count = 0;
}

static unsigned load_texture(const char *path)
{
    const TerrainRenderHooks *hooks = terrain_render_hooks();
    return hooks->load_tile_texture && path && *path ? hooks->load_tile_texture(path) : 0;
}

// "@tiles/dirt.png" -> "/dirt.png"; "@dirt.png" -> "dirt.png".
static char *file_name_of(const char *path)
{
    if (!path)
        return xstrdup("");
    if (*path == '@')
        path++;
    const char *slash = strrchr(path, '/');
    return xstrdup(slash ? slash : path);
}

static void set_texture(TileType *tile, const char *path)
{
    xfree(tile->texture_path);
    xfree(tile->file_name);
    tile->texture_path = xstrdup(path);
    tile->file_name = file_name_of(path);
    tile->texture = load_texture(path);
}

// ---- sorting and curves ----

static void sort_friction(TileType *tile, int n)
{
    for (int a = 1; a < n; a++)
        for (int b = a; b > 0 && tile->friction_key[b] < tile->friction_key[b - 1]; b--) {
            float k = tile->friction_key[b], v = tile->friction_value[b];
            tile->friction_key[b] = tile->friction_key[b - 1];
            tile->friction_value[b] = tile->friction_value[b - 1];
            tile->friction_key[b - 1] = k;
            tile->friction_value[b - 1] = v;
        }
}

static void sort_roll(TileType *tile, int n)
{
    for (int a = 1; a < n; a++)
        for (int b = a; b > 0 && tile->roll_resist_key[b] < tile->roll_resist_key[b - 1]; b--) {
            float k = tile->roll_resist_key[b], p0 = tile->roll_resist[b][0], p1 = tile->roll_resist[b][1];
            tile->roll_resist_key[b] = tile->roll_resist_key[b - 1];
            tile->roll_resist[b][0] = tile->roll_resist[b - 1][0];
            tile->roll_resist[b][1] = tile->roll_resist[b - 1][1];
            tile->roll_resist_key[b - 1] = k;
            tile->roll_resist[b - 1][0] = p0;
            tile->roll_resist[b - 1][1] = p1;
        }
}

float tile_ramp(float x, float lo, float hi)
{
    if (!(hi - lo > 0.0f))
        return x >= hi ? 1.0f : 0.0f;
    float f = (x - lo) / (hi - lo);
    return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
}

float tile_friction(const TileType *tile, float s, bool squared)
{
    const float *key = tile->friction_key, *value = tile->friction_value;
    float x = squared ? s * s : s;
    float k0 = squared ? key[0] * key[0] : key[0];
    if (key[0] >= k_unused_friction_key || x < k0)
        return value[0];
    for (int k = 1; k < k_max_friction_points; k++) {
        if (key[k] >= k_unused_friction_key)
            return value[k - 1];
        float lo = squared ? key[k - 1] * key[k - 1] : key[k - 1];
        float hi = squared ? key[k] * key[k] : key[k];
        if (x < hi)
            return value[k - 1] + tile_ramp(x, lo, hi) * (value[k] - value[k - 1]);
    }
    return value[k_max_friction_points - 1];
}

void tile_roll_resist(const TileType *tile, float w, float pair[2])
{
    const float *key = tile->roll_resist_key;
    int last = 0;
    if (key[0] != 0.0f && w >= key[0]) {
        for (int k = 1; k < k_max_roll_points; k++) {
            if (key[k] == 0.0f)
                break;
            if (w < key[k]) {
                float f = tile_ramp(w, key[k - 1], key[k]);
                for (int c = 0; c < 2; c++)
                    pair[c] = tile->roll_resist[k - 1][c] + f * (tile->roll_resist[k][c] - tile->roll_resist[k - 1][c]);
                return;
            }
            last = k;
        }
    }
    pair[0] = tile->roll_resist[last][0];
    pair[1] = tile->roll_resist[last][1];
}

// ---- tileinfo ----

struct TileBuild {
    TileType tile;
    bool named;
    int friction_n, roll_n, roost_n, limit_n;
};

static void build_reset(TileBuild *b)
{
    tile_set_defaults(&b->tile);
    b->named = false;
    b->friction_n = b->roll_n = b->roost_n = b->limit_n = 0;
}

static bool parse_float(const char *text, float *out)
{
    char *end;
    double v = strtod(text, &end);
    if (end == text || !isfinite(v) || fabs(v) > 3.4e38)
        return false;
    while (*end == ' ' || *end == '\t')
        end++;
    if (*end)
        return false;
    *out = (float)v;
    return true;
}

// sscanf-style "%f %f ..." of exactly n finite numbers at the start of text.
static bool scan_floats(const char *text, int n, float *out)
{
    const char *p = text;
    for (int k = 0; k < n; k++) {
        char *end;
        double v = strtod(p, &end);
        if (end == p || !isfinite(v) || fabs(v) > 3.4e38)
            return false;
        out[k] = (float)v;
        p = end;
    }
    return true;
}

struct RoostKey {
    const char *key;            // without "="
    int field;                  // offset of a float field, or a special code below
};

enum { k_roost_texture = -1, k_roost_splash = -2, k_roost_byte = -3, k_roost_fade = -4 };

#define ROOST_FLOAT(name) { #name, (int)offsetof(RoostType, name) }
static const RoostKey k_roost_keys[] = {
    { "texture", k_roost_texture }, { "splash", k_roost_splash },
    ROOST_FLOAT(count), ROOST_FLOAT(dig), ROOST_FLOAT(slip_threshold), ROOST_FLOAT(slow_angle),
    ROOST_FLOAT(fast_angle), ROOST_FLOAT(slow_speed), ROOST_FLOAT(fast_speed), ROOST_FLOAT(size),
    ROOST_FLOAT(grow), ROOST_FLOAT(drag), ROOST_FLOAT(vscale), ROOST_FLOAT(randomize),
    { "r", k_roost_byte }, { "g", k_roost_byte }, { "b", k_roost_byte }, { "a", k_roost_byte },
    { "fade_r", k_roost_fade }, { "fade_g", k_roost_fade }, { "fade_b", k_roost_fade }, { "fade_a", k_roost_fade },
};

static uint8_t *roost_byte(RoostType *r, const char *key)
{
    bool fade = strncmp(key, "fade_", 5) == 0;
    char c = key[fade ? 5 : 0];
    uint8_t *base = fade ? &r->fade_r : &r->r;
    return base + (c == 'r' ? 0 : c == 'g' ? 1 : c == 'b' ? 2 : 3);
}

static void roost_word(RoostType *r, const char *word)
{
    const char *eq = strchr(word, '=');
    const RoostKey *found = nullptr;
    if (eq)
        for (const RoostKey &k : k_roost_keys)
            if ((size_t)(eq - word) == strlen(k.key) && strncmp(word, k.key, eq - word) == 0)
                found = &k;
    if (!found) {
        log_printf("tileinfo warning: unknown roost parameter '%.40s'\n", word);
        return;
    }
    const char *value = eq + 1;
    if (found->field == k_roost_texture) {
        xfree(r->texture_name);
        r->texture_name = xstrdup(value);
        r->texture = load_texture(value);
        return;
    }
    float v;
    if (!parse_float(value, &v)) {
        log_printf("tileinfo warning: bad %s\n", found->key);
        return;
    }
    if (found->field == k_roost_splash) {
        if (v != 0.0f)
            r->state = 2;
    } else if (found->field == k_roost_byte) {
        *roost_byte(r, found->key) = wrap_byte(v);
    } else if (found->field == k_roost_fade) {
        *roost_byte(r, found->key) = wrap_byte(v * k_tic);
    } else {
        *(float *)(void *)((char *)r + found->field) = v;
    }
}

static bool is_roost_separator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\b';
}

static void parse_roost(TileBuild *b, const char *arg)
{
    if (b->roost_n >= k_max_roost_types) {
        log_printf("tileinfo warning: too many roost types\n");
        return;
    }
    RoostType *r = &b->tile.roost[b->roost_n++];
    r->state = 1;
    char word[1024];
    const char *p = arg;
    for (;;) {
        while (*p && is_roost_separator(*p))
            p++;
        if (!*p)
            break;
        int n = 0;
        bool quoted = false;
        for (; *p && (quoted || !is_roost_separator(*p)); p++) {
            if (*p == '"')
                quoted = !quoted;
            else if (n < (int)sizeof word - 1)
                word[n++] = *p;
        }
        word[n] = 0;
        roost_word(r, word);
    }
}

struct ErodeKey {
    const char *key;
    int field;
};

#define ERODE_FLOAT(key, name) { key, (int)offsetof(ErodeParams, name) }
static const ErodeKey k_erode_keys[] = {
    ERODE_FLOAT("erode_depth", depth), ERODE_FLOAT("erode_lower", lower), ERODE_FLOAT("erode_upper", upper),
    ERODE_FLOAT("erode_displacement", displacement), ERODE_FLOAT("erode_radius", radius),
    ERODE_FLOAT("erode_inner_depth", inner_depth), ERODE_FLOAT("erode_inner_radius", inner_radius),
    ERODE_FLOAT("erode_min_slope", min_slope), ERODE_FLOAT("erode_max_slope", max_slope),
    ERODE_FLOAT("erode_off_speed", off_speed), ERODE_FLOAT("erode_on_speed", on_speed),
    ERODE_FLOAT("erode_slip_lower", slip_lower), ERODE_FLOAT("erode_slip_upper", slip_upper),
    ERODE_FLOAT("erode_slip_base_scale", slip_base_scale), ERODE_FLOAT("erode_slip_scale", slip_scale),
    ERODE_FLOAT("erode_downhill_scale", downhill_scale),
    ERODE_FLOAT("erode_project_to_ground", project_to_ground),
    ERODE_FLOAT("erode_lateral_scale", lateral_scale), ERODE_FLOAT("erode_front_scale", front_scale),
};

static void parse_erode_limit(TileBuild *b, const char *arg)
{
    ErodeParams *e = &b->tile.erode;
    if (b->limit_n >= k_max_erode_limits) {
        log_printf("tileinfo warning: too many erode limits\n");
        return;
    }
    float v[3];
    if (!scan_floats(arg, 3, v)) {
        log_printf("tileinfo warning: bad erode_limit\n");
        return;
    }
    if (b->limit_n > 0 && !(v[0] > e->limit_depth[b->limit_n - 1])) {
        log_printf("tileinfo warning: erode_limit depth <= prev depth\n");
        return;
    }
    e->limit_depth[b->limit_n] = v[0];
    e->limit_outer[b->limit_n] = v[1];
    e->limit_inner[b->limit_n] = v[2];
    e->limit_count = ++b->limit_n;
}

static void commit_tile(Terrain *t, TileBuild *b)
{
    TileType *tile = &b->tile;
    sort_friction(tile, b->friction_n);
    sort_roll(tile, b->roll_n);
    if (b->limit_n == 0) {
        tile->erode.limit_count = 1;
        tile->erode.limit_depth[0] = 0.0f;
        tile->erode.limit_outer[0] = 1.0f;
        tile->erode.limit_inner[0] = 1.0f;
    }
    if (!b->named)
        snprintf(tile->name, sizeof tile->name, "%.47s", tile->texture_path ? tile->texture_path : "");
    if (!tile->file_name)
        tile->file_name = file_name_of(nullptr);
    t->tiles[t->tile_count++] = *tile;
    build_reset(b);     // ownership of the strings moved into the table
}

static void tileinfo_line(Terrain *t, TileBuild *b, char *line)
{
    char *p = line;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        p++;
    if (!*p)
        return;
    char *key = p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
        p++;
    char *key_end = p;
    while (*p == ' ' || *p == '\t')
        p++;
    char *arg = p;
    arg[strcspn(arg, "\r\n")] = 0;
    *key_end = 0;
    TileType *tile = &b->tile;

    if (!strcmp(key, "addtile")) {
        commit_tile(t, b);
    } else if (!strcmp(key, "name")) {
        snprintf(tile->name, sizeof tile->name, "%.47s", arg);
        b->named = true;
    } else if (!strcmp(key, "texture")) {
        set_texture(tile, arg);
    } else if (!strcmp(key, "friction")) {
        float v[2];
        if (b->friction_n >= k_max_friction_points) {
            log_printf("tileinfo warning: too many friction points\n");
        } else if (!scan_floats(arg, 2, v)) {
            log_printf("tileinfo warning: bad friction parameters\n");
        } else {
            tile->friction_value[b->friction_n] = v[0] < 0.0f ? 0.0f : v[0];
            tile->friction_key[b->friction_n] = v[1] >= k_max_friction_key ? k_max_friction_key : v[1];
            b->friction_n++;
        }
    } else if (!strcmp(key, "slip_function")) {
        char *end;
        long v = strtol(arg, &end, 10);
        if (end == arg || v < 0 || v > 2)
            log_printf("tileinfo warning: bad slip_function\n");
        else
            tile->slip_function = (int)v;
    } else if (!strcmp(key, "roll_resist")) {
        float v[3];
        if (b->roll_n >= k_max_roll_points) {
            log_printf("tileinfo warning: too many roll_resist points\n");
        } else if (!scan_floats(arg, 3, v)) {
            log_printf("tileinfo warning: bad roll_resist parameters\n");
        } else {
            tile->roll_resist[b->roll_n][0] = v[0] < 0.0f ? 0.0f : v[0];
            tile->roll_resist[b->roll_n][1] = v[1] < 0.0f ? 0.0f : v[1];
            tile->roll_resist_key[b->roll_n] = v[2] > k_min_roll_key ? v[2] : k_min_roll_key;
            b->roll_n++;
        }
    } else if (!strcmp(key, "roost")) {
        parse_roost(b, arg);
    } else if (!strcmp(key, "erode_limit")) {
        parse_erode_limit(b, arg);
    } else {
        for (const ErodeKey &k : k_erode_keys)
            if (!strcmp(key, k.key)) {
                float v;
                if (scan_floats(arg, 1, &v))
                    *(float *)(void *)((char *)&tile->erode + k.field) = v;
                else
                    log_printf("tileinfo warning: bad %s\n", k.key);
                return;
            }
        log_printf("tileinfo warning: Unknown identifier '%.950s'\n", key);
    }
}

static void compute_blends(Terrain *t);

bool tileinfo_load(Terrain *t, DataFile *f)
{
    tiles_free(t);
    t->tiles = (TileType *)xcalloc(k_max_tile_types, sizeof(TileType));
    TileBuild *b = (TileBuild *)xmalloc(sizeof *b);
    build_reset(b);
    char line[1024];
    while (t->tile_count < k_max_tile_types && data_gets(f, line, sizeof line))
        tileinfo_line(t, b, line);
    tile_release(&b->tile);     // lines after the last "addtile"
    xfree(b);
    if (t->tile_count == 0) {
        tiles_free(t);
        return false;
    }
    compute_blends(t);
    return true;
}

// ---- texturelist ----

bool texturelist_load(Terrain *t, DataFile *f)
{
    tiles_free(t);
    t->tiles = (TileType *)xcalloc(k_max_tile_types, sizeof(TileType));
    char line[1024];
    while (t->tile_count < k_max_tile_types && data_gets(f, line, sizeof line)) {
        char *p = line;
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '\v')
            p++;
        if (!*p)
            continue;
        float v[3] = { 1.0f, 5.0f, 15.0f };
        float read[3];
        int used = 0;
        if (sscanf(p, "%f %f %f %n", &read[0], &read[1], &read[2], &used) == 3 && used > 0) {
            if (isfinite(read[0]) && isfinite(read[1]) && isfinite(read[2]))
                memcpy(v, read, sizeof v);
            p += used;
        }
        size_t n = strlen(p);
        while (n > 0 && (p[n - 1] == '\r' || p[n - 1] == '\n'))
            p[--n] = 0;
        TileType *tile = &t->tiles[t->tile_count++];
        tile_set_defaults(tile);
        for (int k = 0; k < k_max_friction_points; k++)
            tile->friction_value[k] = v[0];
        for (int k = 0; k < k_max_roll_points; k++) {
            tile->roll_resist[k][0] = v[1];
            tile->roll_resist[k][1] = v[2];
        }
        tile->roost[0].state = 1;
        if (*p) {
            char path[1100];
            snprintf(path, sizeof path, "@%s", p);
            set_texture(tile, path);
            const char *base = strrchr(path, '/');
            snprintf(tile->name, sizeof tile->name, "%.47s", base ? base + 1 : path + 1);
        } else {
            tile->file_name = file_name_of(nullptr);
        }
    }
    if (t->tile_count == 0) {
        tiles_free(t);
        return false;
    }
    compute_blends(t);
    return true;
}

// ---- tilemap ----

bool tilemap_load(Terrain *t, DataFile *f)
{
    if (t->tile_count <= 0 || t->size_exponent <= 0 || t->size_exponent > k_terrain_max_exponent)
        return false;
    size_t n = (size_t)1 << (2 * t->size_exponent);
    xfree(t->tilemap);
    t->tilemap = (uint8_t *)xcalloc(n, 1);
    data_read(f, t->tilemap, n);    // a short file leaves the rest as tile 0
    uint8_t last = (uint8_t)(t->tile_count - 1);
    for (size_t k = 0; k < n; k++)
        if (t->tilemap[k] > last)
            t->tilemap[k] = last;
    return true;
}

int tile_at(const Terrain *t, float x, float z)
{
    if (!t->tilemap)
        return 0;
    int n = t->size_exponent;
    float last = (float)((1 << n) - 1);
    float s = 1.0f / t->tile_size;
    float u = x * s, w = z * s;
    int column = u < 0.0f ? 0 : (int)fminf(u, last);
    int row = w < 0.0f ? 0 : (int)fminf(w, last);
    return t->tilemap[column + (row << n)];
}

const TileType *tile_type(const Terrain *t, int index)
{
    return index >= 0 && index < t->tile_count ? &t->tiles[index] : nullptr;
}

int blend_base(int32_t blend)
{
    return blend == k_blend_missing_overlay ? -1 : (blend >> 16) & 255;
}

int blend_overlay(int32_t blend)
{
    return blend == k_blend_missing_overlay ? -1 : (blend >> 8) & 255;
}

int blend_mask(int32_t blend)
{
    return blend == k_blend_missing_overlay ? -1 : blend & 15;
}

// The first tile whose file name is 'len' characters of 'stem' followed directly by ".".
static int find_stem(const Terrain *t, const char *stem, size_t len)
{
    for (int j = 0; j < t->tile_count; j++) {
        const char *fn = t->tiles[j].file_name;
        if (fn && strncmp(fn, stem, len) == 0 && fn[len] == '.')
            return j;
    }
    return -1;
}

static int32_t make_blend(int base, int overlay, int mask)
{
    return (int32_t)(base << 16 | overlay << 8 | mask);
}

static void compute_blends(Terrain *t)
{
    for (int i = 0; i < t->tile_count; i++) {
        const char *s = t->tiles[i].file_name ? t->tiles[i].file_name : "";
        const char *dash = strchr(s, '-');
        int j = dash ? find_stem(t, s, dash - s) : -1;
        if (j < 0) {
            t->tiles[i].blend = make_blend(i, i, 0);
            continue;
        }
        const char *rest = dash + 1;
        if (strncmp(rest, "alt", 3) == 0 && rest[3] >= '0' && rest[3] <= '9') {
            t->tiles[i].blend = make_blend(j, j, 0);
            continue;
        }
        const char *dash2 = strchr(rest, '-');
        int l = dash2 ? find_stem(t, rest, dash2 - rest) : -1;
        if (l < 0) {
            t->tiles[i].blend = k_blend_missing_overlay;
            continue;
        }
        int mask = 0;
        const char *d = dash2 + 1;
        for (int k = 0; k < 4; k++) {
            // stops at the end of a short name, which gives mask 0
            if (d[k] != '0' && d[k] != '1') {
                mask = 0;
                break;
            }
            mask = mask * 2 + (d[k] - '0');
        }
        t->tiles[i].blend = make_blend(j, l, mask);
    }
}
