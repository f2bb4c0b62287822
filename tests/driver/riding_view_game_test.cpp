// The riding view in the real game under the test display: for every "render_texture" choice
// the sample track's own ground fills the picture below the horizon, and the methods agree.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "game_exe.h"

namespace {

using Picture = VideoFrame;

double sky_share(const Picture &p, int top, int bottom)
{
    long sky = 0, all = 0;
    for (int y = top; y < bottom; y++)
        for (int x = 0; x < p.width; x++) {
            const unsigned char *c = p.at(x, y);
            sky += c[2] > c[0] + 25 && c[2] > c[1] + 10;
            all++;
        }
    return all ? (double)sky / all : 0;
}

// The generated sky above the horizon: blue or its grey-white clouds, never ground colours, and
// with the variety of a picture rather than one clear colour (right half: no text there).
bool shows_generated_sky(const Picture &p, int top, int bottom)
{
    long sky = 0, all = 0;
    std::set<int> colours;
    for (int y = top; y < bottom; y++)
        for (int x = p.width / 2; x < p.width; x++) {
            const unsigned char *c = p.at(x, y);
            sky += c[2] >= c[0] && c[2] + 10 >= c[1];
            all++;
            colours.insert(c[0] << 16 | c[1] << 8 | c[2]);
        }
    return all && sky > all * 0.95 && colours.size() > 8;
}

double mean_difference(const Picture &a, const Picture &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size() && i < b.rgb.size(); i++)
        sum += abs((int)(unsigned char)a.rgb[i] - (int)(unsigned char)b.rgb[i]);
    return sum / (double)a.rgb.size();
}

} // namespace

using RidingViewInTheGame = GameExe;

TEST_F(RidingViewInTheGame, EveryMethodShowsTheTracksGround)
{
    const char *const methods[5] = { "Hardware/Direct", "Software", "Hardware/Copy", "Shaders/Copy", "Shaders/Direct" };
    const char *const logged[5] = { "framebuffer objects", "TexSubImage", "CopyTexSubImage", "CopyTexSubImage",
                                    "framebuffer objects" };
    std::vector<Picture> pictures;
    for (int m = 0; m < 5; m++) {
        write_file(home + "config", std::string("track=tracks/sample\nrender_texture=") + methods[m] + "\n");
        GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" }, { "SK_QUIT_AFTER_FRAMES=4", "SK_START_AS_PLAYER=1" });
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.log.find(std::string("Terrain texture rendering with ") + logged[m]), std::string::npos) << methods[m];
        // The sample track's lighting asks for dynamic lighting: the shader choices take it.
        EXPECT_EQ(r.log.find("Terrain lit per pixel with shader programs") != std::string::npos, m >= 3) << methods[m];
        Picture p = last_video_frame(r.out);
        ASSERT_GT(p.width, 0);
        // The rider looks a little down: sky in the top rows, ground from two thirds of the way
        // down to where the bars and arms begin.
        EXPECT_TRUE(shows_generated_sky(p, 0, p.height / 20)) << methods[m];
        EXPECT_LT(sky_share(p, p.height * 2 / 3, p.height * 3 / 4), 0.01) << methods[m];
        pictures.push_back(p);
    }
    EXPECT_LT(mean_difference(pictures[1], pictures[0]), 8) << "software against direct";
    EXPECT_LT(mean_difference(pictures[2], pictures[0]), 8) << "copy against direct";
    EXPECT_LT(mean_difference(pictures[3], pictures[4]), 8) << "the two shader choices";
    EXPECT_LT(mean_difference(pictures[4], pictures[0]), 24) << "shaders against direct";
}

// A track maker's broken lighting file in the home directory, over the sample track's own:
// the unknown key is reported, nothing else stops the ride, and the default sky still shows.
TEST_F(RidingViewInTheGame, ABrokenLightingFileIsReportedAndTheRideGoesOn)
{
    std::string bad = "sun_vector [ 0 0 0 ]\nsun_color [ nan 1 1 ]\nambient [ 1 inf 1 ]\nfog [ 1 0 0 ] nan\n"
                      "near_plane -3\nfar_plane 1e30\nsky_n\nsun_vecter [ 1 1 1 ]\n";
    for (int i = 0; i < 9; i++)
        bad += "flare_element [ 1 0 ] [ 1 1 1 ] 64 @missing.png\n";
    bad += "flare_vector [ 0 1 0 ]\nflare_point [ nan 0 0 ]\n";
    std::filesystem::create_directories(home + "tracks/sample");
    write_file(home + "tracks/sample/lighting", bad);
    write_file(home + "config", "track=tracks/sample\n");
    GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" }, { "SK_QUIT_AFTER_FRAMES=4", "SK_START_AS_PLAYER=1" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.log.find("Error reading lighting: Unknown identifier 'sun_vecter'"), std::string::npos) << r.log;
    Picture p = last_video_frame(r.out);
    ASSERT_GT(p.width, 0);
    EXPECT_TRUE(shows_generated_sky(p, 0, p.height / 20));
    EXPECT_LT(sky_share(p, p.height * 2 / 3, p.height * 3 / 4), 0.01);
}
