// The image files the terrain and the data generator read and write, in the shapes the terrain
// wants them. The decoding and the PNG and PPM writing are the image module's (render/image/image.h);
// these only open the streams and convert. All streams go through DataFile, so "@" names work.
// Readers return freshly allocated pixels (xmalloc; the caller frees with xfree); false leaves
// the outputs untouched.
#pragma once
#include <stdint.h>

struct DataFile;

// Any PNG as 16-bit grey: palette expanded, grey below 8 bits widened, colour converted with
// the library's default weights, alpha dropped, 8-bit samples repeated into 16 bits (v * 257).
bool read_gray16_image(const char *name, int *w, int *h, uint16_t **pixels);
// Binary or text PPM ("P6"/"P3"), maxval scaled to 0..255; three bytes per pixel.
bool read_ppm_rgb(DataFile *f, int *w, int *h, uint8_t **rgb);
// Binary or text PGM ("P5"/"P2"), maxval scaled to 0..255.
bool read_pgm_gray8(DataFile *f, int *w, int *h, uint8_t **gray);

bool write_png_rgb8(const char *name, int w, int h, const uint8_t *rgb);
bool write_png_gray16(const char *name, int w, int h, const uint16_t *pixels);
bool write_ppm(const char *name, int w, int h, const uint8_t *rgb);     // "P6\n%d %d\n255\n"
bool write_pgm(const char *name, int w, int h, const uint8_t *gray);    // "P5\n%d %d\n255\n"
