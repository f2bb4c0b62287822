// What every shipped track folder gets besides its heights and tilemap: shadows from the sun,
// shading through the game's own shading code, the tile types, "desc" and "lighting".
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "common/mem.h"
#include "datagen.h"
#include "terrain/terrain.h"
#include "terrain/terrain_images.h"
#include "vfs/vfs.h"

const float k_sun_vector[3] = { 0.45f, 0.80f, 0.40f };
static const float k_sun_color[3] = { 1.00f, 0.96f, 0.88f };
static const float k_ambient[3] = { 0.42f, 0.45f, 0.50f };

// 255 where the sun is seen, 70 where the ground blocks it, softened over 3 x 3 vertices.
static uint8_t *compute_light(const Terrain *t)
{
    int dim = t->dim;
    float d = t->spacing;
    float top = t->heights[0];
    for (size_t k = 1; k < (size_t)dim * dim; k++)
        top = fmaxf(top, t->heights[k]);
    float len = sqrtf(k_sun_vector[0] * k_sun_vector[0] + k_sun_vector[2] * k_sun_vector[2]);
    // one step moves d across the ground
    float sx = k_sun_vector[0] / len * d, sz = k_sun_vector[2] / len * d, sy = k_sun_vector[1] / len * d;
    uint8_t *raw = (uint8_t *)xmalloc((size_t)dim * dim);
    for (int j = 0; j < dim; j++)
        for (int i = 0; i < dim; i++) {
            float x = i * d, z = j * d, y = t->heights[i + (size_t)j * dim] + 0.05f;
            bool blocked = false;
            while (y < top && !blocked) {
                x += sx;
                z += sz;
                y += sy;
                blocked = terrain_height(t, x, z) > y;
            }
            raw[i + (size_t)j * dim] = blocked ? 70 : 255;
        }
    uint8_t *light = (uint8_t *)xmalloc((size_t)dim * dim);
    for (int j = 0; j < dim; j++)
        for (int i = 0; i < dim; i++) {
            int sum = 0, n = 0;
            for (int b = j - 1; b <= j + 1; b++)
                for (int a = i - 1; a <= i + 1; a++)
                    if (a >= 0 && b >= 0 && a < dim && b < dim) {
                        sum += raw[a + (size_t)b * dim];
                        n++;
                    }
            light[i + (size_t)j * dim] = (uint8_t)(sum / n);
        }
    xfree(raw);
    return light;
}

static bool write_text(const char *dir, const char *file, const char *text)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/%s", dir, file);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    data_puts(f, text);
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

bool write_track_common(Terrain *t, const char *dir, const char *display_name, bool inline_samples)
{
    uint8_t *light = compute_light(t);
    for (size_t k = 0; k < (size_t)t->dim * t->dim; k++)
        t->shadow[k] = (uint8_t)(255 - light[k]);
    terrain_set_lighting(v3(k_sun_vector[0], k_sun_vector[1], k_sun_vector[2]),
                         v3(k_sun_color[0], k_sun_color[1], k_sun_color[2]),
                         v3(k_ambient[0], k_ambient[1], k_ambient[2]));
    terrain_mark_all_reshade(t);
    bool ok = terrain_save_files(t, dir, inline_samples);
    char path[1100];
    snprintf(path, sizeof path, "%s/shadows.pgm", dir);
    ok = ok && write_pgm(path, t->dim, t->dim, light);
    xfree(light);
    snprintf(path, sizeof path, "%s/tileinfo", dir);
    ok = ok && write_tileinfo(path);
    char text[2048];
    snprintf(text, sizeof text, "%s\n", display_name);
    ok = ok && write_text(dir, "desc", text);
    snprintf(text, sizeof text,
             "sun_vector [ %.2f %.2f %.2f ]\nsun_color [ %.2f %.2f %.2f ]\nambient [ %.2f %.2f %.2f ]\n"
             "global_ambient [ 0.20 0.20 0.22 ]\nfog [ 0.72 0.80 0.90 ] 0.0004\nnear_plane 0.25\n"
             "far_plane 6000\ndynamic_lighting 1\n",
             k_sun_vector[0], k_sun_vector[1], k_sun_vector[2], k_sun_color[0], k_sun_color[1], k_sun_color[2],
             k_ambient[0], k_ambient[1], k_ambient[2]);
    size_t used = strlen(text);
    sky_flare_text(text + used, (int)(sizeof text - used));
    ok = ok && write_text(dir, "lighting", text);
    return ok;
}
