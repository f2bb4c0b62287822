#include "terrain_fixture.h"

#include <math.h>

#include "common/mem.h"
#include "common/ripemd160.h"
#include "terrain/terrain_images.h"

static const int k_dim = 257;   // size exponent 7

static std::vector<uint16_t> ramp_samples()
{
    std::vector<uint16_t> s((size_t)k_dim * k_dim);
    for (int j = 0; j < k_dim; j++)
        for (int i = 0; i < k_dim; i++)
            s[i + (size_t)j * k_dim] = (uint16_t)((i * 97 + j * 251) % 65536);
    return s;
}

// ---- loading ----

using TerrainLoad = TerrainFiles;

TEST_F(TerrainLoad, InlineSamplesEqualPngSamples)
{
    std::vector<uint16_t> s = ramp_samples();
    put_track("tracks/a");
    put_inline_hf("tracks/a", 7, 2.0f, -4.0f, 28.0f, s);
    put_track("tracks/b");
    put("tracks/b/terrain.hf", "7 2.0 -4.0 28.0\n");
    ASSERT_TRUE(write_png_gray16((data + "/tracks/b/terrain.png").c_str(), k_dim, k_dim, s.data()));

    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    Terrain b = {};
    ASSERT_TRUE(terrain_load(&b, "@tracks/b", 1));
    for (size_t k = 0; k < s.size(); k++)
        ASSERT_EQ(t.heights[k], b.heights[k]) << k;
    EXPECT_EQ(0, memcmp(t.height_digest, b.height_digest, 20));
    // the digest is RIPEMD-160 over the samples, low byte first
    Ripemd160 ctx;
    ripemd160_init(&ctx);
    for (uint16_t v : s) {
        uint8_t two[2] = { (uint8_t)v, (uint8_t)(v >> 8) };
        ripemd160_update(&ctx, two, 2);
    }
    uint8_t expected[20];
    ripemd160_final(&ctx, expected);
    EXPECT_EQ(0, memcmp(expected, t.height_digest, 20));
    terrain_unload(&b);
}

TEST_F(TerrainLoad, GeometryAndSampleScale)
{
    std::vector<uint16_t> s((size_t)k_dim * k_dim, 32768);
    s[0] = 0;
    s[1] = 65535;
    put_track("tracks/a");
    put_inline_hf("tracks/a", 7, 3.0f, -3.5f, 12.25f, s);
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(7, t.size_exponent);
    EXPECT_EQ(257, t.dim);
    EXPECT_FLOAT_EQ(768.0f, t.world_size);      // 2^7 tiles of 6 ft
    EXPECT_FLOAT_EQ(6.0f, t.tile_size);
    EXPECT_EQ(-3.5f, t.heights[0]);
    EXPECT_EQ(12.25f, t.heights[1]);
    EXPECT_NEAR(-3.5f + 15.75f * 32768.0f / 65535.0f, t.heights[2], 1e-5f);
    EXPECT_EQ(t.heights[1], t.initial_heights[1]);
}

TEST_F(TerrainLoad, MissingImageGivesFlatMinimum)
{
    put_track("tracks/a");
    put("tracks/a/terrain.hf", "7 2 5.5 9\n");
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(5.5f, t.heights[0]);
    EXPECT_EQ(5.5f, t.heights[(size_t)k_dim * k_dim - 1]);
}

TEST_F(TerrainLoad, SmallImageRepeatsLastColumnAndRow)
{
    put_track("tracks/a");
    put("tracks/a/terrain.hf", "7 2 0 65535\n");
    uint16_t px[4] = { 1, 2, 3, 4 };   // 2 x 2
    ASSERT_TRUE(write_png_gray16((data + "/tracks/a/terrain.png").c_str(), 2, 2, px));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(1.0f, t.heights[0]);
    EXPECT_EQ(2.0f, t.heights[200]);                    // row 0, past the image: its last column
    EXPECT_EQ(3.0f, t.heights[(size_t)200 * k_dim]);    // column 0, past the image: its last row
    EXPECT_EQ(4.0f, t.heights[(size_t)256 * k_dim + 256]);
}

TEST_F(TerrainLoad, ColourPngIsReadAsGrey)
{
    put_track("tracks/a");
    put("tracks/a/terrain.hf", "7 2 0 65535\n");
    uint8_t rgb[3] = { 100, 100, 100 };
    ASSERT_TRUE(write_png_rgb8((data + "/tracks/a/terrain.png").c_str(), 1, 1, rgb));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(100.0f * 257.0f, t.heights[0]);   // 8-bit samples repeat their byte
}

