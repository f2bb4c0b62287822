// Steps of the track session and of the tic that belong to simulation subsystems not yet in
// the game: the bikes' control updates, riding lines and robots, demos, the network, race
// rules and results, erosion. Each does nothing or reports "nothing there" until its
// subsystem fills it; none of them fails a load. (The layers above the simulation take part
// through the hooks of race/simulation.h instead.)
#pragma once
#include <stdint.h>

struct BikeState;
struct DataFile;

// Riding lines of the robots.
int   lines_slot_count(void);
void  lines_read(DataFile *f, int count);
void  lines_analyze(void);
void  lines_write(int skill);
void  lines_reset(void);
void  lines_clear_progress(void);
void  lines_create_segments(int segments);
void  lines_write_and_free(bool learn);

// Bikes: modes and the control update's parts still to come, in their order.
void  bike_set_replay_mode(BikeState *bike, float a, float b, float c, float angle);
void  bike_set_simulation_mode(BikeState *bike);
void  bike_steering_update(BikeState *bike);    // steering and the stability assists
void  bike_dab_and_falls(BikeState *bike);
void  bike_dig_terrain(BikeState *bike);    // erosion samples of both wheels after the step
void  terrain_erode_around(BikeState *bike);
void  physics_log_capture(void);
void  robot_set_personality(BikeState *bike, const char *name);
void  robot_autopilot(int slot);

// Demos and the network.
bool  demo_open_playback(const char *file);
bool  demo_playing(void);
const char *demo_track_folder(void);           // as the demo names it; null when none
// The next recorded rider of the playing demo; false when none is left.
bool  demo_next_rider(char *model, char textures[4][256], char *number, char *name);
void  demo_finish_recording(void);
void  demo_forget_riders(void);
void  demo_start_recording(void);
void  demo_record_first(void);
void  demo_read_first(void);
void  demo_tic(void);
void  demo_step_seconds(float seconds);
void  demo_close(void);
void  replay_history_clear(int slot);
void  replay_set_bike_state(int slot);
bool  net_connected(void);
bool  net_synchronised(void);               // the race clock follows the server's
bool  net_in_race(void);                    // the own slot takes part in the race
bool  net_spectating(void);
bool  net_race(void);                       // loading for a server race
int   net_server_tic(void);
const char *net_track_folder(void);
int32_t net_gate_drop_tic(void);
void  net_clear_receive_buffers(void);
bool  net_slot_rider(int slot, char *model, char textures[4][256], char *number, char *name);
int   net_slot_position(int slot);              // -1: the slot's own number
void  net_correct_remote(int slot);
void  net_poll(void);
void  net_disconnect(void);
void  net_send_chat(const char *text);

// Race rules, results and series.
void  time_trial_place_player(int attempt);
void  time_trial_restart_input(void);
void  time_trial_tic(void);
void  false_start_rule(int slot);
void  starting_gate_animate(void);
void  gate_pieces_touch(BikeState *bike);   // a replayed bike against the starting-gate pieces
int   running_order_step(int slot, int direction);  // the rider before (-1) or after (+1)
bool  race_leader_finished(void);
void  race_restart_rotated(int slots);
void  results_refresh(void);
void  series_record_pending(void);
int   race_settings_robot_skill(void);
