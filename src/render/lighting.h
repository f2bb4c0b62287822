// The track's light: the sun, the ambient terms, the sky faces and environment map, fog, the
// clip planes, per-pixel terrain light and the lens flares, read from the folder's "lighting"
// file; and the frame's pieces that use them (sky, fog, light 0, flares).
#pragma once

struct DataFile;
struct LensFlare; // internal

enum {
    SKY_NORTH = 0, SKY_EAST, SKY_SOUTH, SKY_WEST, SKY_UP, SKY_FACES,
    LENS_FLARE_MAX_ELEMENTS = 8,
};

struct Lighting {
    float sun_vector[3], sun_color[3], ambient[3], global_ambient[3];
    float fog_color[3], fog_density;
    int dynamic_lighting;
    float near_plane, far_plane;
    char sky[SKY_FACES][1024];      // texture names; "" until given or defaulted
    char sky_env[1024];
    LensFlare *flares;              // closed flares, each with at least one element
    int flare_count, flare_capacity;
    LensFlare *pending;             // the elements given since the last anchor
};

const Lighting *lighting(void);              // current state (defaults before any load)
// The session's hook: reads "@<folder>/lighting", passes the sun and ambient to the terrain
// shading and per-pixel choice to the ground, and loads the sky textures (with a GL context).
void lighting_load(const char *folder);
// Clears the depth buffer and draws the five faces around the eye: call with the camera
// rotation loaded, before translating by -eye. Leaves GL state as found.
void sky_draw(void);
void lighting_fog_on(void);                  // GL_EXP fog when density > 0
void lighting_fog_off(void);
// Light 0 (enabled) + light-model ambient + local viewer; call after translating by -eye.
void lighting_light0(void);
// Last in the frame: reads the GL matrices and viewport itself; nothing when switched off.
void lens_flares_draw(const float eye[3]);
unsigned lighting_environment_texture(void); // GL texture id of "sky_env", 0 when none
void lighting_set_lens_flare(bool on);       // the "lens_flare" setting; on until told
void lighting_release(void);                 // at shutdown: the flares freed, defaults again

// The reader without GL, for tests and tools. reset: the defaults (flares freed); read: the
// lines of f over what is there; finish: clamps, the normalised sun, default names.
void lighting_reset(Lighting *l);          // l zeroed or reset before
void lighting_read(Lighting *l, DataFile *f);
void lighting_finish(Lighting *l);
// reset + "@<folder>/lighting" if present + finish; false when there is no file.
bool lighting_read_folder(Lighting *l, const char *folder);
void lighting_free(Lighting *l);

// A flare's element count and anchor (is_point: a world point, else a direction); 0 / false
// for an index outside the list.
int  lens_flare_elements(const Lighting *l, int flare);
bool lens_flare_anchor(const Lighting *l, int flare, float out[3], bool *is_point);

// Time of the last lens_flares_draw's read-back in milliseconds and the flares it tested.
void lens_flare_stats(double *readback_ms, int *tested);
