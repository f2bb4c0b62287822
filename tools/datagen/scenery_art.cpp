// The scenery's own pictures, models and shapes, shared by every track: trees, bushes and a
// banner for billboards; hay bales and tuff blocks for statues; the flaggers' pictures; the
// finish line; and the starting-gate piece. Pictures with see-through parts are RGBA PNG.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "datagen.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

namespace {

const float k_pi = 3.14159265f;

// ---- pictures ----

// Straight (not premultiplied) RGBA in 0..1, composed with "over".
struct Canvas {
    int w, h;
    std::vector<float> px;
};

Canvas canvas(int w, int h)
{
    Canvas c;
    c.w = w;
    c.h = h;
    c.px.assign((size_t)w * h * 4, 0.0f);
    return c;
}

void over(Canvas &c, int x, int y, const float rgb[3], float a)
{
    if (x < 0 || y < 0 || x >= c.w || y >= c.h || !(a > 0))
        return;
    a = fminf(a, 1);
    float *p = &c.px[((size_t)y * c.w + x) * 4];
    float oa = a + p[3] * (1 - a);
    for (int k = 0; k < 3; k++)
        p[k] = (rgb[k] * a + p[k] * p[3] * (1 - a)) / oa;
    p[3] = oa;
}

void disc(Canvas &c, float cx, float cy, float r, const float rgb[3], float a = 1)
{
    for (int y = (int)floorf(cy - r - 1); y <= (int)ceilf(cy + r + 1); y++)
        for (int x = (int)floorf(cx - r - 1); x <= (int)ceilf(cx + r + 1); x++) {
            float d = hypotf(x + 0.5f - cx, y + 0.5f - cy);
            over(c, x, y, rgb, a * clampf(r - d + 0.5f, 0, 1));
        }
}

// A stroke of the given width between two points, round at the ends.
void stroke(Canvas &c, float x0, float y0, float x1, float y1, float width, const float rgb[3], float a = 1)
{
    float r = width / 2, dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (int y = (int)floorf(fminf(y0, y1) - r - 1); y <= (int)ceilf(fmaxf(y0, y1) + r + 1); y++)
        for (int x = (int)floorf(fminf(x0, x1) - r - 1); x <= (int)ceilf(fmaxf(x0, x1) + r + 1); x++) {
            float px = x + 0.5f, py = y + 0.5f;
            float t = len2 > 0 ? clampf(((px - x0) * dx + (py - y0) * dy) / len2, 0, 1) : 0;
            float d = hypotf(px - (x0 + t * dx), py - (y0 + t * dy));
            over(c, x, y, rgb, a * clampf(r - d + 0.5f, 0, 1));
        }
}

void rect(Canvas &c, float x0, float y0, float x1, float y1, const float rgb[3], float a = 1)
{
    for (int y = (int)floorf(y0); y < (int)ceilf(y1); y++)
        for (int x = (int)floorf(x0); x < (int)ceilf(x1); x++) {
            float cx = fminf(x + 1.0f, x1) - fmaxf((float)x, x0), cy = fminf(y + 1.0f, y1) - fmaxf((float)y, y0);
            over(c, x, y, rgb, a * clampf(cx, 0, 1) * clampf(cy, 0, 1));
        }
}

bool save_rgba(const char *dir, const char *name, const Canvas &c)
{
    std::vector<unsigned char> bytes((size_t)c.w * c.h * 4);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (unsigned char)lrintf(clampf(c.px[i], 0, 1) * 255);
    // fully clear texels keep their neighbours' colour out of the filtered edges
    for (size_t i = 0; i < bytes.size(); i += 4)
        if (bytes[i + 3] == 0)
            bytes[i] = bytes[i + 1] = bytes[i + 2] = 0;
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name[0] == '@' ? name + 1 : name);
    return png_write_rgba(path, bytes.data(), c.w, c.h);
}

