// The world's shared state and the tic's hooks, without any track loaded.
#include <gtest/gtest.h>

#include <limits.h>
#include <time.h>

#include <string>

#include "bike/bike.h"
#include "race/simulation.h"
#include "race/world.h"

struct World : ::testing::Test {
    void SetUp() override
    {
        world_reset_for_tests();
        simulation_set_hooks(nullptr);
    }
    void TearDown() override
    {
        simulation_set_hooks(nullptr);
        world_reset_for_tests();
    }
};

TEST_F(World, SlotsClocksAndSeed)
{
    EXPECT_EQ(rider_slot(0)->kind, CONTROL_REPLAYED) << "empty slots are replayed";
    EXPECT_EQ(rider_slot(159)->bike, nullptr);
    EXPECT_EQ(rider_slot(160), nullptr);
    EXPECT_EQ(rider_slot(-1), nullptr);
    set_viewed_slot(NO_SLOT);
    EXPECT_EQ(viewed_slot(), 0) << "the viewed slot stays a real slot";
    advance_game_clock(0.25);
    advance_game_clock(-1);
    EXPECT_DOUBLE_EQ(game_clock(), 0.25) << "game time never runs backwards";
    set_session_seed_for_tests(true, 1234);
    EXPECT_EQ(session_seed(), 1234u);
    set_session_seed_for_tests(false, 0);
    EXPECT_LE(session_seed() - (uint32_t)time(nullptr), 2u) << "calendar seconds";
}

static std::string g_calls;
static void script_tic(void) { g_calls += "script "; }

TEST_F(World, TicCountsWrapsAndCallsTheLayersAbove)
{
    set_race_tic(5);
    simulation_tic();
    EXPECT_EQ(race_tic(), 6);
    set_race_tic(INT_MAX);
    simulation_tic();
    EXPECT_EQ(race_tic(), INT_MIN) << "wraps instead of overflowing";

    SimulationHooks hooks = {};
    hooks.script_tic = script_tic;
    simulation_set_hooks(&hooks);
    g_calls.clear();
    simulation_tic();
    EXPECT_EQ(g_calls, "script ");
    EXPECT_EQ(simulation_hooks()->cameras_load(nullptr), 0) << "a missing hook answers nothing there";
    EXPECT_EQ(simulation_hooks()->terrain_rendering_method(), 1);
    simulation_set_hooks(nullptr);
    g_calls.clear();
    simulation_tic();
    EXPECT_EQ(g_calls, "");
}

