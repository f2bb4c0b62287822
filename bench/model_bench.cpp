// Ten posed bikes with their riders drawn into the game's window (1280 x 720) from a first-
// person camera on the first, the others 15 to 150 ft ahead: milliseconds per frame
// (glFinish-timed) and triangles drawn, with the settings of two presets: "High FPS" (no
// programs, so CPU skinning; model detail 25; no chrome pass) and "Normal" (the lit program
// skins; detail 50; reflections on). Run under the test display with LP_NUM_THREADS=2 for
// llvmpipe's figures.
#include <benchmark/benchmark.h>

#include <math.h>
#include <stdlib.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "platform/window.h"
#include "render/bike_draw.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/texture.h"
#include "vfs/vfs.h"

static const int k_w = 1280, k_h = 720, k_bikes = 10;

static bool setup(bool programs)
{
    static bool window = false;
    if (!window) {
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        vfs_reset_for_tests();
        if (!open_window("model bench", k_w, k_h, 24, 0, 16, 0, 0))
            return false;
        int w, h;
        for (int i = 0; i < 100 && !begin_frame(&w, &h); i++) {
        }
        gl_probe();
        fonts_load();
        window = true;
    }
    bike_world_destroy();
    models_delete_all();
    if (!bike_world_create())
        return false;
    if (programs && !(gl_caps.fragment_shader && shaders_build()))
        return false;
    if (!programs)
        shaders_delete();
    model_draw_init(programs, true);
    float scale, bias;
    model_lod_from_detail(programs ? 50 : 25, &scale, &bias);
    model_set_lod(scale, bias);
    bike_draw_set_reflections(0, programs);
    bike_draw_init();
    for (int i = 0; i < k_bikes; i++) {
        BikeState *b = build_bike(i, i % 2 ? "kx250f(2008)" : "cr125(2002)", "12");
        if (!b)
            return false;
        float ahead = i == 0 ? 0 : 15 + (150 - 15) * (i - 1) / (k_bikes - 2.0f);
        move_bike(b, (i % 3 - 1) * 4.0f, 0, -ahead);
        // Leaning a little, the rider shifted: every limb posed away from its rest.
        dBodySetPosition(b->body[BODY_RIDER], (i % 3 - 1) * 4.0f + 0.2f, 3.8, 3.9 - ahead);
    }
    return true;
}

static void frame(bool programs, long *triangles)
{
    glViewport(0, 0, k_w, k_h);
    glClearColor(0.2f, 0.4f, 0.8f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    float right = 0.25f * tanf(55 * (float)M_PI / 180), top = right * k_h / k_w;
    glFrustum(-right, right, -top, top, 0.25f, 5000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(15, 1, 0, 0);
    glTranslatef(0, -5.2f, -3.3f);
    model_set_camera(0, 5.2f, 3.3f);
    const float sun[4] = { 0.3f, 1, 0.4f, 0 };
    glLightfv(GL_LIGHT0, GL_POSITION, sun);
    glEnable(GL_LIGHT0);
    glEnable(GL_DEPTH_TEST);
    model_reset_stats();
    for (int i = 0; i < k_bikes; i++)
        draw_bike(bike_slot(i), i == 0 ? BIKE_VIEW_FIRST_PERSON : BIKE_VIEW_OUTSIDE, 1);
    glFinish();
    long vertices;
    model_stats(triangles, &vertices);
    (void)programs;
}

static void BM_TenBikes(benchmark::State &state)
{
    bool programs = state.range(0) == 1;
    if (!setup(programs)) {
        state.SkipWithError("no window, data or programs");
        return;
    }
    long triangles = 0;
    for (int i = 0; i < 5; i++)
        frame(programs, &triangles);
    for (auto _ : state)
        frame(programs, &triangles);
    state.counters["triangles"] = (double)triangles;
    state.SetLabel(programs ? "Normal" : "High FPS");
}
BENCHMARK(BM_TenBikes)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);

BENCHMARK_MAIN();
