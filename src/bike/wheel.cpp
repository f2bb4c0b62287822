#include "bike/wheel.h"

#include <math.h>
#include <stdio.h>

#include "bike/shape.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static Vec3 to_vec(const dReal *v) { return v3((float)v[0], (float)v[1], (float)v[2]); }

static Vec3 unit(Vec3 v)
{
    float l = v3_length(v);
    return l > 0 ? v3_scale(v, 1 / l) : v;
}

Vec3 clean_contact_normal(Vec3 n)
{
    if (n.y < 0) {
        Vec3 h = v3(n.x, 0, n.z);
        if (h.x * h.x + h.z * h.z < 1.0f / 1024)
            return v3(0, 1, 0);
        return unit(h);
    }
    float l = v3_length(n);
    return l > 0 ? v3_scale(n, 1 / l) : v3(0, 1, 0);
}

// Squared distance from p to the tyre's rim circle, and the circle's nearest point.
static float circle_distance2(Vec3 c, Vec3 a, float radius, Vec3 p, Vec3 *nearest)
{
    Vec3 d = v3_sub(p, c);
    float h = v3_dot(d, a);
    Vec3 radial = v3_madd(d, a, -h);
    float rho = v3_length(radial);
    Vec3 dir;
    if (rho > 1e-6f) {
        dir = v3_scale(radial, 1 / rho);
    } else {
        // On the axle every rim point is as near; take one across the axle.
        dir = fabsf(a.y) < 0.9f ? unit(v3_cross(a, v3(0, 1, 0))) : unit(v3_cross(a, v3(1, 0, 0)));
        rho = 0;
    }
    *nearest = v3_madd(c, dir, radius);
    return h * h + (rho - radius) * (rho - radius);
}

// circle_distance2's value alone, computed the same way: the edge search needs the point only
// once, at the end.
static inline float circle_gap2(Vec3 c, Vec3 a, float radius, Vec3 p)
{
    Vec3 d = v3_sub(p, c);
    float h = v3_dot(d, a);
    Vec3 radial = v3_madd(d, a, -h);
    float rho = v3_length(radial);
    if (!(rho > 1e-6f))
        rho = 0;
    return h * h + (rho - radius) * (rho - radius);
}

// The edge point nearest to the rim circle: a coarse scan brackets the minimum, then a
// golden-section search narrows it (the distance along an edge has at most two valleys).
static float edge_nearest(Vec3 c, Vec3 a, float radius, Vec3 e0, Vec3 e1, Vec3 *on_edge, Vec3 *on_circle)
{
    Vec3 e = v3_sub(e1, e0);
    const int steps = 16;
    int best = 0;
    float best_d = INFINITY;
    for (int k = 0; k <= steps; k++) {
        float d = circle_gap2(c, a, radius, v3_madd(e0, e, (float)k / steps));
        if (d < best_d) {
            best_d = d;
            best = k;
        }
    }
    float lo = (float)(best > 0 ? best - 1 : 0) / steps, hi = (float)(best < steps ? best + 1 : steps) / steps;
    const float g = 0.6180339887f;
    float x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
    float f1 = circle_gap2(c, a, radius, v3_madd(e0, e, x1));
    float f2 = circle_gap2(c, a, radius, v3_madd(e0, e, x2));
    // Twenty narrowings leave the bracket about 1e-5 of the edge: the distance, flat at its
    // minimum, is then exact to float precision.
    for (int it = 0; it < 20; it++) {
        if (f1 < f2) {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - g * (hi - lo);
            f1 = circle_gap2(c, a, radius, v3_madd(e0, e, x1));
        } else {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + g * (hi - lo);
            f2 = circle_gap2(c, a, radius, v3_madd(e0, e, x2));
        }
    }
    float t = (lo + hi) / 2;
    *on_edge = v3_madd(e0, e, t);
    float d = circle_distance2(c, a, radius, *on_edge, on_circle);
    if (best_d < d) {
        // The search could not beat the scan's best point: keep that one.
        *on_edge = v3_madd(e0, e, (float)best / steps);
        d = circle_distance2(c, a, radius, *on_edge, on_circle);
    }
    return d;
}

// An edge that could beat the deepest contact known by less than this is not searched: a
// wheel lying flat has every edge under its ring about as deep as the face below its centre.
static const float k_depth_slack = 1e-3f;

