// Ground textures: 128 x 128 RGB, of which the renderer shows only texels 8..119. Every picture
// repeats with period 112 from texel 8, so neighbouring squares meet without seams, and every
// transition uses the same noise so shared edges of neighbours are identical.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "common/mt.h"
#include "datagen.h"
#include "terrain/terrain_images.h"

static const int k_size = 128, k_border = 8, k_period = 112, k_pebbles = 90;

struct Colour {
    float r, g, b;
};

static Colour mix(Colour a, Colour b, float t)
{
    return { a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t };
}

static Colour scale(Colour a, float s)
{
    return { a.r * s, a.g * s, a.b * s };
}

// Pebbles and clods: fixed points of the period square, drawn with wrap-around distance.
static struct {
    float x[k_pebbles], y[k_pebbles], radius[k_pebbles], shade[k_pebbles];
} g_pebbles;

static void make_pebbles(void)
{
    for (int k = 0; k < k_pebbles; k++) {
        g_pebbles.x[k] = (mt_next() % 11200) / 100.0f;
        g_pebbles.y[k] = (mt_next() % 11200) / 100.0f;
        g_pebbles.radius[k] = 0.8f + (mt_next() % 1000) / 600.0f;
        g_pebbles.shade[k] = (mt_next() % 2) ? 0.72f : 1.22f;
    }
}

static float pebble_factor(float u, float v, int stride)
{
    float f = 1.0f;
    for (int k = 0; k < k_pebbles; k += stride) {
        float dx = fabsf(u - g_pebbles.x[k]), dy = fabsf(v - g_pebbles.y[k]);
        dx = fminf(dx, k_period - dx);
        dy = fminf(dy, k_period - dy);
        float d = sqrtf(dx * dx + dy * dy);
        if (d < g_pebbles.radius[k] + 1.0f)
            f *= 1.0f + (g_pebbles.shade[k] - 1.0f) * smoothstep(g_pebbles.radius[k] + 1.0f, g_pebbles.radius[k], d);
    }
    return f;
}

// The colour of a surface at period coordinates (u, v) in 0..112; variant 0 is the main
// picture, others an alternative one.
static Colour surface_colour(int surface, float u, float v, int variant)
{
    uint32_t seed = 1000u * (surface + 1) + 7919u * variant;
    float cells = 8.0f;     // coarse noise cells per period
    float x = u / k_period * cells, y = v / k_period * cells;
    switch (surface) {
    case k_dirt: {
        Colour base = { 118, 92, 66 };
        float n = fbm(seed, x, y, 4, (int)cells);
        float streak = 0.05f * value_noise(seed + 5, x * 0.5f, y * 6.0f, (int)cells * 3 / 2 * 4);
        Colour c = scale(base, 1.0f + 0.16f * n + streak);
        return scale(c, pebble_factor(u, v, variant ? 2 : 1));
    }
    case k_grass: {
        Colour base = { 72, 104, 46 };
        float n = fbm(seed, x, y, 3, (int)cells);
        // blades: fine noise stretched along v
        float blades = value_noise(seed + 9, u * 0.9f, v * 0.25f, (int)(k_period * 0.9f + 0.5f));
        float fine = value_noise(seed + 11, u * 0.5f, v * 0.5f, k_period / 2);
        Colour c = scale(base, 1.0f + 0.14f * n + 0.12f * blades + 0.05f * fine);
        return mix(c, Colour{ 110, 128, 60 }, 0.15f * clampf(n, 0.0f, 1.0f));
    }
    case k_hardpack: {
        Colour base = { 96, 76, 58 };
        float n = fbm(seed, x, y, 3, (int)cells);
        float track = 0.06f * sinf(u / k_period * 2.0f * 3.14159265f * 6.0f) *
                      (0.5f + 0.5f * value_noise(seed + 3, x, y, (int)cells));
        return scale(base, (1.0f + 0.08f * n + track) * pebble_factor(u, v, 4));
    }
    default: {
        Colour base = { 204, 178, 124 };
        float n = fbm(seed, x, y, 3, (int)cells);
        float grain = value_noise(seed + 13, u, v, k_period);
        float ripple = 0.05f * sinf((v + 6.0f * n) / k_period * 2.0f * 3.14159265f * 9.0f);
        return scale(base, 1.0f + 0.07f * n + 0.06f * grain + ripple);
    }
    }
}

