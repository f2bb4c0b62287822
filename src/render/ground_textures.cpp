#include "render/ground_textures.h"

#include <math.h>
#include <string.h>

#include "common/mem.h"
#include "platform/log.h"
#include "render/scenery/decal.h"
#include "render/gl.h"
#include "render/image/image.h"
#include "render/terrain_lod.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

struct GroundTexture {
    unsigned id;
    unsigned normal, specular;  // the shader path's maps of the same square
    bool ready;
    int stale;                  // frame it went stale; 0 not stale
    int dirty;                  // base textures: -1 must be rebuilt
    int part[4];                // the cells x0, z0, x1, z1 to compose again (dirty or stale)
};

// A region's cells join what a texture must compose again.
static void add_part(GroundTexture &g, bool fresh, int x0, int z0, int x1, int z1)
{
    if (fresh) {
        g.part[0] = x0, g.part[1] = z0, g.part[2] = x1, g.part[3] = z1;
        return;
    }
    g.part[0] = x0 < g.part[0] ? x0 : g.part[0];
    g.part[1] = z0 < g.part[1] ? z0 : g.part[1];
    g.part[2] = x1 > g.part[2] ? x1 : g.part[2];
    g.part[3] = z1 > g.part[3] ? z1 : g.part[3];
}

struct TileSource {
    bool tried;
    MipChain chain;             // levels 0 when the tile has no picture
};

static struct {
    GroundSettings settings = { 2, 1, true, 0, 0 };
    Terrain *t;
    int n;
    int method;
    int dim;                    // T
    int lmin;
    int frame;
    int calls;                  // ground_low_detail_step calls
    bool window_known[GROUND_CLIP_LEVELS];
    int origin_x[GROUND_CLIP_LEVELS], origin_z[GROUND_CLIP_LEVELS];
    // Slot (x & 3) + 4 (z & 3) of a window holds the texture of absolute cell (x, z).
    GroundTexture clip[GROUND_CLIP_LEVELS][GROUND_WINDOW * GROUND_WINDOW];
    GroundTexture *base;
    int base_side;
    unsigned *low;
    uint8_t *low_dirty;
    int low_side, low_cursor;
    unsigned fbo;
    unsigned char *pixels;      // T x T RGB for the software composer
    TileSource *tiles;
    int tile_count;
    uint16_t *order;            // the GL composer's tiles, grouped by type
    int order_capacity;
    unsigned long bytes;
    bool x1270, x1270_checked;
    bool decals_hidden;
    bool dynamic_lighting;      // the track's lighting asks for per-pixel light
    bool shader_path;
} g_ground;

// Probed with a context; headless tests and tools keep the bookkeeping without textures.
static bool has_gl(void) { return gl_caps.major > 0; }

// ---- rules

int ground_window_origin(int n, int level, int camera_cell)
{
    int o = ((camera_cell - (1 << level)) >> (level + 1)) - 1;
    int last = (1 << (n - level)) - GROUND_WINDOW;
    return o < 0 ? 0 : o > last ? last : o;
}

// A window larger than the field would compose tiles outside the tilemap.
bool ground_level_fits(int n, int level) { return n - level >= 2; }

int ground_low_detail_count(int n) { return ((1 << (n + 1)) / 128 + 2) / 3; }

void ground_configure(const GroundSettings *s) { g_ground.settings = *s; }
void ground_set_dynamic_lighting(bool on) { g_ground.dynamic_lighting = on; }
bool ground_shader_path(void) { return g_ground.shader_path; }
void ground_hide_decals(bool hidden) { g_ground.decals_hidden = hidden; }

int ground_method(void) { return g_ground.method; }
int ground_texture_dim(void) { return g_ground.dim; }
int ground_lmin(void) { return g_ground.lmin; }
int ground_frame(void) { return g_ground.frame; }
unsigned long ground_texture_memory(void) { return g_ground.bytes; }

static bool level_used(int level)
{
    return g_ground.t && level >= g_ground.lmin && level < GROUND_CLIP_LEVELS && ground_level_fits(g_ground.n, level);
}

static int slot_of(int tx, int tz) { return (tx & 3) + 4 * (tz & 3); }

static bool in_window(int level, int tx, int tz)
{
    return g_ground.window_known[level] && tx >= g_ground.origin_x[level] && tz >= g_ground.origin_z[level] &&
           tx < g_ground.origin_x[level] + GROUND_WINDOW && tz < g_ground.origin_z[level] + GROUND_WINDOW;
}

bool ground_window(int level, int *x0, int *z0, int *size)
{
    if (!level_used(level) || !g_ground.window_known[level])
        return false;
    int cells = 2 << level;
    *x0 = g_ground.origin_x[level] * cells;
    *z0 = g_ground.origin_z[level] * cells;
    *size = GROUND_WINDOW * cells;
    return true;
}

void ground_bind(int x0, int z0, int size, LodBinding *out)
{
    int from = g_ground.lmin;
    while (from < GROUND_CLIP_LEVELS && (2 << from) < size)
        from++;
    for (int level = from; level < GROUND_CLIP_LEVELS; level++) {
        if (!level_used(level))
            continue;
        int cells = 2 << level, tx = x0 / cells, tz = z0 / cells;
        const GroundTexture &g = g_ground.clip[level][slot_of(tx, tz)];
        if (in_window(level, tx, tz) && g.ready && (g.id || !has_gl())) {
            *out = { g.id, tx * cells, tz * cells, cells, level, g.normal, g.specular };
            return;
        }
    }
    int cells = 2 * GROUND_BASE_TILES, bx = x0 / cells, bz = z0 / cells;
    GroundTexture none = {};
    const GroundTexture &g = g_ground.base && bx < g_ground.base_side && bz < g_ground.base_side
                                 ? g_ground.base[bx + bz * g_ground.base_side] : none;
    *out = { g.id, bx * cells, bz * cells, cells, GROUND_CLIP_LEVELS, g.normal, g.specular };
}

// ---- the choice of method

