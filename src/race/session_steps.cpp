// Stand-ins for the session steps of later subsystems (see session_steps.h).
#include "race/session_steps.h"

void lighting_load(const char *) {}
void roost_pool_create(int, float, float, float) {}
void flaggers_load(DataFile *) {}
void billboards_load(DataFile *) {}
void statues_load(DataFile *) {}
int statue_count(void) { return 0; }
const char *statue_model(int) { return nullptr; }
void track_map_load(const char *) {}
void scenery_sort_into_grid(void) {}
void scenery_clear_hit_marks(void) {}
int cameras_load(DataFile *) { return 0; }
void scenery_free_all(void) {}
void cameras_free(void) {}
int scenery_create_gate_piece(const char *, const char *, const char *, float, float, float, float) { return -1; }
void starting_gate_pieces_raise(void) {}
unsigned long texture_memory_bytes(void) { return 0; }
void textures_release_unused(void) {}
int terrain_rendering_method(void) { return 1; }

int lines_slot_count(void) { return 0; }
void lines_read(DataFile *, int) {}
void lines_analyze(void) {}
void lines_write(int) {}
void lines_reset(void) {}
void lines_clear_progress(void) {}
void lines_create_segments(int) {}

void bike_set_replay_mode(BikeState *, float, float, float, float) {}
void bike_set_simulation_mode(BikeState *) {}
void robot_set_personality(BikeState *, const char *) {}
void engine_sound_create(int, BikeState *) {}
void engine_sound_destroy(int) {}
bool texture_listed(const char *) { return false; }

bool demo_playing(void) { return false; }
const char *demo_track_folder(void) { return nullptr; }
bool demo_next_rider(char *, char (*)[256], char *, char *) { return false; }
void demo_finish_recording(void) {}
void demo_forget_riders(void) {}
void demo_start_recording(void) {}
void demo_record_first(void) {}
void demo_read_first(void) {}
void replay_history_clear(int) {}
bool net_race(void) { return false; }
const char *net_track_folder(void) { return nullptr; }
int32_t net_gate_drop_tic(void) { return 0; }
void net_clear_receive_buffers(void) {}
bool net_slot_rider(int, char *, char (*)[256], char *, char *) { return false; }
int net_slot_position(int) { return -1; }

void time_trial_place_player(int) {}
void editor_release_track(void) {}
void editor_take_track(void) {}
void script_run(const char *) {}
void free_camera_place_above(BikeState *, float) {}
int race_settings_robot_skill(void) { return 0; }
