#include "platform/clock.h"

#include <sched.h>
#include <time.h>

static struct {
    void (*source)(long *sec, long *usec);
} g_clock;

static struct timespec first_reading(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

static void system_clock(long *sec, long *usec)
{
    // The clock counts from its first reading; a function-level static is set once even
    // when the sound thread reads the clock first.
    static const struct timespec start = first_reading();
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long us = (long long)(now.tv_sec - start.tv_sec) * 1000000LL +
                   (now.tv_nsec - start.tv_nsec) / 1000;
    us -= us % 1000;        // a millisecond clock, as the game's timing rules assume
    *sec = (long)(us / 1000000);
    *usec = (long)(us % 1000000);
}

void clock_now(long *sec, long *usec)
{
    if (g_clock.source)
        g_clock.source(sec, usec);
    else
        system_clock(sec, usec);
}

double clock_seconds(void)
{
    long sec, usec;
    clock_now(&sec, &usec);
    return (double)sec + (double)usec * 1e-6;
}

void clock_set_source(void (*source)(long *sec, long *usec))
{
    g_clock.source = source;
}

bool clock_injected(void)
{
    return g_clock.source != nullptr;
}

void sleep_for(long sec, long usec)
{
    if (g_clock.source)
        return;
    struct timespec begin;
    clock_gettime(CLOCK_MONOTONIC, &begin);
    long long total_us = (long long)sec * 1000000LL + usec;
    if (total_us <= 0)
        return;
    if (total_us > 1000) {
        long long coarse = total_us - 1000;
        struct timespec req = { (time_t)(coarse / 1000000), (long)(coarse % 1000000) * 1000 };
        while (nanosleep(&req, &req) != 0) {
        }
    }
    for (;;) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long done = (long long)(now.tv_sec - begin.tv_sec) * 1000000LL + (now.tv_nsec - begin.tv_nsec) / 1000;
        if (done >= total_us)
            break;
        sched_yield();
    }
}
