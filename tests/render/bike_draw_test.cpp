// Bikes and riders drawn from the generated data on a window's GL context (Mesa under Xvfb):
// where a bike lands on the screen, the plate's colours and the two skinning paths.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <vector>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "gl_fixture.h"
#include "render/bike_draw.h"
#include "render/font.h"
#include "render/gl.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/texture.h"
#include "vfs/vfs.h"

namespace {

const int k_w = 320, k_h = 240;
const float k_sky[3] = { 0.2f, 0.4f, 0.8f };

struct BikeOnScreen : GlWorld {
    BikeState *bike = nullptr;
    void SetUp() override
    {
        GlWorld::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // The generated game data stands in for the data directory.
        setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
        vfs_reset_for_tests();
        fonts_load();
        ASSERT_TRUE(bike_world_create());
        model_set_lod(1, 0);
        bike_draw_init();
    }
    void TearDown() override
    {
        if (!IsSkipped()) {
            bike_world_destroy();
            bike_draw_shutdown();
            models_delete_all();
            texture_cache_free();
            textures_delete_all();
            fonts_free();
            shaders_delete();
            vfs_reset_for_tests();
        }
        GlWorld::TearDown();
    }

    // A side view from +x, 10 ft away, of the bike as built (its wheels on y = ground).
    void camera(float distance)
    {
        glViewport(0, 0, k_w, k_h);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        float top = 0.25f * tanf(25 * (float)M_PI / 180), right = top * k_w / k_h;
        glFrustum(-right, right, -top, top, 0.25f, 1000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRotatef(-90, 0, 1, 0);        // look along -x
        glTranslatef(-distance, -ground() - 1.5f, -centre_z());
        model_set_camera(distance, ground() + 1.5f, centre_z());
        const float sun[4] = { 1, 1, 0.5f, 0 };
        glLightfv(GL_LIGHT0, GL_POSITION, sun);
        glEnable(GL_LIGHT0);
        glEnable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glFogf(GL_FOG_DENSITY, 0);      // the programs always fog
        glClearColor(k_sky[0], k_sky[1], k_sky[2], 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    const BikeModel &row() const { return *bike_catalogue_row(bike); }
    float ground() const { return row().front.axle[1] - row().front.major_radius - row().front.minor_radius; }
    float centre_z() const { return (row().front.axle[2] + row().rear.axle[2]) / 2; }
    std::vector<unsigned char> read()
    {
        std::vector<unsigned char> px((size_t)k_w * k_h * 3);
        glFinish();
        glReadPixels(0, 0, k_w, k_h, GL_RGB, GL_UNSIGNED_BYTE, px.data());
        return px;
    }
    static bool sky(const unsigned char *p)
    {
        for (int c = 0; c < 3; c++)
            if (abs(p[c] - (int)(k_sky[c] * 255 + 0.5f)) > 2)
                return false;
        return true;
    }
};

TEST_F(BikeOnScreen, SideViewIsCentredOnTheGroundLine)
{
    bike = build_bike(0, "yz250f(2017)", "7");
    ASSERT_NE(bike, nullptr);
    camera(10);
    draw_bike(bike, BIKE_VIEW_OUTSIDE, 1);
    std::vector<unsigned char> px = read();
    int left = k_w, right = -1, bottom = k_h;
    for (int y = 0; y < k_h; y++)
        for (int x = 0; x < k_w; x++)
            if (!sky(&px[((size_t)y * k_w + x) * 3])) {
                left = x < left ? x : left;
                right = x > right ? x : right;
                bottom = y < bottom ? y : bottom;
            }
    ASSERT_GE(right, 0) << "nothing drawn";
    // The axles' midpoint is the screen's centre column: the bike is centred within a few
    // pixels (the fender and pipe stick out a little further at the back).
    EXPECT_NEAR((left + right) / 2.0, k_w / 2.0, 12);
    // The ground line sits 1.5 ft below the eye at 10 ft.
    float top = 0.25f * tanf(25 * (float)M_PI / 180);
    double ground_row = k_h / 2.0 - (1.5 / 10) / (top / 0.25) * (k_h / 2.0);
    EXPECT_NEAR(bottom, ground_row, 1.5);
}

}   // namespace

namespace {

// Which pixels differ from the sky.
std::vector<bool> mask(const std::vector<unsigned char> &px)
{
    std::vector<bool> m((size_t)k_w * k_h);
    for (size_t i = 0; i < m.size(); i++)
        m[i] = !BikeOnScreen::sky(&px[i * 3]);
    return m;
}

TEST_F(BikeOnScreen, ProgramAndCpuSkinningCoverTheSamePixels)
{
    gl_probe();
    if (!gl_caps.fragment_shader || gl_caps.texture_units < 4 || !shaders_build())
        GTEST_SKIP() << "no shader programs on this driver";
    std::vector<bool> seen[2];
    for (int programs = 0; programs < 2; programs++) {
        // Models compile for one path: start each from an empty cache.
        bike_world_destroy();
        models_delete_all();
        ASSERT_TRUE(bike_world_create());
        model_draw_init(programs == 1, true);
        if (programs == 0)
            shaders_delete();
        else
            ASSERT_TRUE(shaders_build());
        bike = build_bike(0, "yz250f(2017)", "7");
        ASSERT_NE(bike, nullptr);
        // The rider leaning out: arms and legs well away from their rest pose.
        dBodySetPosition(bike->body[BODY_RIDER], 0, 3.7, 4.2);
        camera(10);
        glDisable(GL_TEXTURE_2D);
        draw_bike(bike, BIKE_VIEW_OUTSIDE, 1);
        seen[programs] = mask(read());
    }
    int either = 0, both = 0;
    for (size_t i = 0; i < seen[0].size(); i++) {
        either += seen[0][i] || seen[1][i];
        both += seen[0][i] && seen[1][i];
    }
    ASSERT_GT(either, 1000);
    EXPECT_GE((double)both / either, 0.98);
    model_draw_init(false, true);
}

TEST_F(BikeOnScreen, PlateShowsTheNumberInTheGraphicsColours)
{
    // "mx250f-blue.png" asks for white digits on blue.
    bike = build_bike(0, "yz250f(2017)", "42", nullptr, nullptr, "mx250f-blue.png");
    ASSERT_NE(bike, nullptr);
    unsigned plate = bike_plate_texture(0);
    ASSERT_NE(plate, 0u);
    std::vector<unsigned char> px(128 * 128 * 4);
    glBindTexture(GL_TEXTURE_2D, plate);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    int fg = 0, bg = 0;
    for (size_t i = 0; i < px.size(); i += 4) {
        const unsigned char *p = &px[i];
        if (p[0] > 240 && p[1] > 240 && p[2] > 240)
            fg++;
        else if (abs(p[0] - 26) < 8 && abs(p[1] - 51) < 8 && abs(p[2] - 179) < 8)
            bg++;
    }
    EXPECT_GT(fg, 128 * 128 / 20) << "the digits";
    EXPECT_GT(bg, 128 * 128 / 2) << "the ground";
    // The colours come from the texture's text; none: white with black digits.
    float b[3], f[3];
    plate_colours("x[numberforeground:1,0.5,0][numberbackground:0,0,2]", b, f);
    EXPECT_EQ(f[1], 0.5f);
    EXPECT_EQ(b[2], 1) << "clamped";
    plate_colours(nullptr, b, f);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(f[0], 0);
}

}   // namespace

namespace {

int red_pixels(const std::vector<unsigned char> &px)
{
    int n = 0;
    for (size_t i = 0; i < px.size(); i += 3)
        n += px[i] > px[i + 1] + 60 && px[i] > px[i + 2] + 60;
    return n;
}

TEST_F(BikeOnScreen, HiddenFirstPersonRiderShowsAgainAfterAFall)
{
    bike = build_bike(0, "yz250f(2017)", "7", "rider_body-red.png");
    ASSERT_NE(bike, nullptr);
    int red[3];
    const int views[3] = { BIKE_VIEW_OUTSIDE, BIKE_VIEW_FIRST_PERSON_HIDDEN, BIKE_VIEW_FIRST_PERSON_HIDDEN };
    for (int k = 0; k < 3; k++) {
        if (k == 2)
            bike->fall_timer = 200;
        camera(10);
        draw_bike(bike, views[k], 1);
        red[k] = red_pixels(read());
    }
    EXPECT_GT(red[0], 300) << "the rider in the red gear";
    EXPECT_EQ(red[1], 0) << "hidden";
    EXPECT_GT(red[2], 300) << "fallen: the whole bike and rider";
}

}   // namespace

namespace {

TEST_F(BikeOnScreen, NormalMapsBesideATextureJoinItsSet)
{
    ASSERT_TRUE(png_write((dirs->home + "rider_body-red_norm.png").c_str(), std::vector<unsigned char>(16 * 16 * 3, 128).data(), 16, 16));
    vfs_reset_for_tests();
    gl_probe();
    bool programs = gl_caps.fragment_shader && gl_caps.texture_units >= 4 && shaders_build();
    model_draw_init(programs, true);
    bike = build_bike(0, "yz250f(2017)", "7", "rider_body-red.png");
    ASSERT_NE(bike, nullptr);
    unsigned tex, norm, specular;
    ASSERT_TRUE(bike_texture_set(0, BIKE_SET_GEAR, &tex, &norm, &specular));
    EXPECT_NE(tex, 0u);
    EXPECT_NE(norm, 0u);
    EXPECT_EQ(specular, 0u);
    ASSERT_TRUE(bike_texture_set(0, BIKE_SET_GRAPHICS, &tex, &norm, &specular));
    EXPECT_NE(tex, 0u);
    EXPECT_EQ(norm, 0u) << "the generated set ships no maps";
    EXPECT_FALSE(bike_texture_set(0, 4, &tex, &norm, &specular));
    // Drawn through the normal-mapped program where there is one: still the rider in red.
    camera(10);
    draw_bike(bike, BIKE_VIEW_OUTSIDE, 1);
    EXPECT_GT(red_pixels(read()), 300);
    EXPECT_EQ(shader_current(), 0) << "back to the fixed pipeline";
    model_draw_init(false, true);
}

}   // namespace
