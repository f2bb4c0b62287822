#include <gtest/gtest.h>

#include <string>

#include "bike/catalogue.h"
#include "bike/setup.h"
#include "driver/config.h"
#include "driver/lists.h"
#include "driver_fixture.h"
#include "platform/window.h"

TEST(VideoModeList, DesktopDepthModesFollowTheTwoFixedEntries)
{
    const VideoMode modes[] = { { 1920, 1080, 24 }, { 1280, 1024, 24 }, { 800, 600, 16 }, { 640, 480, 24 }, { 0, 0, 0 } };
    EXPECT_EQ(build_video_mode_list(modes), 5);
    EXPECT_STREQ(video_mode_label(0), "Default Fullscreen");
    EXPECT_STREQ(video_mode_label(1), "Windowed");
    EXPECT_STREQ(video_mode_label(2), "1920x1080");
    EXPECT_STREQ(video_mode_label(3), "1280x1024");
    EXPECT_STREQ(video_mode_label(4), "640x480") << "the 16-bit mode is left out";
    EXPECT_EQ(video_mode_label(5), nullptr);
    int w = -1, h = -1;
    EXPECT_TRUE(video_mode_size(3, &w, &h));
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 1024);
    EXPECT_FALSE(video_mode_size(-1, &w, &h));
    free_video_mode_list();
    EXPECT_EQ(video_mode_count(), 0);
}

TEST(VideoModeList, NoPlatformModes)
{
    const VideoMode none[] = { { 0, 0, 0 } };
    EXPECT_EQ(build_video_mode_list(none), 2);
    EXPECT_EQ(build_video_mode_list(nullptr), 2);
    free_video_mode_list();
}

using DemoList = DriverDirs;

TEST_F(DemoList, DemosFolderSkdemoFilesByShortName)
{
    const char *names[] = { "demos/race one.skdemo", "demos/old/lap.v2.skdemo", "demos/notes.txt",
                            "other/x.skdemo", "demos.skdemo", "demos/.skdemo", nullptr };
    EXPECT_EQ(build_demo_list(names, 1), 3);
    EXPECT_STREQ(demo_list_label(0), "race one");
    EXPECT_STREQ(demo_list_file(0), "demos/race one.skdemo");
    EXPECT_STREQ(demo_list_label(1), "lap.v2");
    EXPECT_STREQ(demo_list_label(2), "");
    EXPECT_EQ(demo_list_label(3), nullptr);
    std::string log = log_text();
    EXPECT_NE(log.find("demos/race one.skdemo -> race one\n"), std::string::npos);
    free_demo_list();
    EXPECT_EQ(demo_list_count(), 0);
}

TEST(TextureLists, EachListHoldsItsPrefixAndTheSetupKeepsListedNames)
{
    config_apply_defaults();        // the bike is "yz250f(2017)": its class's graphics are "mx250f-*"
    bike_catalogue_offer();
    snprintf(g_setup.rider_texture, sizeof g_setup.rider_texture, "rider_body-blue.png");
    snprintf(g_setup.head_texture, sizeof g_setup.head_texture, "rider_head-gone.png");
    snprintf(g_setup.wheel_texture, sizeof g_setup.wheel_texture, "wheels-gold.png");
    // Index order: case-insensitive by name.
    const char *names[] = { "rider_body-blue.png", "rider_body-blue_tnorm.png", "rider_body-blue_tspec.png",
                            "rider_body-red.png.gz", "rider_body-red.png.info", "rider_body.png",
                            "rider_head-white.png", "tracks/rider_body-x.png", "wheels-gold.png",
                            "mx250f-race.png", "mx250f.png", "mx250f_frame.jm", "mx450f-red.png", nullptr };
    EXPECT_EQ(build_texture_lists(names), 5);
    ASSERT_EQ(texture_list_count(TEXTURES_RIDER), 2);
    EXPECT_STREQ(texture_list_label(TEXTURES_RIDER, 0), "rider_body-blue.png");
    EXPECT_STREQ(texture_list_label(TEXTURES_RIDER, 1), "rider_body-red.png") << "read through its .gz";
    ASSERT_EQ(texture_list_count(TEXTURES_HELMET), 1);
    EXPECT_STREQ(texture_list_label(TEXTURES_HELMET, 0), "rider_head-white.png");
    ASSERT_EQ(texture_list_count(TEXTURES_BIKE), 1);
    EXPECT_STREQ(texture_list_label(TEXTURES_BIKE, 0), "mx250f-race.png");
    ASSERT_EQ(texture_list_count(TEXTURES_WHEELS), 1);
    EXPECT_EQ(texture_list_label(TEXTURES_WHEELS, 1), nullptr);
    // The menus show the text between the prefix and the extension.
    EXPECT_STREQ(texture_list_shown(TEXTURES_RIDER)[0], "blue");
    EXPECT_STREQ(texture_list_shown(TEXTURES_RIDER)[1], "red");
    EXPECT_STREQ(texture_list_shown(TEXTURES_BIKE)[0], "race");
    EXPECT_STREQ(texture_list_shown(TEXTURES_WHEELS)[0], "gold");

    EXPECT_STREQ(g_setup.rider_texture, "rider_body-blue.png") << "a listed name is kept";
    EXPECT_STREQ(g_setup.head_texture, "rider_head-white.png") << "a name no longer installed takes the first";
    EXPECT_STREQ(g_setup.bike_texture, "mx250f-race.png");
    EXPECT_STREQ(g_setup.wheel_texture, "wheels-gold.png");

    // Another bike has other graphics; with none installed its choice is empty.
    read_setup_pair("bike", "crf450(2019)");
    EXPECT_EQ(build_bike_texture_list(names), 1);
    EXPECT_STREQ(texture_list_label(TEXTURES_BIKE, 0), "mx450f-red.png");
    read_setup_pair("bike", "cr125(2002)");
    EXPECT_EQ(build_bike_texture_list(names), 0);
    choose_setup_textures();
    EXPECT_STREQ(g_setup.bike_texture, "");
    free_texture_lists();
    EXPECT_EQ(texture_list_count(TEXTURES_RIDER), 0);
    config_apply_defaults();
}
