// Image decoding by magic: PPM/PGM, J6/J7, ".seq" sequences, "LINK" aliases, info text and
// its keywords. PNG reading and the writers live in png_io.cpp.
#include "render/image/image.h"

#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "platform/log.h"
#include "vfs/vfs.h"

enum {
    k_max_file = 256 << 20,         // largest image file read into memory (8192² RGB PPM fits)
    k_max_info = 1 << 20,           // largest ".info" sidecar kept
    k_max_seq_pixels = 1 << 30,     // all frames of one sequence together, in bytes
};

static struct {
    long long pixel_budget;
} g_image = { IMAGE_MAX_PIXELS };

void image_set_pixel_budget(long long pixels)
{
    g_image.pixel_budget = pixels <= 0 || pixels > IMAGE_MAX_PIXELS ? (long long)IMAGE_MAX_PIXELS : pixels;
}

long long image_pixel_budget(void)
{
    return g_image.pixel_budget;
}

bool image_pixels_allowed(long long width, long long height, const char *name)
{
    if (width * height <= g_image.pixel_budget)
        return true;
    log_printf("Can't load %.900s: %lldx%lld is too large a picture (at most %lld pixels)\n", name ? name : "image",
               width, height, g_image.pixel_budget);
    return false;
}

// A read cursor over bytes in memory.
struct Cursor {
    const unsigned char *p;
    size_t n, pos;
};

static bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

static int peek(const Cursor *c)
{
    return c->pos < c->n ? c->p[c->pos] : -1;
}

static void skip_space(Cursor *c)
{
    while (c->pos < c->n && is_space(c->p[c->pos]))
        c->pos++;
}

// White space and "#" comments through the end of their line, any number of them.
static void skip_space_comments(Cursor *c)
{
    for (;;) {
        skip_space(c);
        if (peek(c) != '#')
            return;
        while (c->pos < c->n && c->p[c->pos] != '\n')
            c->pos++;
    }
}

// A white-space-delimited token of at most max characters; false at the end or when longer.
static bool read_token(Cursor *c, char *out, int max)
{
    skip_space(c);
    int len = 0;
    while (c->pos < c->n && !is_space(c->p[c->pos])) {
        if (len == max)
            return false;
        out[len++] = (char)c->p[c->pos++];
    }
    out[len] = 0;
    return len > 0;
}

// A decimal number after comments; -1 when there is none, values above limit give limit + 1.
static long read_number(Cursor *c, long limit)
{
    skip_space_comments(c);
    int ch = peek(c);
    if (ch < '0' || ch > '9')
        return -1;
    long v = 0;
    while ((ch = peek(c)) >= '0' && ch <= '9') {
        if (v <= limit)
            v = v * 10 + (ch - '0');
        c->pos++;
    }
    return v > limit ? limit + 1 : v;
}

// A signed decimal integer after white space; false when there is none.
static bool read_int(Cursor *c, long long *out)
{
    skip_space(c);
    bool negative = false;
    if (peek(c) == '-' || peek(c) == '+') {
        negative = peek(c) == '-';
        c->pos++;
    }
    int ch = peek(c);
    if (ch < '0' || ch > '9')
        return false;
    long long v = 0;
    while ((ch = peek(c)) >= '0' && ch <= '9') {
        if (v < (1LL << 40))
            v = v * 10 + (ch - '0');
        c->pos++;
    }
    *out = negative ? -v : v;
    return true;
}

static bool size_ok(long w, long h)
{
    return w >= 1 && w <= IMAGE_MAX_SIDE && h >= 1 && h <= IMAGE_MAX_SIDE;
}

// --- PPM / PGM ---

