#include "race/time_trial.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "bike/bike.h"
#include "common/mem.h"
#include "platform/log.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"
#include "vfs/vfs.h"

static const int k_player_slot = 0;    // a time trial requests slot 0 only
static const int k_first_attempt = 2;

static const TimeTrialDemoCalls k_demo_calls = {
    .finish_recording = demo_finish_recording,
    .close_playback = demo_close,
    .open_ghost = demo_open_ghost,
    .start_recording = demo_start_recording,
};

static struct {
    TimeTrialDemoCalls calls;
    int attempt;
    bool armed;
    int32_t last_lap, best_lap;
    int player_laps;                // completed laps after the last tic
    int ghost_laps[RIDER_SLOTS];    // the same for each ghost rider
    int ghost_done[RIDER_SLOTS];    // laps a ghost finished (and was sent round again) since it started
} g_tt = { k_demo_calls, k_first_attempt, false, 0, 0, 0, {}, {} };

void time_trial_set_demo_calls(const TimeTrialDemoCalls *calls)
{
    g_tt.calls = calls ? *calls : k_demo_calls;
}

void time_trial_reset_for_tests(void)
{
    g_tt = { k_demo_calls, k_first_attempt, false, 0, 0, 0, {}, {} };
}

int time_trial_attempt(void) { return g_tt.attempt; }
int32_t time_trial_last_lap(void) { return g_tt.last_lap; }
int32_t time_trial_best_lap(void) { return g_tt.best_lap; }

int time_trial_restart_position(const Timing *t, int attempt)
{
    int d = t->first_count, c = t->normal_count;
    int q = d + c - attempt;
    if (q < 0)
        return 0;
    if (q >= d && c > 0)
        q = d + (q - d) % c;
    return q;
}

void time_trial_clear_laps(void)
{
    g_tt.last_lap = g_tt.best_lap = 0;
}

// Passes as at the start of a lap: positions before the lap end of lap 1 count as passed (at
// 'tic' where the list had none), and the lap end itself at lap_start when that is given (the
// next lap end then ends a timed lap), or still to pass when it is -1.
static void start_of_lap(const Timing *t, GatePasses *p, int32_t tic, int32_t lap_start)
{
    int end = t->first_count - 1;
    truncate_passes(p, end);
    for (int k = 0; k < end; k++)
        if (k >= p->count)
            set_gate_pass(p, k, tic);
    if (lap_start >= 0)
        set_gate_pass(p, end, lap_start);
    p->next = p->count;
}

static void empty_ghost_slots(void)
{
    for (int i = 1; i < RIDER_SLOTS; i++) {
        free_rider(i);
        g_tt.ghost_laps[i] = g_tt.ghost_done[i] = 0;
    }
}

static BikeState *player_bike(void)
{
    RiderSlot *s = rider_slot(k_player_slot);
    return s->bike && s->kind == CONTROL_HUMAN ? s->bike : nullptr;
}

void time_trial_restart(void)
{
    if (!session_time_trial())
        return;
    g_tt.calls.finish_recording();
    g_tt.calls.close_playback();
    empty_ghost_slots();
    const Timing *t = session_timing();
    BikeState *bike = player_bike();
    if (bike && t->valid) {
        const Checkpoint *c = &t->checkpoints[position_checkpoint(t, time_trial_restart_position(t, g_tt.attempt))];
        place_bike(bike, session_terrain(), c->centre.x, c->centre.z, atan2f(-c->direction.x, -c->direction.z));
        GatePasses *p = session_passes(k_player_slot);
        start_of_lap(t, p, race_tic(), -1);
        g_tt.player_laps = laps_completed(t, p->count);
    }
    g_tt.last_lap = 0;
    results_refresh();
}

void time_trial_begin(void)
{
    g_tt.attempt = k_first_attempt;
    g_tt.armed = false;
    time_trial_restart();
    g_tt.attempt++;
}

static bool backing_up_aborts(void)
{
    return race_settings_backing_up_aborts();
}

void time_trial_restart_input(void)
{
    if (!session_time_trial())
        return;
    const float *ch = control_channels();
    if (ch[CHANNEL_BACK_UP] < 0.5f) {
        g_tt.armed = true;
    } else if (g_tt.armed && ch[CHANNEL_BACK_UP] > 0.5f && backing_up_aborts()) {
        time_trial_restart();
        // further back each time, but never before the first position of the lap order
        const Timing *t = session_timing();
        if (t->first_count + t->normal_count - g_tt.attempt > 0)
            g_tt.attempt++;
        g_tt.armed = false;
    }
    if (ch[CHANNEL_THROTTLE] > 0.5f)
        g_tt.attempt = k_first_attempt;
}

// ---- lap ends

