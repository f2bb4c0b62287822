// Collision shapes: a bounding radius and a list of spheres in body coordinates, read from
// ".shp" files and cached by file name. Shape ids start at 1; 0 means "no shape".
#pragma once

enum { SHAPE_MAX_SPHERES = 4096 };

struct ShapeSphere {
    float centre[3];
    float radius;
    float friction;
    float stiffness;                // lbf/ft
    float damping;                  // lbf s/ft
};

struct Shape {
    char name[64];
    float bound;                    // largest |centre| + radius
    int count;
    ShapeSphere *spheres;           // count entries; null when count is 0
};

// The id of the shape in the named file, loading it on first use; 0 (after a warning) when the
// file is missing, declares a count outside 0..4096 or lacks a number.
int  shape_load(const char *name);
const Shape *shape_get(int id);     // null for 0 and unknown ids
void shape_cache_free(void);