// grey: the PGM rules (binary when the magic's second character is "5"); otherwise "P6" is
// binary and "P3" text. picture: a texture's picture, held to the pixel budget (name for the
// message); the terrain's images are not.
static unsigned char *pnm_decode(Cursor *c, bool grey, bool picture, const char *name, int *width, int *height)
{
    const char *dims = grey ? "Can't get PGM dimensions\n" : "Can't get PPM dimensions\n";
    char magic[16];
    if (!read_token(c, magic, 15)) {
        log_printf("%s", dims);
        return nullptr;
    }
    bool binary = grey ? magic[1] == '5' : strcmp(magic, "P6") == 0;
    if (!grey && strcmp(magic, "P6") != 0 && strcmp(magic, "P3") != 0) {
        log_printf("%s", dims);
        return nullptr;
    }
    long w = read_number(c, IMAGE_MAX_SIDE);
    long h = read_number(c, IMAGE_MAX_SIDE);
    long maxval = read_number(c, 65535);
    if (!size_ok(w, h) || maxval < 1 || maxval > 65535 || !is_space(peek(c))) {
        log_printf("%s", dims);
        return nullptr;
    }
    if (picture && !image_pixels_allowed(w, h, name))
        return nullptr;
    c->pos++;                               // the one white-space character after maxval
    int channels = grey ? 1 : 3;
    size_t samples = (size_t)w * (size_t)h * (size_t)channels;
    // Netpbm stores samples above 255 in two bytes, most significant first.
    size_t sample_bytes = binary && maxval > 255 ? 2 : 1;
    // Every sample takes at least one byte of the file: no allocation beyond what it can fill.
    if (samples > (c->n - c->pos) / sample_bytes) {
        log_printf("%s data ends early\n", grey ? "PGM" : "PPM");
        return nullptr;
    }
    unsigned char *out = (unsigned char *)xmalloc(samples);
    for (size_t i = 0; i < samples; i++) {
        long v;
        if (binary) {
            v = c->p[c->pos++];
            if (sample_bytes == 2)
                v = v << 8 | c->p[c->pos++];
        } else {
            skip_space_comments(c);
            v = read_number(c, maxval);
            if (v < 0) {
                log_printf("%s data ends early\n", grey ? "PGM" : "PPM");
                xfree(out);
                return nullptr;
            }
        }
        if (v > maxval)
            v = maxval;
        out[i] = (unsigned char)(maxval == 255 ? v : v * 255 / maxval);
    }
    *width = (int)w;
    *height = (int)h;
    return out;
}

unsigned char *pnm_decode_memory(const unsigned char *data, size_t n, bool grey, int *width, int *height)
{
    Cursor c = { data, n, 0 };
    return pnm_decode(&c, grey, false, nullptr, width, height);
}

// --- J6 / J7 ---

static int clamp255(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

static bool jpred_decode(Cursor *c, const char *name, Image *out)
{
    memset(out, 0, sizeof *out);
    char magic[16];
    if (!read_token(c, magic, 15) || (strcmp(magic, "J6") != 0 && strcmp(magic, "J7") != 0)) {
        log_printf("Can't get PPM dimensions\n");
        return false;
    }
    int stored = magic[1] == '7' ? 4 : 3;
    long w = read_number(c, IMAGE_MAX_SIDE);
    long h = read_number(c, IMAGE_MAX_SIDE);
    if (!size_ok(w, h) || !is_space(peek(c))) {
        log_printf("Can't get PPM dimensions\n");
        return false;
    }
    if (!image_pixels_allowed(w, h, name))
        return false;
    c->pos++;
    size_t pixels = (size_t)w * (size_t)h;
    if (pixels > (c->n - c->pos) / (size_t)stored) {
        log_printf("%.900s: %s data ends early\n", name ? name : "image", magic);
        return false;
    }
    unsigned char *px = (unsigned char *)xmalloc(pixels * 4);
    const unsigned char *src = c->p + c->pos;
    for (long y = 0; y < h; y++) {
        for (long x = 0; x < w; x++) {
            unsigned char *d = px + ((size_t)y * (size_t)w + (size_t)x) * 4;
            for (int ch = 0; ch < 4; ch++) {
                int predict;
                if (x == 0 && y == 0)
                    predict = 0;
                else if (y == 0)
                    predict = d[ch - 4];
                else if (x == 0)
                    predict = d[ch - (long)w * 4];
                else
                    predict = clamp255(d[ch - 4] + d[ch - (long)w * 4] - d[ch - (long)w * 4 - 4]);
                int delta = ch < stored ? *src++ : 0;
                d[ch] = (unsigned char)(predict + delta);
            }
        }
    }
    c->pos += pixels * (size_t)stored;
    out->width = (int)w;
    out->height = (int)h;
    out->channels = stored;
    out->pixel_bytes = 4;
    out->pixels = px;
    return true;
}

bool jpred_decode_memory(const unsigned char *data, size_t n, const char *name, Image *out)
{
    Cursor c = { data, n, 0 };
    return jpred_decode(&c, name, out);
}

// --- whole files ---

// Reads the rest of a stream into memory, up to limit bytes; null when longer or empty.
static unsigned char *read_all(DataFile *f, size_t limit, size_t *n)
{
    size_t room = 65536, len = 0;
    unsigned char *buf = (unsigned char *)xmalloc(room);
    for (;;) {
        if (len == room) {
            if (room >= limit + 1) {
                xfree(buf);
                return nullptr;
            }
            room = room * 2 > limit + 1 ? limit + 1 : room * 2;
            buf = (unsigned char *)xrealloc(buf, room);
        }
        size_t got = data_read(f, buf + len, room - len);
        if (got == 0)
            break;
        len += got;
    }
    if (len > limit) {
        xfree(buf);
        return nullptr;
    }
    *n = len;
    return buf;
}

// Opens a name as given, then as an "@" name.
static DataFile *open_image(const char *name)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f && name[0] != '@' && strlen(name) < 1023) {
        char at[1025];
        snprintf(at, sizeof at, "@%s", name);
        f = open_data_file(at, "rb");
    }
    return f;
}

