// Bitmap fonts and text. A font image separates its glyph cells with marker pixels (the
// colour of its top-left pixel) in the first row (columns) and first column (rows). Text is
// measured in line heights: a glyph is 1 unit tall and its aspect wide, drawn from the
// current origin with the pen moving right and lines going down. Text may carry ANSI
// colour escapes (ESC [ n;n...m).
#pragma once

struct Image;

enum { FONT_MAIN, FONT_NUMBERS, FONT_NUMBERS_CONDENSED, FONT_COUNT };

#define FONT_DEFAULT_ASPECT 0.6666667f
#define FONT_MAIN_GLYPHS \
    "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"
#define FONT_DIGITS "0123456789"

struct FontGlyph {
    float left, top, right, bottom;     // texture coordinates
    float aspect;                       // width over height
};

struct Font {
    unsigned texture;                   // 0 when the font could not be loaded
    int width, height;                  // of the image
    FontGlyph glyph[256];
};

struct TextQuad {
    float x, y, width, height;          // units from the origin; y up
    float left, top, right, bottom;
    float r, g, b, a;
};

// Lays the glyph string out over an RGBA image (packed, 4 bytes a pixel) and clears the
// marker pixels to transparent white. False, after a warning naming the font, when the image
// has no marker in its first row beyond the top-left pixel.
bool font_layout(Font *font, Image *rgba, const char *glyphs, const char *name);
// Reads, lays out and uploads one font; false (font emptied, texture 0) on failure.
bool font_load(Font *font, const char *file, const char *glyphs);
// "@font.png", "@numbers.png", "@numbers-condensed.png".
void fonts_load(void);
void fonts_free(void);
const Font *font_get(int which);        // null outside FONT_COUNT
// Test hook: replaces the main font (copied).
void font_set_main(const Font *font);

void  text_draw(float r, float g, float b, float a, const char *text);
void  text_draw_white(const char *text);
void  text_draw_shadowed(float r, float g, float b, float a, const char *text);
void  text_draw_grey_shadowed(const char *text);
void  text_draw_centred(float r, float g, float b, float a, float left, float right, const char *text);
void  text_draw_centred_shadowed(float r, float g, float b, float a, float left, float right, const char *text);
void  text_draw_right(float r, float g, float b, float a, float right, const char *text);
// The widest line, in units.
float text_width(const char *text);
// The quads of the most recent text_draw... call (shadow first), for tests and the HUD.
const TextQuad *text_quads(int *count);
