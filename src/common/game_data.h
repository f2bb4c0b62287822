// Agreements between the game and the data generator (tools/datagen) about the shipped data.
// Both sides include this header, so a change here changes both.
#pragma once

// The game data counts as found when this name opens through the search directories; it is
// probed before the file index exists, so it must be a plain file at the top level.
#define SK_GAME_DATA_PROBE "@font.png"

// The generator writes "config" into the data directory with one line, "track=" + the sample
// track's folder. "@config" finds the home directory's copy first, so the player's own file
// wins once written. When the configured track is not installed, the first track of the track
// list loads (track_choose).
#define SK_CONFIG_TRACK_KEY "track"
#define SK_SAMPLE_TRACK_FOLDER "tracks/sample"
#define SK_PRACTICE_TRACK_FOLDER "tracks/practice"

// A bike's graphics prefix is its catalogue bike texture's stem followed by this separator
// ("@mx250f.png" -> "mx250f-").
#define SK_BIKE_GRAPHICS_SEPARATOR "-"

// Transition tile textures are named base-overlay-MMMM; the mask digits d1 d2 d3 d4 say which
// corners show the overlay: d1 = (x0, z0), d2 = (x1, z0), d3 = (x0, z1), d4 = (x1, z1), where
// x0/z0 is the square's lower-coordinate edge. Texture column u runs along +x, row v along +z.
#define SK_TILE_MASK_X0Z0 8
#define SK_TILE_MASK_X1Z0 4
#define SK_TILE_MASK_X0Z1 2
#define SK_TILE_MASK_X1Z1 1