// A cheap lower bound of the edge's distance from the rim circle: the squared distance is the
// axial offset squared plus the radial miss squared, and each is at least its own minimum along
// the edge (the axial offset is linear in the edge parameter, the distance from the axle convex).
static float edge_distance_bound(Vec3 c, Vec3 a, float radius, Vec3 e0, Vec3 e1)
{
    Vec3 d0 = v3_sub(e0, c), d1 = v3_sub(e1, c);
    float h0 = v3_dot(d0, a), h1 = v3_dot(d1, a);
    float h = h0 * h1 <= 0 ? 0 : fminf(fabsf(h0), fabsf(h1));
    Vec3 r0 = v3_madd(d0, a, -h0), r1 = v3_madd(d1, a, -h1);
    Vec3 dr = v3_sub(r1, r0);
    float dd = v3_dot(dr, dr);
    float t = dd > 0 ? -v3_dot(r0, dr) / dd : 0;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    float rho_min = v3_length(v3_madd(r0, dr, t));
    float rho_max = fmaxf(v3_length(r0), v3_length(r1));
    float miss = rho_min > radius ? rho_min - radius : rho_max < radius ? radius - rho_max : 0;
    return sqrtf(h * h + miss * miss);
}

// Another lower bound of the edge's distance from the rim circle: the edge lies in the plane
// through it that faces the wheel's centre, and no point of the circle comes nearer that plane
// than the centre's distance less the circle's reach across it.
static float edge_plane_bound(Vec3 c, Vec3 a, float radius, Vec3 e0, Vec3 e1)
{
    Vec3 e = v3_sub(e1, e0), d = v3_sub(c, e0);
    float ee = v3_dot(e, e);
    if (!(ee > 0))
        return 0;
    Vec3 across = v3_madd(d, e, -v3_dot(d, e) / ee);
    float gap = v3_length(across);
    if (!(gap > 0))
        return 0;
    // The reach from the cross product: from 1 - cos^2 it would lose its digits for a wheel
    // lying nearly flat.
    return gap - radius * v3_length(v3_cross(across, a)) / gap;
}

// Beyond the rounding of either bound and of the search's own distance: an edge whose bound
// is this much short of the deepest known contact cannot beat it.
static const float k_bound_rounding = 1e-4f;

// A triangle whose face the tyre's tube does not reach from below, kept for its edges.
struct EdgeCandidate {
    Vec3 v[3];
    Vec3 n;                         // unit, upwards
};

enum FaceResult { FACE_MISS, FACE_HIT, FACE_OUTSIDE };

// The rim circle as c + R (u cos t + v sin t), u pointing at the rim's lowest point against the
// face (h = hc - R dl cos t above the face's plane).
struct RimFrame {
    Vec3 u, v;
    float dl;                       // the rim's tilt towards the face: 0 lying parallel to it
};

// The rim points that stand over or under the triangle (seen from above, as the height field
// stacks its ground) and are below its plane: the lowest of them and its height h over the
// plane (negative). False when no rim point over the triangle is below the plane.
// Measuring only the points straight above the triangle's area, every rim point under the
// ground counts with exactly one triangle (or two alike on a shared edge), and pushing the
// wheel further down only ever deepens it.
static bool rim_under_face(Vec3 c, const RimFrame &f, float major_radius, float hc, const Vec3 v[3], Vec3 *point,
                           float *lowest)
{
    // Sides of the triangle in (x, z), signed so that the inside is positive.
    float ex[3], ez[3], alpha[3], beta[3], gamma[3], tol[3];
    float area = (v[1].x - v[0].x) * (v[2].z - v[0].z) - (v[1].z - v[0].z) * (v[2].x - v[0].x);
    if (!(fabsf(area) > 0))
        return false;
    float sign = area > 0 ? 1.0f : -1.0f;
    for (int k = 0; k < 3; k++) {
        const Vec3 &p = v[k], &q = v[(k + 1) % 3];
        ex[k] = q.x - p.x;
        ez[k] = q.z - p.z;
        alpha[k] = sign * (ex[k] * (c.z - p.z) - ez[k] * (c.x - p.x));
        beta[k] = sign * major_radius * (ex[k] * f.u.z - ez[k] * f.u.x);
        gamma[k] = sign * major_radius * (ex[k] * f.v.z - ez[k] * f.v.x);
        // A rim point on a side counts for both triangles that share it.
        tol[k] = 1e-5f * (fabsf(ex[k]) + fabsf(ez[k])) * (1 + major_radius);
    }
    auto inside = [&](float cs, float sn, int skip) {
        for (int k = 0; k < 3; k++)
            if (k != skip && alpha[k] + beta[k] * cs + gamma[k] * sn < -tol[k])
                return false;
        return true;
    };
    // h falls as cos t rises: the lowest point over the triangle is the rim's lowest point when
    // that lies over it, else where the rim crosses a side nearest to it.
    float best_cos = -2, best_sin = 0;
    if (inside(1, 0, -1)) {
        best_cos = 1;
    } else {
        for (int k = 0; k < 3; k++) {
            float rho = sqrtf(beta[k] * beta[k] + gamma[k] * gamma[k]);
            if (!(rho > 1e-12f) || fabsf(alpha[k]) > rho)
                continue;
            float phi = atan2f(gamma[k], beta[k]), spread = acosf(fmaxf(-1.0f, fminf(1.0f, -alpha[k] / rho)));
            for (int side = -1; side <= 1; side += 2) {
                float cs = cosf(phi + side * spread), sn = sinf(phi + side * spread);
                if (cs > best_cos && inside(cs, sn, k)) {
                    best_cos = cs;
                    best_sin = sn;
                }
            }
        }
    }
    if (best_cos < -1.5f)
        return false;
    float h = hc - major_radius * f.dl * best_cos;
    if (!(h < 0))
        return false;
    *point = v3_madd(v3_madd(c, f.u, major_radius * best_cos), f.v, major_radius * best_sin);
    *lowest = h;
    return true;
}

