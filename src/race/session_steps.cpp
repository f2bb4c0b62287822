// Stand-ins for the simulation steps of later subsystems (see session_steps.h).
#include "race/session_steps.h"

#include "common/messages.h"

int lines_slot_count(void) { return 0; }
void lines_read(DataFile *, int) {}
void lines_analyze(void) {}
void lines_write(int) {}
void lines_reset(void) {}
void lines_clear_progress(void) {}
void lines_create_segments(int) {}
void lines_write_and_free(bool) {}

void bike_set_replay_mode(BikeState *, float, float, float, float) {}
void bike_set_simulation_mode(BikeState *) {}
void bike_steering_update(BikeState *) {}
void bike_dab_and_falls(BikeState *) {}
void physics_log_capture(void) {}
void robot_set_personality(BikeState *, const char *) {}
void robot_autopilot(int) {}

bool demo_open_playback(const char *)
{
    post_message("Demo playback is not in the game yet");
    return false;
}
bool demo_playing(void) { return false; }
const char *demo_track_folder(void) { return nullptr; }
bool demo_next_rider(char *, char (*)[256], char *, char *) { return false; }
void demo_finish_recording(void) {}
void demo_forget_riders(void) {}
void demo_start_recording(void) {}
void demo_record_first(void) {}
void demo_read_first(void) {}
void demo_tic(void) {}
void demo_step_seconds(float) {}
void demo_close(void) {}
void replay_history_clear(int) {}
void replay_set_bike_state(int) {}
bool replay_state_near(int, int, int) { return false; }
bool remote_rider_live(int) { return true; }
bool net_connected(void) { return false; }
bool net_synchronised(void) { return false; }
bool net_in_race(void) { return false; }
bool net_spectating(void) { return false; }
bool net_race(void) { return false; }
int net_server_tic(void) { return 0; }
const char *net_track_folder(void) { return nullptr; }
int32_t net_gate_drop_tic(void) { return 0; }
void net_clear_receive_buffers(void) {}
bool net_slot_rider(int, char *, char (*)[256], char *, char *) { return false; }
int net_slot_position(int) { return -1; }
void net_correct_remote(int) {}
void net_poll(void) {}
void net_disconnect(void) {}
void net_send_chat(const char *) {}
bool net_send_erode_record(const uint8_t *, int) { return false; }
void demo_record_erode(const uint8_t *, int) {}

bool demo_open_ghost(const char *) { return false; }
int replay_newest_tic(int) { return -1; }
double net_rider_update_age(int) { return 1e9; }
bool net_rider_in_race(int) { return false; }

bool demo_recording(void) { return false; }
void demo_set_name(const char *) {}
bool net_connect(const char *)
{
    post_message("Multiplayer is not in the game yet");
    return false;
}
bool net_connecting(void) { return false; }
void net_request_restart(void) {}
void net_offer_file(const char *) {}
bool net_player_row(int, int *, int *, const char **, const char **, const char **) { return false; }
void physics_log_clear(void) {}
void physics_log_start(int, float) {}
int series_count(void) { return 0; }
const char *series_name(int) { return nullptr; }
const char *series_next_event(int) { return nullptr; }
bool series_start_event(int, bool)
{
    post_message("Points series are not in the game yet");
    return false;
}
void series_reset_points(int) {}
const char *series_standings_line(int, int) { return nullptr; }

void series_record_pending(void) {}
void series_record_event(void) {}
