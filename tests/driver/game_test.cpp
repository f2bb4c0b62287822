// Runs the built game the way a player or a script would, under the test display.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "game_exe.h"

TEST_F(GameExe, QuitAfterFramesRunsTheWholeShutdownInOrder)
{
    GameRun r = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=3" });
    ASSERT_EQ(r.status, 0) << r.err;
    const char *order[] = { "Skorva version 2021-03-20-1564 snapshot\n", "GL_VENDOR: ", "GL_RENDERER: ", "GL_VERSION: ",
                            "GL_EXTENSIONS: ", "Deallocating bikes\n", "Finished deallocating bikes\n",
                            "Deallocating track\n", "Finished deallocating track\n", "Freeing memory (1)\n",
                            "Closing input devices\n", "Closing audio\n", "Writing config files\n",
                            "Freeing memory (2)\n", "Freeing memory (3)\n", "Freeing file list\n",
                            "Freeing memory (4)\n", "Deleting textures\n", "Deleting models\n" };
    size_t at = 0;
    for (const char *line : order) {
        size_t found = r.log.find(std::string("] ") + line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << r.log;
        at = found;
    }
    std::regex prefix(R"(^\[\d+:\d\d:\d\d\.\d\d\] )");
    std::istringstream lines(r.log);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_search(line, prefix)) << line;
        count++;
    }
    EXPECT_GE(count, 20);
    EXPECT_EQ(r.out, "") << "standard output stays clean for video capture";

    // Each stage once, and only what really happened.
    size_t first = r.log.find("] Closing input devices\n");
    EXPECT_EQ(r.log.find("] Closing input devices\n", first + 1), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find("Working set successfully updated"), std::string::npos);
    EXPECT_NE(r.log.find("] Working set range "), std::string::npos);
}

TEST_F(GameExe, BadCommandLinesExitWithStatus1)
{
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        { { "--weird" }, "bad option '--weird'\n" },
        { { "one.skdemo", "two.skdemo" }, "Too many files!\n" },
        { { "--texture-detail", "x" }, "Bad arg for --texture-detail\n" },
        { { "--ground-texture-detail", "x" }, "Bad arg for --ground-texture-detail\n" },
        { { "--roostfrequency", "x" }, "Bad arg for --roostfrequency\n" },
        { { "--erode", "x" }, "Bad arg for --erode\n" },
        { { "--detail", "x" }, "Bad arg for --detail\n" },
        { { "--max-detail-distance", "x" }, "Bad arg for --max-detail-distance\n" },
        { { "--lod-scale", "x" }, "Bad arg for --lod-scale\n" },
        { { "--lod-bias", "x" }, "Bad arg for --lod-bias\n" },
        { { "--lock-fps", "x" }, "Bad arg for --lock-fps\n" },
        { { "--fake-lag", "x" }, "Bad arg for --fake-lag\n" },
        { { "--fake-loss", "x" }, "Bad arg for --fake-loss\n" },
        { { "--chase-center", "1,2" }, "Bad arg for --chase-center\n" },
    };
    for (const Case &c : cases) {
        GameRun r = run(c.args, { "SK_QUIT_AFTER_FRAMES=1" });
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err, c.message);
    }
}

TEST_F(GameExe, EdgeCaseArgumentsStillStart)
{
    GameRun a = run({ "--super-debug", "--track=abc", "--texture-detail", "9", "--roostfrequency", "-5", "--fake-lag",
                  "250", "--erode", "100.5", "--bikes", "3" },
                { "SK_QUIT_AFTER_FRAMES=1" });
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.err, "--bikes doesn't do anything anymore\nTrack 'abc' not found\n");
    EXPECT_NE(a.log.find("texture_detail=4,4 roost=0 erode=102400 "), std::string::npos) << a.log;
    EXPECT_NE(a.log.find("fake_lag=0.25 "), std::string::npos);
    EXPECT_NE(a.log.find("track='abc'"), std::string::npos);

    GameRun b = run({ "--super-debug", "--track", "abc", "--", "--weird" }, { "SK_QUIT_AFTER_FRAMES=1" });
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_NE(b.log.find("track='abc' demo='--weird'"), std::string::npos) << b.log;
}

TEST_F(GameExe, CheckedAllocationsAreAllFreedAtShutdown)
{
    GameRun r = run({ "--lock-fps", "60" }, { "SK_QUIT_AFTER_FRAMES=2", "SK_CHECK_ALLOC=1" });
    ASSERT_EQ(r.status, 0) << r.err;
    std::regex live(R"(0x[0-9a-f]+:\d+)");
    EXPECT_FALSE(std::regex_search(r.err, live)) << "blocks still live:\n" << r.err;
}

