// The ground on Mesa's software OpenGL: a field of two solid tiles in a checkerboard with a
// ridge, drawn by each texture method from many cameras over a clear colour no tile uses.
#include <math.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/mem.h"
#include "gl_fixture.h"
#include "render/scenery/decal.h"
#include "render/scenery_draw.h"
#include "render/gl.h"
#include "render/ground_textures.h"
#include "render/lighting.h"
#include "render/terrain_lod.h"
#include "render/terrain_render.h"
#include "render/texture.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

namespace {

const int W = 320, H = 240;
const unsigned char k_tile_rgb[2][3] = { { 200, 60, 40 }, { 40, 160, 90 } };

struct Camera {
    float x, y, z, yaw, pitch;      // yaw 0 looks along +z; pitch below the horizon
};

struct Mat {
    float m[16];                    // column-major, as GL takes it
};

static Mat multiply(const Mat &a, const Mat &b)
{
    Mat r = {};
    for (int c = 0; c < 4; c++)
        for (int row = 0; row < 4; row++)
            for (int k = 0; k < 4; k++)
                r.m[c * 4 + row] += a.m[k * 4 + row] * b.m[c * 4 + k];
    return r;
}

struct GroundScene : GlWorld {
    Terrain t = {};
    Mat projection, view;
    Vec3 eye, forward, right, up;

    // right = forward x (0, 1, 0), up = right x forward
    void axes(Vec3 *r, Vec3 *u)
    {
        *r = v3_normalize(v3(-forward.z, 0, forward.x));
        *u = v3(r->y * forward.z - r->z * forward.y, r->z * forward.x - r->x * forward.z, r->x * forward.y - r->y * forward.x);
    }

    void SetUp() override
    {
        GlWorld::SetUp();
        if (IsSkipped())
            return;
        gl_probe();
        terrain_render_install();
        std::string names[2] = { png("a.png", 16, 16, k_tile_rgb[0][0], k_tile_rgb[0][1], k_tile_rgb[0][2]),
                                 png("b.png", 16, 16, k_tile_rgb[1][0], k_tile_rgb[1][1], k_tile_rgb[1][2]) };
        ASSERT_TRUE(terrain_create(&t, 7, 1.0f));
        t.tile_count = 2;
        for (int i = 0; i < 2; i++) {
            tile_set_defaults(&t.tiles[i]);
            t.tiles[i].texture_path = xstrdup(names[i].c_str());
            t.tiles[i].texture = texture_load(names[i].c_str());
            ASSERT_NE(t.tiles[i].texture, 0u);
        }
        // Blocks of 8 x 8 tiles (16 ft) in a checkerboard; a ridge along z = 150.
        for (int row = 0; row < 128; row++)
            for (int col = 0; col < 128; col++)
                t.tilemap[col + (row << 7)] = (uint8_t)(((row / 8) + (col / 8)) & 1);
        for (int z = 0; z < t.dim; z++)
            for (int x = 0; x < t.dim; x++) {
                float d = (z - 150) / 12.0f;
                t.heights[x + z * t.dim] = 14 * expf(-d * d) + 0.5f * sinf(x * 0.1f);
            }
        t.min_height = -0.5f;
        t.max_height = 14.5f;
        // Shading from the ambient light alone: 127 everywhere, a factor of 0.996.
        terrain_set_lighting(v3(1, 1, 1), v3(0, 0, 0), v3(1, 1, 1));
    }
    void TearDown() override
    {
        terrain_unload(&t);
        terrain_set_render_hooks(nullptr);
        ground_break_framebuffer_for_tests(false);
        ground_set_dynamic_lighting(false);
        textures_delete_all();
        texture_cache_free();
        GlWorld::TearDown();
    }

    void start(int method, int dim_index = 1, int lmin = 0, bool vertex_arrays = true)
    {
        TerrainRenderSettings s = { 0.0025f, dim_index, lmin, true, 0, vertex_arrays, 1 };
        terrain_render_configure(&s);
        glViewport(0, 0, W, H);
        terrain_render_setup(&t, method);
        lod_attach(&t);
    }

