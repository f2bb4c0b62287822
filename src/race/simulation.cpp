#include "race/simulation.h"

#include <stdint.h>

#include "bike/bike.h"
#include "bike/drive.h"
#include "bike/falls.h"
#include "bike/rider.h"
#include "bike/steering.h"
#include "bike/suspension.h"
#include "bike/wheel.h"
#include "race/puppets.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/time_trial.h"
#include "race/world.h"
#include "render/scenery/roost.h"
#include "render/scenery/scenery.h"
#include "terrain/erosion.h"
#include "terrain/terrain.h"

// ---- hooks

static void nothing(void) {}
static void nothing_folder(const char *) {}
static int none_from_file(DataFile *) { return 0; }
static unsigned long no_memory(void) { return 0; }
static int software_method(void) { return 1; }
static bool not_listed(const char *) { return false; }
static void no_sound(int, BikeState *) {}
static void no_slot_sound(int) {}

static const SimulationHooks k_stand_ins = {
    .lighting_load = nothing_folder,
    .track_map_load = nothing_folder,
    .cameras_load = none_from_file,
    .cameras_free = nothing,
    .texture_memory_bytes = no_memory,
    .textures_begin_session = nothing,
    .textures_release_unused = nothing,
    .terrain_rendering_method = software_method,
    .texture_listed = not_listed,
    .engine_sound_create = no_sound,
    .engine_sound_destroy = no_slot_sound,
    .sound_release_voices = nothing,
    .script_run = nothing_folder,
    .script_shutdown = nothing,
    .script_tic = nothing,
    .editor_take_track = nothing,
    .editor_release_track = nothing,
    .session_loaded = nothing,
};

static SimulationHooks g_hooks = k_stand_ins;

static struct {
    bool forced, connected, in_race;
} g_network_for_tests;

void simulation_set_network_for_tests(bool forced, bool connected, bool in_race)
{
    g_network_for_tests = { forced, connected, in_race };
}

static bool connected(void)
{
    return g_network_for_tests.forced ? g_network_for_tests.connected : net_connected();
}

static bool in_race(void)
{
    return g_network_for_tests.forced ? g_network_for_tests.connected && g_network_for_tests.in_race : net_in_race();
}

// Each null entry of the caller's table takes the stand-in of the same place.
void simulation_set_hooks(const SimulationHooks *hooks)
{
    static_assert(sizeof(SimulationHooks) == 18 * sizeof(void (*)(void)), "every hook is taken below");
#define TAKE(name) g_hooks.name = hooks && hooks->name ? hooks->name : k_stand_ins.name
    TAKE(lighting_load);
    TAKE(track_map_load);
    TAKE(cameras_load);
    TAKE(cameras_free);
    TAKE(texture_memory_bytes);
    TAKE(textures_begin_session);
    TAKE(textures_release_unused);
    TAKE(terrain_rendering_method);
    TAKE(texture_listed);
    TAKE(engine_sound_create);
    TAKE(engine_sound_destroy);
    TAKE(sound_release_voices);
    TAKE(script_run);
    TAKE(script_shutdown);
    TAKE(script_tic);
    TAKE(editor_take_track);
    TAKE(editor_release_track);
    TAKE(session_loaded);
#undef TAKE
}

const SimulationHooks *simulation_hooks(void)
{
    return &g_hooks;
}

// ---- one tic

// Each bike's frame position and reach, so that pairs far apart cost one distance test.
struct BikeBounds {
    double x, y, z;
    float reach;
};

static BikeBounds bike_bounds(const BikeState *bike)
{
    if (!bike->built)
        return { 0, 0, 0, -1 };
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    return { p[0], p[1], p[2], bike_reach(bike) };
}

// A bike met by another this tic is stamped, so the next pair either of them meets this tic
// pushes by forces instead of joints.
static void collide_pair(BikeState *a, const BikeBounds &ba, BikeState *b, const BikeBounds &bb, bool net)
{
    if (ba.reach < 0 || bb.reach < 0)
        return;
    // A robot walking its bike back to its path lifts it past the others: two bikes hooked
    // together would otherwise be dragged round as one for minutes.
    if (robot_dragging(a->slot) || robot_dragging(b->slot))
        return;
    double dx = ba.x - bb.x, dy = ba.y - bb.y, dz = ba.z - bb.z, r = (double)ba.reach + bb.reach;
    if (!(dx * dx + dy * dy + dz * dz < r * r))
        return;
    int mask_a = 0, mask_b = 0;
    if (collide_bikes(a, b, net, race_tic(), &mask_a, &mask_b)) {
        bump_after_collision(a, mask_a, b, mask_b);
        // what a line's run was worth cannot be told after a touch
        lines_bike_contact(a->slot);
        lines_bike_contact(b->slot);
    }
}

