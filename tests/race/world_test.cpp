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
static void roost(void) { g_calls += "roost "; }

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
    hooks.roost_move_chunks = roost;
    simulation_set_hooks(&hooks);
    g_calls.clear();
    simulation_tic();
    EXPECT_EQ(g_calls, "script roost ") << "scripts first, roost after the bikes";
    EXPECT_EQ(simulation_hooks()->statue_count(), 0) << "a missing hook answers nothing there";
    EXPECT_EQ(simulation_hooks()->terrain_rendering_method(), 1);
    simulation_set_hooks(nullptr);
    g_calls.clear();
    simulation_tic();
    EXPECT_EQ(g_calls, "");
}

static std::string g_roost;
static void roost_emit(int slot, BikeState *) { g_roost += std::to_string(slot) + " "; }

TEST_F(World, EveryOccupiedSlotThrowsRoostInARotatingOrder)
{
    // Bikes not built (no physics world here): every step passes over them but the roost's.
    BikeState bikes[3] = {};
    const int slots[3] = { 2, 5, 9 }, kinds[3] = { CONTROL_ROBOT, CONTROL_REPLAYED, CONTROL_HUMAN };
    for (int k = 0; k < 3; k++) {
        rider_slot(slots[k])->bike = &bikes[k];
        rider_slot(slots[k])->kind = kinds[k];
    }
    SimulationHooks hooks = {};
    hooks.roost_emit = roost_emit;
    simulation_set_hooks(&hooks);
    // The order starts at race_tic modulo the number of occupied slots, replayed ones included,
    // online as offline.
    const char *expected[] = { "2 5 9 ", "5 9 2 ", "9 2 5 ", "2 5 9 ", "5 9 2 " };
    set_race_tic(-3);
    for (int tic = 0; tic < 5; tic++) {
        simulation_set_network_for_tests(tic >= 3, true, tic == 4);
        g_roost.clear();
        simulation_tic();
        EXPECT_EQ(g_roost, expected[tic]) << "tic " << tic;
    }
    simulation_set_network_for_tests(false, false, false);
    clear_rider_slots();
}
