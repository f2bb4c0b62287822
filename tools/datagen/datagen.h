// The default data generator: shared declarations of its parts.
#pragma once
#include <stdint.h>

// ---- noise.cpp: hashed value noise, optionally periodic ----
float hash01(uint32_t seed, int x, int y);          // 0..1
// Value noise with smooth interpolation; 'period' lattice cells (0: not periodic). -1..1.
float value_noise(uint32_t seed, float x, float y, int period);
// Octaves of value noise, each twice the frequency and half the amplitude; -1..1 roughly.
float fbm(uint32_t seed, float x, float y, int octaves, int period);
float smoothstep(float e0, float e1, float x);
float clampf(float x, float lo, float hi);

// ---- textures.cpp ----
enum Surface { k_dirt, k_grass, k_hardpack, k_sand, k_surface_count };
// Writes every ground texture named by tile_texture_name into dir. False on a write failure.
bool write_tile_textures(const char *dir);

// ---- pictures.cpp: fonts, title, HUD pictures, roost ----
bool write_pictures(const char *dir);

// ---- sky.cpp: sky faces, the environment map and the sun's lens flare ----
bool write_sky(const char *dir);
int  sky_flare_text(char *out, int size);   // the "lighting" lines of the sun's flare

// ---- tilemaps and tileinfo (tileinfo.cpp) ----
// Tile indices in tileinfo order: 0 dirt, 1 grass, 2 dirt-alt1, 3 grass-alt1, 4 hardpack,
// 5 sand, 6..19 dirt-grass-MMMM (mask 1..14), 20..33 sand-grass-MMMM.
enum { k_tile_count = 34 };
void tile_texture_name(int tile, char *out, int size);   // "dirt-grass-0101.png"
// The tile for a square whose four corners have these surfaces (order d1..d4 of game_data.h);
// 'alt' picks the alternative picture of a plain dirt or grass square.
int  tile_for_corners(const int corner[4], bool alt);
bool write_tileinfo(const char *path);

// ---- lines.cpp: centre lines of a track (the lap, the start straight) ----
struct Point2 {
    float x, z;
};
// One sample of a centre line.
struct Centre {
    float x, z, tx, tz;     // position and unit tangent
    float curvature;        // 1/ft, > 0 turning right (towards the rider's +x side)
    float half_width;       // ft of track either side
    float bed;              // height of the track bed without features
    float feature;          // jumps and whoops
};
struct Line {
    Centre *c;
    int n;                  // samples, 'step' ft apart
    float step, length;
    bool closed;            // a lap; otherwise it runs from c[0] to c[n - 1]
    int *bucket_start;      // samples per 32-ft bucket, for line_nearest
    int *bucket_items;
    int buckets;            // per side
};
// A Catmull-Rom spline through the points, sampled about every foot: round all of them, or
// from the first to the last. Widths, beds and features start at 0.
void  line_from_spline(Line *line, const Point2 *points, int count, bool closed);
// A closed ellipse of n samples round (cx, cz), radius rx along x and rz along z, turning from +x
// towards +z.
void  line_from_ellipse(Line *line, float cx, float cz, float rx, float rz, int n);
float line_distance(const Line *line, int from, int to);   // ft along the line, forwards round a lap
int   line_sample_at(const Line *line, float s);            // the sample nearest to s ft along
void  line_index(Line *line, float world);                  // the buckets of line_nearest
// The sample nearest to (x, z) within 'reach' ft; -1 when none. lateral: the signed offset to
// the sample's right; beyond: how far the point lies past an open line's end (0 within it).
int   line_nearest(const Line *line, float x, float z, float reach, float *lateral, float *beyond);
void  line_free(Line *line);

// ---- track.cpp ----
bool write_sample_track(const char *dir);      // dir = the track folder
bool write_practice_track(const char *dir);

// What the generator shapes on purpose along the sample lap: the slope changes a rider is
// meant to meet. (Berms bank the track across, and change its slope along only gently.)
enum FeatureKind { k_feature_jump, k_feature_whoops };
struct LapFeature {
    float begin, end;       // ft along the lap; end may pass the lap's length
    int kind;
};
enum { k_max_lap_features = 48 };
// A generated track's lines: the closed lap and the start straight that leads from behind the
// gate onto it.
struct TrackLayout {
    Line lap, start;
    int join;               // the lap's sample where the start straight meets it
    int start_join;         // the start straight's sample there
    LapFeature features[k_max_lap_features];
    int feature_count;
};
// The sample track's layout as write_sample_track lays it out, without writing anything.
// False on failure; free it with track_layout_free either way.
bool sample_track_layout(TrackLayout *layout);
void track_layout_free(TrackLayout *layout);

// ---- shared by both tracks (tracks_common.cpp) ----
struct Terrain;
extern const float k_sun_vector[3];
bool write_track_common(Terrain *t, const char *dir, const char *display_name, bool inline_samples);

// ---- timing.cpp ----
enum { k_gate_places = 40 };
static const float k_gate_place_width = 3.3f;  // ft per rider on the gate: handlebars are 2.6 ft wide
static const float k_gate_along_start = 20;    // ft from the start straight's first sample
// The half width a start straight needs at the gate: every place and a little room.
static const float k_gate_half_width = (k_gate_places - 1) * k_gate_place_width / 2 + 4;
// A gate place's offset to the rider's right of the start straight's centre, in ft.
float gate_place_across(int place);
// Writes "timing_gates" into dir: the starting gate across the start straight, checkpoints
// along the start straight for the first lap only and evenly round the lap from the finish
// line, which lies on the lap before the start straight joins it.
bool write_track_timing(const char *dir, const Terrain *t, const TrackLayout *layout);
// Distance along the lap from the finish line to where the start straight joins it.
static const float k_finish_before_join = 80;