bool save_rgb(const char *dir, const char *name, const Canvas &c, bool ppm)
{
    std::vector<unsigned char> bytes((size_t)c.w * c.h * 3);
    for (size_t i = 0; i < (size_t)c.w * c.h; i++)
        for (int k = 0; k < 3; k++)
            bytes[i * 3 + k] = (unsigned char)lrintf(clampf(c.px[i * 4 + k], 0, 1) * 255);
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name[0] == '@' ? name + 1 : name);
    return ppm ? ppm_write(path, bytes.data(), c.w, c.h) : png_write(path, bytes.data(), c.w, c.h);
}

void shade(const float rgb[3], float f, float out[3])
{
    for (int k = 0; k < 3; k++)
        out[k] = clampf(rgb[k] * f, 0, 1);
}

// A conifer: five tiers of ragged needles, lit from the left, over a short trunk.
Canvas draw_pine(void)
{
    Canvas c = canvas(128, 256);
    const float bark[3] = { 0.30f, 0.20f, 0.12f }, needles[3] = { 0.13f, 0.30f, 0.14f };
    rect(c, 58, 196, 70, 256, bark);
    for (int y = 4; y < 236; y++)
        for (int x = 0; x < 128; x++) {
            float a = 0;
            for (int tier = 0; tier < 5; tier++) {
                float top = 4 + tier * 38.0f, bottom = top + 70 + tier * 6;
                if (y < top || y > bottom)
                    continue;
                float t = (y - top) / (bottom - top);
                float half = (8 + tier * 11.0f) * t + 2 + 6 * fbm(71u + tier, x / 6.0f, y / 5.0f, 2, 0);
                a = fmaxf(a, clampf(half - fabsf(x + 0.5f - 64) + 0.5f, 0, 1));
            }
            if (a <= 0)
                continue;
            float light = 0.75f + 0.35f * (64 - x) / 64.0f + 0.25f * fbm(73u, x / 4.0f, y / 4.0f, 3, 0);
            float rgb[3];
            shade(needles, light * (0.8f + 0.2f * (1 - y / 256.0f)), rgb);
            over(c, x, y, rgb, a);
        }
    return c;
}

// A broad-leaved tree: a crown of clustered leaf masses on a forked trunk.
Canvas draw_oak(void)
{
    Canvas c = canvas(256, 256);
    const float bark[3] = { 0.33f, 0.24f, 0.16f }, leaves[3] = { 0.22f, 0.40f, 0.15f };
    stroke(c, 128, 255, 128, 150, 18, bark);
    stroke(c, 128, 170, 98, 118, 9, bark);
    stroke(c, 128, 165, 162, 112, 9, bark);
    const float blobs[][3] = { { 128, 90, 62 }, { 78, 110, 44 }, { 178, 108, 46 }, { 104, 58, 40 }, { 156, 56, 42 },
                               { 60, 140, 30 }, { 196, 140, 30 }, { 128, 140, 44 }, { 128, 40, 34 } };
    for (int y = 0; y < 200; y++)
        for (int x = 0; x < 256; x++) {
            float edge = -1e9f;
            for (const auto &b : blobs)
                edge = fmaxf(edge, b[2] - hypotf(x + 0.5f - b[0], y + 0.5f - b[1]));
            edge += 9 * fbm(79u, x / 9.0f, y / 9.0f, 3, 0);
            float a = clampf(edge + 0.5f, 0, 1);
            if (a <= 0)
                continue;
            float light = 0.7f + 0.4f * (1 - y / 200.0f) + 0.2f * (128 - x) / 128.0f + 0.3f * fbm(83u, x / 5.0f, y / 5.0f, 3, 0);
            float rgb[3];
            shade(leaves, light, rgb);
            over(c, x, y, rgb, a);
        }
    return c;
}

