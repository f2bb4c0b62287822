// The fonts, the title picture, the HUD pictures and the roost particle, all drawn here.
// Glyphs come from a 5 x 7 pixel design kept below, one byte a row (bit 4 = leftmost).
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "datagen.h"
#include "render/font.h"
#include "render/image/image.h"

static const unsigned char k_glyphs[94][7] = {
    { 0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04 }, { 0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00 },  // ! "
    { 0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A }, { 0x04, 0x0F, 0x14, 0x0E, 0x05, 0x1E, 0x04 },  // # $
    { 0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03 }, { 0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D },  // % &
    { 0x04, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00 }, { 0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02 },  // ' (
    { 0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08 }, { 0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00 },  // ) *
    { 0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00 }, { 0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08 },  // + ,
    { 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00 }, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C },  // - .
    { 0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00 }, { 0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E },  // / 0
    { 0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E }, { 0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F },  // 1 2
    { 0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E }, { 0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02 },  // 3 4
    { 0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E }, { 0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E },  // 5 6
    { 0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08 }, { 0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E },  // 7 8
    { 0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C }, { 0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00 },  // 9 :
    { 0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x04, 0x08 }, { 0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02 },  // ; <
    { 0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00 }, { 0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08 },  // = >
    { 0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04 }, { 0x0E, 0x11, 0x01, 0x0D, 0x15, 0x15, 0x0E },  // ? @
    { 0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11 }, { 0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E },  // A B
    { 0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E }, { 0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C },  // C D
    { 0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F }, { 0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10 },  // E F
    { 0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F }, { 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11 },  // G H
    { 0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E }, { 0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C },  // I J
    { 0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11 }, { 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F },  // K L
    { 0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11 }, { 0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11 },  // M N
    { 0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E }, { 0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10 },  // O P
    { 0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D }, { 0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11 },  // Q R
    { 0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E }, { 0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04 },  // S T
    { 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E }, { 0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04 },  // U V
    { 0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A }, { 0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11 },  // W X
    { 0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04 }, { 0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F },  // Y Z
    { 0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E }, { 0x00, 0x10, 0x08, 0x04, 0x02, 0x01, 0x00 },  // [ backslash
    { 0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E }, { 0x04, 0x0A, 0x11, 0x00, 0x00, 0x00, 0x00 },  // ] ^
    { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F }, { 0x08, 0x04, 0x02, 0x00, 0x00, 0x00, 0x00 },  // _ `
    { 0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F }, { 0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E },  // a b
    { 0x00, 0x00, 0x0E, 0x10, 0x10, 0x11, 0x0E }, { 0x01, 0x01, 0x0D, 0x13, 0x11, 0x11, 0x0F },  // c d
    { 0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E }, { 0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08 },  // e f
    { 0x00, 0x0F, 0x11, 0x11, 0x0F, 0x01, 0x0E }, { 0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x11 },  // g h
    { 0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E }, { 0x02, 0x00, 0x06, 0x02, 0x02, 0x12, 0x0C },  // i j
    { 0x10, 0x10, 0x12, 0x14, 0x18, 0x14, 0x12 }, { 0x0C, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E },  // k l
    { 0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11 }, { 0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11 },  // m n
    { 0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E }, { 0x00, 0x00, 0x1E, 0x11, 0x1E, 0x10, 0x10 },  // o p
    { 0x00, 0x00, 0x0D, 0x13, 0x0F, 0x01, 0x01 }, { 0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10 },  // q r
    { 0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E }, { 0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06 },  // s t
    { 0x00, 0x00, 0x11, 0x11, 0x11, 0x13, 0x0D }, { 0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04 },  // u v
    { 0x00, 0x00, 0x11, 0x11, 0x15, 0x15, 0x0A }, { 0x00, 0x00, 0x11, 0x0A, 0x04, 0x0A, 0x11 },  // w x
    { 0x00, 0x00, 0x11, 0x11, 0x0F, 0x01, 0x0E }, { 0x00, 0x00, 0x1F, 0x02, 0x04, 0x08, 0x1F },  // y z
    { 0x02, 0x04, 0x04, 0x08, 0x04, 0x04, 0x02 }, { 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04 },  // { |
    { 0x08, 0x04, 0x04, 0x02, 0x04, 0x04, 0x08 }, { 0x00, 0x00, 0x08, 0x15, 0x02, 0x00, 0x00 },  // } ~
};

struct Canvas {
    int w, h, channels;
    unsigned char *px;
};

static Canvas canvas_new(int w, int h, int channels, const unsigned char *fill)
{
    Canvas c = { w, h, channels, (unsigned char *)xmalloc((size_t)w * h * channels) };
    for (size_t i = 0; i < (size_t)w * h; i++)
        memcpy(c.px + i * channels, fill, channels);
    return c;
}

