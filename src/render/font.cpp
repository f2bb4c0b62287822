// Bitmap fonts and text.
#include "render/font.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <SDL.h>

#include "common/mem.h"
#include "platform/log.h"
#include "render/gl.h"
#include "render/image/image.h"
#include "render/texture.h"

enum { k_max_escape_numbers = 64, k_batch_quads = 64 };

static const char *const k_font_files[FONT_COUNT] = { "@font.png", "@numbers.png", "@numbers-condensed.png" };
static const char *const k_font_glyphs[FONT_COUNT] = { FONT_MAIN_GLYPHS, FONT_DIGITS, FONT_DIGITS };

// Escape colours 0..7 at 0.75, 8..15 at full intensity.
static const float k_palette[16][3] = {
    { 0, 0, 0 }, { 0.75f, 0, 0 }, { 0, 0.75f, 0 }, { 0.75f, 0.75f, 0 },
    { 0, 0, 0.75f }, { 0.75f, 0, 0.75f }, { 0, 0.75f, 0.75f }, { 0.75f, 0.75f, 0.75f },
    { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 1, 1, 0 },
    { 0, 0, 1 }, { 1, 0, 1 }, { 0, 1, 1 }, { 1, 1, 1 },
};

static struct {
    Font fonts[FONT_COUNT];
    bool initialised;
    TextQuad *quads;
    int quad_count, quad_capacity;
} g_font;

static void font_clear(Font *f)
{
    memset(f, 0, sizeof *f);
    for (int c = 0; c < 256; c++)
        f->glyph[c].aspect = FONT_DEFAULT_ASPECT;
}

static void init_fonts(void)
{
    if (g_font.initialised)
        return;
    for (int i = 0; i < FONT_COUNT; i++)
        font_clear(&g_font.fonts[i]);
    g_font.initialised = true;
}

// Positions of marker pixels along the first row (step 1) or first column (step width),
// followed by the image's far edge, which closes the last cell.
static int separators(const unsigned char *px, int count, size_t step, const unsigned char *marker, int *out)
{
    int n = 0;
    for (int i = 0; i < count; i++)
        if (memcmp(px + (size_t)i * step * 4, marker, 4) == 0)
            out[n++] = i;
    out[n++] = count;
    return n;
}

bool font_layout(Font *font, Image *img, const char *glyphs, const char *name)
{
    font_clear(font);
    if (!img || !img->pixels || img->channels != 4 || img->pixel_bytes != 4 || img->width < 1 || img->height < 1) {
        log_printf("Warning: font '%.512s' is not an RGBA picture\n", name);
        return false;
    }
    int w = img->width, h = img->height;
    unsigned char marker[4];
    memcpy(marker, img->pixels, 4);
    int *cols = (int *)xmalloc(sizeof(int) * (w + 1));
    int *rows = (int *)xmalloc(sizeof(int) * (h + 1));
    int ncols = separators(img->pixels, w, 1, marker, cols);
    int nrows = separators(img->pixels, h, (size_t)w, marker, rows);
    if (ncols < 3) {
        log_printf("Warning: no glyph markers in font '%.512s'\n", name);
        xfree(cols);
        xfree(rows);
        return false;
    }
    font->width = w;
    font->height = h;
    size_t k = 0, len = strlen(glyphs);
    bool single_row = nrows == 2;
    for (int r = 0; r + 1 < nrows && k < len; r++) {
        int top = single_row ? 0 : rows[r] + 1, bottom = single_row ? h : rows[r + 1];
        if (bottom <= top)
            continue;
        for (int c = 0; c + 1 < ncols && k < len; c++) {
            int left = cols[c] + 1, right = cols[c + 1];
            if (right <= left)
                continue;
            FontGlyph &g = font->glyph[(unsigned char)glyphs[k++]];
            g.left = (float)left / w;
            g.right = (float)right / w;
            g.top = (float)top / h;
            g.bottom = (float)bottom / h;
            g.aspect = (float)(right - left) / (float)(bottom - top);
        }
    }
    if (k == 0) {
        log_printf("Warning: no glyph markers in font '%.512s'\n", name);
        font_clear(font);
        xfree(cols);
        xfree(rows);
        return false;
    }
    font->glyph[(int)' '].aspect = font->glyph[(int)'-'].aspect;
    // The markers must not show at the glyphs' edges.
    static const unsigned char clear[4] = { 255, 255, 255, 0 };
    for (int i = 0; i + 1 < ncols; i++)
        memcpy(img->pixels + (size_t)cols[i] * 4, clear, 4);
    for (int i = 0; i + 1 < nrows; i++)
        memcpy(img->pixels + (size_t)rows[i] * w * 4, clear, 4);
    xfree(cols);
    xfree(rows);
    return true;
}

