#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "../../vfs/temp_home.h"
#include "common/mem.h"
#include "platform/log.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

// Sends the log to a file of the test's own directory.
struct LogCapture {
    std::string path;
    explicit LogCapture(const TempHome &t) : path(t.root + "/log.txt")
    {
        setenv("TOVA_LOGFILE", path.c_str(), 1);
        log_reset_for_tests();
    }
    ~LogCapture()
    {
        unsetenv("TOVA_LOGFILE");
        log_reset_for_tests();
    }
    bool has(const char *text) const { return read_bytes(path).find(text) != std::string::npos; }
};

static bool decode(const std::string &bytes, ImageFile *out)
{
    return image_decode_memory((const unsigned char *)bytes.data(), bytes.size(), "test", out);
}

static std::string bytes_of(std::initializer_list<int> v)
{
    std::string s;
    for (int b : v)
        s += (char)b;
    return s;
}

// --- J6 / J7 ---

TEST(Jpred, OnePixelJ7IsItsOwnFourBytes)
{
    ImageFile f;
    ASSERT_TRUE(decode("J7 1 1\n" + bytes_of({ 12, 34, 56, 78 }), &f));
    ASSERT_EQ(f.kind, IMAGE_PICTURE);
    EXPECT_EQ(f.image.width, 1);
    EXPECT_EQ(f.image.channels, 4);
    EXPECT_EQ(std::string((char *)f.image.pixels, 4), bytes_of({ 12, 34, 56, 78 }));
    image_file_free(&f);
}

TEST(Jpred, J6PredictsFromLeftUpAndCorner)
{
    // Deltas: (10,20,30) first; (5,5,5) left-predicted; (1,2,3) up-predicted; the last pixel's
    // prediction is left + up - corner = (11+15-10, 22+25-20, 33+35-30) = (16,27,38), and its
    // delta (250,0,1) wraps to (10,27,39).
    std::string data = "J6\n# comment\n2 2\n" + bytes_of({ 10, 20, 30, 5, 5, 5, 1, 2, 3, 250, 0, 1 });
    ImageFile f;
    ASSERT_TRUE(decode(data, &f));
    EXPECT_EQ(f.image.channels, 3);
    EXPECT_EQ(f.image.pixel_bytes, 4);
    std::string want = bytes_of({ 10, 20, 30, 0, 15, 25, 35, 0, 11, 22, 33, 0, 10, 27, 39, 0 });
    EXPECT_EQ(std::string((char *)f.image.pixels, 16), want);      // alpha is the prediction: 0
    image_file_free(&f);
}

TEST(Jpred, PredictionClampsToTheByteRange)
{
    // Every channel alike. Low: 100; 100+156 wraps to 0 twice; corner 100 predicts clamp(-100)=0.
    std::string low = "J7 2 2 ";
    for (int d : { 100, 156, 156, 7 })
        low += std::string(4, (char)d);
    ImageFile f;
    ASSERT_TRUE(decode(low, &f));
    EXPECT_EQ(f.image.pixels[12], 7);
    image_file_free(&f);
    // High: 0, 200, 200; the last predicts clamp(400) = 255, plus 3 wraps to 2.
    std::string high = "J7 2 2 ";
    for (int d : { 0, 200, 200, 3 })
        high += std::string(4, (char)d);
    ASSERT_TRUE(decode(high, &f));
    EXPECT_EQ(f.image.pixels[12], 2);
    image_file_free(&f);
}

TEST(Jpred, TruncatedOrOversizedFails)
{
    TempHome t;
    LogCapture log(t);
    ImageFile f;
    EXPECT_FALSE(decode("J7 2 2\n" + std::string(15, 'x'), &f));
    EXPECT_FALSE(decode("J6 16385 1\n" + std::string(3 * 16385, 'x'), &f));
    EXPECT_FALSE(decode("J6 0 1\n", &f));
    EXPECT_FALSE(decode("J6 99999999999999999999 99999999999999999999\n", &f));
    EXPECT_FALSE(decode("J6 1", &f));
    EXPECT_EQ(f.kind, IMAGE_NONE);
    EXPECT_EQ(f.image.pixels, nullptr);
    EXPECT_TRUE(log.has("Can't get PPM dimensions"));
}

