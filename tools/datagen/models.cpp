// The bike and rider models (".jm" text) and their textures. Parts are laid out in the
// bike's build coordinates (the bike at rest facing -z, from the catalogue's geometry) and
// written in each body's own coordinates. Levels "_lod5" and "_lod7" repeat a model with
// fewer segments.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "bike/catalogue.h"
#include "bike/figure.h"
#include "common/game_data.h"
#include "datagen.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

namespace {

struct V3 { float x, y, z; };
V3 operator+(V3 a, V3 b) { return { a.x + b.x, a.y + b.y, a.z + b.z }; }
V3 operator-(V3 a, V3 b) { return { a.x - b.x, a.y - b.y, a.z - b.z }; }
V3 operator*(V3 a, float s) { return { a.x * s, a.y * s, a.z * s }; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 cross(V3 a, V3 b) { return { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x }; }
V3 unit(V3 a)
{
    float l = sqrtf(dot(a, a));
    return l > 0 ? a * (1 / l) : V3{ 0, 1, 0 };
}

struct Vert {
    V3 p, n;
    float u, v;
    float w[RIDER_BONES];
};

// One mesh: shininess s, reflectivity k and colour.
struct Part {
    float s, k, r, g, b;
    std::vector<Vert> v;
    std::vector<int> t;
};

// A texture rectangle.
struct Rect { float u0, v0, u1, v1; };

// Weights of a rest-pose point (null: rigid).
typedef void (*WeightFn)(V3 p, float w[RIDER_BONES]);

struct Builder {
    std::vector<Part> parts;
    float q = 1;                    // detail: 1 full, less for the coarser levels
    WeightFn weigh = nullptr;
    V3 origin = { 0, 0, 0 };        // the body's point in build coordinates
    Builder() { parts.reserve(16); }    // parts are held by reference while others are added
    Part &part(float s, float k, float r, float g, float b)
    {
        parts.push_back(Part{ s, k, r, g, b, {}, {} });
        return parts.back();
    }
    int segs(int full) const
    {
        int n = (int)lroundf(full * q);
        return n < 3 ? 3 : n;
    }
};

int vert(Builder &bld, Part &m, V3 p, V3 n, float u, float v)
{
    Vert x = {};
    x.p = p - bld.origin;
    x.n = unit(n);
    x.u = u;
    x.v = v;
    if (bld.weigh)
        bld.weigh(p, x.w);
    m.v.push_back(x);
    return (int)m.v.size() - 1;
}

void tri(Part &m, int a, int b, int c)
{
    m.t.push_back(a);
    m.t.push_back(b);
    m.t.push_back(c);
}

// Two unit vectors across the direction d.
void across(V3 d, V3 *e1, V3 *e2)
{
    V3 ref = fabsf(d.x) < 0.9f ? V3{ 1, 0, 0 } : V3{ 0, 1, 0 };
    *e1 = unit(cross(ref, d));
    *e2 = cross(d, *e1);
}

// A tube from a to b, radius ra to rb, with rings along it and end caps.
void tube(Builder &bld, Part &m, V3 a, V3 b, float ra, float rb, int seg, int rings, Rect uv, bool caps = true)
{
    seg = bld.segs(seg);
    rings = rings > 1 ? (int)lroundf(rings * bld.q) : 1;
    if (rings < 1)
        rings = 1;
    V3 d = unit(b - a), e1, e2;
    across(d, &e1, &e2);
    int first = (int)m.v.size();
    for (int r = 0; r <= rings; r++) {
        float f = (float)r / rings;
        V3 c = a + (b - a) * f;
        float rad = ra + (rb - ra) * f;
        for (int i = 0; i <= seg; i++) {
            float ang = 2 * (float)M_PI * i / seg;
            V3 n = e1 * cosf(ang) + e2 * sinf(ang);
            vert(bld, m, c + n * rad, n, uv.u0 + (uv.u1 - uv.u0) * i / seg, uv.v0 + (uv.v1 - uv.v0) * f);
        }
    }
    for (int r = 0; r < rings; r++)
        for (int i = 0; i < seg; i++) {
            int k = first + r * (seg + 1) + i, up = k + seg + 1;
            tri(m, k, k + 1, up + 1);
            tri(m, k, up + 1, up);
        }
    if (!caps || bld.q < 0.7f)      // nobody sees the ends from afar
        return;
    for (int end = 0; end < 2; end++) {
        V3 c = end ? b : a, n = end ? d : d * -1;
        float rad = end ? rb : ra;
        int centre = vert(bld, m, c, n, (uv.u0 + uv.u1) / 2, end ? uv.v1 : uv.v0);
        int ring = (int)m.v.size();
        for (int i = 0; i < seg; i++) {
            float ang = 2 * (float)M_PI * i / seg;
            vert(bld, m, c + (e1 * cosf(ang) + e2 * sinf(ang)) * rad, n, (uv.u0 + uv.u1) / 2, end ? uv.v1 : uv.v0);
        }
        for (int i = 0; i < seg; i++) {
            int p = ring + i, nx = ring + (i + 1) % seg;
            if (end)
                tri(m, centre, p, nx);
            else
                tri(m, centre, nx, p);
        }
    }
}

// A path of tubes through the points with the radii.
void pipe(Builder &bld, Part &m, const V3 *pts, const float *radii, int n, int seg, Rect uv)
{
    for (int i = 0; i + 1 < n; i++)
        tube(bld, m, pts[i], pts[i + 1], radii[i], radii[i + 1], seg, 1, uv, i == 0 || i + 2 == n);
}

// A box with half sizes h, turned by the axes (x, y, z).
void box(Builder &bld, Part &m, V3 c, V3 h, Rect uv, V3 ax = { 1, 0, 0 }, V3 ay = { 0, 1, 0 }, V3 az = { 0, 0, 1 })
{
    const V3 axes[3] = { ax, ay, az };
    const float half[3] = { h.x, h.y, h.z };
    for (int f = 0; f < 6; f++) {
        int k = f / 2;
        float sgn = f % 2 ? 1.0f : -1.0f;
        V3 n = axes[k] * sgn, s = axes[(k + 1) % 3] * half[(k + 1) % 3], t = axes[(k + 2) % 3] * half[(k + 2) % 3];
        V3 fc = c + n * half[k];
        int base = (int)m.v.size();
        const float corners[4][2] = { { -1, -1 }, { 1, -1 }, { 1, 1 }, { -1, 1 } };
        for (auto &cn : corners)
            vert(bld, m, fc + s * cn[0] + t * cn[1], n, cn[0] < 0 ? uv.u0 : uv.u1, cn[1] < 0 ? uv.v0 : uv.v1);
        if (sgn > 0) {
            tri(m, base, base + 1, base + 2);
            tri(m, base, base + 2, base + 3);
        } else {
            tri(m, base, base + 2, base + 1);
            tri(m, base, base + 3, base + 2);
        }
    }
}

void ellipsoid(Builder &bld, Part &m, V3 c, V3 r, int seg, int rings, Rect uv)
{
    seg = bld.segs(seg);
    rings = bld.segs(rings);
    int first = (int)m.v.size();
    for (int j = 0; j <= rings; j++) {
        float phi = (float)M_PI * j / rings;
        for (int i = 0; i <= seg; i++) {
            float th = 2 * (float)M_PI * i / seg;
            V3 d = { sinf(phi) * cosf(th), cosf(phi), sinf(phi) * sinf(th) };
            V3 p = { c.x + r.x * d.x, c.y + r.y * d.y, c.z + r.z * d.z };
            V3 n = { d.x / r.x, d.y / r.y, d.z / r.z };
            vert(bld, m, p, n, uv.u0 + (uv.u1 - uv.u0) * i / seg, uv.v0 + (uv.v1 - uv.v0) * j / rings);
        }
    }
    for (int j = 0; j < rings; j++)
        for (int i = 0; i < seg; i++) {
            int k = first + j * (seg + 1) + i, dn = k + seg + 1;
            if (j > 0)
                tri(m, k, k + 1, dn);
            if (j + 1 < rings)
                tri(m, k + 1, dn + 1, dn);
        }
}

// A tyre round the x axis: the torus of radii R and r, knobs raised on the tread.
void tyre(Builder &bld, Part &m, V3 axle, float R, float r, Rect uv)
{
    int seg = bld.segs(20), sides = bld.q < 0.7f ? 4 : 8;
    int first = (int)m.v.size();
    for (int i = 0; i <= seg; i++) {
        float th = 2 * (float)M_PI * i / seg;
        for (int j = 0; j <= sides; j++) {
            float ph = 2 * (float)M_PI * j / sides;
            float knob = (i % 2 == 0 && cosf(ph) > 0.3f) ? 1.012f : 1.0f;
            float rr = r * knob;
            V3 n = { sinf(ph), cosf(ph) * sinf(th), cosf(ph) * cosf(th) };
            V3 p = { axle.x + rr * sinf(ph), axle.y + (R + rr * cosf(ph)) * sinf(th), axle.z + (R + rr * cosf(ph)) * cosf(th) };
            vert(bld, m, p, n, uv.u0 + (uv.u1 - uv.u0) * j / sides, uv.v0 + (uv.v1 - uv.v0) * i / seg * 4);
        }
    }
    for (int i = 0; i < seg; i++)
        for (int j = 0; j < sides; j++) {
            int k = first + i * (sides + 1) + j, nx = k + sides + 1;
            tri(m, k, nx, nx + 1);
            tri(m, k, nx + 1, k + 1);
        }
}

bool write_model(const char *dir, const char *name, const Builder &bld, int bones)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name[0] == '@' ? name + 1 : name);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    if (bones)
        data_printf(f, "JM2\n%d bones\n", bones);
    else
        data_printf(f, "JM1\n");
    for (const Part &m : bld.parts) {
        data_printf(f, "%g %g %g %g %g %d %d\n", m.s, m.k, m.r, m.g, m.b, (int)m.v.size(), (int)m.t.size() / 3);
        for (const Vert &x : m.v) {
            data_printf(f, "%.4f %.4f %.4f %.3f %.3f %.3f %.4f %.4f", x.p.x, x.p.y, x.p.z, x.n.x, x.n.y, x.n.z, x.u, x.v);
            for (int b = 0; b < bones; b++)
                data_printf(f, " %.3g", x.w[b]);
            data_printf(f, "\n");
        }
        for (size_t i = 0; i < m.t.size(); i += 3)
            data_printf(f, "%d %d %d\n", m.t[i], m.t[i + 1], m.t[i + 2]);
    }
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

// The name with "_lod<k>" before the extension.
void lod_name(const char *name, int k, char *out, int size)
{
    const char *dot = strrchr(name, '.');
    snprintf(out, (size_t)size, "%.*s_lod%d%s", (int)(dot - name), name, k, dot);
}

typedef void (*BuildFn)(Builder &bld, const void *arg);

// The model and, with levels, its "_lod5" (about 40 %) and "_lod7" (about 15 %) siblings.
bool write_levels(const char *dir, const char *name, BuildFn build, const void *arg, int bones, bool levels)
{
    const float q[3] = { 1, 0.6f, 0.2f };
    for (int l = 0; l < (levels ? 3 : 1); l++) {
        Builder bld;
        bld.q = q[l];
        build(bld, arg);
        char file[200];
        if (l == 0)
            snprintf(file, sizeof file, "%s", name);
        else
            lod_name(name, l == 1 ? 5 : 7, file, sizeof file);
        if (!write_model(dir, file, bld, bones))
            return false;
    }
    return true;
}

// ---- the bike ----

// Texture regions of the bike graphics (512 x 512).
const Rect k_plastic = { 0, 0, 0.5f, 0.5f }, k_frame_tex = { 0.5f, 0, 1, 0.25f },
           k_engine_tex = { 0.5f, 0.25f, 1, 0.5f }, k_seat_tex = { 0, 0.5f, 0.5f, 0.75f },
           k_metal_tex = { 0.5f, 0.5f, 1, 0.75f }, k_dark_tex = { 0, 0.75f, 0.5f, 1 };

const BikeModel &geometry() { return *bike_model(0); }
V3 from(const float *p) { return { p[0], p[1], p[2] }; }

struct FrameArg {
    bool four_stroke;
};

void build_frame(Builder &bld, const void *arg)
{
    const BikeModel &g = geometry();
    bool four = ((const FrameArg *)arg)->four_stroke;
    bld.origin = from(g.frame_position);
    V3 head = from(g.head_point);
    Part &frame = bld.part(16, 1, 0.8f, 0.8f, 0.8f);
    for (float s : { -1.0f, 1.0f }) {
        V3 top[] = { head + V3{ 0, -0.05f, 0.1f }, { 0.2f * s, 3.1f, 3.3f }, { 0.25f * s, 2.3f, 4.0f } };
        float r[] = { 0.06f, 0.06f, 0.06f };
        pipe(bld, frame, top, r, 3, 6, k_frame_tex);
        V3 down[] = { head + V3{ 0, -0.25f, 0.05f }, { 0.05f * s, 1.9f, 2.5f }, { 0.2f * s, 1.65f, 3.4f },
                      { 0.25f * s, 2.0f, 4.0f } };
        float r2[] = { 0.06f, 0.06f, 0.06f, 0.06f };
        pipe(bld, frame, down, r2, 4, 6, k_frame_tex);
        if (bld.q < 0.3f)
            continue;
        // The pegs.
        tube(bld, frame, { 0.3f * s, 2.0f, 3.6f }, { 0.72f * s, 2.0f, 3.6f }, 0.05f, 0.05f, 6, 1, k_metal_tex);
        // The subframe to the seat's tail.
        tube(bld, frame, { 0.22f * s, 3.15f, 3.6f }, { 0.2f * s, 3.35f, 5.2f }, 0.04f, 0.04f, 5, 1, k_frame_tex);
    }
    Part &plastic = bld.part(24, 1, 1, 1, 1);
    ellipsoid(bld, plastic, { 0, 3.35f, 2.85f }, { 0.42f, 0.26f, 0.55f }, 12, 6, k_plastic);     // tank
    for (float s : { -1.0f, 1.0f }) {
        if (bld.q < 0.3f)
            break;
        box(bld, plastic, { 0.42f * s, 3.05f, 2.55f }, { 0.04f, 0.32f, 0.42f }, k_plastic);       // shrouds
        box(bld, plastic, { 0.33f * s, 3.2f, 4.5f }, { 0.04f, 0.22f, 0.5f }, k_plastic);          // side panels
    }
    box(bld, plastic, { 0, 3.45f, 5.55f }, { 0.24f, 0.03f, 0.8f }, k_plastic);                     // rear fender
    Part &seat = bld.part(4, 1, 1, 1, 1);
    box(bld, seat, { 0, 3.52f, 3.95f }, { 0.26f, 0.08f, 1.0f }, k_seat_tex);
    Part &engine = bld.part(8, 1, 1, 1, 1);
    box(bld, engine, { 0, 2.1f, 3.3f }, { 0.3f, 0.38f, 0.45f }, k_engine_tex);
    for (float s : { -1.0f, 1.0f })
        if (bld.q >= 0.3f)
            box(bld, engine, { 0.34f * s, 2.8f, 2.3f }, { 0.05f, 0.3f, 0.2f }, k_dark_tex);      // radiators
    Part &chrome = bld.part(-1, 0.6f, 0.9f, 0.9f, 0.9f);
    if (four) {
        box(bld, engine, { 0, 2.85f, 3.0f }, { 0.27f, 0.22f, 0.28f }, k_engine_tex);             // head
        V3 header[] = { { 0, 2.8f, 2.72f }, { 0.08f, 2.45f, 2.35f }, { 0.3f, 2.05f, 2.6f }, { 0.36f, 2.45f, 3.7f },
                        { 0.38f, 2.95f, 4.4f } };
        float r[] = { 0.07f, 0.07f, 0.08f, 0.08f, 0.08f };
        pipe(bld, chrome, header, r, 5, 8, k_metal_tex);
        tube(bld, engine, { 0.38f, 3.0f, 4.45f }, { 0.42f, 3.3f, 5.5f }, 0.16f, 0.14f, 10, 1, k_dark_tex);   // silencer
    } else {
        tube(bld, engine, { 0, 2.4f, 3.05f }, { 0, 2.95f, 2.95f }, 0.19f, 0.19f, 8, 1, k_engine_tex);       // barrel
        for (int i = 0; i < (bld.q < 0.5f ? 0 : 5); i++) {                                                 // fins
            float y = 2.5f + 0.1f * i;
            tube(bld, engine, { 0, y, 3.04f - 0.02f * i }, { 0, y + 0.035f, 3.035f - 0.02f * i }, 0.28f, 0.28f, 8, 1,
                 k_engine_tex);
        }
        V3 chamber[] = { { 0, 2.7f, 2.8f }, { 0.05f, 2.35f, 2.3f }, { 0.22f, 1.85f, 2.55f }, { 0.34f, 2.15f, 3.35f },
                         { 0.36f, 2.85f, 4.15f } };
        float r[] = { 0.09f, 0.16f, 0.22f, 0.2f, 0.1f };
        pipe(bld, chrome, chamber, r, 5, 8, k_metal_tex);
        tube(bld, engine, { 0.36f, 2.95f, 4.25f }, { 0.4f, 3.25f, 5.3f }, 0.13f, 0.12f, 10, 1, k_dark_tex);   // silencer
    }
    // Reflective meshes come last in a file.
    Part c = chrome;
    bld.parts.erase(bld.parts.begin() + (&chrome - &bld.parts[0]));
    bld.parts.push_back(c);
}

// The steering axis, upwards.
V3 steering_axis()
{
    const BikeModel &g = geometry();
    return unit(from(g.head_point) - from(g.lower_fork_point));
}

void build_upper_fork(Builder &bld, const void *)
{
    const BikeModel &g = geometry();
    bld.origin = from(g.head_point);
    V3 head = from(g.head_point), ax = steering_axis();
    float half = g.fork_spacing / 2;
    Part &metal = bld.part(32, 1, 1, 1, 1);
    for (float s : { -1.0f, 1.0f })
        tube(bld, metal, head + ax * 0.2f + V3{ half * s, 0, 0 }, head - ax * 1.05f + V3{ half * s, 0, 0 }, 0.085f, 0.085f, 8,
             1, k_metal_tex);
    V3 az = unit(cross(V3{ 1, 0, 0 }, ax));
    box(bld, metal, head + ax * 0.12f, { half + 0.12f, 0.05f, 0.12f }, k_dark_tex, { 1, 0, 0 }, ax, az);   // top clamp
    box(bld, metal, head - ax * 0.45f, { half + 0.12f, 0.07f, 0.14f }, k_dark_tex, { 1, 0, 0 }, ax, az);   // bottom clamp
    const float *gl = g.rider_pose + 15;
    V3 grip_l = head + V3{ gl[0], gl[1], gl[2] }, grip_r = head + V3{ gl[3], gl[4], gl[5] };
    V3 bar[] = { grip_l, grip_l + V3{ 0.35f, 0, 0.05f }, head + ax * 0.3f + V3{ -0.15f, 0, 0 },
                 head + ax * 0.3f + V3{ 0.15f, 0, 0 }, grip_r + V3{ -0.35f, 0, 0.05f }, grip_r };
    float r[] = { 0.045f, 0.045f, 0.05f, 0.05f, 0.045f, 0.045f };
    if (bld.q < 0.5f)               // from afar the bar is straight
        tube(bld, metal, grip_l, grip_r, 0.045f, 0.045f, 6, 1, k_metal_tex);
    else
        pipe(bld, metal, bar, r, 6, 6, k_metal_tex);
    Part &grips = bld.part(2, 1, 1, 1, 1);
    for (float s : { -1.0f, 1.0f }) {
        V3 g0 = s < 0 ? grip_l : grip_r;
        tube(bld, grips, g0 + V3{ -0.2f * s, 0, 0 }, g0 + V3{ 0.08f * s, 0, 0 }, 0.065f, 0.065f, 6, 1, k_dark_tex);
    }
}

void build_lower_fork(Builder &bld, const void *)
{
    const BikeModel &g = geometry();
    bld.origin = from(g.lower_fork_point);
    V3 axle = from(g.front.axle), ax = steering_axis();
    float half = g.fork_spacing / 2;
    Part &legs = bld.part(24, 1, 1, 1, 1);
    for (float s : { -1.0f, 1.0f }) {
        V3 foot = axle + V3{ half * s, 0, 0 };
        tube(bld, legs, foot - ax * 0.05f, foot + ax * 1.25f, 0.11f, 0.11f, 8, 1, k_dark_tex);
    }
    tube(bld, legs, axle + V3{ -half, 0, 0 }, axle + V3{ half, 0, 0 }, 0.04f, 0.04f, 6, 1, k_metal_tex);
    Part &fender = bld.part(24, 1, 1, 1, 1);
    V3 az = unit(cross(V3{ 1, 0, 0 }, ax));
    box(bld, fender, axle + ax * 1.35f + az * 0.1f, { 0.22f, 0.03f, 0.75f }, k_plastic, { 1, 0, 0 }, ax, az);
}

void build_swingarm(Builder &bld, const void *)
{
    const BikeModel &g = geometry();
    bld.origin = from(g.swingarm_position);
    V3 pivot = from(g.swingarm_pivot), axle = from(g.rear.axle);
    Part &arm = bld.part(16, 1, 1, 1, 1);
    for (float s : { -1.0f, 1.0f }) {
        V3 a = pivot + V3{ 0.3f * s, 0, 0 }, b = axle + V3{ 0.3f * s, 0, 0 };
        V3 d = unit(b - a), az = d, ay = unit(cross(az, V3{ 1, 0, 0 }));
        box(bld, arm, (a + b) * 0.5f, { 0.06f, 0.12f, sqrtf(dot(b - a, b - a)) / 2 }, k_frame_tex, { 1, 0, 0 }, ay * -1, az);
    }
    tube(bld, arm, pivot + V3{ -0.32f, 0, 0 }, pivot + V3{ 0.32f, 0, 0 }, 0.08f, 0.08f, 8, 1, k_frame_tex);
    tube(bld, arm, axle + V3{ -0.32f, 0, 0 }, axle + V3{ 0.32f, 0, 0 }, 0.035f, 0.035f, 6, 1, k_metal_tex);
    if (bld.q < 0.3f)
        return;
    Part &chain = bld.part(8, 1, 1, 1, 1);
    box(bld, chain, (pivot + axle) * 0.5f + V3{ 0.4f, 0, 0 }, { 0.02f, 0.08f, 0.95f }, k_dark_tex);
}

// Texture regions of the wheel textures (256 x 256).
const Rect k_tread = { 0, 0, 0.5f, 1 }, k_rim = { 0.5f, 0, 1, 0.5f }, k_hub = { 0.5f, 0.5f, 1, 1 };

void build_wheel(Builder &bld, const void *arg)
{
    const BikeWheelRow &w = *(const BikeWheelRow *)arg;
    V3 axle = from(w.axle);
    bld.origin = axle;
    Part &rubber = bld.part(2, 1, 1, 1, 1);
    tyre(bld, rubber, axle, w.major_radius, w.minor_radius, k_tread);
    Part &rim = bld.part(32, 1, 1, 1, 1);
    float rim_r = w.major_radius - w.minor_radius * 0.75f;
    int n = bld.segs(20);
    for (int i = 0; i < n; i++) {           // the rim as a ring of short tubes
        float a0 = 2 * (float)M_PI * i / n, a1 = 2 * (float)M_PI * (i + 1) / n;
        tube(bld, rim, axle + V3{ 0, rim_r * sinf(a0), rim_r * cosf(a0) }, axle + V3{ 0, rim_r * sinf(a1), rim_r * cosf(a1) },
             0.045f, 0.045f, 3, 1, k_rim, false);
    }
    tube(bld, rim, axle + V3{ -0.2f, 0, 0 }, axle + V3{ 0.2f, 0, 0 }, 0.12f, 0.12f, 8, 1, k_hub);
    Part &spokes = bld.part(-1, 0.5f, 0.9f, 0.9f, 0.9f);
    int count = bld.q < 0.5f ? 0 : 12;      // the far levels show no spokes
    for (int i = 0; i < count; i++) {
        float a = 2 * (float)M_PI * i / count, side = i % 2 ? 0.15f : -0.15f;
        tube(bld, spokes, axle + V3{ side, 0.1f * sinf(a), 0.1f * cosf(a) }, axle + V3{ 0, rim_r * sinf(a), rim_r * cosf(a) },
             0.012f, 0.012f, 3, 1, k_hub, false);
    }
    if (count == 0)
        bld.parts.pop_back();
}

// ---- the rider ----

const float *pose() { return geometry().rider_pose; }
float smooth01(float e0, float e1, float x) { return smoothstep(e0, e1, x); }

// A limb hanging from the joint at `top` with bone `upper` over length a, then `lower` over
// length b; `parent` above. Blends over 0.25 ft at each joint.
void limb_weights(V3 p, V3 top, float a, int parent, int upper, int lower, float w[RIDER_BONES])
{
    float s = top.y - p.y;          // depth below the top joint
    for (int i = 0; i < RIDER_BONES; i++)
        w[i] = 0;
    if (s < a - 0.125f) {
        float t = smooth01(-0.125f, 0.125f, s);
        w[parent] = 1 - t;
        w[upper] = t;
    } else {
        float t = smooth01(a - 0.125f, a + 0.125f, s);
        w[upper] = 1 - t;
        w[lower] = t;
    }
}

// The limb being built (the arms and legs overlap in the rest pose, so a point alone cannot
// tell which it belongs to).
struct Limb {
    V3 top;
    float length;
    int upper, lower;
} g_limb;

void limb_weights_now(V3 p, float w[RIDER_BONES])
{
    limb_weights(p, g_limb.top, g_limb.length, BONE_TORSO, g_limb.upper, g_limb.lower, w);
}

void torso_weights(V3, float w[RIDER_BONES])
{
    for (int i = 0; i < RIDER_BONES; i++)
        w[i] = i == BONE_TORSO;
}

// Texture regions of the riding gear (256 x 256).
const Rect k_jersey = { 0, 0, 0.5f, 0.5f }, k_sleeve = { 0.5f, 0, 1, 0.5f }, k_pants = { 0, 0.5f, 0.5f, 1 },
           k_boots = { 0.5f, 0.5f, 0.75f, 1 }, k_gloves = { 0.75f, 0.5f, 1, 1 };

void build_limbs(Builder &bld)
{
    const float *q = pose();
    Part &gear = bld.part(4, 1, 1, 1, 1);
    for (int side = 0; side < 2; side++) {
        float s = side ? 1.0f : -1.0f;
        V3 sh = { q[3 + 3 * side], q[4 + 3 * side], q[5 + 3 * side] };
        V3 hip = { q[9 + 3 * side], q[10 + 3 * side], q[11 + 3 * side] };
        V3 elbow = sh - V3{ 0, q[27], 0 }, hand = elbow - V3{ 0, q[28], 0 };
        V3 knee = hip - V3{ 0, q[29], 0 }, ankle = knee - V3{ 0, q[30], 0 };
        bld.weigh = limb_weights_now;
        g_limb = { sh, q[27], BONE_UPPER_ARM_L + side, BONE_FOREARM_L + side };
        tube(bld, gear, sh + V3{ 0, 0.12f, 0 }, elbow, 0.17f, 0.14f, 8, 5, k_sleeve);
        tube(bld, gear, elbow, hand, 0.14f, 0.1f, 8, 5, k_sleeve);
        box(bld, gear, hand - V3{ 0, 0.08f, 0 }, { 0.06f, 0.09f, 0.08f }, k_gloves);
        g_limb = { hip, q[29], BONE_THIGH_L + side, BONE_SHIN_L + side };
        tube(bld, gear, hip + V3{ -0.02f * s, 0.1f, 0 }, knee, 0.25f, 0.18f, 8, 7, k_pants);
        tube(bld, gear, knee, ankle, 0.18f, 0.15f, 8, 7, k_boots);
        box(bld, gear, ankle + V3{ 0, -0.05f, -0.15f }, { 0.12f, 0.08f, 0.3f }, k_boots);
    }
}

void build_rider_body(Builder &bld, const void *)
{
    build_limbs(bld);
    bld.weigh = torso_weights;
    const float *q = pose();
    Part &torso = bld.part(4, 1, 1, 1, 1);
    ellipsoid(bld, torso, { 0, 0.3f, -0.08f }, { 0.62f, 0.78f, 0.36f }, 12, 8, k_jersey);
    tube(bld, torso, { 0, 0.95f, -0.25f }, { q[0], q[1] - 0.25f, q[2] }, 0.15f, 0.13f, 6, 1, k_jersey);   // neck
}

void build_rider_fp(Builder &bld, const void *)
{
    build_limbs(bld);
}

// Texture regions of the helmet (256 x 256).
const Rect k_shell = { 0, 0, 1, 0.5f }, k_trim = { 0, 0.5f, 0.5f, 1 }, k_lens = { 0.5f, 0.5f, 1, 1 };

void build_head(Builder &bld, const void *)
{
    Part &shell = bld.part(40, 1, 1, 1, 1);
    ellipsoid(bld, shell, { 0, 0.05f, 0.02f }, { 0.42f, 0.45f, 0.48f }, 14, 9, k_shell);
    box(bld, shell, { 0, 0.38f, -0.5f }, { 0.28f, 0.025f, 0.2f }, k_trim);            // peak
    box(bld, shell, { 0, -0.3f, -0.42f }, { 0.22f, 0.1f, 0.1f }, k_trim);             // chin bar
    Part &lens = bld.part(-1, 0.8f, 0.8f, 0.8f, 0.9f);
    box(bld, lens, { 0, 0.08f, -0.46f }, { 0.3f, 0.09f, 0.04f }, k_lens);
}

// The number plates: the plate texture whole on each face.
const Rect k_plate = { 0, 0, 1, 1 };

void build_rider_plate(Builder &bld, const void *)
{
    bld.weigh = torso_weights;
    Part &p = bld.part(8, 1, 1, 1, 1);
    box(bld, p, { 0, 0.4f, 0.29f }, { 0.3f, 0.3f, 0.01f }, k_plate);      // on the back
}

void build_side_plates(Builder &bld, const void *)
{
    const BikeModel &g = geometry();
    bld.origin = from(g.frame_position);
    Part &p = bld.part(8, 1, 1, 1, 1);
    for (float s : { -1.0f, 1.0f })
        box(bld, p, { 0.38f * s, 3.2f, 4.6f }, { 0.01f, 0.2f, 0.3f }, k_plate, { 0, 0, 1 }, { 0, 1, 0 }, { -1, 0, 0 });
}

void build_front_plate(Builder &bld, const void *)
{
    const BikeModel &g = geometry();
    bld.origin = from(g.head_point);
    V3 ax = steering_axis(), az = unit(cross(V3{ 1, 0, 0 }, ax));
    Part &p = bld.part(8, 1, 1, 1, 1);
    box(bld, p, from(g.head_point) + az * -0.28f + ax * -0.1f, { 0.3f, 0.28f, 0.01f }, k_plate, { 1, 0, 0 }, ax, az);
}

// ---- textures ----

struct Rgb { float r, g, b; };

void fill(unsigned char *px, int size, Rect r, Rgb c, uint32_t seed, float grain)
{
    // A model file's v counts up from the picture's bottom row.
    int x0 = (int)(r.u0 * size), x1 = (int)(r.u1 * size), y0 = (int)((1 - r.v1) * size), y1 = (int)((1 - r.v0) * size);
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            float n = 1 + grain * (hash01(seed, x, y) - 0.5f);
            unsigned char *p = &px[((size_t)y * size + x) * 3];
            p[0] = (unsigned char)clampf(c.r * n * 255, 0, 255);
            p[1] = (unsigned char)clampf(c.g * n * 255, 0, 255);
            p[2] = (unsigned char)clampf(c.b * n * 255, 0, 255);
        }
}

