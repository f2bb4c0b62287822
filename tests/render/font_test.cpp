// Font layout from marker pixels, and the text rules through text_width and the quads.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/mem.h"
#include "gl_fixture.h"
#include "render/font.h"

#include <GL/gl.h>

// An RGBA picture with separators at the given columns of the first row and rows of the
// first column; the marker is magenta.
static Image marked(int w, int h, std::vector<int> cols, std::vector<int> rows)
{
    Image img = {};
    img.width = w;
    img.height = h;
    img.channels = img.pixel_bytes = 4;
    img.pixels = (unsigned char *)xcalloc((size_t)w * h, 4);
    const unsigned char marker[4] = { 255, 0, 255, 255 };
    cols.push_back(0);
    for (int x : cols)
        memcpy(img.pixels + x * 4, marker, 4);
    for (int y : rows)
        memcpy(img.pixels + (size_t)y * w * 4, marker, 4);
    return img;
}

TEST(FontLayout, CellsBetweenMarkers)
{
    // Columns at 0 and 4: cells 1..3 and 5..9. One row: the whole height of 6.
    Image img = marked(10, 6, { 4 }, {});
    Font f;
    ASSERT_TRUE(font_layout(&f, &img, "AB-", "test"));
    EXPECT_FLOAT_EQ(f.glyph[(int)'A'].left, 0.1f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'A'].right, 0.4f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'A'].top, 0);
    EXPECT_FLOAT_EQ(f.glyph[(int)'A'].bottom, 1);
    EXPECT_FLOAT_EQ(f.glyph[(int)'A'].aspect, 0.5f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'B'].aspect, 5 / 6.0f);
    // "-" found no cell: the default aspect, which the space takes too.
    EXPECT_FLOAT_EQ(f.glyph[(int)'-'].aspect, FONT_DEFAULT_ASPECT);
    EXPECT_FLOAT_EQ(f.glyph[(int)' '].aspect, FONT_DEFAULT_ASPECT);
    // Markers become transparent white.
    const unsigned char clear[4] = { 255, 255, 255, 0 };
    EXPECT_EQ(memcmp(img.pixels, clear, 4), 0);
    EXPECT_EQ(memcmp(img.pixels + 4 * 4, clear, 4), 0);
    image_free(&img);
}

TEST(FontLayout, RowsLeftToRightThenDown)
{
    // 2 columns (1..4, 6..7) and rows 1..3 and 5..7 between markers at 0, 4 and 8.
    Image img = marked(8, 9, { 5 }, { 4, 8 });
    Font f;
    ASSERT_TRUE(font_layout(&f, &img, "abcd-", "test"));
    EXPECT_FLOAT_EQ(f.glyph[(int)'b'].left, 6 / 8.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'c'].top, 5 / 9.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'c'].bottom, 8 / 9.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'c'].aspect, 4 / 3.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'d'].aspect, 2 / 3.0f);
    // The fifth cell lies below the last row marker, down to the bottom edge (row 8 only).
    EXPECT_FLOAT_EQ(f.glyph[(int)'-'].aspect, FONT_DEFAULT_ASPECT);
    image_free(&img);
}

TEST(FontLayout, NoMarkersIsRefused)
{
    Image img = marked(10, 6, {}, {});
    Font f;
    g_gl_log.clear();
    log_set_observer(gl_log_observer);
    EXPECT_FALSE(font_layout(&f, &img, "AB", "@plain.png"));
    log_set_observer(nullptr);
    EXPECT_NE(g_gl_log.find("Warning: no glyph markers in font '@plain.png'"), std::string::npos);
    EXPECT_EQ(f.texture, 0u);
    image_free(&img);
}

// A font with a = 0.5, b = 0.25, "-" (and so space) = 0.5 wide, laid out in code.
struct Text : ::testing::Test {
    Font saved;
    void SetUp() override
    {
        saved = *font_get(FONT_MAIN);
        Font f;
        memset(&f, 0, sizeof f);
        for (int c = 0; c < 256; c++)
            f.glyph[c].aspect = FONT_DEFAULT_ASPECT;
        f.glyph[(int)'a'] = { 0.1f, 0.2f, 0.3f, 0.4f, 0.5f };
        f.glyph[(int)'b'] = { 0.5f, 0.2f, 0.6f, 0.4f, 0.25f };
        f.glyph[(int)'-'].aspect = 0.5f;
        f.glyph[(int)' '].aspect = 0.5f;
        font_set_main(&f);
    }
    void TearDown() override { font_set_main(&saved); }
    static const TextQuad *quads(int expected)
    {
        int n = -1;
        const TextQuad *q = text_quads(&n);
        EXPECT_EQ(n, expected);
        return n == expected ? q : nullptr;
    }
};

