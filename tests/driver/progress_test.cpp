#include <gtest/gtest.h>

#include <string>

#include "driver/progress.h"
#include "driver_fixture.h"
#include "terrain/terrain.h"

struct Progress : DriverDirs {
    void SetUp() override
    {
        DriverDirs::SetUp();
        progress_reset_for_tests();
    }
};

TEST_F(Progress, DotsCycleAtMostEveryEighthSecond)
{
    progress_log("Loading");
    progress_dots("Loading");
    EXPECT_STREQ(progress_shown_text(), "Loading");
    g_fake_clock_us += 100000;
    progress_dots("Loading");
    EXPECT_STREQ(progress_shown_text(), "Loading") << "within 0.125 s nothing changes";
    g_fake_clock_us += 25000;
    progress_dots("Loading");
    EXPECT_STREQ(progress_shown_text(), "Loading.");
    for (const char *want : { "Loading..", "Loading...", "Loading" }) {
        g_fake_clock_us += 125000;
        progress_dots("Loading");
        EXPECT_STREQ(progress_shown_text(), want);
    }
    g_fake_clock_us += 125000;
    progress_dots("Loading");
    progress_log("Next");
    progress_dots("Next");
    EXPECT_STREQ(progress_shown_text(), "Next") << "progress_log restarts the cycle";
}

TEST_F(Progress, DoneAndLongTextsAreCut)
{
    std::string long_text(100, 'x');
    progress_done(long_text.c_str());
    EXPECT_EQ(std::string(progress_shown_text()), std::string(64, 'x') + "...done");
    progress_log("");
    progress_done("Track");
    EXPECT_STREQ(progress_shown_text(), "Track...done");
}

TEST_F(Progress, LongestGapNamesTheMessageBeforeIt)
{
    progress_reset_max_delay();
    progress_message("Reading terrain");
    g_fake_clock_us += 300000;
    progress_message("Reading tiles");
    g_fake_clock_us += 1200000;
    progress_message("Building shading");
    g_fake_clock_us += 500000;
    progress_message("Done");
    const char *cause = nullptr;
    EXPECT_DOUBLE_EQ(progress_max_delay(&cause), 1.2);
    EXPECT_STREQ(cause, "Reading tiles");
    progress_reset_max_delay();
    EXPECT_EQ(progress_max_delay(&cause), 0);
    EXPECT_STREQ(cause, "");
}

TEST_F(Progress, LogWritesNonEmptyTexts)
{
    progress_log("Closing audio");
    progress_log("");
    progress_message("Not logged");
    std::string log = log_text();
    EXPECT_NE(log.find("] Closing audio\n"), std::string::npos);
    EXPECT_EQ(log.find("Not logged"), std::string::npos);
    EXPECT_EQ(log.find("] \n"), std::string::npos);
}

TEST_F(Progress, TicksCountEveryCall)
{
    for (int i = 0; i < 10; i++)
        progress_tick();
    EXPECT_EQ(progress_tick_count(), 10);
    EXPECT_EQ(progress_presented_frames(), 0) << "nothing is drawn without a window";
}

TEST_F(Progress, SampleTrackLoadShowsEveryStep)
{
    // The generated data, read in place: the load writes nothing.
    setenv("SK_HOME", SK_GAME_DATA_DIR, 1);
    vfs_reset_for_tests();
    progress_attach_loaders();
    Terrain t = {};
    bool loaded = terrain_load(&t, "@tracks/sample", 1);
    terrain_unload(&t);
    terrain_set_progress(nullptr);
    ASSERT_TRUE(loaded);
    EXPECT_STREQ(progress_shown_text(), "Loading decals...done") << "the last step is shown finished";
    std::string log = log_text();
    size_t at = 0;
    for (const char *step : { "Loading terrain\n", "Loading heights\n", "Loading shading\n", "Loading shadows\n",
                              "Loading tileinfo\n", "Loading tilemap\n", "Loading decals\n" }) {
        size_t found = log.find(std::string("] ") + step, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step << log;
        at = found;
    }
    // Our own data must load cleanly: a track maker copies it as the example.
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
    EXPECT_EQ(log.find("Warning"), std::string::npos) << log;
}
