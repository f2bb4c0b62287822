// The track's lighting and sky: sun, ambient light, fog, the sky box and lens flares.
#pragma once

struct LensFlare;
struct Lighting {
    float sun_vector[3], sun_color[3], ambient[3], global_ambient[3];
    float fog_color[3], fog_density;
    int dynamic_lighting;
    float near_plane, far_plane;
};

const Lighting *lighting(void);              // current state (defaults before any load)
void lighting_load(const char *folder);      // the session's hook ("@<folder>/lighting")
void sky_draw(void);                         // five faces around the eye: call with the camera rotation loaded, before translating by -eye
void lighting_fog_on(void);                  // GL_EXP fog when density > 0
void lighting_fog_off(void);
void lighting_light0(void);                  // light 0 + light-model ambient + local viewer; call after translating by -eye
void lens_flares_draw(const float eye[3]);   // last in the frame, reads GL matrices/viewport itself; does nothing when "lens_flare" is off
unsigned lighting_environment_texture(void); // GL texture id of "sky_env", 0 when none