int ground_choose_method(Terrain *t, int requested, int drawable_size)
{
    bool shaders = requested == GROUND_METHOD_SHADERS_COPY || requested == GROUND_METHOD_SHADERS_DIRECT;
    if (shaders)
        requested -= 2;
    int method = 0;
    g_ground.dim = 32 << (g_ground.settings.dim_index < 0 ? 0 : g_ground.settings.dim_index > 5 ? 5 : g_ground.settings.dim_index);
    if (requested == GROUND_METHOD_DIRECT && gl_caps.framebuffer_object && glf.glGenFramebuffersEXT) {
        if (!g_ground.fbo)
            glf.glGenFramebuffersEXT(1, &g_ground.fbo);
        if (g_ground.fbo) {
            method = GROUND_METHOD_DIRECT;
            log_printf("Terrain texture rendering with framebuffer objects\n");
        } else {
            log_printf("Can't create a framebuffer object\n");
        }
    }
    if (!method && requested == GROUND_METHOD_COPY) {
        method = GROUND_METHOD_COPY;
        log_printf("Terrain texture rendering with CopyTexSubImage\n");
    }
    if (!method) {
        method = GROUND_METHOD_SOFTWARE;
        log_printf("Terrain texture rendering with TexSubImage\n");
    }
    if (method != GROUND_METHOD_DIRECT && g_ground.dim > 256)
        g_ground.dim = 256;
    // The back buffer must hold a whole texture, or the copy takes pixels from outside it.
    if (method == GROUND_METHOD_COPY && drawable_size > 0 && drawable_size < g_ground.dim) {
        int fit = 32;
        while (fit * 2 <= drawable_size)
            fit *= 2;
        if (fit > drawable_size) {
            log_printf("Window too small for CopyTexSubImage: terrain texture rendering with TexSubImage\n");
            method = GROUND_METHOD_SOFTWARE;
        } else {
            log_printf("Ground textures reduced to %dx%d to fit the window\n", fit, fit);
            g_ground.dim = fit;
        }
    }
    g_ground.method = method;
    g_ground.lmin = g_ground.settings.lmin < 0 ? 0 : g_ground.settings.lmin > 10 ? 10 : g_ground.settings.lmin;
    g_ground.shader_path = shaders && g_ground.dynamic_lighting && method != GROUND_METHOD_SOFTWARE &&
                           shader_program(SHADER_TERRAIN) && shader_program(SHADER_TERRAIN_NORMALS) &&
                           glf.glActiveTextureARB && glf.glClientActiveTextureARB && glf.glMultiTexCoord2fARB;
    if (g_ground.shader_path)
        log_printf("Terrain lit per pixel with shader programs\n");
    if (t) {
        t->texture_method = method;
        t->shader_path = g_ground.shader_path;
    }
    return method;
}

// ---- textures

static unsigned new_texture(int size, const unsigned char *pixels, bool mipmapped)
{
    unsigned id = 0;
    glGenTextures(1, &id);
    if (!id)
        return 0;
    glBindTexture(GL_TEXTURE_2D, id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (mipmapped && g_ground.method == GROUND_METHOD_COPY && gl_caps.generate_mipmap)
        glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP_SGIS, GL_TRUE);
    unsigned long bytes = 0;
    if (mipmapped && (g_ground.method != GROUND_METHOD_COPY || !gl_caps.generate_mipmap)) {
        MipChain chain;
        if (mip_chain_build(pixels, size, size, 3, false, &chain)) {
            for (int l = 0; l < chain.levels; l++) {
                glTexImage2D(GL_TEXTURE_2D, l, GL_RGB, chain.width[l], chain.height[l], 0, GL_RGB, GL_UNSIGNED_BYTE,
                             chain.pixels[l]);
                bytes += (unsigned long)chain.width[l] * chain.height[l] * 3;
            }
            mip_chain_free(&chain);
        }
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, size, size, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
        bytes = (unsigned long)size * size * 3;
    }
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &id);
        return 0;
    }
    g_ground.bytes += bytes;
    return id;
}

static bool ground_mipmapped(void) { return g_ground.settings.mipmaps; }

static int low_block_start(int b) { return b * GROUND_LOW_DETAIL_CELLS - GROUND_LOW_DETAIL_MARGIN > 0 ? b * GROUND_LOW_DETAIL_CELLS - GROUND_LOW_DETAIL_MARGIN : 0; }
static int low_block_end(int b, int dim)
{
    int e = (b + 1) * GROUND_LOW_DETAIL_CELLS + GROUND_LOW_DETAIL_MARGIN - 1;
    return e < dim - 1 ? e : dim - 1;
}
static int pow2_at_least(int v)
{
    int p = 1;
    while (p < v)
        p *= 2;
    return p;
}

// The shader path lights per pixel from the vertex normals instead of the vertex shading.
static const unsigned char *low_source(const Terrain *t)
{
    return g_ground.shader_path && t->normal_bytes ? t->normal_bytes : t->shading;
}

// The shading (or normals) of one low-detail block, one texel per vertex, into its texture.
static void low_detail_render(int bx, int bz)
{
    Terrain *t = g_ground.t;
    unsigned id = g_ground.low ? g_ground.low[bx + bz * g_ground.low_side] : 0;
    g_ground.low_dirty[bx + bz * g_ground.low_side] = 0;
    if (!id)
        return;
    int x0 = low_block_start(bx), x1 = low_block_end(bx, t->dim), z0 = low_block_start(bz), z1 = low_block_end(bz, t->dim);
    int w = x1 - x0 + 1, h = z1 - z0 + 1;
    unsigned char *block = (unsigned char *)xmalloc((size_t)w * h * 3);
    for (int z = 0; z < h; z++)
        memcpy(block + (size_t)z * w * 3, low_source(t) + ((size_t)(z0 + z) * t->dim + x0) * 3, (size_t)w * 3);
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, block);
    xfree(block);
}

static void fill(unsigned char *px, int size, unsigned char r, unsigned char g, unsigned char b)
{
    for (size_t p = 0; p < (size_t)size * size; p++)
        px[3 * p] = r, px[3 * p + 1] = g, px[3 * p + 2] = b;
}

// Upright and lit normals, no specular highlight: the maps before anything is composed.
static void create_maps(GroundTexture &g)
{
    int T = g_ground.dim;
    unsigned char *px = (unsigned char *)xmalloc((size_t)T * T * 3);
    fill(px, T, 128, 255, 128);
    g.normal = new_texture(T, px, ground_mipmapped());
    fill(px, T, 0, 255, 255);
    g.specular = new_texture(T, px, ground_mipmapped());
    xfree(px);
}

static void placeholder(unsigned char *px, int size, int square, int grey)
{
    for (int z = 0; z < size; z++)
        for (int x = 0; x < size; x++) {
            unsigned char v = ((x / square + z / square) & 1) ? (unsigned char)grey : (unsigned char)(grey / 2);
            unsigned char *p = px + ((size_t)z * size + x) * 3;
            p[0] = p[1] = p[2] = v;
        }
}

