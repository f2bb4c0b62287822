// The autopilot: a robot rides a normal bike through the rider's inputs. Once a tic it keeps a
// path stitched from the lines it picks, handles the start, follows the path at the speed and
// lean that were recorded, and finds its way back when lost. The per-tic parts are functions
// of plain values here so that each can be checked on its own.
#pragma once
#include <stdint.h>

#include "robots/record.h"

enum {
    k_max_blips = 8,
    k_path_behind = 30,             // path points kept behind the target
};

// What the start draws for a robot, from the session's random numbers.
struct StartPlan {
    float blip_on[k_max_blips], blip_off[k_max_blips];      // race seconds; throttle on in [on, off)
    int blips;
    float rev_at;                   // s: from here the throttle is held open for the launch
    float launch;                   // s: gate drop + the robot's reaction
};

// The inputs the autopilot gives, before they reach the bike.
struct RobotInputs {
    float throttle, front_brake, rear_brake;
    float clutch_engagement;        // 0 open .. 1 engaged (the lever is 1 - this)
    float steer, sit;
    float back_up;                  // 0..1: the rider walks the bike backwards
    int gear;                       // -1: leave the gear alone
    bool auto_shift;
};

// Draws a start plan: blips from 0 s until T5 (t5 s), the rev moment after it and the launch
// at drop + a reaction between the personality's limits.
StartPlan plan_start(float t5, float drop, float reaction_min, float reaction_max);
// The start's inputs at race time t (s); false once the start is over (from drop + 5 s, or
// 2 s after the launch). second_gear: the bike's second gear, or first without one.
bool start_inputs(const StartPlan *plan, float t, float t5, float drop, int second_gear, RobotInputs *out);
// The posture of a robot that waits: sit/dab, clutch open, both brakes, straight ahead.
void waiting_inputs(RobotInputs *out);

// Speed control towards target d at frame speed m (ft/s).
struct SpeedState {
    bool rear_airborne;
    float pitch_rate;               // rad/s, negative pitching down
    bool front_below_rear;
    float front_above_rear;         // ft
    int gear;                       // 0 first
    float rpm, down_shift_rpm;
};
void speed_control(float d, float m, const SpeedState *s, RobotInputs *out);
// The throttle actually given: it rises at most 1/32 a tic, and not at all for 0.125 s after
// a grip-limited corner.
float throttle_rate_limit(float wanted, float memory, int now, int grip_limited_tic);
// Slow, with the rear tyre spinning: the throttle drops to half of last tic's. Grip falls away
// with the slip, and a robot climbing from a standstill at full throttle sat on the rev limiter
// going nowhere.
float spin_guard(float throttle, float memory, float v, float rear_slip, bool rear_on_ground);

// The natural-steer term G of the steering output, with its dead bands.
float natural_steer_term(float natural_steer, float steer_angle, float steer_rate);
// The steer input towards target lean: lean, roll rate, load factor n, m the path points
// ahead in the cone, the front wheel's slip speed and whether it is on the ground.
float steering_output(float target_lean, float lean, float roll_rate, float n, int m, bool before_first_gate,
                      float natural_steer, float steer_angle, float steer_rate, bool front_on_ground,
                      float front_slip);

// Lost mode riding towards a point (frame coordinates: x lateral, z along, ahead negative);
// false when the counter must stay at 3 (target well off the nose).
struct LostRide {
    float wanted_lean, target_speed, sit;
};
bool lost_ride(float x, float z, float v, float lean, LostRide *out);
// Lost mode's steer input towards a target at (x, z) in frame coordinates. At walking pace the
// foot holds the bike upright, so the lean never comes and steering for it only holds the bars
// at full lock away from the target: there the front wheel is pointed at the target instead.
float lost_steer(float x, float z, float v, float wanted_lean, float lean, float roll_rate);
float drag_steer(float steer_angle, float steer_rate);
// The horizontal force (lbf) that hauls a lost bike's front wheel, moving at (vx, vz), towards
// a target (dx, dz) away at walking pace; none at the target.
void drag_force(float vx, float vz, float dx, float dz, float *fx, float *fz);