// RGB pictures gain an opaque alpha; packed 4 bytes a pixel afterwards.
static void to_rgba(Image *img)
{
    if (img->channels == 4 && img->pixel_bytes == 4)
        return;
    size_t n = (size_t)img->width * img->height;
    unsigned char *out = (unsigned char *)xmalloc(n * 4);
    for (size_t i = 0; i < n; i++) {
        memcpy(out + i * 4, img->pixels + i * img->pixel_bytes, 3);
        out[i * 4 + 3] = img->channels == 4 ? img->pixels[i * img->pixel_bytes + 3] : 255;
    }
    xfree(img->pixels);
    img->pixels = out;
    img->channels = img->pixel_bytes = 4;
}

bool font_load(Font *font, const char *file, const char *glyphs)
{
    init_fonts();
    font_clear(font);
    Image img;
    if (!image_read(file, &img)) {
        log_printf("Can't open font '%.512s'\n", file);
        return false;
    }
    to_rgba(&img);
    img.mip_levels = 0;         // the chain is built from the cleared picture
    bool ok = font_layout(font, &img, glyphs, file);
    if (ok) {
        font->texture = texture_from_image(&img, file, 0);
        ok = font->texture != 0;
    }
    if (!ok)
        font_clear(font);
    image_free(&img);
    return ok;
}

void fonts_load(void)
{
    init_fonts();
    for (int i = 0; i < FONT_COUNT; i++) {
        texture_delete(g_font.fonts[i].texture);
        font_load(&g_font.fonts[i], k_font_files[i], k_font_glyphs[i]);
    }
}

void fonts_free(void)
{
    for (int i = 0; i < FONT_COUNT; i++) {
        texture_delete(g_font.fonts[i].texture);
        font_clear(&g_font.fonts[i]);
    }
    xfree(g_font.quads);
    g_font.quads = nullptr;
    g_font.quad_count = g_font.quad_capacity = 0;
}

const Font *font_get(int which)
{
    init_fonts();
    return which >= 0 && which < FONT_COUNT ? &g_font.fonts[which] : nullptr;
}

void font_set_main(const Font *font)
{
    init_fonts();
    g_font.fonts[FONT_MAIN] = *font;
}

// ---------------------------------------------------------------------------------------
// Strings

struct Pen {
    float x, y;
    float given[4];
    float colour[3];
    int palette;                // -1: the given colour
    bool bold;
};

static void pen_colour(Pen *p)
{
    if (p->palette < 0) {
        for (int c = 0; c < 3; c++) {
            float v = p->given[c] + (p->bold ? 0.25f : 0);
            p->colour[c] = v > 1 ? 1 : v;
        }
    } else {
        int index = p->palette + (p->bold ? 8 : 0);
        memcpy(p->colour, k_palette[index], sizeof p->colour);
    }
}

static void apply_sgr(Pen *p, const int *numbers, int count)
{
    for (int i = 0; i < count; i++) {
        int n = numbers[i];
        if (n == 0) {
            p->palette = -1;
            p->bold = false;
        } else if (n == 1) {
            p->bold = true;
        } else if (n == 22) {
            p->bold = false;
        } else if (n >= 30 && n <= 37) {
            p->palette = n - 30;
        }
        // 40..47 would only colour a background, which text has not.
    }
    pen_colour(p);
}

static bool is_final(char c)
{
    return c >= '@' && c <= '~';
}

// Reads one escape sequence starting after ESC; returns where the text goes on.
static const char *escape(Pen *p, const char *s)
{
    if (*s != '[') {
        while (*s && !is_final(*s))
            s++;
        return *s ? s + 1 : s;
    }
    s++;
    int numbers[k_max_escape_numbers];
    int count = 0, value = 0;
    bool digits = false;
    for (; *s; s++) {
        char c = *s;
        if (c >= '0' && c <= '9') {
            if (value < 100000)
                value = value * 10 + (c - '0');
            digits = true;
        } else if (c == ';' || is_final(c)) {
            if (count < k_max_escape_numbers && (digits || c == ';' || count > 0))
                numbers[count++] = value;
            value = 0;
            digits = false;
            if (is_final(c)) {
                if (count == 0)
                    numbers[count++] = 0;       // "ESC [ m" resets like "ESC [ 0 m"
                if (c == 'm')
                    apply_sgr(p, numbers, count);
                return s + 1;
            }
        }
    }
    return s;
}

static void add_quad(const TextQuad &q)
{
    if (g_font.quad_count == g_font.quad_capacity) {
        g_font.quad_capacity = g_font.quad_capacity ? g_font.quad_capacity * 2 : 64;
        g_font.quads = (TextQuad *)xrealloc(g_font.quads, sizeof(TextQuad) * g_font.quad_capacity);
    }
    g_font.quads[g_font.quad_count++] = q;
}

