// The texture cache and upload.
#include "render/texture.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <SDL.h>

#include "common/mem.h"
#include "platform/log.h"
#include "render/gl.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

enum { k_first_capacity = 16, k_detail_floor = 128 };

struct TextureEntry {
    unsigned id;
    int generation;
    unsigned long bytes;
    char *info;
    char *name;
};

struct Alias {
    char *name, *target;
};

struct Animation {
    unsigned id;
    int length, frame_count, duration, loop;
    int *steps;
    MipChain *frames;
    double start;
    bool paused;
    int current;
};

struct CachedImage {
    char *name;
    int generation;
    Image image;
};

struct Uploaded {
    unsigned id;
    unsigned long bytes;
};

static struct {
    TextureEntry *entries;
    int count, capacity;
    Alias *aliases;
    int alias_count, alias_capacity;
    Animation *anims;
    int anim_count, anim_capacity;
    CachedImage **images;           // each on its own, so a returned picture stays put
    int image_count, image_capacity;
    Uploaded *uploaded;
    int uploaded_count, uploaded_capacity;
    int generation;
    unsigned long memory;
    int reduction;              // detail levels dropped from reducible textures
    bool compress_always;
    int verbosity;
    int clamp_mode;             // 0 untested, else GL_CLAMP_TO_EDGE or GL_CLAMP
    int max_side;               // GL_MAX_TEXTURE_SIZE; 0 not asked yet
} g_tex = { nullptr, 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, 0, 0, nullptr, 0, 0, 0, 0, 1, false, 0, 0, 0 };

// Grows an array of elements of size bytes to hold one more, doubling from 16.
static void *grow(void *array, int count, int *capacity, size_t size)
{
    if (count < *capacity)
        return array;
    *capacity = *capacity ? *capacity * 2 : k_first_capacity;
    return xrealloc(array, (size_t)*capacity * size);
}

static bool has_context(void)
{
    return SDL_GL_GetCurrentContext() != nullptr;
}

static bool power_of_two(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

static int floor_power_of_two(int n)
{
    int p = 1;
    while (p * 2 <= n)
        p *= 2;
    return p;
}

// ---------------------------------------------------------------------------------------
// Mip chains

// One reduced pixel from up to 2 x 2 source pixels.
static void reduce_pixel(const unsigned char *const *src, int n, int channels, bool max_alpha, unsigned char *dst)
{
    if (channels == 3) {
        for (int c = 0; c < 3; c++) {
            int sum = 0;
            for (int i = 0; i < n; i++)
                sum += src[i][c];
            dst[c] = (unsigned char)((sum + n / 2) / n);
        }
        return;
    }
    int alpha_sum = 0, alpha_max = 0;
    for (int i = 0; i < n; i++) {
        alpha_sum += src[i][3];
        if (src[i][3] > alpha_max)
            alpha_max = src[i][3];
    }
    // Transparent texels carry no colour; all-transparent and all-opaque average plainly.
    bool plain = alpha_sum == 0 || alpha_sum == 255 * n;
    for (int c = 0; c < 3; c++) {
        int sum = 0;
        if (plain) {
            for (int i = 0; i < n; i++)
                sum += src[i][c];
            dst[c] = (unsigned char)((sum + n / 2) / n);
        } else {
            for (int i = 0; i < n; i++)
                sum += src[i][c] * src[i][3];
            dst[c] = (unsigned char)((sum + alpha_sum / 2) / alpha_sum);
        }
    }
    dst[3] = (unsigned char)(max_alpha ? alpha_max : (alpha_sum + n / 2) / n);
}

static unsigned char *reduce_level(const unsigned char *src, int sw, int sh, int channels, bool max_alpha,
                                   int *dw, int *dh)
{
    int w = sw > 1 ? sw / 2 : 1, h = sh > 1 ? sh / 2 : 1;
    unsigned char *dst = (unsigned char *)xmalloc((size_t)w * h * channels);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const unsigned char *p[4];
            int n = 0;
            int x0 = sw > 1 ? 2 * x : x, y0 = sh > 1 ? 2 * y : y;
            p[n++] = src + ((size_t)y0 * sw + x0) * channels;
            if (sw > 1)
                p[n++] = src + ((size_t)y0 * sw + x0 + 1) * channels;
            if (sh > 1) {
                p[n++] = src + ((size_t)(y0 + 1) * sw + x0) * channels;
                if (sw > 1)
                    p[n++] = src + ((size_t)(y0 + 1) * sw + x0 + 1) * channels;
            }
            reduce_pixel(p, n, channels, max_alpha, dst + ((size_t)y * w + x) * channels);
        }
    }
    *dw = w;
    *dh = h;
    return dst;
}