// A low shrub: leaf masses resting on the ground line.
Canvas draw_bush(void)
{
    Canvas c = canvas(128, 64);
    const float leaves[3] = { 0.25f, 0.38f, 0.16f };
    const float blobs[][3] = { { 64, 38, 26 }, { 34, 46, 18 }, { 94, 46, 20 }, { 50, 28, 16 }, { 80, 28, 16 } };
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 128; x++) {
            float edge = -1e9f;
            for (const auto &b : blobs)
                edge = fmaxf(edge, b[2] - hypotf(x + 0.5f - b[0], y + 0.5f - b[1]));
            edge = fminf(edge, 63.5f - y) + 5 * fbm(89u, x / 6.0f, y / 6.0f, 3, 0);
            float a = clampf(edge + 0.5f, 0, 1);
            if (a <= 0)
                continue;
            float rgb[3];
            shade(leaves, 0.75f + 0.35f * (1 - y / 64.0f) + 0.3f * fbm(97u, x / 4.0f, y / 4.0f, 3, 0), rgb);
            over(c, x, y, rgb, a);
        }
    return c;
}

// A banner on two poles: white cloth, so that the billboard's colour tints it, with dark
// lettering and a border that stay dark under any tint.
Canvas draw_banner(void)
{
    Canvas c = canvas(256, 128);
    const float pole[3] = { 0.55f, 0.55f, 0.57f }, cloth[3] = { 1, 1, 1 }, ink[3] = { 0.12f, 0.12f, 0.14f };
    rect(c, 6, 4, 14, 128, pole);
    rect(c, 242, 4, 250, 128, pole);
    rect(c, 14, 10, 242, 74, cloth);
    rect(c, 14, 10, 242, 14, ink);
    rect(c, 14, 70, 242, 74, ink);
    // "MX" between two chevrons
    stroke(c, 96, 62, 96, 22, 7, ink);
    stroke(c, 96, 22, 110, 44, 7, ink);
    stroke(c, 110, 44, 124, 22, 7, ink);
    stroke(c, 124, 22, 124, 62, 7, ink);
    stroke(c, 136, 22, 160, 62, 7, ink);
    stroke(c, 160, 22, 136, 62, 7, ink);
    for (int k = 0; k < 3; k++) {
        stroke(c, 30 + k * 16, 24, 42 + k * 16, 42, 5, ink);
        stroke(c, 42 + k * 16, 42, 30 + k * 16, 60, 5, ink);
        stroke(c, 226 - k * 16, 24, 214 - k * 16, 42, 5, ink);
        stroke(c, 214 - k * 16, 42, 226 - k * 16, 60, 5, ink);
    }
    return c;
}

// ---- people ----

struct Pt {
    float x, y;
};

// Where a figure's hands and feet are; elbows and knees bend between.
struct Pose {
    Pt elbow_l, hand_l, elbow_r, hand_r;
    Pt knee_l, foot_l, knee_r, foot_r;
};

struct Outfit {
    float shirt[3], trousers[3], cap[3];
};

const float k_skin[3] = { 0.85f, 0.66f, 0.52f };
const float k_shoes[3] = { 0.10f, 0.10f, 0.10f };