static void put(uint8_t *rgb, int x, int y, Colour c)
{
    uint8_t *p = rgb + 3 * (x + y * k_size);
    p[0] = (uint8_t)clampf(c.r, 0, 255);
    p[1] = (uint8_t)clampf(c.g, 0, 255);
    p[2] = (uint8_t)clampf(c.b, 0, 255);
}

static float period_coord(int x)
{
    return (float)(((x - k_border) % k_period + k_period) % k_period);
}

static void paint_plain(uint8_t *rgb, int surface, int variant)
{
    for (int y = 0; y < k_size; y++)
        for (int x = 0; x < k_size; x++) {
            float u = period_coord(x), v = period_coord(y);
            Colour c = surface_colour(surface, u, v, 0);
            if (variant) {
                // fade into the main picture near the shown border so edges still match
                float edge = fminf(fminf(u, k_period - 1 - u), fminf(v, k_period - 1 - v));
                c = mix(c, surface_colour(surface, u, v, variant), smoothstep(0.0f, 12.0f, edge));
            }
            put(rgb, x, y, c);
        }
}

static void paint_transition(uint8_t *rgb, int base, int mask)
{
    float corner[4];    // d1 (u0,v0), d2 (u1,v0), d3 (u0,v1), d4 (u1,v1)
    for (int k = 0; k < 4; k++)
        corner[k] = (float)(mask >> (3 - k) & 1);
    for (int y = 0; y < k_size; y++)
        for (int x = 0; x < k_size; x++) {
            float u = period_coord(x), v = period_coord(y);
            // texels outside the shown square repeat it, so use the unwrapped coordinate
            float fu = clampf((x - k_border) / (float)(k_period - 1), 0.0f, 1.0f);
            float fv = clampf((y - k_border) / (float)(k_period - 1), 0.0f, 1.0f);
            float top = corner[0] + (corner[1] - corner[0]) * fu;
            float bottom = corner[2] + (corner[3] - corner[2]) * fu;
            float coverage = top + (bottom - top) * fv;
            // noise that is zero on the border keeps neighbouring edges identical
            float edge_fade = fminf(smoothstep(0.0f, 10.0f, fminf(u, k_period - 1 - u)) +
                                        smoothstep(0.0f, 10.0f, fminf(v, k_period - 1 - v)),
                                    1.0f);
            float wobble = 0.18f * fbm(77u, u / k_period * 6.0f, v / k_period * 6.0f, 3, 6) * edge_fade;
            float alpha = smoothstep(0.4f, 0.6f, coverage + wobble);
            Colour c = mix(surface_colour(base, u, v, 0), surface_colour(k_grass, u, v, 0), alpha);
            float edge = 1.0f - fabsf(2.0f * alpha - 1.0f);
            put(rgb, x, y, scale(c, 1.0f - 0.22f * edge));
        }
}

bool write_tile_textures(const char *dir)
{
    make_pebbles();
    uint8_t *rgb = (uint8_t *)xmalloc(k_size * k_size * 3);
    bool ok = true;
    for (int tile = 0; tile < k_tile_count && ok; tile++) {
        if (tile == 0 || tile == 4)
            paint_plain(rgb, tile == 0 ? k_dirt : k_hardpack, 0);
        else if (tile == 1)
            paint_plain(rgb, k_grass, 0);
        else if (tile == 2 || tile == 3)
            paint_plain(rgb, tile == 2 ? k_dirt : k_grass, 1);
        else if (tile == 5)
            paint_plain(rgb, k_sand, 0);
        else
            paint_transition(rgb, tile < 20 ? k_dirt : k_sand, tile < 20 ? tile - 5 : tile - 19);
        char name[64], path[1100];
        tile_texture_name(tile, name, sizeof name);
        snprintf(path, sizeof path, "%s/%s", dir, name);
        ok = write_png_rgb8(path, k_size, k_size, rgb);
    }
    xfree(rgb);
    return ok;
}