// The chain below a base level that it takes over (xmalloc'ed, width x height x channels).
static void chain_from_base(unsigned char *base, int width, int height, int channels, bool max_alpha, MipChain *out)
{
    memset(out, 0, sizeof *out);
    out->channels = channels;
    out->width[0] = width;
    out->height[0] = height;
    out->pixels[0] = base;
    out->levels = 1;
    while ((out->width[out->levels - 1] > 1 || out->height[out->levels - 1] > 1) && out->levels < MIP_MAX_LEVELS) {
        int l = out->levels;
        out->pixels[l] = reduce_level(out->pixels[l - 1], out->width[l - 1], out->height[l - 1], channels, max_alpha,
                                      &out->width[l], &out->height[l]);
        out->levels++;
    }
}

bool mip_chain_build(const unsigned char *pixels, int width, int height, int channels, bool max_alpha, MipChain *out)
{
    memset(out, 0, sizeof *out);
    if (!pixels || width < 1 || height < 1 || width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE ||
        (channels != 3 && channels != 4))
        return false;
    size_t bytes = (size_t)width * height * channels;
    unsigned char *base = (unsigned char *)xmalloc(bytes);
    memcpy(base, pixels, bytes);
    chain_from_base(base, width, height, channels, max_alpha, out);
    return true;
}

void mip_chain_free(MipChain *chain)
{
    if (!chain)
        return;
    for (int i = 0; i < chain->levels; i++)
        xfree(chain->pixels[i]);
    memset(chain, 0, sizeof *chain);
}

// Nearest sampling of packed pixels to the largest powers of two within them: a new buffer.
static unsigned char *resample_power_of_two(const unsigned char *src, int *w, int *h, int ch)
{
    int sw = *w, sh = *h;
    int dw = floor_power_of_two(sw), dh = floor_power_of_two(sh);
    unsigned char *dst = (unsigned char *)xmalloc((size_t)dw * dh * ch);
    for (int y = 0; y < dh; y++) {
        int sy = (int)((long long)y * sh / dh);
        for (int x = 0; x < dw; x++) {
            int sx = (int)((long long)x * sw / dw);
            memcpy(dst + ((size_t)y * dw + x) * ch, src + ((size_t)sy * sw + sx) * ch, ch);
        }
    }
    *w = dw;
    *h = dh;
    return dst;
}

// The driver's largest texture side, asked once per context; 0 without a context.
static int max_texture_side(void)
{
    if (!g_tex.max_side && has_context()) {
        GLint side = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &side);
        g_tex.max_side = side > 0 ? side : 0;
    }
    return g_tex.max_side;
}

