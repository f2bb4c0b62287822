// The cost of ruts. 1, 10 and 40 bikes ride full throttle across the practice field:
//  - BM_RideTic: whole tics (and the loop's erosion pass every second tic, as at 64 frames a
//    second) at 100 % erosion against 0 %, per bike per tic;
//  - BM_ErosionShare: only the erosion work of those tics, replayed from the wheels' recorded
//    contacts: both wheels' producer and the consumer's share of the queue (aim: at most 1 us
//    per bike per tic on average);
//  - BM_ApplyWith8192Queued: one erode_apply call with 8,192 points queued, with the worst call
//    as the counter "worst_us".
// per_bike_tic is seconds of CPU time; worst_us is microseconds of the thread's CPU time.
// The data comes from SK_HOME, else the "game" folder beside this executable.
#include <benchmark/benchmark.h>

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "bench_home.h"
#include "bike/bike.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"
#include "terrain/erosion.h"
#include "terrain/terrain.h"

static const int k_full = 102400;          // 100 %
static const int k_warm_tics = 256;        // from a standstill to wheelspin at speed
static const int k_ride_tics = 768;
static char g_home[PATH_MAX];

static bool prepare_data(void)
{
    static bool ready = false, ok = false;
    if (ready)
        return ok;
    ready = true;
    if (!bench_home_prepare("skerodebench", g_home, sizeof g_home))
        return false;
    set_session_seed_for_tests(true, 7);
    ok = bike_world_create();
    return ok;
}

// The thread's own CPU time, microseconds: on a shared machine the wall clock also counts
// other programs.
static double now_us(void)
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec * 1e-3;
}

// n bikes on the practice field at the given erosion rate, past the gate drop.
static bool start_ride(int n, int rate)
{
    if (!prepare_data())
        return false;
    SessionOptions options = {};
    options.erode_rate = rate;
    session_set_options(&options);
    int requests[SESSION_SLOTS] = {};
    for (int i = 0; i < n; i++)
        requests[i] = REQUEST_ROBOT;
    // From the files each time: the ruts of the last run stay with a kept track.
    session_force_reload();
    if (!session_select_track("tracks/practice") || !load_session(requests, false, false, 0, 50, 0))
        return false;
    set_race_tic(gate_drop_tic() + 1);
    erode_reset_for_tests();
    return true;
}

static void full_throttle(void)
{
    for (int i = 0; i < RIDER_SLOTS; i++)
        if (BikeState *b = rider_slot(i)->bike)
            b->inputs.throttle = 1;
}