    void look(const Camera &c)
    {
        float n = 0.5f, f = 2000, top = n * tanf(30 * 3.14159265f / 180), aspect = top * W / H;
        projection = { { n / aspect, 0, 0, 0, 0, n / top, 0, 0, 0, 0, -(f + n) / (f - n), -1, 0, 0, -2 * f * n / (f - n), 0 } };
        forward = v3(sinf(c.yaw) * cosf(c.pitch), -sinf(c.pitch), cosf(c.yaw) * cosf(c.pitch));
        axes(&right, &up);
        eye = v3(c.x, c.y, c.z);
        Mat r = { { right.x, up.x, -forward.x, 0, right.y, up.y, -forward.y, 0, right.z, up.z, -forward.z, 0, 0, 0, 0, 1 } };
        Mat tr = { { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -c.x, -c.y, -c.z, 1 } };
        view = multiply(r, tr);
    }

    // Frames until the textures around the camera are composed; returns the last picture.
    std::vector<unsigned char> draw(const Camera &c, int frames = 24)
    {
        look(c);
        std::vector<unsigned char> px((size_t)W * H * 3);
        for (int i = 0; i < frames; i++) {
            terrain_lod_update();
            terrain_textures_update(eye);
            glViewport(0, 0, W, H);
            glClearColor(1, 0, 1, 1);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glEnable(GL_DEPTH_TEST);
            glDepthFunc(GL_LEQUAL);
            glEnable(GL_CULL_FACE);     // as in the game: the ground's front faces up
            glMatrixMode(GL_PROJECTION);
            glLoadMatrixf(projection.m);
            glMatrixMode(GL_MODELVIEW);
            glLoadMatrixf(view.m);
            terrain_draw(eye, forward);
            glDisable(GL_CULL_FACE);
            glFinish();
        }
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, W, H, GL_RGB, GL_UNSIGNED_BYTE, px.data());
        return px;
    }

    // The first point of the true surface along the ray through pixel (px, py); false when
    // the ray leaves the field or stays above it.
    bool cast(int px, int py, Vec3 *hit)
    {
        float top = tanf(30 * 3.14159265f / 180), aspect = top * W / H;
        float sx = ((px + 0.5f) / W * 2 - 1) * aspect, sy = ((py + 0.5f) / H * 2 - 1) * top;
        Vec3 dir = v3_normalize(v3(forward.x + right.x * sx + up.x * sy, forward.y + right.y * sx + up.y * sy,
                                   forward.z + right.z * sx + up.z * sy));
        auto at = [&](float s) { return v3(eye.x + dir.x * s, eye.y + dir.y * s, eye.z + dir.z * s); };
        auto below = [&](float s) {
            Vec3 p = at(s);
            return p.x >= 0 && p.z >= 0 && p.x <= 256 && p.z <= 256 && p.y <= terrain_height(&t, p.x, p.z);
        };
        float last = 0.5f;
        bool entered = false;
        for (float s = 0.5f; s < 1500; s += fmaxf(0.05f, s * 0.01f)) {
            Vec3 p = at(s);
            if (p.y > t.max_height && dir.y >= 0)
                return false;
            bool inside = p.x >= 0 && p.z >= 0 && p.x <= 256 && p.z <= 256;
            if (inside && !entered && p.y <= terrain_height(&t, p.x, p.z))
                return false;       // under the field's edge: the ground has no sides
            entered = entered || inside;
            if (below(s)) {
                float lo = last, hi = s;
                for (int i = 0; i < 24; i++) {
                    float mid = 0.5f * (lo + hi);
                    (below(mid) ? hi : lo) = mid;
                }
                *hit = at(hi);
                return true;
            }
            last = s;
        }
        return false;
    }
};

