// The console's lines: chat and its rate limit, and every command with its replies.
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "bike/setup.h"
#include "common/messages.h"
#include "driver/args.h"
#include "driver/config.h"
#include "driver/console.h"
#include "driver/loop.h"
#include "driver_fixture.h"
#include "race/session.h"
#include "race/world.h"
#include "terrain/terrain.h"

struct Console : DriverDirs {
    void SetUp() override
    {
        DriverDirs::SetUp();
        loop_reset_for_tests();
        loop_init(nullptr);
        messages_clear();
        messages_set_clock(game_clock);
        messages_set_hide_spam(false);
        messages_set_max_showing(5);
        config_set_video_modes(nullptr, 0);
        config_apply_defaults();
        settings_defaults(startup_settings(), 70);
        console_reset_for_tests();
    }
    void TearDown() override
    {
        console_reset_for_tests();
        messages_set_hide_spam(false);
        messages_set_clock(nullptr);
        set_stutter_threshold(0);
        loop_reset_for_tests();
        DriverDirs::TearDown();
    }
    // Runs the line and returns what it posted, oldest first.
    static std::vector<std::string> run(const char *line)
    {
        int before = message_next_index();
        console_line(line);
        std::vector<std::string> posted;
        int n = (message_next_index() - before + MESSAGE_LOG_LINES) % MESSAGE_LOG_LINES;
        for (int age = n - 1; age >= 0; age--)
            posted.push_back(message_line(age));
        return posted;
    }
    static std::string reply(const char *line)
    {
        std::vector<std::string> posted = run(line);
        return posted.empty() ? "" : posted.back();
    }
};

TEST_F(Console, ChatIsLimitedToOneLineEveryTwoSeconds)
{
    EXPECT_EQ(reply("hello"), "Not connected to server");
    advance_game_clock(1.5);
    EXPECT_EQ(reply("again"), "No one likes a spammer");
    advance_game_clock(0.4999);
    EXPECT_EQ(reply("still"), "No one likes a spammer") << "refused lines do not restart the wait";
    advance_game_clock(0.0001);
    EXPECT_EQ(reply("now"), "Not connected to server");
    EXPECT_EQ(reply("/togglespy"), "Spy mode ON") << "commands are not chat";
}

TEST_F(Console, TogglesReplyWithTheirNames)
{
    struct Case {
        const char *line, *first, *second;
    };
    const Case cases[] = {
        { "/togglespy", "Spy mode ON", "Spy mode OFF" },
        { "/togglegraph", "Suspension graph ON", "Suspension graph OFF" },
        { "/togglekeycam", "Keycam mode ON", "Keycam mode OFF" },
        { "/togglefps", "FPS display ON", "FPS display OFF" },
        { "/toggletime", "Time display ON", "Time display OFF" },
        { "/toggleping", "Ping display OFF", "Ping display ON" },    // on by default
        { "/togglespeed", "Speed display ON", "Speed display OFF" },
        { "/togglespam", "Hide spam ON", "Hide spam OFF" },
        { "\\toggledecals", "Hide decals ON", "Hide decals OFF" },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(reply(c.line), c.first);
        EXPECT_EQ(reply(c.line), c.second);
    }
    reply("/togglefps");
    EXPECT_EQ(g_settings.draw_fps, 1) << "the HUD switches are the settings written back";
    EXPECT_EQ(startup_settings()->draw_fps, 1);
    reply("/toggledecals");
    EXPECT_TRUE(console_switch(SWITCH_HIDE_DECALS));
    EXPECT_TRUE(run("/togglespy now").empty()) << "toggles must be the whole line";
    EXPECT_TRUE(run("/bogus").empty()) << "an unknown command does nothing";
}

TEST_F(Console, HiddenSpamIsNotKept)
{
    reply("/togglespam");
    post_message("[SPAM] Setup change l");
    EXPECT_EQ(std::string(message_line(0)), "Hide spam ON");
    reply("/togglespam");
    post_message("[SPAM] Setup change l");
    EXPECT_EQ(std::string(message_line(0)), "[SPAM] Setup change l");
}

TEST_F(Console, ShownLinesExpireOnTheGameClock)
{
    advance_game_clock(100);
    messages_set_max_showing(5);
    for (int i = 0; i < 8; i++)
        reply("/togglespy");
    EXPECT_EQ(messages_showing(), 5);
    advance_game_clock(1.99);
    messages_update(game_clock());
    EXPECT_EQ(messages_showing(), 5);
    advance_game_clock(0.01);
    messages_update(game_clock());
    EXPECT_EQ(messages_showing(), 4) << "2 s after the last line the first goes";
    advance_game_clock(4.9);
    messages_update(game_clock());
    EXPECT_EQ(messages_showing(), 4);
    advance_game_clock(0.1);
    messages_update(game_clock());
    EXPECT_EQ(messages_showing(), 3) << "then one every 5 s";
}