// The middle of the tyre's footprint on a face, on the face's plane. Around the rim the tube
// is pressed in by p(t) = A + B cos t (t from the lowest rim point, B = R dl, A + B the
// depth); the footprint is where p > 0, and its middle, weighted by p, lies along the lowest
// point's direction at R (2A sin m + B (m + sin m cos m)) / (2A m + 2B sin m), m the
// footprint's half angle. An upright wheel's footprint is short and its middle all but the
// lowest point; a wheel lying flat presses its whole ring, whose middle is under the axle.
static Vec3 footprint_middle(Vec3 c, Vec3 n, Vec3 p0, Vec3 down, float dl, float major_radius, float depth)
{
    float b = major_radius * dl, a = depth - b;
    float m = b > 1e-6f && -a / b > -1 ? acosf(fminf(-a / b, 1.0f)) : 3.14159265f;
    float s = sinf(m), den = 2 * a * m + 2 * b * s;
    float along = den > 1e-12f ? major_radius * (2 * a * s + b * (m + s * cosf(m))) / den : 0;
    Vec3 q = dl > 1e-6f ? v3_madd(c, down, along / dl) : c;
    return v3_madd(q, n, -v3_dot(v3_sub(q, p0), n));
}

// The tyre against the triangle's face. FACE_OUTSIDE when the tube may still reach its edges
// (the triangle then goes into *edge).
static FaceResult tyre_face(Vec3 c, Vec3 a, float major_radius, float minor_radius, Vec3 p0, Vec3 p1, Vec3 p2,
                            TyreHit *hit, EdgeCandidate *edge)
{
    Vec3 n = v3_cross(v3_sub(p1, p0), v3_sub(p2, p0));
    float nl = v3_length(n);
    if (!(nl > 0))
        return FACE_MISS;
    n = v3_scale(n, 1 / nl);
    if (n.y < 0)
        n = v3_scale(n, -1);
    a = unit(a);
    // The rim point lowest against the face, then the tube's bottom below it.
    Vec3 down = v3_madd(v3_scale(n, -1), a, v3_dot(n, a));
    float dl = v3_length(down);
    Vec3 rim = dl > 1e-6f ? v3_madd(c, down, major_radius / dl) : c;
    float height = v3_dot(v3_sub(rim, p0), n);
    // Every point of the face's plane is at least this far from the rim circle: a tube whose
    // lowest point clears the plane cannot reach the face or its edges.
    if (!(height < minor_radius))
        return FACE_MISS;
    Vec3 mid = v3_scale(v3_add(v3_add(p0, p1), p2), 1.0f / 3);
    Vec3 v[3] = { p0, p1, p2 };
    if (height < 0) {
        // Seen from above, no rim point can stand over a triangle farther off than the rim's
        // radius.
        float spread = 0;
        for (const Vec3 &p : v)
            spread = fmaxf(spread, hypotf(p.x - mid.x, p.z - mid.z));
        if (!(hypotf(mid.x - c.x, mid.z - c.z) < spread + major_radius + minor_radius))
            return FACE_MISS;
        // The rim itself reaches below the plane: the rim points under the triangle give the
        // depth. With none there the rim passes beside the triangle, which it can then only
        // meet at its edges.
        RimFrame f;
        if (dl > 1e-6f) {
            f.u = v3_scale(down, 1 / dl);
            f.dl = dl;
        } else {
            f.u = fabsf(a.y) < 0.9f ? unit(v3_cross(a, v3(0, 1, 0))) : unit(v3_cross(a, v3(1, 0, 0)));
            f.dl = 0;
        }
        f.v = v3_cross(a, f.u);
        Vec3 q;
        float lowest;
        if (rim_under_face(c, f, major_radius, v3_dot(v3_sub(c, p0), n), v, &q, &lowest)) {
            // The contact point: on the plane, over that rim point.
            Vec3 point = v3_madd(q, n, -lowest);
            *hit = { minor_radius - lowest, point, n, point };
            return FACE_HIT;
        }
        *edge = { { p0, p1, p2 }, n };
        return FACE_OUTSIDE;
    }
    // Nor a triangle wholly outside the torus's bounding sphere.
    float spread = fmaxf(v3_length(v3_sub(p0, mid)), fmaxf(v3_length(v3_sub(p1, mid)), v3_length(v3_sub(p2, mid))));
    if (!(v3_length(v3_sub(mid, c)) < spread + major_radius + minor_radius))
        return FACE_MISS;
    Vec3 foot = v3_madd(rim, n, -height);
    // Inside: the foot lies on the same side of all three edges, whichever way they wind.
    int below = 0, above = 0;
    for (int k = 0; k < 3; k++) {
        float side = v3_dot(v3_cross(v3_sub(v[(k + 1) % 3], v[k]), v3_sub(foot, v[k])), n);
        below += side < 0;
        above += side > 0;
    }
    bool inside = below == 0 || above == 0;
    if (inside) {
        float depth = minor_radius - height;
        if (!(depth > 0))
            return FACE_MISS;
        *hit = { depth, foot, n, footprint_middle(c, n, p0, down, dl, major_radius, depth) };
        return FACE_HIT;
    }
    *edge = { { p0, p1, p2 }, n };
    return FACE_OUTSIDE;
}

