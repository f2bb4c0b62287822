// PNG through libpng: decoding from memory (8-bit RGB/RGBA textures, 16-bit grey height
// images) and the writers. libpng reports errors by longjmp: the functions that call it hold
// only plain pointers, kept in a record that outlives the jump, so nothing needs unwinding.
#include <png.h>
#include <setjmp.h>
#include <string.h>

#include "common/mem.h"
#include "platform/log.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

enum {
    k_chunk_max = 8 << 20,          // largest ancillary chunk libpng may allocate
    k_max_text = 1 << 20,           // text chunks kept as info text, in total
    // Deflate expands at most about 1032:1; image data cannot outgrow the file by more.
    k_inflate_ratio = 1100,
};

struct PngSource {
    const unsigned char *data;
    size_t n, pos;
};

// Everything a decode touches after setjmp lives here, so the jump loses nothing.
struct PngJob {
    png_structp png;
    png_infop info;
    unsigned char *pixels;
    png_bytep *rows;
    char *text;
    char message[256];
};

static void on_error(png_structp png, png_const_charp msg)
{
    PngJob *job = (PngJob *)png_get_error_ptr(png);
    snprintf(job->message, sizeof job->message, "%s", msg ? msg : "unknown error");
    png_longjmp(png, 1);
}

static void on_warning(png_structp, png_const_charp)
{
    // Warnings (bad CRCs in ancillary chunks, odd gamma) never stop a texture.
}

static void read_from_memory(png_structp png, png_bytep out, png_size_t len)
{
    PngSource *src = (PngSource *)png_get_io_ptr(png);
    if (len > src->n - src->pos)
        png_error(png, "file ends early");
    memcpy(out, src->data + src->pos, len);
    src->pos += len;
}

static void job_free(PngJob *job)
{
    if (job->png)
        png_destroy_read_struct(&job->png, job->info ? &job->info : nullptr, nullptr);
    xfree(job->rows);
    xfree(job->pixels);
    xfree(job->text);
    xfree(job);
}

static bool job_start(PngJob *job, PngSource *src)
{
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, on_error, on_warning);
    if (!job->png)
        return false;
    job->info = png_create_info_struct(job->png);
    if (!job->info)
        return false;
    png_set_read_fn(job->png, src, read_from_memory);
    png_set_user_limits(job->png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
    png_set_chunk_cache_max(job->png, 1000);
    png_set_chunk_malloc_max(job->png, k_chunk_max);
    return true;
}

// Allocates the pixel buffer and row pointers once the output row size is known; false when the
// image claims more data than the file could inflate to.
static bool job_rows(PngJob *job, size_t n, png_uint_32 height, size_t row_bytes)
{
    if (row_bytes == 0 || height == 0 || row_bytes * height / k_inflate_ratio > n + 65536)
        return false;
    job->pixels = (unsigned char *)xmalloc(row_bytes * height);
    job->rows = (png_bytep *)xmalloc(height * sizeof(png_bytep));
    for (png_uint_32 y = 0; y < height; y++)
        job->rows[y] = job->pixels + row_bytes * y;
    return true;
}

// The values of every text chunk, one after the other.
static void collect_text(PngJob *job)
{
    png_textp chunks = nullptr;
    int count = 0;
    png_get_text(job->png, job->info, &chunks, &count);
    size_t total = 0;
    for (int i = 0; i < count; i++)
        total += chunks[i].text ? strlen(chunks[i].text) : 0;
    if (count == 0 || total == 0 || total > k_max_text)
        return;
    job->text = (char *)xmalloc(total + 1);
    size_t at = 0;
    for (int i = 0; i < count; i++) {
        if (!chunks[i].text)
            continue;
        size_t len = strlen(chunks[i].text);
        memcpy(job->text + at, chunks[i].text, len);
        at += len;
    }
    job->text[at] = 0;
}

// Walks the chunk list: every chunk must lie within the file. libpng would otherwise allocate
// and clear a buffer of the claimed length before noticing that the bytes are not there.
static bool chunks_fit(const unsigned char *data, size_t n)
{
    size_t pos = 8;
    while (pos + 8 <= n) {
        size_t len = (size_t)data[pos] << 24 | (size_t)data[pos + 1] << 16 | (size_t)data[pos + 2] << 8 | data[pos + 3];
        if (len > n - pos - 8 || n - pos - 8 - len < 4)
            return false;
        if (memcmp(data + pos + 4, "IEND", 4) == 0)
            return true;
        pos += 12 + len;
    }
    return false;
}

