// Wheel against ground: each tyre is a torus tested against the height field's triangles; the
// deepest contact becomes a soft contact joint with the surface tile's friction, and a
// rolling-resistance force slows the wheel.
#pragma once
#include "bike/bike.h"

struct Terrain;
struct TileType;

// A contact found between a tyre and one triangle.
struct TyreHit {
    float depth;                    // > 0 when the tyre reaches below the triangle
    Vec3 point;                     // on the triangle
    Vec3 normal;                    // cleaned up: never pointing down
    // Where the contact pushes: the middle of the tyre's footprint on a face, weighted by how
    // far each part is pressed in (a wheel lying flat is held under its axle, not at one point
    // of its rim that it would tip over); the point itself at an edge.
    Vec3 push;
};

// The tyre (centre c, unit axle a, radii R and r) against triangle (p0, p1, p2) as a solid
// below its face and inside its edges. False when they do not meet.
bool tyre_triangle(Vec3 c, Vec3 a, float major_radius, float minor_radius, Vec3 p0, Vec3 p1, Vec3 p2,
                   TyreHit *hit);
// Downward normals become horizontal; nearly vertical-down ones become (0, 1, 0).
Vec3 clean_contact_normal(Vec3 n);

// The deepest contact of the wheel this tic: records it, creates the contact joint in the
// contact group and adds the rolling resistance. False (depth 0) when the tyre is clear.
bool create_wheel_contact(const Terrain *t, WheelContact *w, float grip_scale);
// The first contact found from the middle of the wheel's cells outwards, for telemetry and
// particles; records point, velocity, normal and depth only.
bool query_wheel_contact(const Terrain *t, WheelContact *w);

// The friction coefficient of a tile at a contact; slip function 2 uses the wheel's
// non-spinning velocity at the contact point.
float wheel_friction(const TileType *tile, const WheelContact *w);
// Tyre stiffness (lbf/ft) and damping (lbf s/ft) at a compression depth / r.
void tyre_spring(float depth, float minor_radius, double *stiffness, double *damping);
// 1 upright, falling to 0.625 at a lean of 45 degrees and beyond (arcade physics).
float arcade_grip_scale(float lean);

struct Shape;
enum ShapeResponse : int;

// A shape's spheres (on body, null for the static world) against a wheel's tyre; the
// response as for shape_contact, each sphere's own surface values serving the pair.
bool tyre_shape_contact(const Shape *shape, dBodyID body, const WheelContact *w, int response);

// After the library's step: each wheel's telemetry values (all 0 for a wheel not touching).
void wheel_after_step(BikeState *bike);
// After the step while the terrain erodes: each wheel's erosion sample (or idle tic), and its
// push in the telemetry (pfx, pfz). tic: the race tic.
void bike_dig_terrain(BikeState *bike, const Terrain *t, int tic);
// "front:\n" and the front wheel's six values, then "rear:\n" and the rear's, as one log
// entry of at most size - 1 (1023) characters.
void wheel_telemetry_text(const BikeState *bike, char *out, int size);

// The contact point's velocity without the wheel's spin about its axle: v + w_perp x (p - c).
Vec3 wheel_non_spinning_velocity(const WheelContact *w);
// Refreshes both wheels' records with query_wheel_contact once per tic (the bike's stamp).
void bike_refresh_wheel_queries(BikeState *bike, const Terrain *t, int tic);