const Camera k_cameras[20] = {
    { 128, 6, 60, 0, 0.2f },       { 128, 3, 20, 0.3f, 0.1f },     { 40, 20, 100, 1.2f, 0.4f },
    { 200, 60, 200, 3.5f, 0.7f },  { 128, 300, 128, 0, 1.5f },     { 1, 4, 1, 0.8f, 0.15f },
    { 255, 5, 255, 3.9f, 0.2f },   { 0.5f, 8, 200, 1.6f, 0.3f },   { 128, 30, -60, 0, 0.25f },
    { -80, 40, -80, 0.78f, 0.3f }, { 320, 25, 128, -1.57f, 0.2f }, { 128, 20, 330, 3.14f, 0.2f },
    { 60, 2.5f, 140, 0.1f, 0.05f }, { 90, 16, 160, 2.5f, 0.35f },  { 180, 12, 80, 5.2f, 0.5f },
    { 128, 120, 40, 0.2f, 0.9f },  { 10, 50, 10, 0.78f, 0.6f },    { 250, 3, 128, -1.4f, 0.1f },
    { 30, 9, 230, 2.2f, 0.2f },    { 150, 18, 150, 4.0f, 0.45f },
};

static bool is_clear(const unsigned char *p) { return p[0] == 255 && p[1] == 0 && p[2] == 255; }

// A clear-colour pixel with ground above, below, left and right of it is a hole or a crack:
// a height field seen without roll never shows sky enclosed by ground.
static int holes(const std::vector<unsigned char> &px)
{
    std::vector<int> first_x(H, W), last_x(H, -1), first_y(W, H), last_y(W, -1);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            if (!is_clear(&px[(x + y * W) * 3])) {
                first_x[y] = first_x[y] < x ? first_x[y] : x;
                last_x[y] = x;
                first_y[x] = first_y[x] < y ? first_y[x] : y;
                last_y[x] = y;
            }
    int count = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++)
            count += is_clear(&px[(x + y * W) * 3]) && first_x[y] < x && x < last_x[y] && first_y[x] < y && y < last_y[x];
    return count;
}

static double mean_difference(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++)
        sum += abs((int)a[i] - (int)b[i]);
    return sum / (double)a.size();
}

TEST_F(GroundScene, EveryMethodCoversTheGroundWithItsTiles)
{
    std::vector<std::vector<unsigned char>> direct, lit_direct;
    // The shader choices last, lit per pixel under the same light as the shading.
    bool shaders = gl_caps.fragment_shader && gl_caps.texture_units >= 4 && shaders_build();
    ground_set_dynamic_lighting(true);
    const int methods[5] = { GROUND_METHOD_DIRECT, GROUND_METHOD_SOFTWARE, GROUND_METHOD_COPY,
                             GROUND_METHOD_SHADERS_DIRECT, GROUND_METHOD_SHADERS_COPY };
    for (int m : methods) {
        bool lit = m >= GROUND_METHOD_SHADERS_COPY;
        if (lit && !shaders)
            continue;
        start(m);
        ASSERT_EQ(ground_method(), lit ? m - 2 : m);
        ASSERT_EQ(ground_shader_path(), lit);
        for (int ci = 0; ci < 20; ci += (m == GROUND_METHOD_DIRECT ? 1 : 4)) {
            const Camera &c = k_cameras[ci];
            std::vector<unsigned char> px = draw(c);
            EXPECT_EQ(holes(px), 0) << "method " << m << " camera " << ci;
            // Pixels whose ray meets the surface well inside one 16-ft block show its tile.
            int checked = 0, wrong = 0;
            for (int y = 5; y < H; y += 23)
                for (int x = 7; x < W; x += 29) {
                    Vec3 hit;
                    if (!cast(x, y, &hit))
                        continue;
                    float bx = fmodf(hit.x, 16), bz = fmodf(hit.z, 16);
                    float dist = v3_length(v3(hit.x - eye.x, hit.y - eye.y, hit.z - eye.z));
                    if (bx < 3 || bx > 13 || bz < 3 || bz > 13 || dist > 80)
                        continue;
                    int tile = ((int)(hit.z / 16) + (int)(hit.x / 16)) & 1;
                    const unsigned char *p = &px[(x + y * W) * 3];
                    checked++;
                    bool bad = false;
                    for (int ch = 0; ch < 3; ch++)
                        bad = bad || abs((int)p[ch] - (int)k_tile_rgb[tile][ch]) > 12;
                    wrong += bad;

                }
            EXPECT_EQ(wrong, 0) << "method " << m << " camera " << ci << " of " << checked;
            if (m == GROUND_METHOD_DIRECT)
                direct.push_back(px);
            else if (!lit)
                EXPECT_LT(mean_difference(px, direct[ci]), 8.0) << "method " << m << " camera " << ci;
            else
                EXPECT_LT(mean_difference(px, direct[ci]), 24.0) << "method " << m << " camera " << ci;
            if (m == GROUND_METHOD_SHADERS_DIRECT) {
                lit_direct.push_back(px);
            } else if (m == GROUND_METHOD_SHADERS_COPY) {
                EXPECT_LT(mean_difference(px, lit_direct[ci / 4]), 8.0) << "camera " << ci;
            }
        }
    }
}