// Walks the text with the control-character rules; collects quads when collect is set.
// Returns the widest line.
static float layout(const Font *f, float r, float g, float b, float a, float dx, float dy, const char *text,
                    bool collect)
{
    Pen p = {};
    p.given[0] = r;
    p.given[1] = g;
    p.given[2] = b;
    p.given[3] = a;
    p.palette = -1;
    pen_colour(&p);
    float widest = 0;
    float space = f->glyph[(int)' '].aspect;
    for (const char *s = text; *s;) {
        unsigned char c = (unsigned char)*s++;
        if (c == 27) {
            s = escape(&p, s);
            continue;
        }
        if (c == ' ') {
            p.x += space;
        } else if (c == '\r') {
            p.x = 0;
        } else if (c == '\n') {
            p.x = 0;
            p.y -= 1;
        } else if (c == '\t') {
            float tab = 8 * space;
            if (tab > 0)
                p.x = (floorf(p.x / tab + 1e-4f) + 1) * tab;
        } else {
            const FontGlyph &gl = f->glyph[c];
            if (collect)
                add_quad({ dx + p.x, dy + p.y, gl.aspect, 1, gl.left, gl.top, gl.right, gl.bottom,
                           p.colour[0], p.colour[1], p.colour[2], a });
            p.x += gl.aspect;
        }
        if (p.x > widest)
            widest = p.x;
    }
    return widest;
}

static void draw_quads(const Font *f, int first)
{
    if (!f->texture || !SDL_GL_GetCurrentContext() || g_font.quad_count <= first)
        return;
    shader_use(0);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, f->texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    static float vertex[k_batch_quads * 4 * 2], tex[k_batch_quads * 4 * 2], colour[k_batch_quads * 4 * 4];
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, vertex);
    glTexCoordPointer(2, GL_FLOAT, 0, tex);
    glColorPointer(4, GL_FLOAT, 0, colour);
    for (int i = first; i < g_font.quad_count;) {
        int n = 0;
        for (; n < k_batch_quads && i < g_font.quad_count; n++, i++) {
            const TextQuad &q = g_font.quads[i];
            float xs[4] = { q.x, q.x + q.width, q.x + q.width, q.x };
            float ys[4] = { q.y, q.y, q.y + q.height, q.y + q.height };
            float ss[4] = { q.left, q.right, q.right, q.left };
            float ts[4] = { q.bottom, q.bottom, q.top, q.top };
            for (int v = 0; v < 4; v++) {
                int k = n * 4 + v;
                vertex[k * 2] = xs[v];
                vertex[k * 2 + 1] = ys[v];
                tex[k * 2] = ss[v];
                tex[k * 2 + 1] = ts[v];
                colour[k * 4] = q.r;
                colour[k * 4 + 1] = q.g;
                colour[k * 4 + 2] = q.b;
                colour[k * 4 + 3] = q.a;
            }
        }
        glDrawArrays(GL_QUADS, 0, n * 4);
    }
    glPopClientAttrib();
    glPopAttrib();
}

static void draw_at(float r, float g, float b, float a, float dx, float dy, const char *text, bool shadowed)
{
    g_font.quad_count = 0;
    if (!text || !*text)
        return;
    const Font *f = font_get(FONT_MAIN);
    if (shadowed)
        layout(f, 0, 0, 0, a * 0.5f, dx + 0.0625f, dy - 0.0625f, text, true);
    // The shadow keeps black through colour escapes.
    for (int i = 0; i < g_font.quad_count; i++)
        g_font.quads[i].r = g_font.quads[i].g = g_font.quads[i].b = 0;
    layout(f, r, g, b, a, dx, dy, text, true);
    draw_quads(f, 0);
}

void text_draw(float r, float g, float b, float a, const char *text)
{
    draw_at(r, g, b, a, 0, 0, text, false);
}

void text_draw_white(const char *text)
{
    text_draw(1, 1, 1, 1, text);
}

void text_draw_shadowed(float r, float g, float b, float a, const char *text)
{
    draw_at(r, g, b, a, 0, 0, text, true);
}

void text_draw_grey_shadowed(const char *text)
{
    text_draw_shadowed(0.75f, 0.75f, 0.75f, 1, text);
}

void text_draw_centred(float r, float g, float b, float a, float left, float right, const char *text)
{
    draw_at(r, g, b, a, (left + right) * 0.5f - text_width(text) * 0.5f, 0, text, false);
}

void text_draw_centred_shadowed(float r, float g, float b, float a, float left, float right, const char *text)
{
    draw_at(r, g, b, a, (left + right) * 0.5f - text_width(text) * 0.5f, 0, text, true);
}

void text_draw_right(float r, float g, float b, float a, float right, const char *text)
{
    draw_at(r, g, b, a, right - text_width(text), 0, text, true);
}

float text_width(const char *text)
{
    if (!text)
        return 0;
    return layout(font_get(FONT_MAIN), 1, 1, 1, 1, 0, 0, text, false);
}

const TextQuad *text_quads(int *count)
{
    if (count)
        *count = g_font.quad_count;
    return g_font.quads;
}
