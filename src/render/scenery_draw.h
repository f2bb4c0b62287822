// Drawing the scenery: statues (placed models and the starting-gate pieces) and billboards
// (trees, banners, flaggers and roost particles, sorted far to near and batched by texture).
// The records are the simulation's (render/scenery/); this module installs the texture and
// model hooks they load through.
#pragma once
#include <stdint.h>

// The scenery's texture, model and ground hooks from the renderer; call once GL is up.
void scenery_draw_install(void);
void scenery_draw_shutdown(void);           // the draw lists; the hooks are removed

void flaggers_update(void);                                  // per frame, before drawing (pictures, positions)
void statues_draw(const float eye[3]);
void billboards_draw(const float eye[3], const float back[3]);   // back = camera's backward axis; roost particles live in billboard slots and draw here

// "billboard_optimize_lookahead": how many of the next billboards batching looks at (1 or
// less: no reordering).
void billboards_set_lookahead(int n);

// Depth key along the camera's backward axis: floor(dot(p, back) * 1024 + 2^24), clamped to
// 0 .. 2^32 - 1 (0 for non-finite input).
uint32_t billboard_key(const float p[3], const float back[3]);
// Sorts n indices by keys[index], ascending, stable: four byte passes, least significant
// first; tmp holds n entries.
void billboard_radix_sort(const uint32_t *keys, int *order, int *tmp, int n);
// The billboards in front of the camera with a texture and some alpha, keys set, sorted far to
// near into order (room for billboard_count() entries); their number.
int  billboards_collect(const float eye[3], const float back[3], int *order);
// Moves a later billboard of the same texture (within the next lookahead - 1) up behind each
// one, unless one between them overlaps it on screen.
void billboards_batch(int *order, int n, int lookahead, const float eye[3], const float back[3]);

struct SceneryDrawStats {
    int billboards, billboards_max;         // drawn by the last frame; the most in one frame
    int binds;                              // texture binds of the last frame
    int statues;
};
void scenery_draw_stats(SceneryDrawStats *out);
void scenery_draw_reset_max(void);          // "renderstats" starts the maxima again
// "Billboards - %d max=%d"; returns out.
const char *billboard_stats_text(char *out, int size);