// Lit per pixel under a low sun that shades the ridge's flanks: the two shader choices agree
// with each other and with the shaded textures of method 3; only the track's "dynamic_lighting"
// turns the path on.
TEST_F(GroundScene, ShaderChoicesLightTheGroundLikeTheShadedTextures)
{
    if (!gl_caps.fragment_shader || gl_caps.texture_units < 4 || !shaders_build())
        GTEST_SKIP() << "no shader programs on this driver";
    terrain_mark_all_reshade(&t);
    mkdir((dirs->data + "track").c_str(), 0755);
    auto lighting = [&](const char *text) {
        FILE *f = fopen((dirs->data + "track/lighting").c_str(), "w");
        ASSERT_TRUE(f);
        fputs(text, f);
        fclose(f);
        lighting_load("track");
    };
    const struct {
        const char *text;
        bool lit;
    } files[] = {
        { "sun_vector [ 1 1 1 ]\ndynamic_lighting 1\n", true },
        { "dynamic_lighting 0\n", false },
        { " \tdynamic_lighting\t2\r\n", true },
        { "dynamic_lighting_off 1\n", false },
        { "", false },
    };
    for (const auto &file : files) {
        lighting(file.text);
        start(GROUND_METHOD_SHADERS_DIRECT);
        EXPECT_EQ(ground_method(), GROUND_METHOD_DIRECT);
        EXPECT_EQ(ground_shader_path(), file.lit) << file.text;
        EXPECT_EQ(t.shader_path, file.lit) << file.text;
    }
    // The file's sun reaches the shading.
    lighting("dynamic_lighting 1\nsun_vector [ 0.2 0.6 -1 ]\nsun_color [ 0.7 0.6 0.5 ]\nambient [ 0.3 0.35 0.4 ]\n");
    terrain_mark_all_reshade(&t);
    const int cameras[3] = { 0, 3, 13 };
    std::vector<unsigned char> pictures[3][3];
    const int methods[3] = { GROUND_METHOD_DIRECT, GROUND_METHOD_SHADERS_DIRECT, GROUND_METHOD_SHADERS_COPY };
    for (int m = 0; m < 3; m++) {
        start(methods[m]);
        EXPECT_EQ(ground_shader_path(), m > 0);
        EXPECT_EQ(t.shader_path, m > 0);
        for (int c = 0; c < 3; c++) {
            pictures[m][c] = draw(k_cameras[cameras[c]]);
            EXPECT_EQ(holes(pictures[m][c]), 0) << "method " << methods[m] << " camera " << cameras[c];
        }
    }
    EXPECT_TRUE(logged("Terrain lit per pixel with shader programs"));
    for (int c = 0; c < 3; c++) {
        EXPECT_LT(mean_difference(pictures[2][c], pictures[1][c]), 8.0) << "camera " << cameras[c];
        EXPECT_LT(mean_difference(pictures[1][c], pictures[0][c]), 24.0) << "camera " << cameras[c];
    }
    // The sun matters: the flank facing away from it is darker than the one facing it.
    Camera side = { 128, 80, 110, 0, 0.95f };
    std::vector<unsigned char> px = draw(side);
    auto brightness = [&](float z) {
        look(side);
        long sum = 0, count = 0;
        for (int y = 0; y < H; y += 3)
            for (int x = 0; x < W; x += 3) {
                Vec3 hit;
                if (cast(x, y, &hit) && fabsf(hit.z - z) < 3) {
                    const unsigned char *p = &px[(x + y * W) * 3];
                    sum += p[0] + p[1] + p[2];
                    count++;
                }
            }
        return count ? (double)sum / count : -1.0;
    };
    double facing = brightness(141), away = brightness(159);
    EXPECT_GT(facing, 0);
    EXPECT_GT(away, 0);
    EXPECT_GT(facing, away + 30) << facing << " " << away;
}