// A person 128 x 256, feet on the bottom row, facing the viewer.
void draw_person(Canvas &c, const Pose &p, const Outfit &o)
{
    const Pt hip_l = { 57, 140 }, hip_r = { 71, 140 }, sh_l = { 48, 72 }, sh_r = { 80, 72 };
    stroke(c, hip_l.x, hip_l.y, p.knee_l.x, p.knee_l.y, 15, o.trousers);
    stroke(c, p.knee_l.x, p.knee_l.y, p.foot_l.x, p.foot_l.y, 14, o.trousers);
    stroke(c, hip_r.x, hip_r.y, p.knee_r.x, p.knee_r.y, 15, o.trousers);
    stroke(c, p.knee_r.x, p.knee_r.y, p.foot_r.x, p.foot_r.y, 14, o.trousers);
    stroke(c, p.foot_l.x - 6, p.foot_l.y + 2, p.foot_l.x + 2, p.foot_l.y + 2, 8, k_shoes);
    stroke(c, p.foot_r.x - 2, p.foot_r.y + 2, p.foot_r.x + 6, p.foot_r.y + 2, 8, k_shoes);
    stroke(c, 64, 74, 64, 136, 34, o.shirt);
    stroke(c, sh_l.x, sh_l.y, p.elbow_l.x, p.elbow_l.y, 11, o.shirt);
    stroke(c, p.elbow_l.x, p.elbow_l.y, p.hand_l.x, p.hand_l.y, 10, o.shirt);
    stroke(c, sh_r.x, sh_r.y, p.elbow_r.x, p.elbow_r.y, 11, o.shirt);
    stroke(c, p.elbow_r.x, p.elbow_r.y, p.hand_r.x, p.hand_r.y, 10, o.shirt);
    disc(c, p.hand_l.x, p.hand_l.y, 5.5f, k_skin);
    disc(c, p.hand_r.x, p.hand_r.y, 5.5f, k_skin);
    stroke(c, 64, 52, 64, 64, 10, k_skin);
    disc(c, 64, 40, 15, k_skin);
    stroke(c, 50, 30, 78, 30, 12, o.cap);
    stroke(c, 66, 34, 84, 35, 4, o.cap);
}

const Pose k_standing = { { 44, 104 }, { 46, 134 }, { 84, 104 }, { 82, 134 },
                          { 56, 194 }, { 54, 244 }, { 72, 194 }, { 74, 244 } };
const Pose k_walking = { { 42, 100 }, { 50, 128 }, { 86, 104 }, { 80, 134 },
                         { 50, 192 }, { 40, 242 }, { 78, 192 }, { 90, 240 } };

// A flag on a pole from the hand: cloth w wide from the pole's top towards 'dir' (+1 right),
// waving; 'checks' squares across (0: plain colour).
void draw_flag(Canvas &c, Pt hand, Pt top, float dir, float w, const float colour[3], int checks, float wave)
{
    const float pole[3] = { 0.35f, 0.25f, 0.15f }, black[3] = { 0.05f, 0.05f, 0.05f };
    stroke(c, hand.x, hand.y, top.x, top.y, 4, pole);
    const float h = w * 0.7f;
    for (int y = (int)(top.y - 6); y < (int)(top.y + h + 12); y++)
        for (int x = (int)(top.x - w - 4); x < (int)(top.x + w + 4); x++) {
            float u = (x + 0.5f - top.x) * dir;
            if (u < 0 || u > w)
                continue;
            float v = y + 0.5f - top.y - wave * sinf(u / w * 2 * k_pi) * 4;
            if (v < 0 || v > h)
                continue;
            bool dark = checks > 0 && ((int)(u / (w / checks)) + (int)(v / (w / checks))) % 2;
            over(c, x, y, dark ? black : colour, 1);
        }
}

// The starter's board: held flat to the riders, or turned edge-on.
void draw_board(Canvas &c, Pt hand, bool edge_on)
{
    const float white[3] = { 0.96f, 0.96f, 0.94f }, black[3] = { 0.08f, 0.08f, 0.08f };
    if (edge_on) {
        rect(c, hand.x - 3, hand.y - 30, hand.x + 3, hand.y + 4, black);
        return;
    }
    rect(c, hand.x - 20, hand.y - 34, hand.x + 20, hand.y - 4, black);
    rect(c, hand.x - 17, hand.y - 31, hand.x + 17, hand.y - 7, white);
    disc(c, hand.x, hand.y - 19, 7, black);
}

