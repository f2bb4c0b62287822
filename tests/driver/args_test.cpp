#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "driver/args.h"
#include "driver/config.h"

// Parses an argument list (without the program name) over the built-in defaults.
struct Parsed {
    StartupSettings s;
    int status;
    std::string err;
};

static Parsed parse(std::vector<std::string> args)
{
    std::vector<char *> argv;
    static char prog[] = "skorva";
    argv.push_back(prog);
    for (std::string &a : args)
        argv.push_back(a.data());
    Parsed p;
    settings_defaults(&p.s, 70);
    testing::internal::CaptureStderr();
    p.status = parse_command_line((int)argv.size(), argv.data(), &p.s);
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

TEST(CommandLineValues, TrackByEqualsOrNextArgument)
{
    Parsed a = parse({ "--track=abc" });
    Parsed b = parse({ "--track", "abc" });
    EXPECT_EQ(a.status, ARGS_OK);
    EXPECT_EQ(b.status, ARGS_OK);
    EXPECT_STREQ(a.s.track, "abc");
    EXPECT_STREQ(b.s.track, "abc");
    EXPECT_STREQ(b.s.demo_file, "") << "the value must not also count as a file";
}

TEST(CommandLineValues, TrackAsLastArgumentKeepsConfiguredTrack)
{
    std::vector<char *> argv;
    char prog[] = "skorva", opt[] = "--track";
    argv = { prog, opt };
    StartupSettings s;
    settings_defaults(&s, 70);
    snprintf(s.track, sizeof s.track, "configured");
    EXPECT_EQ(parse_command_line(2, argv.data(), &s), ARGS_OK);
    EXPECT_STREQ(s.track, "configured");
}

TEST(CommandLineValues, ClampsAndUnits)
{
    Parsed p = parse({ "--texture-detail", "9", "--roostfrequency", "-5", "--fake-lag", "250", "--erode", "100.5" });
    ASSERT_EQ(p.status, ARGS_OK);
    EXPECT_EQ(p.s.model_texture_detail, 4);
    EXPECT_EQ(p.s.ground_texture_detail, 4);
    EXPECT_EQ(p.s.roost_frequency, 0);
    EXPECT_FLOAT_EQ(p.s.fake_lag, 0.25f);
    EXPECT_EQ(p.s.erode_rate, 102400);      // clamped to 100, times 1024

    Parsed q = parse({ "--erode=0.5", "--fake-loss=150", "--ground-texture-detail=-3", "--lod-scale=0" });
    ASSERT_EQ(q.status, ARGS_OK);
    EXPECT_EQ(q.s.erode_rate, 512);
    EXPECT_EQ(q.s.fake_loss, 100);
    EXPECT_EQ(q.s.ground_texture_detail, 0);
    EXPECT_EQ(q.s.model_texture_detail, 4) << "only the ground level changes";
    EXPECT_FLOAT_EQ(q.s.lod_scale, 1e-6f);

    Parsed r = parse({ "--fake-lag", "2000", "--max-detail-distance", "30", "--lock-fps", "30" });
    EXPECT_FLOAT_EQ(r.s.fake_lag, 1.0f);
    EXPECT_FLOAT_EQ(r.s.max_detail_distance, 30);
    EXPECT_FLOAT_EQ(r.s.detail_fade_end, 35);
    EXPECT_FLOAT_EQ(r.s.lock_fps, 30);
}

TEST(CommandLineValues, DetailNeverReachesZero)
{
    EXPECT_FLOAT_EQ(terrain_detail_for(70), 0.125f / 70);
    EXPECT_TRUE(std::isfinite(terrain_detail_for(0)));
    EXPECT_FLOAT_EQ(terrain_detail_for(0), 0.125f / 1e-6f);
    Parsed p = parse({ "--detail", "0" });
    ASSERT_EQ(p.status, ARGS_OK);
    EXPECT_GT(p.s.terrain_detail, 0);
    EXPECT_TRUE(std::isfinite(1.0f / p.s.terrain_detail));
    Parsed q = parse({ "--detail", "0.25" });
    EXPECT_FLOAT_EQ(q.s.terrain_detail, 0.25f);
}

TEST(CommandLineValues, ChaseCenterAndConnect)
{
    Parsed p = parse({ "--chase-center=1,2.5,-3", "--connect", "skorva:race.example.org", "--password", "pw" });
    ASSERT_EQ(p.status, ARGS_OK);
    EXPECT_FLOAT_EQ(p.s.chase_center[0], 1);
    EXPECT_FLOAT_EQ(p.s.chase_center[1], 2.5f);
    EXPECT_FLOAT_EQ(p.s.chase_center[2], -3);
    EXPECT_TRUE(p.s.connect_requested);
    EXPECT_STREQ(p.s.server, "race.example.org");
    EXPECT_STREQ(p.s.password, "pw");
    Parsed d = parse({});
    EXPECT_FLOAT_EQ(d.s.chase_center[1], 2.52f);
    EXPECT_FLOAT_EQ(d.s.chase_center[2], 0.52f);
    EXPECT_EQ(d.s.depth, 16);
    EXPECT_EQ(d.s.zdepth, 16);
    EXPECT_TRUE(d.s.show_hud);
    EXPECT_TRUE(d.s.show_paused);
}

TEST(CommandLineFlags, SwitchesAndHiddenDisplays)
{
    Parsed p = parse({ "--fugly", "--nosound", "--nolearn", "--super-debug", "--warp", "--hidden-hud",
                       "--hidden-pause", "--editor", "--record-video", "--nommx", "--glfinish", "--width", "800",
                       "--height=600", "--depth", "32", "--draw-fps", "1" });
    ASSERT_EQ(p.status, ARGS_OK);
    EXPECT_TRUE(p.s.flat_shading);
    EXPECT_TRUE(p.s.sound_off);
    EXPECT_FALSE(p.s.learn_lines);
    EXPECT_EQ(p.s.verbosity, 2);
    EXPECT_TRUE(p.s.warp);
    EXPECT_FALSE(p.s.show_hud);
    EXPECT_FALSE(p.s.show_paused);
    EXPECT_TRUE(p.s.editor);
    EXPECT_TRUE(p.s.record_video);
    EXPECT_TRUE(p.s.glfinish);
    EXPECT_EQ(p.s.width, 800);
    EXPECT_EQ(p.s.height, 600);
    EXPECT_EQ(p.s.depth, 32);
    EXPECT_EQ(p.s.draw_fps, 1);
}

TEST(CommandLineFiles, DoubleDashMakesTheRestFiles)
{
    Parsed p = parse({ "--", "--weird" });
    ASSERT_EQ(p.status, ARGS_OK);
    EXPECT_STREQ(p.s.demo_file, "--weird");
    Parsed f = parse({ "--", "--fugly" });
    EXPECT_FALSE(f.s.flat_shading) << "--fugly counts only before --";
    EXPECT_STREQ(f.s.demo_file, "--fugly");
}

TEST(CommandLineFiles, SecondFileIsRefused)
{
    Parsed p = parse({ "a.skdemo", "b.skdemo" });
    EXPECT_EQ(p.status, ARGS_EXIT_FAILURE);
    EXPECT_EQ(p.err, "Too many files!\n");
    Parsed q = parse({ "a.skdemo", "--", "b.skdemo" });
    EXPECT_EQ(q.status, ARGS_EXIT_FAILURE);
}

TEST(CommandLineErrors, BikesOnlyPrintsItsNotice)
{
    Parsed p = parse({ "--bikes", "3" });
    EXPECT_EQ(p.status, ARGS_OK);
    EXPECT_EQ(p.err, "--bikes doesn't do anything anymore\n");
    EXPECT_STREQ(p.s.demo_file, "");
}

TEST(CommandLineErrors, UnknownOptions)
{
    Parsed p = parse({ "--weird" });
    EXPECT_EQ(p.status, ARGS_EXIT_FAILURE);
    EXPECT_EQ(p.err, "bad option '--weird'\n");
    Parsed q = parse({ "--nosound=1" });
    EXPECT_EQ(q.status, ARGS_EXIT_FAILURE) << "a switch takes no value";
    EXPECT_EQ(q.err, "bad option '--nosound=1'\n");
    Parsed r = parse({ "--tracks" });
    EXPECT_EQ(r.err, "bad option '--tracks'\n") << "options match the whole argument";
}

TEST(CommandLineErrors, EveryBadValueMessage)
{
    const char *numeric[] = { "--texture-detail", "--ground-texture-detail", "--roostfrequency", "--erode",
                              "--detail", "--max-detail-distance", "--lod-scale", "--lod-bias", "--lock-fps",
                              "--fake-lag", "--fake-loss" };
    for (const char *opt : numeric) {
        std::string want = std::string("Bad arg for ") + opt + "\n";
        Parsed p = parse({ opt, "abc" });
        EXPECT_EQ(p.status, ARGS_EXIT_FAILURE) << opt;
        EXPECT_EQ(p.err, want);
        Parsed last = parse({ opt });
        EXPECT_EQ(last.status, ARGS_EXIT_FAILURE) << opt << " as the last argument has no value";
        EXPECT_EQ(last.err, want);
    }
    Parsed c = parse({ "--chase-center", "1,2" });
    EXPECT_EQ(c.status, ARGS_EXIT_FAILURE);
    EXPECT_EQ(c.err, "Bad arg for --chase-center\n");
    Parsed n = parse({ "--lod-bias", "nan" });
    EXPECT_EQ(n.err, "Bad arg for --lod-bias\n") << "a value that is not a number is refused";
    Parsed inf = parse({ "--detail=inf" });
    EXPECT_EQ(inf.err, "Bad arg for --detail\n");
}

TEST(CommandLineErrors, RatesAndSizesTheGameCannotRunAreRefused)
{
    // A lock below 1 fps would sleep for ages (or spin on a wrapped wait); above 1000 the
    // frame wait is under a millisecond. Bits and sizes must never turn into window flags.
    struct Case {
        std::vector<std::string> args;
        const char *err;
    };
    const Case refused[] = {
        { { "--lock-fps", "1e-30" }, "Bad arg for --lock-fps\n" },
        { { "--lock-fps", "0.001" }, "Bad arg for --lock-fps\n" },
        { { "--lock-fps", "-5" }, "Bad arg for --lock-fps\n" },
        { { "--lock-fps", "1000.5" }, "Bad arg for --lock-fps\n" },
        { { "--depth", "512" }, "Bad arg for --depth (16, 24 or 32)\n" },
        { { "--depth", "-1" }, "Bad arg for --depth (16, 24 or 32)\n" },
        { { "--depth" }, "Bad arg for --depth (16, 24 or 32)\n" },
        { { "--zdepth", "256" }, "Bad arg for --zdepth (0 to 32)\n" },
        { { "--width", "100000" }, "Bad arg for --width (320 to 16384 pixels)\n" },
        { { "--width", "319" }, "Bad arg for --width (320 to 16384 pixels)\n" },
        { { "--height=-480" }, "Bad arg for --height (240 to 16384 pixels)\n" },
    };
    for (const Case &c : refused) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.status, ARGS_EXIT_FAILURE) << c.args[0];
        EXPECT_EQ(p.err, c.err);
    }
    Parsed ok = parse({ "--lock-fps", "1", "--depth", "24", "--zdepth", "0", "--width", "320", "--height", "16384" });
    ASSERT_EQ(ok.status, ARGS_OK) << ok.err;
    EXPECT_FLOAT_EQ(ok.s.lock_fps, 1);
    EXPECT_EQ(ok.s.depth, 24);
    EXPECT_EQ(ok.s.zdepth, 0);
    EXPECT_EQ(ok.s.width, 320);
    EXPECT_EQ(ok.s.height, 16384);
    EXPECT_FLOAT_EQ(parse({ "--lock-fps=1000" }).s.lock_fps, 1000);
    EXPECT_FLOAT_EQ(parse({ "--lock-fps=0" }).s.lock_fps, 0) << "0 turns the lock off";
}

