// Whole frames of the real game at 1280 x 720 under the test display: the riding view with its
// HUD, the HUD switched off, the chase and trackside cameras after the view keys, and the
// plain mode without a sky. Regions are compared with tolerances, never exact pixels.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "game_exe.h"

namespace {

using Frame = VideoFrame;

// A region as fractions of the frame: left, top, right, bottom.
struct Box {
    float x0, y0, x1, y1;
};

template <typename Test> double share(const Frame &f, Box b, Test test)
{
    long hit = 0, all = 0;
    for (int y = (int)(b.y0 * f.height); y < (int)(b.y1 * f.height); y++)
        for (int x = (int)(b.x0 * f.width); x < (int)(b.x1 * f.width); x++) {
            hit += test(f.at(x, y));
            all++;
        }
    return all ? (double)hit / all : 0;
}

bool is_clear_colour(const unsigned char *c)
{
    return abs(c[0] - 50) <= 3 && abs(c[1] - 153) <= 3 && abs(c[2] - 204) <= 3;
}
bool is_skyish(const unsigned char *c) { return c[2] > c[0] + 25 && c[2] > c[1] + 10; }
bool is_white(const unsigned char *c) { return c[0] > 200 && c[1] > 200 && c[2] > 200; }
bool is_dark(const unsigned char *c) { return c[0] < 80 && c[1] < 80 && c[2] < 80; }

// Pixels of a box that differ from the box's own average colour: something drawn over the ground.
double busy(const Frame &f, Box b)
{
    double mean[3] = {};
    long n = 0;
    for (int y = (int)(b.y0 * f.height); y < (int)(b.y1 * f.height); y++)
        for (int x = (int)(b.x0 * f.width); x < (int)(b.x1 * f.width); x++, n++)
            for (int k = 0; k < 3; k++)
                mean[k] += f.at(x, y)[k];
    for (double &m : mean)
        m /= n ? n : 1;
    return share(f, b, [&](const unsigned char *c) {
        return fabs(c[0] - mean[0]) + fabs(c[1] - mean[1]) + fabs(c[2] - mean[2]) > 120;
    });
}

// The HUD's places: pit board, rev counter and shifter, lean indicator, race title, track map.
const Box k_hud[] = {
    { 0, 0.8f, 0.3f, 1 }, { 0.6f, 0.6f, 1, 1 }, { 0.3f, 0.92f, 0.7f, 1 }, { 0.15f, 0.1f, 0.85f, 0.45f },
    { 0.83f, 0, 1, 0.3f },
};

bool in_hud(const Frame &f, int x, int y)
{
    for (const Box &b : k_hud)
        if (x >= b.x0 * f.width && x < b.x1 * f.width && y >= b.y0 * f.height && y < b.y1 * f.height)
            return true;
    return false;
}

struct FrameInTheGame : GameExe {
    std::vector<Frame> play(const std::string &config, const std::vector<std::string> &args, const std::string &keys,
                            int frames)
    {
        write_file(home + "config", "track=tracks/sample\nxres=1280\nyres=720\nvideo_mode=Windowed\n" + config);
        std::vector<std::string> a = { "--lock-fps", "30", "--nosound", "--record-video" };
        a.insert(a.end(), args.begin(), args.end());
        GameRun r = run(a, { "SK_QUIT_AFTER_FRAMES=" + std::to_string(frames), "SK_START_AS_PLAYER=1", "SK_TEST_SEED=7",
                             "SK_TEST_KEYS=" + keys });
        EXPECT_EQ(r.status, 0) << r.err;
        log = r.log;
        return video_frames(r.out);
    }
    // The sky's pictures come from the generated data; until they are there the clear colour
    // shows through where the sky goes.
    bool data_has_sky()
    {
        DIR *d = opendir(game_data.c_str());
        bool sky = false;
        while (dirent *e = d ? readdir(d) : nullptr)
            sky = sky || strncmp(e->d_name, "sky", 3) == 0;
        if (d)
            closedir(d);
        return sky;
    }
    std::string log;
};

} // namespace