const Outfit k_outfits[] = {
    { { 0.95f, 0.95f, 0.95f }, { 0.12f, 0.12f, 0.15f }, { 0.12f, 0.12f, 0.15f } },     // starter
    { { 0.80f, 0.12f, 0.10f }, { 0.20f, 0.20f, 0.24f }, { 0.95f, 0.95f, 0.95f } },     // finish
    { { 1.00f, 0.50f, 0.05f }, { 0.18f, 0.22f, 0.35f }, { 1.00f, 0.50f, 0.05f } },     // marshal
};
const float k_white_flag[3] = { 0.97f, 0.97f, 0.97f }, k_green_flag[3] = { 0.10f, 0.60f, 0.20f };
const float k_yellow_flag[3] = { 1.00f, 0.85f, 0.05f };

Canvas draw_flagger(int pose, int prop, int outfit, const float *flag, int checks)
{
    Canvas c = canvas(128, 256);
    Pose p = pose == 1 ? k_walking : k_standing;
    if (pose == 2 || pose == 4) {          // right arm raised
        p.elbow_r = { 96, 62 };
        p.hand_r = pose == 4 ? Pt{ 104, 38 } : Pt{ 100, 46 };
    }
    if (pose == 3) {                       // both arms up, crossing above the head
        p.elbow_l = { 34, 60 };
        p.hand_l = { 50, 26 };
        p.elbow_r = { 94, 60 };
        p.hand_r = { 78, 26 };
    }
    draw_person(c, p, k_outfits[outfit]);
    if (prop == 1)
        draw_board(c, p.hand_r, false);
    else if (prop == 2)
        draw_board(c, p.hand_r, true);
    else if (prop == 3 && pose == 3) {
        draw_flag(c, p.hand_l, { 94, 4 }, 1, 30, flag, checks, 0.5f);
        draw_flag(c, p.hand_r, { 34, 4 }, -1, 30, flag, checks, 0.5f);
    } else if (prop == 3 && pose == 0) {
        // rolled up and held down by the side
        const float pole[3] = { 0.35f, 0.25f, 0.15f };
        stroke(c, p.hand_r.x, p.hand_r.y - 10, p.hand_r.x + 4, p.hand_r.y + 50, 4, pole);
        stroke(c, p.hand_r.x + 1, p.hand_r.y + 2, p.hand_r.x + 3, p.hand_r.y + 30, 8, flag);
    } else if (prop == 3) {
        // waved above the head
        draw_flag(c, p.hand_r, { p.hand_r.x - 2, 2 }, -1, 50, flag, checks, pose == 4 ? 1.0f : 0.3f);
    }
    return c;
}

struct FlaggerPicture {
    const char *name;
    int pose, prop, outfit;
    const float *flag;
    int checks;
};

const FlaggerPicture k_flagger_pictures[] = {
    // the starter: board held up, lowered, turned, walking off, standing clear
    { k_start_flagger_pictures[0], 2, 1, 0, nullptr, 0 },
    { k_start_flagger_pictures[1], 0, 1, 0, nullptr, 0 },
    { k_start_flagger_pictures[2], 0, 2, 0, nullptr, 0 },
    { k_start_flagger_pictures[3], 1, 2, 0, nullptr, 0 },
    { k_start_flagger_pictures[4], 0, 0, 0, nullptr, 0 },
    // at the finish: standing, crossed flags half way, the white flag, the chequered flag
    { k_lap_flagger_pictures[0], 0, 0, 1, nullptr, 0 },
    { k_lap_flagger_pictures[1], 3, 3, 1, k_green_flag, 0 },
    { k_lap_flagger_pictures[2], 4, 3, 1, k_white_flag, 0 },
    { k_lap_flagger_pictures[3], 4, 3, 1, k_white_flag, 5 },
    // a corner marshal: the yellow flag furled, then waved
    { k_worker_pictures[0], 0, 3, 2, k_yellow_flag, 0 },
    { k_worker_pictures[1], 4, 3, 2, k_yellow_flag, 0 },
};