TEST_F(TerrainLoad, ShadingBytes)
{
    put_track("tracks/a");
    remove((data + "/tracks/a/shadingx2.ppm").c_str());
    put("tracks/a/shading.ppm", ppm(k_dim, k_dim, 200));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(100, t.shading[0]);
    EXPECT_EQ(100, t.shading[3 * (size_t)k_dim * k_dim - 1]);
    terrain_unload(&t);
    put("tracks/a/shadingx2.ppm", ppm(k_dim, k_dim, 200));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(200, t.shading[5]);
}

TEST_F(TerrainLoad, ShadowsAreInverted)
{
    put_track("tracks/a");
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(0, t.shadow[77]);     // no shadows file: all lit
    terrain_unload(&t);
    put("tracks/a/shadows.pgm", ppm(k_dim, k_dim, 55, "P5", 1));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(200, t.shadow[77]);
}

TEST_F(TerrainLoad, TextFormsOfShadingAndShadows)
{
    put_track("tracks/a");
    std::string p3 = "P3\n# comment\n" + std::to_string(k_dim) + " " + std::to_string(k_dim) + "\n15\n";
    for (int k = 0; k < k_dim * k_dim * 3; k++)
        p3 += "15 ";
    put("tracks/a/shadingx2.ppm", p3);
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(255, t.shading[0]);   // maxval 15 scales to 255
}

// ---- bad files ----

using TerrainBadFiles = TerrainFiles;

TEST_F(TerrainBadFiles, MissingHeightField)
{
    EXPECT_FALSE(terrain_load(&t, "@tracks/none", 1));
    EXPECT_TRUE(logged("Can't open '@tracks/none/terrain.hf'"));
    EXPECT_EQ(nullptr, t.heights);
}

TEST_F(TerrainBadFiles, BadParameters)
{
    const char *headers[] = { "6 2 0 1\n:", "13 2 0 1\n:", "7 0 0 1\n:", "7 -2 0 1\n:", "7 nan 0 1\n:",
                              "7 inf 0 1\n:", "7 2 0\n", "" };
    for (const char *h : headers) {
        put_track("tracks/a");
        put("tracks/a/terrain.hf", h);
        setenv("TOVA_LOGFILE", log_path.c_str(), 1);
        log_reset_for_tests();
        EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1)) << h;
        EXPECT_TRUE(logged("Bad height field parameters")) << h;
        EXPECT_TRUE(logged("Error reading heights")) << h;
        EXPECT_EQ(nullptr, t.heights);
    }
}

TEST_F(TerrainBadFiles, TruncatedSamples)
{
    put_track("tracks/a");
    put_inline_hf("tracks/a", 7, 2, 0, 1, ramp_samples(), (size_t)k_dim * k_dim - 1);
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Error reading heights"));
    EXPECT_FALSE(logged("Bad height field parameters"));
    EXPECT_EQ(nullptr, t.heights);
}

TEST_F(TerrainBadFiles, ShadingOfWrongSize)
{
    put_track("tracks/a");
    put("tracks/a/shadingx2.ppm", ppm(5, 5, 1));
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Bad shading dimensions (5x5)"));
    EXPECT_EQ(nullptr, t.heights);
}

TEST_F(TerrainBadFiles, ShadingMissingOrUnreadable)
{
    put_track("tracks/a");
    remove((data + "/tracks/a/shadingx2.ppm").c_str());
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Can't open '@tracks/a/shading.ppm'"));
    put("tracks/a/shading.ppm", "P6\n257 257\n255\nshort");
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Error reading shading"));
    put("tracks/a/shading.ppm", "P6\n99999999999 2\n255\n");
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
}

TEST_F(TerrainBadFiles, ShadowOfWrongSizeNamesItsSize)
{
    put_track("tracks/a");
    put("tracks/a/shadows.pgm", ppm(3, 3, 255, "P5", 1));
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Bad shadow dimensions (3x3)\n"));
    put("tracks/a/shadows.pgm", "P5\n257 257\n255\n");
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Error reading shadows"));
}