TEST_F(FrameInTheGame, RidingViewWithItsHudAndWithout)
{
    // Esc closes the start-up menu; the frames after it show the ride.
    std::vector<Frame> shown = play("", {}, "1:esc", 8), hidden = play("", { "--hidden-hud" }, "1:esc", 8);
    ASSERT_EQ(shown.size(), 8u);
    ASSERT_EQ(hidden.size(), 8u);
    const Frame &f = shown.back(), &g = hidden.back();
    ASSERT_EQ(f.width, 1280);
    ASSERT_EQ(f.height, 720);
    // Sky above, ground below the horizon.
    EXPECT_GT(share(f, { 0, 0, 1, 0.08f }, is_skyish), 0.9);
    if (data_has_sky()) {
        EXPECT_LT(share(f, { 0, 0, 1, 0.08f }, is_clear_colour), 0.5) << "the sky's pictures, not the clear colour";
    }
    EXPECT_LT(share(f, { 0, 0.6f, 1, 0.7f }, is_skyish), 0.02) << "the ground";
    // The bars and arms at the lower centre, under the lean indicator.
    EXPECT_GT(busy(g, { 0.35f, 0.8f, 0.65f, 1 }), 0.02);
    // The pit board: white, with dark writing; the rev counter: a dark face with white marks.
    EXPECT_GT(share(f, { 0, 0.88f, 0.2f, 1 }, is_white), 0.3);
    EXPECT_GT(share(f, { 0, 0.88f, 0.2f, 1 }, is_dark), 0.01);
    EXPECT_GT(share(f, { 0.82f, 0.65f, 0.98f, 0.95f }, is_dark), 0.2);
    EXPECT_GT(share(f, { 0.82f, 0.65f, 0.98f, 0.95f }, is_white), 0.03);
    // Without the HUD those places show the world, and nothing else changes.
    EXPECT_LT(share(g, { 0, 0.88f, 0.2f, 1 }, is_white), 0.05);
    long outside = 0, changed = 0;
    for (int y = 0; y < f.height; y++)
        for (int x = 0; x < f.width; x++) {
            if (in_hud(f, x, y))
                continue;
            const unsigned char *a = f.at(x, y), *b = g.at(x, y);
            changed += abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2]) > 24;
            outside++;
        }
    EXPECT_LT((double)changed / outside, 0.002) << "only the HUD's regions differ";
    long inside_changed = 0;
    for (int y = 0; y < f.height; y++)
        for (int x = 0; x < f.width; x++)
            if (in_hud(f, x, y)) {
                const unsigned char *a = f.at(x, y), *b = g.at(x, y);
                inside_changed += abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2]) > 24;
            }
    EXPECT_GT(inside_changed, 20000);
}

TEST_F(FrameInTheGame, ChaseAndTracksideCamerasShowTheBike)
{
    // One camera 50 ft north of the gate, 20 ft up, covering the first gates.
    write_file(home + "tracks/sample/cameras", "fov 50\ngate 0 1 2\naddcamera 235 20 640\n");
    // Spy keeps the camera view on the player's own bike.
    std::vector<Frame> f = play("spy=1\n", { "--debug" }, "1:esc,4:tab,10:tab,11:1", 16);
    ASSERT_EQ(f.size(), 16u);
    EXPECT_NE(log.find("1 cameras found"), std::string::npos);
    const Frame &riding = f[3], &chase = f[9], &trackside = f[15];
    // The chase camera looks at the bike from behind and above: it stands in the middle.
    EXPECT_GT(busy(chase, { 0.4f, 0.35f, 0.6f, 0.75f }), 0.03);
    // Another Tab and "1": the trackside camera aims at the bike, so it is in the middle too,
    // and the picture is not the chase camera's.
    EXPECT_GT(busy(trackside, { 0.4f, 0.3f, 0.6f, 0.7f }), 0.01);
    long differ = 0;
    for (int y = 0; y < chase.height; y += 4)
        for (int x = 0; x < chase.width; x += 4) {
            const unsigned char *a = chase.at(x, y), *b = trackside.at(x, y);
            differ += abs(a[0] - b[0]) + abs(a[1] - b[1]) + abs(a[2] - b[2]) > 40;
        }
    EXPECT_GT(differ, chase.width * chase.height / 16 / 10);
    EXPECT_GT(busy(riding, { 0.35f, 0.85f, 0.65f, 1 }), busy(chase, { 0.35f, 0.85f, 0.65f, 1 })) << "bars in the riding view";
}

TEST_F(FrameInTheGame, PlainModeDrawsNoSky)
{
    std::vector<Frame> f = play("", { "--fugly" }, "1:esc", 4);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_GT(share(f.back(), { 0.3f, 0, 0.7f, 0.06f }, is_clear_colour), 0.95);
    EXPECT_LT(share(f.back(), { 0, 0.6f, 1, 0.7f }, is_skyish), 0.02) << "the ground is still drawn";
}

TEST_F(FrameInTheGame, RobotAtStartUpIsFollowedByTheCameraOfItsNextGate)
{
    // Camera 0 high over a far corner covers no gate; camera 1 near the gate covers them all.
    std::string gates = "gate";
    for (int g = 0; g < 256; g++)
        gates += " " + std::to_string(g);
    write_file(home + "tracks/sample/cameras", "addcamera 20 300 20\nautofovsize 12\n" + gates + "\naddcamera 235 20 640\n");
    write_file(home + "config", "track=tracks/sample\nxres=1280\nyres=720\nvideo_mode=Windowed\n");
    GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" },
                    { "SK_QUIT_AFTER_FRAMES=6", "SK_TEST_SEED=7", "SK_TEST_KEYS=1:esc" });
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Frame> f = video_frames(r.out);
    ASSERT_EQ(f.size(), 6u);
    // Zoomed on the robot from close by, looking down on it: ground to the top of the picture
    // (the far camera would show the sky there) and the robot in the middle.
    EXPECT_LT(share(f.back(), { 0, 0.06f, 1, 0.15f }, is_skyish), 0.05);
    EXPECT_GT(busy(f.back(), { 0.4f, 0.3f, 0.6f, 0.7f }), 0.05);
}
