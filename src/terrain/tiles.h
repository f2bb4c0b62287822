// Surface tiles: the tile types of a track ("tileinfo" or the older "texturelist"), the
// "tilemap" that assigns one to every (2d) x (2d) square, and the blend descriptors that the
// terrain renderer reads for transition tiles.
#pragma once
#include <stdint.h>

struct DataFile;
struct Terrain;

enum {
    k_max_tile_types = 256,
    k_max_friction_points = 8,
    k_max_roll_points = 8,
    k_max_roost_types = 4,
    k_max_erode_limits = 8,
};

const float k_unused_friction_key = 1048576.0f;
const float k_max_friction_key = 1048575.0f;
const float k_min_roll_key = 9.536743e-7f;     // 2^-20
const int32_t k_blend_missing_overlay = -256;

// What a wheel throws on this surface.
struct RoostType {
    int state;                  // 0 disabled, 1 enabled, 2 enabled with splash
    unsigned texture;           // texture id once textures load; 0 none
    char *texture_name;         // owned; null means the default "@roost.png"
    float count, dig, slip_threshold;
    float slow_angle, fast_angle, slow_speed, fast_speed;
    float size, grow, drag, vscale, randomize;
    uint8_t r, g, b, a;
    uint8_t fade_r, fade_g, fade_b, fade_a;     // per tic; wraps like a byte (254 = -2)
};

// How the ground ruts under a wheel (44 words per tile).
struct ErodeParams {
    float depth, lower, upper, displacement;
    float radius, inner_depth, inner_radius;    // radii in feet (the digs measure them in cells of d)
    float min_slope, max_slope;
    float off_speed, on_speed;                  // ft/s
    float slip_lower, slip_upper, slip_base_scale, slip_scale;
    float downhill_scale;
    float limit_depth[k_max_erode_limits];      // strictly increasing
    float limit_outer[k_max_erode_limits];
    float limit_inner[k_max_erode_limits];
    int limit_count;
    float project_to_ground, lateral_scale, front_scale;
};

struct TileType {
    char name[48];
    unsigned texture;           // texture id once textures load; 0 none
    char *texture_path;         // owned, as written ("@dirt.png"); null when none was given
    char *file_name;            // owned: path without "@" and folders, keeping the last "/"
    float friction_value[k_max_friction_points];
    float friction_key[k_max_friction_points];  // ascending; 1048576 marks an unused slot
    int slip_function;                          // 0, 1 or 2
    float roll_resist[k_max_roll_points][2];
    float roll_resist_key[k_max_roll_points];   // ascending; 0 marks an unused slot
    RoostType roost[k_max_roost_types];
    ErodeParams erode;
    int32_t blend;              // base << 16 | overlay << 8 | mask, or k_blend_missing_overlay
};

// Each reader replaces the terrain's tile table. tileinfo_load only fails (logging nothing;
// the caller logs "Error reading tileinfo") when the file declares no tile at all;
// texturelist_load likewise for an empty list.
bool tileinfo_load(Terrain *t, DataFile *f);
bool texturelist_load(Terrain *t, DataFile *f);
// Needs the size exponent; a short file leaves the rest as tile 0; bytes past the last tile
// type are lowered to it. False only without tile types or size.
bool tilemap_load(Terrain *t, DataFile *f);
void tiles_free(Terrain *t);

int tile_at(const Terrain *t, float x, float z);            // 0 when the terrain has no tilemap
const TileType *tile_type(const Terrain *t, int index);     // null outside the table

// Blend descriptor fields; -1 for k_blend_missing_overlay.
int blend_base(int32_t blend);
int blend_overlay(int32_t blend);
int blend_mask(int32_t blend);

// Fraction along [lo, hi], clamped to 0..1. An interval of width <= 0 is a step: 1 at or past
// hi, else 0, so equal keys never divide 0 by 0.
float tile_ramp(float x, float lo, float hi);
// The friction curve at slip speed s; squared = true interpolates in s^2 (slip function 0).
float tile_friction(const TileType *tile, float s, bool squared);
// The roll_resist pair at tangential speed w.
void  tile_roll_resist(const TileType *tile, float w, float pair[2]);

// Test and tool hook: a tile with every default of a fresh tileinfo tile (no texture).
void tile_set_defaults(TileType *tile);