TEST_F(Text, BoldRedEscapeThenReset)
{
    text_draw(0.5f, 0.5f, 0.5f, 0.8f, "a\x1b[1;31mab\x1b[0mb");
    const TextQuad *q = quads(4);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].r, 0.5f);
    EXPECT_FLOAT_EQ(q[1].r, 1);
    EXPECT_FLOAT_EQ(q[1].g, 0);
    EXPECT_FLOAT_EQ(q[2].r, 1);
    EXPECT_FLOAT_EQ(q[2].b, 0);
    EXPECT_FLOAT_EQ(q[2].a, 0.8f);
    EXPECT_FLOAT_EQ(q[3].r, 0.5f);
    EXPECT_FLOAT_EQ(q[3].g, 0.5f);
    // Escapes take no room: a a b b = 0.5 + 0.5 + 0.25 + 0.25.
    EXPECT_FLOAT_EQ(q[3].x, 1.25f);
    EXPECT_FLOAT_EQ(text_width("a\x1b[1;31mab\x1b[0mb"), 1.5f);
}

TEST_F(Text, PaletteBoldAndGivenColourBold)
{
    text_draw(0.9f, 0.5f, 0, 1, "\x1b[32ma\x1b[1ma\x1b[22ma\x1b[0m\x1b[1ma\x1b[44ma");
    const TextQuad *q = quads(5);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].g, 0.75f);         // green at 0.75
    EXPECT_FLOAT_EQ(q[1].g, 1);             // bright green
    EXPECT_FLOAT_EQ(q[2].g, 0.75f);
    EXPECT_FLOAT_EQ(q[3].r, 1);             // 0.9 + 0.25 capped
    EXPECT_FLOAT_EQ(q[3].g, 0.75f);
    EXPECT_FLOAT_EQ(q[3].b, 0.25f);
    EXPECT_FLOAT_EQ(q[4].g, 0.75f);         // a background code leaves the letters alone
}

TEST_F(Text, TabAtThreeSpacesGoesToEight)
{
    // "aaa" is 1.5 = 3 spaces of 0.5; the tab stops at 8 spaces = 4.0.
    EXPECT_FLOAT_EQ(text_width("aaa\t"), 4.0f);
    text_draw_white("aaa\tb");
    const TextQuad *q = quads(4);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[3].x, 4.0f);
    EXPECT_FLOAT_EQ(text_width("\t"), 4.0f);
    EXPECT_FLOAT_EQ(text_width("\t\t"), 8.0f);
    EXPECT_FLOAT_EQ(text_width("a b"), 1.25f);
}

TEST_F(Text, LineFeedGoesOneUnitDownToTheStart)
{
    text_draw_white("ab\nb");
    const TextQuad *q = quads(3);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].y, 0);
    EXPECT_FLOAT_EQ(q[2].x, 0);
    EXPECT_FLOAT_EQ(q[2].y, -1);
    EXPECT_FLOAT_EQ(q[2].height, 1);
    EXPECT_FLOAT_EQ(text_width("ab\nb"), 0.75f);
    EXPECT_FLOAT_EQ(text_width("aaaa\rb"), 2.0f);   // the widest line, before the return
}

TEST_F(Text, UnknownCharacterAdvancesTheDefault)
{
    text_draw_white("~a");
    const TextQuad *q = quads(2);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].width, 0.6666667f);
    EXPECT_FLOAT_EQ(q[0].right - q[0].left, 0);     // nothing of the picture shows
    EXPECT_FLOAT_EQ(q[1].x, 0.6666667f);
    EXPECT_FLOAT_EQ(q[1].left, 0.1f);
    EXPECT_FLOAT_EQ(q[1].bottom, 0.4f);
}

TEST_F(Text, ShadowComesFirstInBlackAtHalfAlpha)
{
    text_draw_shadowed(1, 1, 0, 0.8f, "\x1b[31ma");
    const TextQuad *q = quads(2);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].x, 0.0625f);
    EXPECT_FLOAT_EQ(q[0].y, -0.0625f);
    EXPECT_FLOAT_EQ(q[0].r, 0);
    EXPECT_FLOAT_EQ(q[0].a, 0.4f);
    EXPECT_FLOAT_EQ(q[1].r, 0.75f);
    text_draw_right(1, 1, 1, 1, 3, "ab");
    q = quads(4);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[2].x, 2.25f);
    text_draw_centred(1, 1, 1, 1, 0, 2, "ab");
    q = quads(2);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].x, 0.625f);
    text_draw_white("");
    quads(0);
}

