// The texture cache: mip chains, upload, names, sessions, aliases and animations.
#include <string.h>

#include <vector>

#include "common/mem.h"
#include "gl_fixture.h"
#include "render/gl.h"
#include "render/texture.h"

static void set_px(unsigned char *img, int w, int x, int y, int r, int g, int b, int a)
{
    unsigned char *p = img + (y * w + x) * 4;
    p[0] = (unsigned char)r;
    p[1] = (unsigned char)g;
    p[2] = (unsigned char)b;
    p[3] = (unsigned char)a;
}

// Four 2 x 2 blocks: one opaque red texel among transparent ones; a uniform half-alpha
// block; grey with alphas 0, 50, 100, 200; and a fully transparent block.
static void four_blocks(unsigned char img[64])
{
    set_px(img, 4, 0, 0, 100, 0, 0, 255);
    set_px(img, 4, 1, 0, 0, 100, 0, 0);
    set_px(img, 4, 0, 1, 0, 0, 100, 0);
    set_px(img, 4, 1, 1, 0, 0, 0, 0);
    for (int y = 0; y < 2; y++)
        for (int x = 2; x < 4; x++)
            set_px(img, 4, x, y, 10, 20, 30, 128);
    const int alphas[4] = { 0, 50, 100, 200 };
    const int reds[4] = { 0, 40, 80, 120 };
    for (int i = 0; i < 4; i++) {
        set_px(img, 4, i % 2, 2 + i / 2, 200, 200, 200, alphas[i]);
        set_px(img, 4, 2 + i % 2, 2 + i / 2, reds[i], 0, 0, 0);
    }
}

TEST(MipChain, MaxAlphaKeepsTheStrongestTexel)
{
    unsigned char img[64];
    four_blocks(img);
    MipChain c;
    ASSERT_TRUE(mip_chain_build(img, 4, 4, 4, true, &c));
    ASSERT_EQ(c.levels, 3);
    EXPECT_EQ(c.width[1], 2);
    EXPECT_EQ(c.height[2], 1);
    const unsigned char *l1 = c.pixels[1];
    // Colour weighted by alpha: only the red texel counts in the first block.
    EXPECT_EQ(l1[0], 100);
    EXPECT_EQ(l1[1], 0);
    EXPECT_EQ(l1[3], 255);
    EXPECT_EQ(l1[4], 10);
    EXPECT_EQ(l1[7], 128);
    EXPECT_EQ(l1[8], 200);
    EXPECT_EQ(l1[11], 200);
    EXPECT_EQ(l1[12], 60);          // all transparent: the plain average of 0, 40, 80, 120
    EXPECT_EQ(l1[15], 0);
    // (100*255 + 10*128 + 200*200 + 60*0) / (255 + 128 + 200 + 0) = 114.5 -> 115
    EXPECT_EQ(c.pixels[2][0], 115);
    EXPECT_EQ(c.pixels[2][3], 255);
    mip_chain_free(&c);
}

TEST(MipChain, AverageAlphaWithoutTheKeyword)
{
    unsigned char img[64];
    four_blocks(img);
    MipChain c;
    ASSERT_TRUE(mip_chain_build(img, 4, 4, 4, false, &c));
    EXPECT_EQ(c.pixels[1][3], 64);      // 255 / 4 rounded
    EXPECT_EQ(c.pixels[1][11], 88);     // 350 / 4 rounded
    mip_chain_free(&c);
}

TEST(MipChain, RowsHalveAlone)
{
    const unsigned char rgb[12] = { 10, 20, 30, 30, 40, 50, 100, 100, 100, 200, 200, 200 };
    MipChain c;
    ASSERT_TRUE(mip_chain_build(rgb, 4, 1, 3, false, &c));
    ASSERT_EQ(c.levels, 3);
    EXPECT_EQ(c.width[1], 2);
    EXPECT_EQ(c.height[1], 1);
    EXPECT_EQ(c.pixels[1][0], 20);
    EXPECT_EQ(c.pixels[1][3], 150);
    mip_chain_free(&c);
    EXPECT_FALSE(mip_chain_build(rgb, 0, 0, 3, false, &c));
    EXPECT_FALSE(mip_chain_build(rgb, 100000, 100000, 3, false, &c));
    EXPECT_FALSE(mip_chain_build(rgb, 4, 1, 2, false, &c));
}

