// Steps of start-up, the main loop and shutdown that belong to subsystems not yet in the game.
// Each stands in its place in the order; until its subsystem fills it, it does nothing or
// reports "nothing there", and none of them fails start-up.
#pragma once
// The track session itself lives in the race subsystem.
#include "race/session.h"
#include "render/font.h"
#include "render/screens.h"
#include "render/texture.h"

struct BikeState;

// Lists built from the file index.
void  build_texture_lists(void);
void  free_texture_lists(void);
void  build_series_list(void);
void  free_series_list(void);

// Sound.
bool  sound_open_capture(const char *file, int rate, int samples_per_tic);
bool  sound_open_device(void);
bool  sound_is_open(void);
void  sound_mix_frame(float gain);
void  sound_capture_tic(void);              // appends one tic's mixed sound to the capture file
void  sound_release_voices(void);
void  sound_close(void);

// Renderer.
void  set_projection(int width, int height, float fov_degrees);
void  render_view(int view);
void  hud_draw(void);
void  results_overlay_draw(void);
void  terrain_update_shading(int budget);
void  renderer_tables_free(void);
void  models_delete_all(void);

// Bikes and the track session.
void  bike_dig_terrain(BikeState *bike);    // erosion samples of both wheels after the step
// The control update's parts that belong to later subsystems, in their order.
void  bike_suspension_update(BikeState *bike);
void  bike_drive_update(BikeState *bike);   // engine, clutch, gearbox, brakes
void  bike_steering_update(BikeState *bike);    // steering and the stability assists
void  bike_dab_and_falls(BikeState *bike);
void  bike_apply_channels(BikeState *bike, const float *channels);
void  replay_set_bike_state(int slot);
void  robot_autopilot(int slot);
void  roost_move_chunks(void);
void  starting_gate_animate(void);
void  gate_pieces_touch(BikeState *bike);   // a replayed bike against the starting-gate pieces
int   running_order_step(int slot, int direction);  // the rider before (-1) or after (+1)
bool  race_leader_finished(void);
void  race_restart_rotated(int slots);
void  time_trial_restart_input(void);
int   camera_for_next_gate(int slot);        // -1 when the track assigns none
void  free_camera_move(double distance);    // along the view direction, kept 2 above the terrain
void  results_refresh(void);
void  time_trial_tic(void);
void  physics_log_capture(void);
void  lines_write_and_free(bool learn);
void  series_record_pending(void);
void  terrain_erode_around(BikeState *bike);

// Demos, network, scripts, menus, editor.
bool  demo_open_playback(const char *file);
void  demo_tic(void);
void  demo_step_seconds(float seconds);
void  demo_close(void);
bool  net_connected(void);
bool  net_synchronised(void);               // the race clock follows the server's
bool  net_in_race(void);                    // the own slot takes part in the race
bool  net_spectating(void);
int   net_server_tic(void);
void  net_correct_remote(int slot);
void  false_start_rule(int slot);
void  net_poll(void);
void  net_disconnect(void);
void  net_send_chat(const char *text);
void  script_tic(void);
void  script_shutdown(void);
void  menu_draw(int screen);
void  menu_key(int screen, int code, int pressed);
void  menu_mouse(float x, float y, bool drag);
void  editor_tic(void);
bool  editor_key(int code, int pressed);    // true when the editor used the key
