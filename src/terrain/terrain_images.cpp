#include "terrain/terrain_images.h"

#include <png.h>
#include <setjmp.h>
#include <string.h>

#include "common/mem.h"
#include "vfs/vfs.h"

static bool size_ok(long w, long h)
{
    // the largest height field (8193 x 8193) is the largest image any track needs
    return w > 0 && h > 0 && w <= k_image_max_side && h <= k_image_max_side && w * h <= 8200L * 8200L;
}

// ---- PNG through DataFile ----

static void png_read_data(png_structp png, png_bytep out, png_size_t n)
{
    DataFile *f = (DataFile *)png_get_io_ptr(png);
    if (data_read(f, out, n) != n)
        png_error(png, "short read");
}

static void png_write_data(png_structp png, png_bytep in, png_size_t n)
{
    DataFile *f = (DataFile *)png_get_io_ptr(png);
    if (data_write(f, in, n) != n)
        png_error(png, "short write");
}

static void png_flush_data(png_structp png)
{
    data_flush((DataFile *)png_get_io_ptr(png));
}

static void png_quiet_warning(png_structp, png_const_charp) {}
static void png_quiet_error(png_structp png, png_const_charp)
{
    longjmp(png_jmpbuf(png), 1);
}

// Decodes into 'channels' channels of 'depth' bits (8 or 16). grey16 selects the height
// image conversion, otherwise RGB8.
static bool read_png(const char *name, bool grey16, int *w, int *h, void **pixels)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return false;
    uint8_t sig[8];
    if (data_read(f, sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
        close_data_file(f);
        return false;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        close_data_file(f);
        return false;
    }
    // volatile: assigned between setjmp and a possible longjmp
    uint8_t *volatile buffer = nullptr;
    png_bytep *volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        xfree(buffer);
        xfree(rows);
        png_destroy_read_struct(&png, &info, nullptr);
        close_data_file(f);
        return false;
    }
    png_set_read_fn(png, f, png_read_data);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (!size_ok((long)width, (long)height))
        png_error(png, "size");
    int colour = png_get_color_type(png, info);
    int depth = png_get_bit_depth(png, info);
    if (colour == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    png_set_strip_alpha(png);
    bool is_colour = colour == PNG_COLOR_TYPE_PALETTE || (colour & PNG_COLOR_MASK_COLOR);
    int bytes_per_sample;
    if (grey16) {
        if (is_colour)
            png_set_rgb_to_gray_fixed(png, 1, -1, -1);
        bytes_per_sample = depth == 16 ? 2 : 1;
        if (depth == 16)
            png_set_swap(png);      // host order on little-endian machines
    } else {
        if (depth == 16)
            png_set_strip_16(png);
        if (!is_colour)
            png_set_gray_to_rgb(png);
        bytes_per_sample = 1;
    }
    png_read_update_info(png, info);
    size_t rowbytes = png_get_rowbytes(png, info);
    size_t expected = (size_t)width * (grey16 ? 1 : 3) * bytes_per_sample;
    if (rowbytes != expected)
        png_error(png, "layout");
    buffer = (uint8_t *)xmalloc(rowbytes * height);
    rows = (png_bytep *)xmalloc(sizeof(png_bytep) * height);
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = buffer + rowbytes * y;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    close_data_file(f);
    xfree(rows);
    if (grey16 && bytes_per_sample == 1) {
        size_t n = (size_t)width * height;
        uint16_t *wide = (uint16_t *)xmalloc(n * 2);
        for (size_t i = 0; i < n; i++)
            wide[i] = (uint16_t)(buffer[i] * 257);
        xfree(buffer);
        buffer = (uint8_t *)wide;
    } else if (grey16) {
        // png_set_swap gives little-endian; make it host order
        size_t n = (size_t)width * height;
        uint16_t *p = (uint16_t *)buffer;
        for (size_t i = 0; i < n; i++) {
            const uint8_t *b = buffer + 2 * i;
            p[i] = (uint16_t)(b[0] | b[1] << 8);
        }
    }
    *w = (int)width;
    *h = (int)height;
    *pixels = buffer;
    return true;
}

bool read_gray16_image(const char *name, int *w, int *h, uint16_t **pixels)
{
    void *p;
    if (!read_png(name, true, w, h, &p))
        return false;
    *pixels = (uint16_t *)p;
    return true;
}

bool read_png_rgb8(const char *name, int *w, int *h, uint8_t **rgb)
{
    void *p;
    if (!read_png(name, false, w, h, &p))
        return false;
    *rgb = (uint8_t *)p;
    return true;
}

