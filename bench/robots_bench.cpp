// Robots racing on the sample track with its generated lines: each iteration is one whole tic
// of the world (every bike's step) from the gate drop on, reported per bike beside what the
// autopilot alone costs per robot (aim: at most 3 us) and the worst tic of the autopilot (the
// line picks), for 1, 10 and 40 robots. The data comes from SK_HOME, else the "game" folder
// beside this executable.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bench_home.h"
#include "bike/bike.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"
#include "robots/robots.h"

static char g_home[PATH_MAX];

static bool prepare_data(void)
{
    static bool ready = false, ok = false;
    if (ready)
        return ok;
    ready = true;
    if (!bench_home_prepare("skrobotsbench", g_home, sizeof g_home))
        return false;
    set_session_seed_for_tests(true, 9);
    robots_install();
    ok = bike_world_create();
    return ok;
}

static void BM_RobotsTic(benchmark::State &state)
{
    int n = (int)state.range(0);
    int requests[SESSION_SLOTS] = {};
    for (int i = 0; i < n; i++)
        requests[i] = REQUEST_ROBOT;
    if (!prepare_data() || !session_select_track("tracks/sample") || !load_session(requests, false, false, 0, 3, 1)) {
        state.SkipWithError("no sample track (set SK_HOME to the game data)");
        return;
    }
    // Up to the gate drop, then measure.
    while (race_tic() < gate_drop_tic())
        simulation_tic();
    autopilot_cost_reset();
    long tics = 0;
    for (auto _ : state) {
        simulation_tic();
        tics++;
    }
    const AutopilotCost *c = autopilot_cost();
    state.counters["us_per_bike_tic"] =
        benchmark::Counter((double)tics * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["autopilot_us_per_robot_tic"] = c->calls > 0 ? c->total_us / c->calls : 0;
    state.counters["autopilot_worst_tic_us"] = c->worst_tic_us;
    free_riders();
}
BENCHMARK(BM_RobotsTic)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMicrosecond)->Iterations(2000);

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