TEST_F(TerrainBadFiles, TileFiles)
{
    put_track("tracks/a");
    remove((data + "/tracks/a/tileinfo").c_str());
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Can't open '@tracks/a/texturelist'"));
    put("tracks/a/texturelist", "\n  \n");
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Error reading textures"));
    put("tracks/a/tileinfo", "name lonely\ntexture @x.png\n");
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Error reading tileinfo"));
    put("tracks/a/tileinfo", "addtile\n");
    remove((data + "/tracks/a/tilemap").c_str());
    EXPECT_FALSE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_TRUE(logged("Can't open '@tracks/a/tilemap'"));
    EXPECT_EQ(nullptr, t.heights);
}

TEST_F(TerrainBadFiles, ShortTilemapIsFilledWithTileZero)
{
    put_track("tracks/a");
    put("tracks/a/tilemap", std::string(100, '\x01'));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    EXPECT_EQ(1, t.tilemap[99]);
    EXPECT_EQ(0, t.tilemap[100]);
    EXPECT_EQ(0, t.tilemap[128 * 128 - 1]);
}

static int g_decals_freed;
static bool half_read_decals(Terrain *t, DataFile *)
{
    t->decals = (Decal *)xmalloc(16);
    t->decal_count = 1;
    return false;
}
static void free_decals(Terrain *t)
{
    xfree(t->decals);
    t->decals = nullptr;
    g_decals_freed++;
}

// Decals only dress the ground: a decals file the scenery code refuses costs the decals,
// never the track.
TEST_F(TerrainBadFiles, DecalsThatDoNotReadLeaveTheTrackWithoutDecals)
{
    put_track("tracks/a");
    put("tracks/a/decals", "[ 1 2 ] 3 4 5\n");
    TerrainRenderHooks hooks = {};
    hooks.load_decals = half_read_decals;
    hooks.free_decals = free_decals;
    terrain_set_render_hooks(&hooks);
    g_decals_freed = 0;
    bool ok = terrain_load(&t, "@tracks/a", 1);
    terrain_set_render_hooks(nullptr);
    ASSERT_TRUE(ok);
    EXPECT_NE(nullptr, t.heights);
    EXPECT_EQ(nullptr, t.decals);
    EXPECT_EQ(0, t.decal_count);
    EXPECT_EQ(1, g_decals_freed) << "what the refused file left behind is freed";
    EXPECT_TRUE(logged("Warning: Can't read '@tracks/a/decals'; the track has no decals\n"));
}

// ---- point queries ----

class TerrainQuery : public ::testing::Test {
protected:
    Terrain t = {};
    void SetUp() override { ASSERT_TRUE(terrain_create(&t, 7, 2.0f)); }
    void TearDown() override { terrain_unload(&t); }
    void set(int i, int j, float h) { t.heights[i + j * t.dim] = h; }
};

TEST_F(TerrainQuery, HeightInsideTriangles)
{
    // even cell (0, 0): split from (0,0) to (1,1)
    set(0, 0, 0);
    set(1, 0, 4);
    set(0, 1, 8);
    set(1, 1, 2);
    // fu 0.75, fw 0.25: triangle (1,0) (0,0) (1,1): 4 + 0.25*(0-4) + 0.25*(2-4)
    EXPECT_FLOAT_EQ(2.5f, terrain_height(&t, 1.5f, 0.5f));
    // fu 0.25, fw 0.75: triangle (0,1) (1,1) (0,0): 8 + 0.25*(2-8) + 0.25*(0-8)
    EXPECT_FLOAT_EQ(4.5f, terrain_height(&t, 0.5f, 1.5f));
    // the corners themselves
    EXPECT_FLOAT_EQ(4.0f, terrain_height(&t, 2.0f, 0.0f));
    EXPECT_FLOAT_EQ(8.0f, terrain_height(&t, 0.0f, 2.0f));
}

TEST_F(TerrainQuery, DiagonalsAgree)
{
    set(0, 0, 0);
    set(1, 0, 4);
    set(0, 1, 8);
    set(1, 1, 2);
    set(2, 0, 6);
    set(2, 1, 10);
    // even cell: on the diagonal (0,0)-(1,1) both triangles give the mean
    EXPECT_FLOAT_EQ(1.0f, terrain_height(&t, 1.0f, 1.0f));
    EXPECT_NEAR(terrain_height(&t, 1.0f + 1e-4f, 1.0f), terrain_height(&t, 1.0f, 1.0f + 1e-4f), 1e-3f);
    // odd cell (1, 0): diagonal from (2,0) to (1,1)
    EXPECT_FLOAT_EQ(4.0f, terrain_height(&t, 3.0f, 1.0f));
    EXPECT_NEAR(terrain_height(&t, 3.0f - 1e-4f, 1.0f), terrain_height(&t, 3.0f + 1e-4f, 1.0f), 1e-3f);
}

