#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

#include "driver/capture.h"
#include "driver_fixture.h"
#include "render/image/image.h"

using Screenshots = DriverDirs;

TEST_F(Screenshots, NumberAfterTheHighestOfEitherSuffix)
{
    const char *none[] = { "tracks/a/terrain.hf", nullptr };
    EXPECT_EQ(screenshot_highest_number(none), 0);
    const char *names[] = { "screenshot004.ppm", "screenshot012.png", "screenshot7.png", "screenshots.txt",
                            "screenshot099.jpg", "demos/screenshot500.png", "screenshot.png", nullptr };
    EXPECT_EQ(screenshot_highest_number(names), 12);
    EXPECT_EQ(screenshot_highest_number(nullptr), 0);
}

TEST_F(Screenshots, ExistingFilesAreNeverOverwritten)
{
    write_file(home + "screenshot003.png", "x");
    write_file(home + "screenshot004.ppm", "x");
    EXPECT_EQ(screenshot_free_number(1), 1);
    EXPECT_EQ(screenshot_free_number(3), 5);
    EXPECT_EQ(screenshot_free_number(-7), 0);
}

TEST_F(Screenshots, PngLandsInTheHomeDirectoryTopRowFirst)
{
    // Two pixels wide, two high: the top row red then green, the bottom row blue then white.
    const unsigned char rgb[] = { 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255 };
    ASSERT_TRUE(write_screenshot_png("@screenshot007.png", 2, 2, rgb));
    std::string file = read_file(home + "screenshot007.png");
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    Image img;
    ASSERT_TRUE(image_read((home + "screenshot007.png").c_str(), &img));
    EXPECT_EQ(img.width, 2);
    EXPECT_EQ(img.height, 2);
    ASSERT_EQ(img.channels, 3);
    EXPECT_EQ(std::string((const char *)img.pixels, 12), std::string((const char *)rgb, 12));
    image_free(&img);
    EXPECT_EQ(screenshot_free_number(7), 8) << "the written file takes its number";
}

TEST_F(Screenshots, NothingWrittenForAnEmptyImage)
{
    const unsigned char rgb[3] = {};
    EXPECT_FALSE(write_screenshot_png("@screenshot001.png", 0, 1, rgb));
    EXPECT_FALSE(write_screenshot_png("@screenshot001.png", 1, 1, nullptr));
    EXPECT_EQ(screenshot_free_number(1), 1);
}

TEST(VideoFrames, RowsFromTheTopOfTheImage)
{
    // OpenGL reads bottom row first: row 0 is the bottom (red), row 1 the top (green).
    const unsigned char pixels[] = { 255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255, 0 };
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(write_ppm_frame(f, 2, 2, pixels));
    rewind(f);
    char buf[64];
    size_t n = fread(buf, 1, sizeof buf, f);
    fclose(f);
    std::string got(buf, n);
    std::string want = "P6\n2 2\n255\n";
    want += std::string("\0\xff\0\0\xff\0", 6);
    want += std::string("\xff\0\0\xff\0\0", 6);
    EXPECT_EQ(got, want);
}

TEST(VideoFrames, BadSizesWriteNothing)
{
    const unsigned char px[3] = {};
    EXPECT_FALSE(write_ppm_frame(nullptr, 1, 1, px));
    FILE *f = tmpfile();
    EXPECT_FALSE(write_ppm_frame(f, 0, 5, px));
    EXPECT_FALSE(write_ppm_frame(f, 1, 1, nullptr));
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
}
