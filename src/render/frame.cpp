#include "render/frame.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <GL/gl.h>

#include "bike/bike.h"
#include "race/session.h"
#include "race/world.h"
#include "render/bike_draw.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/lighting.h"
#include "render/model_draw.h"
#include "render/scenery_draw.h"
#include "render/terrain_render.h"
#include "render/texture.h"

enum { LABELS_MAX = 256, LABEL_TEXT = 64 };


struct WorldLabel {
    Vec3 position;
    char text[LABEL_TEXT];
};

static struct {
    FrameOptions options;
    FrameHooks hooks;
    FrameView view;
    int width, height;
    float fov;
    WorldLabel labels[LABELS_MAX];
    int label_count;
} g_frame = { {}, {}, {}, 640, 480, 90, {}, 0 };

void frame_configure(const FrameOptions *options)
{
    g_frame.options = options ? *options : FrameOptions{};
}

const FrameOptions *frame_options(void) { return &g_frame.options; }

void frame_set_hooks(const FrameHooks *hooks)
{
    g_frame.hooks = hooks ? *hooks : FrameHooks{};
}

static void stage(const char *label)
{
    if (g_frame.hooks.stage_done)
        g_frame.hooks.stage_done(label);
}

void set_projection(int width, int height, float fov_degrees)
{
    g_frame.width = width > 0 ? width : 1;
    g_frame.height = height > 0 ? height : 1;
    g_frame.fov = clamp_fov(fov_degrees);
}

void frame_size(int *width, int *height)
{
    *width = g_frame.width;
    *height = g_frame.height;
}

const FrameView *frame_view(void) { return &g_frame.view; }

void view_half_extents(float fov_degrees, float aspect, float *half_width, float *half_height)
{
    float h = tanf(clamp_fov(fov_degrees) * 3.14159265f / 360);
    *half_height = h;
    *half_width = h * (aspect > 0 ? aspect : 1);
}

// ---- world-space labels

void world_label(Vec3 position, const char *text)
{
    if (g_frame.label_count >= LABELS_MAX || !text)
        return;
    WorldLabel &l = g_frame.labels[g_frame.label_count++];
    l.position = position;
    snprintf(l.text, sizeof l.text, "%s", text);
}

int world_labels_sorted(Vec3 eye, int *order, int room)
{
    int n = g_frame.label_count < room ? g_frame.label_count : room;
    float d[LABELS_MAX];
    for (int i = 0; i < n; i++) {
        Vec3 v = v3_sub(g_frame.labels[i].position, eye);
        d[i] = v3_dot(v, v);
        order[i] = i;
    }
    // Insertion sort, farthest first: the nearer bubbles cover the farther ones.
    for (int i = 1; i < n; i++) {
        int k = order[i], j = i;
        while (j > 0 && d[order[j - 1]] < d[k]) {
            order[j] = order[j - 1];
            j--;
        }
        order[j] = k;
    }
    return n;
}

static void labels_draw(const Camera *c)
{
    int order[LABELS_MAX];
    int n = world_labels_sorted(c->eye, order, LABELS_MAX);
    if (n == 0)
        return;
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (int i = 0; i < n; i++) {
        const WorldLabel &l = g_frame.labels[order[i]];
        // Facing the camera, half a foot to the unit, above the position.
        const float m[16] = { c->right.x, c->right.y, c->right.z, 0, c->up.x, c->up.y, c->up.z, 0,
                              c->back.x, c->back.y, c->back.z, 0, l.position.x, l.position.y, l.position.z, 1 };
        glPushMatrix();
        glMultMatrixf(m);
        glScalef(0.5f, 0.5f, 0.5f);
        float w = text_width(l.text);
        glTranslatef(-w / 2, 1.5f, 0);
        glDisable(GL_TEXTURE_2D);
        glColor4f(1, 1, 1, 1);
        glBegin(GL_TRIANGLES);
        glVertex2f(-0.25f, -0.25f);
        glVertex2f(w + 0.25f, -0.25f);
        glVertex2f(w + 0.25f, 1.25f);
        glVertex2f(-0.25f, -0.25f);
        glVertex2f(w + 0.25f, 1.25f);
        glVertex2f(-0.25f, 1.25f);
        glVertex2f(w / 2 - 0.3f, -0.25f);
        glVertex2f(w / 2, -1.0f);
        glVertex2f(w / 2 + 0.3f, -0.25f);
        glEnd();
        glTranslatef(0, 0, 0.01f);
        text_draw(0, 0, 0, 1, l.text);
        glPopMatrix();
    }
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_CULL_FACE);
}

// ---- bikes

