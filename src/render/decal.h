// Decals: pictures painted onto the ground textures (lines, ruts, logos). The terrain holds
// its list (Terrain::decals); the ground-texture composers draw every decal overlapping the
// square they compose, alpha-blended over the tiles and under the shading.
#pragma once

struct Image;

struct Decal {
    float x, z;                 // centre, feet
    float angle, sin_angle, cos_angle;
    float size;                 // s: the width, feet
    float aspect;               // r: the decal is s wide and s * r long
    unsigned texture;           // colour texture id; 0 none
    unsigned normal_texture, specular_texture;      // "_tnorm", "_tspec" (shader path)
    const Image *image;         // the decoded colour picture, for the software composer
};

// The decal with its angle's sine and cosine.
Decal decal_make(float x, float z, float angle, float size, float aspect);
// The axis-aligned box (feet) its rotated rectangle covers.
void  decal_box(const Decal *d, float *x0, float *z0, float *x1, float *z1);
// Where a point falls on the decal: u along its length, v across, 0..1 inside.
void  decal_coords(const Decal *d, float x, float z, float *u, float *v);
