#include "terrain/terrain_images.h"

#include "render/image/image.h"
#include "vfs/vfs.h"

bool read_gray16_image(const char *name, int *w, int *h, uint16_t **pixels)
{
    DataFile *f = open_data_file(name, "rb");
    if (!f)
        return false;
    int width, height;
    uint16_t *grey = png_read16(f, &width, &height);
    close_data_file(f);
    if (!grey)
        return false;
    *w = width;
    *h = height;
    *pixels = grey;
    return true;
}

bool read_ppm_rgb(DataFile *f, int *w, int *h, uint8_t **rgb)
{
    int width, height;
    uint8_t *px = f ? ppm_read(f, &width, &height) : nullptr;
    if (!px)
        return false;
    *w = width;
    *h = height;
    *rgb = px;
    return true;
}

bool read_pgm_gray8(DataFile *f, int *w, int *h, uint8_t **gray)
{
    int width, height;
    uint8_t *px = f ? pgm_read(f, &width, &height) : nullptr;
    if (!px)
        return false;
    *w = width;
    *h = height;
    *gray = px;
    return true;
}

bool write_png_rgb8(const char *name, int w, int h, const uint8_t *rgb)
{
    return png_write(name, rgb, w, h);
}

bool write_png_gray16(const char *name, int w, int h, const uint16_t *pixels)
{
    return png_write16(name, pixels, w, h);
}

bool write_ppm(const char *name, int w, int h, const uint8_t *rgb)
{
    return ppm_write(name, rgb, w, h);
}

// The image module writes no PGM; shadow maps are the only grey 8-bit files the game keeps.
bool write_pgm(const char *name, int w, int h, const uint8_t *gray)
{
    if (!name || !gray || w < 1 || h < 1 || w > IMAGE_MAX_SIDE || h > IMAGE_MAX_SIDE)
        return false;
    DataFile *f = open_data_file(name, "wb");
    if (!f)
        return false;
    size_t n = (size_t)w * (size_t)h;
    bool ok = data_printf(f, "P5\n%d %d\n255\n", w, h) > 0 && data_write(f, gray, n) == n;
    ok = data_flush(f) && ok;
    close_data_file(f);
    return ok;
}