// --- sequences ---

static bool same_shape(const Image *a, const Image *b, int index)
{
    if (a->width != b->width || a->height != b->height) {
        log_printf("Width/height mismatch reading .seq\n");
        return false;
    }
    if (a->channels != b->channels || a->pixel_bytes != b->pixel_bytes) {
        log_printf("Depth mismatch reading .seq\n");
        return false;
    }
    (void)index;
    return true;
}

static void free_sequence(ImageSequence *s)
{
    if (s->frames)
        for (int i = 0; i < s->frame_count; i++)
            image_free(&s->frames[i]);
    xfree(s->frames);
    xfree(s->steps);
    memset(s, 0, sizeof *s);
}

static bool seq_decode(Cursor *c, const char *name, ImageSequence *out)
{
    memset(out, 0, sizeof *out);
    char magic[16];
    if (!read_token(c, magic, 15) || strcmp(magic, "ANIM1") != 0) {
        log_printf("Can't read %.900s\n", name ? name : "sequence");
        return false;
    }
    long long q, p, step, loop;
    if (!read_int(c, &q) || !read_int(c, &p) || !read_int(c, &step) || !read_int(c, &loop)) {
        log_printf("EOF while reading .seq\n");
        return false;
    }
    if (q < 1 || q > SEQ_MAX_STEPS || p < 1 || p > SEQ_MAX_FRAMES || step > 0x7fffffff) {
        log_printf("Bad .seq header in %.900s\n", name ? name : "sequence");
        return false;
    }
    out->length = (int)q;
    out->frame_count = (int)p;
    out->step_duration = step < 1 ? 1 : (int)step;     // a step of 0 would divide by zero
    out->loop = loop != 0;
    out->steps = (int *)xmalloc((size_t)q * sizeof(int));
    for (int i = 0; i < q; i++) {
        long long v;
        if (!read_int(c, &v)) {
            log_printf("EOF while reading .seq\n");
            goto fail;
        }
        if (v < 0 || v >= p) {
            log_printf("Bad frame number %lld in %.900s\n", v, name ? name : "sequence");
            goto fail;
        }
        out->steps[i] = (int)v;
    }
    out->frames = (Image *)xcalloc((size_t)p, sizeof(Image));
    for (int i = 0; i < p; i++) {
        char word[16];
        skip_space(c);
        size_t at = c->pos;
        if (!read_token(c, word, 15)) {
            log_printf("EOF while reading .seq\n");
            goto fail;
        }
        Image *frame = &out->frames[i];
        if (strcmp(word, "PNG") == 0) {
            while (peek(c) == ' ' || peek(c) == '\t')
                c->pos++;
            if (peek(c) == '\r')
                c->pos++;
            if (peek(c) == '\n')
                c->pos++;
            char file[1024];
            int len = 0;
            while (c->pos < c->n && c->p[c->pos] != '\n') {
                if (len < 1023)
                    file[len++] = (char)c->p[c->pos];
                c->pos++;
            }
            while (len > 0 && is_space((unsigned char)file[len - 1]))
                len--;
            file[len] = 0;
            DataFile *f = len ? open_image(file) : nullptr;
            size_t size = 0;
            unsigned char *bytes = f ? read_all(f, k_max_file, &size) : nullptr;
            close_data_file(f);
            if (!bytes) {
                log_printf("Can't read %.900s\n", file);
                goto fail;
            }
            bool ok = png_decode_memory(bytes, size, file, frame);
            xfree(bytes);
            if (!ok) {
                log_printf("Error reading .seq frame %d\n", i);
                goto fail;
            }
        } else {
            c->pos = at;
            if (!jpred_decode(c, name, frame)) {
                log_printf("Error reading .seq frame %d\n", i);
                goto fail;
            }
        }
        if (i > 0 && !same_shape(&out->frames[0], frame, i))
            goto fail;
        if (i == 0 && (size_t)frame->width * (size_t)frame->height * (size_t)frame->pixel_bytes * (size_t)p >
                          (size_t)k_max_seq_pixels) {
            log_printf("Error reading .seq frame %d\n", i);
            goto fail;
        }
    }
    return true;
fail:
    free_sequence(out);
    return false;
}

