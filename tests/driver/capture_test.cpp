#include <gtest/gtest.h>

#include <stdio.h>
#include <string>

#include "driver/capture.h"
#include "driver_fixture.h"

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
