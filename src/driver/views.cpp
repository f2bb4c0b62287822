#include "driver/views.h"

#include <math.h>
#include <string.h>

#include <GL/gl.h>
#include <ode/ode.h>

#include "bike/bike.h"
#include "bike/setup.h"
#include "driver/args.h"
#include "driver/config.h"
#include "driver/console.h"
#include "driver/frame_timing.h"
#include "driver/loop.h"
#include "driver/startup_stubs.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"
#include "render/cameras.h"
#include "render/frame.h"
#include "render/hud.h"
#include "render/lighting.h"
#include "render/scenery_draw.h"
#include "render/screens.h"
#include "render/terrain_render.h"
#include "terrain/terrain.h"

static struct {
    GimbalState gimbal;
    double last_clock;
    int last_view, last_slot;
} g_views = { {}, 0, -1, -1 };

static bool yes(const ChoiceItem &item)
{
    return item.labels && strcmp(choice_label(&item), "Yes") == 0;
}

static void frame_stage(const char *label) { stutter_check(label); }

void views_init(void)
{
    FrameHooks hooks = {};
    hooks.stage_done = frame_stage;
    frame_set_hooks(&hooks);
}

static void configure_frame(void)
{
    const StartupSettings *s = startup_settings();
    FrameOptions o = {};
    o.flat_shading = s->flat_shading;
    o.verbosity = s->verbosity;
    o.hide_rider = yes(g_settings.hide_rider);
    o.reflections = yes(g_settings.reflections);
    o.spectating = net_spectating();
    frame_configure(&o);
    lighting_set_lens_flare(yes(g_settings.lens_flare));
    billboards_set_lookahead(g_settings.billboard_optimize_lookahead);
}

static Vec3 body_point(dBodyID body, const float p[3])
{
    dVector3 w;
    dBodyGetRelPointPos(body, p[0], p[1], p[2], w);
    return v3((float)w[0], (float)w[1], (float)w[2]);
}

static bool built(const RiderSlot *s)
{
    return s && s->bike && s->bike->built && s->bike->body[BODY_FRAME];
}

static void chase_view(const RiderSlot *s, int slot, Camera *cam)
{
    BikeState *bike = s->bike;
    dBodyID frame = bike->body[BODY_FRAME];
    ChaseInput in = {};
    in.centre = body_point(frame, startup_settings()->chase_center);
    dVector3 f;
    dBodyVectorToWorld(frame, 0, 0, -1, f);
    in.heading = v3((float)f[0], (float)f[1], (float)f[2]);
    const dReal *v = dBodyGetLinearVel(frame);
    in.velocity = v3((float)v[0], (float)v[1], (float)v[2]);
    in.own = s->kind == CONTROL_HUMAN;
    const ChaseCamera *c = chase_camera();
    in.yaw = c->yaw;
    in.distance = c->distance;
    in.height = c->height;
    in.third_distance = (float)g_settings.third_person_distance.value;
    in.third_height = (float)g_settings.third_person_height.value;
    in.rigid = yes(g_settings.rigid_camera);
    in.fov = (float)g_settings.fov.value;
    chase_camera_place(&in, cam);
    cam->bike = slot;
}

// The keyframes the console keeps, along the race clock.
static bool keycam_view(Camera *cam)
{
    int n = camera_key_count();
    if (!console_switch(SWITCH_KEYCAM) || n == 0)
        return false;
    static CameraKeyframe keys[64];
    // Only the keyframes around now are needed for the spline.
    int first = 0;
    while (first + 1 < n && camera_key(first + 1)->tic <= race_tic())
        first++;
    first = first > 1 ? first - 1 : 0;
    int count = 0;
    for (int i = first; i < n && count < 64; i++) {
        const CameraKey *k = camera_key(i);
        keys[count].position = v3(k->position[0], k->position[1], k->position[2]);
        memcpy(keys[count].rotation, k->rotation, sizeof k->rotation);
        keys[count].fov = k->fov;
        keys[count].time = k->tic;
        count++;
    }
    return camera_path_at(keys, count, race_tic(), cam);
}

static void camera_view(const RiderSlot *s, int slot, Camera *cam)
{
    int selected = selected_camera();
    if (selected >= 0 && track_camera(selected) && built(s)) {
        const dReal *p = dBodyGetPosition(s->bike->body[BODY_FRAME]);
        track_camera_view(selected, v3((float)p[0], (float)p[1] + 1, (float)p[2]), slot, cam);
        return;
    }
    if (keycam_view(cam))
        return;
    free_camera_view(cam);
}

void render_view(int view)
{
    Terrain *t = session_terrain();
    if (!t || !t->heights) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        return;
    }
    configure_frame();
    int slot = viewed_slot();
    const RiderSlot *s = rider_slot(slot);
    double clock = game_clock(), seconds = clock - g_views.last_clock;
    g_views.last_clock = clock;
    if (view != g_views.last_view || slot != g_views.last_slot)
        g_views.gimbal.valid = false;
    g_views.last_view = view;
    g_views.last_slot = slot;
    free_camera_set_fov((float)g_settings.fov.value);
    Camera cam = {};
    cam.bike = -1;
    bool first_person = false;
    if (view == VIEW_RIDER && built(s)) {
        FirstPersonSettings fp = { (float)g_settings.first_person_height.value,
                                   (float)g_settings.first_person_angle.value,
                                   (float)g_settings.first_person_gimbal.value, (float)g_settings.fov.value };
        camera_first_person(s->bike, &fp, &g_views.gimbal, seconds, &cam);
        first_person = true;
    } else if (view == VIEW_CHASE && built(s)) {
        chase_view(s, slot, &cam);
    } else if (view == VIEW_CAMERA) {
        camera_view(s, slot, &cam);
    } else {
        free_camera_view(&cam);
    }
    frame_draw(&cam, first_person);
}

void hud_draw(void)
{
    const StartupSettings *s = startup_settings();
    const TrackInfo *info = track_info(track_find(session_track()));
    HudInput in = {};
    in.slot = viewed_slot();
    in.practice = session_time_trial() || s->practice_robots;
    in.track_name = info ? info->name : session_track();
    in.draw_fps = g_settings.draw_fps;
    in.draw_time = g_settings.draw_time;
    in.draw_ping = g_settings.draw_ping;
    in.draw_speed = g_settings.draw_speed;
    in.render_stats = s->draw_render_stats || console_switch(SWITCH_RENDER_STATS);
    in.longest_step = in.draw_fps ? loop_take_longest_step() : 0;
    in.ping_shown = net_connected() && net_in_race();
    const char *number, *bike, *name;
    for (int row = 0, slot, ping; in.ping_shown && net_player_row(row, &slot, &ping, &number, &bike, &name); row++)
        if (slot == in.slot)
            in.ping_ms = ping;
    in.ping_offset_ms = (int)lround((net_server_tic() - race_tic()) * TIC_SECONDS * 1000);
    in.lean_indicator = yes(g_setup.lean_indicator);
    in.suspension_graph = console_switch(SWITCH_SUSPENSION_GRAPH);
    in.map_scale = (float)g_settings.map_scale.value;
    hud_draw_view(&in);
}

void camera_view_name_draw(void)
{
    const SessionSlot *s = session_slot(viewed_slot());
    if (s && s->name[0])
        draw_centered_text(s->name, 0.9f);
}

void terrain_update_shading(int)
{
    if (session_terrain()->heights)
        terrain_lod_update();
}

void terrain_decals_hidden(bool hidden) { terrain_redraw_textures(hidden); }
