// The results during a race of 40 and 160 riders ten laps in: refresh_results, which runs at
// every gate pass of any bike (aim: under 20 us at 160 riders), and the final order with the
// cutting penalties, built once a race. One rider in eight has cut a stretch of every lap.
// The data comes from SK_HOME, else the "game" folder beside this executable.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bench_home.h"
#include "bike/bike.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"

static const int k_laps_in = 10;
static char g_home[PATH_MAX];

static bool prepare_data(void)
{
    static bool ready = false, ok = false;
    if (ready)
        return ok;
    ready = true;
    if (!bench_home_prepare("skracebench", g_home, sizeof g_home))
        return false;
    set_session_seed_for_tests(true, 5);
    ok = bike_world_create();
    return ok;
}

// n robots ten laps into a 50-lap race, spread over a few positions and seconds; every eighth
// one missed the second and third position of each normal lap.
static bool race_ten_laps_in(int n)
{
    if (!prepare_data())
        return false;
    int requests[SESSION_SLOTS] = {};
    for (int i = 0; i < n; i++)
        requests[i] = REQUEST_ROBOT;
    if (!session_select_track("tracks/sample") || !load_session(requests, false, false, 0, 50, 0))
        return false;
    const Timing *t = session_timing();
    if (!t->valid)
        return false;
    int drop = gate_drop_tic();
    int32_t last = 0;
    for (int i = 0; i < n; i++) {
        GatePasses *p = session_passes(i);
        int positions = lap_end_position(t, k_laps_in) + 1 - i % 5;
        for (int k = 0; k < positions; k++) {
            int in_lap = k >= t->first_count ? (k - t->first_count) % t->normal_count : -1;
            bool cut = i % 8 == 7 && (in_lap == 1 || in_lap == 2);
            int32_t tic = drop + k * 160 + i * 7;
            set_gate_pass(p, k, cut ? -1 : tic);
            last = tic > last ? tic : last;
        }
        p->next = positions;
    }
    set_race_tic(last + 1);
    return true;
}

static void BM_RefreshResults(benchmark::State &state)
{
    int n = (int)state.range(0);
    if (!race_ten_laps_in(n)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    for (auto _ : state)
        results_refresh();
    if (results_final())
        state.SkipWithError("the race ended: nothing was measured");
    free_riders();
}
BENCHMARK(BM_RefreshResults)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

static void BM_FinalOrderWithPenalties(benchmark::State &state)
{
    int n = (int)state.range(0);
    if (!race_ten_laps_in(n)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    race_update();
    static FinalEntry order[SESSION_SLOTS];
    for (auto _ : state)
        benchmark::DoNotOptimize(final_order_build(order));
    free_riders();
}
BENCHMARK(BM_FinalOrderWithPenalties)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

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