// Where a bike lying stopped on its side turns to: for a human the riding line ahead, for a
// robot its path; else the centre of the checkpoint it is to pass next. None without timing,
// before the first position is passed and once the bike has finished.
static bool standstill_target(const BikeState *bike, float *x, float *z)
{
    int slot = bike->slot;
    const Timing *t = session_timing();
    const GatePasses *passes = session_passes(slot);
    RiderSlot *s = rider_slot(slot);
    if (!t || !t->valid || !passes || passes->count < 1 || !s)
        return false;
    if (finish_rule_at_standstill(slot) || rider_finished(slot))
        return false;
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
    if (s->kind == CONTROL_HUMAN && lines_standstill_target(slot, (float)p[0], (float)p[2], x, z))
        return true;
    if (s->kind == CONTROL_ROBOT && robot_path_target(slot, x, z))
        return true;
    int checkpoint = position_checkpoint(t, passes->next);
    if (checkpoint < 0 || checkpoint >= t->checkpoint_count)
        return false;
    *x = t->checkpoints[checkpoint].centre.x;
    *z = t->checkpoints[checkpoint].centre.z;
    return true;
}

static bool rider_hit_scenery(const BikeState *bike) { return bike->scenery_fall; }

// Rider, suspension, drive and assists prepare the motors and forces of the next step; the
// leftover internal force comes out last, once the joints have fed back a step (from tic 2 on).
// A frozen bike's bodies take no part in the step, so nothing is prepared for them.
static void control_update(BikeState *bike)
{
    if (!bike->built || bike_frozen(bike))
        return;
    update_rider_mount(bike);
    update_suspension(bike);
    bike_drive_update(bike, race_tic());
    RiderTic ctx = { race_tic(), gate_drop_tic(), session_terrain(), standstill_target, rider_hit_scenery };
    bike_steering_update(bike, &ctx);
    bike_dab_and_falls(bike, &ctx);
    if (race_tic() >= 2 && bike->fall_timer <= 0)
        correct_internal_forces(bike);
}

// The wheel step of one slot: the local player's bike has its records refreshed with the
// first-hit query (once a tic) for the roost; every other bike keeps the deepest contact that
// its ground contacts made for this step.
static void wheel_query_and_roost(int slot, const Terrain *ground)
{
    RiderSlot &s = *rider_slot(slot);
    if (s.kind == CONTROL_HUMAN)
        bike_refresh_wheel_queries(s.bike, ground, race_tic());
    roost_emit(slot, s.bike, race_tic());
}

// Ground and solid scenery: the objects near the bike are gathered first. What it touched is
// stamped and a robot's line is spoiled. (Only replayed bikes hold a gate piece up: a bike
// simulated here meets the pieces as solid objects.)
static void touch_world(int slot, BikeState *bike, const Terrain *ground)
{
    scenery_gather_near(bike);
    // Walking its bike back to its path a robot lifts it over the blocks and bales it crashed
    // into, as past other bikes: hauled against one it would hang there until the lost reset.
    if (robot_dragging(slot))
        bike->near_solid_count = 0;
    bike_touches_world(bike, ground);
    if (!bike->scenery_mask)
        return;
    scenery_mark_hits(bike, race_tic());
    const int body_parts = 1 << BODY_FRAME | 1 << BODY_UPPER_FORK | 1 << BODY_LOWER_FORK | 1 << BODY_SWINGARM |
                           1 << BODY_RIDER;
    if (bike->scenery_mask & body_parts)
        lines_scenery_touch(slot);
}

