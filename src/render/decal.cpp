#include "render/decal.h"

#include <math.h>

// The length runs along (cos, sin) in (x, z), the width along (-sin, cos).
Decal decal_make(float x, float z, float angle, float size, float aspect)
{
    Decal d = {};
    d.x = x;
    d.z = z;
    d.angle = angle;
    d.sin_angle = sinf(angle);
    d.cos_angle = cosf(angle);
    d.size = size;
    d.aspect = aspect;
    return d;
}

void decal_box(const Decal *d, float *x0, float *z0, float *x1, float *z1)
{
    float hx = fabsf(d->size * 0.5f * d->sin_angle) + fabsf(d->size * d->aspect * 0.5f * d->cos_angle);
    float hz = fabsf(d->size * 0.5f * d->cos_angle) + fabsf(d->size * d->aspect * 0.5f * d->sin_angle);
    *x0 = d->x - hx;
    *x1 = d->x + hx;
    *z0 = d->z - hz;
    *z1 = d->z + hz;
}

void decal_coords(const Decal *d, float x, float z, float *u, float *v)
{
    float dx = x - d->x, dz = z - d->z;
    float length = d->size * d->aspect;
    *u = length > 0 ? (dx * d->cos_angle + dz * d->sin_angle) / length + 0.5f : -1;
    *v = d->size > 0 ? (-dx * d->sin_angle + dz * d->cos_angle) / d->size + 0.5f : -1;
}
