#include "render/terrain_lod.h"

#include <assert.h>
#include <math.h>
#include <string.h>

#include "common/mem.h"
#include "terrain/terrain.h"

static struct {
    const Terrain *t;
    int n;
    int64_t node_count;
    double detail = 0.125 / 50;
    float *values[2];
    int read;                   // the array the renderer reads; the pass writes the other
    // Resume state of the pass.
    bool busy;
    uint32_t change;            // the change number the last pass was started for
    int k, i, j, tri, row;
    bool tri_started;
    float partial;
    // Refinement: one bit per node, and the split nodes of each level so that the next frame
    // clears only what it set.
    uint8_t *split;
    uint32_t *split_list[LOD_MAX_LEVELS];
    int split_count[LOD_MAX_LEVELS], split_cap[LOD_MAX_LEVELS];
} g_lod;

void lod_set_detail(float terrain_detail)
{
    g_lod.detail = terrain_detail >= 1e-6f ? terrain_detail : 1e-6;   // also NaN
}

void lod_release(void)
{
    xfree(g_lod.values[0]);
    xfree(g_lod.values[1]);
    xfree(g_lod.split);
    for (int k = 0; k < LOD_MAX_LEVELS; k++) {
        xfree(g_lod.split_list[k]);
        g_lod.split_list[k] = nullptr;
        g_lod.split_count[k] = g_lod.split_cap[k] = 0;
    }
    g_lod.values[0] = g_lod.values[1] = nullptr;
    g_lod.split = nullptr;
    g_lod.t = nullptr;
    g_lod.busy = false;
}

static void pass_restart(void)
{
    g_lod.busy = true;
    g_lod.change = g_lod.t->height_changes;
    g_lod.k = g_lod.n;
    g_lod.i = g_lod.j = g_lod.tri = g_lod.row = 0;
    g_lod.tri_started = false;
    g_lod.partial = 0;
}

bool lod_attach(const Terrain *t)
{
    lod_release();
    if (!t || !t->heights || t->size_exponent < 1 || t->size_exponent >= LOD_MAX_LEVELS)
        return false;
    g_lod.t = t;
    g_lod.n = t->size_exponent;
    g_lod.node_count = lod_node_index(g_lod.n + 1, 0, 0);
    g_lod.values[0] = (float *)xcalloc((size_t)g_lod.node_count, sizeof(float));
    g_lod.values[1] = (float *)xcalloc((size_t)g_lod.node_count, sizeof(float));
    g_lod.split = (uint8_t *)xcalloc((size_t)(g_lod.node_count + 7) / 8, 1);
    g_lod.read = 0;
    pass_restart();
    lod_pass_finish();
    return true;
}

// ---- the error pass

static inline float height_at(const Terrain *t, int x, int z) { return t->heights[x + (size_t)z * t->dim]; }

// The columns (in samples from the node's left edge) that row r of triangle tri covers, and
// the triangle's plane at (c, r); the diagonal follows the parity of i + j.
static void tri_row_span(bool odd, int tri, int s, int r, int *c0, int *c1)
{
    if (!odd) {
        *c0 = tri == 0 ? r : 0;
        *c1 = tri == 0 ? s : r;
    } else {
        *c0 = tri == 0 ? 0 : s - r;
        *c1 = tri == 0 ? s - r : s;
    }
}

static float tri_plane(bool odd, int tri, float h00, float h10, float h01, float h11, float u, float w)
{
    if (!odd)
        return tri == 0 ? h10 + (1 - u) * (h00 - h10) + w * (h11 - h10) : h01 + u * (h11 - h01) + (1 - w) * (h00 - h01);
    return tri == 0 ? h00 + u * (h10 - h00) + w * (h01 - h00) : h11 + (1 - u) * (h01 - h11) + (1 - w) * (h10 - h11);
}

static float scan_row(const Terrain *t, int k, int i, int j, int tri, int r)
{
    int s = (t->dim - 1) >> k, x0 = j * s, z0 = i * s;
    bool odd = ((i + j) & 1) != 0;
    float h00 = height_at(t, x0, z0), h10 = height_at(t, x0 + s, z0);
    float h01 = height_at(t, x0, z0 + s), h11 = height_at(t, x0 + s, z0 + s);
    int c0, c1;
    tri_row_span(odd, tri, s, r, &c0, &c1);
    float inv = 1.0f / (float)s, worst = 0;
    const float *row = t->heights + (size_t)(z0 + r) * t->dim + x0;
    for (int c = c0; c <= c1; c++) {
        float e = fabsf(row[c] - tri_plane(odd, tri, h00, h10, h01, h11, c * inv, r * inv));
        if (e > worst)
            worst = e;
    }
    return worst;
}