static unsigned char *at(Canvas *c, int x, int y)
{
    return c->px + ((size_t)y * c->w + x) * c->channels;
}

// Blends colour over the pixel by coverage a (0..1); RGBA canvases also gain alpha.
static void blend(Canvas *c, int x, int y, const float rgb[3], float a)
{
    if (x < 0 || y < 0 || x >= c->w || y >= c->h || a <= 0)
        return;
    unsigned char *p = at(c, x, y);
    if (c->channels == 4) {
        float da = p[3] / 255.0f, oa = a + da * (1 - a);
        for (int k = 0; k < 3; k++)
            p[k] = (unsigned char)lrintf(oa > 0 ? (rgb[k] * a + p[k] / 255.0f * da * (1 - a)) / oa * 255 : 255);
        p[3] = (unsigned char)lrintf(oa * 255);
    } else {
        for (int k = 0; k < 3; k++)
            p[k] = (unsigned char)lrintf(rgb[k] * 255 * a + p[k] * (1 - a));
    }
}

static bool glyph_bit(int index, int col, int row, bool bold)
{
    if (row < 0 || row > 6)
        return false;
    unsigned bits = k_glyphs[index][row];
    bool on = col >= 0 && col < 5 && (bits >> (4 - col)) & 1;
    if (bold && !on && col >= 1 && col <= 5)
        on = (bits >> (5 - col)) & 1;
    return on;
}

// One character of the design over the rectangle, 4 x 4 samples a pixel. A bold glyph is
// one design pixel wider (each pixel also lights its right neighbour).
static void draw_char(Canvas *c, char ch, float x, float y, float w, float h, const float rgb[3], bool bold)
{
    int index = (unsigned char)ch - 33;
    if (index < 0 || index >= 94)
        return;
    int cols = bold ? 6 : 5;
    for (int py = (int)floorf(y); py < (int)ceilf(y + h); py++) {
        for (int px = (int)floorf(x); px < (int)ceilf(x + w); px++) {
            int hits = 0;
            for (int sy = 0; sy < 4; sy++) {
                for (int sx = 0; sx < 4; sx++) {
                    float u = (px + (sx + 0.5f) / 4 - x) / w * cols, v = (py + (sy + 0.5f) / 4 - y) / h * 7;
                    if (u >= 0 && v >= 0 && glyph_bit(index, (int)u, (int)v, bold))
                        hits++;
                }
            }
            blend(c, px, py, rgb, hits / 16.0f);
        }
    }
}

// A string of glyphs each w x h with the given advance.
static void draw_string(Canvas *c, const char *s, float x, float y, float w, float h, float advance,
                        const float rgb[3], bool bold)
{
    for (; *s; s++, x += advance)
        draw_char(c, *s, x, y, w, h, rgb, bold);
}

static const unsigned char k_clear[4] = { 255, 255, 255, 0 };
static const unsigned char k_marker[4] = { 255, 0, 255, 255 };
static const float k_white[3] = { 1, 1, 1 };

// Cells of cw x ch pixels between marker columns and rows; the glyph sits inside each cell
// at (gx, gy) with size gw x gh. Markers in the first row separate columns, in the first
// column rows; with rows == 1 there is no row marker but the corner.
static bool write_font(const char *path, const char *glyphs, int width, int height, int columns, int rows, int cw,
                       int ch, float gx, float gy, float gw, float gh, bool bold)
{
    Canvas c = canvas_new(width, height, 4, k_clear);
    for (int i = 0; i <= columns; i++)
        if (i * (cw + 1) < width)
            memcpy(at(&c, i * (cw + 1), 0), k_marker, 4);
    if (rows > 1)
        for (int r = 0; r <= rows; r++)
            if (r * (ch + 1) < height)
                memcpy(at(&c, 0, r * (ch + 1)), k_marker, 4);
    int n = (int)strlen(glyphs);
    for (int k = 0; k < n; k++) {
        int col = k % columns, row = k / columns;
        float x = col * (cw + 1) + 1 + gx, y = (rows > 1 ? row * (ch + 1) + 1 : 0) + gy;
        draw_char(&c, glyphs[k], x, y, gw, gh, k_white, bold);
    }
    bool ok = png_write_rgba(path, c.px, width, height);
    xfree(c.px);
    return ok;
}

static void lerp3(const float a[3], const float b[3], float t, float out[3])
{
    for (int k = 0; k < 3; k++)
        out[k] = a[k] + (b[k] - a[k]) * t;
}