TEST_F(Console, CommandsWithNumbers)
{
    struct Case {
        const char *line, *reply;
    };
    const Case cases[] = {
        { "/fov abc", "Usage: fov <degrees>" },
        { "/fov 500", "fov set" },
        { "/fov", "Usage: fov <degrees>" },
        { "/bbopt 12", "Billboard optimization window is now 12" },
        { "/bbopt-3", "Billboard optimization window is now 0" },
        { "/messagelines 3", "Maximum showing messages is now 3" },
        { "/messagelines 5000", "Maximum showing messages is now 1000" },
        { "/demobackups 4", "Now keeping 4 demo backups" },
        { "/mapscale 20", "Map scale set to 8.000000" },
        { "/mapscale 0.5", "Map scale set to 0.500000" },
        { "/reportstutter 0.25", "Stutter threshold set to 0.250000" },
        { "/log", "Logging 0x0, spacing 10.000000" },
        { "/log e 2.5", "Logging 0x1, spacing 2.500000" },
        { "/  log x", "Logging 0x0, spacing 10.000000" },
        { "/forcereload", "Track will be reloaded on next restart" },
        { "/camangle 10", "Usage: camangle <yaw> <pitch>" },
        { "/pipe 1 2 3 4 5", "No engine sound to retune" },
        { "/namedemoX", "Not currently recording a demo" },
        { "/namedemo race1", "Not currently recording a demo" },
        { "/fovhist", "Usage: fov <degrees>" },     // "fov" is matched as a prefix
    };
    for (const Case &c : cases)
        EXPECT_EQ(reply(c.line), c.reply) << c.line;
    EXPECT_EQ(g_settings.fov.value, 170) << "clamped as the setting";
    EXPECT_EQ(g_settings.map_scale.value, 0.5);
    EXPECT_EQ(g_settings.demo_backups, 4);
    EXPECT_EQ(g_settings.message_lines, 1000);
    const char *const silent[] = { "/camangle 10 20", "/randdump", "/clearlog", "/logx", "/renderstats",
                                   "/messagelines" };
    for (const char *line : silent)
        EXPECT_TRUE(run(line).empty()) << line;
    EXPECT_TRUE(console_switch(SWITCH_RENDER_STATS));
}

TEST_F(Console, FrameHistogramIsReportedThenCleared)
{
    // Frames 20 ms apart (2.56 tics) fall in the "at least 32 frames a second" bin.
    for (int i = 0; i < 3; i++) {
        g_fake_clock_us += 20000;
        loop_wait_for_frame();
    }
    EXPECT_EQ(reply("/fpshist"), "128=0 64=0 32=3 16=0 8=0 4=0 2=0 1=0 ");
    EXPECT_EQ(reply("/fpshist"), "128=0 64=0 32=0 16=0 8=0 4=0 2=0 1=0 ");
}

TEST_F(Console, SetupsAreReadAndWrittenByPlainName)
{
    g_setup.brake_torque.value = 320;
    EXPECT_EQ(reply("/writesetup fast"), "Setup written");
    EXPECT_NE(read_file(home + "setups/fast").find("brake_torque=320.000000\n"), std::string::npos);
    g_setup.brake_torque.value = 100;
    EXPECT_EQ(reply("/readsetup   fast  "), "Setup updated");
    EXPECT_EQ(g_setup.brake_torque.value, 320);
    EXPECT_EQ(reply("/readsetup missing"), "Error reading setup");
    EXPECT_NE(reply("/writesetup ../config").find("is not a setup name"), std::string::npos);
    EXPECT_EQ(read_file(home + "config"), "");
}

TEST_F(Console, CameraKeyframesStayInTicOrderAndRoundTrip)
{
    const int tics[] = { 100, 50, 75 };
    for (int t : tics) {
        set_race_tic(t);
        EXPECT_EQ(reply("/addkey"), "Keyframe added");
    }
    ASSERT_EQ(camera_key_count(), 3);
    EXPECT_EQ(camera_key(0)->tic, 50);
    EXPECT_EQ(camera_key(2)->tic, 100);
    std::vector<std::string> listed = run("/listkeys");
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0], "pos = { 0.00, 0.00, 0.00 }, rot = { 1.00, 0.00, 0.00, 0.00 }, time = 0.39");
    set_race_tic(80);
    EXPECT_EQ(reply("/rmkey"), "Keyframe deleted");
    ASSERT_EQ(camera_key_count(), 2);
    EXPECT_EQ(camera_key(1)->tic, 100) << "the last key not after the race tic went";
    EXPECT_EQ(reply("/writekeys path1"), "Camera keys saved");
    EXPECT_EQ(read_file(home + "keycam/path1"),
              "0.0000 0.0000 0.0000 1.0000 0.0000 0.0000 0.0000 110.00 50\n"
              "0.0000 0.0000 0.0000 1.0000 0.0000 0.0000 0.0000 110.00 100\n");
    EXPECT_EQ(reply("/clearkeys"), "Keyframes cleared");
    EXPECT_EQ(camera_key_count(), 0);
    write_file(home + "keycam/hand", "1 2 3 1 0 0 0 70 300\nnot a key\n4 5 6 1 0 0 0 nan 10\n7 8 9 0 1 0 0 60 20\n");
    EXPECT_EQ(reply("/readkeys hand"), "Camera keys updated");
    ASSERT_EQ(camera_key_count(), 2) << "lines that do not read as keys are skipped";
    EXPECT_EQ(camera_key(0)->tic, 20);
    EXPECT_EQ(camera_key(1)->position[0], 1);
    EXPECT_EQ(reply("/readkeys ../config"), "Error reading camera keys");
    EXPECT_EQ(reply("/writekeys ../escape"), "Error saving camera keys");
    EXPECT_EQ(read_file(root + "/xdg/Skorva/escape"), "");
    set_race_tic(0);
    EXPECT_TRUE(run("/deletekey").empty()) << "no key at or before the race tic";
    reply("/clearkeys");
    reply("/addkey");
    EXPECT_EQ(reply("/deletekey"), "Keyframe deleted");
    EXPECT_EQ(camera_key_count(), 0) << "with fewer than two keys the list is cleared";
}

