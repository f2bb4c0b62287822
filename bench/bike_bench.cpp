// One simulation_tic with 1, 10, 40 and 160 robot bikes on the sample track's gate, per bike,
// beside the library's bare dWorldStep for the same bikes with the same contacts. The bikes
// have had two seconds to land (and topple) before the clock starts.
// The data comes from SK_HOME, else the "game" folder beside this executable.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "bike/bike.h"
#include "bike/rider.h"
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
    if (!getenv("SK_HOME")) {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0)
            return false;
        exe[n] = 0;
        char *slash = strrchr(exe, '/');
        if (!slash)
            return false;
        snprintf(slash, sizeof exe - (size_t)(slash - exe), "/game");
        setenv("SK_HOME", exe, 1);
    }
    // Nothing of the user's own data: a fresh, empty home.
    const char *tmp = getenv("TMPDIR");
    snprintf(g_home, sizeof g_home, "%s/skbikebenchXXXXXX", tmp && *tmp ? tmp : P_tmpdir);
    if (!mkdtemp(g_home)) {
        g_home[0] = 0;
        return false;
    }
    setenv("XDG_DATA_HOME", g_home, 1);
    set_session_seed_for_tests(true, 5);
    ok = bike_world_create();
    return ok;
}

// n robots on the gate, landed.
static bool load_bikes(int n)
{
    if (!prepare_data())
        return false;
    int requests[SESSION_SLOTS] = {};
    for (int i = 0; i < n; i++)
        requests[i] = REQUEST_ROBOT;
    if (!session_select_track("tracks/sample") || !load_session(requests, false, false, 0, 3, 0))
        return false;
    for (int k = 0; k < k_landing_tics; k++)
        simulation_tic();
    return true;
}

static void BM_BikeTic(benchmark::State &state)
{
    int n = (int)state.range(0);
    if (!load_bikes(n)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    for (auto _ : state)
        simulation_tic();
    state.counters["per_bike"] =
        benchmark::Counter((double)state.iterations() * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    free_riders();
}
BENCHMARK(BM_BikeTic)->Arg(1)->Arg(10)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

static double now_seconds(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// The tic's contacts made as the tic makes them (ground, bike pairs, rider springs), then only
// the library's step on the clock.
static void BM_WorldStepOnly(benchmark::State &state)
{
    int n = (int)state.range(0);
    if (!load_bikes(n)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    const Terrain *t = session_terrain();
    int tic = race_tic();
    for (auto _ : state) {
        for (int i = 0; i < n; i++)
            bike_touches_world(rider_slot(i)->bike, t);
        for (int a = 0; a < n; a++)
            for (int b = a + 1; b < n; b++)
                collide_bikes(rider_slot(a)->bike, rider_slot(b)->bike, false, tic, nullptr, nullptr);
        for (int i = 0; i < n; i++)
            update_rider_mount(rider_slot(i)->bike);
        double start = now_seconds();
        dWorldStep(bike_world(), k_tic_seconds);
        state.SetIterationTime(now_seconds() - start);
        bike_contacts_empty();
        tic++;
    }
    state.counters["per_bike"] =
        benchmark::Counter((double)state.iterations() * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    free_riders();
}
BENCHMARK(BM_WorldStepOnly)->Arg(1)->Arg(10)->Arg(40)->Arg(160)->UseManualTime()->Unit(benchmark::kMicrosecond);

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
    if (g_home[0])
        rmdir(g_home);
    return 0;
}
