// Billboards' keys, sort and batching, and billboards and statues on a window's GL context
// (Mesa under Xvfb): tint, alpha-cut outline, overlap by distance, a statue where its file puts it.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/mem.h"
#include "gl_fixture.h"
#include "render/gl.h"
#include "render/model/model.h"
#include "render/model_draw.h"
#include "render/scenery/roost.h"
#include "render/scenery/scenery.h"
#include "render/scenery_draw.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"
#include "vfs/vfs.h"

TEST(BillboardKeys, ClampToTheUnsignedRange)
{
    const float back[3] = { 0, 0, 1 };
    const float near[3] = { 0, 0, 2.5f }, far[3] = { 0, 0, 1e9f }, behind[3] = { 0, 0, -1e9f }, bad[3] = { NAN, 0, 0 };
    EXPECT_EQ(billboard_key(near, back), 16777216u + 2560u);
    EXPECT_EQ(billboard_key(far, back), 0xffffffffu);
    EXPECT_EQ(billboard_key(behind, back), 0u) << "beyond 16,384 ft the key would go negative";
    EXPECT_EQ(billboard_key(bad, back), 0u);
    const float just[3] = { 0, 0, -16384 };
    EXPECT_EQ(billboard_key(just, back), 0u);
}

TEST(BillboardKeys, RadixSortMatchesAStableReferenceSort)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; round++) {
        int n = 1 + (int)(random() % 3000);
        std::vector<uint32_t> keys(n);
        for (uint32_t &k : keys) {
            uint32_t r = (uint32_t)random();
            // extremes and repeats as often as anything else
            k = r % 4 == 0 ? 0 : r % 4 == 1 ? 0xffffffffu : r % 4 == 2 ? (r >> 24) : (uint32_t)random();
        }
        std::vector<int> order(n), tmp(n), reference(n);
        for (int i = 0; i < n; i++)
            order[i] = reference[i] = (n - 1 - i + round) % n;
        std::stable_sort(reference.begin(), reference.end(), [&](int a, int b) { return keys[a] < keys[b]; });
        billboard_radix_sort(keys.data(), order.data(), tmp.data(), n);
        ASSERT_EQ(order, reference) << "round " << round;
    }
}

struct Batching : ::testing::Test {
    void TearDown() override { scenery_free_all(); }
    // A row of billboards 20 ft ahead of an eye at the origin looking down -z, textures as given.
    std::vector<int> row(const std::vector<unsigned> &textures, float spacing)
    {
        for (size_t i = 0; i < textures.size(); i++)
            billboard_add((float)i * spacing, 0, -20 - (float)i, 2, 0.5f, textures[i], nullptr);
        std::vector<int> order(billboard_count());
        order.resize(billboards_collect(eye, back, order.data()));
        return order;
    }
    const float eye[3] = { 0, 0, 0 }, back[3] = { 0, 0, 1 };
};

TEST_F(Batching, FarthestFirstAndLookAheadOneNeverReorders)
{
    std::vector<int> order = row({ 1, 2, 1, 2, 1, 2 }, 4);
    ASSERT_EQ(order, (std::vector<int>{ 5, 4, 3, 2, 1, 0 }));
    for (int lookahead : { -3, 0, 1 }) {
        std::vector<int> same = order;
        billboards_batch(same.data(), (int)same.size(), lookahead, eye, back);
        EXPECT_EQ(same, order) << lookahead;
    }
    // Apart on the screen, same textures follow each other.
    billboards_batch(order.data(), (int)order.size(), 8, eye, back);
    EXPECT_EQ(order, (std::vector<int>{ 5, 3, 1, 4, 2, 0 }));
}

TEST_F(Batching, ABillboardOverlappingTheOneToMoveKeepsItInPlace)
{
    // Side by side along the view axis: every one overlaps every other on the screen.
    std::vector<int> order = row({ 1, 2, 1 }, 0);
    std::vector<int> before = order;
    billboards_batch(order.data(), (int)order.size(), 8, eye, back);
    EXPECT_EQ(order, before);
}