// The finish line: a chequered band two squares deep, its length across the track.
Canvas draw_finish_line(void)
{
    Canvas c = canvas(512, 32);
    const float white[3] = { 0.97f, 0.97f, 0.97f }, black[3] = { 0.06f, 0.06f, 0.06f };
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 512; x++) {
            // worn edges: the band fades where the track's dirt shows through
            float wear = 0.15f * fbm(101u, x / 8.0f, y / 8.0f, 2, 0);
            over(c, x, y, (x / 16 + y / 16) % 2 ? black : white, clampf(0.9f + wear, 0, 1));
        }
    return c;
}

// Straw: golden, streaked along the bale (u), with twine bands across.
Canvas draw_straw(void)
{
    Canvas c = canvas(128, 128);
    const float straw[3] = { 0.82f, 0.68f, 0.36f }, twine[3] = { 0.45f, 0.30f, 0.15f };
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            float streak = fbm(103u, x / 24.0f, y / 1.5f, 3, 0) * 0.25f + (hash01(107u, x, y) - 0.5f) * 0.15f;
            float rgb[3];
            shade(straw, 1 + streak, rgb);
            over(c, x, y, rgb, 1);
        }
    rect(c, 38, 0, 42, 128, twine);
    rect(c, 86, 0, 90, 128, twine);
    return c;
}

// Moulded plastic: the block's colour with a white band and a little scuffing.
Canvas draw_plastic(void)
{
    Canvas c = canvas(128, 128);
    const float blue[3] = { 0.10f, 0.30f, 0.75f }, white[3] = { 0.93f, 0.93f, 0.93f };
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            bool band = y >= 48 && y < 80;
            float rgb[3];
            shade(band ? white : blue, 0.92f + 0.12f * fbm(109u, x / 10.0f, y / 10.0f, 2, 0), rgb);
            over(c, x, y, rgb, 1);
        }
    return c;
}

// Galvanised steel slats with a yellow top bar: the starting gate's face.
Canvas draw_gate_steel(void)
{
    Canvas c = canvas(128, 128);
    const float steel[3] = { 0.62f, 0.64f, 0.66f }, yellow[3] = { 0.95f, 0.78f, 0.10f };
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            float slat = (y % 16) < 3 ? 0.6f : 1.0f;
            float rgb[3];
            shade(y < 20 ? yellow : steel, slat * (0.92f + 0.1f * fbm(113u, x / 6.0f, y / 6.0f, 2, 0)), rgb);
            over(c, x, y, rgb, 1);
        }
    return c;
}

// ---- models ----

struct MVert {
    float p[3], n[3], u, v;
};

struct Mesh {
    std::vector<MVert> v;
    std::vector<int> t;
};

// An axis-aligned box from lo to hi; every face shows the whole (u0, v0)-(u1, v1) rectangle.
void mesh_box(Mesh &m, const float lo[3], const float hi[3], float u0, float v0, float u1, float v1)
{
    for (int f = 0; f < 6; f++) {
        int k = f / 2, a = (k + 1) % 3, b = (k + 2) % 3;
        float s = f % 2 ? 1.0f : -1.0f;
        int base = (int)m.v.size();
        const float corners[4][2] = { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } };
        for (const auto &cn : corners) {
            MVert x = {};
            x.p[k] = s > 0 ? hi[k] : lo[k];
            x.p[a] = cn[0] ? hi[a] : lo[a];
            x.p[b] = cn[1] ? hi[b] : lo[b];
            x.n[k] = s;
            x.u = cn[0] ? u1 : u0;
            x.v = cn[1] ? v1 : v0;
            m.v.push_back(x);
        }
        // counter-clockwise seen from outside: (a, b, k) is right-handed
        if (s > 0) {
            m.t.insert(m.t.end(), { base, base + 1, base + 2, base, base + 2, base + 3 });
        } else {
            m.t.insert(m.t.end(), { base, base + 2, base + 1, base, base + 3, base + 2 });
        }
    }
}

