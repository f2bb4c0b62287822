// Writes the game's default data directory. Everything comes from code and a fixed seed, so
// the same source always gives the same bytes.
//   datagen <data directory>
#include <stdio.h>
#include <string.h>

#include "common/game_data.h"
#include "common/mt.h"
#include "datagen.h"
#include "vfs/vfs.h"

static const unsigned k_seed = 20210320u;

static bool write_config(const char *dir)
{
    char path[1100];
    snprintf(path, sizeof path, "%s/config", dir);
    DataFile *f = open_data_file(path, "wb");
    if (!f)
        return false;
    data_printf(f, "%s=%s\n", SK_CONFIG_TRACK_KEY, SK_SAMPLE_TRACK_FOLDER);
    bool ok = data_flush(f);
    close_data_file(f);
    return ok;
}

int main(int argc, char **argv)
{
    // An option is never a directory: "datagen --help" once filled a folder named "--help".
    if (argc != 2 || argv[1][0] == '-' || !argv[1][0]) {
        bool asked = argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"));
        fprintf(asked ? stdout : stderr, "usage: datagen <data directory>\n");
        return asked ? 0 : 2;
    }
    const char *dir = argv[1];
    mt_seed(k_seed);
    char path[1100];
    if (!write_tile_textures(dir)) {
        fprintf(stderr, "datagen: can't write the ground textures into %s\n", dir);
        return 1;
    }
    if (!write_pictures(dir)) {
        fprintf(stderr, "datagen: can't write the fonts and pictures into %s\n", dir);
        return 1;
    }
    if (!write_scenery_art(dir)) {
        fprintf(stderr, "datagen: can't write the scenery's pictures and models into %s\n", dir);
        return 1;
    }
    if (!write_sky(dir)) {
        fprintf(stderr, "datagen: can't write the sky into %s\n", dir);
        return 1;
    }
    snprintf(path, sizeof path, "%s/%s", dir, SK_SAMPLE_TRACK_FOLDER);
    if (!write_sample_track(path)) {
        fprintf(stderr, "datagen: can't write %s\n", path);
        return 1;
    }
    snprintf(path, sizeof path, "%s/%s", dir, SK_PRACTICE_TRACK_FOLDER);
    if (!write_practice_track(path)) {
        fprintf(stderr, "datagen: can't write %s\n", path);
        return 1;
    }
    if (!write_bike_shapes(dir)) {
        fprintf(stderr, "datagen: can't write the bike shapes into %s\n", dir);
        return 1;
    }
    if (!write_bike_models(dir)) {
        fprintf(stderr, "datagen: can't write the bike and rider models into %s\n", dir);
        return 1;
    }
    if (!write_engine_sounds(dir)) {
        fprintf(stderr, "datagen: can't write the engine sounds into %s\n", dir);
        return 1;
    }
    if (!write_config(dir)) {
        fprintf(stderr, "datagen: can't write the config\n");
        return 1;
    }
    return 0;
}
