// The terrain's level of detail without a window: the error pass, its slices and restarts,
// refinement into crack-free fans, and the ground-texture bookkeeping (windows, levels,
// region marking, scrolling).
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <map>
#include <utility>
#include <vector>

#include "render/gl.h"
#include "render/ground_textures.h"
#include "render/terrain_lod.h"
#include "terrain/terrain.h"

namespace {

struct Field : ::testing::Test {
    Terrain t = {};
    void SetUp() override { gl_caps.major = 0; }       // bookkeeping only: no context here
    void TearDown() override
    {
        ground_textures_release();
        lod_release();
        terrain_unload(&t);
    }
    void make(int n, float spacing = 1.0f)
    {
        ASSERT_TRUE(terrain_create(&t, n, spacing));
        lod_set_detail(0.0025f);        // "ground_detail" 50
    }
    float &h(int x, int z) { return t.heights[x + (size_t)z * t.dim]; }
    void hills()
    {
        for (int z = 0; z < t.dim; z++)
            for (int x = 0; x < t.dim; x++)
                h(x, z) = 6 * sinf(x * 0.07f) * cosf(z * 0.05f) + 3 * sinf((x + 2 * z) * 0.21f);
        t.min_height = -9;
        t.max_height = 9;
    }
};

// On a flat field only the distance terms count: with W = 256 and n = 7, a level-7 node is
// (0.7071 * 2)^2; each coarser level adds 1.5827 W / 2^(k+1) to the square root, and the root,
// whose children have no neighbours inside the field, is (1.5827 * 128)^2.
TEST_F(Field, FlatValuesComeFromTheDistanceTermsAlone)
{
    make(7);
    ASSERT_TRUE(lod_attach(&t));
    struct {
        int k, i, j;
        double value;
    } const cases[] = {
        { 7, 0, 0, 2.0 },  { 7, 77, 31, 2.0 }, { 6, 0, 0, 20.97255 }, { 6, 40, 12, 20.97255 },
        { 5, 9, 30, 119.0349 }, { 4, 3, 3, 555.6286 }, { 1, 1, 0, 40333.60 }, { 0, 0, 0, 41040.04 },
    };
    for (const auto &c : cases)
        EXPECT_NEAR(lod_value(c.k, c.i, c.j), c.value, c.value * 2e-5) << c.k << " " << c.i << " " << c.j;
}

// One raised vertex: e_raw is its height in exactly the nodes whose triangles hold it (it is
// never a corner at odd coordinates), 0 in all others; the finest node's value is
// (e_raw / detail + 0.7071 W / 2^n)^2.
TEST_F(Field, ASpikeRaisesTheErrorOnlyWhereTrianglesHoldIt)
{
    make(7);
    const int spikes[2][2] = { { 101, 61 }, { 100, 61 } };
    for (const auto &s : spikes) {
        memset(t.heights, 0, (size_t)t.dim * t.dim * sizeof(float));
        h(s[0], s[1]) = 3;
        int holding = 0;
        for (int k = 2; k <= 7; k++) {
            int cells = 256 >> k;
            for (int i = 0; i < (1 << k); i++)
                for (int j = 0; j < (1 << k); j++) {
                    bool inside = s[0] >= j * cells && s[0] <= (j + 1) * cells && s[1] >= i * cells && s[1] <= (i + 1) * cells;
                    float e = lod_node_error(&t, k, i, j);
                    EXPECT_FLOAT_EQ(e, inside ? 3.0f : 0.0f) << k << " " << i << " " << j;
                    holding += inside;
                }
        }
        // At odd x one node per level; x = 100 is an edge at levels 7 and 6 (2 and 4 cells wide).
        EXPECT_EQ(holding, s[0] == 101 ? 6 : 6 + 2);
    }
    ASSERT_TRUE(lod_attach(&t));
    double a = 3 / 0.0025 + 0.7071067811865476 * 2;
    EXPECT_NEAR(lod_value(7, 30, 50), a * a, a * a * 1e-6);
    EXPECT_NEAR(lod_value(7, 30, 49), a * a, a * a * 1e-6);
    EXPECT_FLOAT_EQ(lod_value(7, 31, 50), 2.0f);
}

TEST_F(Field, SlicedPassEqualsAWholePassAndTheOldValuesServeUntilTheSwap)
{
    make(7);
    hills();
    ASSERT_TRUE(lod_attach(&t));
    float before = lod_value(7, 30, 50);
    terrain_raise(&t, 101, 61, 6, 4);       // bumps the change counter
    ASSERT_TRUE(lod_pass_step(LOD_PASS_BUDGET));
    int slices = 1;
    while (lod_pass_step(LOD_PASS_BUDGET)) {
        EXPECT_EQ(lod_value(7, 30, 50), before);
        slices++;
        if (slices == 20) {
            // A change mid-pass starts it again at the finest level.
            terrain_raise(&t, 30, 200, 5, 2);
        }
    }
    int slices_after_change = slices - 20;
    EXPECT_GT(slices, 20);
    EXPECT_FALSE(lod_pass_busy());
    EXPECT_NE(lod_value(7, 30, 50), before);
    std::vector<float> sliced;
    for (int k = 0; k <= 7; k++)
        for (int i = 0; i < (1 << k); i++)
            for (int j = 0; j < (1 << k); j++)
                sliced.push_back(lod_value(k, i, j));
    // Nothing changed since: the next call does nothing.
    EXPECT_FALSE(lod_pass_step(LOD_PASS_BUDGET));

    ASSERT_TRUE(lod_attach(&t));        // one whole pass over the same heights
    size_t e = 0;
    for (int k = 0; k <= 7; k++)
        for (int i = 0; i < (1 << k); i++)
            for (int j = 0; j < (1 << k); j++)
                ASSERT_EQ(sliced[e++], lod_value(k, i, j)) << k << " " << i << " " << j;
    // The restarted pass took as many slices as a fresh one.
    terrain_raise(&t, 60, 60, 3, 1);
    int fresh = 0;
    while (lod_pass_step(LOD_PASS_BUDGET))
        fresh++;
    EXPECT_NEAR(slices_after_change, fresh, 1);
}

TEST_F(Field, ADetailOfZeroStaysFinite)
{
    make(7);
    hills();
    lod_set_detail(0);
    ASSERT_TRUE(lod_attach(&t));
    EXPECT_TRUE(std::isfinite(lod_value(7, 10, 10)));
    EXPECT_TRUE(std::isfinite(lod_value(0, 0, 0)));
}

// A fake window set: clip levels 0..5 around a cell, textures everywhere.
static int g_wx, g_wz, g_lmin;
static bool fake_window(int level, int *x0, int *z0, int *size)
{
    if (level < g_lmin)
        return false;
    int cells = 2 << level;
    *x0 = ground_window_origin(7, level, g_wx) * cells;
    *z0 = ground_window_origin(7, level, g_wz) * cells;
    *size = 4 * cells;
    return true;
}
static void fake_bind(int x0, int z0, int size, LodBinding *out)
{
    for (int level = g_lmin; level < 6; level++) {
        int cells = 2 << level, wx, wz, ws;
        if (cells < size || !fake_window(level, &wx, &wz, &ws))
            continue;
        if (x0 >= wx && z0 >= wz && x0 < wx + ws && z0 < wz + ws) {
            *out = { 1u + level, x0 / cells * cells, z0 / cells * cells, cells, level, 0, 0 };
            return;
        }
    }
    *out = { 9, x0 / 128 * 128, z0 / 128 * 128, 128, 6, 0, 0 };
}

// Every interior edge of the drawn fans is shared by exactly two fans and the field's border
// edges by one: no cracks, no T-junctions, no holes, for cameras low, high, at the edge and
// outside; and every fan's texture coordinates lie in its one texture.
TEST_F(Field, FansCoverTheFieldWithoutCracks)
{
    make(7);
    hills();
    ASSERT_TRUE(lod_attach(&t));
    const LodTextureSource source = { fake_window, fake_bind };
    const float cams[][3] = { { 128, 12, 128 }, { 3, 10, 250 }, { 128, 400, 128 }, { -300, 50, -80 }, { 255, 6, 1 } };
    LodFrame f = {};
    for (int lmin = 0; lmin <= 6; lmin += 3)
        for (const auto &c : cams) {
            g_lmin = lmin;
            g_wx = (int)floorf(c[0]);
            g_wz = (int)floorf(c[2]);
            // Looking straight down from above the highest point: nothing is culled.
            lod_build_frame(v3(c[0], 1000, c[2]), v3(0, -1, 0), &source, &f);
            ASSERT_GT(f.fan_count, 0);
            std::map<std::pair<int, int>, int> edges;
            auto key = [](const LodVertex &v) { return (int)lroundf(v.x) * 1000 + (int)lroundf(v.z); };
            double area = 0;
            for (int e = 0; e < f.fan_count; e++) {
                const LodFan &fan = f.fans[e];
                ASSERT_GE(fan.count, 6);
                for (int v = fan.first; v < fan.first + fan.count; v++) {
                    EXPECT_GE(f.vertices[v].u, 0);
                    EXPECT_LE(f.vertices[v].u, 1);
                    EXPECT_GE(f.vertices[v].v, 0);
                    EXPECT_LE(f.vertices[v].v, 1);
                }
                for (int v = fan.first + 1; v + 1 < fan.first + fan.count; v++) {
                    int a = key(f.vertices[v]), b = key(f.vertices[v + 1]);
                    edges[{ a < b ? a : b, a < b ? b : a }]++;
                    const LodVertex &o = f.vertices[fan.first];
                    area += 0.5 * fabs((f.vertices[v].x - o.x) * (f.vertices[v + 1].z - o.z) -
                                       (f.vertices[v + 1].x - o.x) * (f.vertices[v].z - o.z));
                }
            }
            EXPECT_NEAR(area, 256.0 * 256.0, 1e-3);
            for (const auto &[edge, count] : edges) {
                int ax = edge.first / 1000, az = edge.first % 1000, bx = edge.second / 1000, bz = edge.second % 1000;
                bool border = (ax == bx && (ax == 0 || ax == 256)) || (az == bz && (az == 0 || az == 256));
                ASSERT_EQ(count, border ? 1 : 2) << ax << "," << az << " - " << bx << "," << bz << " camera " << c[0]
                                                 << "," << c[2] << " lmin " << lmin;
            }
        }
    lod_frame_free(&f);
}

TEST_F(Field, FansGoFrontToBackAndSkipWhatIsBehind)
{
    make(7);
    hills();
    ASSERT_TRUE(lod_attach(&t));
    LodFrame f = {};
    lod_build_frame(v3(100.3f, 5, 140.6f), v3(1, 0, 0), nullptr, &f);
    ASSERT_GT(f.fan_count, 0);
    float min_x = 1e9f;
    for (int e = 0; e < f.fan_count; e++) {
        float most = -1e9f;
        for (int v = f.fans[e].first; v < f.fans[e].first + f.fans[e].count; v++)
            most = fmaxf(most, f.vertices[v].x);
        EXPECT_GE(most, 100.3f);
        min_x = fminf(min_x, most);
    }
    // The first fan is the one under the camera.
    const LodFan &first = f.fans[0];
    float x0 = 1e9f, x1 = -1e9f, z0 = 1e9f, z1 = -1e9f;
    for (int v = first.first; v < first.first + first.count; v++) {
        x0 = fminf(x0, f.vertices[v].x), x1 = fmaxf(x1, f.vertices[v].x);
        z0 = fminf(z0, f.vertices[v].z), z1 = fmaxf(z1, f.vertices[v].z);
    }
    EXPECT_TRUE(x0 <= 100.3f && 100.3f <= x1 && z0 <= 140.6f && 140.6f <= z1);
    // Near the camera the finest nodes are drawn: 2 cells wide.
    EXPECT_FLOAT_EQ(x1 - x0, 2);
    lod_frame_free(&f);
}

// ---- ground-texture bookkeeping

TEST(GroundRules, WindowOriginsClampToTheField)
{
    // n = 10, level 0: ((100 - 1) >> 1) - 1 = 48; level 2: ((100 - 4) >> 3) - 1 = 11.
    EXPECT_EQ(ground_window_origin(10, 0, 100), 48);
    EXPECT_EQ(ground_window_origin(10, 2, 100), 11);
    // Far outside: the first or the last window position, 2^(n - L) - 4.
    EXPECT_EQ(ground_window_origin(10, 3, -100000), 0);
    EXPECT_EQ(ground_window_origin(10, 3, 100000), 124);
    EXPECT_EQ(ground_window_origin(10, 0, 2047), 1020);
    // n = 7: the level-5 window is the whole field wherever the camera is.
    for (int cell : { -500, 0, 128, 255, 900 })
        EXPECT_EQ(ground_window_origin(7, 5, cell), 0);
    EXPECT_TRUE(ground_level_fits(7, 5));
    EXPECT_FALSE(ground_level_fits(6, 5));
    EXPECT_TRUE(ground_level_fits(6, 4));
    const int d[] = { 1, 2, 3, 6, 11, 22 };
    for (int n = 7; n <= 12; n++)
        EXPECT_EQ(ground_low_detail_count(n), d[n - 7]) << n;
}

struct Ground : Field {
    void start(int n, int lmin, float cx, float cz)
    {
        make(n);
        GroundSettings s = { 2, lmin, false, 0, 0 };
        ground_configure(&s);
        ground_choose_method(&t, 1, 0);
        ground_textures_create(&t);
        for (int i = 0; i < 20; i++)
            ground_textures_update(v3(cx, 0, cz));
    }
};

TEST_F(Ground, TextureDetailChoosesTheLevels)
{
    start(8, 0, 300, 200);      // "ground_texture_detail" 10
    int x0, z0, size;
    for (int level = 0; level < 6; level++)
        EXPECT_TRUE(ground_window(level, &x0, &z0, &size)) << level;
    LodBinding b;
    ground_bind(300, 200, 2, &b);
    EXPECT_EQ(b.level, 0);
    ground_textures_release();
    start(8, 6, 300, 200);      // "ground_texture_detail" 4
    for (int level = 0; level < 6; level++)
        EXPECT_FALSE(ground_window(level, &x0, &z0, &size)) << level;
    ground_bind(300, 200, 2, &b);
    EXPECT_EQ(b.level, 6);
    EXPECT_EQ(b.origin_x, 256);
    EXPECT_EQ(b.origin_z, 128);
    EXPECT_EQ(b.size, 128);
}

TEST_F(Ground, MarkingStampsExactlyTheOverlappingTextures)
{
    start(9, 0, 500, 500);      // dim 1025, base 8 x 8, low detail 3 x 3
    int frame = ground_frame();
    // Cells 495..505 along x, 498..499 along z: around the camera, in every level's window.
    ground_mark_cells(495, 498, 505, 499);
    int marked = 0;
    for (int level = 0; level < 6; level++) {
        int cells = 2 << level, x0, z0, size;
        ASSERT_TRUE(ground_window(level, &x0, &z0, &size));
        for (int tz = z0 / cells; tz < (z0 + size) / cells; tz++)
            for (int tx = x0 / cells; tx < (x0 + size) / cells; tx++) {
                bool over = tx * cells <= 505 && (tx + 1) * cells > 495 && tz * cells <= 499 && (tz + 1) * cells > 498;
                marked += over;
                EXPECT_EQ(ground_clip_stale(level, tx, tz), over ? frame : 0) << level << " " << tx << " " << tz;
            }
    }
    for (int bz = 0; bz < 8; bz++)
        for (int bx = 0; bx < 8; bx++)
            EXPECT_EQ(ground_base_dirty(bx, bz), bz == 3 && bx == 3 ? -1 : 0) << bx << " " << bz;
    // Blocks of vertices 0..447, 320..831, 704..1024: vertices 495..506 are in the middle one.
    for (int bz = 0; bz < 3; bz++)
        for (int bx = 0; bx < 3; bx++)
            EXPECT_EQ(ground_low_dirty(bx, bz), bz == 1 && bx == 1) << bx << " " << bz;
    EXPECT_EQ(ground_reshades_pending(), 1);
    // Per level 4, 4, 3, 2, 1 and 1 textures of 2, 4, 8, 16, 32 and 64 cells.
    EXPECT_EQ(marked, 15);
    // The age grows until the stale textures are composed again, one a frame.
    ground_textures_update(v3(500, 0, 500));
    EXPECT_EQ(ground_texture_age(), 1);
    for (int i = 0; i < 13; i++)
        ground_textures_update(v3(500, 0, 500));
    EXPECT_EQ(ground_texture_age(), 14);
    ground_textures_update(v3(500, 0, 500));
    EXPECT_EQ(ground_texture_age(), 0);
    ground_low_detail_step(false);
    EXPECT_EQ(ground_reshades_pending(), 0);
}

TEST_F(Ground, ScrollingKeepsTheTexturesStillInTheWindow)
{
    start(9, 0, 500, 500);
    int x0, z0, size;
    ASSERT_TRUE(ground_window(0, &x0, &z0, &size));
    int ox = x0 / 2, oz = z0 / 2;
    for (int dz = 0; dz < 4; dz++)
        for (int dx = 0; dx < 4; dx++)
            ASSERT_TRUE(ground_clip_ready(0, ox + dx, oz + dz));
    ground_textures_update(v3(502, 0, 500));        // one level-0 texture along +x
    ASSERT_TRUE(ground_window(0, &x0, &z0, &size));
    ASSERT_EQ(x0 / 2, ox + 1);
    int fresh = 0;
    for (int dz = 0; dz < 4; dz++)
        for (int dx = 1; dx < 5; dx++) {
            bool ready = ground_clip_ready(0, ox + dx, oz + dz);
            if (dx < 4)
                EXPECT_TRUE(ready) << dx << " " << dz;
            else
                fresh += ready;
        }
    EXPECT_EQ(fresh, 1);        // the column that moved in: one composed this frame
}

} // namespace