TEST_F(TerrainQuery, OddCell)
{
    // odd cell (1, 0): (1,0)=4 (2,0)=6 (1,1)=2 (2,1)=10
    set(1, 0, 4);
    set(2, 0, 6);
    set(1, 1, 2);
    set(2, 1, 10);
    // fu 0.25, fw 0.25: triangle (1,0) (2,0) (1,1): 4 + 0.25*2 + 0.25*(-2)
    EXPECT_FLOAT_EQ(4.0f, terrain_height(&t, 2.5f, 0.5f));
    // fu 0.75, fw 0.75: triangle (2,1) (1,1) (2,0): 10 + 0.25*(2-10) + 0.25*(6-10)
    EXPECT_FLOAT_EQ(7.0f, terrain_height(&t, 3.5f, 1.5f));
    Vec3 n = terrain_triangle_normal(&t, 3.5f, 1.5f);
    // slopes per grid step: du = 10-2, dw = 10-6; d = 2
    EXPECT_FLOAT_EQ(-16.0f, n.x);
    EXPECT_FLOAT_EQ(4.0f, n.y);
    EXPECT_FLOAT_EQ(-8.0f, n.z);
}

TEST_F(TerrainQuery, TriangleNormalEvenCell)
{
    set(0, 0, 0);
    set(1, 0, 4);
    set(1, 1, 2);
    Vec3 n = terrain_triangle_normal(&t, 1.5f, 0.5f);
    // plane: dh/dx = 4/2, dh/dz = (2-4)/2; normal (-a d^2, d^2, -b d^2)
    EXPECT_FLOAT_EQ(-8.0f, n.x);
    EXPECT_FLOAT_EQ(4.0f, n.y);
    EXPECT_FLOAT_EQ(4.0f, n.z);
}

TEST_F(TerrainQuery, BeyondTheEdge)
{
    int last = t.dim - 1;
    set(0, 0, 3);
    set(0, 1, 5);
    set(last, 0, 7);
    set(last, last, 9);
    EXPECT_FLOAT_EQ(3.0f, terrain_height(&t, -10.0f, -10.0f));
    EXPECT_FLOAT_EQ(3.0f, terrain_height(&t, -0.5f, 0.0f));     // floor(-0.25) is -1, clamped to 0
    EXPECT_FLOAT_EQ(4.0f, terrain_height(&t, -100.0f, 1.0f));   // halfway along the edge
    float far = last * t.spacing + 50.0f;
    EXPECT_FLOAT_EQ(7.0f, terrain_height(&t, far, -3.0f));
    EXPECT_FLOAT_EQ(9.0f, terrain_height(&t, far, far));
    EXPECT_FLOAT_EQ(9.0f, terrain_height(&t, 1e30f, 1e30f));
    EXPECT_TRUE(isfinite(terrain_height(&t, NAN, INFINITY)));
    EXPECT_EQ(4.0f, terrain_triangle_normal(&t, -1e30f, 1e30f).y);
}

TEST_F(TerrainQuery, VertexNormalOfAPlane)
{
    for (int j = 0; j < t.dim; j++)
        for (int i = 0; i < t.dim; i++)
            set(i, j, 0.5f * i * t.spacing);      // rises 0.5 ft per ft along x
    Vec3 n = terrain_vertex_normal(&t, 10, 10);
    float len = sqrtf(1.25f);
    EXPECT_NEAR(-0.5f / len, n.x, 1e-5f);
    EXPECT_NEAR(1.0f / len, n.y, 1e-5f);
    EXPECT_NEAR(0.0f, n.z, 1e-5f);
    Vec3 corner = terrain_vertex_normal(&t, -5, 1000);      // clamped to (0, last)
    EXPECT_NEAR(-0.5f / len, corner.x, 1e-5f);
}