// The tyre against a FACE_OUTSIDE triangle's edges; a contact only counts when deeper than
// floor (a deeper one is already known), which lets most edges go untested.
static bool tyre_edges(Vec3 c, Vec3 a, float major_radius, float minor_radius, const EdgeCandidate &edge,
                       float floor, TyreHit *hit)
{
    a = unit(a);
    const Vec3 *v = edge.v;
    Vec3 n = edge.n;
    // Without a known contact the bound only needs a margin for its own rounding.
    float best = floor > 0 ? floor : 0, slack = floor > 0 ? k_depth_slack : -1e-4f;
    // The edges lie in the face's plane. The circle's clearance of it is taken again here,
    // with the reach from a cross product: the face's height loses its digits for a wheel
    // lying nearly flat.
    if (v3_dot(v3_sub(c, v[0]), n) - major_radius * v3_length(v3_cross(n, a)) > minor_radius - best + k_bound_rounding)
        return false;
    for (int k = 0; k < 3; k++) {
        if (edge_distance_bound(c, a, major_radius, v[k], v[(k + 1) % 3]) > minor_radius - best - slack)
            continue;
        if (edge_plane_bound(c, a, major_radius, v[k], v[(k + 1) % 3]) > minor_radius - best + k_bound_rounding)
            continue;
        Vec3 on_edge, on_circle;
        float d = sqrtf(edge_nearest(c, a, major_radius, v[k], v[(k + 1) % 3], &on_edge, &on_circle));
        float depth = minor_radius - d;
        if (depth > best && isfinite(depth)) {
            best = depth;
            Vec3 dir = v3_sub(on_circle, on_edge);
            hit->depth = depth;
            hit->point = on_edge;
            hit->push = on_edge;
            hit->normal = clean_contact_normal(d > 1e-6f ? v3_scale(dir, 1 / d) : n);
        }
    }
    return best > (floor > 0 ? floor : 0);
}

// As tyre_triangle, but an edge contact only counts when deeper than floor.
static bool tyre_triangle_deeper(Vec3 c, Vec3 a, float major_radius, float minor_radius, Vec3 p0, Vec3 p1,
                                 Vec3 p2, float floor, bool edges, TyreHit *hit)
{
    EdgeCandidate edge;
    FaceResult face = tyre_face(c, a, major_radius, minor_radius, p0, p1, p2, hit, &edge);
    if (face != FACE_OUTSIDE)
        return face == FACE_HIT;
    return edges && tyre_edges(c, a, major_radius, minor_radius, edge, floor, hit);
}

bool tyre_triangle(Vec3 c, Vec3 a, float major_radius, float minor_radius, Vec3 p0, Vec3 p1, Vec3 p2,
                   TyreHit *hit)
{
    return tyre_triangle_deeper(c, a, major_radius, minor_radius, p0, p1, p2, 0, true, hit);
}

// --- the height field's triangles around a wheel ---

static float height_at(const Terrain *t, int i, int j)
{
    i = i < 0 ? 0 : i >= t->dim ? t->dim - 1 : i;
    j = j < 0 ? 0 : j >= t->dim ? t->dim - 1 : j;
    return t->heights[(size_t)j * t->dim + i];
}

