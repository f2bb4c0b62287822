// Stand-ins for the lighting, sky and scenery drawing the frame calls, until those modules
// are in the game: no sky, no fog, a plain sun, no scenery.
#include <GL/gl.h>

#include "render/lighting.h"
#include "render/scenery_draw.h"

static const Lighting k_plain = {
    { 0.3f, 1, 0.4f }, { 0.8f, 0.8f, 0.8f }, { 0.45f, 0.45f, 0.45f }, { 0.2f, 0.2f, 0.2f },
    { 0.6f, 0.7f, 0.8f }, 0, 0, 0.5f, 4000,
};

const Lighting *lighting(void) { return &k_plain; }
void lighting_load(const char *) {}
void sky_draw(void) {}
// The shader programs always fog: with no lighting file, a density of 0 keeps them clear.
void lighting_fog_on(void)
{
    glFogi(GL_FOG_MODE, GL_EXP);
    glFogf(GL_FOG_DENSITY, 0);
}

void lighting_fog_off(void) {}

void lighting_light0(void)
{
    const float sun[4] = { k_plain.sun_vector[0], k_plain.sun_vector[1], k_plain.sun_vector[2], 0 };
    const float ambient[4] = { k_plain.ambient[0], k_plain.ambient[1], k_plain.ambient[2], 1 };
    const float diffuse[4] = { k_plain.sun_color[0], k_plain.sun_color[1], k_plain.sun_color[2], 1 };
    glLightfv(GL_LIGHT0, GL_POSITION, sun);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, diffuse);
    glEnable(GL_LIGHT0);
}

void lens_flares_draw(const float *) {}
unsigned lighting_environment_texture(void) { return 0; }

void flaggers_update(void) {}
void statues_draw(const float *) {}
void billboards_draw(const float *, const float *) {}