bool write_texture(const char *dir, const char *name, const unsigned char *px, int size, const char *text)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    return text ? png_write_rgb_text(path, px, size, size, text) : png_write(path, px, size, size);
}

struct Scheme {
    const char *name;
    Rgb main, accent, plate_bg, plate_fg;
};
const Scheme k_schemes[] = {
    { "red", { 0.85f, 0.1f, 0.08f }, { 1, 1, 1 }, { 1, 1, 1 }, { 0, 0, 0 } },
    { "blue", { 0.1f, 0.25f, 0.85f }, { 1, 1, 1 }, { 0.1f, 0.2f, 0.7f }, { 1, 1, 1 } },
    { "green", { 0.2f, 0.75f, 0.15f }, { 0.05f, 0.05f, 0.05f }, { 0.05f, 0.05f, 0.05f }, { 1, 1, 1 } },
    { "yellow", { 0.95f, 0.8f, 0.1f }, { 0.1f, 0.1f, 0.4f }, { 0.95f, 0.85f, 0.1f }, { 0, 0, 0 } },
    { "orange", { 1, 0.45f, 0.05f }, { 0.05f, 0.05f, 0.05f }, { 1, 1, 1 }, { 0, 0, 0 } },
    { "white", { 0.92f, 0.92f, 0.92f }, { 0.8f, 0.1f, 0.1f }, { 0.05f, 0.05f, 0.05f }, { 1, 1, 1 } },
};

