// The riding view until the frame composition takes it over: the ground seen from the viewed
// rider's head, and the terrain renderer's per-frame upkeep.
#include <math.h>
#include <string.h>

#include <GL/gl.h>
#include <ode/ode.h>

#include "bike/bike.h"
#include "driver/config.h"
#include "driver/startup_stubs.h"
#include "race/session.h"
#include "race/world.h"
#include "render/lighting.h"
#include "render/scenery_draw.h"
#include "render/terrain_render.h"
#include "terrain/terrain.h"

static struct {
    int width, height;
    float fov;
} g_view = { 640, 480, 60 };

void set_projection(int width, int height, float fov_degrees)
{
    g_view.width = width > 0 ? width : 1;
    g_view.height = height > 0 ? height : 1;
    g_view.fov = fov_degrees > 1 && fov_degrees < 179 ? fov_degrees : 60;
}

// Eye and view direction: the rider's head looking where the frame points, a little down.
static void rider_camera(const Terrain *t, Vec3 *eye, Vec3 *forward)
{
    const RiderSlot *s = rider_slot(viewed_slot());
    BikeState *bike = s ? s->bike : nullptr;
    if (!bike || !bike->body[BODY_RIDER]) {
        float half = t->world_size * 0.5f;
        *eye = v3(half, terrain_height(t, half, half) + 6, half);
        *forward = v3_normalize(v3(0, -0.2f, -1));
        return;
    }
    const dReal *p = dBodyGetPosition(bike->body[BODY_RIDER]);
    const dReal *r = dBodyGetRotation(bike->body[BODY_FRAME]);
    *eye = v3((float)p[0], (float)p[1] + 0.8f, (float)p[2]);
    // The bike faces -z in its own frame.
    Vec3 ahead = v3(-(float)r[2], 0, -(float)r[10]);
    if (v3_dot(ahead, ahead) < 1e-6f)
        ahead = v3(0, 0, -1);
    ahead = v3_normalize(ahead);
    *forward = v3_normalize(v3(ahead.x, -0.15f, ahead.z));
}

// The camera's rotation only: the sky is drawn around the eye before the world moves by it.
static void load_camera(Vec3 f)
{
    float n = lighting()->near_plane, far_plane = lighting()->far_plane;
    float top = n * tanf(g_view.fov * 0.5f * 3.14159265f / 180), right = top * g_view.width / g_view.height;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-right, right, -top, top, n, far_plane);
    Vec3 side = v3_normalize(v3(-f.z, 0, f.x));
    Vec3 up = v3(side.y * f.z - side.z * f.y, side.z * f.x - side.x * f.z, side.x * f.y - side.y * f.x);
    const float m[16] = { side.x, up.x, -f.x, 0, side.y, up.y, -f.y, 0, side.z, up.z, -f.z, 0, 0, 0, 0, 1 };
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(m);
}

void render_view(int)
{
    Terrain *t = session_terrain();
    if (!t || !t->heights)
        return;
    Vec3 eye, forward;
    rider_camera(t, &eye, &forward);
    terrain_textures_update(eye);
    // The copy method composes in the back buffer: the frame starts after it.
    glViewport(0, 0, g_view.width, g_view.height);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    load_camera(forward);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    sky_draw();
    lighting_fog_on();
    glTranslatef(-eye.x, -eye.y, -eye.z);
    lighting_light0();
    terrain_draw(eye, forward);
    // The scenery until the frame composition draws it in its own steps.
    const float at[3] = { eye.x, eye.y, eye.z }, back[3] = { -forward.x, -forward.y, -forward.z };
    flaggers_update();
    statues_draw(at);
    billboards_set_lookahead(g_settings.billboard_optimize_lookahead);
    billboards_draw(at, back);
    lighting_fog_off();
    lighting_set_lens_flare(strcmp(choice_label(&g_settings.lens_flare), "Yes") == 0);
    lens_flares_draw(at);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

// The main loop's shading step: the error pass and the low-detail textures.
void terrain_update_shading(int)
{
    if (session_terrain()->heights)
        terrain_lod_update();
}

void terrain_decals_hidden(bool hidden) { terrain_redraw_textures(hidden); }
