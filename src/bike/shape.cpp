#include "bike/shape.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <ode/ode.h>

#include "bike/bike.h"
#include "common/mem.h"
#include "platform/log.h"
#include "terrain/terrain.h"
#include "vfs/vfs.h"

static struct {
    Shape *shapes;                  // count entries; id = index + 1
    int count, capacity;
} g_shapes;

static bool read_shape(const char *name, Shape *out)
{
    DataFile *f = open_data_file(name, "r");
    if (!f) {
        log_printf("Warning: Can't load %.900s\n", name);
        return false;
    }
    int count = -1;
    bool ok = data_scanf(f, "%d", &count) == 1 && count >= 0 && count <= SHAPE_MAX_SPHERES;
    ShapeSphere *spheres = ok && count > 0 ? (ShapeSphere *)xcalloc((size_t)count, sizeof *spheres) : nullptr;
    float bound = 0;
    for (int i = 0; ok && i < count; i++) {
        ShapeSphere *s = &spheres[i];
        ok = data_scanf(f, "%f", &s->centre[0]) == 1 && data_scanf(f, "%f", &s->centre[1]) == 1 &&
             data_scanf(f, "%f", &s->centre[2]) == 1 &&
             data_scanf(f, "%f %f %f %f", &s->radius, &s->friction, &s->stiffness, &s->damping) == 4;
        if (ok) {
            float reach = sqrtf(s->centre[0] * s->centre[0] + s->centre[1] * s->centre[1] +
                                s->centre[2] * s->centre[2]) + s->radius;
            ok = isfinite(reach);
            if (reach > bound)
                bound = reach;
        }
    }
    close_data_file(f);
    if (!ok) {
        log_printf("Warning: bad shape file %.900s\n", name);
        xfree(spheres);
        return false;
    }
    snprintf(out->name, sizeof out->name, "%s", name);
    out->bound = bound;
    out->count = count;
    out->spheres = spheres;
    return true;
}

int shape_load(const char *name)
{
    if (!name || !*name || strlen(name) >= sizeof g_shapes.shapes[0].name)
        return 0;
    for (int i = 0; i < g_shapes.count; i++)
        if (strcmp(g_shapes.shapes[i].name, name) == 0)
            return i + 1;
    Shape s = {};
    if (!read_shape(name, &s))
        return 0;
    if (g_shapes.count == g_shapes.capacity) {
        g_shapes.capacity = g_shapes.capacity ? g_shapes.capacity * 2 : 16;
        g_shapes.shapes = (Shape *)xrealloc(g_shapes.shapes, (size_t)g_shapes.capacity * sizeof(Shape));
    }
    g_shapes.shapes[g_shapes.count++] = s;
    return g_shapes.count;
}

const Shape *shape_get(int id)
{
    if (id < 1 || id > g_shapes.count)
        return nullptr;
    return &g_shapes.shapes[id - 1];
}

void shape_cache_free(void)
{
    for (int i = 0; i < g_shapes.count; i++)
        xfree(g_shapes.shapes[i].spheres);
    xfree(g_shapes.shapes);
    g_shapes = {};
}

// --- contacts ---

void sphere_pair_surface(const ShapeSphere *a, const ShapeSphere *b, float depth, double *mu,
                         double *stiffness, double *damping)
{
    *mu = fmin(a->friction, b->friction);
    double k = fmin(a->stiffness, b->stiffness);
    if (depth > 0 && k * depth > 2500)
        k = 2500 / depth;
    *stiffness = k;
    *damping = fmin(a->damping, b->damping);
}

static void world_point(dBodyID body, const float *local, double out[3])
{
    if (!body) {
        out[0] = local[0], out[1] = local[1], out[2] = local[2];
        return;
    }
    dVector3 p;
    dBodyGetRelPointPos(body, local[0], local[1], local[2], p);
    out[0] = p[0], out[1] = p[1], out[2] = p[2];
}

// One side of a sphere-list test: a body, a fixed placement (solid scenery) or, with
// neither, the static world at the origin.
struct ShapeSide {
    dBodyID body;
    const ShapePlace *place;
};