// The checks before libpng sees the bytes; logs and returns false for a file that cannot be a PNG.
static bool png_precheck(const unsigned char *data, size_t n, const char *name)
{
    if (n < 8 || png_sig_cmp(data, 0, 8) != 0) {
        log_printf("Can't read %.900s: not a PNG file\n", name ? name : "image");
        return false;
    }
    if (!chunks_fit(data, n)) {
        log_printf("Can't read %.900s: PNG file truncated or damaged\n", name ? name : "image");
        return false;
    }
    return true;
}

bool png_decode_memory(const unsigned char *data, size_t n, const char *name, Image *out)
{
    memset(out, 0, sizeof *out);
    PngSource src = { data, n, 0 };
    if (!png_precheck(data, n, name))
        return false;
    // On the heap, so that the fields libpng's longjmp skips over keep their values.
    PngJob &job = *(PngJob *)xcalloc(1, sizeof(PngJob));
    png_colorp palette = nullptr;
    int palette_size = 0;
    if (!job_start(&job, &src)) {
        job_free(&job);
        return false;
    }
    if (setjmp(png_jmpbuf(job.png))) {
        log_printf("Can't read %.900s: %s\n", name ? name : "image", job.message);
        job_free(&job);
        return false;
    }
    png_read_info(job.png, job.info);
    png_uint_32 w = png_get_image_width(job.png, job.info), h = png_get_image_height(job.png, job.info);
    if (!image_pixels_allowed(w, h, name)) {
        job_free(&job);
        return false;
    }
    int type = png_get_color_type(job.png, job.info), depth = png_get_bit_depth(job.png, job.info);
    // Palette images are expanded here rather than by libpng, which would turn a
    // transparency chunk into alpha.
    if (type == PNG_COLOR_TYPE_PALETTE) {
        if (!png_get_PLTE(job.png, job.info, &palette, &palette_size) || palette_size <= 0)
            png_error(job.png, "palette missing");
        if (depth < 8)
            png_set_packing(job.png);
    } else {
        if ((type & PNG_COLOR_MASK_COLOR) == 0) {
            if (depth < 8)
                png_set_expand_gray_1_2_4_to_8(job.png);
            png_set_gray_to_rgb(job.png);
        }
        if (depth == 16)
            png_set_strip_16(job.png);
    }
    png_set_interlace_handling(job.png);
    png_read_update_info(job.png, job.info);
    size_t row_bytes = png_get_rowbytes(job.png, job.info);
    int channels = type == PNG_COLOR_TYPE_PALETTE ? 1 : png_get_channels(job.png, job.info);
    if ((channels != 1 && channels != 3 && channels != 4) || row_bytes != (size_t)w * (size_t)channels)
        png_error(job.png, "unexpected pixel layout");
    if (!job_rows(&job, n, h, row_bytes))
        png_error(job.png, "image data larger than the file can hold");
    png_read_image(job.png, job.rows);
    png_read_end(job.png, job.info);
    collect_text(&job);

    if (type == PNG_COLOR_TYPE_PALETTE) {
        size_t count = (size_t)w * h;
        unsigned char *rgb = (unsigned char *)xmalloc(count * 3);
        for (size_t i = 0; i < count; i++) {
            int index = job.pixels[i];
            png_color c = index < palette_size ? palette[index] : png_color{ 0, 0, 0 };
            rgb[i * 3] = c.red;
            rgb[i * 3 + 1] = c.green;
            rgb[i * 3 + 2] = c.blue;
        }
        xfree(job.pixels);
        job.pixels = rgb;
        channels = 3;
    }
    out->width = (int)w;
    out->height = (int)h;
    out->channels = out->pixel_bytes = channels;
    out->pixels = job.pixels;
    out->info = job.text;
    job.pixels = nullptr;
    job.text = nullptr;
    job_free(&job);
    return true;
}

uint16_t *png16_decode_memory(const unsigned char *data, size_t n, const char *name, int *width, int *height)
{
    PngSource src = { data, n, 0 };
    if (!png_precheck(data, n, name))
        return nullptr;
    PngJob &job = *(PngJob *)xcalloc(1, sizeof(PngJob));
    if (!job_start(&job, &src)) {
        job_free(&job);
        return nullptr;
    }
    if (setjmp(png_jmpbuf(job.png))) {
        log_printf("Can't read %.900s: %s\n", name ? name : "image", job.message);
        job_free(&job);
        return nullptr;
    }
    png_read_info(job.png, job.info);
    png_uint_32 w = png_get_image_width(job.png, job.info), h = png_get_image_height(job.png, job.info);
    int type = png_get_color_type(job.png, job.info);
    png_set_expand(job.png);
    if (type & PNG_COLOR_MASK_ALPHA || png_get_valid(job.png, job.info, PNG_INFO_tRNS))
        png_set_strip_alpha(job.png);
    if (type & PNG_COLOR_MASK_COLOR)
        png_set_rgb_to_gray_fixed(job.png, 1, -1, -1);
    png_set_expand_16(job.png);
    png_set_swap(job.png);                  // host order; the game runs on little-endian machines
    png_set_interlace_handling(job.png);
    png_read_update_info(job.png, job.info);
    size_t row_bytes = png_get_rowbytes(job.png, job.info);
    if (png_get_channels(job.png, job.info) != 1 || row_bytes != (size_t)w * 2)
        png_error(job.png, "unexpected pixel layout");
    if (!job_rows(&job, n, h, row_bytes))
        png_error(job.png, "image data larger than the file can hold");
    png_read_image(job.png, job.rows);
    png_read_end(job.png, nullptr);
    uint16_t *grey = (uint16_t *)job.pixels;
    job.pixels = nullptr;
    job_free(&job);
    *width = (int)w;
    *height = (int)h;
    return grey;
}