static bool write_png(const char *name, int w, int h, int colour, int depth, const uint8_t *data, size_t rowbytes)
{
    if (!size_ok(w, h) || !data)
        return false;
    DataFile *f = open_data_file(name, "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        close_data_file(f);
        return false;
    }
    uint8_t *volatile row = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        xfree(row);
        png_destroy_write_struct(&png, &info);
        close_data_file(f);
        return false;
    }
    png_set_write_fn(png, f, png_write_data, png_flush_data);
    png_set_IHDR(png, info, w, h, depth, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    row = (uint8_t *)xmalloc(rowbytes);
    for (int y = 0; y < h; y++) {
        const uint8_t *src = data + rowbytes * y;
        if (depth == 16) {
            // PNG stores 16-bit samples big-endian
            const uint16_t *s16 = (const uint16_t *)(const void *)src;
            for (size_t i = 0; i < rowbytes / 2; i++) {
                row[2 * i] = (uint8_t)(s16[i] >> 8);
                row[2 * i + 1] = (uint8_t)s16[i];
            }
        } else {
            memcpy(row, src, rowbytes);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    xfree(row);
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

bool write_png_rgb8(const char *name, int w, int h, const uint8_t *rgb)
{
    return write_png(name, w, h, PNG_COLOR_TYPE_RGB, 8, rgb, (size_t)w * 3);
}

bool write_png_gray16(const char *name, int w, int h, const uint16_t *pixels)
{
    return write_png(name, w, h, PNG_COLOR_TYPE_GRAY, 16, (const uint8_t *)pixels, (size_t)w * 2);
}

// ---- PPM / PGM ----

static void skip_space_and_comments(DataFile *f)
{
    for (;;) {
        int c = data_peekc(f);
        if (c == '#') {
            while ((c = data_getc(f)) != -1 && c != '\n')
                ;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
            data_getc(f);
        } else {
            return;
        }
    }
}

// A header or text-sample number; -1 when there is none or it overflows.
static long read_number(DataFile *f)
{
    skip_space_and_comments(f);
    long v = 0;
    int digits = 0;
    for (int c = data_peekc(f); c >= '0' && c <= '9'; c = data_peekc(f)) {
        data_getc(f);
        if (v > 100000000)
            return -1;
        v = v * 10 + (c - '0');
        digits++;
    }
    return digits ? v : -1;
}

static bool read_pnm(DataFile *f, char binary_magic, char text_magic, int channels, int *w, int *h, uint8_t **out)
{
    if (!f || data_getc(f) != 'P')
        return false;
    int magic = data_getc(f);
    if (magic != binary_magic && magic != text_magic)
        return false;
    long width = read_number(f), height = read_number(f), maxval = read_number(f);
    if (!size_ok(width, height) || maxval < 1 || maxval > 65535)
        return false;
    size_t n = (size_t)width * height * channels;
    uint8_t *pixels = (uint8_t *)xmalloc(n);
    bool ok = true;
    if (magic == binary_magic) {
        int c = data_getc(f);   // the single white-space character after maxval
        ok = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (ok && maxval < 256) {
            ok = data_read(f, pixels, n) == n;
            if (ok && maxval != 255)
                for (size_t i = 0; i < n; i++)
                    pixels[i] = (uint8_t)((pixels[i] > maxval ? maxval : pixels[i]) * 255 / maxval);
        } else if (ok) {
            for (size_t i = 0; i < n && ok; i++) {
                int hi = data_getc(f), lo = data_getc(f);
                ok = hi >= 0 && lo >= 0;
                long v = hi << 8 | lo;
                pixels[i] = (uint8_t)((v > maxval ? maxval : v) * 255 / maxval);
            }
        }
    } else {
        for (size_t i = 0; i < n && ok; i++) {
            long v = read_number(f);
            ok = v >= 0;
            pixels[i] = (uint8_t)((v > maxval ? maxval : v) * 255 / maxval);
        }
    }
    if (!ok) {
        xfree(pixels);
        return false;
    }
    *w = (int)width;
    *h = (int)height;
    *out = pixels;
    return true;
}

bool read_ppm_rgb(DataFile *f, int *w, int *h, uint8_t **rgb)
{
    return read_pnm(f, '6', '3', 3, w, h, rgb);
}

bool read_pgm_gray8(DataFile *f, int *w, int *h, uint8_t **gray)
{
    return read_pnm(f, '5', '2', 1, w, h, gray);
}

static bool write_pnm(const char *name, char magic, int channels, int w, int h, const uint8_t *data)
{
    if (!size_ok(w, h) || !data)
        return false;
    DataFile *f = open_data_file(name, "wb");
    if (!f)
        return false;
    data_printf(f, "P%c\n%d %d\n255\n", magic, w, h);
    size_t n = (size_t)w * h * channels;
    bool ok = data_write(f, data, n) == n && data_flush(f);
    close_data_file(f);
    return ok;
}

bool write_ppm(const char *name, int w, int h, const uint8_t *rgb)
{
    return write_pnm(name, '6', 3, w, h, rgb);
}

bool write_pgm(const char *name, int w, int h, const uint8_t *gray)
{
    return write_pnm(name, '5', 1, w, h, gray);
}