// A 2-ft spike at (5, 5) (d = 2): a vertex's normal sums only the triangles that have it as a
// corner, so each neighbour leans by its own count of spiked and flat triangles.
TEST_F(TerrainQuery, VertexNormalSumsTheTrianglesAtTheVertex)
{
    set(5, 5, 2.0f);
    const float s = sinf(3.14159265f / 8), c = cosf(3.14159265f / 8);
    // odd (6, 5): one triangle in each of its four cells; the two of cells (5, 4) and (5, 5)
    // hold the spike and lean 45 degrees towards +x, the other two are flat: 22.5 degrees
    const struct {
        int i, j;
        Vec3 n;
    } cases[] = {
        { 6, 5, { s, c, 0 } },
        { 5, 6, { 0, c, s } },
        { 4, 5, { -s, c, 0 } },
        // even (6, 6): all eight triangles of its cells; two lean 45 degrees, along x and z
        { 6, 6, { 0.0945214f, 0.9910260f, 0.0945214f } },
        { 4, 4, { -0.0945214f, 0.9910260f, -0.0945214f } },
        // the spike itself: eight triangles leaning away in pairs
        { 5, 5, { 0, 1, 0 } },
    };
    for (const auto &k : cases) {
        Vec3 n = terrain_vertex_normal(&t, k.i, k.j);
        EXPECT_NEAR(k.n.x, n.x, 1e-5f) << k.i << "," << k.j;
        EXPECT_NEAR(k.n.y, n.y, 1e-5f) << k.i << "," << k.j;
        EXPECT_NEAR(k.n.z, n.z, 1e-5f) << k.i << "," << k.j;
    }
}

// An edit marks every cached triangle it moved: each normal round the edited vertex afterwards
// is the one a terrain that never cached anything gives.
TEST_F(TerrainQuery, AnEditRefreshesEveryTriangleItMoved)
{
    for (int j = 0; j < 12; j++)
        for (int i = 0; i < 12; i++)
            set(i, j, 0.25f * i + 0.5f * j);
    for (int j = 0; j < 12; j++)
        for (int i = 0; i < 12; i++)
            terrain_vertex_normal(&t, i, j);    // every triangle cached
    const int edits[3][2] = { { 5, 5 }, { 6, 5 }, { 0, 0 } };
    for (const auto &v : edits)
        terrain_set_height(&t, v[0], v[1], 9.0f);
    Terrain fresh = {};
    ASSERT_TRUE(terrain_create(&fresh, 7, 2.0f));
    memcpy(fresh.heights, t.heights, sizeof(float) * t.dim * t.dim);
    for (int j = 0; j < 10; j++)
        for (int i = 0; i < 10; i++) {
            Vec3 a = terrain_vertex_normal(&t, i, j), b = terrain_vertex_normal(&fresh, i, j);
            EXPECT_NEAR(a.x, b.x, 1e-6f) << i << "," << j;
            EXPECT_NEAR(a.z, b.z, 1e-6f) << i << "," << j;
        }
    terrain_unload(&fresh);
}

// ---- edits and shading ----

TEST_F(TerrainQuery, SetHeightBookkeeping)
{
    terrain_reshade(&t);    // clear the flags of creation
    EXPECT_EQ(0.0f, terrain_vertex_normal(&t, 5, 5).x);
    terrain_set_height(&t, 5, 5, 3.0f);
    EXPECT_EQ(7u, t.change_mask);
    EXPECT_EQ(3.0f, t.max_height);
    EXPECT_EQ(3.0f, t.heights[5 + 5 * t.dim]);
    for (int j = 3; j <= 7; j++)
        for (int i = 3; i <= 7; i++) {
            size_t k = i + (size_t)j * t.dim;
            bool inside = abs(i - 5) <= 1 && abs(j - 5) <= 1;
            EXPECT_EQ(inside, (t.reshade_flags[k >> 3] >> (k & 7) & 1) != 0) << i << "," << j;
        }
    // the cached triangles around the vertex see the new height: (6,5) now slopes down in +x
    EXPECT_GT(terrain_vertex_normal(&t, 6, 5).x, 0.1f);
    terrain_set_height(&t, 0, 0, -2.0f);
    EXPECT_EQ(-2.0f, t.min_height);
    terrain_set_height(&t, -1, 0, 50.0f);       // outside: ignored
    terrain_set_height(&t, 0, t.dim, 50.0f);
    EXPECT_EQ(3.0f, t.max_height);
}

TEST_F(TerrainQuery, FrozenTerrainIgnoresEdits)
{
    terrain_reshade(&t);
    t.change_mask = 0;
    t.frozen = true;
    terrain_set_height(&t, 5, 5, 3.0f);
    EXPECT_EQ(0.0f, t.heights[5 + 5 * t.dim]);
    EXPECT_EQ(0u, t.change_mask);
    for (size_t b = 0; b < ((size_t)t.dim * t.dim + 7) / 8; b++)
        ASSERT_EQ(0, t.reshade_flags[b]);
}

