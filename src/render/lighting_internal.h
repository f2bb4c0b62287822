// What the lighting reader shares with the sky and flare drawing.
#pragma once
#include "render/lighting.h"

struct FlareElement {
    float factor[2];                // one complex factor on the offset from the screen centre
    float color[3];
    float size;                     // half size in pixels
    char *texture_name;
    unsigned texture;
};

struct LensFlare {
    FlareElement elements[LENS_FLARE_MAX_ELEMENTS];
    int count;
    float anchor[3];
    bool is_point;                  // a world point, else a direction at infinity
    float screen[2];                // window position of the last frame
    float visibility;               // 0..1 in the last frame
};

struct LightingTextures {
    unsigned sky[SKY_FACES];
    bool lens_flare;
};

Lighting *lighting_state(void);     // the module's own, defaults until the first load
LightingTextures lighting_textures(void);
