#include "race/results.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "platform/log.h"
#include "race/race_rules.h"
#include "race/session.h"
#include "race/session_steps.h"
#include "race/world.h"
#include "vfs/vfs.h"

static const double k_tic = 1.0 / 128;
static const int k_replay_silence_tics = 10 * 128;
static const double k_server_silence = 1;       // seconds

static const ResultsActivityCalls k_activity = {
    .online = net_connected,
    .own_in_race = net_in_race,
    .replay_newest_tic = replay_newest_tic,
    .server_update_age = net_rider_update_age,
    .has_race_slot = net_rider_in_race,
};

static struct {
    ResultsActivityCalls calls;
    bool final;
    FinalEntry order[RIDER_SLOTS];
    int count;
    bool fixed_calendar;
    long calendar;
} g_results = { k_activity, false, {}, 0, false, 0 };

void results_set_activity_calls(const ResultsActivityCalls *calls)
{
    g_results.calls = calls ? *calls : k_activity;
}

void results_begin(void)
{
    g_results.final = false;
    g_results.count = 0;
}

bool results_final(void) { return g_results.final; }

const FinalEntry *final_order(int *count)
{
    if (count)
        *count = g_results.count;
    return g_results.order;
}

long results_calendar(void)
{
    return g_results.fixed_calendar ? g_results.calendar : (long)time(nullptr);
}

void results_set_calendar_for_tests(bool fixed, long seconds)
{
    g_results.fixed_calendar = fixed;
    g_results.calendar = seconds;
}

void time_parts(double seconds, int *minutes, int *secs, int *millis)
{
    long long ms = seconds > 0 && isfinite(seconds) ? (long long)floor(seconds * 1000) : 0;
    *minutes = (int)(ms / 60000);
    *secs = (int)(ms / 1000 % 60);
    *millis = (int)(ms % 1000);
}

// ---- laps

int lap_tics(const Timing *t, const GatePasses *p, int lap, int32_t gate_drop)
{
    if (!t->valid || lap < 1)
        return 0;
    int end = lap_end_position(t, lap);
    int from = lap == 1 ? 0 : lap_end_position(t, lap - 1);
    if (end >= p->count)
        return 0;
    for (int k = from; k <= end; k++)
        if (p->tics[k] < 0)
            return 0;
    int start = lap == 1 ? gate_drop : p->tics[from];
    int time = p->tics[end] - start;
    return time > 0 ? time : 0;
}

int best_lap_of(const Timing *t, const GatePasses *p, int32_t gate_drop, int *tics)
{
    int best = 0, best_time = 0;
    int laps = t->valid ? laps_completed(t, p->count) : 0;
    for (int lap = 2; lap <= laps; lap++) {
        int time = lap_tics(t, p, lap, gate_drop);
        if (time > 0 && (best_time == 0 || time < best_time)) {
            best = lap;
            best_time = time;
        }
    }
    if (tics)
        *tics = best_time;
    return best;
}

int penalty_laps(const Timing *t, int *positions, double *penalty, int best_tics)
{
    int removed = 0;
    // A rider with no timed lap has no lap to pay with: all of it goes on its time.
    if (!t->valid || best_tics <= 0 || laps_completed(t, *positions) < 2)
        return 0;
    while (*positions > t->first_count && *penalty > best_tics) {
        *positions -= t->normal_count;
        *penalty -= best_tics;
        removed++;
    }
    return removed;
}

double lap_time(int slot, int lap)
{
    const GatePasses *p = session_passes(slot);
    return p ? lap_tics(session_timing(), p, lap, gate_drop_tic()) * k_tic : 0;
}

int best_lap(int slot, double *seconds)
{
    const GatePasses *p = session_passes(slot);
    int tics = 0, lap = p ? best_lap_of(session_timing(), p, gate_drop_tic(), &tics) : 0;
    if (seconds)
        *seconds = tics * k_tic;
    return lap;
}

// ---- race over and final order

static bool rider_active(int slot, bool online, bool own_in_race)
{
    int kind = rider_slot(slot)->kind;
    if (!online) {
        if (kind == CONTROL_HUMAN || kind == CONTROL_ROBOT)
            return true;
        int newest = g_results.calls.replay_newest_tic(slot);
        return newest >= 0 && race_tic() - newest <= k_replay_silence_tics;
    }
    if (!own_in_race && !g_results.calls.has_race_slot(slot))
        return false;
    return kind == CONTROL_HUMAN || g_results.calls.server_update_age(slot) < k_server_silence;
}