// ---- robot_lines.cpp ----
// Writes "lines_novice", "lines_amateur" and "lines_expert" into dir for the track whose
// "timing_gates" is already there. False on a write failure.
bool write_track_lines(const char *dir, const Terrain *t, const TrackLayout *layout);

// ---- shapes.cpp ----
// The collision shapes every catalogue row names ("generic_*.shp", "rider.shp") into dir.
bool write_bike_shapes(const char *dir);
// ---- models.cpp: the bike and rider models, their levels of detail and textures ----
bool write_bike_models(const char *dir);

// ---- sounds.cpp: the engines' default sounds ----
enum { k_sound_columns = 3, k_sound_cycles = 8 };
// What the generator takes from the catalogue for a class's sound.
struct EngineClassSound {
    const char *class_code;
    bool two_stroke;                // fires every revolution; a four-stroke every second
    int rows;
    float idle_rpm;                 // the first row and "minrpm": where a shut throttle settles
    float max_rpm;                  // the last row: the class's highest rev limit
    float low_torque;               // "lowtorque": the weakest engine braking from idle up
    float high_torque;              // "hightorque": the weakest bike's peak torque
};
// "50", "125", "250", "250f" or "450f"; false for any other class.
bool  engine_class_sound(const char *class_code, EngineClassSound *out);
float engine_class_row_rpm(const EngineClassSound *c, int row);    // rows spaced evenly in ratio
int   samples_per_firing(float rpm, bool two_stroke);              // at 44,100 Hz, to the sample
void  engine_sample_name(const char *class_code, int row, int col, char *out, int size);   // "sounds/..."
// "sounds/<class>.table" with its sample files, and "default<class>.braap", for each class.
bool  write_engine_sounds(const char *dir);

// ---- scenery_art.cpp: the pictures, models and shapes of the trackside scenery ----
#define k_pine_picture "@pine.png"
#define k_oak_picture "@oak.png"
#define k_bush_picture "@bush.png"
#define k_banner_picture "@banner.png"          // white cloth: billboards tint it
#define k_finish_line_picture "@finishline.png"
#define k_bale_model "@haybale.jm"
#define k_bale_texture "@haybale.png"
#define k_bale_shape "@haybale.shp"
#define k_block_model "@tuffblock.jm"
#define k_block_texture "@tuffblock.png"
#define k_block_shape "@tuffblock.shp"
static const char *const k_start_flagger_pictures[5] = { "@starter-1.png", "@starter-2.png", "@starter-3.png",
                                                         "@starter-4.png", "@starter-5.png" };
static const char *const k_lap_flagger_pictures[4] = { "@finishflag-1.png", "@finishflag-2.png",
                                                       "@finishflag-3.png", "@finishflag-4.png" };
static const char *const k_worker_pictures[2] = { "@marshal.png", "@marshal-yellow.png" };
static const float k_bale_size[3] = { 1.5f, 1.25f, 3.0f };     // ft across (x), high, long (z)
static const float k_block_size[3] = { 1.5f, 1.5f, 4.0f };
// The starting-gate piece ("@startgate.jm", ".ppm", ".shp") is modelled lying down, as it is
// once dropped: a panel k_gate_piece_width across and k_gate_piece_length from its hinge (the
// x axis through the origin) towards the riders (+z). Standing it up turns it about the hinge
// by -angle x 3pi/16 about +x, lifting its free end towards the riders.
static const float k_gate_piece_width = 3.2f;
static const float k_gate_piece_length = 2.0f;
bool write_scenery_art(const char *dir);

// ---- scenery.cpp: a track's trackside objects ----
// How far (x, z) lies from the edge of the racing surface (the lap and the start straight):
// negative on it; 'far' when no surface lies within 'far'.
float track_clearance(const TrackLayout *layout, float x, float z, float far);
// The lap's corners: the apex sample and signed curvature of each, in order round the lap.
struct LapCorner {
    int apex;
    float curvature;
};
enum { k_max_corners = 12 };
int  lap_corners(const TrackLayout *layout, LapCorner *out, int max);
// Points every 'step' ft along the stretch riders ride after passing a checkpoint, up to the
// next checkpoint of the lap (or of the first lap, for the start straight's). The count.
struct Timing;
int  checkpoint_stretch(const TrackLayout *layout, const Timing *timing, int checkpoint, Point2 *out, int max,
                        float step);
// "billboards", "statues", "flaggers" and "decals" of a track.
bool write_track_scenery(const char *dir, const Terrain *t, const TrackLayout *layout, const Timing *timing);
// The scenery and the cameras of a track whose "timing_gates" is written, read back once.
bool write_track_surroundings(const char *dir, const Terrain *t, const TrackLayout *layout);

// ---- cameras.cpp: trackside cameras and the track map ----
struct TrackCamera {
    float x, z, height;     // height above the ground
    float fov, auto_fov_size;
};
enum { k_max_track_cameras = 6 };
// The first overlooks the starting gate, the others stand outside the sharpest corners.
int  track_cameras(const Terrain *t, const TrackLayout *layout, TrackCamera *out, int max);
// "cameras" (with every checkpoint given to the camera that sees most of its stretch) and
// "map.png", the field from above (row 0 at z = 0) for the HUD's map.
bool write_track_cameras(const char *dir, const Terrain *t, const TrackLayout *layout, const Timing *timing);