bool write_bike_textures(const char *dir)
{
    const int size = 512;
    std::vector<unsigned char> px((size_t)size * size * 3);
    const char *classes[] = { "50", "125", "250", "250f", "450f" };
    for (int c = 0; c < 5; c++) {
        // The plain texture takes the class's own colour; the variants every colour.
        int own = c % 6;
        for (int v = -1; v < 6; v++) {
            const Scheme &s = k_schemes[v < 0 ? own : v];
            fill(px.data(), size, k_plastic, s.main, 11 + c, 0.06f);
            fill(px.data(), size, { 0.1f, 0.2f, 0.4f, 0.26f }, s.accent, 12, 0.04f);    // a stripe
            fill(px.data(), size, k_frame_tex, { 0.55f, 0.56f, 0.6f }, 13, 0.05f);
            fill(px.data(), size, k_engine_tex, { 0.35f, 0.35f, 0.37f }, 14, 0.2f);
            fill(px.data(), size, k_seat_tex, { 0.08f, 0.08f, 0.09f }, 15, 0.15f);
            fill(px.data(), size, k_metal_tex, { 0.75f, 0.75f, 0.78f }, 16, 0.05f);
            fill(px.data(), size, k_dark_tex, { 0.12f, 0.12f, 0.13f }, 17, 0.1f);
            char name[64], text[160];
            if (v < 0)
                snprintf(name, sizeof name, SK_BIKE_TEXTURE, classes[c]);
            else
                snprintf(name, sizeof name, "mx%s" SK_BIKE_GRAPHICS_SEPARATOR "%s.png", classes[c], s.name);
            snprintf(text, sizeof text, "[numberbackground:%g,%g,%g][numberforeground:%g,%g,%g]", s.plate_bg.r,
                     s.plate_bg.g, s.plate_bg.b, s.plate_fg.r, s.plate_fg.g, s.plate_fg.b);
            if (!write_texture(dir, name[0] == '@' ? name + 1 : name, px.data(), size, text))
                return false;
        }
    }
    return true;
}