static bool race_over(void)
{
    int n;
    const RunningEntry *order = running_order(&n);
    bool online = g_results.calls.online(), own = online && g_results.calls.own_in_race();
    for (int i = 0; i < n; i++)
        if (!rider_finished(order[i].slot) && rider_active(order[i].slot, online, own))
            return false;
    return true;
}

static bool final_before(const FinalEntry &a, const FinalEntry &b)
{
    if (a.positions != b.positions)
        return a.positions > b.positions;
    if (a.time != b.time)
        return a.time < b.time;
    return a.slot < b.slot;
}

int final_order_build(FinalEntry *out)
{
    int n;
    const RunningEntry *order = running_order(&n);
    const Timing *t = session_timing();
    const GatePasses *others[RIDER_SLOTS];
    for (int i = 0; i < n; i++)
        others[i] = session_passes(order[i].slot);
    for (int i = 0; i < n; i++) {
        const GatePasses *p = others[i];
        FinalEntry &e = out[i];
        e.slot = order[i].slot;
        e.positions = order[i].positions;
        e.last_tic = order[i].last_tic;
        // against the other riders only: its own clean laps are no measure of its cut
        others[i] = others[n - 1];
        e.penalty = cutting_penalty(t, p, others, n - 1);
        others[i] = p;
        int best = 0;
        best_lap_of(t, p, gate_drop_tic(), &best);
        e.laps_removed = penalty_laps(t, &e.positions, &e.penalty, best);
        e.time = e.last_tic + e.penalty;
    }
    // insertion sort: once a race, and already nearly in order
    for (int i = 1; i < n; i++) {
        FinalEntry e = out[i];
        int j = i;
        for (; j > 0 && final_before(e, out[j - 1]); j--)
            out[j] = out[j - 1];
        out[j] = e;
    }
    return n;
}

void results_refresh(void)
{
    if (g_results.final)
        return;
    race_update();
    if (!race_over())
        return;
    g_results.count = final_order_build(g_results.order);
    if (g_results.count > 0 && rider_finished(g_results.order[0].slot))
        results_write("@results.txt");
    g_results.final = true;
    series_record_event();
}

// ---- "@results.txt"

static void write_passes(DataFile *f, const Timing *t, const GatePasses *p, int positions)
{
    data_printf(f, "\r\n%d\r\n", positions);
    for (int k = 0; k < positions; k++) {
        int32_t tic = k < p->count ? p->tics[k] : -1;
        if (tic >= 0)
            data_printf(f, "%8.3f", (tic - gate_drop_tic()) * k_tic);
        else
            data_printf(f, "%8d", -1);
        bool line_ends = position_ends_lap(t, k) || k == positions - 1;
        data_puts(f, line_ends ? "\r\n" : " ");
    }
}

bool results_write(const char *name)
{
    DataFile *f = begin_replace_file(name);
    if (!f) {
        log_printf("Can't write '%.900s'; the race's results are not kept\n", name);
        return false;
    }
    const Timing *t = session_timing();
    data_printf(f, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", session_time_limit() * k_tic, session_laps(),
                session_track() ? session_track() : "", results_calendar());
    data_printf(f, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps", "Total Time", "BLap", "Best Time");
    for (int i = 0; i < g_results.count; i++) {
        const FinalEntry &e = g_results.order[i];
        if (!rider_finished(e.slot))
            continue;
        const SessionSlot *s = session_slot(e.slot);
        int m, sec, ms, best_tics = 0;
        time_parts((e.time - gate_drop_tic()) * k_tic, &m, &sec, &ms);
        data_printf(f, "%4s | %12s | %4d | %3d:%02d.%03d | ", s->number, s->bike, laps_completed(t, e.positions), m, sec,
                    ms);
        int best = best_lap_of(t, session_passes(e.slot), gate_drop_tic(), &best_tics);
        time_parts(best_tics * k_tic, &m, &sec, &ms);
        data_printf(f, "%4d | %3d:%02d.%03d\r\n", best, m, sec, ms);
    }
    for (int i = 0; i < g_results.count; i++)
        if (rider_finished(g_results.order[i].slot))
            write_passes(f, t, session_passes(g_results.order[i].slot), g_results.order[i].positions);
    if (!finish_replace_file(f)) {
        log_printf("Can't write '%.900s'; the race's results are not kept\n", name);
        return false;
    }
    return true;
}