TEST_F(GroundScene, MethodsFallBackAndFramebufferErrorsAreSkipped)
{
    // Method 3 on a driver without framebuffer objects: method 1 with T at most 256.
    gl_caps.framebuffer_object = false;
    start(GROUND_METHOD_DIRECT, 4);
    EXPECT_EQ(ground_method(), GROUND_METHOD_SOFTWARE);
    EXPECT_EQ(ground_texture_dim(), 256);
    EXPECT_TRUE(logged("Terrain texture rendering with TexSubImage"));
    gl_probe();
    start(GROUND_METHOD_DIRECT, 4);
    EXPECT_EQ(ground_method(), GROUND_METHOD_DIRECT);
    EXPECT_EQ(ground_texture_dim(), 512);
    EXPECT_TRUE(logged("Terrain texture rendering with framebuffer objects"));
    EXPECT_TRUE(logged("Creating low detail textures"));
    EXPECT_TRUE(logged("Creating LOD textures"));
    EXPECT_TRUE(logged("1x1 low detail textures needed for 257x257 field"));
    // Method 2 keeps its textures inside the 320 x 240 window.
    start(GROUND_METHOD_COPY, 3);
    EXPECT_EQ(ground_method(), GROUND_METHOD_COPY);
    EXPECT_EQ(ground_texture_dim(), 128);
    // A framebuffer that is not complete: logged, the texture skipped, the game goes on.
    start(GROUND_METHOD_DIRECT, 1);
    ground_break_framebuffer_for_tests(true);
    std::vector<unsigned char> px = draw(k_cameras[0], 2);
    EXPECT_TRUE(logged("Framebuffer error 8cd7"));      // GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT
    EXPECT_EQ(holes(px), 0);
}