void ground_textures_create(Terrain *t)
{
    ground_textures_release();
    if (!t || !t->heights)
        return;
    if (!g_ground.method)
        ground_choose_method(t, t->texture_method, 0);
    g_ground.t = t;
    g_ground.n = t->size_exponent;
    g_ground.frame = 0;
    g_ground.calls = 0;
    int T = g_ground.dim;
    g_ground.pixels = (unsigned char *)xmalloc((size_t)T * T * 3);
    g_ground.low_side = ground_low_detail_count(g_ground.n);
    if (g_ground.low_side < 1)
        g_ground.low_side = 1;
    g_ground.low_dirty = (uint8_t *)xcalloc((size_t)g_ground.low_side * g_ground.low_side, 1);
    bool gl = has_gl();
    if (g_ground.shader_path)
        terrain_prepare_normals(t);
    // Textures are composed from the shading (or normals): it must be current first.
    terrain_reshade(t);
    if (gl && g_ground.method != GROUND_METHOD_SOFTWARE) {
        log_printf("Creating low detail textures\n");
        g_ground.low = (unsigned *)xcalloc((size_t)g_ground.low_side * g_ground.low_side, sizeof(unsigned));
        for (int bz = 0; bz < g_ground.low_side; bz++)
            for (int bx = 0; bx < g_ground.low_side; bx++) {
                int w = pow2_at_least(low_block_end(bx, t->dim) - low_block_start(bx) + 1);
                int h = pow2_at_least(low_block_end(bz, t->dim) - low_block_start(bz) + 1);
                int size = w > h ? w : h;
                unsigned char *zero = (unsigned char *)xcalloc((size_t)size * size * 3, 1);
                unsigned id = 0;
                glGenTextures(1, &id);
                glBindTexture(GL_TEXTURE_2D, id);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
                glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, size, size, 0, GL_RGB, GL_UNSIGNED_BYTE, zero);
                xfree(zero);
                if (glGetError() != GL_NO_ERROR) {
                    glDeleteTextures(1, &id);
                    id = 0;
                }
                g_ground.bytes += id ? (unsigned long)size * size * 3 : 0;
                g_ground.low[bx + bz * g_ground.low_side] = id;
            }
        for (int bz = 0; bz < g_ground.low_side; bz++)
            for (int bx = 0; bx < g_ground.low_side; bx++)
                low_detail_render(bx, bz);
        if (g_ground.settings.verbosity >= 1) {
            log_printf("%dx%d low detail textures needed for %dx%d field\n", g_ground.low_side, g_ground.low_side, t->dim,
                       t->dim);
            log_printf("%lu bytes texture memory used after low detail ground textures\n",
                       texture_memory() + g_ground.bytes);
        }
    }
    if (gl)
        log_printf("Creating LOD textures\n");
    for (int level = 0; level < GROUND_CLIP_LEVELS; level++) {
        placeholder(g_ground.pixels, T, (64 >> level) > 0 ? 64 >> level : 1, (1530 - 255 * level) / 6);
        for (GroundTexture &g : g_ground.clip[level]) {
            g = {};
            if (gl && level_used(level))
                g.id = new_texture(T, g_ground.pixels, ground_mipmapped());
            if (gl && level_used(level) && g_ground.shader_path)
                create_maps(g);
        }
        g_ground.window_known[level] = false;
    }
    g_ground.base_side = g_ground.n >= 6 ? 1 << (g_ground.n - 6) : 1;
    g_ground.base = (GroundTexture *)xcalloc((size_t)g_ground.base_side * g_ground.base_side, sizeof(GroundTexture));
    memset(g_ground.pixels, 0, (size_t)T * T * 3);
    for (int b = 0; b < g_ground.base_side * g_ground.base_side; b++) {
        g_ground.base[b].dirty = -1;
        g_ground.base[b].part[0] = 1;           // the whole texture
        if (gl)
            g_ground.base[b].id = new_texture(T, g_ground.pixels, ground_mipmapped());
        if (gl && g_ground.shader_path)
            create_maps(g_ground.base[b]);
    }
    if (gl && g_ground.settings.verbosity >= 1)
        log_printf("%lu bytes texture memory used after LOD ground textures\n", texture_memory() + g_ground.bytes);
    g_ground.tile_count = t->tile_count;
    g_ground.tiles = (TileSource *)xcalloc(t->tile_count > 0 ? (size_t)t->tile_count : 1, sizeof(TileSource));
}

void ground_textures_release(void)
{
    bool gl = has_gl();
    auto drop = [gl](unsigned &id) {
        if (id && gl)
            glDeleteTextures(1, &id);
        id = 0;
    };
    for (auto &level : g_ground.clip)
        for (GroundTexture &g : level) {
            drop(g.id);
            drop(g.normal);
            drop(g.specular);
            g = {};
        }
    for (int b = 0; g_ground.base && b < g_ground.base_side * g_ground.base_side; b++) {
        drop(g_ground.base[b].id);
        drop(g_ground.base[b].normal);
        drop(g_ground.base[b].specular);
    }
    for (int b = 0; g_ground.low && b < g_ground.low_side * g_ground.low_side; b++)
        drop(g_ground.low[b]);
    for (int i = 0; g_ground.tiles && i < g_ground.tile_count; i++)
        if (g_ground.tiles[i].chain.levels)
            mip_chain_free(&g_ground.tiles[i].chain);
    xfree(g_ground.tiles);
    xfree(g_ground.base);
    xfree(g_ground.low);
    xfree(g_ground.low_dirty);
    xfree(g_ground.pixels);
    xfree(g_ground.order);
    g_ground.order = nullptr;
    g_ground.order_capacity = 0;
    g_ground.tiles = nullptr;
    g_ground.base = nullptr;
    g_ground.low = nullptr;
    g_ground.low_dirty = nullptr;
    g_ground.pixels = nullptr;
    g_ground.tile_count = 0;
    g_ground.base_side = g_ground.low_side = 0;
    g_ground.bytes = 0;
    g_ground.t = nullptr;
    for (bool &k : g_ground.window_known)
        k = false;
}


// ---- composing

static int tile_index_at(const Terrain *t, int col, int row)
{
    int last = (1 << t->size_exponent) - 1;
    col = col < 0 ? 0 : col > last ? last : col;
    row = row < 0 ? 0 : row > last ? last : row;
    if (!t->tilemap)
        return 0;
    int index = t->tilemap[col + (row << t->size_exponent)];
    return index < t->tile_count ? index : 0;
}

static const MipChain *tile_chain(int type)
{
    if (!g_ground.tiles || type < 0 || type >= g_ground.tile_count)
        return nullptr;
    TileSource &s = g_ground.tiles[type];
    if (!s.tried) {
        s.tried = true;
        const TileType *tt = tile_type(g_ground.t, type);
        const Image *img = tt && tt->texture_path ? texture_image(tt->texture_path) : nullptr;
        if (img && img->pixels && (img->channels == 3 || img->channels == 4)) {
            if (img->pixel_bytes == img->channels) {
                mip_chain_build(img->pixels, img->width, img->height, img->channels, false, &s.chain);
            } else {
                size_t count = (size_t)img->width * img->height;
                unsigned char *packed = (unsigned char *)xmalloc(count * img->channels);
                for (size_t p = 0; p < count; p++)
                    memcpy(packed + p * img->channels, img->pixels + p * img->pixel_bytes, (size_t)img->channels);
                mip_chain_build(packed, img->width, img->height, img->channels, false, &s.chain);
                xfree(packed);
            }
        }
    }
    return s.chain.levels ? &s.chain : nullptr;
}