static void side_point(const ShapeSide &side, const float *local, double out[3])
{
    if (!side.place) {
        world_point(side.body, local, out);
        return;
    }
    const double *m = side.place->rotation, *c = side.place->position;
    for (int r = 0; r < 3; r++)
        out[r] = c[r] + m[r * 3] * local[0] + m[r * 3 + 1] * local[1] + m[r * 3 + 2] * local[2];
}

static void side_centre(const ShapeSide &side, double out[3])
{
    out[0] = out[1] = out[2] = 0;
    if (side.place) {
        for (int k = 0; k < 3; k++)
            out[k] = side.place->position[k];
    } else if (side.body) {
        const dReal *p = dBodyGetPosition(side.body);
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
    }
}

static void body_velocity_at(dBodyID body, const double p[3], double v[3])
{
    if (!body) {
        v[0] = v[1] = v[2] = 0;
        return;
    }
    dVector3 out;
    dBodyGetPointVel(body, p[0], p[1], p[2], out);
    v[0] = out[0], v[1] = out[1], v[2] = out[2];
}

// The share of a push that reaches a body's centre: none for the static world or a body the
// step leaves alone.
static double inverse_mass(dBodyID body)
{
    if (!body || !dBodyIsEnabled(body))
        return 0;
    dMass m;
    dBodyGetMass(body, &m);
    return m.mass > 0 ? 1 / m.mass : 0;
}

double sphere_pair_push(double stiffness, double damping, double depth, double closing, dxBody *a, dxBody *b)
{
    // A spring this stiff, given as a force before the step, overshoots on light parts and
    // feeds a pile-up more than it takes: take the force a soft contact joint would settle on
    // for the pair within the step (implicit in the pair's own masses).
    double w = inverse_mass(a) + inverse_mass(b), hc = k_tic_seconds * stiffness + damping;
    double f = (stiffness * depth + hc * closing) / (1 + k_tic_seconds * w * hc);
    return isfinite(f) ? fmax(-1000.0, fmin(1000.0, f)) : 0;
}

static bool sides_contact(const Shape *a, const ShapeSide &side_a, const Shape *b, const ShapeSide &side_b,
                          ShapeResponse response)
{
    if (!a || !b || a->count == 0 || b->count == 0)
        return false;
    dBodyID ba = side_a.body, bb = side_b.place ? nullptr : side_b.body;
    double ca[3], cb[3];
    side_centre(side_a, ca);
    side_centre(side_b, cb);
    double dx = cb[0] - ca[0], dy = cb[1] - ca[1], dz = cb[2] - ca[2];
    double reach = (double)a->bound + b->bound;
    if (!(dx * dx + dy * dy + dz * dz < reach * reach))
        return false;
    bool touched = false;
    for (int i = 0; i < a->count; i++) {
        const ShapeSphere *sa = &a->spheres[i];
        double pa[3];
        side_point(side_a, sa->centre, pa);
        for (int j = 0; j < b->count; j++) {
            const ShapeSphere *sb = &b->spheres[j];
            double pb[3];
            side_point(side_b, sb->centre, pb);
            double d[3] = { pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2] };
            double d2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            double rr = (double)sa->radius + sb->radius;
            if (!(d2 < rr * rr))
                continue;
            touched = true;
            double rmin = fmin(sa->radius, sb->radius);
            // Coincident centres: touching, but no direction to push along.
            if (d2 < 1.0 / 256 && d2 < rmin * rmin / 256)
                continue;
            if (response == SHAPE_TEST)
                continue;
            double dist = sqrt(d2), depth = rr - dist;
            double n[3] = { d[0] / dist, d[1] / dist, d[2] / dist };
            double s = (sa->radius - depth / 2) / dist;
            double p[3] = { pa[0] + d[0] * s, pa[1] + d[1] * s, pa[2] + d[2] * s };
            double mu, k, c;
            sphere_pair_surface(sa, sb, (float)depth, &mu, &k, &c);
            if (response == SHAPE_FORCE) {
                double va[3], vb[3];
                body_velocity_at(ba, p, va);
                body_velocity_at(bb, p, vb);
                double closing = (va[0] - vb[0]) * n[0] + (va[1] - vb[1]) * n[1] + (va[2] - vb[2]) * n[2];
                double f = sphere_pair_push(k, c, depth, closing, ba, bb);
                if (ba && dBodyIsEnabled(ba))
                    dBodyAddForceAtPos(ba, -f * n[0], -f * n[1], -f * n[2], p[0], p[1], p[2]);
                if (bb && dBodyIsEnabled(bb))
                    dBodyAddForceAtPos(bb, f * n[0], f * n[1], f * n[2], p[0], p[1], p[2]);
                continue;
            }
            double hk = k_tic_seconds * k;
            dContact contact = {};
            contact.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
            contact.surface.mu = mu;
            contact.surface.soft_erp = hk / (hk + c);
            contact.surface.soft_cfm = 1 / (hk + c);
            for (int k3 = 0; k3 < 3; k3++) {
                contact.geom.pos[k3] = p[k3];
                // The library's normal points from the second body towards the first.
                contact.geom.normal[k3] = -n[k3];
            }
            contact.geom.depth = depth;
            dJointID joint = dJointCreateContact(bike_world(), bike_contact_group(), &contact);
            dJointAttach(joint, ba, bb);
        }
    }
    return touched;
}

