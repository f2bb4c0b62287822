// The menus in the real game under the test display: drawn at start-up, driven by keys pressed
// through the window system (SK_TEST_KEYS), with the settings they change written at exit.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string>
#include <vector>

#include "game_exe.h"

namespace {

using Frame = VideoFrame;

// Pixels of light text (white or the highlight's yellow) in a band of rows and columns.
int text_pixels(const Frame &f, int top, int bottom, int left, int right)
{
    int n = 0;
    for (int y = top; y < bottom && y < f.height; y++)
        for (int x = left; x < right && x < f.width; x++) {
            const unsigned char *p = f.at(x, y);
            if (p[0] > 200 && p[1] > 200)
                n++;
        }
    return n;
}

std::string keys(const std::vector<std::pair<int, std::string>> &script)
{
    std::string s;
    for (const auto &k : script)
        s += (s.empty() ? "" : ",") + std::to_string(k.first) + ":" + k.second;
    return s;
}

} // namespace

using MenusInTheGame = GameExe;

TEST_F(MenusInTheGame, MainMenuIsDrawnAtStartUp)
{
    GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" }, { "SK_QUIT_AFTER_FRAMES=3" });
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Frame> frames = video_frames(r.out);
    ASSERT_EQ(frames.size(), 3u);
    const Frame &f = frames.back();
    // The main menu's layout: a 4:3 area centred in the window, 32 lines wide, the nine
    // entries one line apart from the fourth line.
    float area_w = f.width * 3 <= f.height * 4 ? f.width : f.height * 4.0f / 3;
    float left = (f.width - area_w) / 2, top = (f.height - area_w * 3 / 4) / 2, unit = area_w / 32;
    for (int item = 0; item < 9; item++) {
        int row = (int)(top + (3 + item) * unit);
        EXPECT_GT(text_pixels(f, row + 2, (int)(row + unit) - 2, (int)(left + unit), (int)(left + 17 * unit)), 20)
            << "no text in the row of entry " << item;
    }
    int empty = (int)(top + 17 * unit);
    EXPECT_EQ(text_pixels(f, empty, (int)(empty + 3 * unit), (int)left, (int)(left + area_w)), 0)
        << "below the notice the menu is empty";
}

TEST_F(MenusInTheGame, NewRaceThenBackToTheMenuAndQuit)
{
    // New Race, Start; later Esc, eight times down to Quit, Enter, and any key. A key pushed
    // after a frame is read in that frame's tics or, stamped after their ends, in the next
    // frame's: two frames apart, no two keys share a frame (a key in the frame a screen opened
    // is ignored on purpose).
    std::vector<std::pair<int, std::string>> script = { { 3, "enter" }, { 5, "down" }, { 7, "enter" }, { 20, "esc" } };
    for (int i = 0; i < 8; i++)
        script.push_back({ 22 + 2 * i, "down" });
    script.push_back({ 38, "enter" });
    script.push_back({ 40, "space" });
    GameRun r = run({ "--lock-fps", "30", "--nosound", "--debug" },
                    { "SK_QUIT_AFTER_FRAMES=200", "SK_TEST_KEYS=" + keys(script) });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.log.find("] New race on tracks/sample: the player is at gate 20\n"), std::string::npos) << r.log;
    size_t loop = r.log.find("] Main loop: ");
    ASSERT_NE(loop, std::string::npos);
    int frames = atoi(r.log.c_str() + loop + 13);
    EXPECT_GE(frames, 40);
    EXPECT_LT(frames, 60) << "Quit ended the game, not the frame limit";
    EXPECT_NE(r.log.find("] Writing config files\n"), std::string::npos);
    std::string config = read_file(home + "config");
    EXPECT_NE(config.find("track=tracks/sample\n"), std::string::npos) << config;
    EXPECT_NE(config.find("slot19=Human\n"), std::string::npos);
}

TEST_F(MenusInTheGame, GraphicsSettingChangedInTheMenuIsWrittenBack)
{
    // Graphics/Sound Setup (seventh entry), "Use High FPS Settings", then "Hide 1st Person
    // Rider" turned to "Yes".
    std::vector<std::pair<int, std::string>> script;
    int frame = 3;      // keys two frames apart, as above
    for (int i = 0; i < 6; i++, frame += 2)
        script.push_back({ frame, "down" });
    script.push_back({ frame, "enter" });
    frame += 2;
    for (int i = 0; i < 3; i++, frame += 2)
        script.push_back({ frame, "down" });
    script.push_back({ frame, "enter" });
    frame += 2;
    for (int i = 0; i < 5; i++, frame += 2)
        script.push_back({ frame, "down" });
    script.push_back({ frame, "right" });
    GameRun r = run({ "--lock-fps", "30", "--nosound" },
                    { "SK_QUIT_AFTER_FRAMES=" + std::to_string(frame + 3), "SK_TEST_KEYS=" + keys(script) });
    ASSERT_EQ(r.status, 0) << r.err;
    std::string config = read_file(home + "config");
    for (const char *line : { "ground_detail=50.000000\n", "texture_compress=Yes\n", "use_shader=No\n",
                              "roost_density=0.000000\n", "reshade_delay=10.000000\n", "hide_rider=Yes\n" })
        EXPECT_NE(config.find(line), std::string::npos) << line << config;
}

TEST_F(MenusInTheGame, AltEnterSwitchesBetweenFullScreenAndAWindow)
{
    GameRun r = run({ "--lock-fps", "30", "--nosound", "--record-video" },
                    { "SK_QUIT_AFTER_FRAMES=18",
                      "SK_TEST_KEYS=3:left alt+,5:enter,7:left alt-,9:right alt+,11:keypad enter,13:right alt-" });
    ASSERT_EQ(r.status, 0) << r.err;
    size_t windowed = r.log.find("] Windowed 640x480\n");
    ASSERT_NE(windowed, std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] Fullscreen in the desktop mode\n", windowed), std::string::npos) << "and back";
    std::vector<Frame> frames = video_frames(r.out);
    ASSERT_EQ(frames.size(), 18u);
    EXPECT_EQ(frames[9].width, 640) << "the window's frames while it was one";
    EXPECT_EQ(frames[9].height, 480);
    EXPECT_EQ(frames[17].width, frames[0].width);
}
