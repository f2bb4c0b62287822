// The texture cache: every texture the game shows is decoded by the image readers, given a
// mip chain built on the CPU, reduced to the texture detail, uploaded, and cached under its
// name with the track session's generation. Also runs the ".seq" animations. Texture ids are
// GL texture names; 0 means none.
#pragma once
#include <stddef.h>

struct Image;

enum {
    TEXTURE_REPEAT_H = 1,
    TEXTURE_REPEAT_V = 2,
    TEXTURE_COMPRESS = 4,
    TEXTURE_NO_MIPMAPS = 8,
    MIP_MAX_LEVELS = 16,
    TEXTURE_MAX_LINKS = 8,          // "LINK" aliases followed for one name
};

// Levels of one picture, the base first; each level halves (at least 1) the one before.
struct MipChain {
    int levels;
    int channels;                   // 3 or 4
    int width[MIP_MAX_LEVELS], height[MIP_MAX_LEVELS];
    unsigned char *pixels[MIP_MAX_LEVELS];      // xmalloc'ed, packed rows from the top
};

// Builds the full chain down to 1 x 1 from packed pixels (copied). RGBA colours are averaged
// weighted by alpha; alpha is averaged, or the maximum with max_alpha. False for sizes
// outside 1..16384 or channels other than 3 and 4.
bool mip_chain_build(const unsigned char *pixels, int width, int height, int channels, bool max_alpha,
                     MipChain *out);
void mip_chain_free(MipChain *chain);

// Name -> texture id (0 when it cannot be opened or decoded). A leading "!" keeps full detail.
unsigned texture_load(const char *name);
// Uploads a picture that is not cached by name (fonts, pictures made in code), with its CPU
// mip chain built here; flags as above. Kept until texture_delete or textures_delete_all.
unsigned texture_from_image(const Image *img, const char *name, int flags);
void     texture_delete(unsigned id);

// Sessions: textures loaded while generation g is current carry g; 0 is permanent (start-up).
void texture_begin_session(void);           // the next generation becomes current
int  texture_generation(void);
// Deletes cached textures and images of generations other than 0 and the current one (with
// all, everything cached).
void texture_release_stale(bool all);

// Animations, time in seconds; a sequence's step duration counts milliseconds.
void texture_animate(double now);
void texture_anim_start(unsigned id, double start);
void texture_anim_stop(unsigned id);
int  texture_anim_frame(unsigned id);       // the frame shown; -1 when id is not animated

// A decoded picture by name (packed pixels), cached like textures; null on failure. It stays
// where it is until the cache releases it.
const Image *texture_image(const char *name);

unsigned long texture_memory(void);         // bytes of texture memory uploaded and not deleted
int  texture_cache_count(void);             // cached names
// Settings: the model texture detail (0..10; the reduction is 10 minus it), compression of
// every texture, and the verbosity of the log lines.
void texture_set_detail(int model_texture_detail);
void texture_set_compress_always(bool always);
void texture_set_verbosity(int level);

void texture_cache_free(void);              // the cache, aliases, animations and images
void textures_delete_all(void);             // every texture still made through this module