// Raising 16 vertices by 2 ft in view changes the picture over them within the textures
// covering them plus 2 frames, and the reshading is all done soon after.
TEST_F(GroundScene, TheGroundFollowsTheRuts)
{
    for (int m : { GROUND_METHOD_SOFTWARE, GROUND_METHOD_DIRECT }) {
        start(m);
        Camera c = { 128, 8, 90, 0, 0.35f };
        std::vector<unsigned char> before = draw(c, 30);
        for (int z = 110; z < 114; z++)
            for (int x = 126; x < 130; x++)
                terrain_set_height(&t, x, z, t.heights[x + z * t.dim] + 2);
        t.height_changes++;
        terrain_mark_region(124, 108, 130, 114);
        TerrainRenderStats stats;
        terrain_render_stats(&stats);
        EXPECT_EQ(stats.reshades_pending, 1);
        int covering = 0;
        for (int level = 0; level < 6; level++)
            for (int tz = 0; tz < 128; tz++)
                for (int tx = 0; tx < 128; tx++)
                    covering += ground_clip_stale(level, tx, tz) > 0;
        covering += ground_base_dirty(0, 0) == -1;
        ASSERT_GT(covering, 0);
        int frames = 0;
        bool changed = false;
        while (!changed && frames < covering + 2) {
            std::vector<unsigned char> now = draw(c, 1);
            frames++;
            double diff = 0;
            for (int y = 0; y < H; y++)
                for (int x = 0; x < W; x++)
                    for (int ch = 0; ch < 3; ch++)
                        diff += abs((int)now[(x + y * W) * 3 + ch] - (int)before[(x + y * W) * 3 + ch]);
            changed = diff > 1000;
        }
        EXPECT_TRUE(changed) << "method " << m << " after " << frames << " frames";
        draw(c, 40);
        terrain_render_stats(&stats);
        EXPECT_EQ(stats.reshades_pending, 0);
        EXPECT_EQ(stats.texture_age, 0);

    }
}


// A decal lies over the tiles, under the shading, turned by its angle, in every method; the
// console's toggle composes the ground without it. Given as a bare list, and added through the
// scenery's reader, whose buckets the composer then searches (this one straddles x = 128).
TEST_F(GroundScene, DecalsArePaintedOntoTheGround)
{
    std::string name = png("decal.png", 8, 8, 30, 30, 220);
    Decal bare = decal_make(128, 100, 0.5f, 6, 2);     // 12 ft long, 6 wide
    bare.texture = texture_load(name.c_str());
    bare.image = texture_image(name.c_str());
    ASSERT_TRUE(bare.texture && bare.image);
    const unsigned char blue[3] = { 30, 30, 220 };
    for (int source = 0; source < 2; source++) {
        if (source == 0) {
            t.decals = &bare;
            t.decal_count = 1;
        } else {
            t.decals = nullptr;
            t.decal_count = 0;
            scenery_draw_install();
            decal_add(&t, 20, 20, 0, 2, 1, name.c_str());     // far away, in another bucket
            ASSERT_EQ(decal_add(&t, 128, 100, 0.5f, 6, 2, name.c_str()), 1);
            ASSERT_TRUE(decal_buckets_cover(&t));
        }
        const Decal &d = t.decals[source];
        for (int m : { GROUND_METHOD_DIRECT, GROUND_METHOD_SOFTWARE, GROUND_METHOD_COPY }) {
            for (bool hidden : { false, true }) {
                start(m);
                terrain_redraw_textures(hidden);
                std::vector<unsigned char> px = draw({ 128, 40, 85, 0, 1.2f });
                int on = 0, off = 0;
                for (int y = 0; y < H; y += 7)
                    for (int x = 0; x < W; x += 7) {
                        Vec3 hit;
                        if (!cast(x, y, &hit))
                            continue;
                        float u, v;
                        decal_coords(&d, hit.x, hit.z, &u, &v);
                        bool inside = u > 0.1f && u < 0.9f && v > 0.1f && v < 0.9f;
                        bool outside = u < -0.2f || u > 1.2f || v < -0.3f || v > 1.3f;
                        float bx = fmodf(hit.x, 16), bz = fmodf(hit.z, 16);
                        if (!inside && (!outside || bx < 3 || bx > 13 || bz < 3 || bz > 13))
                            continue;
                        int tile = ((int)(hit.z / 16) + (int)(hit.x / 16)) & 1;
                        const unsigned char *want = inside && !hidden ? blue : k_tile_rgb[tile];
                        const unsigned char *p = &px[(x + y * W) * 3];
                        bool ok = abs(p[0] - want[0]) <= 16 && abs(p[1] - want[1]) <= 16 && abs(p[2] - want[2]) <= 16;
                        EXPECT_TRUE(ok) << "method " << m << (hidden ? " hidden" : "") << " at " << hit.x << "," << hit.z
                                        << " has " << (int)p[0] << "," << (int)p[1] << "," << (int)p[2];
                        (inside ? on : off)++;
                    }
                EXPECT_GT(on, 10);
                EXPECT_GT(off, 10);
            }
        }
        terrain_redraw_textures(false);
        if (source == 1) {
            decals_free(&t);
            scenery_draw_shutdown();
        }
        t.decals = nullptr;
        t.decal_count = 0;
    }
}


