// Steps of the track session and of the tic that belong to simulation subsystems not yet in
// the game: the bikes' control updates, riding lines and robots, demos, the network, the
// points series, erosion. Each does nothing or reports "nothing there" until its
// subsystem fills it; none of them fails a load. (The layers above the simulation take part
// through the hooks of race/simulation.h instead.)
#pragma once
#include <stdint.h>

struct BikeState;
struct DataFile;

// Riding lines of the robots.
// The point of the fastest line of the section being ridden four points past the one nearest
// (x, z), for a bike turning at a standstill; false when there is none.
bool  lines_standstill_target(int slot, float x, float z, float *tx, float *tz);
int   lines_slot_count(void);
void  lines_read(DataFile *f, int count);
void  lines_analyze(void);
void  lines_write(int skill);
void  lines_reset(void);
void  lines_clear_progress(void);
void  lines_create_segments(int segments);
void  lines_write_and_free(bool learn);
void  lines_record(int slot, int passed, int expected);    // after the bike's control update
void  lines_bike_contact(int slot);
void  lines_scenery_touch(int slot);       // the scenery collisions' call

// Bikes: modes and the control update's parts still to come, in their order.
void  bike_set_replay_mode(BikeState *bike, float a, float b, float c, float angle);
void  bike_set_simulation_mode(BikeState *bike);
void  physics_log_capture(void);
void  robot_set_personality(BikeState *bike, const char *name);
void  robot_autopilot(int slot);
bool  robot_path_target(int slot, float *x, float *z);     // the robot's path target; false: none
bool  robot_dragging(int slot);            // a lost robot walking its bike: it meets no bike, no block
// The finish rule as a bike stopped at a standstill meets it: true when it marks the bike
// finished (the bike then does not turn).
bool  finish_rule_at_standstill(int slot);

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
// Whether the slot's state history holds a state within `within` tics of tic (engine sound).
bool  replay_state_near(int slot, int tic, int within);
// The race rules' test for a remote rider still taking part (engine sound).
bool  remote_rider_live(int slot);
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
// An erode record made here goes to the server in the next message while connected (true:
// taken, and not applied locally), and into the demo being recorded (block type 5).
bool  net_send_erode_record(const uint8_t *record, int length);
void  demo_record_erode(const uint8_t *record, int length);

// Demos as the race rules use them.
bool  demo_open_ghost(const char *file);    // the time trial's ghost: riders in slots 1 and up
int   replay_newest_tic(int slot);          // newest tic of the slot's state history; -1 none
// The network's view of a rider in a server race.
double net_rider_update_age(int slot);      // seconds since the server last updated the rider
bool  net_rider_in_race(int slot);          // the rider has a race slot on the server

// What the menus and the console ask of demos, the network, the physics debug log and the
// points series. Until those subsystems are in the game, the calls a player makes answer
// with a message that they are not there yet.
bool  demo_recording(void);                 // a normal demo is being recorded
void  demo_set_name(const char *name);      // renames the recording when it ends ("namedemo")
bool  net_connect(const char *server);      // starts connecting; false when it cannot
bool  net_connecting(void);                 // a connection is being made
void  net_request_restart(void);
void  net_offer_file(const char *name);     // "sendfile": offers "@outgoing/" + name
// One row of the server's rider table; false past the last row.
bool  net_player_row(int row, int *slot, int *ping, const char **number, const char **bike, const char **name);
void  physics_log_clear(void);
void  physics_log_start(int flags, float spacing);
int   series_count(void);
const char *series_name(int series);        // null outside the list
const char *series_next_event(int series);  // null when every event is done
bool  series_start_event(int series, bool record);  // false: nothing started
void  series_reset_points(int series);
const char *series_standings_line(int series, int row);     // null past the last row

// The points series.
void  series_record_pending(void);
void  series_record_event(void);            // a race of the running series has its final order
