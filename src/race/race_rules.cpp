#include "race/race_rules.h"

#include <stdio.h>
#include <string.h>

#include "bike/bike.h"
#include "common/items.h"
#include "common/messages.h"
#include "race/session.h"
#include "race/simulation.h"
#include "race/world.h"
#include "render/scenery/scenery.h"

static const double k_tic = 1.0 / 128;
static const double k_gate_fall_accel = 32;     // ft/s² at the piece's top
static const float k_gate_fall_top_speed = 8;
static const double k_false_start_reach2 = 9;    // 3 ft, squared

static struct {
    RaceSettingItems settings;
    int time_limit, laps;
    int lap_limit, half_lap;
    bool limit_fixed;               // a timed race's lap limit was set at the expiry
    bool server;
    bool finished[RIDER_SLOTS];
    int finished_at[RIDER_SLOTS];   // the position whose pass finished the rider
    int hold[RIDER_SLOTS];
    bool has_start[RIDER_SLOTS];
    double start[RIDER_SLOTS][3];
    int32_t chequered;
    RunningEntry order[RIDER_SLOTS];
    int order_count;
    GatePiece pieces[k_max_start_gates];
} g_race;

static struct RaceInit {
    RaceInit() { race_reset_for_tests(); }
} g_race_init;

void race_reset_for_tests(void)
{
    memset(&g_race, 0, sizeof g_race);
    g_race.chequered = -1;
    starting_gate_pieces_raise();
}

void race_use_settings(const RaceSettingItems *items)
{
    g_race.settings = items ? *items : RaceSettingItems{};
}

int race_settings_robot_skill(void)
{
    const ChoiceItem *c = g_race.settings.robot_skill;
    return c && c->chosen >= 0 && c->chosen <= 2 ? c->chosen : 0;
}

bool race_settings_backing_up_aborts(void)
{
    const ChoiceItem *c = g_race.settings.backing_up_aborts;
    return !c || strcmp(choice_label(c), "No") != 0;
}

const char *race_length_text(char *out, int size, int time_limit_tics, int laps)
{
    if (time_limit_tics <= 0) {
        snprintf(out, (size_t)size, "%d laps", laps);
        return out;
    }
    int minutes = (int)(time_limit_tics * k_tic / 60 + 0.5);
    if (laps < 1)
        snprintf(out, (size_t)size, "%d minutes", minutes);
    else
        snprintf(out, (size_t)size, "%d minutes + %d laps", minutes, laps);
    return out;
}

void race_begin(int time_limit_tics, int laps)
{
    g_race.time_limit = time_limit_tics > 0 ? time_limit_tics : 0;
    g_race.laps = laps;
    if (g_race.time_limit > 0) {
        g_race.lap_limit = g_race.half_lap = k_race_open;
    } else {
        g_race.lap_limit = laps;
        g_race.half_lap = (laps + 1) / 2;
    }
    g_race.limit_fixed = false;
    memset(g_race.finished, 0, sizeof g_race.finished);
    memset(g_race.hold, 0, sizeof g_race.hold);
    g_race.chequered = -1;
    g_race.order_count = 0;
    starting_gate_pieces_raise();
}

int race_lap_limit(void) { return g_race.lap_limit; }
int race_half_lap(void) { return g_race.half_lap; }
void race_set_server(bool server) { g_race.server = server; }
bool race_server(void) { return g_race.server; }

// ---- false start

static const dReal *frame_position(const BikeState *bike)
{
    return bike && bike->built ? dBodyGetPosition(bike->body[BODY_FRAME]) : nullptr;
}

void race_remember_start(int slot, const BikeState *bike)
{
    if (slot < 0 || slot >= RIDER_SLOTS)
        return;
    const dReal *p = frame_position(bike);
    g_race.has_start[slot] = p != nullptr;
    for (int k = 0; p && k < 3; k++)
        g_race.start[slot][k] = p[k];
    g_race.hold[slot] = 0;
}

int false_start_hold(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS ? g_race.hold[slot] : 0;
}

