// Frames of the game's riding view in its window (1280 x 720; under Xvfb, Mesa's llvmpipe
// with LP_NUM_THREADS=2): the sample track loaded by load_session with ten riders, slot 0
// viewed on the gate and the other nine 15 to 150 ft ahead, 600 frames after 60 of warm-up with the presets "High FPS" and
// "Normal". Each stage is timed with glFinish (here only): the terrain's texture upkeep
// (terrain_textures_update), its drawing (terrain_draw), the main loop's error pass and
// low-detail refresh (terrain_lod_update) and the buffer swap. A last run raises 64 vertices
// in view every frame, as ruts would, and compares the slowest frame with the median.
// The whole frame follows for each preset: the riding and the chase view of slot 0 through
// frame_draw with the HUD over it, each of the frame's stages, the HUD and the swap timed.
// The data comes from SK_HOME, else the "game" folder beside this executable.
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <GL/gl.h>
#include <ode/ode.h>

#include "bench_home.h"
#include "bike/bike.h"
#include "driver/args.h"
#include "driver/config.h"
#include "platform/window.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"
#include "render/bike_draw.h"
#include "render/cameras.h"
#include "render/font.h"
#include "render/frame.h"
#include "render/gl.h"
#include "render/ground_textures.h"
#include "render/hud.h"
#include "render/lighting.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/scenery/roost.h"
#include "render/scenery/scenery.h"
#include "render/scenery_draw.h"
#include "render/terrain_lod.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "robots/robots.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static double now_ms(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

static bool prepare_data(void)
{
    static char home[PATH_MAX];
    return bench_home_prepare("skframebench", home, sizeof home);
}

static void configure(int preset)
{
    config_apply_preset(preset);
    TerrainRenderSettings s = {
        terrain_detail_for((float)g_settings.ground_detail.value),
        g_settings.ground_texture_dim.chosen,
        10 - (int)g_settings.ground_texture_detail.value,
        strcmp(choice_label(&g_settings.ground_mipmaps), "Yes") == 0,
        (int)g_settings.reshade_delay.value,
        true,
        0,
    };
    terrain_render_configure(&s);
}

// The shader choices as the game makes them: only with "use_shader" on.
static int method_of_setting(void)
{
    const char *label = choice_label(&g_settings.render_texture);
    int method = strstr(label, "Copy") ? GROUND_METHOD_COPY : strstr(label, "Direct") ? GROUND_METHOD_DIRECT : GROUND_METHOD_SOFTWARE;
    bool shaders = strncmp(label, "Shaders/", 8) == 0 && strcmp(choice_label(&g_settings.use_shader), "Yes") == 0;
    return shaders ? method + 2 : method;
}
static int g_method;
static int requested_method(void) { return g_method; }

// The rider's eye on slot 0, looking along the frame a little down.
static void camera(Vec3 *eye, Vec3 *forward)
{
    BikeState *bike = rider_slot(0)->bike;
    const Terrain *t = session_terrain();
    if (!bike) {
        *eye = v3(t->world_size / 2, t->max_height + 6, t->world_size / 2);
        *forward = v3_normalize(v3(0, -0.2f, 1));
        return;
    }
    const dReal *p = dBodyGetPosition(bike->body[BODY_RIDER]);
    const dReal *r = dBodyGetRotation(bike->body[BODY_FRAME]);
    *eye = v3((float)p[0], (float)p[1] + 0.8f, (float)p[2]);
    Vec3 ahead = v3_normalize(v3(-(float)r[2], 0, -(float)r[10]));
    *forward = v3_normalize(v3(ahead.x, -0.15f, ahead.z));
}

// The projection with the lighting file's planes and the camera's rotation, looking along f.
static void load_rotation(Vec3 f, int w, int h)
{
    float n = lighting()->near_plane, top = n * tanf(30 * 3.14159265f / 180), right = top * w / h;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-right, right, -top, top, n, lighting()->far_plane);
    Vec3 side = v3_normalize(v3(-f.z, 0, f.x));
    Vec3 up = v3(side.y * f.z - side.z * f.y, side.z * f.x - side.x * f.z, side.x * f.y - side.y * f.x);
    const float m[16] = { side.x, up.x, -f.x, 0, side.y, up.y, -f.y, 0, side.z, up.z, -f.z, 0, 0, 0, 0, 1 };
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(m);
}