// --- the pixel budget ---

// A picture of w x h in each format; the PNG comes through the writer.
static std::string picture(const TempHome &t, const char *format, int w, int h)
{
    size_t n = (size_t)w * h;
    std::string size = std::to_string(w) + " " + std::to_string(h);
    if (strcmp(format, "J6") == 0)
        return "J6 " + size + "\n" + std::string(n * 3, 'a');
    if (strcmp(format, "J7") == 0)
        return "J7 " + size + "\n" + std::string(n * 4, 'a');
    if (strcmp(format, "P6") == 0)
        return "P6 " + size + " 255\n" + std::string(n * 3, 'a');
    if (strcmp(format, "P3") == 0) {
        std::string text = "P3 " + size + " 255\n";
        for (size_t i = 0; i < n * 3; i++)
            text += "7 ";
        return text;
    }
    std::vector<unsigned char> rgb(n * 3, 9);
    std::string path = t.root + "/budget.png";
    EXPECT_TRUE(png_write(path.c_str(), rgb.data(), w, h));
    return read_bytes(path);
}

TEST(PixelBudget, PicturesOverItAreRefusedInEveryFormat)
{
    TempHome t;
    LogCapture log(t);
    image_set_pixel_budget(64 * 32);
    for (const char *format : { "J6", "J7", "P6", "P3", "PNG" }) {
        ImageFile f;
        EXPECT_TRUE(decode(picture(t, format, 64, 32), &f)) << format;
        image_file_free(&f);
        EXPECT_TRUE(decode(picture(t, format, 32, 64), &f)) << format;
        image_file_free(&f);
        EXPECT_FALSE(decode(picture(t, format, 65, 32), &f)) << format;
        EXPECT_FALSE(decode(picture(t, format, 1, 64 * 32 + 1), &f)) << format;
    }
    EXPECT_TRUE(log.has("Can't load test: 65x32 is too large a picture (at most 2048 pixels)"));
    // Sequence frames are pictures too.
    ImageFile f;
    EXPECT_FALSE(decode("ANIM1 1 1 10 0\n0\n" + picture(t, "J7", 65, 32), &f));
    EXPECT_TRUE(decode("ANIM1 1 1 10 0\n0\n" + picture(t, "J7", 64, 32), &f));
    image_file_free(&f);
    // The terrain's images are held to the side limit alone.
    std::string shading = picture(t, "P6", 65, 32);
    int w, h;
    unsigned char *px = pnm_decode_memory((const unsigned char *)shading.data(), shading.size(), false, &w, &h);
    EXPECT_NE(px, nullptr);
    xfree(px);
    image_set_pixel_budget(0);
    EXPECT_EQ(image_pixel_budget(), (long long)IMAGE_MAX_PIXELS);
    image_set_pixel_budget(1LL << 40);
    EXPECT_EQ(image_pixel_budget(), (long long)IMAGE_MAX_PIXELS);
    EXPECT_TRUE(decode(picture(t, "J6", 65, 32), &f));
    image_file_free(&f);
}

// --- PPM / PGM ---

TEST(Ppm, BinaryAndTextWithComments)
{
    ImageFile f;
    ASSERT_TRUE(decode("P6\n# made by hand\n2 # width\n1\n255\n" + bytes_of({ 1, 2, 3, 250, 251, 252 }), &f));
    EXPECT_EQ(f.image.channels, 3);
    EXPECT_EQ(std::string((char *)f.image.pixels, 6), bytes_of({ 1, 2, 3, 250, 251, 252 }));
    image_file_free(&f);
    ASSERT_TRUE(decode("P3 1 2 255\n 9 8 7\n# between\n 0 255 128\n", &f));
    EXPECT_EQ(std::string((char *)f.image.pixels, 6), bytes_of({ 9, 8, 7, 0, 255, 128 }));
    image_file_free(&f);
}

