// The default data generator: shared declarations of its parts.
#pragma once
#include <stdint.h>

// ---- noise.cpp: hashed value noise, optionally periodic ----
float hash01(uint32_t seed, int x, int y);          // 0..1
// Value noise with smooth interpolation; 'period' lattice cells (0: not periodic). -1..1.
float value_noise(uint32_t seed, float x, float y, int period);
// Octaves of value noise, each twice the frequency and half the amplitude; -1..1 roughly.
float fbm(uint32_t seed, float x, float y, int octaves, int period);
float smoothstep(float e0, float e1, float x);
float clampf(float x, float lo, float hi);

// ---- textures.cpp ----
enum Surface { k_dirt, k_grass, k_hardpack, k_sand, k_surface_count };
// Writes every ground texture named by tile_texture_name into dir. False on a write failure.
bool write_tile_textures(const char *dir);

// ---- pictures.cpp: fonts, title, HUD pictures, roost ----
bool write_pictures(const char *dir);

// ---- tilemaps and tileinfo (tileinfo.cpp) ----
// Tile indices in tileinfo order: 0 dirt, 1 grass, 2 dirt-alt1, 3 grass-alt1, 4 hardpack,
// 5 sand, 6..19 dirt-grass-MMMM (mask 1..14), 20..33 sand-grass-MMMM.
enum { k_tile_count = 34 };
void tile_texture_name(int tile, char *out, int size);   // "dirt-grass-0101.png"
// The tile for a square whose four corners have these surfaces (order d1..d4 of game_data.h);
// 'alt' picks the alternative picture of a plain dirt or grass square.
int  tile_for_corners(const int corner[4], bool alt);
bool write_tileinfo(const char *path);

// ---- track.cpp ----
bool write_sample_track(const char *dir);      // dir = the track folder
bool write_practice_track(const char *dir);

// ---- shared by both tracks (tracks_common.cpp) ----
struct Terrain;
extern const float k_sun_vector[3];
bool write_track_common(Terrain *t, const char *dir, const char *display_name, bool inline_samples);

// ---- timing.cpp ----
// One sample of a lap's centre line: position, unit tangent and the track's half width (ft).
struct LapPoint {
    float x, z, tx, tz, half_width;
};
// Writes "timing_gates" into dir for the closed lap of n samples 'step' ft apart, starting at
// the gate's end of the start straight.
bool write_track_timing(const char *dir, const Terrain *t, const LapPoint *lap, int n, float step);

// ---- shapes.cpp ----
// The collision shapes every catalogue row names ("generic_*.shp", "rider.shp") into dir.
bool write_bike_shapes(const char *dir);
