// The tile types of the shipped tracks. Keys are slip speeds in ft/s with slip function 1
// (linear in slip speed); the value at the smallest key is also the assists' grip angle.
#include <stdio.h>
#include <string.h>

#include "datagen.h"
#include "vfs/vfs.h"

struct SurfaceParams {
    const char *name;
    float friction[4];          // at slip speeds 2, 8, 25, 60 ft/s
    float roll[2];              // roll_resist pair at zero and full tyre compression
    const char *roost[2];       // roost lines (null: none)
    const char *erode;          // erode lines
};

static const float k_friction_keys[4] = { 2, 8, 25, 60 };

static const SurfaceParams k_surfaces[k_surface_count] = {
    // loose dirt: good grip that falls off when the wheel spins, ruts readily
    { "dirt", { 1.35f, 1.20f, 0.95f, 0.85f }, { 5, 15 },
      { "roost texture=@roost.png count=6 size=0.35 grow=3 drag=0.6 r=118 g=92 b=66 a=255 fade_a=-256",
        "roost texture=@roost.png count=2 size=1.2 grow=6 drag=2 slip_threshold=6 r=150 g=130 b=105 a=120 fade_a=-128" },
      "erode_depth 1\n" },
    // grass off the track: slippery, soft, digs little
    { "grass", { 1.05f, 0.90f, 0.70f, 0.60f }, { 8, 20 },
      { "roost texture=@roost.png count=3 size=0.25 r=70 g=95 b=45 a=255 fade_a=-300", nullptr },
      "erode_depth 0.5\nerode_lower 70\n" },
    // the hard-packed racing line: most grip, least rolling resistance, barely ruts
    { "hardpack", { 1.45f, 1.30f, 1.05f, 0.92f }, { 4, 12 },
      { "roost texture=@roost.png count=3 size=0.25 grow=2 drag=0.6 r=96 g=76 b=58 a=255 fade_a=-300", nullptr },
      "erode_depth 0.3\nerode_lower 80\nerode_upper 200\n" },
    // sand: little grip, heavy rolling resistance, deep ruts and big roost
    { "sand", { 0.95f, 0.85f, 0.75f, 0.70f }, { 14, 34 },
      { "roost texture=@roost.png count=10 size=0.3 grow=4 drag=0.8 dig=1.5 r=204 g=178 b=124 a=255 fade_a=-200",
        "roost texture=@roost.png count=3 size=1.5 grow=8 drag=2.5 slip_threshold=3 r=220 g=200 b=160 a=110 fade_a=-100" },
      "erode_depth 1.6\nerode_lower 30\nerode_radius 5\nerode_inner_depth 0.2\n" },
};

static int popcount4(int mask)
{
    return (mask & 1) + (mask >> 1 & 1) + (mask >> 2 & 1) + (mask >> 3 & 1);
}

void tile_texture_name(int tile, char *out, int size)
{
    static const char *const k_plain[6] = { "dirt", "grass", "dirt-alt1", "grass-alt1", "hardpack", "sand" };
    if (tile < 6) {
        snprintf(out, size, "%s.png", k_plain[tile]);
        return;
    }
    int mask = tile < 20 ? tile - 5 : tile - 19;
    snprintf(out, size, "%s-grass-%d%d%d%d.png", tile < 20 ? "dirt" : "sand", mask >> 3 & 1, mask >> 2 & 1,
             mask >> 1 & 1, mask & 1);
}

int tile_for_corners(const int corner[4], bool alt)
{
    int mask = 0, sand = 0, hard = 0;
    for (int k = 0; k < 4; k++) {
        mask = mask * 2 + (corner[k] == k_grass);
        sand += corner[k] == k_sand;
        hard += corner[k] == k_hardpack;
    }
    if (mask == 15)
        return alt ? 3 : 1;
    if (mask != 0)
        return sand ? 19 + mask : 5 + mask;
    if (sand)
        return 5;
    if (hard == 4)
        return 4;
    return alt ? 2 : 0;
}

static void write_surface_tile(DataFile *f, int tile, const SurfaceParams &base, const SurfaceParams &overlay,
                               float t, const SurfaceParams &roost_from)
{
    char name[64];
    tile_texture_name(tile, name, sizeof name);
    char stem[64];
    snprintf(stem, sizeof stem, "%s", name);
    stem[strlen(stem) - 4] = 0;
    data_printf(f, "name %s\ntexture @%s\nslip_function 1\n", stem, name);
    for (int k = 0; k < 4; k++)
        data_printf(f, "friction %.3f %g\n", base.friction[k] + (overlay.friction[k] - base.friction[k]) * t,
                    k_friction_keys[k]);
    data_printf(f, "roll_resist %g %g 1\n", base.roll[0] + (overlay.roll[0] - base.roll[0]) * t,
                base.roll[1] + (overlay.roll[1] - base.roll[1]) * t);
    for (const char *roost : roost_from.roost)
        if (roost)
            data_printf(f, "%s\n", roost);
    data_printf(f, "%saddtile\n", t < 0.5f ? base.erode : overlay.erode);
}

bool write_tileinfo(const char *path)
{
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    const SurfaceParams &dirt = k_surfaces[k_dirt], &grass = k_surfaces[k_grass];
    for (int tile = 0; tile < k_tile_count; tile++) {
        if (tile == 0 || tile == 2)
            write_surface_tile(f, tile, dirt, dirt, 0, dirt);
        else if (tile == 1 || tile == 3)
            write_surface_tile(f, tile, grass, grass, 0, grass);
        else if (tile == 4)
            write_surface_tile(f, tile, k_surfaces[k_hardpack], k_surfaces[k_hardpack], 0, k_surfaces[k_hardpack]);
        else if (tile == 5)
            write_surface_tile(f, tile, k_surfaces[k_sand], k_surfaces[k_sand], 0, k_surfaces[k_sand]);
        else {
            const SurfaceParams &base = tile < 20 ? dirt : k_surfaces[k_sand];
            int grass_corners = popcount4(tile < 20 ? tile - 5 : tile - 19);
            // the roost of the majority surface; a tie keeps the track surface
            write_surface_tile(f, tile, base, grass, grass_corners / 4.0f, grass_corners > 2 ? grass : base);
        }
    }
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}
