#include <gtest/gtest.h>

#include "driver/frame_timing.h"

// Runs one frame whose clock reads now_us (no sleeping: the test owns time) and returns
// the number of tics it covers.
static int frame(FrameTiming *t, long long now_us, bool connected = false)
{
    long long wait = frame_timing_wait(t, now_us, connected);
    double step = frame_timing_step(t, now_us + wait, connected);
    frame_timing_add(t, step);
    int tics = 0;
    double ago;
    while (frame_timing_take_tic(t, &ago))
        tics++;
    return tics;
}

TEST(FrameTics, SixtyFramesASecondRunExactly128Tics)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 0, false);
    int total = 0;
    for (int k = 1; k <= 60; k++) {
        long long now_ms = k * 1000LL / 60;      // a millisecond clock: 16 and 17 ms frames
        int tics = frame(&t, now_ms * 1000);
        EXPECT_TRUE(tics == 2 || tics == 3) << "frame " << k << " ran " << tics;
        total += tics;
    }
    EXPECT_EQ(total, 128);
}

TEST(FrameTics, StallRunsSixteenTicsNotAllOfThem)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 0, false);
    frame(&t, 16000);
    EXPECT_EQ(frame(&t, 16000 + 2000000), 16);
    EXPECT_DOUBLE_EQ(t.longest_step, 0.125);
}

TEST(FrameTics, LockedRateAdvancesExactlyOneFrameTime)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 30, false);
    // However long a frame took, its step is 1/30 s.
    const long long times[] = { 5000, 40000, 500000, 510000, 3000000 };
    double stepped = 0;
    for (long long now : times) {
        long long wait = frame_timing_wait(&t, now, false);
        double step = frame_timing_step(&t, now + wait, false);
        EXPECT_DOUBLE_EQ(step, 1.0 / 30);
        stepped += step;
    }
    EXPECT_NEAR(stepped, 5.0 / 30, 1e-12);
    // Thirty locked frames are one second of game time: 128 tics.
    frame_timing_init(&t, 0, 30, false);
    int total = 0;
    for (int k = 1; k <= 30; k++)
        total += frame(&t, k * 1000);
    EXPECT_EQ(total, 128);
}

TEST(FrameTics, LockedRateSleepsUntilTheFrameIsDue)
{
    FrameTiming t;
    frame_timing_init(&t, 1000000, 30, false);
    EXPECT_EQ(frame_timing_wait(&t, 1010000, false), 33333 - 10000);
    EXPECT_EQ(frame_timing_wait(&t, 1050000, false), 0);
}

TEST(FrameTics, WarpRuns100TicsWithoutWaiting)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 0, true);
    EXPECT_EQ(frame_timing_wait(&t, 1000, false), 0);
    EXPECT_EQ(frame(&t, 1000), 100);
    EXPECT_EQ(frame(&t, 1000), 100);
}

TEST(FrameTics, LockAndWarpOnlyApplyOffline)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 0, true);
    EXPECT_EQ(frame(&t, 31250, true), 4);          // measured: 31.25 ms is 4 tics
    frame_timing_init(&t, 0, 30, false);
    EXPECT_DOUBLE_EQ(frame_timing_step(&t, 62500, true), 0.0625);
}

TEST(FrameTics, ShortFrameWaitsForTheRestOfATic)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 0, false);
    EXPECT_EQ(frame_timing_wait(&t, 3000, false), 7813 - 3000);
    EXPECT_EQ(frame_timing_wait(&t, 9000, false), 0);
    // The sleep makes the short frame a whole tic; the fraction left over from 12 ms
    // frames (1.536 tics) carries into the next frame.
    frame_timing_init(&t, 0, 0, false);
    EXPECT_EQ(frame(&t, 5000), 1);
    EXPECT_EQ(frame(&t, 19813), 1);
    EXPECT_EQ(frame(&t, 31813), 2);
}

TEST(FrameTics, TicEndsCountBackFromThePresent)
{
    FrameTiming t;
    frame_timing_init(&t, 0, 0, false);
    frame_timing_add(&t, 3 * TIC_SECONDS);
    double ago[3];
    for (double &a : ago)
        ASSERT_TRUE(frame_timing_take_tic(&t, &a));
    EXPECT_DOUBLE_EQ(ago[0], 2 * TIC_SECONDS);
    EXPECT_DOUBLE_EQ(ago[1], TIC_SECONDS);
    EXPECT_DOUBLE_EQ(ago[2], 0);
    double a;
    EXPECT_FALSE(frame_timing_take_tic(&t, &a));
}

TEST(FrameHistogram, BinsByTics)
{
    EXPECT_EQ(frame_histogram_bin(0), 0);
    EXPECT_EQ(frame_histogram_bin(7812), 0);        // shorter than one tic
    EXPECT_EQ(frame_histogram_bin(7813), 1);
    EXPECT_EQ(frame_histogram_bin(16000), 2);       // 60 fps: 2.05 tics
    EXPECT_EQ(frame_histogram_bin(499999), 6);      // just under 64 tics
    EXPECT_EQ(frame_histogram_bin(500000), 7);
    EXPECT_EQ(frame_histogram_bin(5000000), 7);
    FrameTiming t;
    frame_timing_init(&t, 0, 0, false);
    frame(&t, 16000);
    frame(&t, 32000);
    frame(&t, 2032000);
    EXPECT_EQ(t.histogram[2], 2);
    EXPECT_EQ(t.histogram[7], 1);
}

TEST(ServerStepScale, FollowsTheServerTic)
{
    EXPECT_DOUBLE_EQ(server_step_scale(0, false), 1);
    EXPECT_DOUBLE_EQ(server_step_scale(-0.5, false), 0.75);
    EXPECT_DOUBLE_EQ(server_step_scale(-3, true), 0.5);
    EXPECT_DOUBLE_EQ(server_step_scale(0.5, true), 2.5);
    EXPECT_DOUBLE_EQ(server_step_scale(2, true), 4);
    EXPECT_DOUBLE_EQ(server_step_scale(0.0625, false), 1.0625);
    EXPECT_DOUBLE_EQ(server_step_scale(1, false), 1.125);
}