TEST_F(TerrainQuery, ReshadeBytes)
{
    terrain_set_lighting(v3(0, 2, 0), v3(1, 1, 1), v3(0.5f, 0.25f, 0));
    t.shadow[0] = 255;
    t.shadow[1] = 51;       // 1 - 51/255 = 0.8
    terrain_mark_all_reshade(&t);
    terrain_reshade(&t);
    // lit flat ground: (1 + 0.5) * 0.5 * 255 = 191.25, (1 + 0.25) * 127.5 = 159.375, 127.5
    EXPECT_EQ(191, t.shading[3 * 5]);
    EXPECT_EQ(159, t.shading[3 * 5 + 1]);
    EXPECT_EQ(127, t.shading[3 * 5 + 2]);
    // fully shadowed: only the ambient
    EXPECT_EQ(63, t.shading[0]);
    EXPECT_EQ(31, t.shading[1]);
    EXPECT_EQ(0, t.shading[2]);
    // (0.8 + 0.5) * 127.5 = 165.75
    EXPECT_EQ(165, t.shading[3]);
    // sun below the horizon gives no light at all
    terrain_set_lighting(v3(0, -1, 0), v3(1, 1, 1), v3(0, 0, 0));
    terrain_mark_all_reshade(&t);
    terrain_reshade(&t);
    EXPECT_EQ(0, t.shading[3 * 9]);
}

static void shader_method(Terrain *t, int) { t->shader_path = true; }

static uint8_t normal_byte(float c) { return (uint8_t)((int)truncf(c * 127) + 128); }

// On the shader path every vertex carries its normal's x and z as bytes, trunc(N * 127) + 128,
// and in place of y (which the shader rebuilds) the light of "shadows.pgm"; an edit renews the
// bytes round it at the next reshade.
TEST_F(TerrainLoad, NormalTextureBytes)
{
    // h = i + 2 j ft on a 2-ft grid: a plane rising 0.5 along x and 1 along z, whose unit
    // normal is (-1/3, 2/3, -2/3): bytes 128 - 42 and 128 - 84
    std::vector<uint16_t> s((size_t)k_dim * k_dim, 0);
    for (int j = 0; j < k_dim; j++)
        for (int i = 0; i < k_dim && i + 2 * j <= 768; i++)
            s[i + (size_t)j * k_dim] = (uint16_t)(85 * (i + 2 * j));
    put_track("tracks/a");
    put_inline_hf("tracks/a", 7, 2.0f, 0, 771, s);
    put("tracks/a/shadows.pgm", ppm(k_dim, k_dim, 200, "P5", 1));
    TerrainRenderHooks hooks = {};
    hooks.choose_method = shader_method;
    terrain_set_render_hooks(&hooks);
    bool ok = terrain_load(&t, "@tracks/a", 3);
    terrain_set_render_hooks(nullptr);
    ASSERT_TRUE(ok);
    ASSERT_NE(nullptr, t.normal_bytes);
    EXPECT_FLOAT_EQ(3.0f, t.heights[1 + 1 * k_dim]);
    for (int v : { 10 + 10 * k_dim, 100 + 20 * k_dim }) {
        EXPECT_EQ(86, t.normal_bytes[3 * v]) << v;
        EXPECT_EQ(200, t.normal_bytes[3 * v + 1]) << v;
        EXPECT_EQ(44, t.normal_bytes[3 * v + 2]) << v;
    }
    terrain_set_height(&t, 10, 10, 40.0f);
    terrain_reshade(&t);
    for (int j = 8; j <= 12; j++)
        for (int i = 8; i <= 12; i++) {
            Vec3 n = terrain_vertex_normal(&t, i, j);
            size_t k = i + (size_t)j * k_dim;
            EXPECT_EQ(normal_byte(n.x), t.normal_bytes[3 * k]) << i << "," << j;
            EXPECT_EQ(normal_byte(n.z), t.normal_bytes[3 * k + 2]) << i << "," << j;
            EXPECT_EQ(200, t.normal_bytes[3 * k + 1]) << i << "," << j;
        }
    EXPECT_NE(86, t.normal_bytes[3 * (11 + 10 * k_dim)]) << "the edit tilted its neighbour";
}

