// Stand-ins for the simulation steps of later subsystems (see session_steps.h).
#include "race/session_steps.h"

#include "common/messages.h"
#include "race/robot_hooks.h"

static int no_lines(void) { return 0; }
static void read_nothing(DataFile *, int) {}
static void nothing(void) {}
static void nothing_skill(int) {}
static void nothing_count(int) {}
static void nothing_learn(bool) {}
static void no_record(int, int, int) {}
static void nothing_slot(int) {}
static void no_personality(BikeState *, const char *) {}
static bool no_line_target(int, float, float, float *, float *) { return false; }
static bool no_path_target(int, float *, float *) { return false; }
static bool not_dragging(int) { return false; }

static const RobotHooks k_robot_stand_ins = {
    .lines_slot_count = no_lines,
    .lines_read = read_nothing,
    .lines_analyze = nothing,
    .lines_write = nothing_skill,
    .lines_reset = nothing,
    .lines_clear_progress = nothing,
    .lines_create_segments = nothing_count,
    .lines_write_and_free = nothing_learn,
    .lines_record = no_record,
    .lines_bike_contact = nothing_slot,
    .lines_scenery_touch = nothing_slot,
    .set_personality = no_personality,
    .autopilot = nothing_slot,
    .lines_standstill_target = no_line_target,
    .path_target = no_path_target,
    .dragging = not_dragging,
};

static RobotHooks g_robots = k_robot_stand_ins;

void robot_hooks_install(const RobotHooks *hooks)
{
    static_assert(sizeof(RobotHooks) == 16 * sizeof(void (*)(void)), "every hook is taken below");
#define TAKE(name) g_robots.name = hooks && hooks->name ? hooks->name : k_robot_stand_ins.name
    TAKE(lines_slot_count);
    TAKE(lines_read);
    TAKE(lines_analyze);
    TAKE(lines_write);
    TAKE(lines_reset);
    TAKE(lines_clear_progress);
    TAKE(lines_create_segments);
    TAKE(lines_write_and_free);
    TAKE(lines_record);
    TAKE(lines_bike_contact);
    TAKE(lines_scenery_touch);
    TAKE(set_personality);
    TAKE(autopilot);
    TAKE(lines_standstill_target);
    TAKE(path_target);
    TAKE(dragging);
#undef TAKE
}

int lines_slot_count(void) { return g_robots.lines_slot_count(); }
void lines_read(DataFile *f, int count) { g_robots.lines_read(f, count); }
void lines_analyze(void) { g_robots.lines_analyze(); }
void lines_write(int skill) { g_robots.lines_write(skill); }
void lines_reset(void) { g_robots.lines_reset(); }
void lines_clear_progress(void) { g_robots.lines_clear_progress(); }
void lines_create_segments(int segments) { g_robots.lines_create_segments(segments); }
void lines_write_and_free(bool learn) { g_robots.lines_write_and_free(learn); }
void lines_record(int slot, int passed, int expected) { g_robots.lines_record(slot, passed, expected); }
void lines_bike_contact(int slot) { g_robots.lines_bike_contact(slot); }
void lines_scenery_touch(int slot) { g_robots.lines_scenery_touch(slot); }

void bike_set_replay_mode(BikeState *, float, float, float, float) {}
void bike_set_simulation_mode(BikeState *) {}
void physics_log_capture(void) {}
void robot_set_personality(BikeState *bike, const char *name) { g_robots.set_personality(bike, name); }
void robot_autopilot(int slot) { g_robots.autopilot(slot); }
bool robot_path_target(int slot, float *x, float *z) { return g_robots.path_target(slot, x, z); }
bool robot_dragging(int slot) { return g_robots.dragging(slot); }
bool finish_rule_at_standstill(int) { return false; }
bool lines_standstill_target(int slot, float x, float z, float *tx, float *tz)
{
    return g_robots.lines_standstill_target(slot, x, z, tx, tz);
}

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