TEST_F(Console, SendFileTakesOnlyPlainNames)
{
    const std::string bad = "Filename may only contain alphanumeric characters, '_' or '.'";
    EXPECT_EQ(reply("/sendfile ../config"), bad);
    EXPECT_EQ(reply("/sendfile .hidden"), bad);
    EXPECT_EQ(reply("/sendfile .."), bad);
    EXPECT_EQ(reply("/sendfile a/b"), bad);
    EXPECT_EQ(reply("/sendfile"), bad);
    EXPECT_EQ(reply(("/sendfile " + std::string(1014, 'a')).c_str()), "Filename too long");
    EXPECT_EQ(reply(("/sendfile " + std::string(1013, 'a')).c_str()), "Not connected to server");
    EXPECT_EQ(reply("/sendfile my_track.v2"), "Not connected to server");
    EXPECT_TRUE(run("/sendfiles x").empty()) << "the first word must be the command";
}

TEST_F(Console, ListFilesMatchesIgnoringCase)
{
    write_file(data + "/tracks/Canyon/terrain.hf", "x");
    write_file(data + "/font.png", "x");
    std::vector<std::string> all = run("/listfiles");
    std::vector<std::string> some = run("/listfiles CANYON");
    ASSERT_EQ(some.size(), 1u);
    EXPECT_EQ(some[0].find("tracks/Canyon/terrain.hf -> "), 0u) << some[0];
    EXPECT_GT(all.size(), some.size());
}

TEST_F(Console, TrackInfoAndVolumeOfTheLoadedTrack)
{
    EXPECT_TRUE(run("/savetrackinfo").empty()) << "nothing without a track";
    EXPECT_EQ(reply("/hfvol"), "0.000000\n");
    setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
    vfs_reset_for_tests();
    ASSERT_GT(track_list(), 0);
    ASSERT_TRUE(session_select_track("tracks/practice"));
    int requests[RIDER_SLOTS] = {};
    ASSERT_TRUE(load_session(requests, false, false, 0, 3, 0));
    EXPECT_EQ(reply("/savetrackinfo"), "Track info saved to tracks/practice.trackinfo");
    std::string info = read_file(home + "tracks/practice.trackinfo");
    const Timing *t = session_timing();
    std::string want = "dir=tracks/practice\nlongname=Practice Field\nfirstlap=" + std::to_string(t->first_count) +
                       "\nnormallap=" + std::to_string(t->normal_count) +
                       "\ngatecount=" + std::to_string(t->gate_count) + "\nhash=";
    char hex[3];
    for (int i = 0; i < 20; i++) {
        snprintf(hex, sizeof hex, "%02x", session_track_hash()[i]);
        want += hex;
    }
    EXPECT_EQ(info, want + "\n");
    const Terrain *terrain = session_terrain();
    double sum = 0;
    for (long i = 0; i < (long)terrain->dim * terrain->dim; i++)
        sum += terrain->heights[i];
    char volume[64];
    snprintf(volume, sizeof volume, "%f\n", sum);
    EXPECT_EQ(reply("/hfvol"), volume);
    free_riders();
    free_track();
    session_reset_for_tests();
    track_list_free();
}

TEST(ConsoleNames, OnlyNamesInsideTheHomeDirectory)
{
    const char *good[] = { "tracks/sample.trackinfo", "a", "x/y/z.txt", "..hidden" };
    const char *bad[] = { "", "/etc/passwd", "../x", "a/../../x", "a/./b", "a//b", "a\\b", "a/" };
    for (const char *n : good)
        EXPECT_TRUE(console_safe_name(n)) << n;
    for (const char *n : bad)
        EXPECT_FALSE(console_safe_name(n)) << n;
}