// ---- saving ----

using TerrainSave = TerrainFiles;

TEST_F(TerrainSave, RoundTripWithinOneStep)
{
    std::vector<uint16_t> s = ramp_samples();
    put_track("tracks/a");
    put_inline_hf("tracks/a", 7, 2.0f, -4.0f, 28.0f, s);
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    std::vector<float> before(t.heights, t.heights + s.size());
    float lo = t.heights[0], hi = t.heights[0];
    for (float h : before) {
        lo = fminf(lo, h);
        hi = fmaxf(hi, h);
    }
    ASSERT_TRUE(terrain_save(&t));
    char header[128];
    snprintf(header, sizeof header, "7 2.000000 %f %f\n", lo, hi);
    EXPECT_EQ(header, read_home("tracks/a/terrain.hf"));
    terrain_unload(&t);
    // the home copy now wins over the data directory
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    float step = (hi - lo) / 65535.0f;
    for (size_t k = 0; k < before.size(); k++)
        ASSERT_NEAR(before[k], t.heights[k], step * 1.01f) << k;
}

TEST_F(TerrainSave, ShadingBytesSavedBack)
{
    put_track("tracks/a");
    remove((data + "/tracks/a/shadingx2.ppm").c_str());
    put("tracks/a/shading.ppm", ppm(k_dim, k_dim, 200));
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    ASSERT_TRUE(terrain_save(&t));
    std::string full = read_home("tracks/a/shading.ppm"), x2 = read_home("tracks/a/shadingx2.ppm");
    std::string header = "P6\n257 257\n255\n";
    ASSERT_EQ(header.size() + 3u * k_dim * k_dim, full.size());
    EXPECT_EQ(header, full.substr(0, header.size()));
    EXPECT_EQ(200, (uint8_t)full[header.size()]);
    EXPECT_EQ(100, (uint8_t)x2[header.size()]);
    terrain_unload(&t);
    put("tracks/b/shading.ppm", "");
    put_track("tracks/b");
    put("tracks/b/shadingx2.ppm", ppm(k_dim, k_dim, 200));
    ASSERT_TRUE(terrain_load(&t, "@tracks/b", 1));
    ASSERT_TRUE(terrain_save(&t));
    EXPECT_EQ(255, (uint8_t)read_home("tracks/b/shading.ppm")[header.size()]);
    EXPECT_EQ(200, (uint8_t)read_home("tracks/b/shadingx2.ppm")[header.size()]);
    // the boundary: an internal 127 is saved doubled, 128 (full brightness) and above as 255
    t.shading[0] = 127;
    t.shading[1] = 128;
    t.shading[2] = 129;
    ASSERT_TRUE(terrain_save(&t));
    std::string saved = read_home("tracks/b/shading.ppm");
    EXPECT_EQ(254, (uint8_t)saved[header.size()]);
    EXPECT_EQ(255, (uint8_t)saved[header.size() + 1]);
    EXPECT_EQ(255, (uint8_t)saved[header.size() + 2]);
    EXPECT_EQ(std::string(128 * 128, '\0'), read_home("tracks/b/tilemap"));
}

TEST_F(TerrainSave, FlatTerrainSavesZeros)
{
    put_track("tracks/a", 1234, 3.0f, 3.0f);
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    ASSERT_TRUE(terrain_save(&t));
    EXPECT_EQ("7 2.000000 3.000000 3.000000\n", read_home("tracks/a/terrain.hf"));
    int w, h;
    uint16_t *px;
    ASSERT_TRUE(read_gray16_image((home + "/Skorva/tracks/a/terrain.png").c_str(), &w, &h, &px));
    EXPECT_EQ(k_dim, w);
    EXPECT_EQ(k_dim, h);
    bool all_zero = true;
    for (int k = 0; k < w * h; k++)
        all_zero &= px[k] == 0;
    EXPECT_TRUE(all_zero);
    xfree(px);
}

TEST_F(TerrainSave, UnwritableFolderFails)
{
    put_track("tracks/a");
    ASSERT_TRUE(terrain_load(&t, "@tracks/a", 1));
    put("blocker", "x");
    EXPECT_FALSE(terrain_save_files(&t, (data + "/blocker/sub").c_str(), false));
    EXPECT_TRUE(logged("Can't open 'terrain.hf'"));
}

// ---- the track list ----

using TrackList = TerrainFiles;

