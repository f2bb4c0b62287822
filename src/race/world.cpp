#include "race/world.h"

#include <string.h>
#include <time.h>

static struct {
    double game_clock;
    int32_t race_tic;
    int32_t gate_drop_tic;
    RiderSlot slots[RIDER_SLOTS];
    int viewed_slot;
    float channels[CONTROL_CHANNELS];
    bool fixed_seed;
    uint32_t seed;
} g_world;

static void reset_state(void)
{
    memset(&g_world, 0, sizeof g_world);
    for (RiderSlot &s : g_world.slots)
        s.kind = CONTROL_REPLAYED;
}

static struct WorldInit {
    WorldInit() { reset_state(); }
} g_world_init;

int race_tic(void) { return g_world.race_tic; }
void set_race_tic(int tic) { g_world.race_tic = tic; }
int gate_drop_tic(void) { return g_world.gate_drop_tic; }
void set_gate_drop_tic(int tic) { g_world.gate_drop_tic = tic; }
double game_clock(void) { return g_world.game_clock; }

void advance_game_clock(double step)
{
    if (step > 0)
        g_world.game_clock += step;
}

RiderSlot *rider_slot(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS ? &g_world.slots[slot] : nullptr;
}

void clear_rider_slots(void)
{
    for (RiderSlot &s : g_world.slots)
        s = { nullptr, CONTROL_REPLAYED };
}

int viewed_slot(void) { return g_world.viewed_slot; }

void set_viewed_slot(int slot)
{
    if (slot >= 0 && slot < RIDER_SLOTS)
        g_world.viewed_slot = slot;
}

const float *control_channels(void) { return g_world.channels; }

void set_control_channels(const float values[CONTROL_CHANNELS])
{
    memcpy(g_world.channels, values, sizeof g_world.channels);
}

uint32_t session_seed(void)
{
    return g_world.fixed_seed ? g_world.seed : (uint32_t)time(nullptr);
}

void set_session_seed_for_tests(bool fixed, uint32_t seed)
{
    g_world.fixed_seed = fixed;
    g_world.seed = seed;
}

void world_reset_for_tests(void)
{
    reset_state();
}