struct Textures : GlWorld {
    void SetUp() override
    {
        GlWorld::SetUp();
        if (IsSkipped())
            return;
        gl_probe();
        texture_set_detail(10);
        texture_set_verbosity(1);
        texture_set_compress_always(false);
        texture_begin_session();
    }
    void TearDown() override
    {
        if (!IsSkipped())
            textures_delete_all();
        GlWorld::TearDown();
    }
    static int level_size(unsigned id, int level, GLenum which)
    {
        GLint v = -1;
        glBindTexture(GL_TEXTURE_2D, id);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, which, &v);
        return v;
    }
    static int wrap(unsigned id, GLenum which)
    {
        GLint v = -1;
        glBindTexture(GL_TEXTURE_2D, id);
        glGetTexParameteriv(GL_TEXTURE_2D, which, &v);
        return v;
    }
};

TEST_F(Textures, LoadedTwiceCachedOnceAndReleasedAfterANewerSession)
{
    std::string a = png("a.png", 16, 16), b = png("b.png", 8, 8);
    unsigned first = texture_load(a.c_str());
    ASSERT_NE(first, 0u);
    EXPECT_EQ(texture_load(a.c_str()), first);
    EXPECT_EQ(texture_cache_count(), 1);
    EXPECT_EQ(texture_memory(), 16ul * 16 * 3 + 8 * 8 * 3 + 4 * 4 * 3 + 2 * 2 * 3 + 1 * 3);
    EXPECT_EQ(texture_load("@A.png"), first);
    EXPECT_TRUE(logged("Warning: case mismatch on '@A.png'"));
    // The next session loads only b; once it has loaded, a goes.
    texture_begin_session();
    unsigned second = texture_load(b.c_str());
    ASSERT_NE(second, 0u);
    texture_release_stale(false);
    EXPECT_EQ(texture_cache_count(), 1);
    EXPECT_FALSE(glIsTexture(first));
    EXPECT_TRUE(glIsTexture(second));
    EXPECT_TRUE(logged("deleting tid"));
    EXPECT_TRUE(logged("(@a.png)"));
    // A texture the newer session used again stays.
    texture_begin_session();
    EXPECT_EQ(texture_load(b.c_str()), second);
    texture_release_stale(false);
    EXPECT_TRUE(glIsTexture(second));
}

TEST_F(Textures, CurrentSessionStaysUntilReleasingAll)
{
    std::string a = png("keep.png", 4, 4);
    unsigned id = texture_load(a.c_str());
    ASSERT_NE(id, 0u);
    texture_release_stale(false);
    EXPECT_TRUE(glIsTexture(id));
    texture_release_stale(true);
    EXPECT_FALSE(glIsTexture(id));
    EXPECT_EQ(texture_cache_count(), 0);
}

TEST_F(Textures, NonPowerOfTwoShrinksToPowersOfTwo)
{
    unsigned id = texture_load(png("odd.png", 100, 60).c_str());
    ASSERT_NE(id, 0u);
    EXPECT_EQ(level_size(id, 0, GL_TEXTURE_WIDTH), 64);
    EXPECT_EQ(level_size(id, 0, GL_TEXTURE_HEIGHT), 32);
    EXPECT_TRUE(logged("Warning: Non power of 2 texture '@odd.png'"));
}

TEST_F(Textures, DetailReductionDropsLevelsAbove128)
{
    texture_set_detail(8);
    unsigned big = texture_load(png("big.png", 512, 512).c_str());
    ASSERT_NE(big, 0u);
    EXPECT_EQ(level_size(big, 0, GL_TEXTURE_WIDTH), 128);
    EXPECT_TRUE(logged("@big.png reduced to 256x256 (originally 512x512)"));
    EXPECT_TRUE(logged("@big.png reduced to 128x128 (originally 512x512)"));
    unsigned wide = texture_load(png("wide.png", 256, 64).c_str());
    EXPECT_EQ(level_size(wide, 0, GL_TEXTURE_WIDTH), 256);
    EXPECT_EQ(level_size(wide, 0, GL_TEXTURE_HEIGHT), 64);
    // "!" keeps full detail.
    unsigned full = texture_load(("!" + png("full.png", 512, 256)).c_str());
    EXPECT_EQ(level_size(full, 0, GL_TEXTURE_WIDTH), 512);
}