TEST_F(TrackList, FoldersNamesAndOrder)
{
    put("tracks/zeta/terrain.hf", "7 2 0 1\n");
    put("tracks/zeta/desc", "alpha Hills\nsecond line");
    put("tracks/beta/terrain.hf.gz", "x");
    put("tracks/beta/desc", std::string("Beta\0junk", 9));
    put("tracks/gamma/terrain.hf", "7 2 0 1\n");       // no desc: the folder names it
    put("tracks/gamma/terrain.hf.gz", "x");            // one track, not two
    put("tracks/bin/terrain.hf", "7 2 0 1\n");
    put("tracks/bin/desc", std::string("\x1b[2J\x07Mud\tPit\xff\xfe\x01 \x7f\n", 18));
    put("tracks/nul/terrain.hf", "7 2 0 1\n");
    put("tracks/nul/desc", std::string("\x01\x02\0Name", 7));    // nothing printable before the end
    put("tracks/other/terrain.hfx", "x");
    put("terrain.hf", "x");                            // not in a folder
    terrain_set_verbosity(1);
    ASSERT_EQ(5, track_list());
    EXPECT_STREQ("tracks/bin", track_info(0)->folder);
    EXPECT_STREQ("[2JMudPit ", track_info(0)->name) << "printable characters only";
    EXPECT_STREQ("tracks/zeta", track_info(1)->folder);
    EXPECT_STREQ("alpha Hills", track_info(1)->name);
    EXPECT_STREQ("Beta", track_info(2)->name);
    EXPECT_STREQ("tracks/gamma", track_info(3)->name);
    EXPECT_STREQ("tracks/nul", track_info(4)->name);
    EXPECT_EQ(nullptr, track_info(5));
    EXPECT_EQ(nullptr, track_info(-1));
    EXPECT_TRUE(logged("tracks/zeta -> alpha Hills\n"));
    EXPECT_TRUE(logged("tracks/bin -> [2JMudPit \n"));
    EXPECT_EQ(2, track_find("tracks/beta"));
    EXPECT_EQ(-1, track_find("tracks/none"));
    EXPECT_STREQ("tracks/beta", track_choose("tracks/beta"));
    EXPECT_STREQ("tracks/bin", track_choose("tracks/none"));
    EXPECT_STREQ("tracks/bin", track_choose(nullptr));
}

// What a player may type for a track: its folder with or without "tracks/" and a trailing
// "/", or its name; anything else means no track.
TEST_F(TrackList, LookupByFolderOrName)
{
    put("tracks/sample/terrain.hf", "7 2 0 1\n");
    put("tracks/sample/desc", "Sample Track\n");
    put("tracks/practice/terrain.hf", "7 2 0 1\n");
    put("tracks/practice/desc", "Practice Field\n");
    put("mine/terrain.hf", "7 2 0 1\n");
    ASSERT_EQ(3, track_list());
    int sample = track_find("tracks/sample");
    ASSERT_GE(sample, 0);
    const struct {
        const char *name;
        const char *folder;     // null: no track
    } cases[] = {
        { "tracks/sample", "tracks/sample" }, { "tracks/sample/", "tracks/sample" }, { "sample", "tracks/sample" },
        { "SAMPLE//", "tracks/sample" },      { "Sample Track", "tracks/sample" },  { "sample track", "tracks/sample" },
        { "practice field", "tracks/practice" }, { "mine", "mine" },                { "mine/", "mine" },
        { "tracks/nope", nullptr },           { "Sample", "tracks/sample" },        { "Sample Trac", nullptr },
        { "tracks/", nullptr },               { "/", nullptr },                     { "", nullptr },
        { "tracks/tracks/sample", nullptr },  { "racks/sample", nullptr },
    };
    for (const auto &c : cases) {
        const TrackInfo *info = track_info(track_lookup(c.name));
        if (c.folder)
            EXPECT_STREQ(c.folder, info ? info->folder : "(none)") << c.name;
        else
            EXPECT_EQ(nullptr, info) << c.name;
    }
    EXPECT_EQ(-1, track_lookup(nullptr));
    EXPECT_STREQ("tracks/sample", track_choose("Sample Track"));
    EXPECT_STREQ("mine", track_choose("nowhere")) << "the first listed";
}

TEST_F(TrackList, NoTracks)
{
    put("readme.txt", "nothing here");
    EXPECT_EQ(0, track_list());
    EXPECT_EQ(nullptr, track_choose("tracks/sample"));
}