void false_start_rule(int slot)
{
    RiderSlot *s = rider_slot(slot);
    if (!g_race.server || !s || !s->bike || s->kind != CONTROL_HUMAN || !s->bike->built)
        return;
    BikeInputs &in = s->bike->inputs;
    if (race_tic() <= gate_drop_tic()) {
        in.sit = 1;
        const dReal *p = frame_position(s->bike);
        if (g_race.hold[slot] <= 0 && g_race.has_start[slot]) {
            double d2 = 0;
            for (int k = 0; k < 3; k++)
                d2 += (p[k] - g_race.start[slot][k]) * (p[k] - g_race.start[slot][k]);
            if (d2 >= k_false_start_reach2) {
                g_race.hold[slot] = gate_drop_tic() + k_false_start_hold_tics - race_tic();
                post_message("15 second false start penalty");
            }
        }
    }
    if (g_race.hold[slot] > 0) {
        g_race.hold[slot]--;
        in.front_brake = in.rear_brake = 1;
        in.throttle = 0;
        in.clutch = 0;
        in.sit = 1;
    }
}

// ---- starting gate

static int piece_count(void)
{
    return session_timing()->gate_count;
}

bool gate_window_open(void)
{
    return race_tic() <= gate_drop_tic() + session_replay_delay() + k_gate_window_tics;
}

// The pieces' scenery objects follow their angles (drawn and solid as they stand).
static void turn_piece_objects(void)
{
    const Timing *t = session_timing();
    for (int i = 0; i < piece_count(); i++)
        scenery_gate_piece_turn(t->gates[i].piece, g_race.pieces[i].angle);
}

void starting_gate_pieces_raise(void)
{
    for (GatePiece &g : g_race.pieces)
        g = { 1, 0, -1 };
    turn_piece_objects();
}

void starting_gate_animate(void)
{
    if (!gate_window_open())
        return;
    bool dropped = race_tic() >= gate_drop_tic() + session_replay_delay();
    for (int i = 0; i < piece_count(); i++) {
        GatePiece &g = g_race.pieces[i];
        if (!dropped) {
            g.angle = 1;
            g.speed = 0;
            continue;
        }
        if (!(g.angle > 0))
            continue;
        // a bike leaning on the piece holds it up for the tic
        if (g.touched_tic == race_tic()) {
            g.speed = 0;
            continue;
        }
        g.speed = (float)(g.speed + k_gate_fall_accel * k_tic);
        if (g.speed > k_gate_fall_top_speed)
            g.speed = k_gate_fall_top_speed;
        g.angle = (float)(g.angle - g.speed * k_tic);
        if (g.angle < 0)
            g.angle = 0;
    }
    turn_piece_objects();
}

void gate_piece_touch(int piece)
{
    if (piece >= 0 && piece < piece_count())
        g_race.pieces[piece].touched_tic = race_tic();
}

void gate_pieces_touch(BikeState *bike)
{
    const Timing *t = session_timing();
    for (int i = 0; bike && i < t->gate_count; i++)
        if (t->gates[i].piece >= 0 && scenery_object_touches(t->gates[i].piece, bike))
            gate_piece_touch(i);
}

const GatePiece *gate_piece(int piece)
{
    return piece >= 0 && piece < piece_count() ? &g_race.pieces[piece] : nullptr;
}

// ---- running order, race length and finish

// The number of lap ends the rider passed before the tic.
static int lap_ends_before(const Timing *t, const GatePasses *p, int32_t tic)
{
    int n = 0;
    for (int lap = 1;; lap++) {
        int k = lap_end_position(t, lap);
        if (k >= p->count)
            return n;
        if (p->tics[k] >= 0 && p->tics[k] < tic)
            n = lap;
    }
}

// A timed race is cut to the leader's lap in which the time runs out plus the extra laps; the
// half-race lap is the leader's lap at half time.
static void fix_timed_limits(const Timing *t)
{
    if (g_race.time_limit <= 0 || g_race.order_count == 0 || !t->valid)
        return;
    const GatePasses *leader = session_passes(g_race.order[0].slot);
    int32_t half = gate_drop_tic() + g_race.time_limit / 2, expiry = gate_drop_tic() + g_race.time_limit;
    if (g_race.half_lap == k_race_open && race_tic() >= half)
        g_race.half_lap = laps_completed(t, leader->count) + 1;
    if (!g_race.limit_fixed && race_tic() >= expiry) {
        int limit = lap_ends_before(t, leader, expiry) + 1 + (g_race.laps > 0 ? g_race.laps : 0);
        if (limit < g_race.lap_limit)
            g_race.lap_limit = limit;
        g_race.limit_fixed = true;
    }
}