// A base level made ready before its chain is built: powers of two, the detail reduction
// (reduce levels while both sides exceed 128), then the driver's size limit. Levels that would
// be dropped are never built: a huge picture reduced by one level costs a quarter of its chain.
// Returns the new base (xmalloc'ed) with *w and *h, or null when base needs no change.
static unsigned char *shrink_base(const unsigned char *base, int *w, int *h, int ch, const char *name, int reduce,
                                  bool max_alpha)
{
    unsigned char *px = nullptr;
    if (!power_of_two(*w) || !power_of_two(*h))
        px = resample_power_of_two(base, w, h, ch);
    int ow = *w, oh = *h;
    int max_side = max_texture_side();
    for (;;) {
        bool detail = reduce > 0 && *w > k_detail_floor && *h > k_detail_floor;
        if (!detail && !(max_side > 0 && (*w > max_side || *h > max_side)))
            break;
        unsigned char *next = reduce_level(px ? px : base, *w, *h, ch, max_alpha, w, h);
        xfree(px);
        px = next;
        if (detail) {
            reduce--;
            log_printf("%.64s reduced to %dx%d (originally %dx%d)\n", name, *w, *h, ow, oh);
        }
    }
    return px;
}

static void drop_top_level(MipChain *c)
{
    xfree(c->pixels[0]);
    for (int i = 1; i < c->levels; i++) {
        c->pixels[i - 1] = c->pixels[i];
        c->width[i - 1] = c->width[i];
        c->height[i - 1] = c->height[i];
    }
    c->levels--;
    c->pixels[c->levels] = nullptr;
}

// A picture's own chain ("[mip_custom]") is already built: a base that is not a power of two
// gets a chain built here instead; the reductions drop its top levels.
static void prepare_custom(MipChain *c, const char *name, int reduce, bool max_alpha)
{
    if (!power_of_two(c->width[0]) || !power_of_two(c->height[0])) {
        int w = c->width[0], h = c->height[0], ch = c->channels;
        unsigned char *base = shrink_base(c->pixels[0], &w, &h, ch, name, reduce, max_alpha);
        mip_chain_free(c);
        chain_from_base(base, w, h, ch, max_alpha, c);
        return;
    }
    int ow = c->width[0], oh = c->height[0];
    for (; reduce > 0 && c->levels > 1 && c->width[0] > k_detail_floor && c->height[0] > k_detail_floor; reduce--) {
        drop_top_level(c);
        log_printf("%.64s reduced to %dx%d (originally %dx%d)\n", name, c->width[0], c->height[0], ow, oh);
    }
    int max_side = max_texture_side();
    while (max_side > 0 && c->levels > 1 && (c->width[0] > max_side || c->height[0] > max_side))
        drop_top_level(c);
}

// ---------------------------------------------------------------------------------------
// Upload

static void remember_upload(unsigned id, unsigned long bytes)
{
    g_tex.uploaded = (Uploaded *)grow(g_tex.uploaded, g_tex.uploaded_count, &g_tex.uploaded_capacity, sizeof(Uploaded));
    g_tex.uploaded[g_tex.uploaded_count++] = { id, bytes };
    g_tex.memory += bytes;
}

void texture_delete(unsigned id)
{
    if (!id)
        return;
    for (int i = 0; i < g_tex.uploaded_count; i++) {
        if (g_tex.uploaded[i].id != id)
            continue;
        g_tex.memory -= g_tex.uploaded[i].bytes;
        g_tex.uploaded[i] = g_tex.uploaded[--g_tex.uploaded_count];
        if (has_context()) {
            GLuint name = id;
            glDeleteTextures(1, &name);
        }
        return;
    }
}

// Whether the driver takes GL_CLAMP_TO_EDGE, asked once.
static GLint clamp_mode(void)
{
    if (!g_tex.clamp_mode) {
        while (glGetError() != GL_NO_ERROR) {
        }
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        g_tex.clamp_mode = glGetError() == GL_NO_ERROR ? GL_CLAMP_TO_EDGE : GL_CLAMP;
    }
    return g_tex.clamp_mode;
}