namespace {
const int k_w = 320, k_h = 240;

struct SceneryOnScreen : GlWorld {
    void SetUp() override
    {
        GlWorld::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        scenery_draw_install();
        billboards_set_lookahead(8);
    }
    void TearDown() override
    {
        if (!IsSkipped()) {
            scenery_free_all();
            scenery_set_hooks(nullptr);
            models_delete_all();
            texture_cache_free();
            textures_delete_all();
            vfs_reset_for_tests();
        }
        GlWorld::TearDown();
    }
    // Eye at (0, 1, 10) looking down -z, 60 degrees wide.
    void camera()
    {
        glViewport(0, 0, k_w, k_h);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        float top = 0.25f * tanf(30 * (float)M_PI / 180), right = top * k_w / k_h;
        glFrustum(-right, right, -top, top, 0.25f, 1000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(0, -1, -10);
        glEnable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    const float eye[3] = { 0, 1, 10 }, back[3] = { 0, 0, 1 };
    std::vector<unsigned char> read()
    {
        std::vector<unsigned char> px((size_t)k_w * k_h * 3);
        glFinish();
        glReadPixels(0, 0, k_w, k_h, GL_RGB, GL_UNSIGNED_BYTE, px.data());
        return px;
    }
    // Where a world point lands (column, row from the bottom).
    static void project(float x, float y, float z, int *col, int *row)
    {
        float depth = 10 - z, f = (float)(k_h / 2) / tanf(30 * (float)M_PI / 180);
        *col = (int)lroundf(k_w / 2 + x / depth * f);
        *row = (int)lroundf(k_h / 2 + (y - 1) / depth * f);
    }
    static const unsigned char *at(const std::vector<unsigned char> &px, int col, int row)
    {
        return &px[((size_t)row * k_w + col) * 3];
    }
    // White RGBA picture, its right half fully transparent.
    std::string half_cut(const char *file)
    {
        std::vector<unsigned char> px(16 * 16 * 4, 255);
        for (int y = 0; y < 16; y++)
            for (int x = 8; x < 16; x++)
                px[(y * 16 + x) * 4 + 3] = 0;
        EXPECT_TRUE(png_write_rgba((dirs->data + file).c_str(), px.data(), 16, 16));
        return std::string("@") + file;
    }
};
}

TEST_F(SceneryOnScreen, ATintedBillboardShowsItsTintAndItsCutOutline)
{
    std::string name = half_cut("cut.png");
    std::string text = "[ 0 0 0 ] 2 1 #ff0000#" + name.substr(0) + "\n";
    DataFile *f = open_memory_data_file(text.data(), text.size(), false);
    ASSERT_EQ(billboards_load(f), 1);
    close_data_file(f);
    ASSERT_NE(billboard(billboard_first_file())->texture, 0u);
    camera();
    billboards_draw(eye, back);
    std::vector<unsigned char> px = read();
    int col, row;
    project(-0.5f, 1, 0, &col, &row);
    const unsigned char *left = at(px, col, row);
    EXPECT_GT(left[0], 240);
    EXPECT_LT(left[1], 15);
    EXPECT_LT(left[2], 15) << "white picture tinted red";
    project(0.5f, 1, 0, &col, &row);
    const unsigned char *right = at(px, col, row);
    EXPECT_LT(right[0], 15);
    EXPECT_GT(right[2], 240) << "the transparent half shows the background";
    char stats[64];
    EXPECT_STREQ(billboard_stats_text(stats, sizeof stats), "Billboards - 1 max=1");
}

TEST_F(SceneryOnScreen, ANearerBillboardOverlapsAFartherOne)
{
    std::string green = png("green.png", 4, 4, 0, 255, 0), red = png("red.png", 4, 4, 255, 0, 0);
    // The nearer one first in the array: drawing order must come from the keys.
    std::string text = "[ 0 0 2 ] 2 1 " + green + "\n[ 1.5 0 -2 ] 2 1 " + red + "\n";
    DataFile *f = open_memory_data_file(text.data(), text.size(), false);
    ASSERT_EQ(billboards_load(f), 2);
    close_data_file(f);
    camera();
    billboards_draw(eye, back);
    std::vector<unsigned char> px = read();
    int col, row;
    project(0.7f, 1, 2, &col, &row);
    EXPECT_GT(at(px, col, row)[1], 240) << "green in front where both cover";
    EXPECT_LT(at(px, col, row)[0], 15);
    project(2.3f, 1, -2, &col, &row);
    EXPECT_GT(at(px, col, row)[0], 240) << "red beside it";
}

TEST_F(SceneryOnScreen, AStatueStandsWhereItsFilePutsIt)
{
    setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
    vfs_reset_for_tests();
    model_set_lod(1, 0);
    auto centre_column = [&](float x) {
        scenery_free_all();
        char text[200];
        snprintf(text, sizeof text, "[ %f 0.5 0 ] 4 @mx125_frame.jm null null\n", x);
        DataFile *f = open_memory_data_file(text, strlen(text), false);
        EXPECT_EQ(statues_load(f), 1);
        close_data_file(f);
        EXPECT_NE(statue(0)->model, nullptr);
        camera();
        glColor3ub(255, 255, 255);
        statues_draw(eye);
        std::vector<unsigned char> px = read();
        double sum = 0;
        int n = 0;
        for (int r = 0; r < k_h; r++)
            for (int c = 0; c < k_w; c++) {
                const unsigned char *p = at(px, c, r);
                if (!(p[0] < 10 && p[1] < 10 && p[2] > 245)) {
                    sum += c;
                    n++;
                }
            }
        EXPECT_GT(n, 50) << "the model covers some of the view";
        return n ? sum / n : -1;
    };
    int expected_left, expected_right, row;
    project(-3, 0, 0, &expected_left, &row);
    project(3, 0, 0, &expected_right, &row);
    EXPECT_NEAR(centre_column(-3), expected_left, 12);
    EXPECT_NEAR(centre_column(3), expected_right, 12);
}

// Roost particles are billboards: thrown off a wheel at the origin towards +x they show to
// its right, and once they have fallen back through the ground nothing of them is drawn.
TEST_F(SceneryOnScreen, ThrownParticlesShowBehindTheWheelAndGoAfterLanding)
{
    Terrain ground = {};
    ASSERT_TRUE(terrain_create(&ground, 7, 1.0f));
    scenery_set_ground(&ground);
    roost_pool_create(&ground);
    RoostType type = {};
    type.state = 1;
    type.texture = texture_load(png("mud.png", 4, 4, 255, 255, 0).c_str());
    type.size = 0.4f;
    type.a = type.r = type.g = type.b = 255;
    for (int i = 0; i < 40; i++) {
        const float p[3] = { 0.5f, 0.5f, 0 }, v[3] = { 4 + (float)(i % 8), 6 + (float)(i % 5), 0 };
        ASSERT_TRUE(roost_spawn(&type, p, v));
    }
    for (int tic = 0; tic < 16; tic++)
        roost_update();
    auto yellow_columns = [&](int *left, int *right) {
        camera();
        billboards_draw(eye, back);
        std::vector<unsigned char> px = read();
        *left = *right = 0;
        for (int r = 0; r < k_h; r++)
            for (int c = 0; c < k_w; c++) {
                const unsigned char *p = at(px, c, r);
                if (p[0] > 200 && p[1] > 200 && p[2] < 60)
                    (c < k_w / 2 ? *left : *right) += 1;
            }
    };
    int left, right;
    yellow_columns(&left, &right);
    EXPECT_GT(right, 40) << "in flight behind the wheel";
    EXPECT_EQ(left, 0);
    for (int tic = 0; tic < 512 && roost_live_count() > 0; tic++)
        roost_update();
    EXPECT_EQ(roost_live_count(), 0);
    yellow_columns(&left, &right);
    EXPECT_EQ(left + right, 0) << "landed: gone";
    scenery_free_all();
    scenery_set_ground(nullptr);
    terrain_unload(&ground);
}
