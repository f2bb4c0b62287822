// A small flat track with a starting gate and a six-checkpoint loop far from it, bikes built in
// a physics world, and every race module back at its start. Passes are scripted through the
// session's pass lists; times are given relative to a gate drop at tic 1000.
#pragma once
#include "../terrain/terrain_fixture.h"

#include <filesystem>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/shape.h"
#include "race/puppets.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/time_trial.h"
#include "race/world.h"

// D = 4 (checkpoints 0 1 2 3), C = 6 (4 5 0 1 2 3): every lap ends on checkpoint 3.
static const char *const k_loop_gates =
    "startinggate:\n"
    "[ 100 0 50 ] 0\n"
    "[ 110 0 50 ] 0\n"
    "[ 120 0 50 ] 0\n"
    "checkpoints:\n"
    "10 [ 300 0 300 ] [ 1 0 0 ]\n"
    "10 [ 400 0 300 ] [ 1 0 0 ]\n"
    "10 [ 450 0 350 ] [ 0 0 1 ]\n"
    "10 [ 400 0 400 ] [ -1 0 0 ]\n"
    "10 [ 300 0 400 ] [ -1 0 0 ]\n"
    "10 [ 250 0 350 ] [ 0 0 -1 ]\n"
    "firstlap:\n0 1 2 3\nnormallap:\n4 5 0 1 2 3\n";

enum { k_d = 4, k_c = 6, k_drop = 1000 };

class RaceTrack : public TerrainFiles {
protected:
    int requests[SESSION_SLOTS] = {};

    void SetUp() override
    {
        TerrainFiles::SetUp();
        session_reset_for_tests();
        world_reset_for_tests();
        race_reset_for_tests();
        results_begin();
        results_set_activity_calls(nullptr);
        results_set_calendar_for_tests(true, 1234567890);
        time_trial_reset_for_tests();
        puppets_clear();
        set_session_seed_for_tests(true, 1234);
        put_track("tracks/a");
        put("tracks/a/timing_gates", k_loop_gates);
        ASSERT_TRUE(bike_world_create());
    }
    void TearDown() override
    {
        simulation_set_network_for_tests(false, false, false);
        free_riders();
        free_track();
        session_tables_free();
        session_reset_for_tests();
        bike_world_destroy();
        shape_cache_free();
        race_reset_for_tests();
        results_set_activity_calls(nullptr);
        results_set_calendar_for_tests(false, 0);
        time_trial_reset_for_tests();
        set_session_seed_for_tests(false, 0);
        TerrainFiles::TearDown();
    }
    // Loads the requests set so far; the gate drops at k_drop.
    bool load(int time_limit = 0, int laps = 3, bool time_trial = false)
    {
        if (!session_select_track("tracks/a") ||
            !load_session(time_trial ? nullptr : requests, false, false, time_limit, laps, 0))
            return false;
        set_gate_drop_tic(k_drop);
        return true;
    }
};

inline GatePasses *passes(int slot) { return session_passes(slot); }
// Passes positions 0.. at the given tics after the drop (-1: missed).
inline void ride(int slot, const std::vector<int> &after_drop)
{
    for (size_t k = 0; k < after_drop.size(); k++)
        set_gate_pass(passes(slot), (int)k, after_drop[k] < 0 ? -1 : k_drop + after_drop[k]);
    passes(slot)->next = (int)after_drop.size();
}
// n positions, one every 'step' tics from 'start' after the drop.
inline std::vector<int> steady(int n, int step, int start = 0)
{
    std::vector<int> v;
    for (int k = 0; k < n; k++)
        v.push_back(start + step * (k + 1));
    return v;
}
inline void at(int tic_after_drop) { set_race_tic(k_drop + tic_after_drop); }
inline int lap_end(int lap) { return k_d - 1 + (lap - 1) * k_c; }