static void update_finished(const Timing *t)
{
    g_race.chequered = -1;
    if (!t->valid || g_race.order_count == 0)
        return;
    // an open practice (no laps, no time) has no lap to end
    if (g_race.lap_limit >= 1)
        g_race.chequered = gate_pass_time(session_passes(g_race.order[0].slot), lap_end_position(t, g_race.lap_limit));
    for (int i = 0; i < g_race.order_count; i++) {
        int slot = g_race.order[i].slot;
        const GatePasses *p = session_passes(slot);
        if (g_race.finished[slot] && p->count <= g_race.finished_at[slot])
            g_race.finished[slot] = false;     // its passes were cut back
        if (g_race.finished[slot] || g_race.chequered < 0)
            continue;
        int laps = laps_completed(t, p->count);
        int at = laps >= 1 ? lap_end_position(t, laps) : 0;
        int32_t tic = gate_pass_time(p, at);
        if (tic >= 0 && tic >= g_race.chequered) {
            g_race.finished[slot] = true;
            g_race.finished_at[slot] = at;
        }
    }
}

void race_update(void)
{
    const GatePasses *passes[RIDER_SLOTS];
    for (int i = 0; i < RIDER_SLOTS; i++)
        passes[i] = rider_slot(i)->bike ? session_passes(i) : nullptr;
    g_race.order_count = running_order_build(passes, RIDER_SLOTS, g_race.order);
    const Timing *t = session_timing();
    fix_timed_limits(t);
    update_finished(t);
}

const RunningEntry *running_order(int *count)
{
    if (count)
        *count = g_race.order_count;
    return g_race.order;
}

int running_order_step(int slot, int direction)
{
    int n = g_race.order_count;
    if (n == 0)
        return slot;
    for (int i = 0; i < n; i++) {
        if (g_race.order[i].slot != slot)
            continue;
        int j = i + (direction > 0 ? 1 : direction < 0 ? -1 : 0);
        return g_race.order[j < 0 ? 0 : j >= n ? n - 1 : j].slot;
    }
    return g_race.order[0].slot;
}

bool rider_finished(int slot)
{
    return slot >= 0 && slot < RIDER_SLOTS && g_race.finished[slot];
}

int32_t chequered_tic(void)
{
    return g_race.chequered;
}

int leader_lap(void)
{
    if (g_race.order_count == 0)
        return 0;
    return laps_completed(session_timing(), g_race.order[0].positions) + 1;
}

FlaggerBoard flagger_board(void)
{
    if (g_race.order_count == 0 || !session_timing()->valid)
        return BOARD_NORMAL;
    if (g_race.finished[g_race.order[0].slot])
        return BOARD_CHEQUERED;
    int lap = leader_lap();
    if (g_race.lap_limit >= 1 && lap >= g_race.lap_limit)
        return BOARD_LAST_LAP;
    if (lap == g_race.half_lap)
        return BOARD_HALF_WAY;
    return BOARD_NORMAL;
}

// ---- restarts

bool race_leader_finished(void)
{
    if (g_race.order_count == 0 || g_race.lap_limit < 1 || !session_timing()->valid)
        return false;
    return laps_completed(session_timing(), g_race.order[0].positions) >= g_race.lap_limit;
}

void lineup_rotate(int *requests, int count, int by)
{
    if (!requests || count <= 0)
        return;
    int shift = ((by % count) + count) % count;
    if (shift == 0)
        return;
    int moved[SESSION_SLOTS];
    int *out = count <= SESSION_SLOTS ? moved : nullptr;
    if (!out)
        return;
    for (int i = 0; i < count; i++)
        out[(i + shift) % count] = requests[i];
    memcpy(requests, out, (size_t)count * sizeof(int));
}

void race_restart_rotated(int slots)
{
    if (!session_track())
        return;
    if (session_time_trial()) {
        load_session(nullptr, false, false, 0, session_laps(), session_skill());
        return;
    }
    int requests[SESSION_SLOTS];
    memcpy(requests, session_requests(), sizeof requests);
    lineup_rotate(requests, SESSION_SLOTS, slots);
    load_session(requests, false, session_record_demo(), session_time_limit(), session_laps(), session_skill());
}
