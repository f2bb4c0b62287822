// One second of engine sound: 1, 16 and 40 engine voices synthesised at 60 frames a second and
// mixed, at the live device's rate (22,050 Hz, fragments of 1/64 s) and at the recording's
// (88,320 Hz, a block a tic), each voice on its class's default sound with the engine sweeping
// its rpm and throttle. One iteration is one second of sound: the time it takes is the share of
// a core the game's sound costs (50 ms a second is 5 %).
// The data comes from SK_HOME, else the "game" folder beside this executable.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bench_home.h"
#include "audio/engine_sound.h"
#include "audio/sound.h"
#include "race/world.h"

static const char *const k_classes[] = { "450f", "250f", "125", "250", "50" };
static double g_clock;          // seconds of sound made so far

static bool prepare_data(void)
{
    static bool ready = false;
    static char home[PATH_MAX];
    if (ready)
        return true;
    ready = true;
    // Nothing of the user's own data.
    return bench_home_prepare("skaudiobench", home, sizeof home);
}

// Every bike somewhere on a 200-ft circle round the listener, its engine sweeping.
static bool sweeping_engine(int slot, EngineReading *out)
{
    double phase = g_clock * 0.5 + slot * 0.37;
    float angle = (float)(slot * 0.7 + g_clock * 0.2);
    out->present = true;
    out->rpm = (float)(4000 + 3500 * sin(phase));
    out->torque = (float)(15 + 15 * sin(phase * 1.3));
    out->position = { 100 * cosf(angle), 0, 100 * sinf(angle) };
    out->velocity = { -20 * sinf(angle), 0, 20 * cosf(angle) };
    return true;
}

static void engine_sound_second(benchmark::State &state, int rate, int block)
{
    int voices = (int)state.range(0);
    if (!prepare_data() || !sound_open_readback(rate, block)) {
        state.SkipWithError("no sound data or device");
        return;
    }
    world_reset_for_tests();
    for (int i = 0; i < voices; i++) {
        init_engine_voice_for(i, k_classes[i % 5], nullptr, nullptr);
        rider_slot(i)->kind = CONTROL_ROBOT;
    }
    engine_voices_set_reader(sweeping_engine);
    SoundListener l = { { 0, 0, 0 }, { 0, 0, 0 }, { 1, 0, 0 } };
    sound_set_listener(&l);
    int blocks = rate / block, bytes = 0;
    for (auto _ : state) {
        // Frames of 60 a second between the blocks, as the game interleaves them.
        for (int b = 0, frame = 0; b < blocks; b++) {
            while (frame * blocks <= b * 60) {
                sound_mix_frame(1, 10, 8);
                frame++;
            }
            benchmark::DoNotOptimize(sound_read_block(&bytes));
            g_clock += 1.0 / blocks;
        }
    }
    sound_close();
    engine_voices_set_reader(nullptr);
}

static void live_rate(benchmark::State &state)
{
    engine_sound_second(state, 22050, 22050 / 64);
}

static void capture_rate(benchmark::State &state)
{
    engine_sound_second(state, SOUND_READBACK_RATE, SOUND_READBACK_BLOCK);
}

BENCHMARK(live_rate)->Arg(1)->Arg(16)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(capture_rate)->Arg(1)->Arg(16)->Arg(40)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_MAIN();
