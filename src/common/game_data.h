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

// Bike and rider models. Catalogue rows share them by class: "%s" is the row's class code
// ("50", "125", "250", "250f", "450f"). Each part is in its own body's coordinates (the body at
// its catalogue point, the bike facing -z); the rider's models in rider-body coordinates, the
// head's about the head point. Frames, forks, swingarm, wheels and the rider body have
// "_lod5" and "_lod7" siblings.
#define SK_BIKE_FRAME_MODEL "@mx%s_frame.jm"
#define SK_BIKE_UPPER_FORK_MODEL "@mx_ufork.jm"
#define SK_BIKE_LOWER_FORK_MODEL "@mx_lfork.jm"
#define SK_BIKE_SWINGARM_MODEL "@mx_swingarm.jm"
#define SK_BIKE_FRONT_WHEEL_MODEL "@mx_fwheel.jm"
#define SK_BIKE_REAR_WHEEL_MODEL "@mx_rwheel.jm"
#define SK_RIDER_BODY_MODEL "@rider_body.jm"
#define SK_RIDER_FIRST_PERSON_MODEL "@rider_body_fp.jm"
#define SK_RIDER_HEAD_MODEL "@rider_head.jm"
#define SK_RIDER_PLATE_MODEL "@rider_plate.jm"
#define SK_SIDE_PLATES_MODEL "@side_plates.jm"
#define SK_FRONT_PLATE_MODEL "@front_plate.jm"

// Textures: the class's bike graphics "@mx<class>.png" (512 x 512) with its colour variants
// "mx<class>-<colour>.png", the number plate's colours in a text chunk
// ("[numberbackground:r,g,b][numberforeground:r,g,b]", 0..1); wheels "wheels-<finish>.png";
// riding gear "rider_body-<scheme>.png" and helmets "rider_head-<scheme>.png". The catalogue's
// defaults are the first of each list.
#define SK_BIKE_TEXTURE "@mx%s.png"
#define SK_WHEEL_TEXTURE "@wheels-black.png"
#define SK_RIDER_BODY_TEXTURE "@rider_body-red.png"
#define SK_RIDER_HEAD_TEXTURE "@rider_head-red.png"

// The rev counter's dial "@tach.png": 0 rpm at the lower left (225 degrees counter-clockwise
// from 3 o'clock), SK_TACH_MAX_RPM after SK_TACH_SWEEP_DEGREES clockwise, ticks every 500 rpm.
#define SK_TACH_MAX_RPM 12000.0f
#define SK_TACH_SWEEP_DEGREES 270.0f