static Vec3 vertex(const Terrain *t, int i, int j)
{
    return v3(i * t->spacing, height_at(t, i, j), j * t->spacing);
}

// The two triangles of cell (i, j), split as the height field splits it.
static void cell_triangles(const Terrain *t, int i, int j, Vec3 tri[2][3])
{
    Vec3 p00 = vertex(t, i, j), p10 = vertex(t, i + 1, j), p01 = vertex(t, i, j + 1), p11 = vertex(t, i + 1, j + 1);
    if (((i + j) & 1) == 0) {
        tri[0][0] = p00, tri[0][1] = p10, tri[0][2] = p11;
        tri[1][0] = p00, tri[1][1] = p11, tri[1][2] = p01;
    } else {
        tri[0][0] = p00, tri[0][1] = p10, tri[0][2] = p01;
        tri[1][0] = p11, tri[1][1] = p01, tri[1][2] = p10;
    }
}

static bool cell_contact(const Terrain *t, int i, int j, Vec3 c, Vec3 a, const WheelContact *w, bool first,
                         bool edges, TyreHit *best)
{
    Vec3 tri[2][3];
    cell_triangles(t, i, j, tri);
    bool found = false;
    for (int k = 0; k < 2; k++) {
        TyreHit h;
        if (tyre_triangle_deeper(c, a, w->major_radius, w->minor_radius, tri[k][0], tri[k][1], tri[k][2],
                                 first ? 0 : best->depth, edges, &h) &&
            h.depth > best->depth) {
            *best = h;
            found = true;
            if (first)
                return true;
        }
    }
    return found;
}

struct CellRange {
    int i0, i1, j0, j1;             // inclusive
};

static bool wheel_cells(const Terrain *t, const WheelContact *w, Vec3 *c, Vec3 *a, CellRange *r)
{
    if (!t || !t->heights || !w || !w->wheel || !(t->spacing > 0))
        return false;
    *c = to_vec(dBodyGetPosition(w->wheel));
    dVector3 axle;
    dBodyVectorToWorld(w->wheel, w->axle.x, w->axle.y, w->axle.z, axle);
    *a = unit(to_vec(axle));
    float e = w->major_radius + w->minor_radius, d = t->spacing;
    float lo_x = floorf((c->x - e) / d), hi_x = ceilf((c->x + e) / d) - 1;
    float lo_z = floorf((c->z - e) / d), hi_z = ceilf((c->z + e) / d) - 1;
    // A wheel beyond the grid's edge cells touches nothing; cells one outside read the edge.
    float first = -1, last = (float)t->dim - 1;
    if (!isfinite(lo_x + hi_x + lo_z + hi_z) || hi_x < first || lo_x > last || hi_z < first || lo_z > last)
        return false;
    lo_x = fmaxf(lo_x, first), hi_x = fminf(hi_x, last);
    lo_z = fmaxf(lo_z, first), hi_z = fminf(hi_z, last);
    *r = { (int)lo_x, (int)hi_x, (int)lo_z, (int)hi_z };
    return true;
}

static void record(WheelContact *w, const TyreHit &h)
{
    w->depth = h.depth;
    w->point = h.point;
    w->normal = h.normal;
    dVector3 v;
    dBodyGetPointVel(w->wheel, h.point.x, h.point.y, h.point.z, v);
    w->velocity = to_vec(v);
}

static void clear(WheelContact *w)
{
    w->depth = 0;
}

bool query_wheel_contact(const Terrain *t, WheelContact *w)
{
    Vec3 c, a;
    CellRange r;
    if (!wheel_cells(t, w, &c, &a, &r)) {
        if (w)
            clear(w);
        return false;
    }
    // Outwards from the middle: the middle, one below, one above, two below...
    int mi = (r.i0 + r.i1) / 2, mj = (r.j0 + r.j1) / 2;
    int ni = r.i1 - r.i0 + 1, nj = r.j1 - r.j0 + 1;
    for (int sj = 0; sj < 2 * nj + 1; sj++) {
        int j = mj + (sj & 1 ? -(sj + 1) / 2 : sj / 2);
        if (j < r.j0 || j > r.j1)
            continue;
        for (int si = 0; si < 2 * ni + 1; si++) {
            int i = mi + (si & 1 ? -(si + 1) / 2 : si / 2);
            if (i < r.i0 || i > r.i1)
                continue;
            TyreHit h = {};
            if (cell_contact(t, i, j, c, a, w, true, true, &h)) {
                record(w, h);
                return true;
            }
        }
    }
    clear(w);
    return false;
}

// Triangles kept for the edge pass of one wheel: far more than a wheel's cells hold on any
// track's grid.
static const int k_edge_candidates = 128;