TEST_F(GameExe, BadFreeIsReportedAndTheGameGoesOn)
{
    GameRun r = run({ "--lock-fps", "60" }, { "SK_QUIT_AFTER_FRAMES=2", "SK_CHECK_ALLOC=1", "SK_TEST_BAD_FREE=1" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(Allocation not found for 0x[0-9a-f]+!\n)"))) << r.err;
    EXPECT_EQ(r.err.find("Bad free changed the memory"), std::string::npos);
    EXPECT_NE(r.log.find("Destroying window"), std::string::npos) << "the whole shutdown still runs";
}

TEST_F(GameExe, NoDisplayIsAClearFailure)
{
    GameRun r = run({}, { "-DISPLAY", "-WAYLAND_DISPLAY", "SK_QUIT_AFTER_FRAMES=1" });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Can't open the game window"), std::string::npos) << r.err;
}

TEST_F(GameExe, MissingGameDataIsReported)
{
    std::string empty = root + "/empty";
    make_dirs(empty + "/");
    GameRun r = run({}, { "SK_HOME=" + empty, "SK_QUIT_AFTER_FRAMES=1" });
    EXPECT_EQ(r.status, 1) << "a start that fails is a failure";
    EXPECT_NE(r.err.find("Problem starting Skorva: Can't find game data"), std::string::npos) << r.err;
    EXPECT_NE(r.log.find("Can't find game data"), std::string::npos);
}

TEST_F(GameExe, ChangedSettingSurvivesTheNextRun)
{
    GameRun first = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(first.status, 0) << first.err;
    std::string config = read_file(home + "config");
    // The data's "config" names the sample track; the home copy gets every setting.
    EXPECT_NE(config.find("\ntrack=tracks/sample\n"), std::string::npos) << config;
    size_t fov = config.find("\nfov=110.000000\n");
    ASSERT_NE(fov, std::string::npos) << config;
    config.replace(fov, 17, "\nfov=90.000000\n");
    write_file(home + "config", config);

    GameRun second = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(second.status, 0) << second.err;
    ASSERT_NE(second.log.find("] Writing config files\n"), std::string::npos) << second.log;
    std::string again = read_file(home + "config");
    EXPECT_NE(again.find("\nfov=90.000000\n"), std::string::npos) << again;
    EXPECT_EQ(again.find("fov=110"), std::string::npos);
    EXPECT_NE(again.find("\ntrack=tracks/sample\n"), std::string::npos);
    EXPECT_EQ(again.find("xres=640\nyres=480\n"), 0u) << "the file starts with the window size";
}

TEST_F(GameExe, WindowSizeFromTheCommandLineIsNotWrittenBack)
{
    write_file(home + "config", "xres=800\nyres=600\nvideo_mode=Windowed\n");
    GameRun r = run({ "--width", "320", "--height", "240", "--lock-fps", "30", "--nosound" },
                    { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.log.find("] Window open: drawable 320x240\n"), std::string::npos) << r.log;
    std::string config = read_file(home + "config");
    EXPECT_EQ(config.find("xres=800\nyres=600\n"), 0u) << config;
    EXPECT_NE(config.find("\nvideo_mode=Windowed\n"), std::string::npos);
}

TEST_F(GameExe, ConfiguredWindowSizeIsUsed)
{
    write_file(home + "config", "xres=400\nyres=300\nvideo_mode=Windowed\n");
    GameRun r = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.log.find("] Window open: drawable 400x300\n"), std::string::npos) << r.log;
}

TEST_F(GameExe, DebugRunListsBothGeneratedTracks)
{
    GameRun r = run({ "--debug", "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    // Sorted by their names, "Practice Field" before "Sample Track".
    size_t practice = r.log.find("] tracks/practice -> Practice Field\n");
    size_t sample = r.log.find("] tracks/sample -> Sample Track\n");
    ASSERT_NE(practice, std::string::npos) << r.log;
    ASSERT_NE(sample, std::string::npos) << r.log;
    EXPECT_LT(practice, sample);
    EXPECT_NE(r.log.find("] Start track tracks/sample (Sample Track)\n"), std::string::npos);

    GameRun quiet = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.log.find("tracks/practice -> "), std::string::npos) << "only --debug lists them";
}

TEST_F(GameExe, GivenTrackThatIsNotInstalledFallsBackToTheFirst)
{
    GameRun r = run({ "--debug", "--track", "tracks/nowhere", "--lock-fps", "30", "--nosound" },
                    { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.log.find("] Start track tracks/practice (Practice Field)\n"), std::string::npos) << r.log;
    std::string config = read_file(home + "config");
    EXPECT_NE(config.find("\ntrack=tracks/sample\n"), std::string::npos) << "no track loaded: the configured one stays";
}

TEST_F(GameExe, NoTracksIsAFailure)
{
    // The test's own data directory holds the marker file and nothing else.
    GameRun r = run({ "--lock-fps", "30", "--nosound" }, { "SK_HOME=" + data, "SK_QUIT_AFTER_FRAMES=2" });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No tracks found\n");
    EXPECT_EQ(read_file(home + "config"), "") << "start-up ended before any settings were written";
}

TEST_F(GameExe, ConnectRemembersTheServer)
{
    GameRun r = run({ "--connect", "skorva:race.example.org", "--lock-fps", "30", "--nosound" },
                    { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    std::string config = read_file(home + "config");
    EXPECT_NE(config.find("\nserver_name=race.example.org\n"), std::string::npos) << config;
    EXPECT_NE(config.find("\nserver_name_hist00=race.example.org\nserver_name_hist01=\n"), std::string::npos);
    EXPECT_NE(config.find("\ntrack=tracks/sample\n"), std::string::npos);
}
