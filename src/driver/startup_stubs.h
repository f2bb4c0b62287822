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
void  set_projection(int width, int height, float fov_degrees);
void  render_view(int view);
void  hud_draw(void);
void  results_overlay_draw(void);
void  terrain_update_shading(int budget);
void  renderer_tables_free(void);
int   camera_for_next_gate(int slot);        // -1 when the track assigns none
void  free_camera_move(double distance);    // along the view direction, kept 2 above the terrain
void  free_camera_place_above(BikeState *bike, float height);

// Scripts, editor.
void  script_shutdown(void);
void  editor_tic(void);
bool  editor_key(int code, int pressed);    // true when the editor used the key
bool  editor_track_modified(void);          // changed since the last save

// What the console commands ask of the renderer and the engine sound.
// The free camera: position, orientation quaternion (w, x, y, z) and field of view.
void  free_camera_get(float position[3], float rotation[4], float *fov);
void  free_camera_aim(float yaw_degrees, float pitch_degrees);     // roll 0
void  terrain_decals_hidden(bool hidden);   // and the terrain redrawn