// Bilinear, clamped to the edge, like the GL textures of the tiles.
static void sample_bilinear(const unsigned char *px, int w, int h, int channels, float s, float t, float rgb[3])
{
    float fx = s * w - 0.5f, fy = t * h - 0.5f;
    int x0 = (int)floorf(fx), y0 = (int)floorf(fy);
    float ax = fx - x0, ay = fy - y0;
    int xs[2] = { x0 < 0 ? 0 : x0 >= w ? w - 1 : x0, x0 + 1 < 0 ? 0 : x0 + 1 >= w ? w - 1 : x0 + 1 };
    int ys[2] = { y0 < 0 ? 0 : y0 >= h ? h - 1 : y0, y0 + 1 < 0 ? 0 : y0 + 1 >= h ? h - 1 : y0 + 1 };
    for (int c = 0; c < 3; c++) {
        float a = px[((size_t)ys[0] * w + xs[0]) * channels + c], b = px[((size_t)ys[0] * w + xs[1]) * channels + c];
        float d = px[((size_t)ys[1] * w + xs[0]) * channels + c], e = px[((size_t)ys[1] * w + xs[1]) * channels + c];
        rgb[c] = (a + (b - a) * ax) * (1 - ay) + (d + (e - d) * ax) * ay;
    }
}

static bool decal_overlaps(const Decal &d, int x0, int z0, int cells)
{
    float spacing = g_ground.t->spacing, bx0, bz0, bx1, bz1;
    decal_box(&d, &bx0, &bz0, &bx1, &bz1);
    return bx1 > x0 * spacing && bx0 < (x0 + cells) * spacing && bz1 > z0 * spacing && bz0 < (z0 + cells) * spacing;
}

// The decals over one square, chosen once per composed texture.
static int g_square_decals[256];
static int g_square_decal_count;

static int bucket_index(const Terrain *t, float v)
{
    float c = floorf(v / (t->world_size / (float)DECAL_GRID));
    return !(c >= 0) ? 0 : c >= (float)DECAL_GRID ? DECAL_GRID - 1 : (int)c;
}

// The decals over a square in their list order: from the buckets the square touches when they
// list the terrain's decals, else from the whole list.
static void pick_decals(int x0, int z0, int cells)
{
    const Terrain *t = g_ground.t;
    g_square_decal_count = 0;
    if (g_ground.decals_hidden || !t->decals)
        return;
    if (!decal_buckets_cover(t) || !(t->world_size > 0)) {
        for (int i = 0; i < t->decal_count && g_square_decal_count < 256; i++)
            if (decal_overlaps(t->decals[i], x0, z0, cells))
                g_square_decals[g_square_decal_count++] = i;
        return;
    }
    int bx0 = bucket_index(t, x0 * t->spacing), bx1 = bucket_index(t, (x0 + cells) * t->spacing);
    int bz0 = bucket_index(t, z0 * t->spacing), bz1 = bucket_index(t, (z0 + cells) * t->spacing);
    // Merge the buckets' sorted lists, each decal once.
    int at[DECAL_GRID * DECAL_GRID] = {}, n = 0;
    const int *lists[DECAL_GRID * DECAL_GRID];
    int counts[DECAL_GRID * DECAL_GRID];
    for (int bz = bz0; bz <= bz1; bz++)
        for (int bx = bx0; bx <= bx1; bx++) {
            lists[n] = decal_bucket(bx, bz, &counts[n]);
            n++;
        }
    int last = -1;
    while (g_square_decal_count < 256) {
        int best = -1;
        for (int k = 0; k < n; k++)
            if (at[k] < counts[k] && (best < 0 || lists[k][at[k]] < lists[best][at[best]]))
                best = k;
        if (best < 0)
            break;
        int i = lists[best][at[best]++];
        if (i != last && decal_overlaps(t->decals[i], x0, z0, cells))
            g_square_decals[g_square_decal_count++] = i;
        last = i;
    }
}

// Alpha-blends the decals' pictures over a texel at (x, z) feet, in the order they are listed.
static void blend_decals(float x, float z, float rgb[3])
{
    for (int k = 0; k < g_square_decal_count; k++) {
        const Decal &d = g_ground.t->decals[g_square_decals[k]];
        float u, v;
        decal_coords(&d, x, z, &u, &v);
        if (!d.image || u < 0 || u > 1 || v < 0 || v > 1)
            continue;
        const Image *img = d.image;
        float c[4] = { 0, 0, 0, 255 };
        float fx = u * img->width - 0.5f, fy = v * img->height - 0.5f;
        int ix = (int)floorf(fx), iy = (int)floorf(fy);
        float ax = fx - ix, ay = fy - iy;
        for (int ch = 0; ch < img->channels; ch++) {
            float sum = 0;
            for (int q = 0; q < 4; q++) {
                int px = ix + (q & 1), py = iy + (q >> 1);
                px = px < 0 ? 0 : px >= img->width ? img->width - 1 : px;
                py = py < 0 ? 0 : py >= img->height ? img->height - 1 : py;
                float w = ((q & 1) ? ax : 1 - ax) * ((q >> 1) ? ay : 1 - ay);
                sum += w * img->pixels[((size_t)py * img->width + px) * img->pixel_bytes + ch];
            }
            c[ch] = sum;
        }
        float a = c[3] / 255.0f;
        for (int ch = 0; ch < 3; ch++)
            rgb[ch] = rgb[ch] * (1 - a) + c[ch] * a;
    }
}