static bool deepest_contact(const Terrain *t, WheelContact *w, TyreHit *best)
{
    Vec3 c, a;
    CellRange r;
    *best = {};
    if (!wheel_cells(t, w, &c, &a, &r))
        return false;
    // Faces first: the deepest face contact spares most edge searches in the second pass,
    // which visits only the triangles whose faces the tube missed from outside their edges
    // (a face contact met again could not beat the deepest face).
    EdgeCandidate edges[k_edge_candidates];
    int n_edges = 0;
    bool found = false, overflow = false;
    for (int j = r.j0; j <= r.j1; j++)
        for (int i = r.i0; i <= r.i1; i++) {
            Vec3 tri[2][3];
            cell_triangles(t, i, j, tri);
            for (int k = 0; k < 2; k++) {
                TyreHit h;
                EdgeCandidate edge;
                FaceResult face = tyre_face(c, a, w->major_radius, w->minor_radius, tri[k][0], tri[k][1], tri[k][2],
                                            &h, &edge);
                if (face == FACE_HIT && h.depth > best->depth) {
                    *best = h;
                    found = true;
                } else if (face == FACE_OUTSIDE) {
                    if (n_edges < k_edge_candidates)
                        edges[n_edges++] = edge;
                    else
                        overflow = true;
                }
            }
        }
    if (overflow) {
        // More cells than the list holds (a very fine grid): every triangle again.
        for (int j = r.j0; j <= r.j1; j++)
            for (int i = r.i0; i <= r.i1; i++)
                found |= cell_contact(t, i, j, c, a, w, false, true, best);
        return found;
    }
    for (int k = 0; k < n_edges; k++) {
        TyreHit h;
        if (tyre_edges(c, a, w->major_radius, w->minor_radius, edges[k], best->depth, &h) && h.depth > best->depth) {
            *best = h;
            found = true;
        }
    }
    return found;
}

// --- friction and springs ---

Vec3 wheel_non_spinning_velocity(const WheelContact *w)
{
    if (!w || !w->wheel)
        return v3(0, 0, 0);
    Vec3 omega = to_vec(dBodyGetAngularVel(w->wheel));
    dVector3 axle;
    dBodyVectorToWorld(w->wheel, w->axle.x, w->axle.y, w->axle.z, axle);
    Vec3 a = unit(to_vec(axle));
    Vec3 across = v3_madd(omega, a, -v3_dot(omega, a));
    Vec3 c = to_vec(dBodyGetPosition(w->wheel));
    return v3_add(to_vec(dBodyGetLinearVel(w->wheel)), v3_cross(across, v3_sub(w->point, c)));
}

void bike_refresh_wheel_queries(BikeState *bike, const Terrain *t, int tic)
{
    if (!bike || !bike->built || bike->contact_stamp == tic)
        return;
    query_wheel_contact(t, &bike->wheel[0]);
    query_wheel_contact(t, &bike->wheel[1]);
    bike->contact_stamp = tic;
}

float wheel_friction(const TileType *tile, const WheelContact *w)
{
    if (!tile || !w)
        return 1;
    float s = v3_length(w->velocity);
    if (!isfinite(s))
        s = 0;
    switch (tile->slip_function) {
    case 0:
        return tile_friction(tile, s, true);
    case 2:
        if (s >= 1.0f / 16 && w->wheel) {
            // The contact's velocity without the wheel's spin, along the slip direction.
            Vec3 v = wheel_non_spinning_velocity(w);
            float along = v3_dot(v, v3_scale(w->velocity, 1 / s));
            s = isfinite(along) ? fminf(fmaxf(along, -s), s) : s;
        }
        if (s < 0)
            return 0;
        return tile_friction(tile, s, false);
    default:
        return tile_friction(tile, s, false);
    }
}

void tyre_spring(float depth, float minor_radius, double *stiffness, double *damping)
{
    // fmin would turn a NaN depth into full compression.
    double q = depth / minor_radius;
    q = q > 0 ? fmin(q, 1.0) : 0;
    double q3 = q * q * q;
    *stiffness = 24000 * q3 + 1000;
    *damping = 2300 * q3 + 200;
}

float arcade_grip_scale(float lean)
{
    if (!isfinite(lean))
        return 1;
    return 1 - 0.375f * fminf(1, 4 * fabsf(lean) / 3.14159265f);
}

