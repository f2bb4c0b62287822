// Flaggers: billboards whose picture and place follow the race. The start flagger walks off
// after the gate drop, the lap flagger shows the leader's lap, and corner workers warn while a
// fallen rider lies past one of their gates. The race's state comes in through FlaggerView.
#pragma once

struct DataFile;

enum { FLAGGER_CORNER_GATES = 4 };

struct CornerWorker {
    int billboard;
    int gates[FLAGGER_CORNER_GATES];        // checkpoint indices; -1 none
    unsigned normal, warning;               // textures
};

struct Flaggers {
    bool has_start, has_lap;
    int start_billboard;
    float start[3], end[3];                 // y: above the ground
    float duration;                         // seconds of the walk; <= 0 walks at once
    unsigned start_pictures[5];
    int start_shown;                        // picture index up; -1 none yet
    int lap_billboard;
    unsigned lap_pictures[4];
    int lap_shown;
    CornerWorker *workers;
    int worker_count, worker_capacity;
};

// Reads the "flaggers" file into billboards (after the roost slots, before the file's own
// billboards). Corner gates are clamped to -1 .. checkpoints - 1. Returns the flaggers made.
int  flaggers_load(DataFile *f, int checkpoints);
const Flaggers *flaggers(void);
void flaggers_free(void);

// The start flagger's picture (0..4) t seconds after the gate drop.
int   start_flagger_picture(double t, float duration);
// How far along its walk (0..1) the start flagger is t seconds after the drop.
float start_flagger_progress(double t, float duration);

// What a frame tells the flaggers of the race.
struct FlaggerView {
    double since_drop;                      // seconds since the gate drop (negative before)
    int board;                              // the lap board: 0 normal, 1 half way, 2 last lap, 3 chequered
    const int *down_gates;                  // last passed checkpoint of every rider who is down
    int down_count;
};
// Whether a worker shows its warning: a fallen rider's last gate is one of its four.
bool corner_worker_warns(const CornerWorker *w, const int *down_gates, int down_count);
// Pictures and places for this frame; a picture put up restarts its animation (hook).
void flaggers_apply(const FlaggerView *view);
