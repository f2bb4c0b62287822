// The height field of the current track: its files, point queries, edits and shading,
// and the list of installed tracks.
#pragma once
#include <stdint.h>

#include "common/vecmath.h"

struct TileType;
struct Decal;
struct DataFile;

enum {
    k_terrain_min_exponent = 7,     // the renderer's clip level 5 needs 2^(n-5) >= 4 tiles
    k_terrain_max_exponent = 12,
};

struct Terrain {
    int size_exponent;          // n: the field has 2^(n+1)+1 vertices per side
    int dim;
    float spacing;              // d: feet between samples
    float world_size;           // 2^n * 2d
    float inv_spacing;
    float tile_size;            // 2d
    float *heights;             // dim * dim, x fastest
    float *initial_heights;     // as loaded; ruts are measured against it
    float min_height, max_height;
    uint8_t *shading;           // dim * dim RGB; byte b means brightness b / 127.5
    uint8_t *shadow;            // dim * dim; 0 lit, 255 fully shadowed
    uint8_t *reshade_flags;     // one bit per vertex
    Vec3 *triangle_normals;     // unit, 2 * (dim-1)^2: two per cell, cell i + j*(dim-1)
    uint8_t *triangle_dirty;    // one bit per triangle
    uint8_t *normal_bytes;      // dim * dim RGB, only on the shader path
    uint8_t *normal_dirty;      // one bit per vertex, only on the shader path
    uint32_t change_mask;       // 7 after any height change; each consumer clears its bit
    uint32_t height_changes;    // bumped by every raise and deposit (the renderer's error pass restarts)
    // Vertices flagged for reshading lie in columns reshade_i0 .. reshade_i1 - 1 and rows
    // reshade_j0 .. reshade_j1 - 1, so a reshade costs what the edits touched, not the field.
    int reshade_i0, reshade_j0, reshade_i1, reshade_j1;
    bool frozen;                // height writes ignored
    uint8_t height_digest[20];  // RIPEMD-160 of the samples as loaded
    int tile_count;
    TileType *tiles;
    uint8_t *tilemap;           // 2^n * 2^n tile indices, column + row << n
    Decal *decals;              // owned by the scenery code
    int decal_count;
    int texture_method;         // 1 software, 2 copy, 3 direct
    bool shader_path;
    char folder[1024];          // as given to terrain_load
};

// Loads "terrain.hf", shading, shadows, tile types, tilemap and decals from a track folder
// ("@tracks/<name>" or a plain path). False: everything released, the terrain is empty.
bool  terrain_load(Terrain *t, const char *folder, int texture_method);
void  terrain_unload(Terrain *t);
// Writes terrain.hf (+ terrain.png), shading.ppm, shadingx2.ppm, tilemap and decals into the
// home directory's copy of the folder. False at the first file that cannot be created.
bool  terrain_save(Terrain *t);
// The same files under any prefix ("@tracks/x" or a plain path). With inline_samples the
// samples follow "terrain.hf" after ":" and no "terrain.png" is written.
bool  terrain_save_files(Terrain *t, const char *prefix, bool inline_samples);

float terrain_height(const Terrain *t, float x, float z);
Vec3  terrain_triangle_normal(const Terrain *t, float x, float z);  // y component is d^2
Vec3  terrain_vertex_normal(Terrain *t, int i, int j);              // unit; i, j clamped
// The loaded surface at (x, z), interpolated like terrain_height (ruts are measured from it).
float terrain_initial_height(const Terrain *t, float x, float z);
void  terrain_set_height(Terrain *t, int i, int j, float h);
void  terrain_reshade(Terrain *t);     // the flagged vertices
// A smooth bump of height amount at the centre (x, z), falling to 0 at radius (feet):
// amount (1 - 3s^2 + 2s^3) at s = distance / radius. Returns the sum of the height changes
// written (vertices outside the field take none). A centre farther outside the field than
// the radius, a radius of 0, a frozen terrain or values that are not finite change nothing.
float terrain_raise(Terrain *t, float x, float z, float radius, float amount);
// Spreads a total of height over the same falloff: each vertex of the bump's square gets
// total w / max(W, 1), with W the sum of the weights w of the whole square, so the part that
// falls outside the field is lost.
void  terrain_deposit(Terrain *t, float x, float z, float radius, float total);

// An empty field of the given size for tools and the editor: heights 0, shading mid-grey,
// no shadow, one default tile type; every vertex flagged for reshading. False on bad sizes.
bool  terrain_create(Terrain *t, int size_exponent, float spacing);
// Light used by vertex shading: direction towards the sun (normalised here), sun and ambient
// colours. Kept across loads; the default is the lighting file's default.
void  terrain_set_lighting(Vec3 sun_vector, Vec3 sun_color, Vec3 ambient);
void  terrain_get_lighting(Vec3 *sun_vector, Vec3 *sun_color, Vec3 *ambient);
// The per-vertex normal bytes of the per-pixel lit ground (once; the loader makes them when
// the renderer takes that path).
void  terrain_prepare_normals(Terrain *t);
void  terrain_mark_all_reshade(Terrain *t);

// Loading-screen progress, installed by the driver; without it step titles are only logged.
struct TerrainProgress {
    void (*log)(const char *text);      // a step begins
    void (*dots)(const char *text);     // still busy
    void (*done)(const char *text);     // the step ended
};
void  terrain_set_progress(const TerrainProgress *progress);   // null: log only
void  terrain_set_verbosity(int level);                        // 0, 1 ("--debug") or 2

// The renderer's share of a load: filled in when the terrain renderer exists. Every entry may
// be null, and loading works without them (and without a GL context).
struct TerrainRenderHooks {
    void (*compute_lod_errors)(Terrain *t);
    void (*choose_method)(Terrain *t, int requested);
    void (*build_textures)(Terrain *t);                 // low detail and LOD textures
    void (*release_textures)(Terrain *t);
    unsigned (*load_tile_texture)(const char *path);    // 0 when it cannot load
    unsigned long (*texture_memory)(void);
    bool (*load_decals)(Terrain *t, DataFile *f);
    bool (*save_decals)(const Terrain *t, DataFile *f);
    void (*free_decals)(Terrain *t);
    // Heights of vertices i0 .. i1, j0 .. j1 (inclusive, inside the field) were edited.
    void (*mark_region)(Terrain *t, int i0, int j0, int i1, int j1);
};
void  terrain_set_render_hooks(const TerrainRenderHooks *hooks);
const TerrainRenderHooks *terrain_render_hooks(void);          // never null

// Installed tracks: every folder of the file index holding "terrain.hf" (also .gz/.scram),
// with the display name from its "desc", sorted by display name ignoring case.
struct TrackInfo {
    char *folder;               // "tracks/sample"
    char *name;                 // "Sample Track"
};
int   track_list(void);                          // rebuilds; the number of tracks (0: none)
int   track_count(void);
const TrackInfo *track_info(int index);          // null outside the list
int   track_find(const char *folder);            // -1 when not installed
// The installed track a player's name means: its folder, with or without "tracks/" and with or
// without a trailing "/", or its display name, ignoring case; -1 when none.
int   track_lookup(const char *name);
// The track to start with: the configured one (as track_lookup reads it) when installed, else
// the first of the list; null when no track is installed.
const char *track_choose(const char *configured);
void  track_list_free(void);