// Uploads the chain (or its base level with TEXTURE_NO_MIPMAPS) into a new texture; 0 when
// there is no context or the driver refuses. *bytes: the texture memory it took.
static unsigned upload(const MipChain *c, int flags, unsigned long *bytes)
{
    *bytes = 0;
    if (!has_context() || c->levels < 1)
        return 0;
    while (glGetError() != GL_NO_ERROR) {
    }
    GLuint id = 0;
    glGenTextures(1, &id);
    if (!id)
        return 0;
    glBindTexture(GL_TEXTURE_2D, id);
    GLint clamp = clamp_mode();
    bool nearest = clamp != GL_CLAMP_TO_EDGE;
    bool mipmaps = !(flags & TEXTURE_NO_MIPMAPS);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, flags & TEXTURE_REPEAT_H ? GL_REPEAT : clamp);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, flags & TEXTURE_REPEAT_V ? GL_REPEAT : clamp);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER,
                    mipmaps ? (nearest ? GL_NEAREST_MIPMAP_NEAREST : GL_LINEAR_MIPMAP_NEAREST) : (nearest ? GL_NEAREST : GL_LINEAR));
    int levels = mipmaps ? c->levels : 1;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, levels - 1);
    bool compress = (flags & TEXTURE_COMPRESS) && gl_caps.major > 1;
    GLenum format = c->channels == 4 ? GL_RGBA : GL_RGB;
    GLint internal = compress ? (c->channels == 4 ? GL_COMPRESSED_RGBA_ARB : GL_COMPRESSED_RGB_ARB) : (GLint)format;
    unsigned long total = 0;
    // Rows are packed; the compressor reads whole 4 x 4 blocks, so its small levels go
    // through a copy with room past the end.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int l = 0; l < levels; l++) {
        size_t level_bytes = (size_t)c->width[l] * c->height[l] * c->channels;
        unsigned char *padded = nullptr;
        if (compress) {
            padded = (unsigned char *)xcalloc(level_bytes + 4 * 4 * 4 * 4, 1);
            memcpy(padded, c->pixels[l], level_bytes);
        }
        glTexImage2D(GL_TEXTURE_2D, l, internal, c->width[l], c->height[l], 0, format, GL_UNSIGNED_BYTE,
                     padded ? padded : c->pixels[l]);
        xfree(padded);
        GLint compressed = 0, size = 0;
        if (compress) {
            glGetTexLevelParameteriv(GL_TEXTURE_2D, l, GL_TEXTURE_COMPRESSED_ARB, &compressed);
            if (compressed)
                glGetTexLevelParameteriv(GL_TEXTURE_2D, l, GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB, &size);
        }
        total += compressed ? (unsigned long)size : (unsigned long)c->width[l] * c->height[l] * c->channels;
    }
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &id);
        return 0;
    }
    *bytes = total;
    remember_upload(id, total);
    return id;
}

// A packed copy of the picture (J6 keeps a fourth byte per pixel).
static unsigned char *packed_pixels(const Image *img)
{
    size_t n = (size_t)img->width * img->height;
    unsigned char *out = (unsigned char *)xmalloc(n * img->channels);
    for (size_t i = 0; i < n; i++)
        memcpy(out + i * img->channels, img->pixels + i * img->pixel_bytes, img->channels);
    return out;
}

// The rectangles of a valid "[mip_custom]" chain within the picture, or null.
static const MipRect *custom_levels(const Image *img)
{
    if (img->mip_levels < 1 || !img->mip_rects || img->mip_levels > MIP_MAX_LEVELS)
        return nullptr;
    for (int l = 0; l < img->mip_levels; l++) {
        const MipRect &r = img->mip_rects[l];
        if (r.x < 0 || r.y < 0 || r.width < 1 || r.height < 1 || r.x + r.width > img->width ||
            r.y + r.height > img->height)
            return nullptr;
    }
    return img->mip_rects;
}

