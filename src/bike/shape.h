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

struct dxBody;

// How a touching pair is answered: contact joints, nothing (a test), or spring forces for
// bodies the solver must not join this tic.
enum ShapeResponse : int { SHAPE_JOINTS, SHAPE_TEST, SHAPE_FORCE };

// One sphere of a shape placed in the world.
struct PlacedSphere {
    double centre[3];
    const ShapeSphere *sphere;
};

// Sphere lists of two bodies' shapes against each other (a null body is the static world
// at the origin). True when any pair touches; with SHAPE_JOINTS each touching pair becomes a
// contact joint in the contact group, with SHAPE_FORCE a force of at most 1000 lbf.
bool shape_contact(const Shape *a, dxBody *body_a, const Shape *b, dxBody *body_b, ShapeResponse response);
// Where a shape of solid scenery stands: world position and a row-major rotation (world =
// rotation x local + position).
struct ShapePlace {
    double position[3];
    double rotation[9];
};
// A body's shape against a shape fixed in the world (solid scenery), answered as by
// shape_contact with the static world as the second body.
bool shape_contact_placed(const Shape *a, dxBody *body_a, const Shape *b, const ShapePlace *place_b,
                          ShapeResponse response);
struct Terrain;

// A shape's spheres against the ground under them: when any sphere is nearer the surface than
// its radius, one contact joint between the body and the static world, as deep as the deepest
// sphere, with that sphere's friction, stiffness and damping, pushing along the surface's
// normal from the middle of the touching spheres (weighted by their depths). None for a
// disabled body. True when any sphere touches.
bool shape_ground_contact(const Shape *shape, dxBody *body, const Terrain *t);
// The push along the normal between two bodies whose spheres overlap by depth, closing at the
// given speed (lbf, within -1000..1000): what a soft contact joint of this stiffness and
// damping would give the pair in one step. A null or disabled body does not move.
double sphere_pair_push(double stiffness, double damping, double depth, double closing, dxBody *a, dxBody *b);
// The soft contact parameters of two touching spheres: friction, stiffness lowered so that
// stiffness x depth stays within 2500 lbf, damping.
void sphere_pair_surface(const ShapeSphere *a, const ShapeSphere *b, float depth, double *mu,
                         double *stiffness, double *damping);