// "--novertexarrays": the same fans in immediate mode give the same picture.
TEST_F(GroundScene, ImmediateModeDrawsTheSamePicture)
{
    start(GROUND_METHOD_DIRECT);
    std::vector<unsigned char> arrays = draw(k_cameras[2]);
    start(GROUND_METHOD_DIRECT, 1, 0, false);
    std::vector<unsigned char> immediate = draw(k_cameras[2]);
    EXPECT_EQ(holes(immediate), 0);
    EXPECT_LT(mean_difference(arrays, immediate), 1.0);
    size_t ground = 0;
    for (size_t i = 0; i < immediate.size(); i += 3)
        ground += !is_clear(&immediate[i]);
    EXPECT_GT(ground, immediate.size() / 3 / 4);
}


// Ruts recompose only the changed part of a texture (base or clip); the result is the texture
// composed whole from the same ground.
TEST_F(GroundScene, PartlyRecomposedTexturesMatchWholeOnes)
{
    Camera c = { 128, 90, 40, 0, 0.9f };
    terrain_set_lighting(v3(1, 2, 1), v3(1, 1, 1), v3(0.3f, 0.3f, 0.3f));    // slopes shade
    std::vector<float> ground(t.heights, t.heights + (size_t)t.dim * t.dim);
    for (int m : { GROUND_METHOD_DIRECT, GROUND_METHOD_COPY, GROUND_METHOD_SOFTWARE })
      for (int lmin : { 6, 0 }) {     // base textures only, then every clip level
        memcpy(t.heights, ground.data(), ground.size() * sizeof(float));
        terrain_mark_all_reshade(&t);
        start(m, 1, lmin);
        std::vector<unsigned char> before = draw(c, 20);
        for (int z = 100; z < 108; z++)
            for (int x = 120; x < 128; x++)
                terrain_set_height(&t, x, z, t.heights[x + z * t.dim] + 3 * (x - 119) * (z - 99) / 64.0f);
        t.height_changes++;
        terrain_mark_region(118, 98, 128, 108);
        lod_pass_finish();      // the same geometry as a fresh start: only the textures differ
        std::vector<unsigned char> after = draw(c, 20);
        EXPECT_EQ(ground_base_dirty(0, 0), 0);
        EXPECT_EQ(ground_texture_age(), 0);
        start(m, 1, lmin);
        std::vector<unsigned char> whole = draw(c, 20);
        auto changed = [](const std::vector<unsigned char> &a, const std::vector<unsigned char> &b) {
            int n = 0;
            for (size_t i = 0; i < a.size(); i += 3)
                n += abs(a[i] - b[i]) > 8 || abs(a[i + 1] - b[i + 1]) > 8 || abs(a[i + 2] - b[i + 2]) > 8;
            return n;
        };
        EXPECT_GT(changed(before, after), 30) << "method " << m << " lmin " << lmin;
        EXPECT_LE(changed(after, whole), 2) << "method " << m << " lmin " << lmin;
    }
}