bool seq_decode_memory(const unsigned char *data, size_t n, const char *name, ImageSequence *out)
{
    Cursor c = { data, n, 0 };
    return seq_decode(&c, name, out);
}

// --- info text ---

// The custom chain: base level in the top two thirds; smaller levels in the bottom third,
// stacked down a column and starting a new column to the right when one would pass the bottom.
static bool layout_custom_mips(Image *img)
{
    int w = img->width, h = img->height;
    int base_h = h * 2 / 3;
    if (base_h < 1 || base_h * 3 != h * 2)
        return false;
    MipRect rects[64];
    int count = 0;
    rects[count++] = { 0, 0, w, base_h };
    int lw = w, lh = base_h;
    int x = 0, y = base_h, column_w = 0;
    while (lw > 1 || lh > 1) {
        lw = lw > 1 ? lw / 2 : 1;
        lh = lh > 1 ? lh / 2 : 1;
        if (y + lh > h) {
            x += column_w;
            y = base_h;
            column_w = 0;
        }
        if (x + lw > w || y + lh > h || count == 64)
            return false;
        rects[count++] = { x, y, lw, lh };
        y += lh;
        if (lw > column_w)
            column_w = lw;
    }
    img->mip_levels = count;
    img->mip_rects = (MipRect *)xmalloc((size_t)count * sizeof(MipRect));
    memcpy(img->mip_rects, rects, (size_t)count * sizeof(MipRect));
    return true;
}

void image_apply_info(Image *img, const char *name)
{
    xfree(img->mip_rects);
    img->mip_rects = nullptr;
    img->mip_levels = 0;
    img->mip_max_alpha = img->compress = false;
    if (!img->info)
        return;
    img->mip_max_alpha = strstr(img->info, "[mip_max_alpha]") != nullptr;
    img->compress = strstr(img->info, "[compress]") != nullptr;
    if (strstr(img->info, "[mip_custom]") && !layout_custom_mips(img))
        log_printf("Warning: Invalid height for custom MIP map in '%.950s'\n", name ? name : "");
}

// Appends the "name.info" sidecar to the info text.
static void add_sidecar(Image *img, const char *name)
{
    if (!name || strlen(name) > 1017)
        return;
    char path[1024];
    snprintf(path, sizeof path, "%s.info", name);
    DataFile *f = open_data_file(path, "rb");
    if (!f)
        return;
    size_t n = 0;
    unsigned char *text = read_all(f, k_max_info, &n);
    close_data_file(f);
    if (!text)
        return;
    size_t old = img->info ? strlen(img->info) : 0;
    char *joined = (char *)xmalloc(old + n + 1);
    if (old)
        memcpy(joined, img->info, old);
    memcpy(joined + old, text, n);
    joined[old + n] = 0;
    xfree(text);
    xfree(img->info);
    img->info = joined;
}

// --- dispatch ---

static bool decode_picture_ppm(Cursor *c, const char *name, Image *out)
{
    memset(out, 0, sizeof *out);
    int w, h;
    unsigned char *px = pnm_decode(c, false, true, name, &w, &h);
    if (!px)
        return false;
    out->width = w;
    out->height = h;
    out->channels = out->pixel_bytes = 3;
    out->pixels = px;
    return true;
}

static bool decode_alias(Cursor *c, ImageFile *out)
{
    char magic[16];
    read_token(c, magic, 15);
    skip_space(c);
    size_t len = c->n - c->pos;
    if (len > 1023)
        len = 1023;
    memcpy(out->alias, c->p + c->pos, len);
    while (len > 0 && is_space((unsigned char)out->alias[len - 1]))
        len--;
    out->alias[len] = 0;
    if (!len || memchr(out->alias, 0, len)) {
        log_printf("Can't read %.900s\n", "LINK");
        return false;
    }
    return true;
}