// The chain to upload: the picture's own levels under a valid "[mip_custom]", else built here
// from the base after the reductions (reduce detail levels; see shrink_base).
static bool chain_of(const Image *img, const char *name, int reduce, MipChain *c)
{
    memset(c, 0, sizeof *c);
    if (!img->pixels || img->width < 1 || img->height < 1 || img->width > IMAGE_MAX_SIDE ||
        img->height > IMAGE_MAX_SIDE || (img->channels != 3 && img->channels != 4) ||
        img->pixel_bytes < img->channels)
        return false;
    // Packed pictures are read where they lie; J6 drops its fourth byte into a copy first.
    unsigned char *packed = img->pixel_bytes == img->channels ? nullptr : packed_pixels(img);
    const unsigned char *px = packed ? packed : img->pixels;
    const MipRect *rects = custom_levels(img);
    if (rects) {
        c->channels = img->channels;
        for (int l = 0; l < img->mip_levels; l++) {
            const MipRect &r = rects[l];
            c->pixels[l] = (unsigned char *)xmalloc((size_t)r.width * r.height * c->channels);
            for (int y = 0; y < r.height; y++)
                memcpy(c->pixels[l] + (size_t)y * r.width * c->channels,
                       px + ((size_t)(r.y + y) * img->width + r.x) * c->channels, (size_t)r.width * c->channels);
            c->width[l] = r.width;
            c->height[l] = r.height;
            c->levels = l + 1;
        }
        xfree(packed);
        prepare_custom(c, name, reduce, img->mip_max_alpha);
        return true;
    }
    int w = img->width, h = img->height;
    unsigned char *base = shrink_base(px, &w, &h, img->channels, name, reduce, img->mip_max_alpha);
    if (base)
        chain_from_base(base, w, h, img->channels, img->mip_max_alpha, c);
    else
        mip_chain_build(px, w, h, img->channels, img->mip_max_alpha, c);
    xfree(packed);
    return true;
}

unsigned texture_from_image(const Image *img, const char *name, int flags)
{
    MipChain c;
    if (!img || !chain_of(img, name ? name : "", 0, &c)) {
        log_printf("Warning: unusable picture for '%.900s'\n", name ? name : "");
        return 0;
    }
    unsigned long bytes;
    unsigned id = upload(&c, flags, &bytes);
    mip_chain_free(&c);
    return id;
}

// ---------------------------------------------------------------------------------------
// Cache

static const char *alias_of(const char *name)
{
    for (int i = 0; i < g_tex.alias_count; i++)
        if (strcmp(g_tex.aliases[i].name, name) == 0)
            return g_tex.aliases[i].target;
    return nullptr;
}

static void alias_add(const char *name, const char *target)
{
    for (int i = 0; i < g_tex.alias_count; i++) {
        if (strcmp(g_tex.aliases[i].name, name) == 0) {
            xfree(g_tex.aliases[i].target);
            g_tex.aliases[i].target = xstrdup(target);
            return;
        }
    }
    g_tex.aliases = (Alias *)grow(g_tex.aliases, g_tex.alias_count, &g_tex.alias_capacity, sizeof(Alias));
    g_tex.aliases[g_tex.alias_count++] = { xstrdup(name), xstrdup(target) };
}

static int reduction_for(bool full_detail)
{
    return full_detail ? 0 : g_tex.reduction;
}

static int flags_from_name(const char *name, bool compress)
{
    int flags = 0;
    if (strstr(name, "-repeat."))
        flags = TEXTURE_REPEAT_H | TEXTURE_REPEAT_V;
    else {
        if (strstr(name, "-hrepeat."))
            flags |= TEXTURE_REPEAT_H;
        if (strstr(name, "-vrepeat."))
            flags |= TEXTURE_REPEAT_V;
    }
    if (compress || g_tex.compress_always)
        flags |= TEXTURE_COMPRESS;
    return flags;
}

static unsigned cache_add(unsigned id, unsigned long bytes, const char *info, const char *name)
{
    g_tex.entries = (TextureEntry *)grow(g_tex.entries, g_tex.count, &g_tex.capacity, sizeof(TextureEntry));
    g_tex.entries[g_tex.count++] = { id, g_tex.generation, bytes, info ? xstrdup(info) : nullptr, xstrdup(name) };
    return id;
}