// Method 1: the tiles (their outer sixteenth cropped) times twice the vertex shading, texel by
// texel, sampled where the GL composers' pixel centres fall.
static void compose_software(int x0, int z0, int cells, unsigned char *out)
{
    const Terrain *t = g_ground.t;
    pick_decals(x0, z0, cells);
    int T = g_ground.dim;
    float step = (float)cells / (float)T, tile_texels = 2.0f * (float)T / (float)cells;
    int levels[256];
    for (int i = 0; i < 256; i++)
        levels[i] = -1;
    for (int tz = 0; tz < T; tz++) {
        float cz = z0 + (tz + 0.5f) * step;
        for (int tx = 0; tx < T; tx++) {
            float cx = x0 + (tx + 0.5f) * step;
            int col = (int)floorf(cx * 0.5f), row = (int)floorf(cz * 0.5f);
            int type = tile_index_at(t, col, row);
            float rgb[3] = { 255, 255, 255 };
            if (const MipChain *chain = tile_chain(type)) {
                int &lev = levels[type & 255];
                if (lev < 0) {
                    float ratio = chain->width[0] * 0.875f / tile_texels;
                    lev = ratio > 1 ? (int)lroundf(log2f(ratio)) : 0;
                    lev = lev >= chain->levels ? chain->levels - 1 : lev;
                }
                float fu = cx * 0.5f - col, fv = cz * 0.5f - row;
                fu = fu < 0 ? 0 : fu > 1 ? 1 : fu;
                fv = fv < 0 ? 0 : fv > 1 ? 1 : fv;
                sample_bilinear(chain->pixels[lev], chain->width[lev], chain->height[lev], chain->channels,
                                0.0625f + 0.875f * fu, 0.0625f + 0.875f * fv, rgb);
            }
            blend_decals(cx * t->spacing, cz * t->spacing, rgb);
            // Shading between the four vertices around the texel; reads stay inside the field.
            float vx = cx < 0 ? 0 : cx > t->dim - 1 ? (float)(t->dim - 1) : cx;
            float vz = cz < 0 ? 0 : cz > t->dim - 1 ? (float)(t->dim - 1) : cz;
            int i0 = (int)vx, j0 = (int)vz;
            int i1 = i0 + 1 < t->dim ? i0 + 1 : i0, j1 = j0 + 1 < t->dim ? j0 + 1 : j0;
            float ax = vx - i0, az = vz - j0;
            unsigned char *o = out + ((size_t)tz * T + tx) * 3;
            for (int c = 0; c < 3; c++) {
                float s00 = t->shading[((size_t)j0 * t->dim + i0) * 3 + c], s10 = t->shading[((size_t)j0 * t->dim + i1) * 3 + c];
                float s01 = t->shading[((size_t)j1 * t->dim + i0) * 3 + c], s11 = t->shading[((size_t)j1 * t->dim + i1) * 3 + c];
                float shade = (s00 + (s10 - s00) * ax) * (1 - az) + (s01 + (s11 - s01) * ax) * az;
                float v = rgb[c] * shade * (2.0f / 255.0f);
                o[c] = (unsigned char)(v >= 255 ? 255 : v + 0.5f);
            }
        }
    }
}

static void upload_software(unsigned id)
{
    int T = g_ground.dim;
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (!ground_mipmapped()) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, T, T, GL_RGB, GL_UNSIGNED_BYTE, g_ground.pixels);
        return;
    }
    MipChain chain;
    if (!mip_chain_build(g_ground.pixels, T, T, 3, false, &chain))
        return;
    for (int l = 0; l < chain.levels; l++)
        glTexSubImage2D(GL_TEXTURE_2D, l, 0, 0, chain.width[l], chain.height[l], GL_RGB, GL_UNSIGNED_BYTE, chain.pixels[l]);
    mip_chain_free(&chain);
}

// Methods 2 and 3: one quad per tile with its own texture, then the low-detail shading
// blended as (destination colour, source colour), twice the product.
// The texels of a square (x0, z0, cells) that cells part[0..3] (inclusive) cover, one more
// on each side for filtering: x, y, width, height.
static void part_texels(int x0, int z0, int cells, const int *part, int r[4])
{
    int T = g_ground.dim;
    int a = (int)floorf((float)(part[0] - x0) * T / cells) - 1, b = (int)floorf((float)(part[1] - z0) * T / cells) - 1;
    int c = (int)ceilf((float)(part[2] + 1 - x0) * T / cells) + 1, d = (int)ceilf((float)(part[3] + 1 - z0) * T / cells) + 1;
    a = a < 0 ? 0 : a;
    b = b < 0 ? 0 : b;
    c = c > T ? T : c;
    d = d > T ? T : d;
    r[0] = a, r[1] = b, r[2] = c > a ? c - a : 0, r[3] = d > b ? d - b : 0;
}

// One decal as a quad over the square (x0, z0, cells) drawn to fill the viewport.
static void draw_decal_quad(const Decal &d, int x0, int z0, int cells)
{
    const Terrain *t = g_ground.t;
    float to_ndc = 2.0f / ((float)cells * t->spacing);
    float lx = d.cos_angle * d.size * d.aspect, lz = d.sin_angle * d.size * d.aspect;     // along u
    float wx = -d.sin_angle * d.size, wz = d.cos_angle * d.size;                        // along v
    float cx = (d.x - x0 * t->spacing) * to_ndc - 1, cz = (d.z - z0 * t->spacing) * to_ndc - 1;
    // That driver mis-draws big textured quads: a grid of pieces of at most 256 texels.
    int pieces = 1;
    if (g_ground.x1270) {
        float texels = fmaxf(d.size * d.aspect, d.size) * to_ndc * 0.5f * g_ground.dim;
        pieces = texels > 256 ? (int)ceilf(texels / 256) : 1;
    }
    glBegin(GL_QUADS);
    for (int pv = 0; pv < pieces; pv++)
        for (int pu = 0; pu < pieces; pu++) {
            const float corner[4][2] = { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } };
            for (const auto &q : corner) {
                float u = (pu + q[0]) / pieces, v = (pv + q[1]) / pieces;
                glTexCoord2f(u, v);
                glVertex3f(cx + ((u - 0.5f) * lx + (v - 0.5f) * wx) * to_ndc,
                           cz + ((u - 0.5f) * lz + (v - 0.5f) * wz) * to_ndc, -1);
            }
        }
    glEnd();
}

// The low-detail texture under a square and the texture coordinates of the square's corners
// in it (s0, t0, s1, t1); 0 when there is none.
static unsigned low_for_square(int x0, int z0, int cells, float st[4])
{
    const Terrain *t = g_ground.t;
    int bx = x0 / GROUND_LOW_DETAIL_CELLS, bz = z0 / GROUND_LOW_DETAIL_CELLS;
    bx = bx < g_ground.low_side ? bx : g_ground.low_side - 1;
    bz = bz < g_ground.low_side ? bz : g_ground.low_side - 1;
    unsigned low = g_ground.low ? g_ground.low[bx + bz * g_ground.low_side] : 0;
    int sx = low_block_start(bx), sz = low_block_start(bz);
    int w = pow2_at_least(low_block_end(bx, t->dim) - sx + 1), h = pow2_at_least(low_block_end(bz, t->dim) - sz + 1);
    float size = (float)(w > h ? w : h);
    st[0] = (x0 - sx + 0.5f) / size, st[2] = (x0 + cells - sx + 0.5f) / size;
    st[1] = (z0 - sz + 0.5f) / size, st[3] = (z0 + cells - sz + 0.5f) / size;
    return low;
}

