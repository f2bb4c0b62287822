#include "race/simulation.h"

#include <stdint.h>

#include "bike/bike.h"
#include "bike/rider.h"
#include "bike/wheel.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"

static const int k_gate_animation_tics = 10 * 128;     // 10 s after the gate drop

// ---- hooks

static void nothing(void) {}
static void nothing_folder(const char *) {}
static void nothing_file(DataFile *) {}
static void nothing_roost(int, float, float, float) {}
static int none_count(void) { return 0; }
static int none_from_file(DataFile *) { return 0; }
static const char *no_model(int) { return nullptr; }
static int no_gate_piece(const char *, const char *, const char *, float, float, float, float) { return -1; }
static unsigned long no_memory(void) { return 0; }
static int software_method(void) { return 1; }
static bool not_listed(const char *) { return false; }
static void no_sound(int, BikeState *) {}
static void no_slot_sound(int) {}

static const SimulationHooks k_stand_ins = {
    .lighting_load = nothing_folder,
    .roost_pool_create = nothing_roost,
    .flaggers_load = nothing_file,
    .billboards_load = nothing_file,
    .statues_load = nothing_file,
    .statue_count = none_count,
    .statue_model = no_model,
    .track_map_load = nothing_folder,
    .scenery_sort_into_grid = nothing,
    .scenery_clear_hit_marks = nothing,
    .cameras_load = none_from_file,
    .scenery_free_all = nothing,
    .cameras_free = nothing,
    .scenery_create_gate_piece = no_gate_piece,
    .starting_gate_pieces_raise = nothing,
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
    .roost_move_chunks = nothing,
    .session_loaded = nothing,
};

static SimulationHooks g_hooks = k_stand_ins;

// Each null entry of the caller's table takes the stand-in of the same place.
void simulation_set_hooks(const SimulationHooks *hooks)
{
    static_assert(sizeof(SimulationHooks) == 30 * sizeof(void (*)(void)), "every hook is taken below");
#define TAKE(name) g_hooks.name = hooks && hooks->name ? hooks->name : k_stand_ins.name
    TAKE(lighting_load);
    TAKE(roost_pool_create);
    TAKE(flaggers_load);
    TAKE(billboards_load);
    TAKE(statues_load);
    TAKE(statue_count);
    TAKE(statue_model);
    TAKE(track_map_load);
    TAKE(scenery_sort_into_grid);
    TAKE(scenery_clear_hit_marks);
    TAKE(cameras_load);
    TAKE(scenery_free_all);
    TAKE(cameras_free);
    TAKE(scenery_create_gate_piece);
    TAKE(starting_gate_pieces_raise);
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
    TAKE(roost_move_chunks);
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
    double dx = ba.x - bb.x, dy = ba.y - bb.y, dz = ba.z - bb.z, r = (double)ba.reach + bb.reach;
    if (!(dx * dx + dy * dy + dz * dz < r * r))
        return;
    int mask_a = 0, mask_b = 0;
    collide_bikes(a, b, net, race_tic(), &mask_a, &mask_b);
}

// Rider, suspension, drive and assists prepare the motors and forces of the next step; the
// leftover internal force comes out last, once the joints have fed back a step (from tic 2 on).
static void control_update(BikeState *bike)
{
    if (!bike->built)
        return;
    update_rider_mount(bike);
    bike_suspension_update(bike);
    bike_drive_update(bike);
    bike_steering_update(bike);
    bike_dab_and_falls(bike);
    if (race_tic() >= 2 && bike->fall_timer <= 0)
        correct_internal_forces(bike);
}

void simulation_tic(void)
{
    bool net = net_connected();
    g_hooks.script_tic();
    for (int i = 0; i < RIDER_SLOTS; i++)
        if (rider_slot(i)->bike && rider_slot(i)->kind == CONTROL_REPLAYED)
            replay_set_bike_state(i);

    // Contacts with the world and between bikes. Slots are visited in order, so the list of
    // bikes that collide is already sorted by slot.
    const Terrain *ground = session_terrain();
    int occupied[RIDER_SLOTS], n_occupied = 0;
    int active[RIDER_SLOTS], n_active = 0;
    for (int i = 0; i < RIDER_SLOTS; i++) {
        if (!rider_slot(i)->bike)
            continue;
        occupied[n_occupied++] = i;
        if (rider_slot(i)->kind != CONTROL_REPLAYED)
            active[n_active++] = i;
    }
    if (!net) {
        for (int k = 0; k < n_occupied; k++) {
            RiderSlot &s = *rider_slot(occupied[k]);
            if (s.kind != CONTROL_REPLAYED)
                bike_touches_world(s.bike, ground);
            else if (race_tic() < gate_drop_tic() + k_gate_animation_tics)
                gate_pieces_touch(s.bike);
        }
        BikeBounds bounds[RIDER_SLOTS];
        for (int k = 0; k < n_active; k++)
            bounds[k] = bike_bounds(rider_slot(active[k])->bike);
        for (int a = 0; a < n_active; a++)
            for (int b = a + 1; b < n_active; b++)
                collide_pair(rider_slot(active[a])->bike, bounds[a], rider_slot(active[b])->bike, bounds[b], false);
    } else if (net_in_race()) {
        RiderSlot *own = nullptr;
        for (int k = 0; k < n_active && !own; k++)
            if (rider_slot(active[k])->kind == CONTROL_HUMAN)
                own = rider_slot(active[k]);
        BikeBounds own_bounds = own ? bike_bounds(own->bike) : BikeBounds{};
        for (int k = 0; own && k < n_active; k++)
            if (rider_slot(active[k]) != own)
                collide_pair(own->bike, own_bounds, rider_slot(active[k])->bike,
                             bike_bounds(rider_slot(active[k])->bike), true);
    }

    // Wheel contact queries in a rotating order, so no bike always goes first.
    if (n_active > 0) {
        int start = (int)(((int64_t)race_tic() % n_active + n_active) % n_active);
        for (int k = 0; k < n_active; k++)
            bike_refresh_wheel_queries(rider_slot(active[(start + k) % n_active])->bike, ground, race_tic());
    }
    bike_world_step();

    if (session_erosion_rate() > 0 && (!net || net_in_race()))
        for (int k = 0; k < n_active; k++) {
            wheel_after_step(rider_slot(active[k])->bike);
            bike_dig_terrain(rider_slot(active[k])->bike);
        }

    for (int k = 0; k < n_occupied; k++) {
        int slot = occupied[k];
        RiderSlot &s = *rider_slot(slot);
        if (s.kind == CONTROL_ROBOT)
            robot_autopilot(slot);
        else if (net && s.kind == CONTROL_REPLAYED)
            net_correct_remote(slot);
        else if (net && s.kind == CONTROL_HUMAN)
            false_start_rule(slot);
        control_update(s.bike);
        if (!net || s.kind == CONTROL_HUMAN)
            bike_gate_passing(s.bike);
    }
    g_hooks.roost_move_chunks();
    if (race_tic() < gate_drop_tic() + k_gate_animation_tics)
        starting_gate_animate();
    if (net && race_tic() % 512 == 510)
        results_refresh();
    set_race_tic((int32_t)((uint32_t)race_tic() + 1u));    // wraps instead of overflowing
    demo_tic();
    time_trial_tic();
    physics_log_capture();
}
