// The terrain renderer: what the terrain loader and the main loop call (installed as the
// terrain's render hooks), the per-frame error pass, texture upkeep and drawing.
#pragma once
#include "common/vecmath.h"

struct Terrain;

struct TerrainRenderSettings {
    float terrain_detail;       // 0.125 / "ground_detail"
    int texture_dim_index;      // "ground_texture_dim"
    int texture_lmin;           // 10 - "ground_texture_detail"
    bool mipmaps;               // "ground_mipmaps"
    int reshade_delay;          // "reshade_delay"
    bool vertex_arrays;         // off with "--novertexarrays"
    int verbosity;
};
void  terrain_render_configure(const TerrainRenderSettings *s);
// Fills the terrain's render hooks (LOD errors, method, textures, tile textures, regions).
void  terrain_render_install(void);

// Chooses the method for the requested one (1 software, 2 copy, 3 direct; 4 and 5 the copy
// and direct methods lit per pixel) and creates the ground textures and the framebuffer; the
// loader's last step.
void  terrain_render_setup(Terrain *t, int requested);
// Once a frame from the main loop: continues the error pass (8,000 units) and refreshes one
// dirty low-detail texture every 2^reshade_delay calls.
void  terrain_lod_update(void);
// After big edits: the pass to completion and a low-detail refresh.
void  terrain_lod_rebuild(void);
// Once a frame before drawing (method 2 composes in the back buffer: clear after it).
void  terrain_textures_update(const Vec3 &camera);
// Refines and draws the ground for a camera at position looking along view.
void  terrain_draw(const Vec3 &position, const Vec3 &view);
// Cells x0..x1, z0..z1 (inclusive) changed: heights, shading, tiles or decals.
void  terrain_mark_region(int x0, int z0, int x1, int z1);
// Every ground texture composed again, with or without the decals (the console's toggle).
void  terrain_redraw_textures(bool decals_hidden);

struct TerrainRenderStats {
    int fans, triangles, vertices;      // drawn by the last terrain_draw
    int frame;
    int texture_age;                    // "Terrain texture age - %d"
    int reshades_pending;               // "Reshades pending - %d"
};
void  terrain_render_stats(TerrainRenderStats *out);