bool write_gear_textures(const char *dir)
{
    const int size = 256;
    std::vector<unsigned char> px((size_t)size * size * 3);
    const struct { const char *name; Rgb rim; } wheels[] = {
        { "black", { 0.1f, 0.1f, 0.1f } }, { "silver", { 0.75f, 0.75f, 0.78f } }, { "gold", { 0.85f, 0.65f, 0.2f } } };
    for (auto &w : wheels) {
        fill(px.data(), size, k_tread, { 0.09f, 0.09f, 0.09f }, 21, 0.5f);
        fill(px.data(), size, k_rim, w.rim, 22, 0.05f);
        fill(px.data(), size, k_hub, { 0.6f, 0.6f, 0.62f }, 23, 0.05f);
        char name[64];
        snprintf(name, sizeof name, "wheels-%s.png", w.name);
        if (!write_texture(dir, name, px.data(), size, nullptr))
            return false;
    }
    for (int i = 0; i < 4; i++) {
        const Scheme &s = k_schemes[i == 3 ? 5 : i];
        fill(px.data(), size, k_jersey, s.main, 31, 0.1f);
        fill(px.data(), size, { 0, 0.2f, 0.5f, 0.3f }, s.accent, 32, 0.05f);
        fill(px.data(), size, k_sleeve, s.main, 33, 0.1f);
        fill(px.data(), size, k_pants, { s.main.r * 0.5f + 0.1f, s.main.g * 0.5f + 0.1f, s.main.b * 0.5f + 0.1f }, 34, 0.15f);
        fill(px.data(), size, k_boots, { 0.85f, 0.85f, 0.85f }, 35, 0.1f);
        fill(px.data(), size, k_gloves, s.accent, 36, 0.1f);
        char name[64];
        snprintf(name, sizeof name, "rider_body-%s.png", s.name);
        if (!write_texture(dir, name, px.data(), size, nullptr))
            return false;
        fill(px.data(), size, k_shell, s.main, 41, 0.05f);
        fill(px.data(), size, { 0, 0.2f, 1, 0.3f }, s.accent, 42, 0.05f);
        fill(px.data(), size, k_trim, s.accent, 43, 0.05f);
        fill(px.data(), size, k_lens, { 0.3f, 0.35f, 0.45f }, 44, 0.02f);
        snprintf(name, sizeof name, "rider_head-%s.png", s.name);
        if (!write_texture(dir, name, px.data(), size, nullptr))
            return false;
    }
    return true;
}

}   // namespace