void simulation_tic(void)
{
    bool net = connected(), racing = net && in_race();
    g_hooks.script_tic();
    for (int i = 0; i < RIDER_SLOTS; i++)
        if (rider_slot(i)->bike && rider_slot(i)->kind == CONTROL_REPLAYED)
            replay_set_bike_state(i);

    // The occupied slots, and among them the bikes that this simulation steps (all but the
    // replayed ones). Slots are visited in order, so both lists are sorted by slot.
    const Terrain *ground = session_terrain();
    int occupied[RIDER_SLOTS], n_occupied = 0;
    int stepped[RIDER_SLOTS], n_stepped = 0;
    for (int i = 0; i < RIDER_SLOTS; i++) {
        if (!rider_slot(i)->bike)
            continue;
        occupied[n_occupied++] = i;
        if (rider_slot(i)->kind != CONTROL_REPLAYED)
            stepped[n_stepped++] = i;
    }

    // Contacts with the world: every stepped bike needs its ground, online as much as offline.
    for (int k = 0; k < n_occupied; k++) {
        RiderSlot &s = *rider_slot(occupied[k]);
        if (s.kind != CONTROL_REPLAYED)
            touch_world(occupied[k], s.bike, ground);
        else if (!net && gate_window_open())
            gate_pieces_touch(s.bike);
    }
    // Between bikes: offline every pair; online only the own bike against the others this
    // simulation steps, while the own slot is in the race.
    if (!net) {
        BikeBounds bounds[RIDER_SLOTS];
        for (int k = 0; k < n_stepped; k++)
            bounds[k] = bike_bounds(rider_slot(stepped[k])->bike);
        for (int a = 0; a < n_stepped; a++)
            for (int b = a + 1; b < n_stepped; b++)
                collide_pair(rider_slot(stepped[a])->bike, bounds[a], rider_slot(stepped[b])->bike, bounds[b], false);
    } else if (racing) {
        RiderSlot *own = nullptr;
        for (int k = 0; k < n_stepped && !own; k++)
            if (rider_slot(stepped[k])->kind == CONTROL_HUMAN)
                own = rider_slot(stepped[k]);
        BikeBounds own_bounds = own ? bike_bounds(own->bike) : BikeBounds{};
        for (int k = 0; own && k < n_stepped; k++)
            if (rider_slot(stepped[k]) != own)
                collide_pair(own->bike, own_bounds, rider_slot(stepped[k])->bike,
                             bike_bounds(rider_slot(stepped[k])->bike), true);
    }

    // Wheel queries and roost for every occupied slot, in a rotating order so that no bike
    // always goes first.
    if (n_occupied > 0) {
        int start = (int)(((int64_t)race_tic() % n_occupied + n_occupied) % n_occupied);
        for (int k = 0; k < n_occupied; k++)
            wheel_query_and_roost(occupied[(start + k) % n_occupied], ground);
    }
    bike_world_step();

    // The wheels' telemetry every tic; their erosion samples while the terrain erodes.
    for (int k = 0; k < n_stepped; k++)
        wheel_after_step(rider_slot(stepped[k])->bike);
    if (session_erosion_rate() > 0 && (!net || racing))
        for (int k = 0; k < n_stepped; k++)
            bike_dig_terrain(rider_slot(stepped[k])->bike, ground, race_tic());

    for (int k = 0; k < n_occupied; k++) {
        int slot = occupied[k];
        RiderSlot &s = *rider_slot(slot);
        if (s.kind == CONTROL_ROBOT && !puppet_drive(slot))
            robot_autopilot(slot);
        else if (net && s.kind == CONTROL_REPLAYED)
            net_correct_remote(slot);
        else if (net && s.kind == CONTROL_HUMAN)
            false_start_rule(slot);
        control_update(s.bike);
        GatePasses *passes = session_passes(slot);
        int expected = passes->next, passed = -1;
        if (!net || s.kind == CONTROL_HUMAN)
            passed = bike_gate_passing(s.bike);
        lines_record(slot, passed, expected);
    }
    roost_update();
    if (gate_window_open())
        starting_gate_animate();
    if (net && race_tic() % 512 == 510)
        results_refresh();
    set_race_tic((int32_t)((uint32_t)race_tic() + 1u));    // wraps instead of overflowing
    demo_tic();
    time_trial_tic();
    physics_log_capture();
}

void terrain_erode_around(BikeState *bike)
{
    Terrain *t = session_terrain();
    int rate = session_erosion_rate();
    if (!t->heights || rate <= 0)
        return;
    float at[2];
    bool near = bike && bike->built;
    if (near) {
        const dReal *p = dBodyGetPosition(bike->body[BODY_FRAME]);
        at[0] = (float)p[0];
        at[1] = (float)p[2];
    }
    // In a server race the ground is frozen but for what the server relays, which this is.
    bool frozen = t->frozen;
    t->frozen = false;
    erode_apply(t, near ? at : nullptr, rate, race_tic());
    t->frozen = frozen;
}
