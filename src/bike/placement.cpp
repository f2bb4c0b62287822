#include "bike/placement.h"

#include <math.h>

#include "bike/bike.h"
#include "bike/shape.h"
#include "bike/wheel.h"
#include "terrain/terrain.h"

// The point of triangle (a, b, c) nearest to p, by the region of the triangle p projects into.
static Vec3 closest_on_triangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c)
{
    Vec3 ab = v3_sub(b, a), ac = v3_sub(c, a), ap = v3_sub(p, a);
    float d1 = v3_dot(ab, ap), d2 = v3_dot(ac, ap);
    if (d1 <= 0 && d2 <= 0)
        return a;
    Vec3 bp = v3_sub(p, b);
    float d3 = v3_dot(ab, bp), d4 = v3_dot(ac, bp);
    if (d3 >= 0 && d4 <= d3)
        return b;
    float vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return v3_madd(a, ab, d1 / (d1 - d3));
    Vec3 cp = v3_sub(p, c);
    float d5 = v3_dot(ab, cp), d6 = v3_dot(ac, cp);
    if (d6 >= 0 && d5 <= d6)
        return c;
    float vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return v3_madd(a, ac, d2 / (d2 - d6));
    float va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0)
        return v3_madd(b, v3_sub(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6)));
    float inv = 1 / (va + vb + vc);
    return v3_add(a, v3_add(v3_scale(ab, vb * inv), v3_scale(ac, vc * inv)));
}

static Vec3 vertex(const Terrain *t, int i, int j)
{
    return v3(i * t->spacing, t->heights[i + (size_t)j * t->dim], j * t->spacing);
}

bool sphere_touches_terrain(const Terrain *t, Vec3 c, float r)
{
    if (!t || !t->heights || !isfinite(c.x) || !isfinite(c.y) || !isfinite(c.z) || !(r > 0))
        return false;
    if (terrain_height(t, c.x, c.z) >= c.y)
        return true;
    // Every triangle of the cells under the sphere's footprint, clipped to the field.
    int last = t->dim - 2;
    float inv = t->inv_spacing;
    int i0 = (int)fmaxf(floorf((c.x - r) * inv), 0), i1 = (int)fminf(floorf((c.x + r) * inv), (float)last);
    int j0 = (int)fmaxf(floorf((c.z - r) * inv), 0), j1 = (int)fminf(floorf((c.z + r) * inv), (float)last);
    for (int j = j0; j <= j1; j++)
        for (int i = i0; i <= i1; i++) {
            Vec3 p00 = vertex(t, i, j), p10 = vertex(t, i + 1, j), p01 = vertex(t, i, j + 1),
                 p11 = vertex(t, i + 1, j + 1);
            // the same diagonals as terrain_height
            Vec3 tri[2][3];
            if (((i + j) & 1) == 0) {
                tri[0][0] = p10, tri[0][1] = p00, tri[0][2] = p11;
                tri[1][0] = p01, tri[1][1] = p11, tri[1][2] = p00;
            } else {
                tri[0][0] = p00, tri[0][1] = p10, tri[0][2] = p01;
                tri[1][0] = p11, tri[1][1] = p01, tri[1][2] = p10;
            }
            for (const auto &k : tri) {
                Vec3 gap = v3_sub(c, closest_on_triangle(c, k[0], k[1], k[2]));
                if (v3_dot(gap, gap) < r * r)
                    return true;
            }
        }
    return false;
}

static bool shape_touches_terrain(const Terrain *t, const Shape *shape, dBodyID body)
{
    if (!shape)
        return false;
    for (int i = 0; i < shape->count; i++) {
        const ShapeSphere *s = &shape->spheres[i];
        dVector3 p;
        dBodyGetRelPointPos(body, s->centre[0], s->centre[1], s->centre[2], p);
        if (sphere_touches_terrain(t, v3((float)p[0], (float)p[1], (float)p[2]), s->radius))
            return true;
    }
    return false;
}

static bool is_wheel(int body) { return body == BODY_FRONT_WHEEL || body == BODY_REAR_WHEEL; }

// The part pairs of collide_bikes, as a test.
static bool bikes_touch(const BikeState *a, const BikeState *b)
{
    const dReal *fa = dBodyGetPosition(a->body[BODY_FRAME]), *fb = dBodyGetPosition(b->body[BODY_FRAME]);
    double dx = fb[0] - fa[0], dy = fb[1] - fa[1], dz = fb[2] - fa[2];
    double reach = (double)bike_reach(a) + bike_reach(b);
    if (!(dx * dx + dy * dy + dz * dz < reach * reach))
        return false;
    for (int pa = 0; pa < BODY_COUNT; pa++) {
        const Shape *sa = shape_get(a->shape[pa]);
        for (int pb = 0; pb < BODY_COUNT; pb++) {
            bool touched = is_wheel(pb)
                               ? tyre_shape_contact(sa, a->body[pa], &b->wheel[pb == BODY_FRONT_WHEEL ? 0 : 1], SHAPE_TEST)
                               : shape_contact(sa, a->body[pa], shape_get(b->shape[pb]), b->body[pb], SHAPE_TEST);
            if (touched)
                return true;
        }
    }
    return false;
}

bool bike_touches_anything(BikeState *bike, const Terrain *t, BikeState *const *others, int count)
{
    if (!bike || !bike->built)
        return false;
    bool touching = bike_touches_world(bike, t);
    bike_contacts_empty();
    for (WheelContact &w : bike->wheel)
        w.depth = 0;
    for (int i = 0; i < BODY_COUNT && !touching; i++)
        if (!is_wheel(i))
            touching = shape_touches_terrain(t, shape_get(bike->shape[i]), bike->body[i]);
    for (int k = 0; k < count && !touching; k++)
        if (others[k] && others[k] != bike && others[k]->built)
            touching = bikes_touch(bike, others[k]);
    return touching;
}