static void full_quad(const float st[4])
{
    glBegin(GL_QUADS);
    glTexCoord2f(st[0], st[1]);
    glVertex3f(-1, -1, -1);
    glTexCoord2f(st[2], st[1]);
    glVertex3f(1, -1, -1);
    glTexCoord2f(st[2], st[3]);
    glVertex3f(1, 1, -1);
    glTexCoord2f(st[0], st[3]);
    glVertex3f(-1, 1, -1);
    glEnd();
}

// A T x T viewport showing the square from -1 to 1 at depth 1; part (cells, inclusive) limits
// the drawing to the texels it covers.
static void square_begin(int x0, int z0, int cells, const int *part)
{
    int T = g_ground.dim;
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glFrustum(-0.5, 0.5, -0.5, 0.5, 0.5, 2);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glViewport(0, 0, T, T);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
    if (part) {
        int r[4];
        part_texels(x0, z0, cells, part, r);
        glEnable(GL_SCISSOR_TEST);
        glScissor(r[0], r[1], r[2], r[3]);
    }
}

static void square_end(void)
{
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

// The shader path's normal map: the low-detail normals, then the decals' own normal maps
// tilted into them by program "terrain_normals" (the low-detail texture on unit 1, addressed
// through texture matrix 1 from the quad's corners).
static void compose_normals(int x0, int z0, int cells, const int *part)
{
    const Terrain *t = g_ground.t;
    square_begin(x0, z0, cells, part);
    float st[4];
    unsigned low = low_for_square(x0, z0, cells, st);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBindTexture(GL_TEXTURE_2D, low);
    full_quad(st);
    pick_decals(x0, z0, cells);
    bool any = false;
    for (int k = 0; k < g_square_decal_count; k++)
        any = any || t->decals[g_square_decals[k]].normal_texture;
    if (any && low) {
        glf.glActiveTextureARB(GL_TEXTURE1_ARB);
        glBindTexture(GL_TEXTURE_2D, low);
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glTranslatef(0.5f * (st[0] + st[2]), 0.5f * (st[1] + st[3]), 0);
        glScalef(0.5f * (st[2] - st[0]), 0.5f * (st[3] - st[1]), 1);
        glMatrixMode(GL_MODELVIEW);
        glf.glActiveTextureARB(GL_TEXTURE0_ARB);
        shader_use(SHADER_TERRAIN_NORMALS);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        for (int k = 0; k < g_square_decal_count; k++) {
            const Decal &d = t->decals[g_square_decals[k]];
            if (!d.normal_texture)
                continue;
            glBindTexture(GL_TEXTURE_2D, d.normal_texture);
            draw_decal_quad(d, x0, z0, cells);
        }
        shader_use(SHADER_FIXED);
        glf.glActiveTextureARB(GL_TEXTURE1_ARB);
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glBindTexture(GL_TEXTURE_2D, 0);
        glf.glActiveTextureARB(GL_TEXTURE0_ARB);
    }
    square_end();
}

// The shader path's specular map: no highlight (0, 1, 1), then the decals' own maps.
static void compose_specular(int x0, int z0, int cells, const int *part)
{
    const Terrain *t = g_ground.t;
    square_begin(x0, z0, cells, part);
    glClearColor(0, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    pick_decals(x0, z0, cells);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (int k = 0; k < g_square_decal_count; k++) {
        const Decal &d = t->decals[g_square_decals[k]];
        if (!d.specular_texture)
            continue;
        glBindTexture(GL_TEXTURE_2D, d.specular_texture);
        draw_decal_quad(d, x0, z0, cells);
    }
    square_end();
}

// part: only the cells x0, z0, x1, z1 (inclusive) change; null for the whole square. The
// shader path lights the picture when drawing it, so it is composed unshaded.
static void compose_gl(int x0, int z0, int cells, const int *part, bool shade)
{
    const Terrain *t = g_ground.t;
    int T = g_ground.dim;
    square_begin(x0, z0, cells, part);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
    int col0 = x0 / 2, row0 = z0 / 2, side = cells / 2;
    int c_from = 0, c_to = side, r_from = 0, r_to = side;
    if (part) {
        // Ruts change a few cells of a big texture (square_begin scissors the rest away):
        // only the tiles over them are drawn.
        int r[4];
        part_texels(x0, z0, cells, part, r);
        c_from = r[0] * side / T, c_to = (r[0] + r[2] + T / side - 1) * side / T;
        r_from = r[1] * side / T, r_to = (r[1] + r[3] + T / side - 1) * side / T;
        c_from = c_from > 0 ? c_from - 1 : 0, r_from = r_from > 0 ? r_from - 1 : 0;
        c_to = c_to < side ? c_to + 1 : side, r_to = r_to < side ? r_to + 1 : side;
    }
    // The square's tiles grouped by type: one bind and one batch of quads per type.
    int count[256], start[256];
    if (g_ground.order_capacity < side * side) {
        g_ground.order_capacity = side * side;
        g_ground.order = (uint16_t *)xrealloc(g_ground.order, (size_t)g_ground.order_capacity * sizeof(uint16_t));
    }
    uint16_t *order = g_ground.order;
    memset(count, 0, sizeof count);
    for (int r = r_from; r < r_to; r++)
        for (int c = c_from; c < c_to; c++)
            count[tile_index_at(t, col0 + c, row0 + r) & 255]++;
    for (int type = 0, at = 0; type < 256; type++) {
        start[type] = at;
        at += count[type];
    }
    for (int r = r_from; r < r_to; r++)
        for (int c = c_from; c < c_to; c++)
            order[start[tile_index_at(t, col0 + c, row0 + r) & 255]++] = (uint16_t)(r * side + c);
    float step = 4.0f / (float)cells;      // one tile: 2 cells of a square 2 wide
    for (int type = 0, at = 0; type < 256; at += count[type], type++) {
        if (!count[type])
            continue;
        const TileType *tt = tile_type(t, type);
        glBindTexture(GL_TEXTURE_2D, tt ? tt->texture : 0);
        glBegin(GL_QUADS);
        for (int e = at; e < at + count[type]; e++) {
            // At depth 1 the frustum spans -1..1: the square fills the viewport.
            float u0 = (order[e] % side) * step - 1, u1 = u0 + step;
            float v0 = (order[e] / side) * step - 1, v1 = v0 + step;
            glTexCoord2f(0.0625f, 0.0625f);
            glVertex3f(u0, v0, -1);
            glTexCoord2f(0.9375f, 0.0625f);
            glVertex3f(u1, v0, -1);
            glTexCoord2f(0.9375f, 0.9375f);
            glVertex3f(u1, v1, -1);
            glTexCoord2f(0.0625f, 0.9375f);
            glVertex3f(u0, v1, -1);
        }
        glEnd();
    }
    pick_decals(x0, z0, cells);
    if (g_square_decal_count) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        for (int k = 0; k < g_square_decal_count; k++) {
            const Decal &d = t->decals[g_square_decals[k]];
            if (!d.texture)
                continue;
            glBindTexture(GL_TEXTURE_2D, d.texture);
            draw_decal_quad(d, x0, z0, cells);
        }
        glDisable(GL_BLEND);
    }
    float st[4];
    unsigned low = shade ? low_for_square(x0, z0, cells, st) : 0;
    if (low) {
        glBindTexture(GL_TEXTURE_2D, low);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glEnable(GL_BLEND);
        glBlendFunc(GL_DST_COLOR, GL_SRC_COLOR);
        full_quad(st);
    }
    square_end();
}

// Test hook: a framebuffer that never completes.
static bool g_break_framebuffer;
void ground_break_framebuffer_for_tests(bool broken) { g_break_framebuffer = broken; }

// Method 3 draws into the texture through the framebuffer; method 2 into the back buffer.
static bool target_begin(unsigned id)
{
    if (g_ground.method != GROUND_METHOD_DIRECT)
        return true;
    glf.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, g_ground.fbo);
    glf.glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D,
                                  g_break_framebuffer ? 0 : id, 0);
    GLenum status = glf.glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    if (status != GL_FRAMEBUFFER_COMPLETE_EXT) {
        log_printf("Framebuffer error %x\n", (unsigned)status);
        glf.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        return false;
    }
    return true;
}

