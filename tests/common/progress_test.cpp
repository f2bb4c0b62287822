#include <gtest/gtest.h>

#include <string>

#include "../platform/test_support.h"
#include "common/progress.h"

using namespace platform_test;

struct Progress : ::testing::Test {
    void SetUp() override
    {
        start_log_capture();
        use_fake_clock(0);
        progress_set_hooks(nullptr);
        progress_reset_for_tests();
    }
    void TearDown() override
    {
        progress_set_hooks(nullptr);
        clock_set_source(nullptr);
        stop_log_capture();
    }
};

TEST_F(Progress, DotsCycleAtMostEveryEighthSecond)
{
    progress_log("Loading");
    progress_dots("Loading");
    EXPECT_STREQ(progress_shown_text(), "Loading");
    fake_now_us() += 100000;
    progress_dots("Loading");
    EXPECT_STREQ(progress_shown_text(), "Loading") << "within 0.125 s nothing changes";
    fake_now_us() += 25000;
    progress_dots("Loading");
    EXPECT_STREQ(progress_shown_text(), "Loading.");
    for (const char *want : { "Loading..", "Loading...", "Loading" }) {
        fake_now_us() += 125000;
        progress_dots("Loading");
        EXPECT_STREQ(progress_shown_text(), want);
    }
    fake_now_us() += 125000;
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
    fake_now_us() += 300000;
    progress_message("Reading tiles");
    fake_now_us() += 1200000;
    progress_message("Building shading");
    fake_now_us() += 500000;
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
    EXPECT_EQ(captured_log(), "Closing audio\n");
}

TEST_F(Progress, TicksCountEveryCall)
{
    for (int i = 0; i < 10; i++)
        progress_tick();
    EXPECT_EQ(progress_tick_count(), 10);
    EXPECT_EQ(progress_presented_frames(), 0) << "nothing is drawn without a window";
}

static int g_drained, g_cleared, g_presented_ticks;
static std::string g_presented;
static bool g_can_present;

static void drain(void) { g_drained++; }
static void clear(void) { g_cleared++; }
static bool present(const char *text, int ticks, bool indicator)
{
    g_presented = std::string(text) + (indicator ? " *" : "");
    g_presented_ticks = ticks;
    return g_can_present;
}

TEST_F(Progress, TheWindowLayerPumpsAndDrawsThroughItsHooks)
{
    static const ProgressHooks k_hooks = { drain, clear, present };
    progress_set_hooks(&k_hooks);
    g_drained = g_cleared = 0;
    g_can_present = true;
    progress_log("Loading bikes");
    EXPECT_EQ(g_presented, "Loading bikes");
    EXPECT_EQ(g_drained, 1);
    EXPECT_EQ(g_cleared, 1) << "held controls are forgotten at every message";
    progress_tick();
    EXPECT_EQ(g_presented, "Loading bikes *") << "ticks draw the indicator over the last text";
    EXPECT_EQ(g_presented_ticks, 1);
    EXPECT_EQ(g_drained, 2);
    EXPECT_EQ(g_cleared, 1) << "ticks only keep the window responsive";
    EXPECT_EQ(progress_presented_frames(), 2);
    g_can_present = false;
    progress_message("No drawable");
    EXPECT_EQ(progress_presented_frames(), 2) << "a frame that could not be shown is not counted";
}
