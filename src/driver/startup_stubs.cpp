// Stand-ins for steps whose subsystems are not in the game yet (see startup_stubs.h).
#include "driver/startup_stubs.h"

void build_texture_lists(void) {}
void free_texture_lists(void) {}
void build_series_list(void) {}
void free_series_list(void) {}

bool sound_open_capture(const char *, int, int) { return false; }
bool sound_open_device(void) { return false; }
bool sound_is_open(void) { return false; }
void sound_mix_frame(float) {}
void sound_capture_tic(void) {}
void sound_release_voices(void) {}
void sound_close(void) {}

void set_projection(int, int, float) {}
void render_view(int) {}
void hud_draw(void) {}
void results_overlay_draw(void) {}
void terrain_update_shading(int) {}
void renderer_tables_free(void) {}
void models_delete_all(void) {}

void bike_dig_terrain(BikeState *) {}
void bike_suspension_update(BikeState *) {}
void bike_drive_update(BikeState *) {}
void bike_steering_update(BikeState *) {}
void bike_dab_and_falls(BikeState *) {}
void bike_apply_channels(BikeState *, const float *) {}
void replay_set_bike_state(int) {}
void robot_autopilot(int) {}
void roost_move_chunks(void) {}
void starting_gate_animate(void) {}
void gate_pieces_touch(BikeState *) {}
int running_order_step(int slot, int) { return slot; }
bool race_leader_finished(void) { return false; }
void race_restart_rotated(int) {}
void time_trial_restart_input(void) {}
int camera_for_next_gate(int) { return -1; }
void free_camera_move(double) {}
void results_refresh(void) {}
void time_trial_tic(void) {}
void physics_log_capture(void) {}
void lines_write_and_free(bool) {}
void series_record_pending(void) {}
void terrain_erode_around(BikeState *) {}

bool demo_open_playback(const char *) { return false; }
void demo_tic(void) {}
void demo_step_seconds(float) {}
void demo_close(void) {}
bool net_connected(void) { return false; }
bool net_synchronised(void) { return false; }
bool net_in_race(void) { return false; }
bool net_spectating(void) { return false; }
int net_server_tic(void) { return 0; }
void net_correct_remote(int) {}
void false_start_rule(int) {}
void net_poll(void) {}
void net_disconnect(void) {}
void net_send_chat(const char *) {}
void script_tic(void) {}
void script_shutdown(void) {}
void menu_draw(int) {}
void menu_key(int, int, int) {}
void menu_mouse(float, float, bool) {}
void editor_tic(void) {}
bool editor_key(int, int) { return false; }