bool image_decode_memory(const unsigned char *data, size_t n, const char *name, ImageFile *out)
{
    memset(out, 0, sizeof *out);
    Cursor c = { data, n, 0 };
    char magic[16];
    if (!read_token(&c, magic, 15))
        magic[0] = 0;
    c.pos = 0;
    bool ok;
    if (strcmp(magic, "J7") == 0 || strcmp(magic, "J6") == 0) {
        out->kind = IMAGE_PICTURE;
        ok = jpred_decode(&c, name, &out->image);
    } else if (strcmp(magic, "P3") == 0 || strcmp(magic, "P6") == 0) {
        out->kind = IMAGE_PICTURE;
        ok = decode_picture_ppm(&c, name, &out->image);
    } else if (strcmp(magic, "ANIM1") == 0) {
        out->kind = IMAGE_SEQUENCE;
        ok = seq_decode(&c, name, &out->sequence);
    } else if (strcmp(magic, "LINK") == 0) {
        out->kind = IMAGE_ALIAS;
        ok = decode_alias(&c, out);
    } else {
        out->kind = IMAGE_PICTURE;
        ok = png_decode_memory(data, n, name, &out->image);
    }
    if (!ok) {
        image_file_free(out);
        return false;
    }
    return true;
}

bool image_decode(DataFile *f, const char *name, ImageFile *out)
{
    memset(out, 0, sizeof *out);
    if (!f)
        return false;
    size_t n = 0;
    unsigned char *data = read_all(f, k_max_file, &n);
    if (!data) {
        log_printf("Can't read %.900s\n", name ? name : "image");
        return false;
    }
    bool ok = image_decode_memory(data, n, name, out);
    xfree(data);
    if (ok && out->kind == IMAGE_PICTURE) {
        add_sidecar(&out->image, name);
        image_apply_info(&out->image, name);
    }
    return ok;
}

void image_free(Image *img)
{
    if (!img)
        return;
    xfree(img->pixels);
    xfree(img->info);
    xfree(img->mip_rects);
    memset(img, 0, sizeof *img);
}

void image_file_free(ImageFile *f)
{
    if (!f)
        return;
    image_free(&f->image);
    free_sequence(&f->sequence);
    f->kind = IMAGE_NONE;
    f->alias[0] = 0;
}

bool image_read(const char *name, Image *out)
{
    memset(out, 0, sizeof *out);
    DataFile *f = name ? open_image(name) : nullptr;
    if (!f) {
        log_printf("Can't read %.900s\n", name ? name : "");
        return false;
    }
    ImageFile file;
    bool ok = image_decode(f, name, &file);
    close_data_file(f);
    if (!ok)
        return false;
    if (file.kind != IMAGE_PICTURE) {
        log_printf("Can't read %.900s\n", name);
        image_file_free(&file);
        return false;
    }
    *out = file.image;
    if (out->pixel_bytes != out->channels) {
        // J6 keeps a predicted alpha byte; callers of image_read get packed RGB.
        size_t count = (size_t)out->width * (size_t)out->height;
        for (size_t i = 0; i < count; i++)
            memmove(out->pixels + i * 3, out->pixels + i * 4, 3);
        out->pixels = (unsigned char *)xrealloc(out->pixels, count * 3);
        out->pixel_bytes = 3;
    }
    return true;
}

static unsigned char *pnm_read(DataFile *f, bool grey, int *width, int *height)
{
    size_t n = 0;
    unsigned char *data = f ? read_all(f, k_max_file, &n) : nullptr;
    if (!data) {
        log_printf(grey ? "Can't get PGM dimensions\n" : "Can't get PPM dimensions\n");
        return nullptr;
    }
    unsigned char *px = pnm_decode_memory(data, n, grey, width, height);
    xfree(data);
    return px;
}

unsigned char *ppm_read(DataFile *f, int *width, int *height)
{
    return pnm_read(f, false, width, height);
}

unsigned char *pgm_read(DataFile *f, int *width, int *height)
{
    return pnm_read(f, true, width, height);
}

uint16_t *png_read16(DataFile *f, int *width, int *height)
{
    size_t n = 0;
    unsigned char *data = f ? read_all(f, k_max_file, &n) : nullptr;
    if (!data)
        return nullptr;
    uint16_t *px = png16_decode_memory(data, n, "height image", width, height);
    xfree(data);
    return px;
}

bool ppm_write(const char *path, const unsigned char *rgb, int width, int height)
{
    if (!path || !rgb || !size_ok(width, height))
        return false;
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    size_t row = (size_t)width * 3;
    bool ok = data_printf(f, "P6\n%d %d\n255\n", width, height) > 0;
    for (int y = 0; ok && y < height; y++)
        ok = data_write(f, rgb + row * (size_t)y, row) == row;
    ok = data_flush(f) && ok;
    close_data_file(f);
    return ok;
}