static unsigned load_picture(const char *name, Image *img, bool full_detail)
{
    // A custom chain's base is its top two thirds, not the whole picture.
    const MipRect *rects = custom_levels(img);
    int base_w = rects ? rects[0].width : img->width, base_h = rects ? rects[0].height : img->height;
    MipChain c;
    if (!chain_of(img, name, reduction_for(full_detail), &c)) {
        log_printf("Warning: unusable picture in '%.900s'\n", name);
        return 0;
    }
    if (!power_of_two(base_w) || !power_of_two(base_h))
        log_printf("Warning: Non power of 2 texture '%.950s'\n", name);
    unsigned long bytes;
    unsigned id = upload(&c, flags_from_name(name, img->compress), &bytes);
    mip_chain_free(&c);
    return id ? cache_add(id, bytes, img->info, name) : 0;
}

static void animation_free(Animation *a)
{
    for (int i = 0; i < a->frame_count; i++)
        mip_chain_free(&a->frames[i]);
    xfree(a->frames);
    xfree(a->steps);
}

static void show_frame(Animation *a, int frame)
{
    a->current = frame;
    if (!has_context())
        return;
    const MipChain &c = a->frames[frame];
    glBindTexture(GL_TEXTURE_2D, a->id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    GLenum format = c.channels == 4 ? GL_RGBA : GL_RGB;
    for (int l = 0; l < c.levels; l++)
        glTexSubImage2D(GL_TEXTURE_2D, l, 0, 0, c.width[l], c.height[l], format, GL_UNSIGNED_BYTE, c.pixels[l]);
}

static unsigned load_sequence(const char *name, ImageSequence *seq, bool full_detail)
{
    if (seq->frame_count < 1 || seq->length < 1 || !seq->frames || !seq->steps)
        return 0;
    Animation a = {};
    a.length = seq->length;
    a.frame_count = seq->frame_count;
    a.duration = seq->step_duration < 1 ? 1 : seq->step_duration;   // 0 would divide by zero
    a.loop = seq->loop;
    a.steps = (int *)xmalloc(sizeof(int) * a.length);
    for (int i = 0; i < a.length; i++)
        a.steps[i] = seq->steps[i] >= 0 && seq->steps[i] < a.frame_count ? seq->steps[i] : 0;
    a.frames = (MipChain *)xcalloc(a.frame_count, sizeof(MipChain));
    bool ok = true;
    for (int i = 0; i < a.frame_count && ok; i++)
        ok = chain_of(&seq->frames[i], name, reduction_for(full_detail), &a.frames[i]);
    unsigned long bytes = 0;
    int first = a.steps[0];
    if (ok)
        a.id = upload(&a.frames[first], flags_from_name(name, seq->frames[0].compress), &bytes);
    if (!a.id) {
        log_printf("Warning: unusable sequence '%.900s'\n", name);
        animation_free(&a);
        return 0;
    }
    a.current = first;
    g_tex.anims = (Animation *)grow(g_tex.anims, g_tex.anim_count, &g_tex.anim_capacity, sizeof(Animation));
    g_tex.anims[g_tex.anim_count++] = a;
    return cache_add(a.id, bytes, seq->frames[0].info, name);
}

static int cache_find(const char *name, bool *case_mismatch)
{
    *case_mismatch = false;
    for (int i = 0; i < g_tex.count; i++)
        if (strcmp(g_tex.entries[i].name, name) == 0)
            return i;
    for (int i = 0; i < g_tex.count; i++) {
        if (strcasecmp(g_tex.entries[i].name, name) == 0) {
            *case_mismatch = true;
            return i;
        }
    }
    return -1;
}

// Follows known aliases, then the cache, then the file; a "LINK" file adds an alias and the
// walk goes on from its target. Every hop counts once against TEXTURE_MAX_LINKS.
static unsigned load_named(const char *name, bool full_detail)
{
    char target[1024];
    snprintf(target, sizeof target, "%s", name);
    int links = 0;
    for (;;) {
        for (const char *next = alias_of(target); next; next = alias_of(target)) {
            if (++links > TEXTURE_MAX_LINKS) {
                log_printf("Warning: too many LINK aliases from '%.900s'\n", name);
                return 0;
            }
            snprintf(target, sizeof target, "%s", next);
        }
        bool mismatch;
        int at = cache_find(target, &mismatch);
        if (at >= 0) {
            if (mismatch)
                log_printf("Warning: case mismatch on '%.900s'\n", target);
            TextureEntry &e = g_tex.entries[at];
            if (e.generation != 0)      // start-up textures stay for the whole run
                e.generation = g_tex.generation;
            return e.id;
        }
        DataFile *f = open_data_file(target, "rb");
        if (!f) {
            if (g_tex.verbosity >= 1)
                log_printf("Can't open texture \"%.900s\"\n", target);
            return 0;
        }
        // Nothing larger than the driver could hold is decoded at all.
        long long budget = image_pixel_budget();
        long long side = max_texture_side();
        if (side > 0 && side * side < budget)
            image_set_pixel_budget(side * side);
        ImageFile file;
        bool ok = image_decode(f, target, &file);
        image_set_pixel_budget(budget);
        close_data_file(f);
        if (!ok)
            return 0;
        if (file.kind == IMAGE_ALIAS) {
            // The alias is remembered and followed at the top of the next round.
            alias_add(target, file.alias);
            image_file_free(&file);
            continue;
        }
        unsigned id = 0;
        if (file.kind == IMAGE_PICTURE)
            id = load_picture(target, &file.image, full_detail);
        else if (file.kind == IMAGE_SEQUENCE)
            id = load_sequence(target, &file.sequence, full_detail);
        image_file_free(&file);
        return id;
    }
}

unsigned texture_load(const char *name)
{
    if (!name || !*name || !has_context())
        return 0;
    bool full_detail = name[0] == '!';
    if (full_detail)
        name++;
    if (!*name)
        return 0;
    return load_named(name, full_detail);
}

const Image *texture_image(const char *name)
{
    if (!name || !*name)
        return nullptr;
    for (int i = 0; i < g_tex.image_count; i++) {
        CachedImage &c = *g_tex.images[i];
        if (strcmp(c.name, name) == 0) {
            if (c.generation != 0)
                c.generation = g_tex.generation;
            return &c.image;
        }
    }
    Image img;
    if (!image_read(name, &img))
        return nullptr;
    g_tex.images = (CachedImage **)grow(g_tex.images, g_tex.image_count, &g_tex.image_capacity, sizeof(CachedImage *));
    CachedImage *c = (CachedImage *)xmalloc(sizeof(CachedImage));
    *c = { xstrdup(name), g_tex.generation, img };
    g_tex.images[g_tex.image_count++] = c;
    return &c->image;
}

void texture_begin_session(void)
{
    g_tex.generation++;
}

int texture_generation(void)
{
    return g_tex.generation;
}

static void forget_animation(unsigned id)
{
    for (int i = 0; i < g_tex.anim_count; i++) {
        if (g_tex.anims[i].id == id) {
            animation_free(&g_tex.anims[i]);
            g_tex.anims[i] = g_tex.anims[--g_tex.anim_count];
            return;
        }
    }
}

void texture_release_stale(bool all)
{
    int kept = 0;
    for (int i = 0; i < g_tex.count; i++) {
        TextureEntry e = g_tex.entries[i];
        if (!all && (e.generation == 0 || e.generation == g_tex.generation)) {
            g_tex.entries[kept++] = e;
            continue;
        }
        if (g_tex.verbosity >= 1)
            log_printf("deleting tid %u (%.900s)\n", e.id, e.name);
        forget_animation(e.id);
        texture_delete(e.id);
        xfree(e.info);
        xfree(e.name);
    }
    g_tex.count = kept;
    kept = 0;
    for (int i = 0; i < g_tex.image_count; i++) {
        CachedImage *c = g_tex.images[i];
        if (!all && (c->generation == 0 || c->generation == g_tex.generation)) {
            g_tex.images[kept++] = c;
            continue;
        }
        if (g_tex.verbosity >= 1)
            log_printf("deleting image %.900s\n", c->name);
        image_free(&c->image);
        xfree(c->name);
        xfree(c);
    }
    g_tex.image_count = kept;
}

// ---------------------------------------------------------------------------------------
// Animation

void texture_animate(double now)
{
    for (int i = 0; i < g_tex.anim_count; i++) {
        Animation &a = g_tex.anims[i];
        if (a.paused)
            continue;
        double ms = (now - a.start) * 1000.0;
        long long step = ms > 0 ? (long long)ms / a.duration : 0;
        if (a.loop)
            step %= a.length;
        else if (step > a.length - 1)
            step = a.length - 1;
        int frame = a.steps[step];
        if (frame != a.current)
            show_frame(&a, frame);
    }
}

static Animation *animation_of(unsigned id)
{
    for (int i = 0; i < g_tex.anim_count; i++)
        if (g_tex.anims[i].id == id)
            return &g_tex.anims[i];
    return nullptr;
}

void texture_anim_start(unsigned id, double start)
{
    Animation *a = animation_of(id);
    if (a) {
        a->start = start;
        a->paused = false;
    }
}

void texture_anim_stop(unsigned id)
{
    Animation *a = animation_of(id);
    if (a)
        a->paused = true;
}

int texture_anim_frame(unsigned id)
{
    Animation *a = animation_of(id);
    return a ? a->current : -1;
}

// ---------------------------------------------------------------------------------------
// Settings and shutdown

unsigned long texture_memory(void)
{
    return g_tex.memory;
}

int texture_cache_count(void)
{
    return g_tex.count;
}

void texture_set_detail(int model_texture_detail)
{
    int r = 10 - model_texture_detail;
    g_tex.reduction = r < 0 ? 0 : r > 10 ? 10 : r;
}

void texture_set_compress_always(bool always)
{
    g_tex.compress_always = always;
}

void texture_set_verbosity(int level)
{
    g_tex.verbosity = level;
}

// The records only: the GL textures stay until textures_delete_all, so the loading screen
// can still show its picture through the rest of shutdown.
void texture_cache_free(void)
{
    for (int i = 0; i < g_tex.count; i++) {
        xfree(g_tex.entries[i].info);
        xfree(g_tex.entries[i].name);
    }
    for (int i = 0; i < g_tex.image_count; i++) {
        image_free(&g_tex.images[i]->image);
        xfree(g_tex.images[i]->name);
        xfree(g_tex.images[i]);
    }
    for (int i = 0; i < g_tex.alias_count; i++) {
        xfree(g_tex.aliases[i].name);
        xfree(g_tex.aliases[i].target);
    }
    for (int i = 0; i < g_tex.anim_count; i++)
        animation_free(&g_tex.anims[i]);
    xfree(g_tex.entries);
    xfree(g_tex.aliases);
    xfree(g_tex.anims);
    xfree(g_tex.images);
    g_tex.entries = nullptr;
    g_tex.aliases = nullptr;
    g_tex.anims = nullptr;
    g_tex.images = nullptr;
    g_tex.count = g_tex.capacity = g_tex.alias_count = g_tex.alias_capacity = 0;
    g_tex.anim_count = g_tex.anim_capacity = g_tex.image_count = g_tex.image_capacity = 0;
}

void textures_delete_all(void)
{
    texture_cache_free();
    if (has_context()) {
        for (int i = 0; i < g_tex.uploaded_count; i++) {
            GLuint id = g_tex.uploaded[i].id;
            glDeleteTextures(1, &id);
        }
    }
    xfree(g_tex.uploaded);
    g_tex.uploaded = nullptr;
    g_tex.uploaded_count = g_tex.uploaded_capacity = 0;
    g_tex.memory = 0;
    g_tex.clamp_mode = 0;
    g_tex.max_side = 0;
}
