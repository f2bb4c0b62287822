// The game and its home directory: no home, one it cannot write, one another instance holds;
// settings that must survive a run; ending the game by a signal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>

#include <string>
#include <vector>

#include "game_exe.h"

TEST_F(GameExe, WithoutAHomeNothingIsWrittenIntoTheData)
{
    std::string linked = linked_data();
    std::vector<std::string> before = listing(linked);
    GameRun r = run({ "--lock-fps", "30", "--nosound" },
                    { "SK_HOME=" + linked, "-HOME", "-XDG_DATA_HOME", "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("There is no home directory (neither XDG_DATA_HOME nor HOME is set): "
                         "this run saves no settings and writes no log."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(listing(linked), before) << "no config, lastlog.txt or other file lands in the data directory";
}

TEST_F(GameExe, UnwritableHomeIsReportedAndTheGameRunsWithoutSaving)
{
    // The home directory would have to be made inside a plain file: no user, root included,
    // can write there.
    write_file(root + "/blocked", "a file, not a folder\n");
    GameRun r = run({ "--lock-fps", "30", "--nosound" },
                    { "XDG_DATA_HOME=" + root + "/blocked", "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Can't write to the home directory " + root + "/blocked/Skorva/: "
                         "this run saves no settings and writes no log."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(root + "/blocked"), "a file, not a folder\n");
}

TEST_F(GameExe, SecondInstanceLogsApartAndNeverWritesTheSettings)
{
    // This test holds the home directory's lock as a first instance would.
    write_file(home + "config", "fov=90.000000\n");
    write_file(home + "lastlog.txt", "the first instance's log\n");
    int first = open(home.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(first, 0);
    ASSERT_EQ(flock(first, LOCK_EX | LOCK_NB), 0);
    GameRun second = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    close(first);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.err.find("Another Skorva is running with the home directory " + home + ": this one logs to " +
                              home + "lastlog-2.txt and does not save its settings."),
              std::string::npos)
        << second.err;
    EXPECT_EQ(read_file(home + "config"), "fov=90.000000\n");
    EXPECT_EQ(second.log, "the first instance's log\n");
    std::string own_log = read_file(home + "lastlog-2.txt");
    EXPECT_NE(own_log.find("] Settings not saved\n"), std::string::npos) << own_log;
    EXPECT_EQ(own_log.find("Writing config files"), std::string::npos);

    // With the first one gone the home is this run's own again.
    GameRun alone = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(alone.err, "");
    EXPECT_NE(alone.log.find("] Writing config files\n"), std::string::npos);
    EXPECT_NE(read_file(home + "config").find("\nfov=90.000000\n"), std::string::npos);
}

TEST_F(GameExe, ChosenBikeSurvivesTheRoundTrip)
{
    write_file(home + "config", "bike=crf450(2019)\n");
    GameRun r = run({ "--lock-fps", "30", "--nosound" }, { "SK_QUIT_AFTER_FRAMES=2" });
    ASSERT_EQ(r.status, 0) << r.err;
    std::string config = read_file(home + "config");
    EXPECT_NE(config.find("\nbike=crf450(2019)\n"), std::string::npos) << config;
    EXPECT_EQ(config.find("bike=yz250f(2017)"), std::string::npos);
}

TEST_F(GameExe, SigtermEndsTheGameThroughItsShutdown)
{
    // One frame a second: the signal arrives while the loop waits for the next frame.
    pid_t pid = start({ "--lock-fps", "1", "--nosound" });
    ASSERT_GT(pid, 0);
    bool running = wait_for_text(home + "lastlog.txt", "] Max loading delay was ", 60);
    if (running)
        usleep(300000);
    kill(pid, SIGTERM);
    GameRun r = finish(pid);
    ASSERT_TRUE(running) << read_file(home + "lastlog.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.log.find("] Signal 15: ending the game\n"), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("] Writing config files\n"), std::string::npos);
    EXPECT_NE(r.log.find("] Destroying window\n"), std::string::npos);
}