static void target_end(unsigned id, int x0, int z0, int cells, const int *part)
{
    if (g_ground.method == GROUND_METHOD_DIRECT) {
        glf.glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, 0, 0);
        glf.glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        if (ground_mipmapped() && glf.glGenerateMipmapEXT) {
            glBindTexture(GL_TEXTURE_2D, id);
            glf.glGenerateMipmapEXT(GL_TEXTURE_2D);
        }
        return;
    }
    glBindTexture(GL_TEXTURE_2D, id);
    int r[4] = { 0, 0, g_ground.dim, g_ground.dim };
    if (part)
        part_texels(x0, z0, cells, part, r);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, r[0], r[1], r[0], r[1], r[2], r[3]);
}

// The picture, and on the shader path its normal and specular maps, each drawn and copied
// (method 2) or drawn into its texture (method 3) in turn.
static void compose(const GroundTexture &g, int x0, int z0, int cells, const int *part = nullptr)
{
    if (!g.id || !has_gl())
        return;
    if (g_ground.method == GROUND_METHOD_SOFTWARE) {
        compose_software(x0, z0, cells, g_ground.pixels);
        upload_software(g.id);
        return;
    }
    if (target_begin(g.id)) {
        compose_gl(x0, z0, cells, part, !g_ground.shader_path);
        target_end(g.id, x0, z0, cells, part);
    }
    if (g.normal && target_begin(g.normal)) {
        compose_normals(x0, z0, cells, part);
        target_end(g.normal, x0, z0, cells, part);
    }
    if (g.specular && target_begin(g.specular)) {
        compose_specular(x0, z0, cells, part);
        target_end(g.specular, x0, z0, cells, part);
    }
}

// ---- maintenance

static bool clip_cells(int *x0, int *z0, int *x1, int *z1);
static void mark_textures(int x0, int z0, int x1, int z1);

static void scroll_window(int level, int ox, int oz)
{
    bool known = g_ground.window_known[level];
    int old_x = g_ground.origin_x[level], old_z = g_ground.origin_z[level];
    g_ground.window_known[level] = true;
    g_ground.origin_x[level] = ox;
    g_ground.origin_z[level] = oz;
    if (known && ox == old_x && oz == old_z)
        return;
    // A slot keeps its texture; it now shows the window cell that maps to it modulo 4, and
    // only the cells that were not in the old window need composing.
    for (int s = 0; s < GROUND_WINDOW * GROUND_WINDOW; s++) {
        int tx = ox + (((s & 3) - ox) & 3), tz = oz + (((s >> 2) - oz) & 3);
        bool kept = known && tx >= old_x && tx < old_x + GROUND_WINDOW && tz >= old_z && tz < old_z + GROUND_WINDOW;
        if (!kept) {
            g_ground.clip[level][s].ready = false;
            g_ground.clip[level][s].stale = 0;
        }
    }
}

void ground_textures_update(const Vec3 &camera)
{
    Terrain *t = g_ground.t;
    if (!t)
        return;
    g_ground.frame++;
    if (!g_ground.x1270_checked && has_gl()) {
        g_ground.x1270_checked = true;
        if (strstr(gl_caps.renderer, "ATI Radeon X1270")) {
            g_ground.x1270 = true;
            log_printf("Working around ATI Radeon X1270 bug\n");
        }
    }
    int base_cells = 2 * GROUND_BASE_TILES;
    for (int b = 0; b < g_ground.base_side * g_ground.base_side; b++)
        if (g_ground.base[b].dirty == -1) {
            const int *part = g_ground.base[b].part[0] <= g_ground.base[b].part[2] ? g_ground.base[b].part : nullptr;
            compose(g_ground.base[b], (b % g_ground.base_side) * base_cells, (b / g_ground.base_side) * base_cells,
                    base_cells, part);
            g_ground.base[b].dirty = 0;
            g_ground.base[b].stale = 0;
        }
    int cx = (int)floorf(camera.x * t->inv_spacing), cz = (int)floorf(camera.z * t->inv_spacing);
    for (int level = GROUND_CLIP_LEVELS - 1; level >= 0; level--)
        if (level_used(level))
            scroll_window(level, ground_window_origin(g_ground.n, level, cx), ground_window_origin(g_ground.n, level, cz));
    for (int level = GROUND_CLIP_LEVELS - 1; level >= g_ground.lmin; level--) {
        if (!level_used(level))
            continue;
        int cells = 2 << level;
        bool done = false;
        for (int wz = 0; wz < GROUND_WINDOW && !done; wz++)
            for (int wx = 0; wx < GROUND_WINDOW && !done; wx++) {
                int tx = g_ground.origin_x[level] + wx, tz = g_ground.origin_z[level] + wz;
                GroundTexture &g = g_ground.clip[level][slot_of(tx, tz)];
                if (g.ready)
                    continue;
                compose(g, tx * cells, tz * cells, cells);
                g.ready = true;
                g.stale = 0;
                done = true;
            }
    }
    // The stalest texture, clip or base.
    GroundTexture *oldest = nullptr;
    int ox = 0, oz = 0, ocells = 0;
    for (int level = g_ground.lmin; level < GROUND_CLIP_LEVELS; level++) {
        if (!level_used(level))
            continue;
        int cells = 2 << level;
        for (int wz = 0; wz < GROUND_WINDOW; wz++)
            for (int wx = 0; wx < GROUND_WINDOW; wx++) {
                int tx = g_ground.origin_x[level] + wx, tz = g_ground.origin_z[level] + wz;
                GroundTexture &g = g_ground.clip[level][slot_of(tx, tz)];
                if (g.stale > 0 && (!oldest || g.stale < oldest->stale)) {
                    oldest = &g;
                    ox = tx * cells, oz = tz * cells, ocells = cells;
                }
            }
    }
    for (int b = 0; b < g_ground.base_side * g_ground.base_side; b++) {
        GroundTexture &g = g_ground.base[b];
        if (g.stale > 0 && (!oldest || g.stale < oldest->stale)) {
            oldest = &g;
            ox = (b % g_ground.base_side) * base_cells, oz = (b / g_ground.base_side) * base_cells, ocells = base_cells;
        }
    }
    if (oldest) {
        compose(*oldest, ox, oz, ocells, oldest->part);
        oldest->stale = 0;
    }
}