// Sky, two ranges of hills, a dirt track with a jump, and the game's name.
static bool write_title(const char *path)
{
    const int w = 1024, h = 512;
    const unsigned char black[3] = { 0, 0, 0 };
    Canvas c = canvas_new(w, h, 3, black);
    const float sky_top[3] = { 0.20f, 0.42f, 0.75f }, sky_low[3] = { 0.78f, 0.86f, 0.92f };
    const float far_hill[3] = { 0.45f, 0.55f, 0.65f }, near_hill[3] = { 0.30f, 0.52f, 0.22f };
    const float dirt[3] = { 0.55f, 0.40f, 0.25f }, dirt_dark[3] = { 0.40f, 0.28f, 0.17f };
    for (int x = 0; x < w; x++) {
        float far_top = h * 0.52f + fbm(11, x / 160.0f, 0, 4, 0) * 60;
        float near_top = h * 0.66f + fbm(23, x / 110.0f, 3, 4, 0) * 40;
        // The track runs across the foreground; the jump's face rises near the right.
        float track_top = h * 0.80f + sinf(x / 170.0f) * 12;
        float jump = (x > 640 && x < 860) ? sinf((x - 640) / 220.0f * (float)M_PI) * 45 : 0;
        track_top -= jump;
        for (int y = 0; y < h; y++) {
            float rgb[3];
            float grain = (hash01(37, x, y) - 0.5f) * 0.06f;
            if (y >= track_top) {
                lerp3(dirt, dirt_dark, clampf((y - track_top) / 60.0f, 0, 1), rgb);
                for (int k = 0; k < 3; k++)
                    rgb[k] += grain * 2;
            } else if (y >= near_top) {
                float shade = 0.85f + 0.15f * fbm(41, x / 40.0f, y / 40.0f, 3, 0);
                for (int k = 0; k < 3; k++)
                    rgb[k] = near_hill[k] * shade + grain;
            } else if (y >= far_top) {
                lerp3(far_hill, sky_low, 0.25f, rgb);
            } else {
                lerp3(sky_top, sky_low, clampf((float)y / (h * 0.6f), 0, 1), rgb);
            }
            for (int k = 0; k < 3; k++)
                at(&c, x, y)[k] = (unsigned char)lrintf(clampf(rgb[k], 0, 1) * 255);
        }
    }
    const char *name = "SKORVA";
    const float gw = 96, gh = 126, advance = 116;
    float x0 = (w - (advance * 5 + gw)) / 2, y0 = 60;
    const float outline[3] = { 0.12f, 0.08f, 0.05f }, orange[3] = { 0.98f, 0.55f, 0.10f };
    for (int dy = -5; dy <= 5; dy += 5)
        for (int dx = -5; dx <= 5; dx += 5)
            draw_string(&c, name, x0 + dx + 4, y0 + dy + 6, gw, gh, advance, outline, true);
    draw_string(&c, name, x0, y0, gw, gh, advance, orange, true);
    const char *sub = "MOTOCROSS";
    float sw = 22, sh = 30, sadv = 30;
    float sx = (w - (sadv * 8 + sw)) / 2;
    draw_string(&c, sub, sx + 2, y0 + gh + 22, sw, sh, sadv, outline, false);
    draw_string(&c, sub, sx, y0 + gh + 20, sw, sh, sadv, k_white, false);
    bool ok = png_write(path, c.px, w, h);
    xfree(c.px);
    return ok;
}

static void disc(Canvas *c, float cx, float cy, float r, const float rgb[3], float a)
{
    for (int y = (int)(cy - r - 1); y <= (int)(cy + r + 1); y++)
        for (int x = (int)(cx - r - 1); x <= (int)(cx + r + 1); x++) {
            float d = sqrtf((x + 0.5f - cx) * (x + 0.5f - cx) + (y + 0.5f - cy) * (y + 0.5f - cy));
            blend(c, x, y, rgb, a * clampf(r - d + 0.5f, 0, 1));
        }
}

// A thick line by stamping discs along it.
static void line(Canvas *c, float x0, float y0, float x1, float y1, float width, const float rgb[3])
{
    float len = sqrtf((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0));
    int steps = (int)(len * 2) + 1;
    for (int i = 0; i <= steps; i++) {
        float t = (float)i / steps;
        disc(c, x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width / 2, rgb, 1);
    }
}