bool shape_contact(const Shape *a, dxBody *body_a, const Shape *b, dxBody *body_b, ShapeResponse response)
{
    return sides_contact(a, { body_a, nullptr }, b, { body_b, nullptr }, response);
}

bool shape_contact_placed(const Shape *a, dxBody *body_a, const Shape *b, const ShapePlace *place_b,
                          ShapeResponse response)
{
    return sides_contact(a, { body_a, nullptr }, b, { nullptr, place_b }, response);
}

bool shape_ground_contact(const Shape *shape, dxBody *body, const Terrain *t)
{
    if (!shape || !body || !t || !t->heights || shape->count == 0)
        return false;
    // One contact for the body, as deep as its deepest sphere, pushing from the middle of the
    // touching spheres weighted by their depths (one joint per sphere would grow the solver's
    // work several times over for a bike lying on the ground).
    double deepest = 0, weight = 0, at[3] = { 0, 0, 0 }, normal[3] = { 0, 0, 0 };
    const ShapeSphere *surface = nullptr;
    for (int i = 0; i < shape->count; i++) {
        const ShapeSphere *s = &shape->spheres[i];
        double p[3];
        world_point(body, s->centre, p);
        float x = (float)p[0], z = (float)p[2];
        double above = p[1] - terrain_height(t, x, z);
        // The gap to the surface is the height over it times the surface's upright share: a
        // sphere higher than four radii only reaches slopes steeper than any on a track.
        if (!(above < 4.0 * s->radius))
            continue;
        Vec3 n = v3_normalize(terrain_triangle_normal(t, x, z));
        if (!(n.y > 0))
            continue;
        double gap = above * n.y, depth = s->radius - gap;
        if (!(depth > 0))
            continue;
        if (depth > deepest) {
            deepest = depth;
            surface = s;
        }
        weight += depth;
        at[0] += depth * (p[0] - n.x * gap);
        at[1] += depth * (p[1] - n.y * gap);
        at[2] += depth * (p[2] - n.z * gap);
        normal[0] += depth * n.x;
        normal[1] += depth * n.y;
        normal[2] += depth * n.z;
    }
    if (!surface)
        return false;
    if (!dBodyIsEnabled(body))
        return true;
    double nl = sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    double mu, k, c;
    sphere_pair_surface(surface, surface, (float)deepest, &mu, &k, &c);
    double hk = k_tic_seconds * k;
    dContact contact = {};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
    contact.surface.mu = mu;
    contact.surface.soft_erp = hk / (hk + c);
    contact.surface.soft_cfm = 1 / (hk + c);
    for (int k3 = 0; k3 < 3; k3++) {
        contact.geom.pos[k3] = at[k3] / weight;
        contact.geom.normal[k3] = normal[k3] / nl;
    }
    contact.geom.depth = deepest;
    dJointID joint = dJointCreateContact(bike_world(), bike_contact_group(), &contact);
    dJointAttach(joint, body, nullptr);
    return true;
}