TEST_F(Textures, WrapModesFromTheName)
{
    unsigned h = texture_load(png("fence-hrepeat.png", 8, 8).c_str());
    EXPECT_EQ(wrap(h, GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(wrap(h, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
    unsigned v = texture_load(png("rope-vrepeat.png", 8, 8).c_str());
    EXPECT_EQ(wrap(v, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(wrap(v, GL_TEXTURE_WRAP_T), GL_REPEAT);
    unsigned both = texture_load(png("sky-repeat.png", 8, 8).c_str());
    EXPECT_EQ(wrap(both, GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(wrap(both, GL_TEXTURE_WRAP_T), GL_REPEAT);
    GLint min = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
    EXPECT_EQ(min, GL_LINEAR_MIPMAP_NEAREST);
}

TEST_F(Textures, CompressionWhenAsked)
{
    texture_set_compress_always(true);
    unsigned id = texture_load(png("packed.png", 64, 64).c_str());
    ASSERT_NE(id, 0u);
    EXPECT_GT(texture_memory(), 0ul);
    GLint format = 0;
    glBindTexture(GL_TEXTURE_2D, id);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    EXPECT_NE(format, GL_RGB8);
}

TEST_F(Textures, LinksAreFollowedAndCyclesStop)
{
    std::string target = png("real.png", 8, 8);
    write_bytes(dirs->data + "alias.png", "LINK @real.png\n");
    unsigned id = texture_load("@alias.png");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(texture_load(target.c_str()), id);
    EXPECT_EQ(texture_load("@alias.png"), id);
    write_bytes(dirs->data + "ping.png", "LINK @pong.png");
    write_bytes(dirs->data + "pong.png", "LINK @ping.png");
    EXPECT_EQ(texture_load("@ping.png"), 0u);
    EXPECT_TRUE(logged("Warning: too many LINK aliases from '@ping.png'"));
}

TEST_F(Textures, LinkChainsUpToTheLimitLoadTheFirstTime)
{
    // Chain n: c<n>_0 -> c<n>_1 -> ... -> c<n>_n, the last a picture; n links in all.
    for (int n = 1; n <= TEXTURE_MAX_LINKS + 1; n++) {
        std::string prefix = "c" + std::to_string(n) + "_";
        for (int i = 0; i < n; i++)
            write_bytes(dirs->data + prefix + std::to_string(i) + ".png", "LINK @" + prefix + std::to_string(i + 1) + ".png\n");
        std::string target = png((prefix + std::to_string(n) + ".png").c_str(), 4, 4);
        std::string first = "@" + prefix + "0.png";
        unsigned id = texture_load(first.c_str());
        if (n > TEXTURE_MAX_LINKS) {
            EXPECT_EQ(id, 0u) << n;
            EXPECT_TRUE(logged(("Warning: too many LINK aliases from '" + first + "'").c_str()));
            continue;
        }
        ASSERT_NE(id, 0u) << n << " links";
        EXPECT_EQ(texture_load(first.c_str()), id) << n;
        EXPECT_EQ(texture_load(target.c_str()), id) << n;
    }
    // A name that links to itself, and a cycle of three.
    write_bytes(dirs->data + "self.png", "LINK @self.png");
    EXPECT_EQ(texture_load("@self.png"), 0u);
    write_bytes(dirs->data + "r0.png", "LINK @r1.png");
    write_bytes(dirs->data + "r1.png", "LINK @r2.png");
    write_bytes(dirs->data + "r2.png", "LINK @r0.png");
    EXPECT_EQ(texture_load("@r1.png"), 0u);
    EXPECT_EQ(texture_load("@r1.png"), 0u);         // known aliases loop the same way
}

TEST_F(Textures, CustomMipChainsJudgeTheirBaseLevel)
{
    // 64 x 96: a 64 x 64 base over its own smaller levels.
    png("custom.png", 64, 96);
    write_bytes(dirs->data + "custom.png.info", "[mip_custom]");
    unsigned id = texture_load("@custom.png");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(level_size(id, 0, GL_TEXTURE_WIDTH), 64);
    EXPECT_EQ(level_size(id, 0, GL_TEXTURE_HEIGHT), 64);
    EXPECT_FALSE(logged("Non power of 2"));
    // A 48 x 48 base is not a power of two: warned, and shrunk to 32 x 32.
    png("custom48.png", 48, 72);
    write_bytes(dirs->data + "custom48.png.info", "[mip_custom]");
    id = texture_load("@custom48.png");
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(logged("Warning: Non power of 2 texture '@custom48.png'"));
    EXPECT_EQ(level_size(id, 0, GL_TEXTURE_WIDTH), 32);
}

TEST_F(Textures, ReducedTexturesHoldTheChainsLowerLevels)
{
    // A 512 x 512 picture of varied texels, reduced two levels: what is uploaded must be exactly
    // levels 2.. of the full chain built from the same pixels.
    const int w = 512, h = 512;
    std::vector<unsigned char> rgb((size_t)w * h * 3);
    for (size_t i = 0; i < rgb.size(); i++)
        rgb[i] = (unsigned char)(i * 7 % 251);
    ASSERT_TRUE(png_write((dirs->data + "varied.png").c_str(), rgb.data(), w, h));
    MipChain full;
    ASSERT_TRUE(mip_chain_build(rgb.data(), w, h, 3, false, &full));
    texture_set_detail(8);
    unsigned id = texture_load("@varied.png");
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(logged("@varied.png reduced to 128x128 (originally 512x512)"));
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int l = 0; l + 2 < full.levels; l++) {
        ASSERT_EQ(level_size(id, l, GL_TEXTURE_WIDTH), full.width[l + 2]) << l;
        ASSERT_EQ(level_size(id, l, GL_TEXTURE_HEIGHT), full.height[l + 2]) << l;
        std::vector<unsigned char> got((size_t)full.width[l + 2] * full.height[l + 2] * 3);
        glGetTexImage(GL_TEXTURE_2D, l, GL_RGB, GL_UNSIGNED_BYTE, got.data());
        EXPECT_EQ(memcmp(got.data(), full.pixels[l + 2], got.size()), 0) << "level " << l;
    }
    mip_chain_free(&full);
}

TEST_F(Textures, MissingAndBrokenFilesGiveNoTexture)
{
    EXPECT_EQ(texture_load("@nothing.png"), 0u);
    EXPECT_TRUE(logged("Can't open texture \"@nothing.png\""));
    write_bytes(dirs->data + "junk.png", "not a picture at all");
    EXPECT_EQ(texture_load("@junk.png"), 0u);
    EXPECT_EQ(texture_load(""), 0u);
    EXPECT_EQ(texture_load("!"), 0u);
    // Pictures made in code with impossible sizes are refused with a message.
    Image img = {};
    unsigned char px[4] = {};
    img.pixels = px;
    img.channels = img.pixel_bytes = 4;
    EXPECT_EQ(texture_from_image(&img, "empty", 0), 0u);
    img.width = img.height = 100000;
    EXPECT_EQ(texture_from_image(&img, "huge", 0), 0u);
    EXPECT_TRUE(logged("Warning: unusable picture for 'huge'"));
}

TEST_F(Textures, SequenceWithZeroDurationStepsEveryMillisecond)
{
    png("f0.png", 4, 4, 255, 0, 0);
    png("f1.png", 4, 4, 0, 255, 0);
    write_bytes(dirs->data + "blink.seq", "ANIM1 3 2 0 1\n0 1 1\nPNG\n@f0.png\nPNG\n@f1.png\n");
    unsigned id = texture_load("@blink.seq");
    ASSERT_NE(id, 0u) << g_gl_log;
    EXPECT_EQ(texture_anim_frame(id), 0);
    texture_anim_start(id, 10.0);
    texture_animate(10.0015);       // step 1 of 1 ms steps
    EXPECT_EQ(texture_anim_frame(id), 1);
    unsigned char px[4 * 4 * 3];
    glBindTexture(GL_TEXTURE_2D, id);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, px);
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 255);
    texture_animate(10.0031);       // step 3 loops to step 0
    EXPECT_EQ(texture_anim_frame(id), 0);
    texture_anim_stop(id);
    texture_animate(10.0015);
    EXPECT_EQ(texture_anim_frame(id), 0);
}
