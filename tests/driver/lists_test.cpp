#include <gtest/gtest.h>

#include <string>

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
