#include <gtest/gtest.h>

#include <time.h>

#include "platform/clock.h"
#include "test_support.h"

using namespace platform_test;

static long long now_us()
{
    long sec, usec;
    clock_now(&sec, &usec);
    return (long long)sec * 1000000 + usec;
}

TEST(Clock, CountsWholeMillisecondsAndNeverGoesBack)
{
    clock_set_source(nullptr);
    long long last = now_us();
    for (int i = 0; i < 1000; i++) {
        long sec, usec;
        clock_now(&sec, &usec);
        EXPECT_GE(usec, 0);
        EXPECT_LT(usec, 1000000);
        EXPECT_EQ(usec % 1000, 0);
        long long t = (long long)sec * 1000000 + usec;
        EXPECT_GE(t, last);
        last = t;
    }
}

TEST(Clock, SleepWaitsAtLeastTheDuration)
{
    // The one test that must use real time: sleep_for is what it measures.
    clock_set_source(nullptr);
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    sleep_for(0, 15000);
    clock_gettime(CLOCK_MONOTONIC, &b);
    long long us = (long long)(b.tv_sec - a.tv_sec) * 1000000 + (b.tv_nsec - a.tv_nsec) / 1000;
    EXPECT_GE(us, 15000);
    EXPECT_LT(us, 15000 + 200000);
}

TEST(Clock, InjectedClockIsReadAndSleepReturnsAtOnce)
{
    use_fake_clock(5 * 1000000LL + 250000);
    long sec, usec;
    clock_now(&sec, &usec);
    EXPECT_EQ(sec, 5);
    EXPECT_EQ(usec, 250000);
    EXPECT_DOUBLE_EQ(clock_seconds(), 5.25);
    sleep_for(100, 0);
    clock_now(&sec, &usec);
    EXPECT_EQ(sec, 5);
    clock_set_source(nullptr);
}
