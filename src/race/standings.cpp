#include "race/standings.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "bike/bike.h"
#include "common/messages.h"
#include "race/race_rules.h"
#include "race/results.h"
#include "race/session.h"
#include "race/world.h"

static const double k_tic = 1.0 / 128;
static const double k_ticker_entries_per_second = 0.5;
static const double k_ticker_entry_width = 21.5;
static const double k_mph = 0.6818182;         // miles per hour in one foot per second

static const char *const k_heads[RESULTS_COLUMNS] = { "Pos.", "No.", "Lap", "Gap", "Best Time", "BLap" };

// One rider of the shown order: the final order once final, else the running order.
struct Shown {
    int slot;
    int positions;
    double time;                    // tics
    const FinalEntry *final;        // null in the running order
};

static int shown_order(Shown *out)
{
    int n;
    if (results_final()) {
        const FinalEntry *f = final_order(&n);
        for (int i = 0; i < n; i++)
            out[i] = { f[i].slot, f[i].positions, f[i].time, &f[i] };
        return n;
    }
    const RunningEntry *r = running_order(&n);
    for (int i = 0; i < n; i++)
        out[i] = { r[i].slot, r[i].positions, (double)r[i].last_tic, nullptr };
    return n;
}

double rider_gap(int slot, int positions, double time, int ahead, int ahead_positions, double ahead_time)
{
    double gap = 0;
    if (positions == ahead_positions) {
        gap = time - ahead_time;
    } else {
        const GatePasses *a = session_passes(slot), *b = session_passes(ahead);
        int k = (positions < ahead_positions ? positions : ahead_positions) - 1;
        for (; a && b && k >= 0; k--) {
            int ta = gate_pass_time(a, k), tb = gate_pass_time(b, k);
            if (ta >= 0 && tb >= 0) {
                gap = ta - tb;
                break;
            }
        }
    }
    return gap > 0 ? gap * k_tic : 0;
}

static double gap_between(const Shown &a, const Shown &b)
{
    return rider_gap(a.slot, a.positions, a.time, b.slot, b.positions, b.time);
}

static void time_text(char *out, size_t size, double seconds)
{
    int m, s, ms;
    time_parts(seconds, &m, &s, &ms);
    snprintf(out, size, "%d:%02d.%03d", m, s, ms);
}

bool results_overlay(ResultsOverlay *out)
{
    static Shown shown[160];
    int n = shown_order(shown);
    out->final = results_final();
    out->title = out->final ? "Final Results" : "Unofficial Results";
    for (int c = 0; c < RESULTS_COLUMNS; c++)
        out->heads[c] = k_heads[c];
    out->rows = out->penalties = 0;
    out->total[0] = 0;
    out->shown = n > 0 && rider_finished(shown[0].slot);
    if (!out->shown)
        return false;
    const Timing *t = session_timing();
    for (int i = 0; i < n; i++) {
        const Shown &e = shown[i];
        if (!out->final && !rider_finished(e.slot))
            continue;
        ResultsRow &row = out->row[out->rows];
        row.slot = e.slot;
        row.role = e.slot == viewed_slot() ? ROW_VIEWED : out->rows % 2 ? ROW_SHADED : ROW_PLAIN;
        // the first row against the second, every other against the one above
        double gap = i > 0 ? gap_between(e, shown[i - 1]) : n > 1 ? gap_between(e, shown[1]) : 0;
        double best = 0;
        int best_number = best_lap(e.slot, &best);
        snprintf(row.cells[0], k_standings_text, "%d", i + 1);
        snprintf(row.cells[1], k_standings_text, "%3s", session_slot(e.slot)->number);
        snprintf(row.cells[2], k_standings_text, "L%d", laps_completed(t, e.positions));
        snprintf(row.cells[3], k_standings_text, "%7.3f", gap);
        time_text(row.cells[4], k_standings_text, best);
        snprintf(row.cells[5], k_standings_text, "(%d)", best_number);
        out->rows++;
    }
    if (!out->final)
        return true;
    char total[32];
    time_text(total, sizeof total, (shown[0].time - gate_drop_tic()) * k_tic);
    snprintf(out->total, sizeof out->total, "Total Race Time: %s", total);
    for (int i = 0; i < n; i++) {
        const FinalEntry *f = shown[i].final;
        if (!f || !(f->time > f->last_tic))
            continue;
        char laps[32] = "";
        if (f->laps_removed > 0)
            snprintf(laps, sizeof laps, "%d %s ", f->laps_removed, f->laps_removed == 1 ? "lap" : "laps");
        snprintf(out->penalty[out->penalties++], k_penalty_text, "%3s penalized %s%.2f seconds for cutting track",
                 session_slot(f->slot)->number, laps, f->penalty * k_tic);
    }
    return true;
}