bool create_wheel_contact(const Terrain *t, WheelContact *w, float grip_scale)
{
    TyreHit h;
    if (!deepest_contact(t, w, &h)) {
        if (w)
            clear(w);
        return false;
    }
    record(w, h);
    if (!dBodyIsEnabled(w->wheel)) {
        // A frozen bike: the step would not move the wheel, and a force on it would only pile
        // up until it wakes.
        w->feedback = {};
        return true;
    }
    static TileType fallback;
    static bool fallback_set;
    if (!fallback_set) {
        tile_set_defaults(&fallback);
        fallback_set = true;
    }
    const TileType *tile = tile_type(t, tile_at(t, h.point.x, h.point.z));
    if (!tile)
        tile = &fallback;
    float mu = wheel_friction(tile, w) * (isfinite(grip_scale) ? grip_scale : 1);

    double k, c;
    tyre_spring(h.depth, w->minor_radius, &k, &c);
    double hk = k_tic_seconds * k;
    dContact contact = {};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
    contact.surface.mu = fmax(mu, 0);
    contact.surface.soft_erp = hk / (hk + c);
    contact.surface.soft_cfm = 1 / (hk + c);
    Vec3 n = w->normal;
    Vec3 dir = v3_cross(n, w->velocity);
    if (v3_dot(dir, dir) < 1.0f / 1024) {
        dVector3 axle;
        dBodyVectorToWorld(w->wheel, w->axle.x, w->axle.y, w->axle.z, axle);
        dir = v3_cross(n, to_vec(axle));
    }
    float dl = v3_length(dir);
    if (dl > 0 && isfinite(dl)) {
        contact.surface.mode |= dContactFDir1;
        contact.fdir1[0] = dir.x / dl;
        contact.fdir1[1] = dir.y / dl;
        contact.fdir1[2] = dir.z / dl;
    }
    contact.geom.pos[0] = h.push.x;
    contact.geom.pos[1] = h.push.y;
    contact.geom.pos[2] = h.push.z;
    contact.geom.normal[0] = n.x;
    contact.geom.normal[1] = n.y;
    contact.geom.normal[2] = n.z;
    contact.geom.depth = h.depth;
    dJointID j = dJointCreateContact(dBodyGetWorld(w->wheel), bike_contact_group(), &contact);
    dJointAttach(j, w->wheel, nullptr);
    dJointSetFeedback(j, &w->feedback);

    // Rolling resistance against the centre's motion along the ground.
    Vec3 v = to_vec(dBodyGetLinearVel(w->wheel));
    Vec3 vt = v3_madd(v, n, -v3_dot(v, n));
    float speed = v3_length(vt);
    float pair[2];
    tile_roll_resist(tile, speed, pair);
    double q = fmin(h.depth / w->minor_radius, 1.0);
    double rho = pair[0] + q * (pair[1] - pair[0]);
    double scale = speed > 1 ? rho / speed : rho;
    if (isfinite(scale))
        dBodyAddForce(w->wheel, -scale * vt.x, -scale * vt.y, -scale * vt.z);
    return true;
}

// --- tyres against shapes ---

bool tyre_shape_contact(const Shape *shape, dBodyID body, const WheelContact *w, int response)
{
    if (!shape || !w || !w->wheel || shape->count == 0)
        return false;
    Vec3 c = to_vec(dBodyGetPosition(w->wheel));
    Vec3 origin = body ? to_vec(dBodyGetPosition(body)) : v3(0, 0, 0);
    float reach = shape->bound + w->major_radius + w->minor_radius;
    Vec3 gap = v3_sub(c, origin);
    if (!(v3_dot(gap, gap) < reach * reach))
        return false;
    dVector3 axle;
    dBodyVectorToWorld(w->wheel, w->axle.x, w->axle.y, w->axle.z, axle);
    Vec3 a = unit(to_vec(axle));
    bool touched = false;
    for (int i = 0; i < shape->count; i++) {
        const ShapeSphere *s = &shape->spheres[i];
        Vec3 centre = v3(s->centre[0], s->centre[1], s->centre[2]);
        if (body) {
            dVector3 p;
            dBodyGetRelPointPos(body, centre.x, centre.y, centre.z, p);
            centre = to_vec(p);
        }
        Vec3 ring;
        float d = sqrtf(circle_distance2(c, a, w->major_radius, centre, &ring));
        float rr = w->minor_radius + s->radius;
        if (!(d < rr))
            continue;
        touched = true;
        if (d < rr / 256 || response == SHAPE_TEST)
            continue;
        // From the sphere towards the tyre's tube.
        Vec3 n = v3_scale(v3_sub(ring, centre), 1 / d);
        float depth = rr - d;
        Vec3 point = v3_madd(centre, n, s->radius - depth / 2);
        double mu, k, damping;
        sphere_pair_surface(s, s, depth, &mu, &k, &damping);
        if (response == SHAPE_FORCE) {
            dVector3 vw, vb = { 0, 0, 0 };
            dBodyGetPointVel(w->wheel, point.x, point.y, point.z, vw);
            if (body)
                dBodyGetPointVel(body, point.x, point.y, point.z, vb);
            double closing = (vb[0] - vw[0]) * n.x + (vb[1] - vw[1]) * n.y + (vb[2] - vw[2]) * n.z;
            double f = sphere_pair_push(k, damping, depth, closing, w->wheel, body);
            if (dBodyIsEnabled(w->wheel))
                dBodyAddForceAtPos(w->wheel, f * n.x, f * n.y, f * n.z, point.x, point.y, point.z);
            if (body && dBodyIsEnabled(body))
                dBodyAddForceAtPos(body, -f * n.x, -f * n.y, -f * n.z, point.x, point.y, point.z);
            continue;
        }
        double hk = k_tic_seconds * k;
        dContact contact = {};
        contact.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
        contact.surface.mu = mu;
        contact.surface.soft_erp = hk / (hk + damping);
        contact.surface.soft_cfm = 1 / (hk + damping);
        contact.geom.pos[0] = point.x, contact.geom.pos[1] = point.y, contact.geom.pos[2] = point.z;
        contact.geom.normal[0] = n.x, contact.geom.normal[1] = n.y, contact.geom.normal[2] = n.z;
        contact.geom.depth = depth;
        dJointID j = dJointCreateContact(dBodyGetWorld(w->wheel), bike_contact_group(), &contact);
        dJointAttach(j, w->wheel, body);
    }
    return touched;
}

