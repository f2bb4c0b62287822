// Writes a picture of a track for a track maker to check: the height field (shaded, coloured by
// height) on the left, the surface tiles on the right, one pixel per vertex.
//   terrain_preview <track folder> <out.png>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "terrain/terrain.h"
#include "terrain/terrain_images.h"
#include "terrain/tiles.h"

static void surface_colour(const TileType *tile, uint8_t rgb[3])
{
    static const struct {
        const char *prefix;
        uint8_t rgb[3];
    } k_colours[] = {
        { "hardpack", { 150, 110, 80 } }, { "sand", { 230, 205, 130 } }, { "dirt", { 120, 80, 40 } },
        { "grass", { 70, 140, 50 } },
    };
    const char *name = tile ? tile->name : "";
    for (const auto &c : k_colours)
        if (strncmp(name, c.prefix, strlen(c.prefix)) == 0) {
            memcpy(rgb, c.rgb, 3);
            // transition tiles: a mix towards grass by the number of grass corners
            const char *dash = strrchr(name, '-');
            if (dash && strlen(dash) == 5) {
                int grass = (dash[1] == '1') + (dash[2] == '1') + (dash[3] == '1') + (dash[4] == '1');
                for (int k = 0; k < 3; k++)
                    rgb[k] = (uint8_t)((rgb[k] * (4 - grass) + k_colours[3].rgb[k] * grass) / 4);
            }
            return;
        }
    rgb[0] = rgb[1] = rgb[2] = 128;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: terrain_preview <track folder> <out.png>\n");
        return 2;
    }
    Terrain t = {};
    if (!terrain_load(&t, argv[1], 1)) {
        fprintf(stderr, "terrain_preview: can't load %s\n", argv[1]);
        return 1;
    }
    int dim = t.dim, w = 2 * dim;
    uint8_t *rgb = (uint8_t *)xcalloc((size_t)w * dim, 3);
    float range = t.max_height > t.min_height ? t.max_height - t.min_height : 1.0f;
    for (int j = 0; j < dim; j++)
        for (int i = 0; i < dim; i++) {
            size_t v = i + (size_t)j * dim;
            float shade = t.shading[3 * v + 1] / 127.5f;
            float h = (t.heights[v] - t.min_height) / range;
            uint8_t *left = rgb + 3 * (i + (size_t)j * w), *right = left + 3 * dim;
            float base[3] = { 60 + 180 * h, 90 + 120 * h, 140 - 80 * h };
            for (int k = 0; k < 3; k++) {
                float c = base[k] * shade;
                left[k] = (uint8_t)(c > 255 ? 255 : c);
            }
            uint8_t s[3];
            surface_colour(tile_type(&t, tile_at(&t, i * t.spacing, j * t.spacing)), s);
            for (int k = 0; k < 3; k++) {
                float c = s[k] * (0.4f + 0.6f * shade);
                right[k] = (uint8_t)(c > 255 ? 255 : c);
            }
        }
    bool ok = write_png_rgb8(argv[2], w, dim, rgb);
    xfree(rgb);
    terrain_unload(&t);
    return ok ? 0 : 1;
}