float lod_node_error(const Terrain *t, int k, int i, int j)
{
    int s = (t->dim - 1) >> k;
    float worst = 0;
    for (int tri = 0; tri < 2; tri++)
        for (int r = 0; r <= s; r++)
            worst = fmaxf(worst, scan_row(t, k, i, j, tri, r));
    return worst;
}

static float value_in(const float *values, int k, int i, int j)
{
    int side = 1 << k;
    if (i < 0 || j < 0 || i >= side || j >= side)
        return 0;
    return values[lod_node_index(k, i, j)];
}

static void finish_node(void)
{
    const Terrain *t = g_lod.t;
    float *out = g_lod.values[1 - g_lod.read];
    int k = g_lod.k, i = g_lod.i, j = g_lod.j;
    double size = (double)t->world_size / (double)(1 << k);
    double a = g_lod.partial / g_lod.detail + 0.7071067811865476 * size;
    double v = a * a;
    if (k < g_lod.n) {
        int ci = 2 * i, cj = 2 * j;
        // The children of the neighbours that border this node's children.
        static const int k_around[8][2] = { { -1, 0 }, { -1, 1 }, { 2, 0 }, { 2, 1 },
                                            { 0, -1 }, { 1, -1 }, { 0, 2 }, { 1, 2 } };
        double around = 0;
        for (const auto &d : k_around)
            around = fmax(around, value_in(out, k + 1, ci + d[0], cj + d[1]));
        double c = sqrt(around) + 1.5826829301659018 * size * 0.5;
        v = fmax(v, c * c);
        for (int di = 0; di < 2; di++)
            for (int dj = 0; dj < 2; dj++)
                v = fmax(v, value_in(out, k + 1, ci + di, cj + dj));
    }
    out[lod_node_index(k, i, j)] = (float)v;
}

bool lod_pass_step(int budget)
{
    const Terrain *t = g_lod.t;
    if (!t)
        return false;
    if (t->height_changes != g_lod.change)
        pass_restart();
    else if (!g_lod.busy)
        return false;
    while (g_lod.k >= 0) {
        int side = 1 << g_lod.k, s = (t->dim - 1) >> g_lod.k;
        while (g_lod.i < side) {
            while (g_lod.j < side) {
                while (g_lod.tri < 2) {
                    if (!g_lod.tri_started) {
                        if (budget <= 0)
                            return true;
                        budget -= 10;
                        g_lod.tri_started = true;
                    }
                    while (g_lod.row <= s) {
                        if (budget <= 0)
                            return true;
                        int c0, c1;
                        tri_row_span(((g_lod.i + g_lod.j) & 1) != 0, g_lod.tri, s, g_lod.row, &c0, &c1);
                        budget -= c1 - c0 + 1;
                        g_lod.partial = fmaxf(g_lod.partial, scan_row(t, g_lod.k, g_lod.i, g_lod.j, g_lod.tri, g_lod.row));
                        g_lod.row++;
                    }
                    g_lod.tri++;
                    g_lod.row = 0;
                    g_lod.tri_started = false;
                }
                finish_node();
                g_lod.tri = 0;
                g_lod.partial = 0;
                g_lod.j++;
            }
            g_lod.j = 0;
            g_lod.i++;
        }
        g_lod.i = 0;
        g_lod.k--;
    }
    g_lod.read = 1 - g_lod.read;
    g_lod.busy = false;
    return false;
}

void lod_pass_finish(void)
{
    while (lod_pass_step(1 << 30)) {
    }
}

bool lod_pass_busy(void) { return g_lod.busy; }

float lod_value(int k, int i, int j)
{
    if (!g_lod.t || k < 0 || k > g_lod.n)
        return 0;
    return value_in(g_lod.values[g_lod.read], k, i, j);
}

// ---- refinement

static inline bool split_bit(int64_t index) { return (g_lod.split[index >> 3] >> (index & 7)) & 1; }

bool lod_node_split(int k, int i, int j)
{
    int side = 1 << k;
    if (!g_lod.t || k < 0 || k > g_lod.n || i < 0 || j < 0 || i >= side || j >= side)
        return false;
    return split_bit(lod_node_index(k, i, j));
}