// The rev counter's dial: a dark face, a white rim, ticks over 270 degrees, the last
// eighth of the sweep red.
static bool write_tach(const char *path)
{
    Canvas c = canvas_new(256, 256, 4, k_clear);
    const float face[3] = { 0.08f, 0.08f, 0.09f }, red[3] = { 0.9f, 0.1f, 0.1f };
    disc(&c, 128, 128, 124, k_white, 0.9f);
    disc(&c, 128, 128, 118, face, 0.85f);
    for (int i = 0; i <= 24; i++) {
        float angle = (float)((225 - i * 270.0 / 24) * M_PI / 180);
        float inner = i % 2 ? 100 : 88;
        const float *rgb = i >= 21 ? red : k_white;
        line(&c, 128 + cosf(angle) * inner, 128 - sinf(angle) * inner, 128 + cosf(angle) * 112,
             128 - sinf(angle) * 112, i % 2 ? 3 : 5, rgb);
    }
    for (int i = 0; i <= 12; i += 2) {
        float angle = (float)((225 - i * 270.0 / 12) * M_PI / 180);
        char label[4];
        snprintf(label, sizeof label, "%d", i);
        float n = (float)strlen(label), x = 128 + cosf(angle) * 68 - n * 7, y = 128 - sinf(angle) * 68 - 10;
        draw_string(&c, label, x, y, 12, 20, 14, k_white, true);
    }
    disc(&c, 128, 128, 10, red, 1);
    bool ok = png_write_rgba(path, c.px, 256, 256);
    xfree(c.px);
    return ok;
}

// The gear pattern: a rounded panel with the shift gate drawn in.
static bool write_shifter(const char *path)
{
    Canvas c = canvas_new(128, 128, 4, k_clear);
    const float panel[3] = { 0.10f, 0.10f, 0.12f }, slot[3] = { 0.75f, 0.75f, 0.78f };
    for (int y = 4; y < 124; y++)
        for (int x = 4; x < 124; x++)
            blend(&c, x, y, panel, 0.8f);
    line(&c, 64, 20, 64, 108, 6, slot);
    for (int i = 0; i < 6; i++)
        line(&c, 48, 24 + i * 16, 80, 24 + i * 16, 3, slot);
    disc(&c, 64, 64, 9, k_white, 1);
    bool ok = png_write_rgba(path, c.px, 128, 128);
    xfree(c.px);
    return ok;
}

// The pit board: a white board with a black border on a post.
static bool write_pitboard(const char *path)
{
    Canvas c = canvas_new(256, 128, 4, k_clear);
    const float black[3] = { 0.05f, 0.05f, 0.05f }, post[3] = { 0.55f, 0.55f, 0.58f };
    line(&c, 128, 96, 128, 127, 10, post);
    for (int y = 8; y < 100; y++)
        for (int x = 8; x < 248; x++) {
            bool border = x < 14 || x >= 242 || y < 14 || y >= 94;
            blend(&c, x, y, border ? black : k_white, 1);
        }
    bool ok = png_write_rgba(path, c.px, 256, 128);
    xfree(c.px);
    return ok;
}

// A clod of thrown dirt: brown, soft and ragged at the edge.
static bool write_roost(const char *path)
{
    Canvas c = canvas_new(64, 64, 4, k_clear);
    const float brown[3] = { 0.42f, 0.30f, 0.19f };
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            float d = sqrtf((x - 31.5f) * (x - 31.5f) + (y - 31.5f) * (y - 31.5f)) / 30;
            float a = clampf((1 - d) * 1.6f + fbm(53, x / 8.0f, y / 8.0f, 3, 0) * 0.5f, 0, 1);
            unsigned char *p = at(&c, x, y);
            float shade = 0.8f + 0.4f * hash01(59, x, y);
            for (int k = 0; k < 3; k++)
                p[k] = (unsigned char)lrintf(clampf(brown[k] * shade, 0, 1) * 255);
            p[3] = (unsigned char)lrintf(a * 255);
        }
    bool ok = png_write_rgba(path, c.px, 64, 64);
    xfree(c.px);
    return ok;
}

bool write_pictures(const char *dir)
{
    char path[1100];
    // Main font: 31 columns of 32 x 48 cells, 4 rows; the glyph 25 x 35 inside.
    snprintf(path, sizeof path, "%s/font.png", dir);
    bool ok = write_font(path, FONT_MAIN_GLYPHS, 1024, 256, 31, 4, 32, 48, 3, 6, 25, 35, false);
    // Plate digits: 11 cells of 92 x 128 in one row (the last stays empty).
    snprintf(path, sizeof path, "%s/numbers.png", dir);
    ok = ok && write_font(path, FONT_DIGITS, 1024, 128, 11, 1, 92, 128, 8, 12, 78, 104, true);
    snprintf(path, sizeof path, "%s/numbers-condensed.png", dir);
    ok = ok && write_font(path, FONT_DIGITS, 1024, 64, 31, 1, 32, 64, 2, 5, 28, 54, true);
    snprintf(path, sizeof path, "%s/title.png", dir);
    ok = ok && write_title(path);
    snprintf(path, sizeof path, "%s/tach.png", dir);
    ok = ok && write_tach(path);
    snprintf(path, sizeof path, "%s/shifter.png", dir);
    ok = ok && write_shifter(path);
    snprintf(path, sizeof path, "%s/pitboard.png", dir);
    ok = ok && write_pitboard(path);
    snprintf(path, sizeof path, "%s/roost.png", dir);
    ok = ok && write_roost(path);
    return ok;
}
