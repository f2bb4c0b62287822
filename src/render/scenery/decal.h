// Decals: pictures painted onto the ground textures (lines, ruts, logos). The terrain holds
// its list (Terrain::decals); the ground-texture composers draw every decal overlapping the
// square they compose, alpha-blended over the tiles and under the shading. Each decal is also
// listed in the buckets of an 8 x 8 grid over the field that its box touches.
#pragma once

struct Image;
struct Terrain;
struct DataFile;

struct Decal {
    float x, z;                 // centre, feet
    float angle, sin_angle, cos_angle;
    float size;                 // s: the width, feet
    float aspect;               // r: the decal is s wide and s * r long
    unsigned texture;           // colour texture id; 0 none
    unsigned normal_texture, specular_texture;      // "_tnorm", "_tspec" (shader path)
    const Image *image;         // the decoded colour picture, for the software composer
    char *name;                 // the texture as written back; owned
};

enum { DECAL_GRID = 8 };

// The decal with its angle's sine and cosine.
Decal decal_make(float x, float z, float angle, float size, float aspect);
// The axis-aligned box (feet) its rotated rectangle covers.
void  decal_box(const Decal *d, float *x0, float *z0, float *x1, float *z1);
// Where a point falls on the decal: u along its length, v across, 0..1 inside.
void  decal_coords(const Decal *d, float x, float z, float *u, float *v);

// "[ x z ] angle size aspect texture" entries until one fails to parse or holds a non-finite
// number; replaces the terrain's list and its buckets. True (an empty file too).
bool  decals_load(Terrain *t, DataFile *f);
bool  decals_save(const Terrain *t, DataFile *f);   // false when a write failed
void  decals_free(Terrain *t);
// Appends one (the editor): listed in its buckets, and the ground it covers composed again.
// Its index; -1 for non-finite numbers.
int   decal_add(Terrain *t, float x, float z, float angle, float size, float aspect, const char *texture);
// The sorted decal indices of bucket (bx, bz), 0..7 each; null (count 0) when empty.
const int *decal_bucket(int bx, int bz, int *count);
// Whether the buckets list every decal of t (they were read or added here).
bool  decal_buckets_cover(const Terrain *t);