TEST(Ppm, MaxvalScalesWithIntegerDivision)
{
    // v * 255 / 1023: 1023 -> 255, 512 -> 127, 5 -> 1, 4 -> 0; 2000 is clamped to 1023 first.
    ImageFile f;
    ASSERT_TRUE(decode("P3 2 1 1023\n1023 512 5 4 2000 0\n", &f));
    EXPECT_EQ(std::string((char *)f.image.pixels, 6), bytes_of({ 255, 127, 1, 0, 255, 0 }));
    image_file_free(&f);
    // Binary samples above 255 take two bytes, most significant first.
    ASSERT_TRUE(decode("P6 1 1 1023\n" + bytes_of({ 3, 255, 2, 0, 0, 5 }), &f));
    EXPECT_EQ(std::string((char *)f.image.pixels, 3), bytes_of({ 255, 127, 1 }));
    image_file_free(&f);
    // maxval 15: 7 -> 7 * 255 / 15 = 119; 200 is clamped to 15.
    ASSERT_TRUE(decode("P6 1 1 15\n" + bytes_of({ 15, 7, 200 }), &f));
    EXPECT_EQ(std::string((char *)f.image.pixels, 3), bytes_of({ 255, 119, 255 }));
    image_file_free(&f);
}

TEST(Ppm, BadHeadersAndShortDataFail)
{
    TempHome t;
    LogCapture log(t);
    ImageFile f;
    EXPECT_FALSE(decode("P6 1 1 0\n" + bytes_of({ 1, 2, 3 }), &f));         // maxval 0
    EXPECT_FALSE(decode("P6 1 1 65536\n" + bytes_of({ 1, 2, 3, 4, 5, 6 }), &f));
    EXPECT_FALSE(decode("P6 0 1 255\n", &f));
    EXPECT_FALSE(decode("P6 16385 1 255\n" + std::string(3 * 16385, 'x'), &f));
    EXPECT_FALSE(decode("P6 16384 16384 255\n" + std::string(100, 'x'), &f));   // no huge allocation
    EXPECT_FALSE(decode("P6 2 1 255\n" + bytes_of({ 1, 2, 3, 4, 5 }), &f));
    EXPECT_FALSE(decode("P3 2 1 255\n1 2 3 4 5", &f));
    EXPECT_FALSE(decode("P6 2 1 255", &f));
    EXPECT_TRUE(log.has("Can't get PPM dimensions"));
}