// --- after the step ---

// The horizontal frame of the wheel's travel (a wheel standing still uses its heading): false
// when it has none.
static bool travel_frame(const WheelContact *w, Vec3 *along, Vec3 *across)
{
    Vec3 v = to_vec(dBodyGetLinearVel(w->wheel));
    Vec3 a = v3(v.x, 0, v.z);
    if (v3_dot(a, a) < 1e-12f) {
        dVector3 axle;
        dBodyVectorToWorld(w->wheel, w->axle.x, w->axle.y, w->axle.z, axle);
        a = v3_cross(v3(0, 1, 0), to_vec(axle));
        a.y = 0;
    }
    float l = v3_length(a);
    if (!(l > 0) || !isfinite(l))
        return false;
    *along = v3_scale(a, 1 / l);
    *across = v3_cross(*along, v3(0, 1, 0));
    return true;
}

static void wheel_telemetry(WheelContact *w)
{
    w->speed = w->slip = w->fx = w->fz = w->pfx = w->pfz = 0;
    if (!w->wheel || !(w->depth > 0))
        return;
    w->speed = v3_length(to_vec(dBodyGetLinearVel(w->wheel)));
    w->slip = v3_length(w->velocity);
    Vec3 along, across;
    if (!travel_frame(w, &along, &across))
        return;
    Vec3 on_ground = v3_scale(to_vec(w->feedback.f1), -1);
    w->fx = v3_dot(on_ground, across);
    w->fz = v3_dot(on_ground, along);
}

void bike_dig_terrain(BikeState *bike, const Terrain *t, int tic)
{
    if (!bike || !bike->built || !t)
        return;
    for (int k = 0; k < 2; k++) {
        WheelContact *w = &bike->wheel[k];
        if (!w->wheel || !(w->depth > 0)) {
            erode_flush_idle(&w->erode, t, tic);
            continue;
        }
        float push[2];
        erode_sample(&w->erode, t, w->point, to_vec(dBodyGetLinearVel(w->wheel)), w->velocity,
                     to_vec(w->feedback.f1), k == 0, tic, push);
        // The push on the ground, resolved like the tyre's force.
        Vec3 along, across;
        if (travel_frame(w, &along, &across)) {
            w->pfx = -(push[0] * across.x + push[1] * across.z);
            w->pfz = -(push[0] * along.x + push[1] * along.z);
        }
    }
}

void wheel_after_step(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    for (WheelContact &w : bike->wheel)
        wheel_telemetry(&w);
}

void wheel_telemetry_text(const BikeState *bike, char *out, int size)
{
    if (!out || size <= 0)
        return;
    out[0] = 0;
    if (!bike)
        return;
    if (size > 1024)
        size = 1024;
    const WheelContact &f = bike->wheel[0], &r = bike->wheel[1];
    snprintf(out, (size_t)size,
             "front:\nspeed=%.2f\nslip=%.2f\nfx=%.2f\nfz=%.2f\npfx=%.2f\npfz=%.2f\n"
             "rear:\nspeed=%.2f\nslip=%.2f\nfx=%.2f\nfz=%.2f\npfx=%.2f\npfz=%.2f\n",
             f.speed, f.slip, f.fx, f.fz, f.pfx, f.pfz, r.speed, r.slip, r.fx, r.fz, r.pfx, r.pfz);
}