static void mark_split(int k, int i, int j)
{
    int64_t index = lod_node_index(k, i, j);
    if (split_bit(index))
        return;
    g_lod.split[index >> 3] |= (uint8_t)(1 << (index & 7));
    if (g_lod.split_count[k] == g_lod.split_cap[k]) {
        g_lod.split_cap[k] = g_lod.split_cap[k] ? 2 * g_lod.split_cap[k] : 256;
        g_lod.split_list[k] = (uint32_t *)xrealloc(g_lod.split_list[k], g_lod.split_cap[k] * sizeof(uint32_t));
    }
    g_lod.split_list[k][g_lod.split_count[k]++] = (uint32_t)i << 16 | (uint32_t)j;
}

static void clear_splits(void)
{
    for (int k = 0; k <= g_lod.n; k++) {
        for (int e = 0; e < g_lod.split_count[k]; e++) {
            int64_t index = lod_node_index(k, (int)(g_lod.split_list[k][e] >> 16), (int)(g_lod.split_list[k][e] & 0xffff));
            g_lod.split[index >> 3] &= (uint8_t)~(1 << (index & 7));
        }
        g_lod.split_count[k] = 0;
    }
}

static void refine(int k, int i, int j, float px, float pz)
{
    if (k >= g_lod.n)
        return;
    if (!split_bit(lod_node_index(k, i, j))) {
        float s = g_lod.t->spacing * (float)((g_lod.t->dim - 1) >> k);
        float dx = (j + 0.5f) * s - px, dz = (i + 0.5f) * s - pz;
        if (!(lod_value(k, i, j) > dx * dx + dz * dz))
            return;
        mark_split(k, i, j);
    }
    for (int c = 0; c < 4; c++)
        refine(k + 1, 2 * i + (c >> 1), 2 * j + (c & 1), px, pz);
}

// Where a node is split, the nodes beside it must be at most one level coarser, or the fans
// would leave cracks: the parent of every neighbour of a split node is split too.
static void balance(void)
{
    for (int k = g_lod.n - 1; k >= 1; k--) {
        int side = 1 << k;
        for (int e = 0; e < g_lod.split_count[k]; e++) {
            int i = (int)(g_lod.split_list[k][e] >> 16), j = (int)(g_lod.split_list[k][e] & 0xffff);
            mark_split(k - 1, i >> 1, j >> 1);
            static const int k_edges[4][2] = { { -1, 0 }, { 1, 0 }, { 0, -1 }, { 0, 1 } };
            for (const auto &d : k_edges) {
                int ni = i + d[0], nj = j + d[1];
                if (ni >= 0 && nj >= 0 && ni < side && nj < side)
                    mark_split(k - 1, ni >> 1, nj >> 1);
            }
        }
    }
}

// ---- fans

struct DrawContext {
    const LodTextureSource *source;
    Vec3 position, view;
    float view_offset;          // dot(position, view)
    LodFrame *out;
};

static bool behind_camera(const DrawContext &c, int k, int i, int j)
{
    const Terrain *t = g_lod.t;
    float s = t->spacing * (float)((t->dim - 1) >> k);
    float x0 = j * s, x1 = x0 + s, z0 = i * s, z1 = z0 + s;
    float most = fmaxf(c.view.x * x0, c.view.x * x1) + fmaxf(c.view.y * t->min_height, c.view.y * t->max_height) +
                 fmaxf(c.view.z * z0, c.view.z * z1);
    return most < c.view_offset;
}

static void push_vertex(LodFrame *f, const Terrain *t, int x, int z, const LodBinding &b)
{
    if (f->vertex_count == f->vertex_capacity) {
        f->vertex_capacity = f->vertex_capacity ? 2 * f->vertex_capacity : 4096;
        f->vertices = (LodVertex *)xrealloc(f->vertices, f->vertex_capacity * sizeof(LodVertex));
    }
    LodVertex &v = f->vertices[f->vertex_count++];
    v.x = x * t->spacing;
    v.y = height_at(t, x, z);
    v.z = z * t->spacing;
    float inv = 1.0f / (float)b.size;
    v.u = (float)(x - b.origin_x) * inv;
    v.v = (float)(z - b.origin_z) * inv;
    // Refinement keeps every drawn node inside the one texture its level binds.
    assert(v.u >= 0 && v.u <= 1 && v.v >= 0 && v.v <= 1);
}