TEST_F(Text, EscapesThatNeverEndOrRunLong)
{
    // 70 numbers: those past the 64th are ignored, so the 31 at the end does nothing.
    std::string seq = "\x1b[";
    for (int i = 0; i < 69; i++)
        seq += "0;";
    seq += "31ma";
    text_draw(0.5f, 0.5f, 0.5f, 1, seq.c_str());
    const TextQuad *q = quads(1);
    ASSERT_NE(q, nullptr);
    EXPECT_FLOAT_EQ(q[0].r, 0.5f);
    // ESC and a character outside "[" skip to the next final character.
    text_draw_white("\x1b(Ba\x1b");
    quads(1);
    text_draw_white("a\x1b[31");
    quads(1);
    EXPECT_FLOAT_EQ(text_width("\x1b[99999999999999999999m"), 0);
    EXPECT_FLOAT_EQ(text_width(nullptr), 0);
}

// The generator's main font lays out the printable characters.
TEST(FontFile, GeneratedFontHasEveryGlyph)
{
    TempHome t;
    setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
    vfs_reset_for_tests();
    Image img;
    ASSERT_TRUE(image_read("@font.png", &img));
    ASSERT_EQ(img.channels, 4);
    Font f;
    ASSERT_TRUE(font_layout(&f, &img, FONT_MAIN_GLYPHS, "@font.png"));
    EXPECT_FLOAT_EQ(f.glyph[(int)'!'].aspect, 32 / 48.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'~'].aspect, 32 / 48.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'~'].left, 1 / 1024.0f);      // glyph 93: column 0 of row 3
    EXPECT_FLOAT_EQ(f.glyph[(int)'~'].top, (3 * 49 + 1) / 256.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)' '].aspect, f.glyph[(int)'-'].aspect);
    image_free(&img);
    ASSERT_TRUE(image_read("@numbers.png", &img));
    ASSERT_TRUE(font_layout(&f, &img, FONT_DIGITS, "@numbers.png"));
    EXPECT_FLOAT_EQ(f.glyph[(int)'9'].aspect, 92 / 128.0f);
    EXPECT_FLOAT_EQ(f.glyph[(int)'0'].top, 0);
    image_free(&img);
}

struct Fonts : GlWorld {};

TEST_F(Fonts, MissingAndMarkerlessFontsAreLoggedAndTextStillMeasures)
{
    Font f;
    EXPECT_FALSE(font_load(&f, "@font.png", FONT_MAIN_GLYPHS));
    EXPECT_TRUE(logged("Can't open font '@font.png'"));
    std::vector<unsigned char> px(16 * 8 * 3, 90);
    px[0] = 200;            // a marker colour that appears nowhere else
    ASSERT_TRUE(png_write((dirs->data + "font.png").c_str(), px.data(), 16, 8));
    EXPECT_FALSE(font_load(&f, "@font.png", FONT_MAIN_GLYPHS));
    EXPECT_TRUE(logged("Warning: no glyph markers in font '@font.png'"));
    EXPECT_EQ(f.texture, 0u);
    std::fill(px.begin(), px.end(), 90);    // all marker: no cell is wider than nothing
    ASSERT_TRUE(png_write((dirs->data + "font.png").c_str(), px.data(), 16, 8));
    g_gl_log.clear();
    EXPECT_FALSE(font_load(&f, "@font.png", FONT_MAIN_GLYPHS));
    EXPECT_TRUE(logged("Warning: no glyph markers in font '@font.png'"));
    fonts_load();
    EXPECT_EQ(font_get(FONT_MAIN)->texture, 0u);
    text_draw_white("still fine");
    EXPECT_GT(text_width("still fine"), 0);
    fonts_free();
}

TEST_F(Fonts, GeneratedFontsUpload)
{
    setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
    vfs_reset_for_tests();
    fonts_load();
    for (int i = 0; i < FONT_COUNT; i++)
        EXPECT_NE(font_get(i)->texture, 0u) << i;
    EXPECT_TRUE(glIsTexture(font_get(FONT_MAIN)->texture));
    fonts_free();
}
