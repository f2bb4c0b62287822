// The heads-up display over the rider and chase views: the watched rider's pit board, the
// battle strip, the rev counter with gear and speed, the lean indicator, the suspension graph,
// the track map, the race title, the HUD text lines and the render statistics. The texts and
// the geometry are worked out by functions the tests call without GL.
#pragma once
#include <stdint.h>

struct BikeState;

enum {
    HUD_TEXT = 64,
    GRAPH_TICS = 256,               // tics of suspension history shown
    GRAPH_STRIPS = 6,
};

// What the driver knows and the HUD shows.
struct HudInput {
    int slot;                       // the watched slot
    bool practice;                  // practice or time trial: no lap in the position line
    const char *track_name;         // the track's display name
    const char *series_event;       // the running series event's name; null outside a series
    bool draw_fps, draw_time, draw_ping, draw_speed, render_stats;
    double longest_step;            // seconds, for "FPS - %d"; 0 none
    int ping_ms, ping_offset_ms;    // shown with draw_ping when connected in a race
    bool ping_shown;
    bool lean_indicator;            // "Lean Indicator" is "Yes"
    bool suspension_graph;          // the console's "togglegraph"
    float map_scale;                // "map_scale"
};

// ---- texts

// "P%d" in practice and time trial, else "L%d P%d".
void  hud_position_text(char *out, int size, bool practice, int lap, int position);
// "%+.1f " (seconds behind the rider ahead; 0 when alone).
void  hud_gap_text(char *out, int size, double seconds);
// "<label>%d:%02d.%d" (minutes, seconds, tenths; negative counts as 0), e.g. "Last - " with a
// trailing space as the board shows it.
void  hud_lap_text(char *out, int size, const char *label, double seconds, const char *after);

// What the pit board says about a rider.
struct PanelFacts {
    bool practice;
    int completed_laps, position;
    double gap;                     // seconds behind the rider ahead
    double last_lap, best_lap;      // seconds, 0 none
};
// The board's lines under the number; returns the count (2 to 4).
int   hud_panel_lines(const PanelFacts *f, char lines[4][HUD_TEXT]);
// The facts of a slot from the race: position in the running order, laps, gap, lap times.
bool  hud_panel_facts(int slot, bool practice, PanelFacts *out);

// One entry of the battle strip: " %.5s (%.1f) " for a rider ahead whose gap at the last gate
// both passed is above 0 and at most 3 s and who passed it at most 15 s ago; false otherwise.
bool  battle_entry_text(const char *name, double gap, double since, char *out, int size);
// The strip for a slot from the race; returns the number of entries.
int   battle_strip(int slot, char *out, int size);

// The race title in the first 3 s: the track's name and the race length ("%d laps",
// "%d minutes", "%d minutes + %d laps"), or the series event's name; alpha = clamp(3 - t, 0, 1).
// False once it is gone.
bool  race_title(const char *track, const char *event, int time_limit_tics, int laps, double seconds, char *line1,
                 char *line2, int size, float *alpha);

// ---- the rev counter

#define TACH_ZERO_DEGREES 225.0f    // the needle at 0 rpm, counter-clockwise from 3 o'clock
// The needle's angle, degrees counter-clockwise from 3 o'clock: clockwise over the dial's sweep,
// pinned at its end beyond the scale.
float tach_needle_degrees(float rpm);
const char *gear_text(int gear);    // 0 is first gear; below 0 "N"
int   speed_mph(float feet_per_second);

// ---- the suspension graph

// Six readings of a tic, each in -1..1 of its strip: fork position over its travel, fork speed
// over +-10 ft/s and +-2 ft/s, swingarm angle over its travel, shock speed over +-10 and +-2.
void  suspension_readings(const BikeState *bike, float out[GRAPH_STRIPS]);
extern const char *const k_graph_labels[GRAPH_STRIPS];
struct SuspensionGraph {
    float values[GRAPH_TICS][GRAPH_STRIPS];
    int next, count;
    int last_tic;
};
void  graph_reset(SuspensionGraph *g);
// The readings for every tic from the last one pushed up to tic (at most a full window).
void  graph_push(SuspensionGraph *g, int tic, const float readings[GRAPH_STRIPS]);
// Reading i of strip s, oldest first; 0 outside.
float graph_value(const SuspensionGraph *g, int i, int strip);

// ---- the track map

float map_scale_clamp(float scale);         // 0.125..8 (NaN: 1)
// A world position on the map drawn at (left, top) size pixels square, y down: image row 0 at
// z = 0, the whole field.
void  map_point(float x, float z, float world_size, float left, float top, float size, float *px, float *py);
void  track_map_load(const char *name);     // the session's hook: "@<folder>/map.png"; none kept when missing
unsigned track_map_texture(void);

// ---- drawing

// The rider and chase views' HUD over the frame just drawn.
void  hud_draw_view(const HudInput *in);
// The render statistics lines ("renderstats"); returns the count.
int   render_stats_lines(char lines[8][HUD_TEXT]);
// Test hook: the graph cleared, no map.
void  hud_reset_for_tests(void);