static void emit_fan(DrawContext &c, int k, int i, int j)
{
    const Terrain *t = g_lod.t;
    LodFrame *f = c.out;
    int s = (t->dim - 1) >> k, h = s / 2, x0 = j * s, z0 = i * s;
    LodBinding b = { 0, 0, 0, t->dim - 1, 6, 0, 0 };
    if (c.source && c.source->bind)
        c.source->bind(x0, z0, s, &b);
    if (f->fan_count == f->fan_capacity) {
        f->fan_capacity = f->fan_capacity ? 2 * f->fan_capacity : 1024;
        f->fans = (LodFan *)xrealloc(f->fans, f->fan_capacity * sizeof(LodFan));
    }
    LodFan &fan = f->fans[f->fan_count++];
    fan.first = f->vertex_count;
    fan.binding = b;
    push_vertex(f, t, x0 + h, z0 + h, b);
    // Around the centre, counter-clockwise seen from above (the ground's front faces up):
    // corner, then the midpoint of the edge that follows when the node across it is split
    // (its finer fans have a vertex there).
    const int corners[5][2] = { { x0, z0 }, { x0, z0 + s }, { x0 + s, z0 + s }, { x0 + s, z0 }, { x0, z0 } };
    const int across[4][2] = { { i, j - 1 }, { i + 1, j }, { i, j + 1 }, { i - 1, j } };
    for (int e = 0; e < 4; e++) {
        push_vertex(f, t, corners[e][0], corners[e][1], b);
        if (lod_node_split(k, across[e][0], across[e][1]))
            push_vertex(f, t, (corners[e][0] + corners[e + 1][0]) / 2, (corners[e][1] + corners[e + 1][1]) / 2, b);
    }
    push_vertex(f, t, x0, z0, b);
    fan.count = f->vertex_count - fan.first;
    f->triangles += fan.count - 2;
}

static void draw_node(DrawContext &c, int k, int i, int j)
{
    if (behind_camera(c, k, i, j))
        return;
    if (!lod_node_split(k, i, j)) {
        emit_fan(c, k, i, j);
        return;
    }
    const Terrain *t = g_lod.t;
    float s = t->spacing * (float)((t->dim - 1) >> k);
    int near_j = c.position.x >= (j + 0.5f) * s ? 1 : 0, near_i = c.position.z >= (i + 0.5f) * s ? 1 : 0;
    // Nearest child first, its two neighbours, the farthest last: front to back.
    const int order[4][2] = { { near_i, near_j }, { near_i, 1 - near_j }, { 1 - near_i, near_j }, { 1 - near_i, 1 - near_j } };
    for (const auto &o : order)
        draw_node(c, k + 1, 2 * i + o[0], 2 * j + o[1]);
}

void lod_build_frame(const Vec3 &position, const Vec3 &view, const LodTextureSource *source, LodFrame *out)
{
    out->vertex_count = out->fan_count = out->triangles = 0;
    if (!g_lod.t)
        return;
    const Terrain *t = g_lod.t;
    int n = g_lod.n;
    clear_splits();
    // The top levels are bigger than a base texture.
    for (int k = 0; k <= n - 6; k++)
        for (int i = 0; i < (1 << k); i++)
            for (int j = 0; j < (1 << k); j++)
                mark_split(k, i, j);
    // Inside the window of clip level L, nodes are no bigger than one level-L texture.
    for (int level = 0; source && source->window && level <= 5; level++) {
        int x0, z0, size;
        if (!source->window(level, &x0, &z0, &size))
            continue;
        for (int k = 0; k < n - level; k++) {
            int s = (t->dim - 1) >> k;
            for (int i = z0 / s; i <= (z0 + size - 1) / s; i++)
                for (int j = x0 / s; j <= (x0 + size - 1) / s; j++)
                    mark_split(k, i, j);
        }
    }
    refine(0, 0, 0, position.x, position.z);
    balance();
    DrawContext c = { source, position, v3_normalize(view), 0, out };
    c.view_offset = v3_dot(c.view, position);
    draw_node(c, 0, 0, 0);
}

void lod_frame_free(LodFrame *frame)
{
    xfree(frame->vertices);
    xfree(frame->fans);
    memset(frame, 0, sizeof *frame);
}
