// The track's lighting: the file as a track maker writes it (clamps, the sun, flares, bad
// numbers), then on Mesa's software OpenGL the sky faces, the fog's fall-off and the lens flare.
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include <GL/gl.h>

#include "../fuzz/lighting_target.h"
#include "gl_fixture.h"
#include "render/gl.h"
#include "render/lighting.h"
#include "render/texture.h"

namespace {

struct Parsed {
    Lighting l = {};
    explicit Parsed(const char *text)
    {
        lighting_reset(&l);
        DataFile *f = open_memory_data_file(text, strlen(text), false);
        lighting_read(&l, f);
        close_data_file(f);
        lighting_finish(&l);
    }
    ~Parsed() { lighting_free(&l); }
};

const float k_diag = 0.57735027f;

TEST(LightingFile, ValuesAreClampedAndTheSunNormalised)
{
    const struct {
        const char *text;
        float near_plane, far_plane, sun[3];
    } cases[] = {
        { "far_plane 2e6\n", 0.25f, 1048576, { k_diag, k_diag, k_diag } },
        { "near_plane 0\n", 0.0009765625f, 5000, { k_diag, k_diag, k_diag } },
        { "near_plane 12\nfar_plane 5\n", 12, 12, { k_diag, k_diag, k_diag } },
        { "near_plane 1e30\n", 1048576, 1048576, { k_diag, k_diag, k_diag } },
        { "sun_vector [ 0 2 0 ]\n", 0.25f, 5000, { 0, 1, 0 } },
        // A sun of no length or not a number keeps the one before.
        { "sun_vector [ 0 0 0 ]\n", 0.25f, 5000, { k_diag, k_diag, k_diag } },
        { "sun_vector [ 3 0 -4 ]\nsun_vector [ 0 0 0 ]\n", 0.25f, 5000, { 0.6f, 0, -0.8f } },
        { "sun_vector [ 3 0 -4 ]\nsun_vector [ nan 1 0 ]\nfar_plane inf\nnear_plane nan\n", 0.25f, 5000, { 0.6f, 0, -0.8f } },
        { " \t sun_vector\t[ 0 0 -7 ]\r\n", 0.25f, 5000, { 0, 0, -1 } },
        { "sun_vector [ 1 2\n", 0.25f, 5000, { k_diag, k_diag, k_diag } },
    };
    for (const auto &c : cases) {
        Parsed p(c.text);
        EXPECT_FLOAT_EQ(p.l.near_plane, c.near_plane) << c.text;
        EXPECT_FLOAT_EQ(p.l.far_plane, c.far_plane) << c.text;
        for (int i = 0; i < 3; i++)
            EXPECT_NEAR(p.l.sun_vector[i], c.sun[i], 1e-6f) << c.text;
    }
}

TEST(LightingFile, ColoursFogAndFacesAsWrittenAndBadNumbersEndTheEntry)
{
    Parsed p("sun_color [ 1 0.9 0.8 ]\nambient [ 0.1 0.2 0.3 ]\nglobal_ambient [ 0.3 0.2 0.1 ]\n"
             "fog [ 0.5 0.6 0.7 ] 0.002\nfog [ 1 1 1 ] nan\nambient [ inf 0 0 ]\n dynamic_lighting\t2\n"
             "sky_e @east.png\nsky_env @shiny.png\n");
    const float want[4][3] = { { 1, 0.9f, 0.8f }, { 0.1f, 0.2f, 0.3f }, { 0.3f, 0.2f, 0.1f }, { 0.5f, 0.6f, 0.7f } };
    const float *got[4] = { p.l.sun_color, p.l.ambient, p.l.global_ambient, p.l.fog_color };
    for (int k = 0; k < 4; k++)
        for (int i = 0; i < 3; i++)
            EXPECT_FLOAT_EQ(got[k][i], want[k][i]) << k;
    EXPECT_FLOAT_EQ(p.l.fog_density, 0.002f);
    EXPECT_EQ(p.l.dynamic_lighting, 2);
    EXPECT_STREQ(p.l.sky[SKY_EAST], "@east.png");
    EXPECT_STREQ(p.l.sky[SKY_NORTH], "@sky-n.ppm");
    EXPECT_STREQ(p.l.sky[SKY_UP], "@sky-u.ppm");
    EXPECT_STREQ(p.l.sky_env, "@shiny.png");
}

TEST(LightingFile, WithoutAFileTheDefaultsHold)
{
    TempHome dirs;
    Lighting l = {};
    EXPECT_FALSE(lighting_read_folder(&l, "tracks/none"));
    for (int i = 0; i < 3; i++) {
        EXPECT_NEAR(l.sun_vector[i], k_diag, 1e-6f);
        EXPECT_FLOAT_EQ(l.sun_color[i], 1);
        EXPECT_FLOAT_EQ(l.ambient[i], 0.5f);
        EXPECT_FLOAT_EQ(l.global_ambient[i], 0.2f);
    }
    EXPECT_EQ(l.fog_density, 0);
    EXPECT_EQ(l.dynamic_lighting, 0);
    EXPECT_FLOAT_EQ(l.near_plane, 0.25f);
    EXPECT_FLOAT_EQ(l.far_plane, 5000);
    EXPECT_STREQ(l.sky[SKY_WEST], "@sky-w.ppm");
    EXPECT_STREQ(l.sky_env, "@sky-env.ppm");
    EXPECT_EQ(l.flare_count, 0);
    lighting_free(&l);
}

std::string g_log;
void keep_log(const char *text) { g_log += text; }

TEST(LightingFile, UnknownKeysAreReportedAndSkipped)
{
    g_log.clear();
    log_set_observer(keep_log);
    Parsed p("sky_x @a.png\n\n   \nambient [ 0.25 0.25 0.25 ]\n");
    log_set_observer(nullptr);
    EXPECT_NE(g_log.find("Error reading lighting: Unknown identifier 'sky_x'\n"), std::string::npos) << g_log;
    EXPECT_EQ(g_log.find("Unknown identifier ''"), std::string::npos) << "blank lines are not keys";
    EXPECT_FLOAT_EQ(p.l.ambient[1], 0.25f);
}

TEST(LightingFile, FlaresKeepEightElementsAndCloseOnlyOnAGoodAnchor)
{
    std::string text;
    for (int i = 0; i < 9; i++)
        text += "flare_element [ " + std::to_string(i) + " 0 ] [ 1 1 1 ] 4 @e.png\n";
    text += "flare_point [ 10 20 30 ]\n"
            // Bad elements are dropped; a bad anchor leaves its elements waiting for the next.
            "flare_element [ nan 0 ] [ 1 1 1 ] 4 @e.png\n"
            "flare_element [ 1 0 ] [ 1 1 1 ] inf @e.png\n"
            "flare_element [ 1 0 ] [ 1 1 1 ] 4\n"
            "flare_element [ 0.5 0.5 ] [ 1 1 1 ] 4 @e.png\n"
            "flare_vector [ 0 nan 1 ]\n"
            "flare_element [ -1 0 ] [ 1 1 1 ] 4 @e.png\n"
            "flare_vector [ 0 1 0 ]\n"
            // Nothing to draw: not kept; nor elements never anchored.
            "flare_point [ 1 1 1 ]\n"
            "flare_element [ 2 0 ] [ 1 1 1 ] 4 @e.png\n";
    Parsed p(text.c_str());
    ASSERT_EQ(p.l.flare_count, 2);
    EXPECT_EQ(lens_flare_elements(&p.l, 0), 8);
    EXPECT_EQ(lens_flare_elements(&p.l, 1), 2);
    EXPECT_EQ(lens_flare_elements(&p.l, 2), 0);
    float at[3];
    bool point = false;
    ASSERT_TRUE(lens_flare_anchor(&p.l, 0, at, &point));
    EXPECT_TRUE(point);
    EXPECT_FLOAT_EQ(at[2], 30);
    ASSERT_TRUE(lens_flare_anchor(&p.l, 1, at, &point));
    EXPECT_FALSE(point);
    EXPECT_FLOAT_EQ(at[1], 1);
}

TEST(LightingFile, FuzzCorpusReadsSafely)
{
    std::string dir = std::string(SK_TEST_DATA_DIR) + "/fuzz-corpus/lighting/";
    int files = 0;
    for (const char *name : { "sample", "broken", "many" }) {
        FILE *f = fopen((dir + name).c_str(), "rb");
        ASSERT_TRUE(f) << name;
        std::vector<uint8_t> bytes(1 << 16);
        size_t n = fread(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        fuzz_lighting(bytes.data(), n);
        files++;
    }
    EXPECT_EQ(files, 3);
}

// ---- drawn ----

const int W = 320, H = 240;

struct LitWorld : GlWorld {
    void SetUp() override
    {
        GlWorld::SetUp();
        if (IsSkipped())
            return;
        gl_probe();
        mkdir((dirs->data + "t").c_str(), 0755);
        lighting_set_lens_flare(true);
    }
    void TearDown() override
    {
        lighting_set_lens_flare(true);
        if (!IsSkipped()) {
            lighting_release();
            textures_delete_all();
            texture_cache_free();
        }
        GlWorld::TearDown();
    }
    void load(const std::string &text)
    {
        FILE *f = fopen((dirs->data + "t/lighting").c_str(), "w");
        ASSERT_TRUE(f);
        fputs(text.c_str(), f);
        fclose(f);
        lighting_load("t");
    }
    // A picture in quarters: top-left, top-right, bottom-left, bottom-right; an optional bright
    // square (columns and rows x0..x1, y0..y1).
    std::string quarters(const char *file, const unsigned char (*rgb)[3], int x0 = -1, int x1 = -1, int y0 = -1, int y1 = -1)
    {
        const int n = 64;
        std::vector<unsigned char> px((size_t)n * n * 3);
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) {
                const unsigned char *c = rgb[(y >= n / 2) * 2 + (x >= n / 2)];
                bool bright = x >= x0 && x <= x1 && y >= y0 && y <= y1;
                for (int i = 0; i < 3; i++)
                    px[((size_t)y * n + x) * 3 + i] = bright ? 250 : c[i];
            }
        EXPECT_TRUE(png_write((dirs->data + file).c_str(), px.data(), n, n));
        return std::string("@") + file;
    }
    // Vertical field of view 60 degrees over the 4:3 window.
    void perspective(float n, float f)
    {
        glViewport(0, 0, W, H);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        float top = n * tanf(30 * (float)M_PI / 180), right = top * W / H;
        glFrustum(-right, right, -top, top, n, f);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    // The camera's rotation: looking along forward with the screen's top towards up.
    void look(const float f[3], const float u[3])
    {
        float s[3] = { f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2], f[0] * u[1] - f[1] * u[0] };
        const float m[16] = { s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0, s[2], u[2], -f[2], 0, 0, 0, 0, 1 };
        glLoadMatrixf(m);
    }
    void pixel(int x, int y, unsigned char out[3])
    {
        unsigned char rgba[4];
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        memcpy(out, rgba, 3);
    }
};

TEST_F(LitWorld, EachSkyFaceShowsInItsDirectionTheRightWayUp)
{
    // Every quarter of every face its own colour.
    unsigned char colours[SKY_FACES][4][3];
    std::string text;
    const char *keys[SKY_FACES] = { "sky_n", "sky_e", "sky_s", "sky_w", "sky_u" };
    for (int face = 0; face < SKY_FACES; face++) {
        for (int q = 0; q < 4; q++) {
            colours[face][q][0] = (unsigned char)(20 + 50 * face);
            colours[face][q][1] = (unsigned char)(30 + 60 * q);
            colours[face][q][2] = (unsigned char)(220 - 40 * face);
        }
        std::string file = std::string(keys[face]) + ".png";
        text += std::string(keys[face]) + " " + quarters(file.c_str(), colours[face]) + "\n";
    }
    load(text);
    // Looking at each face, the screen's top towards up (north for the up face).
    const float views[SKY_FACES][2][3] = {
        { { 0, 0, -1 }, { 0, 1, 0 } }, { { 1, 0, 0 }, { 0, 1, 0 } },  { { 0, 0, 1 }, { 0, 1, 0 } },
        { { -1, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 0 }, { 0, 0, -1 } },
    };
    for (int face = 0; face < SKY_FACES; face++) {
        int w, h;
        ASSERT_TRUE(begin_frame(&w, &h));
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        perspective(0.25f, 100);
        look(views[face][0], views[face][1]);
        glEnable(GL_DEPTH_TEST);
        sky_draw();
        // Window rows count from the bottom: the top quarters are the upper samples.
        const int at[4][2] = { { W / 4, 3 * H / 4 }, { 3 * W / 4, 3 * H / 4 }, { W / 4, H / 4 }, { 3 * W / 4, H / 4 } };
        for (int q = 0; q < 4; q++) {
            unsigned char got[3];
            pixel(at[q][0], at[q][1], got);
            for (int i = 0; i < 3; i++)
                EXPECT_NEAR(got[i], colours[face][q][i], 2) << "face " << face << " quarter " << q;
        }
        glDisable(GL_DEPTH_TEST);
        end_frame();
    }
}

TEST_F(LitWorld, DistantGeometryTendsToTheFogColourExponentially)
{
    const float density = 0.01f;
    load("fog [ 0 0 1 ] 0.01\n");
    for (float z : { 10.0f, 60.0f, 150.0f, 400.0f }) {
        int w, h;
        ASSERT_TRUE(begin_frame(&w, &h));
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        perspective(0.25f, 1000);
        lighting_fog_on();
        glColor3f(1, 0, 0);
        float s = z * 0.05f;
        glBegin(GL_QUADS);
        glVertex3f(-s, -s, -z);
        glVertex3f(s, -s, -z);
        glVertex3f(s, s, -z);
        glVertex3f(-s, s, -z);
        glEnd();
        lighting_fog_off();
        unsigned char got[3];
        pixel(W / 2, H / 2, got);
        float f = expf(-density * z);
        EXPECT_NEAR(got[0], 255 * f, 5) << z;
        EXPECT_NEAR(got[2], 255 * (1 - f), 5) << z;
        end_frame();
    }
}

// The sun in a dark sky up and to the right of the centre; one element mirrored through the
// centre (factors -1, 0) in green, one turned a quarter (0, 1) in blue.
TEST_F(LitWorld, FlareShinesAlongTheLineThroughTheCentreOnlyWhenTheSunIsInView)
{
    const unsigned char dark[4][3] = { { 20, 20, 20 }, { 20, 20, 20 }, { 20, 20, 20 }, { 20, 20, 20 } };
    // (0.3, 0.2, -1) meets the north face at u = 0.65, v = 0.4: texels 41, 25.
    std::string north = quarters("n.png", dark, 36, 46, 20, 30), rest = quarters("d.png", dark);
    std::string white = png("white.png", 8, 8, 255, 255, 255);
    load("sky_n " + north + "\nsky_e " + rest + "\nsky_s " + rest + "\nsky_w " + rest + "\nsky_u " + rest +
         "\nflare_element [ -1 0 ] [ 0 0.5 0 ] 6 " + white + "\nflare_element [ 0 1 ] [ 0 0 0.5 ] 6 " + white +
         "\nflare_vector [ 0.3 0.2 -1 ]\n");
    // Where the sun lands: tan 30 = 0.57735 up, 4/3 of it across.
    float sx = W / 2 * (1 + 0.3f / (0.57735f * 4 / 3)), sy = H / 2 * (1 + 0.2f / 0.57735f);
    float dx = sx - W / 2, dy = sy - H / 2;
    const int mirrored[2] = { (int)(W / 2 - dx), (int)(H / 2 - dy) };
    const int turned[2] = { (int)(W / 2 - dy), (int)(H / 2 + dx) };
    const int turned_wrong_way[2] = { (int)(W / 2 + dy), (int)(H / 2 - dx) };
    enum { NONE, DARK, BRIGHT, SWITCHED_OFF };
    for (int blocker : { NONE, DARK, BRIGHT, SWITCHED_OFF }) {
        int w, h;
        ASSERT_TRUE(begin_frame(&w, &h));
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        perspective(0.25f, 100);
        glEnable(GL_DEPTH_TEST);
        sky_draw();
        if (blocker == DARK || blocker == BRIGHT) {
            // A wall 5 ft ahead over the sun: near, so even a bright one hides it.
            float c = blocker == BRIGHT ? 1.0f : 0.05f;
            glColor3f(c, c, c);
            glBegin(GL_QUADS);
            glVertex3f(0.5f, 0.2f, -5);
            glVertex3f(3, 0.2f, -5);
            glVertex3f(3, 2.5f, -5);
            glVertex3f(0.5f, 2.5f, -5);
            glEnd();
        }
        lighting_set_lens_flare(blocker != SWITCHED_OFF);
        const float eye[3] = { 0, 0, 0 };
        lens_flares_draw(eye);
        glDisable(GL_DEPTH_TEST);
        unsigned char m[3], t[3], wrong[3];
        pixel(mirrored[0], mirrored[1], m);
        pixel(turned[0], turned[1], t);
        pixel(turned_wrong_way[0], turned_wrong_way[1], wrong);
        if (blocker == NONE) {
            EXPECT_NEAR(m[1], 20 + 128, 6);
            EXPECT_NEAR(m[0], 20, 3);
            EXPECT_NEAR(t[2], 20 + 128, 6);
            EXPECT_NEAR(t[1], 20, 3);
            EXPECT_NEAR(wrong[2], 20, 3);
        } else {
            EXPECT_NEAR(m[1], 20, 3) << blocker;
            EXPECT_NEAR(t[2], 20, 3) << blocker;
        }
        end_frame();
    }
}

// A point flare 10 ft ahead of an eye away from the origin lands where its direction would;
// a sun 3.75 px from the right edge (half the 7.5 px fade band) shines at half strength.
TEST_F(LitWorld, PointFlaresFollowTheEyeAndFlaresFadeAtTheScreenEdge)
{
    const unsigned char dark[4][3] = { { 20, 20, 20 }, { 20, 20, 20 }, { 20, 20, 20 }, { 20, 20, 20 } };
    std::string white = png("white.png", 8, 8, 255, 255, 255);
    const float tan_x = 0.57735f * 4 / 3;
    float edge_x = (316.25f / 160 - 1) * tan_x;
    const struct {
        const char *anchor;
        float eye[3];
        float screen_x, screen_y, strength;
        int x0, x1, y0, y1;         // the bright texels of the north face
    } cases[] = {
        { "flare_point [ 103 2 -10 ]", { 100, 0, 0 }, 160 * (1 + 0.3f / tan_x), 120 * (1 + 0.2f / 0.57735f), 1, 36, 46, 20, 30 },
        { nullptr, { 0, 0, 0 }, 316.25f, 120, 0.5f, 52, 60, 28, 36 },
    };
    for (const auto &c : cases) {
        std::string file = "n" + std::to_string(&c - cases) + ".png";
        std::string north = quarters(file.c_str(), dark, c.x0, c.x1, c.y0, c.y1), rest = quarters("d.png", dark);
        char anchor[100];
        snprintf(anchor, sizeof anchor, "flare_vector [ %f 0 -1 ]", edge_x);
        load("sky_n " + north + "\nsky_e " + rest + "\nsky_s " + rest + "\nsky_w " + rest + "\nsky_u " + rest +
             "\nflare_element [ -1 0 ] [ 0 0.5 0 ] 3 " + white + "\n" + (c.anchor ? c.anchor : anchor) + "\n");
        int w, h;
        ASSERT_TRUE(begin_frame(&w, &h));
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        perspective(0.25f, 100);
        glEnable(GL_DEPTH_TEST);
        sky_draw();
        glTranslatef(-c.eye[0], -c.eye[1], -c.eye[2]);
        lens_flares_draw(c.eye);
        glDisable(GL_DEPTH_TEST);
        unsigned char m[3];
        pixel((int)(W - c.screen_x), (int)(H - c.screen_y), m);
        EXPECT_NEAR(m[1], 20 + 128 * c.strength, 8) << (c.anchor ? c.anchor : anchor);
        end_frame();
    }
}

} // namespace