bool write_bike_models(const char *dir)
{
    const BikeModel &g = geometry();
    const FrameArg two = { false }, four = { true };
    const char *classes[] = { "50", "125", "250", "250f", "450f" };
    for (const char *c : classes) {
        char name[64];
        snprintf(name, sizeof name, SK_BIKE_FRAME_MODEL, c);
        if (!write_levels(dir, name, build_frame, strchr(c, 'f') ? &four : &two, 0, true))
            return false;
    }
    return write_levels(dir, SK_BIKE_UPPER_FORK_MODEL, build_upper_fork, nullptr, 0, true) &&
           write_levels(dir, SK_BIKE_LOWER_FORK_MODEL, build_lower_fork, nullptr, 0, true) &&
           write_levels(dir, SK_BIKE_SWINGARM_MODEL, build_swingarm, nullptr, 0, true) &&
           write_levels(dir, SK_BIKE_FRONT_WHEEL_MODEL, build_wheel, &g.front, 0, true) &&
           write_levels(dir, SK_BIKE_REAR_WHEEL_MODEL, build_wheel, &g.rear, 0, true) &&
           write_levels(dir, SK_RIDER_BODY_MODEL, build_rider_body, nullptr, RIDER_BONES, true) &&
           write_levels(dir, SK_RIDER_FIRST_PERSON_MODEL, build_rider_fp, nullptr, RIDER_BONES, false) &&
           write_levels(dir, SK_RIDER_HEAD_MODEL, build_head, nullptr, 0, false) &&
           write_levels(dir, SK_RIDER_PLATE_MODEL, build_rider_plate, nullptr, RIDER_BONES, false) &&
           write_levels(dir, SK_SIDE_PLATES_MODEL, build_side_plates, nullptr, 0, false) &&
           write_levels(dir, SK_FRONT_PLATE_MODEL, build_front_plate, nullptr, 0, false) &&
           write_bike_textures(dir) && write_gear_textures(dir);
}