static void load_camera(Vec3 eye, Vec3 f, int w, int h)
{
    load_rotation(f, w, h);
    glTranslatef(-eye.x, -eye.y, -eye.z);
}

struct Stages {
    std::vector<double> frame, textures, draw, lod, swap, refine;
    double fans = 0, triangles = 0;
};

static double mean(const std::vector<double> &v)
{
    double s = 0;
    for (double x : v)
        s += x;
    return v.empty() ? 0 : s / (double)v.size();
}

// One frame as the game runs it; with dig, 64 vertices 20 ft ahead are raised first.
static void frame(Stages *st, bool record, bool dig, int k)
{
    Terrain *t = session_terrain();
    Vec3 eye, fwd;
    camera(&eye, &fwd);
    double t0 = now_ms();
    if (dig) {
        int ci = (int)((eye.x + fwd.x * 20) * t->inv_spacing), cj = (int)((eye.z + fwd.z * 20) * t->inv_spacing);
        float amount = (k & 1) ? -0.05f : 0.05f;
        for (int j = cj - 4; j < cj + 4; j++)
            for (int i = ci - 4; i < ci + 4; i++)
                terrain_set_height(t, i, j, t->heights[i + (size_t)j * t->dim] + amount);
        t->height_changes++;
        if (terrain_render_hooks()->mark_region)
            terrain_render_hooks()->mark_region(t, ci - 4, cj - 4, ci + 3, cj + 3);
    }
    int w = 0, h = 0;
    if (!begin_frame(&w, &h))
        return;
    terrain_textures_update(eye);
    glFinish();
    double t1 = now_ms();
    glViewport(0, 0, w, h);
    glClearColor(0.55f, 0.7f, 0.9f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    load_camera(eye, fwd, w, h);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    terrain_draw(eye, fwd);
    glFinish();
    double t2 = now_ms();
    end_frame();
    double t3 = now_ms();
    terrain_lod_update();
    double t4 = now_ms();
    // The CPU's share of terrain_draw: refinement into fans, once more on its own.
    static LodFrame scratch;
    static const LodTextureSource source = { ground_window, ground_bind };
    lod_build_frame(eye, fwd, &source, &scratch);
    double t5 = now_ms();
    if (!record)
        return;
    st->refine.push_back(t5 - t4);
    TerrainRenderStats s;
    terrain_render_stats(&s);
    st->frame.push_back(t4 - t0);
    st->textures.push_back(t1 - t0);
    st->draw.push_back(t2 - t1);
    st->swap.push_back(t3 - t2);
    st->lod.push_back(t4 - t3);
    st->fans += s.fans;
    st->triangles += s.triangles;
}

static bool load(int preset)
{
    configure(preset);
    g_method = method_of_setting();
    int requests[SESSION_SLOTS] = {};
    requests[0] = REQUEST_PLAYER;
    for (int i = 1; i < 10; i++)
        requests[i] = REQUEST_ROBOT;
    session_force_reload();
    if (!session_select_track("tracks/sample") || !load_session(requests, false, false, 0, 5, 1))
        return false;
    // The other nine 15 to 150 ft ahead of slot 0, down the start straight.
    Vec3 eye, forward;
    camera(&eye, &forward);
    Vec3 ahead = v3_normalize(v3(forward.x, 0, forward.z));
    for (int i = 1; i < 10; i++) {
        float distance = 15 + (150 - 15) * (i - 1) / 8.0f;
        if (BikeState *b = rider_slot(i)->bike)
            place_bike(b, session_terrain(), eye.x + ahead.x * distance, eye.z + ahead.z * distance,
                       atan2f(-ahead.x, -ahead.z));
    }
    return true;
}

// ---- The whole frame through frame_draw: the riding and chase views of slot 0 with the HUD.
// Each stage is timed by the frame's stage hook (glFinish first, here only).

static struct {
    double mark;
    std::map<std::string, double> ms;
    std::vector<std::string> order;
} g_stages;

static void stage_timer(const char *label)
{
    glFinish();
    double t = now_ms();
    if (!g_stages.ms.count(label))
        g_stages.order.push_back(label);
    g_stages.ms[label] += t - g_stages.mark;
    g_stages.mark = t;
}

static void view_camera(bool riding, Camera *cam)
{
    BikeState *bike = rider_slot(0)->bike;
    if (riding) {
        static GimbalState gimbal;
        FirstPersonSettings fp = { (float)g_settings.first_person_height.value, (float)g_settings.first_person_angle.value,
                                   (float)g_settings.first_person_gimbal.value, (float)g_settings.fov.value };
        camera_first_person(bike, &fp, &gimbal, 1 / 60.0, cam);
        return;
    }
    dBodyID frame = bike->body[BODY_FRAME];
    ChaseInput in = {};
    dVector3 c, f;
    dBodyGetRelPointPos(frame, 0, 2.52, 0.52, c);
    dBodyVectorToWorld(frame, 0, 0, -1, f);
    in.centre = v3((float)c[0], (float)c[1], (float)c[2]);
    in.heading = v3((float)f[0], (float)f[1], (float)f[2]);
    in.own = true;
    in.third_distance = (float)g_settings.third_person_distance.value;
    in.third_height = (float)g_settings.third_person_height.value;
    in.fov = (float)g_settings.fov.value;
    chase_camera_place(&in, cam);
    cam->bike = 0;
}

static void frame_views(int preset)
{
    FrameHooks hooks = {};
    hooks.stage_done = stage_timer;
    frame_set_hooks(&hooks);
    FrameOptions options = {};
    frame_configure(&options);
    HudInput hud = {};
    hud.slot = 0;
    hud.track_name = "Sample Track";
    hud.lean_indicator = true;
    hud.map_scale = 1;
    // The race title shows in a race's first 3 s only: the HUD is measured without it, and
    // once with it.
    double title_ms = 0;
    for (int k = 0; k < 160; k++) {
        int w = 0, h = 0;
        if (!begin_frame(&w, &h))
            continue;
        glFinish();
        double t0 = now_ms();
        hud_draw_view(&hud);
        glFinish();
        if (k >= 60)
            title_ms += now_ms() - t0;
        end_frame();
    }
    // What any drawing after a glFinish costs on this driver: one small quad.
    double quad_ms = 0;
    for (int k = 0; k < 160; k++) {
        int w = 0, h = 0;
        if (!begin_frame(&w, &h))
            continue;
        glFinish();
        double t0 = now_ms();
        glDisable(GL_TEXTURE_2D);
        glBegin(GL_QUADS);
        glVertex2f(0, 0);
        glVertex2f(0.01f, 0);
        glVertex2f(0.01f, 0.01f);
        glVertex2f(0, 0.01f);
        glEnd();
        glFinish();
        if (k >= 60)
            quad_ms += now_ms() - t0;
        end_frame();
    }
    printf("hud %-8s with the race title: %.3f ms; one quad after a glFinish: %.3f ms\n", config_preset_name(preset),
           title_ms / 100, quad_ms / 100);
    set_race_tic(4 * 128);
    for (int riding = 1; riding >= 0; riding--) {
        g_stages.ms.clear();
        g_stages.order.clear();
        std::vector<double> frames;
        double hud_ms = 0, swap_ms = 0;
        for (int k = 0; k < 660; k++) {
            int w = 0, h = 0;
            if (!begin_frame(&w, &h))
                continue;
            set_projection(w, h, (float)g_settings.fov.value);
            Camera cam = {};
            view_camera(riding, &cam);
            glFinish();
            double t0 = now_ms();
            g_stages.mark = t0;
            frame_draw(&cam, riding);
            double t1 = now_ms();
            hud_draw_view(&hud);
            glFinish();
            double t2 = now_ms();
            end_frame();
            double t3 = now_ms();
            terrain_lod_update();
            double t4 = now_ms();
            if (k == 59) {
                g_stages.ms.clear();
                g_stages.order.clear();
                hud_ms = swap_ms = 0;
            }
            if (k < 60)
                continue;
            frames.push_back(t4 - t0);
            hud_ms += t2 - t1;
            swap_ms += t3 - t2 + t4 - t3;
        }
        double n = (double)frames.size(), total = mean(frames);
        printf("frame_draw %-8s %-6s: %.1f fps, frame %.2f ms:", config_preset_name(preset), riding ? "riding" : "chase",
               1000 / total, total);
        for (const std::string &label : g_stages.order)
            printf(" %s %.2f,", label.c_str(), g_stages.ms[label] / n);
        printf(" hud %.3f, swap+lod %.2f\n", hud_ms / n, swap_ms / n);
    }
    frame_set_hooks(nullptr);
}

// ---- scenery: statues and billboards together, and the roost's tic with the billboards' sort

struct SceneryTimes {
    std::vector<double> statues, billboards, roost;
};

static void scenery_frame(SceneryTimes *st, bool record, const RoostType *particles)
{
    Vec3 eye, fwd;
    camera(&eye, &fwd);
    int w = 0, h = 0;
    if (!begin_frame(&w, &h))
        return;
    glViewport(0, 0, w, h);
    glClearColor(0.55f, 0.7f, 0.9f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    load_camera(eye, fwd, w, h);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    terrain_draw(eye, fwd);
    const float at[3] = { eye.x, eye.y, eye.z }, back[3] = { -fwd.x, -fwd.y, -fwd.z };
    double roost = 0;
    if (particles) {
        // Keep the pool full, in view, 10 to 60 ft ahead (spawning is not timed).
        const Terrain *t = session_terrain();
        for (int n = roost_live_count(), k = 0; n < ROOST_POOL; n++, k++) {
            float d = 10 + (float)(k % 50), side = (float)(k % 21) - 10;
            float x = eye.x + fwd.x * d - fwd.z * side, z = eye.z + fwd.z * d + fwd.x * side;
            const float p[3] = { x, terrain_height(t, x, z) + 1, z }, v[3] = { 0, 30, 0 };
            roost_spawn(particles, p, v);
        }
        static std::vector<int> order;
        order.resize((size_t)billboard_count());
        double t0 = now_ms();
        roost_update();
        billboards_collect(at, back, order.data());
        roost = now_ms() - t0;
    }
    glFinish();
    double t0 = now_ms();
    statues_draw(at);
    glFinish();
    double t1 = now_ms();
    billboards_draw(at, back);
    glFinish();
    double t2 = now_ms();
    end_frame();
    if (!record)
        return;
    st->statues.push_back(t1 - t0);
    st->billboards.push_back(t2 - t1);
    if (particles)
        st->roost.push_back(roost);
}

static void scenery_run(const char *preset, const char *what, const RoostType *particles)
{
    SceneryTimes st;
    for (int k = 0; k < 360; k++)
        scenery_frame(&st, k >= 60, particles);
    SceneryDrawStats stats;
    scenery_draw_stats(&stats);
    printf("%-9s %s: statues %.2f ms + billboards %.2f ms = %.2f ms (%d statues, %d billboards drawn, %d binds)",
           preset, what, mean(st.statues), mean(st.billboards), mean(st.statues) + mean(st.billboards), stats.statues,
           stats.billboards, stats.binds);
    if (particles)
        printf("; roost_update + sort %.3f ms with %d live particles", mean(st.roost), roost_live_count());
    printf("\n");
}

static void scenery_stages(const char *preset)
{
    scenery_run(preset, "the track's scenery", nullptr);
    // A wooded lap: 200 trees of four pictures 20 to 400 ft ahead off both sides of the line,
    // and 30 statues along it.
    Vec3 eye, fwd;
    camera(&eye, &fwd);
    const char *textures[4] = { "@dirt.png", "@dirt-alt1.png", "@dirt-grass-0001.png", "@dirt-grass-0010.png" };
    for (int i = 0; i < 200; i++) {
        float d = 20 + (float)(i % 100) * 4, side = (i % 2 ? 1 : -1) * (25 + (float)((i * 37) % 40));
        billboard_add(eye.x + fwd.x * d - fwd.z * side, 0, eye.z + fwd.z * d + fwd.x * side, 12, 0.6f,
                      texture_load(textures[i % 4]), nullptr);
    }
    for (int i = 0; i < 30; i++) {
        float d = 15 + (float)i * 8, side = i % 2 ? 20.0f : -20.0f;
        statue_add(eye.x + fwd.x * d - fwd.z * side, 0, eye.z + fwd.z * d + fwd.x * side, (float)i, "@mx125_frame.jm",
                   "@dirt.png", nullptr);
    }
    scenery_run(preset, "+30 statues, +200 billboards", nullptr);
    RoostType type = {};
    type.state = 1;
    type.texture = texture_load("@dirt.png");
    type.size = 0.3f;
    type.drag = 0.5f;
    type.a = type.r = type.g = type.b = 255;
    scenery_run(preset, "with 2,000 roost particles", &type);
}


// ---- Sky and lens flares ----
// The sky stage from the riding camera (depth clear and the five faces), then, looking at the
// sun, the lens flare over the sky and ground: its read-back alone after a glFinish, and on
// alternate frames as the frame meets it, waiting for the drawing still queued.
static void sky_stages(int preset)
{
    if (!load(preset))
        return;
    lighting_set_lens_flare(true);
    std::vector<double> sky, flare_after_finish, readback_after_finish, flare_in_frame, readback_in_frame;
    int visible = 0;
    for (int k = 0; k < 1320; k++) {
        bool at_sun = k >= 660;
        Vec3 eye, fwd;
        camera(&eye, &fwd);
        if (at_sun)
            fwd = v3_normalize(v3(lighting()->sun_vector[0], lighting()->sun_vector[1], lighting()->sun_vector[2]));
        int w = 0, h = 0;
        if (!begin_frame(&w, &h))
            return;
        terrain_textures_update(eye);
        glViewport(0, 0, w, h);
        load_rotation(fwd, w, h);
        glEnable(GL_DEPTH_TEST);
        glFinish();
        double t0 = now_ms();
        sky_draw();
        glFinish();
        double t1 = now_ms();
        lighting_fog_on();
        glTranslatef(-eye.x, -eye.y, -eye.z);
        lighting_light0();
        terrain_draw(eye, fwd);
        lighting_fog_off();
        bool finish_first = k & 1;
        if (finish_first)
            glFinish();
        const float at[3] = { eye.x, eye.y, eye.z };
        double t2 = now_ms();
        lens_flares_draw(at);
        glFinish();
        double t3 = now_ms();
        end_frame();
        double readback;
        int tested;
        lens_flare_stats(&readback, &tested);
        bool record = (k % 660) >= 60;
        if (!record)
            continue;
        if (!at_sun) {
            sky.push_back(t1 - t0);
            continue;
        }
        visible += lighting()->flare_count > 0 && tested > 0;
        (finish_first ? flare_after_finish : flare_in_frame).push_back(t3 - t2);
        (finish_first ? readback_after_finish : readback_in_frame).push_back(readback);
    }
    printf("%-9s sky: sky_draw %.2f ms; looking at the sun (%d of 600 frames tested a flare): lens_flares_draw %.3f ms "
           "(read-back %.3f) after glFinish, %.3f ms (read-back %.3f) with the frame's drawing still queued\n",
           config_preset_name(preset), mean(sky), visible, mean(flare_after_finish), mean(readback_after_finish),
           mean(flare_in_frame), mean(readback_in_frame));
}

int main(int argc, char **argv)
{
    // "sky": only the sky and flare stages; SK_BENCH_SCENERY_ONLY=1: only the scenery stages.
    bool sky_only = argc > 1 && strcmp(argv[1], "sky") == 0;
    bool scenery_only = getenv("SK_BENCH_SCENERY_ONLY") != nullptr;
    setenv("LP_NUM_THREADS", "2", 0);
    if (!prepare_data() || !open_window("frame_bench", 1280, 720, 24, 0, 24, 0, 0)) {
        fprintf(stderr, "frame_bench: needs a display and the generated data\n");
        return 1;
    }
    gl_probe();
    if (gl_caps.fragment_shader && gl_caps.texture_units >= 4)
        shaders_build();
    glEnable(GL_CULL_FACE);
    terrain_render_install();
    scenery_draw_install();
    SimulationHooks hooks = {};
    hooks.terrain_rendering_method = requested_method;
    hooks.lighting_load = lighting_load;
    simulation_set_hooks(&hooks);
    robots_install();
    if (!bike_world_create())
        return 1;
    config_apply_defaults();
    model_draw_init(shader_program(SHADER_LIT) != 0, true);
    float lod_scale, lod_bias;
    model_lod_from_detail((int)g_settings.model_detail.value, &lod_scale, &lod_bias);
    model_set_lod(lod_scale, lod_bias);
    bike_draw_init();
    fonts_load();
    printf("renderer: %s\n", gl_caps.renderer);
    const int presets[2] = { 1, 2 };
    for (int p : presets) {
        if (sky_only)
            break;
        if (!load(p)) {
            fprintf(stderr, "frame_bench: the sample track did not load\n");
            return 1;
        }
        Stages st;
        int frames = scenery_only ? 1 : 600;
        for (int k = 0; k < 60; k++)
            frame(&st, false, false, k);
        for (int k = 0; k < frames; k++)
            frame(&st, true, false, k);
        double total = mean(st.frame);
        printf("%-9s (%s%s, %dx%d textures): %.1f fps, frame %.2f ms: terrain_textures_update %.2f, terrain_draw %.2f, "
               "terrain_lod_update %.2f, swap %.2f; refinement alone %.2f; %.0f fans, %.0f triangles\n",
               config_preset_name(p), choice_label(&g_settings.render_texture),
               ground_shader_path() ? ", lit per pixel" : "", 32 << g_settings.ground_texture_dim.chosen,
               32 << g_settings.ground_texture_dim.chosen, 1000 / total, total, mean(st.textures), mean(st.draw),
               mean(st.lod), mean(st.swap), mean(st.refine), st.fans / frames, st.triangles / frames);
        if (!scenery_only)
            frame_views(p);
        scenery_stages(config_preset_name(p));
    }
    if (scenery_only) {
        free_riders();
        free_track();
        bike_world_destroy();
        close_window();
        return 0;
    }
    for (int p : presets)
        sky_stages(p);
    if (sky_only) {
        free_riders();
        free_track();
        bike_world_destroy();
        close_window();
        return 0;
    }
    // Ruts: the ground in view changes every frame.
    if (!load(1))
        return 1;
    Stages st;
    for (int k = 0; k < 60; k++)
        frame(&st, false, true, k);
    for (int k = 0; k < 600; k++)
        frame(&st, true, true, k);
    // Frames here leave out the extra refinement measured above.
    std::vector<double> sorted = st.frame;
    std::sort(sorted.begin(), sorted.end());
    double median = sorted[sorted.size() / 2], worst = sorted.back();
    auto most = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); };
    printf("High FPS, 64 vertices raised a frame: median frame %.2f ms, slowest %.2f ms (+%.2f); mean (slowest) "
           "terrain_textures_update %.2f (%.2f), terrain_draw %.2f (%.2f), terrain_lod_update %.2f (%.2f), swap %.2f (%.2f)\n",
           median, worst, worst - median, mean(st.textures), most(st.textures), mean(st.draw), most(st.draw),
           mean(st.lod), most(st.lod), mean(st.swap), most(st.swap));
    free_riders();
    free_track();
    bike_world_destroy();
    close_window();
    return 0;
}
