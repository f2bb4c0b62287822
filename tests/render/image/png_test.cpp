#include <gtest/gtest.h>

#include <dirent.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "../../vfs/temp_home.h"
#include "common/mem.h"
#include "render/image/image.h"
#include "vfs/vfs.h"

// --- PNGs built by hand, so every expected pixel follows from the conversion rules ---

static void put32(std::string &s, uint32_t v)
{
    for (int i = 3; i >= 0; i--)
        s += (char)(v >> (i * 8));
}

static std::string chunk(const char *type, const std::string &data)
{
    std::string c;
    put32(c, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    c += body;
    put32(c, (uint32_t)crc32(0, (const Bytef *)body.data(), (uInt)body.size()));
    return c;
}

// rows: raw scanlines without their filter byte (filter 0 is added).
static std::string make_png(int w, int h, int depth, int type, const std::vector<std::string> &rows,
                            const std::string &extra_chunks = "")
{
    std::string ihdr;
    put32(ihdr, (uint32_t)w);
    put32(ihdr, (uint32_t)h);
    ihdr += (char)depth;
    ihdr += (char)type;
    ihdr += std::string(3, '\0');
    std::string raw;
    for (const std::string &r : rows)
        raw += '\0' + r;
    uLongf zlen = compressBound(raw.size());
    std::string z(zlen, '\0');
    compress((Bytef *)z.data(), &zlen, (const Bytef *)raw.data(), raw.size());
    z.resize(zlen);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + extra_chunks + chunk("IDAT", z) +
           chunk("IEND", "");
}

static std::string b(std::initializer_list<int> v)
{
    std::string s;
    for (int x : v)
        s += (char)x;
    return s;
}

struct Decoded {
    Image img = {};
    bool ok;
    explicit Decoded(const std::string &png)
    {
        ok = png_decode_memory((const unsigned char *)png.data(), png.size(), "hand.png", &img);
    }
    ~Decoded() { image_free(&img); }
    std::string pixels() const
    {
        return ok ? std::string((char *)img.pixels, (size_t)img.width * img.height * img.pixel_bytes) : "";
    }
};

TEST(PngDecode, GreyDepthsExpandToRgb)
{
    // 1 bit: 1 0 1 1 0 0 0 0 -> 255 or 0.
    Decoded g1(make_png(8, 1, 1, 0, { b({ 0xB0 }) }));
    ASSERT_TRUE(g1.ok);
    EXPECT_EQ(g1.img.channels, 3);
    EXPECT_EQ(g1.pixels().substr(0, 12), b({ 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255, 255 }));
    // 2 bits: 0 1 2 3 -> 0 85 170 255.
    Decoded g2(make_png(4, 1, 2, 0, { b({ 0x1B }) }));
    EXPECT_EQ(g2.pixels(), b({ 0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255 }));
    // 4 bits: 1 15 -> 17 255.
    Decoded g4(make_png(2, 1, 4, 0, { b({ 0x1F }) }));
    EXPECT_EQ(g4.pixels(), b({ 17, 17, 17, 255, 255, 255 }));
    Decoded g8(make_png(3, 1, 8, 0, { b({ 0, 128, 255 }) }));
    EXPECT_EQ(g8.pixels(), b({ 0, 0, 0, 128, 128, 128, 255, 255, 255 }));
    // 16 bits keep their high byte.
    Decoded g16(make_png(2, 1, 16, 0, { b({ 0x12, 0x34, 0xFF, 0x00 }) }));
    EXPECT_EQ(g16.pixels(), b({ 0x12, 0x12, 0x12, 0xFF, 0xFF, 0xFF }));
}

TEST(PngDecode, ColourAndAlphaTypes)
{
    Decoded rgb8(make_png(2, 1, 8, 2, { b({ 1, 2, 3, 4, 5, 6 }) }));
    EXPECT_EQ(rgb8.img.channels, 3);
    EXPECT_EQ(rgb8.pixels(), b({ 1, 2, 3, 4, 5, 6 }));
    Decoded rgb16(make_png(1, 1, 16, 2, { b({ 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC }) }));
    EXPECT_EQ(rgb16.pixels(), b({ 0x12, 0x56, 0x9A }));
    Decoded ga8(make_png(1, 1, 8, 4, { b({ 10, 200 }) }));
    EXPECT_EQ(ga8.img.channels, 4);
    EXPECT_EQ(ga8.pixels(), b({ 10, 10, 10, 200 }));
    Decoded ga16(make_png(1, 1, 16, 4, { b({ 0xAB, 0x01, 0x12, 0x02 }) }));
    EXPECT_EQ(ga16.pixels(), b({ 0xAB, 0xAB, 0xAB, 0x12 }));
    Decoded rgba8(make_png(1, 2, 8, 6, { b({ 1, 2, 3, 4 }), b({ 5, 6, 7, 8 }) }));
    EXPECT_EQ(rgba8.img.channels, 4);
    EXPECT_EQ(rgba8.pixels(), b({ 1, 2, 3, 4, 5, 6, 7, 8 }));
    Decoded rgba16(make_png(1, 1, 16, 6, { b({ 1, 9, 2, 9, 3, 9, 4, 9 }) }));
    EXPECT_EQ(rgba16.pixels(), b({ 1, 2, 3, 4 }));
}

TEST(PngDecode, PaletteExpandsAndTransparencyIsNotAlpha)
{
    std::string plte = chunk("PLTE", b({ 10, 20, 30, 40, 50, 60, 70, 80, 90 }));
    std::string trns = chunk("tRNS", b({ 0, 128 }));
    // 2-bit indices 0 1 2 1.
    Decoded p2(make_png(4, 1, 2, 3, { b({ 0x19 }) }, plte + trns));
    ASSERT_TRUE(p2.ok);
    EXPECT_EQ(p2.img.channels, 3);
    EXPECT_EQ(p2.pixels(), b({ 10, 20, 30, 40, 50, 60, 70, 80, 90, 40, 50, 60 }));
    Decoded p8(make_png(2, 1, 8, 3, { b({ 2, 0 }) }, plte));
    EXPECT_EQ(p8.pixels(), b({ 70, 80, 90, 10, 20, 30 }));
    // A grey image with a transparent colour stays opaque RGB too.
    Decoded gt(make_png(1, 1, 8, 0, { b({ 7 }) }, chunk("tRNS", b({ 0, 7 }))));
    EXPECT_EQ(gt.img.channels, 3);
}

TEST(PngDecode, TextChunksBecomeInfoText)
{
    std::string text = chunk("tEXt", std::string("Comment\0[mip_max_alpha]", 23)) +
                       chunk("tEXt", std::string("Other\0 and [compress]", 21));
    std::string png = make_png(1, 1, 8, 6, { b({ 1, 2, 3, 4 }) }, text);
    ImageFile f;
    DataFile *df = open_memory_data_file(png.data(), png.size(), false);
    ASSERT_TRUE(image_decode(df, nullptr, &f));
    close_data_file(df);
    ASSERT_NE(f.image.info, nullptr);
    EXPECT_STREQ(f.image.info, "[mip_max_alpha] and [compress]");
    EXPECT_TRUE(f.image.mip_max_alpha);
    EXPECT_TRUE(f.image.compress);
    image_file_free(&f);
}

TEST(PngDecode, PngTextAndSidecarJoin)
{
    TempHome t;
    std::string png = make_png(2, 3, 8, 6, { b({ 0, 0, 0, 0, 0, 0, 0, 0 }), b({ 0, 0, 0, 0, 0, 0, 0, 0 }),
                                            b({ 0, 0, 0, 0, 0, 0, 0, 0 }) },
                               chunk("tEXt", std::string("k\0from png ", 11)));
    write_bytes(t.data + "tex.png", png);
    write_bytes(t.data + "tex.png.info", "[mip_custom]");
    DataFile *f = open_data_file("@tex.png", "rb");
    ImageFile img;
    ASSERT_TRUE(image_decode(f, "@tex.png", &img));
    close_data_file(f);
    EXPECT_STREQ(img.image.info, "from png [mip_custom]");
    // 2 x 3: base 2x2, then 1x1 at (0,2).
    ASSERT_EQ(img.image.mip_levels, 2);
    EXPECT_EQ(img.image.mip_rects[1].y, 2);
    image_file_free(&img);
}

TEST(PngDecode, ClaimsBeyondTheFileFailCleanly)
{
    ImageFile f;
    // IHDR says 16384 x 16384 RGBA, but the data is one tiny row.
    std::string huge = make_png(16384, 16384, 8, 6, { b({ 1, 2, 3, 4 }) });
    EXPECT_FALSE(image_decode_memory((const unsigned char *)huge.data(), huge.size(), "huge", &f));
    std::string wide = make_png(16385, 1, 8, 0, { std::string(16385, 'x') });
    EXPECT_FALSE(image_decode_memory((const unsigned char *)wide.data(), wide.size(), "wide", &f));
    std::string good = make_png(2, 2, 8, 2, { std::string(6, 'a'), std::string(6, 'b') });
    for (size_t cut = 0; cut < good.size() - 12; cut += 3)
        EXPECT_FALSE(image_decode_memory((const unsigned char *)good.data(), cut, "cut", &f)) << cut;
    EXPECT_EQ(f.kind, IMAGE_NONE);
}

TEST(PngDecode, OverTheDefaultBudgetIsRefusedBeforeDecoding)
{
    // 8193 x 8192 one-bit grey: about 140 KB of file (a filler chunk keeps it within the inflate
    // ratio) that would decode to 201 MB of RGB.
    std::vector<std::string> rows(8192, std::string(1025, '\0'));
    std::string big = make_png(8193, 8192, 1, 0, rows, chunk("prVt", std::string(128 << 10, 'f')));
    Image img;
    EXPECT_FALSE(png_decode_memory((const unsigned char *)big.data(), big.size(), "big.png", &img));
    EXPECT_EQ(img.pixels, nullptr);
}

TEST(PngRead16, EightBitGreyWidensAndColourBecomesGrey)
{
    std::string g8 = make_png(2, 1, 8, 0, { b({ 0x12, 0xFF }) });
    int w, h;
    uint16_t *px = png16_decode_memory((const unsigned char *)g8.data(), g8.size(), "g8", &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(px[0], 0x1212);
    EXPECT_EQ(px[1], 0xFFFF);
    xfree(px);
    std::string white = make_png(1, 1, 8, 2, { b({ 255, 255, 255 }) });
    px = png16_decode_memory((const unsigned char *)white.data(), white.size(), "rgb", &w, &h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(px[0], 0xFFFF);
    xfree(px);
}

// --- the PNG suite ---

static std::string suite(const std::string &name)
{
    return read_bytes(std::string(SK_TEST_DATA_DIR) + "/pngsuite/" + name);
}

static std::vector<std::string> suite_files(const char *prefix)
{
    std::vector<std::string> v;
    DIR *d = opendir((std::string(SK_TEST_DATA_DIR) + "/pngsuite").c_str());
    if (!d)
        return v;
    while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.rfind(prefix, 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".png")
            v.push_back(n);
    }
    closedir(d);
    std::sort(v.begin(), v.end());
    return v;
}

TEST(PngSuite, EveryBasicTypeDecodesToRgbOrRgba)
{
    auto files = suite_files("basn");
    ASSERT_EQ(files.size(), 15u);
    for (const std::string &n : files) {
        Decoded d(suite(n));
        ASSERT_TRUE(d.ok) << n;
        EXPECT_EQ(d.img.width, 32) << n;
        EXPECT_EQ(d.img.height, 32) << n;
        // The colour type is the digit after "basn": 4 and 6 carry alpha.
        int type = n[4] - '0';
        EXPECT_EQ(d.img.channels, type == 4 || type == 6 ? 4 : 3) << n;
        if ((type & 2) == 0) {
            for (int i = 0; i < 32 * 32; i++) {
                const unsigned char *p = d.img.pixels + i * d.img.pixel_bytes;
                ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << n << " pixel " << i;
            }
        }
    }
}

TEST(PngSuite, InterlacedImagesMatchTheirPlainTwins)
{
    auto files = suite_files("basi");
    ASSERT_EQ(files.size(), 15u);
    for (const std::string &n : files) {
        std::string twin = "basn" + n.substr(4);
        Decoded a(suite(n)), b(suite(twin));
        ASSERT_TRUE(a.ok && b.ok) << n;
        EXPECT_EQ(a.pixels(), b.pixels()) << n;
    }
    Decoded split(suite("oi9n2c16.png")), whole(suite("basn2c16.png"));
    EXPECT_EQ(split.pixels(), whole.pixels());      // one-byte IDAT chunks
    Decoded s1(suite("s01i3p01.png")), s2(suite("s01n3p01.png"));
    ASSERT_TRUE(s1.ok);
    EXPECT_EQ(s1.img.width, 1);
    EXPECT_EQ(s1.pixels(), s2.pixels());
}

TEST(PngSuite, LowDepthGreyUsesTheWholeRange)
{
    std::set<int> levels;
    Decoded d(suite("basn0g02.png"));
    ASSERT_TRUE(d.ok);
    for (int i = 0; i < 32 * 32; i++)
        levels.insert(d.img.pixels[i * 3]);
    EXPECT_EQ(levels, (std::set<int>{ 0, 85, 170, 255 }));
    levels.clear();
    Decoded d4(suite("basn0g04.png"));
    for (int i = 0; i < 32 * 32; i++)
        levels.insert(d4.img.pixels[i * 3]);
    for (int v : levels)
        EXPECT_EQ(v % 17, 0) << v;
    EXPECT_GT(levels.size(), 8u);               // a ramp, not a flat picture
}

TEST(PngSuite, SixteenBitReaderAgreesOnTheHighByte)
{
    std::string bytes = suite("basn0g16.png");
    int w, h;
    uint16_t *grey = png16_decode_memory((const unsigned char *)bytes.data(), bytes.size(), "g16", &w, &h);
    ASSERT_NE(grey, nullptr);
    Decoded d(bytes);
    ASSERT_TRUE(d.ok);
    for (int i = 0; i < w * h; i++)
        ASSERT_EQ(grey[i] >> 8, d.img.pixels[i * 3]) << i;
    xfree(grey);
}

TEST(PngSuite, TransparencyChunksStayOutOfTheAlpha)
{
    for (const char *n : { "tbbn3p08.png", "tp0n3p08.png", "tbrn2c08.png" }) {
        Decoded d(suite(n));
        ASSERT_TRUE(d.ok) << n;
        EXPECT_EQ(d.img.channels, 3) << n;
    }
}

TEST(PngSuite, TextChunksOfEveryKind)
{
    for (const char *n : { "ct1n0g04.png", "ctzn0g04.png", "cten0g04.png" }) {
        Decoded d(suite(n));
        ASSERT_TRUE(d.ok) << n;
        ASSERT_NE(d.img.info, nullptr) << n;
        EXPECT_NE(strstr(d.img.info, "PngSuite"), nullptr) << n;
    }
}

TEST(PngSuite, CorruptFilesFailCleanly)
{
    auto files = suite_files("x");
    ASSERT_EQ(files.size(), 14u);
    for (const std::string &n : files) {
        std::string bytes = suite(n);
        ImageFile f;
        EXPECT_FALSE(image_decode_memory((const unsigned char *)bytes.data(), bytes.size(), n.c_str(), &f)) << n;
        int w, h;
        EXPECT_EQ(png16_decode_memory((const unsigned char *)bytes.data(), bytes.size(), n.c_str(), &w, &h), nullptr)
            << n;
    }
}