void ground_low_detail_step(bool now)
{
    Terrain *t = g_ground.t;
    if (!t)
        return;
    int delay = g_ground.settings.reshade_delay < 0 ? 0 : g_ground.settings.reshade_delay > 30 ? 30 : g_ground.settings.reshade_delay;
    if ((g_ground.calls++ & ((1 << delay) - 1)) != 0 && !now)
        return;
    int count = g_ground.low_side * g_ground.low_side;
    for (int e = 0; e < count; e++) {
        int b = (g_ground.low_cursor + e) % count;
        if (!g_ground.low_dirty[b])
            continue;
        g_ground.low_cursor = (b + 1) % count;
        // What is reshaded now shows in the textures composed from it: they go stale again.
        int i0 = t->reshade_i0, j0 = t->reshade_j0, i1 = t->reshade_i1, j1 = t->reshade_j1;
        terrain_reshade(t);
        low_detail_render(b % g_ground.low_side, b / g_ground.low_side);
        if (i0 < i1 && j0 < j1 && clip_cells(&i0, &j0, &i1, &j1))
            mark_textures(i0 - 1 < 0 ? 0 : i0 - 1, j0 - 1 < 0 ? 0 : j0 - 1, i1, j1);
        return;
    }
}

static bool clip_cells(int *x0, int *z0, int *x1, int *z1)
{
    int last = g_ground.t->dim - 2;
    *x0 = *x0 < 0 ? 0 : *x0;
    *z0 = *z0 < 0 ? 0 : *z0;
    *x1 = *x1 > last ? last : *x1;
    *z1 = *z1 > last ? last : *z1;
    return *x0 <= *x1 && *z0 <= *z1;
}

void ground_mark_cells(int x0, int z0, int x1, int z1)
{
    Terrain *t = g_ground.t;
    if (!t || !clip_cells(&x0, &z0, &x1, &z1))
        return;
    // Low-detail blocks hold vertices; cells x0..x1 touch vertices x0..x1 + 1.
    for (int bz = 0; bz < g_ground.low_side; bz++)
        for (int bx = 0; bx < g_ground.low_side; bx++)
            if (low_block_start(bx) <= x1 + 1 && low_block_end(bx, t->dim) >= x0 && low_block_start(bz) <= z1 + 1 &&
                low_block_end(bz, t->dim) >= z0)
                g_ground.low_dirty[bx + bz * g_ground.low_side] = 1;
    mark_textures(x0, z0, x1, z1);
}

static void mark_textures(int x0, int z0, int x1, int z1)
{
    int stamp = g_ground.frame > 0 ? g_ground.frame : 1;
    for (int level = g_ground.lmin; level < GROUND_CLIP_LEVELS; level++) {
        if (!level_used(level) || !g_ground.window_known[level])
            continue;
        int cells = 2 << level;
        for (int tz = z0 / cells; tz <= z1 / cells; tz++)
            for (int tx = x0 / cells; tx <= x1 / cells; tx++) {
                if (!in_window(level, tx, tz))
                    continue;
                GroundTexture &g = g_ground.clip[level][slot_of(tx, tz)];
                if (g.ready && g.stale == 0) {
                    g.stale = stamp;
                    add_part(g, true, x0, z0, x1, z1);
                } else if (g.ready) {
                    add_part(g, false, x0, z0, x1, z1);
                }
            }
    }
    int cells = 2 * GROUND_BASE_TILES;
    for (int bz = z0 / cells; bz <= z1 / cells && bz < g_ground.base_side; bz++)
        for (int bx = x0 / cells; bx <= x1 / cells && bx < g_ground.base_side; bx++) {
            GroundTexture &g = g_ground.base[bx + bz * g_ground.base_side];
            if (g.dirty == 0) {
                g.dirty = -1;
                add_part(g, true, x0, z0, x1, z1);
            } else if (g.part[0] <= g.part[2]) {
                add_part(g, false, x0, z0, x1, z1);
            }
        }
}

// ---- statistics and probes

int ground_texture_age(void)
{
    int oldest = 0;
    for (int level = g_ground.lmin; level < GROUND_CLIP_LEVELS; level++)
        for (const GroundTexture &g : g_ground.clip[level])
            if (level_used(level) && g.stale > 0 && (!oldest || g.stale < oldest))
                oldest = g.stale;
    for (int b = 0; g_ground.base && b < g_ground.base_side * g_ground.base_side; b++)
        if (g_ground.base[b].stale > 0 && (!oldest || g_ground.base[b].stale < oldest))
            oldest = g_ground.base[b].stale;
    return oldest ? g_ground.frame - oldest : 0;
}

int ground_reshades_pending(void)
{
    int count = 0;
    for (int b = 0; g_ground.low_dirty && b < g_ground.low_side * g_ground.low_side; b++)
        count += g_ground.low_dirty[b] != 0;
    return count;
}

bool ground_clip_ready(int level, int tx, int tz)
{
    return level >= 0 && level < GROUND_CLIP_LEVELS && in_window(level, tx, tz) && g_ground.clip[level][slot_of(tx, tz)].ready;
}

int ground_clip_stale(int level, int tx, int tz)
{
    if (level < 0 || level >= GROUND_CLIP_LEVELS || !in_window(level, tx, tz))
        return -1;
    return g_ground.clip[level][slot_of(tx, tz)].stale;
}

int ground_base_dirty(int bx, int bz)
{
    if (!g_ground.base || bx < 0 || bz < 0 || bx >= g_ground.base_side || bz >= g_ground.base_side)
        return 0;
    return g_ground.base[bx + bz * g_ground.base_side].dirty;
}

bool ground_low_dirty(int bx, int bz)
{
    if (!g_ground.low_dirty || bx < 0 || bz < 0 || bx >= g_ground.low_side || bz >= g_ground.low_side)
        return false;
    return g_ground.low_dirty[bx + bz * g_ground.low_side] != 0;
}