// A cylinder along x from x0 to x1 about (y, z), with end caps.
void mesh_bar_x(Mesh &m, float x0, float x1, float y, float z, float r, int seg, float u0, float v0, float u1, float v1)
{
    int base = (int)m.v.size();
    for (int i = 0; i <= seg; i++) {
        float a = 2 * k_pi * i / seg, cy = cosf(a), sz = sinf(a);
        for (int end = 0; end < 2; end++) {
            MVert x = { { end ? x1 : x0, y + r * cy, z + r * sz }, { 0, cy, sz }, end ? u1 : u0, v0 + (v1 - v0) * i / seg };
            m.v.push_back(x);
        }
    }
    for (int i = 0; i < seg; i++) {
        int k = base + i * 2;
        m.t.insert(m.t.end(), { k, k + 2, k + 3, k, k + 3, k + 1 });
    }
    for (int end = 0; end < 2; end++) {
        float nx = end ? 1.0f : -1.0f, xx = end ? x1 : x0;
        int centre = (int)m.v.size();
        m.v.push_back({ { xx, y, z }, { nx, 0, 0 }, u0, v0 });
        for (int i = 0; i < seg; i++) {
            float a = 2 * k_pi * i / seg;
            m.v.push_back({ { xx, y + r * cosf(a), z + r * sinf(a) }, { nx, 0, 0 }, u0, v0 });
        }
        for (int i = 0; i < seg; i++) {
            int p = centre + 1 + i, q = centre + 1 + (i + 1) % seg;
            if (end)
                m.t.insert(m.t.end(), { centre, p, q });
            else
                m.t.insert(m.t.end(), { centre, q, p });
        }
    }
}

bool write_jm(const char *dir, const char *name, const Mesh &m)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name[0] == '@' ? name + 1 : name);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    // dull: a little specular, shininess 8, the texture's own colours
    data_printf(f, "JM1\n8 1 1 1 1 %d %d\n", (int)m.v.size(), (int)m.t.size() / 3);
    for (const MVert &x : m.v)
        data_printf(f, "%.4f %.4f %.4f %.3f %.3f %.3f %.4f %.4f\n", x.p[0], x.p[1], x.p[2], x.n[0], x.n[1], x.n[2],
                    x.u, x.v);
    for (size_t i = 0; i < m.t.size(); i += 3)
        data_printf(f, "%d %d %d\n", m.t[i], m.t[i + 1], m.t[i + 2]);
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

// ---- shapes ----

struct Ball {
    float x, y, z, r;
};

bool write_shp(const char *dir, const char *name, const std::vector<Ball> &balls, float friction, float stiffness,
               float damping)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, name[0] == '@' ? name + 1 : name);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    data_printf(f, "%d\n", (int)balls.size());
    for (const Ball &b : balls)
        data_printf(f, "%g %g %g\n%g %g %g %g\n", b.x, b.y, b.z, b.r, friction, stiffness, damping);
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

// A row of balls filling a box that lies along z on the ground, as wide as it is high.
std::vector<Ball> balls_along_z(float length, float size)
{
    std::vector<Ball> balls;
    float r = size / 2;
    int n = (int)ceilf((length - size) / r) + 1;
    for (int i = 0; i < n; i++) {
        float z = n > 1 ? -length / 2 + r + (length - size) * i / (n - 1) : 0;
        balls.push_back({ 0, r, z, r });
    }
    return balls;
}