TEST(CommandLineValues, ConnectWithoutAnAddressKeepsTheConfiguredServer)
{
    config_apply_defaults();
    snprintf(g_settings.server_name, sizeof g_settings.server_name, "race.example.org");
    config_push_server_name("race.example.org");
    for (const std::vector<std::string> &args : { std::vector<std::string>{ "--connect" },
                                                   std::vector<std::string>{ "--connect=skorva:" } }) {
        Parsed p = parse(args);
        ASSERT_EQ(p.status, ARGS_OK);
        EXPECT_TRUE(p.s.connect_requested);
        EXPECT_STREQ(p.s.server, "race.example.org");
        EXPECT_STREQ(g_settings.server_name, "race.example.org") << "the saved server is not blanked";
        EXPECT_STREQ(g_settings.server_name_hist[0], "race.example.org");
        EXPECT_STREQ(g_settings.server_name_hist[1], "");
    }
    config_apply_defaults();
}

TEST(CommandLineValues, TextureDetailComesFromTheConfiguration)
{
    // The level is the number of mip levels dropped: 10 minus the configured detail. The
    // options override it for one run, each within 0..4.
    config_apply_defaults();
    number_set(&g_settings.model_texture_detail, 7);
    number_set(&g_settings.ground_texture_detail, 10);
    StartupSettings s;
    settings_from_config(&s);
    EXPECT_EQ(s.model_texture_detail, 3);
    EXPECT_EQ(s.ground_texture_detail, 0);
    std::vector<char *> argv;
    char prog[] = "skorva", opt[] = "--ground-texture-detail=2";
    argv = { prog, opt };
    ASSERT_EQ(parse_command_line(2, argv.data(), &s), ARGS_OK);
    EXPECT_EQ(s.model_texture_detail, 3) << "only the ground level changes";
    EXPECT_EQ(s.ground_texture_detail, 2);
    number_set(&g_settings.model_texture_detail, 0);
    settings_from_config(&s);
    EXPECT_EQ(s.model_texture_detail, 10);
    config_apply_defaults();
    settings_from_config(&s);
    EXPECT_EQ(s.model_texture_detail, 1) << "preset 0 has detail 9";
    EXPECT_EQ(s.ground_texture_detail, 1);
}

TEST(CommandLineErrors, HugeIntegersSaturate)
{
    Parsed p = parse({ "--roostfrequency", "99999999999999999999", "--fake-loss", "-99999999999999" });
    ASSERT_EQ(p.status, ARGS_OK);
    EXPECT_EQ(p.s.roost_frequency, 1000);
    EXPECT_EQ(p.s.fake_loss, 0);
}