void results_ticker(Ticker *out, double clock)
{
    static Shown shown[160];
    int n = shown_order(shown);
    out->entries = n;
    for (int i = 0; i < n; i++) {
        TickerEntry &e = out->entry[i];
        const SessionSlot *s = session_slot(shown[i].slot);
        e.slot = shown[i].slot;
        snprintf(e.position, sizeof e.position, "%d", i + 1);
        snprintf(e.number, sizeof e.number, "%3s", s->number);
        snprintf(e.name, sizeof e.name, "%s", s->name);
        e.gap[0] = 0;
        if (i > 0)
            snprintf(e.gap, sizeof e.gap, "%7.3f", gap_between(shown[i], shown[0]));
    }
    double entries = fmod(clock > 0 ? clock * k_ticker_entries_per_second : 0, n + 1);
    out->scroll = entries * k_ticker_entry_width;
    out->lap[0] = 0;
    out->lap_box = LAP_BOX_NONE;
    if (n == 0)
        return;
    FlaggerBoard board = flagger_board();
    if (board == BOARD_CHEQUERED) {
        out->lap_box = LAP_BOX_CHEQUERED;
        return;
    }
    out->lap_box = board == BOARD_LAST_LAP ? LAP_BOX_WHITE : LAP_BOX_GREEN;
    snprintf(out->lap, sizeof out->lap, "Lap %d", leader_lap());
}

// ---- HUD lines

static double viewed_speed(void)
{
    const RiderSlot *s = rider_slot(viewed_slot());
    if (!s || !s->bike || !s->bike->built)
        return 0;
    const dReal *v = dBodyGetLinearVel(s->bike->body[BODY_FRAME]);
    return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

int hud_text_lines(const HudReadings *r, char (*lines)[k_hud_line], int max)
{
    int n = 0;
#define LINE(...)                                              \
    do {                                                       \
        if (n < max)                                           \
            snprintf(lines[n++], k_hud_line, __VA_ARGS__);     \
    } while (0)
    if (r->draw_fps)
        LINE("FPS - %d", r->longest_step > 0 ? (int)(1 / r->longest_step) : 0);
    if (r->draw_time) {
        int since = race_tic() - gate_drop_tic();
        double t = since > 0 ? since * k_tic : 0;
        LINE("Time - %d:%02d.%d ", (int)(t / 60), (int)t % 60, (int)(t * 10) % 10);
    }
    if (r->draw_ping && r->ping_known)
        LINE("Ping - %dms (%dms offset)", r->ping_ms, r->offset_ms);
    if (r->draw_speed)
        LINE("Speed - %.2f", viewed_speed() * k_mph);
    if (r->render_stats) {
        static const char *const names[6] = { "Ground polygons", "Model polygons", "Billboards", "Decals",
                                              "Texture Changes", "Shader Changes" };
        for (int k = 0; k < 6; k++)
            LINE("%s - %d max=%d", names[k], r->stats[k][0], r->stats[k][1]);
        LINE("Terrain texture age - %d", r->texture_age);
        LINE("Reshades pending - %d", r->reshades_pending);
        LINE("Erode buffered - %d", r->erode_buffered);
    }
    if (r->dabbing)
        LINE("Dabbing!");
    // the console's newest lines, oldest first
    for (int age = r->messages - 1; age >= 0; age--)
        LINE("%s", message_line(age));
#undef LINE
    return n;
}