// Seconds of CPU time per bike and tic (an iteration is a tic of n bikes).
static benchmark::Counter per_bike_tic(int n)
{
    return benchmark::Counter(n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One tic of the game: the simulation, and every second tic the loop's erosion pass.
static void game_tic(int k)
{
    full_throttle();
    simulation_tic();
    if (k & 1)
        terrain_erode_around(nullptr);
}

static void BM_RideTic(benchmark::State &state)
{
    int n = (int)state.range(0), rate = (int)state.range(1) * 1024;
    if (!start_ride(n, rate)) {
        state.SkipWithError("no practice track (set SK_HOME to the game data)");
        return;
    }
    int k = 0;
    for (; k < k_warm_tics; k++)
        game_tic(k);
    for (auto _ : state)
        game_tic(k++);
    state.counters["per_bike_tic"] = per_bike_tic(n);
    state.counters["points"] = (double)erode_stats()->points_sent;
    free_riders();
}
BENCHMARK(BM_RideTic)->Args({ 1, 0 })->Args({ 1, 100 })->Args({ 10, 0 })->Args({ 10, 100 })->Args({ 40, 0 })
    ->Args({ 40, 100 })->Iterations(k_ride_tics)->Unit(benchmark::kMicrosecond);

// What the wheels gave the producer in one tic.
struct WheelInput {
    bool touching;
    Vec3 point, velocity, slip, force;
};

static void BM_ErosionShare(benchmark::State &state)
{
    int n = (int)state.range(0);
    // Record the ride's contacts with erosion off, so that nothing is produced meanwhile.
    if (!start_ride(n, 0)) {
        state.SkipWithError("no practice track (set SK_HOME to the game data)");
        return;
    }
    std::vector<WheelInput> inputs((size_t)k_ride_tics * n * 2);
    for (int k = 0; k < k_warm_tics + k_ride_tics; k++) {
        game_tic(k);
        if (k < k_warm_tics)
            continue;
        for (int b = 0; b < n; b++)
            for (int w = 0; w < 2; w++) {
                const WheelContact &c = rider_slot(b)->bike->wheel[w];
                const dReal *v = dBodyGetLinearVel(c.wheel);
                inputs[((size_t)(k - k_warm_tics) * n + b) * 2 + w] = {
                    c.depth > 0, c.point, v3((float)v[0], (float)v[1], (float)v[2]), c.velocity,
                    v3((float)c.feedback.f1[0], (float)c.feedback.f1[1], (float)c.feedback.f1[2]) };
            }
    }
    Terrain *t = session_terrain();
    if (getenv("SK_BENCH_DEBUG")) {
        int touching = 0;
        double speed = 0;
        for (const WheelInput &in : inputs) {
            touching += in.touching;
            speed += v3_length(in.velocity);
        }
        fprintf(stderr, "touching %d of %zu, mean speed %.1f\n", touching, inputs.size(), speed / inputs.size());
    }
    std::vector<ErodeProducer> producers((size_t)n * 2);
    erode_reset_for_tests();
    int tic = 0;
    for (auto _ : state) {
        int k = tic % k_ride_tics;
        for (int b = 0; b < n; b++)
            for (int w = 0; w < 2; w++) {
                const WheelInput &in = inputs[((size_t)k * n + b) * 2 + w];
                ErodeProducer *p = &producers[(size_t)b * 2 + w];
                if (in.touching)
                    erode_sample(p, t, in.point, in.velocity, in.slip, in.force, w == 0, tic, nullptr);
                else
                    erode_flush_idle(p, t, tic);
            }
        if (tic & 1)
            erode_apply(t, nullptr, k_full, tic);
        tic++;
    }
    state.counters["per_bike_tic"] = per_bike_tic(n);
    state.counters["points_per_bike_tic"] = (double)erode_stats()->points_sent / ((double)state.iterations() * n);
    state.counters["queued"] = erode_queue_length();
    free_riders();
}
BENCHMARK(BM_ErosionShare)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMicrosecond);

static void BM_ApplyWith8192Queued(benchmark::State &state)
{
    if (!start_ride(1, k_full)) {
        state.SkipWithError("no practice track (set SK_HOME to the game data)");
        return;
    }
    free_riders();
    Terrain *t = session_terrain();
    // Records of ruts spread over the dirt pad, pushed every way.
    std::vector<std::vector<uint8_t>> records;
    for (int r = 0; r < 128; r++) {
        ErodePoint pts[k_erode_buffer_points];
        for (int k = 0; k < k_erode_buffer_points; k++) {
            float a = (r * 64 + k) * 0.37f;
            pts[k] = { 120 + (float)(r % 16) * 18 + k * 0.9f, 180 + (float)(r / 16) * 20 + 3 * sinf(a), cosf(a),
                       sinf(a), 4 + k % 12 };
        }
        uint8_t bytes[k_erode_record_max];
        int length = erode_pack(pts, k_erode_buffer_points, t->world_size, bytes);
        records.emplace_back(bytes, bytes + length);
    }
    erode_reset_for_tests();
    size_t next = 0;
    double worst = 0;
    for (auto _ : state) {
        state.PauseTiming();
        while (erode_queue_length() < k_erode_defer_budget) {
            const std::vector<uint8_t> &rec = records[next++ % records.size()];
            erode_queue_record(t, rec.data(), (int)rec.size());
        }
        while (erode_queue_length() > k_erode_defer_budget)
            erode_apply(t, nullptr, k_full, 0);     // back to exactly 8,192
        state.ResumeTiming();
        double t0 = now_us();
        erode_apply(t, nullptr, k_full, 1);
        worst = fmax(worst, now_us() - t0);
    }
    state.counters["worst_us"] = worst;
    state.counters["queued"] = erode_queue_length();
}
BENCHMARK(BM_ApplyWith8192Queued)->Unit(benchmark::kMicrosecond);

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
