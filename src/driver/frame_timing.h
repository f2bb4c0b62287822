// Frame timing: how much game time each frame of the main loop covers, and how many tics
// that is. Pure arithmetic over clock readings, so it runs without a window or a real clock.
#pragma once

#define TIC_SECONDS 0.0078125           // one tic, 1/128 s
enum {
    TICS_PER_SECOND = 128,
    MAX_TICS_PER_FRAME = 16,            // a frame's step is capped at 0.125 s
    WARP_TICS = 100,
    FRAME_HISTOGRAM_BINS = 8,
};

struct FrameTiming {
    long long previous_us;              // platform clock at the previous frame
    double lock_fps;                    // > 0: every frame is exactly 1/lock_fps of game time
    bool warp;                          // every frame is WARP_TICS tics, without waiting
    double pending;                     // game time stepped but not yet simulated (target - simulated)
    double shortest_step, longest_step; // game-time steps seen; 0 before the first frame
    int histogram[FRAME_HISTOGRAM_BINS];    // frame intervals: < 1, 2, 4 .. 64 tics, then >= 64
};

void frame_timing_init(FrameTiming *t, long long now_us, double lock_fps, bool warp);
// The bin of the histogram for a frame interval.
int  frame_histogram_bin(long long interval_us);
// First half of a frame's wait: counts the interval since the previous frame and returns how
// long to sleep before measuring (0: measure now). Locked rate and warp apply only offline.
long long frame_timing_wait(FrameTiming *t, long long now_us, bool connected);
// Second half: the game-time step of this frame (seconds), measured at now_us after the sleep.
double frame_timing_step(FrameTiming *t, long long now_us, bool connected);
// Factor on the step that follows the server's tic count: d is (server tic - race_tic - 1)
// tics in seconds.
double server_step_scale(double d, bool before_gate_drop);
// Adds a step to the game time still to simulate.
void frame_timing_add(FrameTiming *t, double step);
// Takes one tic when the stepped time covers it; *ends_ago gets how long before the present
// that tic ends (0 for the last tic of a frame). False when no whole tic is left.
bool frame_timing_take_tic(FrameTiming *t, double *ends_ago);