// Every slot's bike: the watched one from its rider's eyes in first person; while spectating a
// server race, this computer's own riders stay out of the picture.
static void bikes_draw(const Camera *c, bool first_person)
{
    model_set_camera(c->eye.x, c->eye.y, c->eye.z);
    bike_draw_set_ground(session_terrain());
    bike_draw_set_reflections(lighting_environment_texture(), g_frame.options.reflections);
    glEnable(GL_NORMALIZE);
    for (int i = 0; i < RIDER_SLOTS; i++) {
        const RiderSlot *s = rider_slot(i);
        if (!s || !s->bike || !s->bike->built)
            continue;
        if (g_frame.options.spectating && s->kind == CONTROL_HUMAN && i != c->bike)
            continue;
        int type = BIKE_VIEW_OUTSIDE;
        if (first_person && i == c->bike)
            type = g_frame.options.hide_rider ? BIKE_VIEW_FIRST_PERSON_HIDDEN : BIKE_VIEW_FIRST_PERSON;
        draw_bike(s->bike, type, 1);
    }
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    shader_use(SHADER_FIXED);
}

// ---- the frame

static void publish_view(const Camera *c)
{
    FrameView &v = g_frame.view;
    v.camera = *c;
    v.camera.fov = clamp_fov(c->fov);
    v.width = g_frame.width;
    v.height = g_frame.height;
    view_half_extents(v.camera.fov, (float)g_frame.width / (float)g_frame.height, &v.half_width, &v.half_height);
}

static void load_projection(const Camera *c)
{
    const Lighting *l = lighting();
    float n = l->near_plane > 0 ? l->near_plane : 0.5f;
    float f = l->far_plane > n ? l->far_plane : 4000;
    glViewport(0, 0, g_frame.width, g_frame.height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-n * g_frame.view.half_width, n * g_frame.view.half_width, -n * g_frame.view.half_height,
              n * g_frame.view.half_height, n, f);
    glMatrixMode(GL_MODELVIEW);
    float m[16];
    camera_view_matrix(c, m);
    glLoadMatrixf(m);
    if (shader_program(SHADER_ENV)) {
        const float rows[9] = { c->right.x, c->right.y, c->right.z, c->up.x, c->up.y, c->up.z,
                                c->back.x, c->back.y, c->back.z };
        shader_set_envmat(rows);
    }
}

void frame_draw(const Camera *camera, bool first_person)
{
    Camera c = *camera;
    const float eye[3] = { c.eye.x, c.eye.y, c.eye.z }, back[3] = { c.back.x, c.back.y, c.back.z };
    // 1. Scenery follows the race clock, so it stops while the game is paused.
    flaggers_update();
    texture_animate(race_tic() * k_tic_seconds);
    publish_view(&c);
    // 2. The copy method composes ground textures in the back buffer: the frame starts after it.
    terrain_textures_update(c.eye);
    stage("rendertex");
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    // 3. Projection and the camera's rotation.
    load_projection(&c);
    // 4. Sky around the eye: it clears the depth and its faces cover every pixel (plain where
    // a picture is missing), hiding what the copy method composed in the back buffer. The
    // plain mode has no sky and clears both instead.
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    if (g_frame.options.flat_shading)
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    else
        sky_draw();
    stage("drawsky");
    // 5, 6. Fog, then the world's origin and the sun.
    lighting_fog_on();
    glTranslatef(-c.eye.x, -c.eye.y, -c.eye.z);
    lighting_light0();
    // 7. Terrain.
    terrain_draw(c.eye, v3_scale(c.back, -1));
    stage("drawterrain");
    // 8. Bikes and riders.
    bikes_draw(&c, first_person);
    stage("drawbikes");
    // 9, 10. Statues; billboards with the roost particles among them.
    statues_draw(eye);
    stage("drawstatues");
    billboards_draw(eye, back);
    stage("drawbillboards");
    // 11, 12. Ghost riders, and the robots' lines when debugging.
    if (g_frame.hooks.ghosts_draw)
        g_frame.hooks.ghosts_draw(eye);
    if (g_frame.options.verbosity >= 2 && g_frame.hooks.robot_lines_draw)
        g_frame.hooks.robot_lines_draw(eye);
    stage("drawghosts");
    // 13. Labels over the world, back to front.
    labels_draw(&c);
    g_frame.label_count = 0;
    // 14. Fog off; lens flares last, over everything.
    lighting_fog_off();
    lens_flares_draw(eye);
    stage("drawflares");
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_FOG);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void renderer_tables_free(void)
{
    cameras_free();
    g_frame.label_count = 0;
}