bool write_statues(const char *dir)
{
    // A small square bale: 3 ft long (z), 1.5 ft wide, 1.25 ft high, its base at the origin.
    Mesh bale;
    const float bale_lo[3] = { -k_bale_size[0] / 2, 0, -k_bale_size[2] / 2 };
    const float bale_hi[3] = { k_bale_size[0] / 2, k_bale_size[1], k_bale_size[2] / 2 };
    mesh_box(bale, bale_lo, bale_hi, 0, 0, 1, 1);
    // A tuff block: moulded plastic, 4 ft long, 1.5 ft square, a ridge along its top.
    Mesh block;
    const float block_lo[3] = { -k_block_size[0] / 2, 0, -k_block_size[2] / 2 };
    const float block_hi[3] = { k_block_size[0] / 2, k_block_size[1] - 0.1f, k_block_size[2] / 2 };
    const float ridge_lo[3] = { -0.25f, k_block_size[1] - 0.1f, -k_block_size[2] / 2 + 0.1f };
    const float ridge_hi[3] = { 0.25f, k_block_size[1], k_block_size[2] / 2 - 0.1f };
    mesh_box(block, block_lo, block_hi, 0, 0, 1, 1);
    mesh_box(block, ridge_lo, ridge_hi, 0, 0, 1, 0.3f);
    // straw gives; plastic is stiffer and slipperier
    return write_jm(dir, k_bale_model, bale) && write_jm(dir, k_block_model, block) &&
           write_shp(dir, k_bale_shape, balls_along_z(k_bale_size[2], fminf(k_bale_size[0], k_bale_size[1])), 0.8f,
                     8000, 400) &&
           write_shp(dir, k_block_shape, balls_along_z(k_block_size[2], fminf(k_block_size[0], k_block_size[1])),
                     0.5f, 15000, 300);
}

}   // namespace

// The starting-gate piece: a slatted panel modelled lying down, as it is once dropped, from
// its hinge along x at the origin towards the riders (+z).
static bool write_gate_piece(const char *dir)
{
    Mesh m;
    const float w = k_gate_piece_width / 2, len = k_gate_piece_length;
    // the slatted face, its two side rails and the hinge bar
    const float face_lo[3] = { -w + 0.08f, 0.02f, 0.05f }, face_hi[3] = { w - 0.08f, 0.09f, len - 0.05f };
    mesh_box(m, face_lo, face_hi, 0, 0.16f, 1, 1);
    for (float side : { -1.0f, 1.0f }) {
        const float lo[3] = { side < 0 ? -w : w - 0.1f, 0, 0 }, hi[3] = { side < 0 ? -w + 0.1f : w, 0.12f, len };
        mesh_box(m, lo, hi, 0, 0, 1, 0.15f);
    }
    mesh_bar_x(m, -w, w, 0.07f, 0, 0.07f, 10, 0, 0.02f, 1, 0.14f);
    // Balls over the panel, their tops 0.1 ft above the ground while it lies flat, so that
    // wheels roll over a dropped gate.
    std::vector<Ball> balls;
    const float r = 0.15f;
    for (int j = 0; j < 5; j++)
        for (int i = 0; i < 9; i++)
            balls.push_back({ -w + r + (2 * w - 2 * r) * i / 8, 0.1f - r, r + (len - 2 * r) * j / 4, r });
    Canvas steel = draw_gate_steel();
    return write_jm(dir, "@startgate.jm", m) && save_rgb(dir, "@startgate.ppm", steel, true) &&
           write_shp(dir, "@startgate.shp", balls, 0.6f, 20000, 200);
}

bool write_scenery_art(const char *dir)
{
    bool ok = save_rgba(dir, k_pine_picture, draw_pine()) && save_rgba(dir, k_oak_picture, draw_oak()) &&
              save_rgba(dir, k_bush_picture, draw_bush()) && save_rgba(dir, k_banner_picture, draw_banner()) &&
              save_rgba(dir, k_finish_line_picture, draw_finish_line()) &&
              save_rgb(dir, k_bale_texture, draw_straw(), false) && save_rgb(dir, k_block_texture, draw_plastic(), false);
    for (const FlaggerPicture &p : k_flagger_pictures)
        ok = ok && save_rgba(dir, p.name, draw_flagger(p.pose, p.prop, p.outfit, p.flag, p.checks));
    return ok && write_statues(dir) && write_gate_piece(dir);
}