// Following other bikes. A bike's horizontal position and velocity.
struct BikeMotion {
    float x, z, vx, vz;
};
// The target speed with traffic: the nearest moving bike ahead whose corridor meets the
// robot's slows it to a following distance that grows after the start. lean and g' give the
// robot's turning circle; race_time is seconds since the gate drop. *slowed: the robot eased
// off for it (its pending trials are then worth nothing).
float traffic_speed(const BikeMotion *self, float lean, float g, const BikeMotion *others, int count,
                    float race_time, float d, bool *slowed);
// Whether the corridors of two bikes (2 ft either side, from 4 ft behind to speed + 4 ft ahead
// along the way each goes) overlap.
bool corridors_meet(const BikeMotion *a, const BikeMotion *b);
// A bike's motion as the traffic rules see it: the frame's place and horizontal velocity, which
// below walking pace (5 ft/s) only jitters, so it is turned to the way the bike points.
struct BikeState;
BikeMotion traffic_motion(const BikeState *bike);

// ---- the path

// Appends a line to the path: points more than 30 behind the target are dropped, an empty
// path first gets five copies of the line's first point, and the last up to five points
// before the junction become a cubic Hermite curve into the line, whose speeds never rise
// above those already there. False when it could not grow.
bool path_append_line(RobotPath *path, const LineEntry *line);
// Target advance: true when the frame (x, z, heading) has reached the target point and the
// target moves on. reach: 60 ft, 30 ft when lost.
bool target_reached(const RobotPath *path, float x, float z, float heading_x, float heading_z, float reach);
// Horizontal distance from (x, z) to the path near its target: the segments from 10 points
// before the target to 3 past it. Infinite for an empty path.
float path_distance(const RobotPath *path, float x, float z);

// A bike lying over (past 0.95 rad) and slow waits for the rider's foot to stand it up: from
// the tic it went down until it leans less than 0.5 rad, for at most 3 s, and never once the
// drag is due. A wait that ends with the bike still down is not begun again for 2 s.
struct DownedWait {
    int since;                      // when the wait began; -1 while riding
    int gave_up;                    // when a wait last ended with the bike still down
};
void downed_wait(DownedWait *w, float lean, float v, int now, bool dragging);

// A lost robot asking for throttle without moving is wedged against a bike or a face: after 1 s
// of it, it walks its bike back for 1.5 s before trying again. Wedged again before its target has
// moved on, backing up has not freed it (a wheel hooked in another bike, a climb too steep from a
// standstill, a row of blocks between it and its line): it walks its bike towards the target for
// 4 s (20 ft) as in the drag, clear of other bikes and blocks. The caller clears tries when the
// target moves on.
struct BackingUp {
    int stalled_since;              // -1 while moving
    int until;                      // backs up before this tic
    int tries;                      // back-ups since the target last moved on
    int walk_until;                 // walks its bike free before this tic
    int closer_tic;                 // when it last came 3 ft nearer its target; -1: not lost
    float closest;                  // ft from the target then
    int touch_since;                // touching another bike since; -1: not
    int touch_last;                 // the last tic it touched one
};
enum Wedged { WEDGED_NO, WEDGED_BACK_UP, WEDGED_WALK };
Wedged backing_up(BackingUp *b, float v, float throttle, int now);
// Lost and moving, but 3 s without coming 3 ft nearer its target (distance, ft): caught in a
// knot of fallen bikes, or behind what it cannot ride over. It walks its bike free as when wedged.
void lost_progress(BackingUp *b, float distance, int now);
// Touching another bike (breaks shorter than 1/8 s aside) for 1 s, while lost or below walking
// pace: hooked into it, carried along or held still. It walks its bike free as when wedged; true
// when the walk begins.
bool hooked_walk(BackingUp *b, bool touching, int now);

// ---- per robot

// Makes the slot a robot with the named personality (logs an unknown name and takes the
// first); null bike or name: not a robot.
void set_personality(int slot, const char *name);
int  robot_personality(int slot);               // 0: not a robot
// The per-tic entry point for a robot slot.
void autopilot(int slot);
int  robot_lost_counter(int slot);              // 0 following, 1..3 lost
bool robot_drags(int slot);                     // lost so long that it walks its bike to the path
// Forgets every robot's path and state for a new session.
void robots_clear(void);