// --- writing ---

struct PngWriteJob {
    png_structp png;
    png_infop info;
    DataFile *file;
    png_bytep *rows;
    char message[256];
};

static void on_write_error(png_structp png, png_const_charp msg)
{
    PngWriteJob *job = (PngWriteJob *)png_get_error_ptr(png);
    snprintf(job->message, sizeof job->message, "%s", msg ? msg : "unknown error");
    png_longjmp(png, 1);
}

static void write_to_file(png_structp png, png_bytep data, png_size_t len)
{
    PngWriteJob *job = (PngWriteJob *)png_get_io_ptr(png);
    if (data_write(job->file, data, len) != len)
        png_error(png, "write failed");
}

static void flush_file(png_structp png)
{
    PngWriteJob *job = (PngWriteJob *)png_get_io_ptr(png);
    data_flush(job->file);
}

// bytes_per_sample 1: RGB rows; 2: grey rows of host-order 16-bit samples.
// kind: 3 RGB, 4 RGBA, 16 16-bit grey.
static bool write_png(const char *path, const void *pixels, int width, int height, int kind, const char *text = nullptr)
{
    bool grey16 = kind == 16;
    if (!path || !pixels || width < 1 || height < 1 || width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE)
        return false;
    DataFile *file = open_data_file(path, "wb");
    if (!file)
        return false;
    PngWriteJob &job = *(PngWriteJob *)xcalloc(1, sizeof(PngWriteJob));
    job.file = file;
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, on_write_error, on_warning);
    if (job.png)
        job.info = png_create_info_struct(job.png);
    if (!job.png || !job.info) {
        png_destroy_write_struct(&job.png, nullptr);
        close_data_file(job.file);
        xfree(&job);
        return false;
    }
    if (setjmp(png_jmpbuf(job.png))) {
        log_printf("Can't write %.900s: %s\n", path, job.message);
        png_destroy_write_struct(&job.png, &job.info);
        xfree(job.rows);
        close_data_file(job.file);
        xfree(&job);
        return false;
    }
    png_set_write_fn(job.png, &job, write_to_file, flush_file);
    png_set_IHDR(job.png, job.info, (png_uint_32)width, (png_uint_32)height, grey16 ? 16 : 8,
                 grey16 ? PNG_COLOR_TYPE_GRAY : kind == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text chunk = {};
    if (text) {
        chunk.compression = PNG_TEXT_COMPRESSION_NONE;
        chunk.key = (png_charp) "Comment";
        chunk.text = (png_charp)text;
        chunk.text_length = strlen(text);
        png_set_text(job.png, job.info, &chunk, 1);
    }
    png_write_info(job.png, job.info);
    if (grey16)
        png_set_swap(job.png);
    size_t row_bytes = (size_t)width * (grey16 ? 2 : kind);
    job.rows = (png_bytep *)xmalloc((size_t)height * sizeof(png_bytep));
    for (int y = 0; y < height; y++)
        job.rows[y] = (png_bytep)pixels + row_bytes * (size_t)y;
    png_write_image(job.png, job.rows);
    png_write_end(job.png, nullptr);
    png_destroy_write_struct(&job.png, &job.info);
    xfree(job.rows);
    bool ok = data_flush(job.file);
    close_data_file(job.file);
    xfree(&job);
    return ok;
}

bool png_write(const char *path, const unsigned char *rgb, int width, int height)
{
    return write_png(path, rgb, width, height, 3);
}

bool png_write_rgba(const char *path, const unsigned char *rgba, int width, int height)
{
    return write_png(path, rgba, width, height, 4);
}

bool png_write_rgb_text(const char *path, const unsigned char *rgb, int width, int height, const char *text)
{
    return write_png(path, rgb, width, height, 3, text);
}

bool png_write16(const char *path, const uint16_t *grey, int width, int height)
{
    return write_png(path, grey, width, height, 16);
}
