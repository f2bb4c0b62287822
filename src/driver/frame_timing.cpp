#include "driver/frame_timing.h"

#include <string.h>

// Stepped time is summed from decimal clock readings; a whole tic that is short only by
// rounding still runs, so one second of frames is exactly 128 tics.
static const double k_tic_slack = 1e-9;

static const long long k_tic_us2 = 15625;       // one tic in half microseconds

void frame_timing_init(FrameTiming *t, long long now_us, double lock_fps, bool warp)
{
    memset(t, 0, sizeof *t);
    t->previous_us = now_us;
    t->lock_fps = lock_fps > 0 ? lock_fps : 0;
    t->warp = warp;
}

int frame_histogram_bin(long long interval_us)
{
    long long us2 = interval_us * 2;
    for (int bin = 0; bin < FRAME_HISTOGRAM_BINS - 1; bin++)
        if (us2 < (k_tic_us2 << bin))
            return bin;
    return FRAME_HISTOGRAM_BINS - 1;
}

long long frame_timing_wait(FrameTiming *t, long long now_us, bool connected)
{
    long long interval = now_us - t->previous_us;
    if (interval < 0)
        interval = 0;
    t->histogram[frame_histogram_bin(interval)]++;
    long long due;
    if (!connected && t->lock_fps > 0)
        due = (long long)(1e6 / t->lock_fps + 0.5);
    else if (!connected && t->warp)
        return 0;
    else
        due = k_tic_us2 / 2 + 1;    // one tic, 7812.5 us, rounded up
    return interval < due ? due - interval : 0;
}

double frame_timing_step(FrameTiming *t, long long now_us, bool connected)
{
    double step;
    if (!connected && t->lock_fps > 0) {
        step = 1.0 / t->lock_fps;
    } else if (!connected && t->warp) {
        step = (double)WARP_TICS * TIC_SECONDS;
    } else {
        long long interval = now_us - t->previous_us;
        step = interval < 0 ? 0 : (double)interval * 1e-6;
        if (step > (double)MAX_TICS_PER_FRAME * TIC_SECONDS)
            step = (double)MAX_TICS_PER_FRAME * TIC_SECONDS;
    }
    t->previous_us = now_us;
    if (t->shortest_step == 0 || step < t->shortest_step)
        t->shortest_step = step;
    if (step > t->longest_step)
        t->longest_step = step;
    return step;
}

static double clamp01(double v)
{
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

double server_step_scale(double d, bool before_gate_drop)
{
    if (d < 0)
        return (clamp01(d + 1) + 1) / 2;
    if (before_gate_drop)
        return 1 + 3 * clamp01(d);
    return 1 + 0.125 * clamp01(8 * d);
}

void frame_timing_add(FrameTiming *t, double step)
{
    if (step > 0)
        t->pending += step;
}

bool frame_timing_take_tic(FrameTiming *t, double *ends_ago)
{
    if (t->pending < TIC_SECONDS - k_tic_slack)
        return false;
    t->pending -= TIC_SECONDS;
    if (t->pending < 0)
        t->pending = 0;
    *ends_ago = t->pending;
    return true;
}
