// The riding view at start-up as a player sees it (the player's own bike in the first slot): the bars and the rider's arms drawn from the
// game's own models, the hidden first-person rider, and broken model files in the home
// directory that cost a warning each and nothing more.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "game_exe.h"

namespace {

using Shot = VideoFrame;

// In the bottom quarter of the screen, the middle third: pixels unlike the cleared background
// (taken from the left edge halfway down, under the menus' text).
int lower_centre_drawn(const Shot &f)
{
    int drawn = 0;
    const unsigned char *bg = f.at(2, f.height / 2);
    for (int y = f.height * 3 / 4; y < f.height; y++)
        for (int x = f.width / 3; x < f.width * 2 / 3; x++) {
            const unsigned char *p = f.at(x, y);
            drawn += abs(p[0] - bg[0]) > 12 || abs(p[1] - bg[1]) > 12 || abs(p[2] - bg[2]) > 12;
        }
    return drawn;
}

// Pixels of the lower half where two frames differ.
int lower_half_changes(const Shot &a, const Shot &b)
{
    int n = 0;
    for (int y = a.height / 2; y < a.height; y++)
        for (int x = 0; x < a.width; x++) {
            size_t i = ((size_t)y * a.width + x) * 3;
            n += abs(a.rgb[i] - b.rgb[i]) + abs(a.rgb[i + 1] - b.rgb[i + 1]) + abs(a.rgb[i + 2] - b.rgb[i + 2]) > 30;
        }
    return n;
}

using RidingView = GameExe;

TEST_F(RidingView, BarsAndArmsAtTheLowerCentreAndNoArmsWhenHidden)
{
    Shot shots[2];
    for (int hide = 0; hide < 2; hide++) {
        SCOPED_TRACE(hide);
        if (hide)
            write_file(home + "config", "track=tracks/sample\nhide_rider=Yes\n");
        GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" },
                        { "SK_QUIT_AFTER_FRAMES=3", "SK_START_AS_PLAYER=1" });
        ASSERT_EQ(r.status, 0) << r.err;
        Shot &f = shots[hide];
        f = last_video_frame(r.out);
        ASSERT_GT(f.width, 0);
        EXPECT_GT(lower_centre_drawn(f), f.width * f.height / 100) << "the bars and the front of the bike";
    }
    ASSERT_EQ(shots[0].rgb.size(), shots[1].rgb.size());
    // The same start either way, but for the arms reaching down to the grips.
    EXPECT_GT(lower_half_changes(shots[0], shots[1]), shots[0].width * shots[0].height / 80) << "the arms";
}

TEST_F(RidingView, BrokenModelsInTheHomeDirectoryAreWarnedAboutAndTheGameRunsOn)
{
    DIR *d = opendir(game_data.c_str());
    ASSERT_NE(d, nullptr);
    int broken = 0;
    while (dirent *e = readdir(d)) {
        size_t n = strlen(e->d_name);
        if (n > 3 && strcmp(e->d_name + n - 3, ".jm") == 0) {
            write_file(home + e->d_name, "JM2\n99 garbage\n\x01\x02");
            broken++;
        }
    }
    closedir(d);
    ASSERT_GT(broken, 20);
    GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" }, { "SK_QUIT_AFTER_FRAMES=3" });
    EXPECT_EQ(r.status, 0) << r.err;
    // Whichever bikes the robots picked: some class's frame, and the forks all share.
    EXPECT_NE(r.log.find("Warning: Can't load @mx_ufork.jm"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("_frame.jm"), std::string::npos);
    EXPECT_NE(r.log.find("Warning: Can't load @rider_body.jm"), std::string::npos);
    EXPECT_EQ(last_video_frame(r.out).width > 0, true) << "frames still drawn";
}

}   // namespace