// A hill raised far away on flat ground shows its silhouette once the error pass that saw it
// completes, and not before: until then the renderer keeps the old detail.
TEST_F(GroundScene, AHillAppearsWhenTheErrorPassSwaps)
{
    memset(t.heights, 0, (size_t)t.dim * t.dim * sizeof(float));
    t.min_height = 0;
    t.max_height = 26;
    start(GROUND_METHOD_DIRECT);
    Camera c = { 128, 3, 10, 0, 0 };
    auto above_horizon = [](const std::vector<unsigned char> &px) {
        int n = 0;
        for (int y = H / 2 + 3; y < H; y++)
            for (int x = 0; x < W; x++)
                n += !is_clear(&px[(x + y * W) * 3]);
        return n;
    };
    EXPECT_EQ(above_horizon(draw(c, 20)), 0);
    // 150 ft ahead the nodes are 64 cells wide: none of their fan vertices is on the hill.
    for (int z = 170; z <= 175; z++)
        for (int x = 100; x <= 105; x++)
            terrain_set_height(&t, x, z, 25);
    t.height_changes++;
    terrain_mark_region(98, 168, 106, 176);
    int frames = 0;
    while (lod_pass_busy() || frames == 0) {
        std::vector<unsigned char> px = draw(c, 1);
        frames++;
        if (lod_pass_busy()) {
            ASSERT_EQ(above_horizon(px), 0) << "frame " << frames;
        }
        ASSERT_LT(frames, 400);
    }
    EXPECT_GT(frames, 20);
    EXPECT_GT(above_horizon(draw(c, 1)), 50);
}

} // namespace

// Lit per pixel, a decal's own normal map turns the light on it and its specular map adds a
// highlight; a flat normal map ("y" in blue) leaves it as it was.
TEST_F(GroundScene, DecalMapsShowOnTheShaderPath)
{
    if (!gl_caps.fragment_shader || gl_caps.texture_units < 4 || !shaders_build())
        GTEST_SKIP() << "no shader programs on this driver";
    ground_set_dynamic_lighting(true);
    terrain_set_lighting(v3(1, 1, 0), v3(0.6f, 0.6f, 0.6f), v3(0.3f, 0.3f, 0.3f));
    terrain_mark_all_reshade(&t);
    std::string grey = png("grey.png", 8, 8, 150, 150, 150);
    unsigned flat = texture_load(png("flat_tnorm.png", 8, 8, 128, 128, 255).c_str());
    unsigned tilted = texture_load(png("tilted_tnorm.png", 8, 8, 17, 128, 191).c_str());
    unsigned shiny = texture_load(png("shiny_tspec.png", 8, 8, 255, 0, 0).c_str());
    ASSERT_TRUE(flat && tilted && shiny);
    Decal d = decal_make(128, 100, 0, 6, 2);
    d.texture = texture_load(grey.c_str());
    d.image = texture_image(grey.c_str());
    t.decals = &d;
    t.decal_count = 1;
    auto on_decal = [&](unsigned normal, unsigned specular) {
        d.normal_texture = normal;
        d.specular_texture = specular;
        start(GROUND_METHOD_SHADERS_DIRECT);
        EXPECT_TRUE(ground_shader_path());
        Camera c = { 128, 40, 85, 0, 1.2f };
        std::vector<unsigned char> px = draw(c);
        long sum = 0, count = 0;
        for (int y = 0; y < H; y += 3)
            for (int x = 0; x < W; x += 3) {
                Vec3 hit;
                float u, v;
                if (!cast(x, y, &hit))
                    continue;
                decal_coords(&d, hit.x, hit.z, &u, &v);
                if (u > 0.15f && u < 0.85f && v > 0.15f && v < 0.85f) {
                    const unsigned char *p = &px[(x + y * W) * 3];
                    sum += p[0] + p[1] + p[2];
                    count++;
                }
            }
        EXPECT_GT(count, 20);
        return count ? (double)sum / (3 * count) : 0.0;
    };
    double plain = on_decal(0, 0);
    EXPECT_NEAR(on_decal(flat, 0), plain, 6);
    EXPECT_GT(fabs(on_decal(tilted, 0) - plain), 20);
    EXPECT_GT(on_decal(0, shiny), plain + 40);
    t.decals = nullptr;
    t.decal_count = 0;
}