TEST(Pgm, BinaryAndTextGrey)
{
    int w = 0, h = 0;
    std::string bin = "P5 3 1 255\n" + bytes_of({ 0, 128, 255 });
    unsigned char *px = pnm_decode_memory((const unsigned char *)bin.data(), bin.size(), true, &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(std::string((char *)px, 3), bytes_of({ 0, 128, 255 }));
    xfree(px);
    std::string text = "P2\n#c\n2 1\n3\n3 1\n";       // maxval 3: 3 -> 255, 1 -> 85
    px = pnm_decode_memory((const unsigned char *)text.data(), text.size(), true, &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(std::string((char *)px, 2), bytes_of({ 255, 85 }));
    xfree(px);
}

TEST(Pgm, ReadersOverDataFiles)
{
    TempHome t;
    LogCapture log(t);
    write_bytes(t.data + "tracks/a/shadows.pgm", "P5 2 2 255\n" + bytes_of({ 1, 2, 3, 4 }));
    write_bytes(t.data + "tracks/a/shading.ppm", "P6 1 1 255\n" + bytes_of({ 7, 8, 9 }));
    int w, h;
    DataFile *f = open_data_file("@tracks/a/shadows.pgm", "rb");
    unsigned char *px = pgm_read(f, &w, &h);
    close_data_file(f);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(std::string((char *)px, 4), bytes_of({ 1, 2, 3, 4 }));
    xfree(px);
    f = open_data_file("@tracks/a/shading.ppm", "rb");
    px = ppm_read(f, &w, &h);
    close_data_file(f);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(std::string((char *)px, 3), bytes_of({ 7, 8, 9 }));
    xfree(px);
    write_bytes(t.data + "bad.pgm", "P5 x");
    f = open_data_file("@bad.pgm", "rb");
    EXPECT_EQ(pgm_read(f, &w, &h), nullptr);
    close_data_file(f);
    EXPECT_TRUE(log.has("Can't get PGM dimensions"));
}

// --- info text and keywords ---

TEST(ImageInfo, SidecarBesideAPlainPpm)
{
    TempHome t;
    write_bytes(t.data + "tex.ppm", "P6 1 1 255\n" + bytes_of({ 1, 2, 3 }));
    write_bytes(t.data + "tex.ppm.info", "made for the sky\n[compress] [mip_max_alpha]\n");
    DataFile *f = open_data_file("@tex.ppm", "rb");
    ImageFile img;
    ASSERT_TRUE(image_decode(f, "@tex.ppm", &img));
    close_data_file(f);
    ASSERT_NE(img.image.info, nullptr);
    EXPECT_STREQ(img.image.info, "made for the sky\n[compress] [mip_max_alpha]\n");
    EXPECT_TRUE(img.image.compress);
    EXPECT_TRUE(img.image.mip_max_alpha);
    EXPECT_EQ(img.image.mip_levels, 0);
    image_file_free(&img);
}

static Image blank(int w, int h, const char *info)
{
    Image img = {};
    img.width = w;
    img.height = h;
    img.channels = img.pixel_bytes = 4;
    img.pixels = (unsigned char *)xcalloc((size_t)w * h, 4);
    img.info = xstrdup(info);
    return img;
}

TEST(ImageInfo, CustomMipLevelsAreLaidOutInTheBottomThird)
{
    // 8 x 12: base 8x8; level 1 (4x4) fills the third's height at (0,8); level 2 (2x2) starts a
    // new column at (4,8); level 3 (1x1) goes below it at (4,10).
    Image img = blank(8, 12, "[mip_custom]");
    image_apply_info(&img, "tex");
    ASSERT_EQ(img.mip_levels, 4);
    const MipRect want[] = { { 0, 0, 8, 8 }, { 0, 8, 4, 4 }, { 4, 8, 2, 2 }, { 4, 10, 1, 1 } };
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(img.mip_rects[i].x, want[i].x) << i;
        EXPECT_EQ(img.mip_rects[i].y, want[i].y) << i;
        EXPECT_EQ(img.mip_rects[i].width, want[i].width) << i;
        EXPECT_EQ(img.mip_rects[i].height, want[i].height) << i;
    }
    image_free(&img);
    // A non-square base: 4 x 3 has base 4x2, then 2x1 at (0,2) and 1x1 beside it at (2,2).
    img = blank(4, 3, "x [mip_custom] y");
    image_apply_info(&img, "tex");
    ASSERT_EQ(img.mip_levels, 3);
    EXPECT_EQ(img.mip_rects[2].x, 2);
    EXPECT_EQ(img.mip_rects[2].y, 2);
    image_free(&img);
}

TEST(ImageInfo, InvalidCustomMipLayoutWarnsAndKeepsTheImage)
{
    TempHome t;
    LogCapture log(t);
    Image img = blank(8, 10, "[mip_custom]");
    image_apply_info(&img, "odd.png");
    EXPECT_EQ(img.mip_levels, 0);
    EXPECT_TRUE(log.has("Warning: Invalid height for custom MIP map in 'odd.png'"));
    image_free(&img);
    // 1 x 6: levels 1x2 then 1x1 would need a second column past the right edge.
    img = blank(1, 6, "[mip_custom]");
    image_apply_info(&img, "thin.png");
    EXPECT_EQ(img.mip_levels, 0);
    EXPECT_NE(img.pixels, nullptr);
    image_free(&img);
}

// --- sequences and aliases ---

static std::string j7(int w, int h, int value)
{
    return "J7 " + std::to_string(w) + " " + std::to_string(h) + "\n" + std::string((size_t)w * h * 4, (char)value);
}

TEST(Sequence, InlineFramesAndTable)
{
    std::string seq = "ANIM1\n3 2 5 1\n0 1 1\n" + j7(1, 1, 9) + "\n" + j7(1, 1, 4);
    ImageFile f;
    ASSERT_TRUE(decode(seq, &f));
    ASSERT_EQ(f.kind, IMAGE_SEQUENCE);
    EXPECT_EQ(f.sequence.length, 3);
    EXPECT_EQ(f.sequence.frame_count, 2);
    EXPECT_EQ(f.sequence.step_duration, 5);
    EXPECT_EQ(f.sequence.loop, 1);
    EXPECT_EQ(f.sequence.steps[1], 1);
    EXPECT_EQ(f.sequence.frames[0].pixels[0], 9);
    // A 1x1 frame predicts 0, so its bytes are its pixel.
    EXPECT_EQ(f.sequence.frames[1].pixels[3], 4);
    image_file_free(&f);
}

TEST(Sequence, MismatchedFramesFail)
{
    TempHome t;
    LogCapture log(t);
    ImageFile f;
    EXPECT_FALSE(decode("ANIM1 1 2 5 0 0 " + j7(1, 1, 1) + " " + j7(2, 1, 1), &f));
    EXPECT_TRUE(log.has("Width/height mismatch reading .seq"));
    EXPECT_FALSE(decode("ANIM1 1 2 5 0 0 " + j7(1, 1, 1) + " J6 1 1\n" + bytes_of({ 1, 2, 3 }), &f));
    EXPECT_TRUE(log.has("Depth mismatch reading .seq"));
    EXPECT_FALSE(decode("ANIM1 2 1 5 0 0", &f));
    EXPECT_TRUE(log.has("EOF while reading .seq"));
    EXPECT_FALSE(decode("ANIM1 1 2 5 0 0 " + j7(1, 1, 1) + " J7 1 1\n", &f));
    EXPECT_TRUE(log.has("Error reading .seq frame 1"));
    EXPECT_EQ(f.kind, IMAGE_NONE);
}

TEST(Sequence, HeaderBoundsAreEnforced)
{
    ImageFile f;
    std::string frame = " " + j7(1, 1, 1);
    EXPECT_FALSE(decode("ANIM1 0 1 5 0" + frame, &f));                 // Q = 0
    EXPECT_FALSE(decode("ANIM1 65537 1 5 0" + frame, &f));             // Q too large
    EXPECT_FALSE(decode("ANIM1 1 0 5 0 0" + frame, &f));               // P = 0
    EXPECT_FALSE(decode("ANIM1 1 4097 5 0 0" + frame, &f));            // P too large
    ASSERT_TRUE(decode("ANIM1 1 1 0 0 0" + frame, &f));                // a step below 1 lasts 1
    EXPECT_EQ(f.sequence.step_duration, 1);
    image_file_free(&f);
    EXPECT_FALSE(decode("ANIM1 1 1 5 0 1" + frame, &f));               // frame number = P
    EXPECT_FALSE(decode("ANIM1 1 1 5 0 -1" + frame, &f));
    EXPECT_TRUE(decode("ANIM1 1 1 1 0 0" + frame, &f));
    image_file_free(&f);
}

TEST(Sequence, PngFramesNamedOnTheirOwnLines)
{
    TempHome t;
    unsigned char a[3] = { 1, 2, 3 }, b[3] = { 4, 5, 6 };
    ASSERT_TRUE(png_write("@anim/a.png", a, 1, 1));
    ASSERT_TRUE(png_write("@anim/b.png", b, 1, 1));
    std::string seq = "ANIM1\n2 2 10 0\n1 0\nPNG\n@anim/a.png  \nPNG @anim/b.png\r\n";
    ImageFile f;
    ASSERT_TRUE(decode(seq, &f));
    EXPECT_EQ(f.sequence.frames[0].pixels[0], 1);
    EXPECT_EQ(f.sequence.frames[1].pixels[2], 6);
    EXPECT_EQ(f.sequence.steps[0], 1);
    image_file_free(&f);
    LogCapture log(t);
    EXPECT_FALSE(decode("ANIM1 1 1 10 0 0 PNG @anim/missing.png\n", &f));
    EXPECT_TRUE(log.has("Can't read @anim/missing.png"));
}

TEST(Alias, NamesAnotherTexture)
{
    ImageFile f;
    ASSERT_TRUE(decode("LINK\n   bikes/red/tank.png  \n\n", &f));
    EXPECT_EQ(f.kind, IMAGE_ALIAS);
    EXPECT_STREQ(f.alias, "bikes/red/tank.png");
    image_file_free(&f);
    EXPECT_FALSE(decode("LINK   \n", &f));
    std::string long_name = "LINK " + std::string(2000, 'n');
    ASSERT_TRUE(decode(long_name, &f));
    EXPECT_EQ(strlen(f.alias), 1023u);
    image_file_free(&f);
}

// --- writers and round trips ---

static std::vector<unsigned char> noise(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<unsigned char> v(n);
    for (auto &b : v)
        b = (unsigned char)gen();
    return v;
}

TEST(ImageWriters, PngRgbRoundTripIsBitExact)
{
    TempHome t;
    auto rgb = noise(37 * 23 * 3, 7);
    ASSERT_TRUE(png_write("@screenshot000.png", rgb.data(), 37, 23));
    EXPECT_TRUE(exists(t.home + "screenshot000.png"));
    Image img;
    ASSERT_TRUE(image_read("@screenshot000.png", &img));
    EXPECT_EQ(img.width, 37);
    EXPECT_EQ(img.height, 23);
    EXPECT_EQ(img.channels, 3);
    EXPECT_EQ(memcmp(img.pixels, rgb.data(), rgb.size()), 0);
    image_free(&img);
}

TEST(ImageWriters, Png16GreyRoundTripIsBitExact)
{
    TempHome t;
    std::vector<uint16_t> grey(19 * 11);
    std::mt19937 gen(11);
    for (auto &v : grey)
        v = (uint16_t)gen();
    grey[0] = 0;
    grey[1] = 65535;
    ASSERT_TRUE(png_write16("@tracks/t/terrain.png", grey.data(), 19, 11));
    DataFile *f = open_data_file("@tracks/t/terrain.png", "rb");
    int w, h;
    uint16_t *back = png_read16(f, &w, &h);
    close_data_file(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(w, 19);
    EXPECT_EQ(h, 11);
    EXPECT_EQ(memcmp(back, grey.data(), grey.size() * 2), 0);
    xfree(back);
}

TEST(ImageWriters, PpmRoundTripIsBitExact)
{
    TempHome t;
    auto rgb = noise(5 * 4 * 3, 3);
    ASSERT_TRUE(ppm_write("@shot.ppm", rgb.data(), 5, 4));
    std::string bytes = read_bytes(t.home + "shot.ppm");
    EXPECT_EQ(bytes.substr(0, 11), "P6\n5 4\n255\n");
    EXPECT_EQ(bytes.size(), 11u + rgb.size());
    DataFile *f = open_data_file("@shot.ppm", "rb");
    int w, h;
    unsigned char *back = ppm_read(f, &w, &h);
    close_data_file(f);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(memcmp(back, rgb.data(), rgb.size()), 0);
    xfree(back);
}

TEST(ImageWriters, BadArgumentsWriteNothing)
{
    TempHome t;
    unsigned char px[3] = {};
    EXPECT_FALSE(png_write("@zero.png", px, 0, 1));
    EXPECT_FALSE(ppm_write("@zero.ppm", px, 1, 0));
    EXPECT_FALSE(exists(t.home + "zero.png"));
}

TEST(ImageRead, J6ComesBackAsPackedRgb)
{
    TempHome t;
    write_bytes(t.data + "t.j6", "J6 2 1\n" + bytes_of({ 10, 20, 30, 1, 1, 1 }));
    Image img;
    ASSERT_TRUE(image_read("@t.j6", &img));
    EXPECT_EQ(img.pixel_bytes, 3);
    EXPECT_EQ(std::string((char *)img.pixels, 6), bytes_of({ 10, 20, 30, 11, 21, 31 }));
    image_free(&img);
    write_bytes(t.data + "l.link", "LINK other");
    EXPECT_FALSE(image_read("@l.link", &img));
    EXPECT_FALSE(image_read("@absent.png", &img));
}
