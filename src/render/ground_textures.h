// Ground textures: the pictures the terrain is drawn with, composed at run time from the tile
// textures and the vertex shading. Six clip levels of 4 x 4 textures follow the camera (a
// level-L texture covers 2^L x 2^L tiles), base textures of 64 x 64 tiles cover the whole
// field, and low-detail textures hold the shading the GL composers multiply by. Textures are
// composed on the CPU (method 1), in the back buffer (2) or through a framebuffer object (3).
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

struct Terrain;
struct LodBinding;

enum {
    GROUND_CLIP_LEVELS = 6,
    GROUND_WINDOW = 4,                  // textures per side of a clip window
    GROUND_BASE_TILES = 64,
    GROUND_LOW_DETAIL_CELLS = 384,
    GROUND_LOW_DETAIL_MARGIN = 64,
    GROUND_METHOD_SOFTWARE = 1,
    GROUND_METHOD_COPY = 2,
    GROUND_METHOD_DIRECT = 3,
    // Requests only: methods 2 and 3 lit per pixel by the shader programs.
    GROUND_METHOD_SHADERS_COPY = 4,
    GROUND_METHOD_SHADERS_DIRECT = 5,
};

struct GroundSettings {
    int dim_index;              // "ground_texture_dim": T = 32 << index
    int lmin;                   // 10 - "ground_texture_detail", clamped to 0..10
    bool mipmaps;               // "ground_mipmaps"
    int reshade_delay;          // low-detail textures are refreshed every 2^delay frames
    int verbosity;
};
void  ground_configure(const GroundSettings *s);
void  ground_hide_decals(bool hidden);     // composed without decals from now on

// The method for a requested one (1..5) and what the driver offers; logs the choice and sets
// t->texture_method and t->shader_path. Method 3 without framebuffer objects becomes method 1,
// whose T is at most 256; method 2 keeps T within the drawable (drawable_size: its smaller
// side, 0 unknown). Requests 4 and 5 are methods 2 and 3 with the shader path, taken only
// when the terrain programs are built and the track's lighting asks for dynamic lighting.
int   ground_choose_method(Terrain *t, int requested, int drawable_size);
// The lighting file's "dynamic_lighting" of the track being loaded.
void  ground_set_dynamic_lighting(bool on);
bool  ground_shader_path(void);
// Creates every texture of t's field (placeholders, all not ready); needs a GL context.
void  ground_textures_create(Terrain *t);
void  ground_textures_release(void);
// Once a frame before drawing: scrolls the windows to the camera, rebuilds dirty base
// textures, composes at most one missing texture per clip level and the stalest texture.
void  ground_textures_update(const Vec3 &camera);
// Every 2^reshade_delay calls (or now): reshades the flagged vertices and refreshes one dirty
// low-detail texture (round robin).
void  ground_low_detail_step(bool now);
// Cells x0..x1, z0..x1 (inclusive) changed: their textures are stale, their low-detail
// blocks dirty.
void  ground_mark_cells(int x0, int z0, int x1, int z1);

// Windows and binding for the quadtree.
bool  ground_window(int level, int *x0, int *z0, int *size);
void  ground_bind(int x0, int z0, int size, LodBinding *out);

// Pure rules, for tests.
int   ground_window_origin(int n, int level, int camera_cell);    // in level-L texture units
bool  ground_level_fits(int n, int level);                          // the window fits the field
int   ground_low_detail_count(int n);                               // D per side

// State, for statistics and tests.
int   ground_method(void);
int   ground_texture_dim(void);
int   ground_lmin(void);
int   ground_frame(void);
int   ground_texture_age(void);            // frames since the oldest stale texture went stale
int   ground_reshades_pending(void);       // dirty low-detail blocks
bool  ground_clip_ready(int level, int tx, int tz);     // absolute texture indices
int   ground_clip_stale(int level, int tx, int tz);     // stamp; -1 outside the window
int   ground_base_dirty(int bx, int bz);
bool  ground_low_dirty(int bx, int bz);
unsigned long ground_texture_memory(void);
// Test hook: every framebuffer render attaches nothing, so it never completes.
void  ground_break_framebuffer_for_tests(bool broken);
