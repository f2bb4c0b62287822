// What the HUD shows of the race, as data for the frame and HUD code to draw: the results
// overlay, the running-order ticker and the HUD's text lines. Nothing here draws.
#pragma once

enum {
    RESULTS_COLUMNS = 6,
    k_standings_text = 32,
    k_penalty_text = 96,
    k_hud_line = 128,
    k_hud_lines = 32,
};

// ---- results overlay

enum RowRole { ROW_PLAIN, ROW_SHADED, ROW_VIEWED };

struct ResultsRow {
    int slot;
    int role;                       // RowRole: rows shaded alternately, the viewed rider's own
    // "Pos.", "No.", "Lap", "Gap", "Best Time", "BLap": "%d", "%3s", "L%d", "%7.3f",
    // "%d:%02d.%03d", "(%d)"
    char cells[RESULTS_COLUMNS][k_standings_text];
};

struct ResultsOverlay {
    bool shown;                     // only once the leader of the shown order has finished
    bool final;
    const char *title;              // "Final Results" or "Unofficial Results"
    const char *heads[RESULTS_COLUMNS];
    int rows;                       // the finished riders; every rider when final
    ResultsRow row[160];
    char total[64];                 // "Total Race Time: %d:%02d.%03d" when final, else ""
    int penalties;                  // lines drawn in red
    char penalty[160][k_penalty_text];
};
// Fills the overlay from the final order when the results are final, else the running order.
// Returns out->shown.
bool results_overlay(ResultsOverlay *out);

// The gap in seconds of the rider 'slot' behind 'ahead' (never negative): with equal
// positions the difference of their times (penalised ones in the final order), otherwise of
// their passes at the last position both have passed.
double rider_gap(int slot, int positions, double time, int ahead, int ahead_positions, double ahead_time);

// ---- running-order ticker

enum LapBox { LAP_BOX_NONE, LAP_BOX_GREEN, LAP_BOX_WHITE, LAP_BOX_CHEQUERED };

struct TickerEntry {
    int slot;
    char position[8];               // "%d"
    char number[8];                 // "%3s", on a light box
    char name[64];
    char gap[16];                   // "%7.3f" to the leader; "" for the leader
};

struct Ticker {
    int entries;                    // the shown order; one empty entry follows before it repeats
    TickerEntry entry[160];
    double scroll;                  // units scrolled to the left (each entry 21.5 wide)
    int lap_box;                    // LapBox: green, white on the last lap, chequered once finished
    char lap[16];                   // "Lap %d"; "" with the chequered box or no race
};
void results_ticker(Ticker *out, double clock);

// ---- HUD text lines

// The readings that come from above the simulation; a line whose reading is not known is left out.
struct HudReadings {
    bool draw_fps;
    double longest_step;            // seconds, since the last drawing; 0 none
    bool draw_time;
    bool draw_ping;
    bool ping_known;                // connected with a race slot
    int ping_ms, offset_ms;
    bool draw_speed;
    bool render_stats;              // "--draw-render-stats" and the renderer's counts known
    int stats[6][2];                // ground, model, billboards, decals, texture and shader changes: now, max
    int texture_age, reshades_pending, erode_buffered;
    bool dabbing;                   // sticky sit/dab on and engaged
    int messages;                   // newest console lines to show
};
// Fills lines (each k_hud_line) in order; returns how many.
int hud_text_lines(const HudReadings *r, char (*lines)[k_hud_line], int max);
