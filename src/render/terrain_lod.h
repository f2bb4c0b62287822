// The terrain's level of detail: a quadtree over the height field whose node values (squared
// distances) say how near the camera must be before a node splits, recomputed incrementally
// into a second array while the renderer reads the first; and the per-frame refinement that
// turns the tree into triangle fans. No GL here: terrain_render.cpp draws the fans.
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

struct Terrain;

enum {
    LOD_PASS_BUDGET = 8000,     // error-pass units per frame
    LOD_MAX_LEVELS = 13,        // levels 0 .. n for n <= 12
};

// Node (k, i, j): level k, row i along z, column j along x. Level k has 2^k x 2^k nodes, each
// 2^(n+1-k) cells wide; the level-k block starts at index (4^k - 1) / 3.
inline int64_t lod_node_index(int k, int i, int j)
{
    return (((int64_t)1 << (2 * k)) - 1) / 3 + ((int64_t)i << k) + j;
}

// Allocates both arrays for t's size and runs a whole pass; t stays the current terrain until
// lod_release. False for sizes the tree does not cover (arrays left empty).
bool  lod_attach(const Terrain *t);
void  lod_release(void);
// 0.125 / "ground_detail"; values below 1e-6 are taken as 1e-6 so nothing divides by 0.
void  lod_set_detail(float terrain_detail);
// Continues the pass with budget units (a triangle costs 10 plus the length of every row it
// scans). Restarts when the terrain's change counter moved on; swaps the arrays when level 0
// completes. True while a pass is still under way.
bool  lod_pass_step(int budget);
// The pass to completion (after big edits).
void  lod_pass_finish(void);
bool  lod_pass_busy(void);
// The value the renderer uses now (the completed array); 0 outside the tree.
float lod_value(int k, int i, int j);
// The largest distance of a height sample inside the node's two triangles from their planes,
// as the pass measures it (for tests and tools).
float lod_node_error(const Terrain *t, int k, int i, int j);

// What a drawn node is textured with: texture coordinates are (vertex cell - origin) / size.
struct LodBinding {
    unsigned texture;           // 0: untextured
    int origin_x, origin_z;     // cells
    int size;                   // cells
    int level;                  // clip level 0..5, 6 for the base level
    unsigned normal, specular;  // the same square's maps on the shader path, else 0
};
// The ground-texture side of refinement and binding, given by the texture module.
struct LodTextureSource {
    // Window of clip level L in cells (x0, z0, size); false when L is not used.
    bool (*window)(int level, int *x0, int *z0, int *size);
    // The texture a node of cells [x0, x0 + size) x [z0, z0 + size) is drawn with.
    void (*bind)(int x0, int z0, int size, LodBinding *out);
};

struct LodVertex {
    float x, y, z, u, v;
};
struct LodFan {
    int first, count;           // into the vertex list
    LodBinding binding;
};
struct LodFrame {
    LodVertex *vertices;
    int vertex_count, vertex_capacity;
    LodFan *fans;
    int fan_count, fan_capacity;
    int triangles;
};

// Refines the tree for a camera at position looking along view and lists the fans front to
// back, culling nodes wholly behind the camera. source may be null (everything untextured).
void  lod_build_frame(const Vec3 &position, const Vec3 &view, const LodTextureSource *source, LodFrame *out);
void  lod_frame_free(LodFrame *frame);
bool  lod_node_split(int k, int i, int j);      // in the last refinement
