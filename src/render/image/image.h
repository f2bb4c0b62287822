// Image files: PNG (libpng), PPM/PGM (binary and text), the predictive J6 (RGB) and J7 (RGBA)
// images, ".seq" sequences ("ANIM1"), "LINK" aliases and ".info" sidecars; PNG and PPM
// writers. Every decoder works on bytes in memory; the DataFile entry points read the stream
// whole and hand it over. Nothing here touches OpenGL. Failures are logged with the format's
// message and give no result.
#pragma once
#include <stddef.h>
#include <stdint.h>

struct DataFile;

enum {
    IMAGE_MAX_SIDE = 16384,                 // widths and heights are 1..16384
    SEQ_MAX_STEPS = 65536,                  // Q
    SEQ_MAX_FRAMES = 4096,                  // P
    IMAGE_MAX_PIXELS = 8192 * 8192,         // the picture budget at most (256 MiB as RGBA)
};

struct MipRect {
    int x, y, width, height;
};

struct Image {
    int width, height;
    int channels;               // 3 (RGB) or 4 (RGBA): what the texture is uploaded as
    int pixel_bytes;            // bytes per pixel in pixels: channels, except J6 (4, alpha = prediction)
    unsigned char *pixels;      // row-major from the top row, xmalloc'ed
    char *info;                 // PNG text chunks then the ".info" sidecar; null when neither
    bool mip_max_alpha;         // "[mip_max_alpha]": reduced alpha is the maximum
    bool compress;              // "[compress]": load flag 4 of the texture cache
    // "[mip_custom]" with a valid layout: mip_levels rectangles, the base level first. 0 when
    // the image has no custom chain (or its layout is invalid, after a warning).
    int mip_levels;
    MipRect *mip_rects;
};

struct ImageSequence {
    int length;                 // Q: steps
    int frame_count;            // P
    int step_duration;
    int loop;
    int *steps;                 // Q frame numbers, each 0..P-1
    Image *frames;              // P frames of one size and channel count
};

enum ImageKind { IMAGE_NONE, IMAGE_PICTURE, IMAGE_SEQUENCE, IMAGE_ALIAS };

struct ImageFile {
    int kind;                   // ImageKind
    Image image;                // IMAGE_PICTURE
    ImageSequence sequence;     // IMAGE_SEQUENCE
    char alias[1024];           // IMAGE_ALIAS: the target texture name
};

// Decodes by the magic token: "J7", "J6", "P3"/"P6", "ANIM1", "LINK", else PNG. name is used
// in messages and, when not null, for the "name.info" sidecar. False (out zeroed) on failure.
bool image_decode(DataFile *f, const char *name, ImageFile *out);
// The same over bytes in memory; no sidecar is read (a ".seq" may still open its PNG frames).
bool image_decode_memory(const unsigned char *data, size_t n, const char *name, ImageFile *out);
void image_file_free(ImageFile *f);
void image_free(Image *img);

// A PNG, PPM, J6 or J7 file as packed pixels (pixel_bytes == channels, 3 or 4), with info
// text and keywords. False on failure or for sequences and aliases.
bool image_read(const char *name, Image *out);

// Pictures (PNG, PPM, J6, J7 and ".seq" frames) of more pixels than the budget are refused
// once their header is read, before any pixel is allocated. The budget is 1..IMAGE_MAX_PIXELS
// (IMAGE_MAX_PIXELS at start; 0 or less restores it). The terrain readers (ppm_read, pgm_read,
// png_read16) keep to the side limit alone.
void image_set_pixel_budget(long long pixels);
long long image_pixel_budget(void);
// Internal between the decoders: false, after a message naming the picture, when width x height
// is over the budget.
bool image_pixels_allowed(long long width, long long height, const char *name);

// Single-format decoders over memory, for the fuzzers and the texture cache.
bool png_decode_memory(const unsigned char *data, size_t n, const char *name, Image *out);
bool jpred_decode_memory(const unsigned char *data, size_t n, const char *name, Image *out);
bool seq_decode_memory(const unsigned char *data, size_t n, const char *name, ImageSequence *out);
// PPM and PGM: grey selects the PGM reading (a magic whose second character is "5" is binary).
// Colour gives 3 bytes per pixel, grey 1. Null on failure.
unsigned char *pnm_decode_memory(const unsigned char *data, size_t n, bool grey, int *width, int *height);
// 16-bit grey from any PNG; null on failure.
uint16_t *png16_decode_memory(const unsigned char *data, size_t n, const char *name, int *width, int *height);

// Decoders of the terrain files; null on failure. Results are xmalloc'ed.
unsigned char *ppm_read(DataFile *f, int *width, int *height);      // 8-bit RGB
unsigned char *pgm_read(DataFile *f, int *width, int *height);      // 8-bit grey
uint16_t *png_read16(DataFile *f, int *width, int *height);         // 16-bit grey

// Writers through the file layer ("@name" lands in the home directory); false on failure.
bool png_write(const char *path, const unsigned char *rgb, int width, int height);     // 8-bit RGB
bool png_write_rgba(const char *path, const unsigned char *rgba, int width, int height);   // 8-bit RGBA
// 8-bit RGB with one text chunk (read back as the image's info text).
bool png_write_rgb_text(const char *path, const unsigned char *rgb, int width, int height, const char *text);
bool png_write16(const char *path, const uint16_t *grey, int width, int height);       // 16-bit grey
bool ppm_write(const char *path, const unsigned char *rgb, int width, int height);     // "P6\n%d %d\n255\n"

// Applies the keywords of img->info ("[mip_max_alpha]", "[mip_custom]", "[compress]"); name is
// for the warning about an invalid custom mip layout.
void image_apply_info(Image *img, const char *name);
