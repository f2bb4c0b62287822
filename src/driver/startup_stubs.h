// Steps of start-up, the main loop and shutdown that belong to subsystems above the simulation
// not yet in the game: the renderer's views and HUD, menus, the editor, scripts and the lists
// of the file index. Each stands in its place in the order; until its subsystem fills it,
// it does nothing or reports "nothing there", and none of them fails start-up.
#pragma once

struct BikeState;

// Lists built from the file index.
void  build_series_list(void);
void  free_series_list(void);

// Renderer.
void  results_overlay_draw(void);

// Scripts, editor.
void  script_shutdown(void);
void  editor_tic(void);
bool  editor_key(int code, int pressed);    // true when the editor used the key
bool  editor_track_modified(void);          // changed since the last save

// What the console commands ask of the renderer.
void  terrain_decals_hidden(bool hidden);   // and the terrain redrawn
