// Placing a bike: whether it stands clear of the ground and of the bikes already placed. Only
// tests: no contact joint stays in the contact group and no wheel keeps a contact.
#pragma once
#include "common/vecmath.h"

struct BikeState;
struct Terrain;

// Whether the sphere (world centre, radius in ft) reaches the height field's surface or lies
// under it.
bool sphere_touches_terrain(const Terrain *t, Vec3 centre, float radius);
// Whether any part of the bike touches something: both tyres and every collision shape of the
// frame, forks, swingarm and rider against the height field, and every part against each of
// the other bikes (null entries, bikes not built and the bike itself are skipped).
bool bike_touches_anything(BikeState *bike, const Terrain *t, BikeState *const *others, int count);
