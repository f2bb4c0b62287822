// Steps of a track load and teardown that belong to subsystems not yet in the game: lighting,
// scenery, cameras, the map, riding lines, the bikes' replay and robot modes, engine sounds,
// demos, the network, scripts and the editor. Each does nothing or reports "nothing there" until its subsystem fills it;
// none of them fails a load.
#pragma once
#include <stdint.h>

struct BikeState;
struct DataFile;

// Lighting, scenery, map and cameras of the loaded track ("@<folder>/<file>" names).
void  lighting_load(const char *folder);
void  roost_pool_create(int chunks, float scale, float x, float z);
void  flaggers_load(DataFile *f);
void  billboards_load(DataFile *f);
void  statues_load(DataFile *f);
int   statue_count(void);
const char *statue_model(int statue);           // "@name.jm"; null when none
void  track_map_load(const char *name);
void  scenery_sort_into_grid(void);
void  scenery_clear_hit_marks(void);
int   cameras_load(DataFile *f);                // the number of cameras
void  scenery_free_all(void);                   // grids, objects, models, billboards, statues, flaggers
void  cameras_free(void);
int   scenery_create_gate_piece(const char *model, const char *texture, const char *shape, float x, float y, float z,
                                float heading);  // -1 when none was made
void  starting_gate_pieces_raise(void);        // every piece upright, not falling
unsigned long texture_memory_bytes(void);
void  textures_release_unused(void);
int   terrain_rendering_method(void);          // 1 software, 2 copy, 3 direct

// Riding lines of the robots.
int   lines_slot_count(void);
void  lines_read(DataFile *f, int count);
void  lines_analyze(void);
void  lines_write(int skill);
void  lines_reset(void);
void  lines_clear_progress(void);
void  lines_create_segments(int segments);

// Bikes and their sounds.
void  bike_set_replay_mode(BikeState *bike, float a, float b, float c, float angle);
void  bike_set_simulation_mode(BikeState *bike);
void  robot_set_personality(BikeState *bike, const char *name);
void  engine_sound_create(int slot, BikeState *bike);
void  engine_sound_destroy(int slot);
// True when the name is one of the game's own texture lists.
bool  texture_listed(const char *name);

// Demos and the network.
bool  demo_playing(void);
const char *demo_track_folder(void);           // as the demo names it; null when none
// The next recorded rider of the playing demo; false when none is left.
bool  demo_next_rider(char *model, char textures[4][256], char *number, char *name);
void  demo_finish_recording(void);
void  demo_forget_riders(void);
void  demo_start_recording(void);
void  demo_record_first(void);
void  demo_read_first(void);
void  replay_history_clear(int slot);
bool  net_race(void);                           // loading for a server race
const char *net_track_folder(void);
int32_t net_gate_drop_tic(void);
void  net_clear_receive_buffers(void);
bool  net_slot_rider(int slot, char *model, char textures[4][256], char *number, char *name);
int   net_slot_position(int slot);              // -1: the slot's own number

// Race rules, editor, script, physics.
void  time_trial_place_player(int attempt);
void  editor_release_track(void);
void  editor_take_track(void);
void  script_run(const char *name);
void  free_camera_place_above(BikeState *bike, float height);
int   race_settings_robot_skill(void);