static void fast_lap_name(char *out, size_t size, const char *file)
{
    snprintf(out, size, "@%.1000s/%s", session_track() ? session_track() : "", file);
}

static bool fast_lap_exists(void)
{
    char name[1100];
    fast_lap_name(name, sizeof name, "fastlap.skdemo");
    DataFile *f = open_data_file(name, "rb");
    close_data_file(f);
    return f != nullptr;
}

// "lastlap.skdemo" over "fastlap.skdemo" as one replacement: a failed copy leaves the old fast
// lap as it was.
static bool keep_fast_lap(void)
{
    char from[1100], to[1100];
    fast_lap_name(from, sizeof from, "lastlap.skdemo");
    fast_lap_name(to, sizeof to, "fastlap.skdemo");
    DataFile *in = open_data_file(from, "rb");
    if (!in)
        return false;
    DataFile *out = begin_replace_file(to);
    if (!out) {
        close_data_file(in);
        log_printf("Warning: can't write '%.900s'; the fast lap stays as it was\n", to);
        return false;
    }
    uint8_t *buffer = (uint8_t *)xmalloc(65536);
    size_t n;
    bool ok = true;
    while (ok && (n = data_read(in, buffer, 65536)) > 0)
        ok = data_write(out, buffer, n) == n;
    xfree(buffer);
    close_data_file(in);
    if (!ok) {
        abandon_replace_file(out);
        return false;
    }
    if (!finish_replace_file(out)) {
        log_printf("Warning: can't write '%.900s'; the fast lap stays as it was\n", to);
        return false;
    }
    return true;
}

// The most positions any ghost rider has passed in the player's lap, counting the laps it
// finished before being sent round again; -1 with no ghost.
static int ghost_positions(const Timing *t)
{
    int best = -1;
    for (int i = 1; i < RIDER_SLOTS; i++) {
        if (!rider_slot(i)->bike)
            continue;
        int n = session_passes(i)->count + g_tt.ghost_done[i] * t->normal_count;
        if (n > best)
            best = n;
    }
    return best;
}

static void player_lap_end(const Timing *t, GatePasses *p)
{
    int end = t->first_count - 1;
    int32_t start = gate_pass_time(p, end), finish = gate_pass_time(p, end + t->normal_count);
    int ghost = ghost_positions(t);
    g_tt.calls.finish_recording();
    g_tt.calls.close_playback();
    int32_t lap = start >= 0 && finish >= 0 ? finish - start : 0;
    if (lap >= 1) {
        g_tt.last_lap = lap;
        if (g_tt.best_lap == 0 || lap < g_tt.best_lap)
            g_tt.best_lap = lap;
        // Without a ghost to race, only a best lap is worth keeping.
        bool beat = ghost >= 0 ? p->count > ghost : lap == g_tt.best_lap;
        if (!fast_lap_exists() || beat)
            keep_fast_lap();
    }
    int32_t lap_start = finish >= 0 ? finish : start;
    empty_ghost_slots();
    char ghost_file[1100];
    fast_lap_name(ghost_file, sizeof ghost_file, "fastlap.skdemo");
    g_tt.calls.open_ghost(ghost_file);
    for (int i = 1; i < RIDER_SLOTS; i++) {
        if (!rider_slot(i)->bike)
            continue;
        GatePasses *g = session_passes(i);
        start_of_lap(t, g, lap_start, lap_start);
        g_tt.ghost_laps[i] = laps_completed(t, g->count);
        g_tt.ghost_done[i] = 0;
    }
    start_of_lap(t, p, lap_start, lap_start);
    g_tt.player_laps = laps_completed(t, p->count);
    g_tt.calls.start_recording();
    results_refresh();
}

// A ghost that finished its lap goes round again from the lap's start, in step with the player.
static void ghost_lap_ends(const Timing *t)
{
    for (int i = 1; i < RIDER_SLOTS; i++) {
        if (!rider_slot(i)->bike)
            continue;
        GatePasses *g = session_passes(i);
        int laps = laps_completed(t, g->count);
        if (laps > g_tt.ghost_laps[i]) {
            g_tt.ghost_done[i] += laps - g_tt.ghost_laps[i];
            int32_t end = gate_pass_time(g, lap_end_position(t, laps));
            start_of_lap(t, g, end, end);
        }
        g_tt.ghost_laps[i] = laps_completed(t, g->count);
    }
}

void time_trial_tic(void)
{
    const Timing *t = session_timing();
    if (!session_time_trial() || !t->valid || !player_bike())
        return;
    GatePasses *p = session_passes(k_player_slot);
    int laps = laps_completed(t, p->count);
    if (laps > g_tt.player_laps)
        player_lap_end(t, p);
    else
        g_tt.player_laps = laps;
    ghost_lap_ends(t);
}
