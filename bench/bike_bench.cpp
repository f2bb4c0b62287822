// One simulation_tic with 1, 10, 40 and 160 robot bikes on the sample track's gate, per bike,
// beside the library's bare dWorldStep for the same bikes with the same contacts and motors.
// Standing: the riders hold sit/dab and the bikes have had two seconds to land before the
// clock starts. Riding: every rider rides with the throttle open and nothing else, and the
// session is loaded again (off the clock) after every six seconds of riding. The bikes that
// fell by the end of the run are reported beside the time.
// The data comes from SK_HOME, else the "game" folder beside this executable.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "bench_home.h"
#include "bike/bike.h"
#include "bike/drive.h"
#include "bike/falls.h"
#include "bike/rider.h"
#include "bike/steering.h"
#include "bike/suspension.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"

static const int k_landing_tics = 256;
static char g_home[PATH_MAX];

static bool prepare_data(void)
{
    static bool ready = false, ok = false;
    if (ready)
        return ok;
    ready = true;
    if (!bench_home_prepare("skbikebench", g_home, sizeof g_home))
        return false;
    set_session_seed_for_tests(true, 5);
    ok = bike_world_create();
    return ok;
}

static const int k_ride_tics = 6 * 128;

// The riders' inputs of a tic: the throttle open, or standing with sit/dab held.
static void ride(int n, bool riding)
{
    for (int i = 0; i < n; i++) {
        BikeState *b = rider_slot(i)->bike;
        if (riding) {
            set_throttle(b, 0.6f);
        } else {
            set_throttle(b, 0);
            b->inputs.sit = 1;
        }
    }
}

// Bikes fallen over (the frame's up axis below 45 degrees) or with a fallen rider.
static int fallen(int n)
{
    int count = 0;
    for (int i = 0; i < n; i++) {
        BikeState *b = rider_slot(i)->bike;
        dVector3 up;
        dBodyVectorToWorld(b->body[BODY_FRAME], 0, 1, 0, up);
        count += up[1] < 0.707 || bike_fallen(b);
    }
    return count;
}

// n robots on the gate, landed.
static bool load_bikes(int n, bool riding)
{
    if (!prepare_data())
        return false;
    int requests[SESSION_SLOTS] = {};
    for (int i = 0; i < n; i++)
        requests[i] = REQUEST_ROBOT;
    if (!session_select_track("tracks/sample") || !load_session(requests, false, false, 0, 3, 0))
        return false;
    for (int k = 0; k < k_landing_tics; k++) {
        ride(n, riding);
        simulation_tic();
    }
    return true;
}

static void per_bike(benchmark::State &state, int n)
{
    state.counters["per_bike"] =
        benchmark::Counter((double)state.iterations() * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["fallen"] = fallen(n);
}

static void BM_BikeTic(benchmark::State &state)
{
    int n = (int)state.range(0);
    bool riding = state.range(1) != 0;
    if (!load_bikes(n, riding)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    int ridden = 0;
    for (auto _ : state) {
        if (riding && ridden++ == k_ride_tics) {
            state.PauseTiming();
            load_bikes(n, riding);
            ridden = 1;
            state.ResumeTiming();
        }
        ride(n, riding);
        simulation_tic();
    }
    per_bike(state, n);
    free_riders();
}
BENCHMARK(BM_BikeTic)->ArgsProduct({ { 1, 10, 40, 160 }, { 0, 1 } })->ArgNames({ "bikes", "riding" })
    ->Unit(benchmark::kMicrosecond);

static double now_seconds(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The tic's contacts, motors and forces made as the tic makes them (ground, bike pairs, rider
// springs, suspension, drive and brakes, steering, dabs and falls, the internal-force
// correction), then only the library's step on the clock.
static void BM_WorldStepOnly(benchmark::State &state)
{
    int n = (int)state.range(0);
    bool riding = state.range(1) != 0;
    if (!load_bikes(n, riding)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    const Terrain *t = session_terrain();
    int tic = race_tic(), ridden = 0;
    for (auto _ : state) {
        if (riding && ridden++ == k_ride_tics) {
            load_bikes(n, riding);
            t = session_terrain();
            tic = race_tic();
            ridden = 1;
        }
        ride(n, riding);
        for (int i = 0; i < n; i++)
            bike_touches_world(rider_slot(i)->bike, t);
        for (int a = 0; a < n; a++)
            for (int b = a + 1; b < n; b++)
            {
                int ma = 0, mb = 0;
                if (collide_bikes(rider_slot(a)->bike, rider_slot(b)->bike, false, tic, &ma, &mb))
                    bump_after_collision(rider_slot(a)->bike, ma, rider_slot(b)->bike, mb);
            }
        for (int i = 0; i < n; i++) {
            BikeState *b = rider_slot(i)->bike;
            RiderTic ctx = { tic, gate_drop_tic(), t, nullptr, nullptr };
            update_rider_mount(b);
            update_suspension(b);
            bike_drive_update(b, tic);
            bike_steering_update(b, &ctx);
            bike_dab_and_falls(b, &ctx);
            if (b->fall_timer <= 0)
                correct_internal_forces(b);
        }
        double start = now_seconds();
        dWorldStep(bike_world(), k_tic_seconds);
        state.SetIterationTime(now_seconds() - start);
        bike_contacts_empty();
        tic++;
    }
    per_bike(state, n);
    free_riders();
}
BENCHMARK(BM_WorldStepOnly)->ArgsProduct({ { 1, 10, 40, 160 }, { 0, 1 } })->ArgNames({ "bikes", "riding" })
    ->UseManualTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    free_riders();
    free_track();
    session_tables_free();
    bike_world_destroy();
    bench_home_remove(g_home);
    return 0;
}
