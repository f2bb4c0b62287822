// The riding view at start-up as a player sees it: the bars and the rider's arms drawn from the
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

// The frames of a --record-video stream (rows from the top).
struct Shot {
    int width = 0, height = 0;
    std::string rgb;
};

Shot last_frame(const std::string &out)
{
    Shot s;
    size_t at = 0;
    while (at < out.size()) {
        Shot f;
        int used = 0;
        if (sscanf(out.c_str() + at, "P6\n%d %d\n255\n%n", &f.width, &f.height, &used) != 2 || used == 0)
            break;
        size_t bytes = (size_t)f.width * f.height * 3;
        if (at + used + bytes > out.size())
            break;
        f.rgb = out.substr(at + used, bytes);
        s = f;
        at += used + bytes;
    }
    return s;
}

// In the bottom quarter of the screen, the middle third: pixels unlike the cleared background
// (the top-left corner's colour, under the text of the menus), and the riding gear's red.
void count_lower_centre(const Shot &f, int *drawn, int *gear)
{
    *drawn = *gear = 0;
    const unsigned char *bg = (const unsigned char *)f.rgb.data() + ((size_t)(f.height / 2) * f.width + 2) * 3;
    for (int y = f.height * 3 / 4; y < f.height; y++)
        for (int x = 0; x < f.width; x++) {
            const unsigned char *p = (const unsigned char *)f.rgb.data() + ((size_t)y * f.width + x) * 3;
            bool centre = x > f.width / 3 && x < f.width * 2 / 3;
            if (centre && (abs(p[0] - bg[0]) > 12 || abs(p[1] - bg[1]) > 12 || abs(p[2] - bg[2]) > 12))
                (*drawn)++;
            if (p[0] > p[1] + 60 && p[0] > p[2] + 60)
                (*gear)++;
        }
}

using RidingView = GameExe;

TEST_F(RidingView, BarsAndArmsAtTheLowerCentreAndNoArmsWhenHidden)
{
    int drawn[2], gear[2];
    for (int hide = 0; hide < 2; hide++) {
        SCOPED_TRACE(hide);
        if (hide)
            write_file(home + "config", "track=tracks/sample\nhide_rider=Yes\n");
        GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" }, { "SK_QUIT_AFTER_FRAMES=3" });
        ASSERT_EQ(r.status, 0) << r.err;
        Shot f = last_frame(r.out);
        ASSERT_GT(f.width, 0);
        count_lower_centre(f, &drawn[hide], &gear[hide]);
        EXPECT_GT(drawn[hide], f.width * f.height / 100) << "the bars and the front of the bike";
    }
    EXPECT_GT(gear[0], 500) << "the arms in the riding gear's red";
    EXPECT_LT(gear[1], gear[0] / 10) << "no arms with the rider hidden";
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
    EXPECT_NE(r.log.find("Warning: Can't load @mx250f_frame.jm"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("Warning: Can't load @rider_body.jm"), std::string::npos);
    EXPECT_EQ(last_frame(r.out).width > 0, true) << "frames still drawn";
}

}   // namespace
