// The bikes: one shared rigid-body world, and per rider slot a mechanism of seven bodies and
// six joints built from a catalogue row and tuned by the setup. Units: feet, slugs, seconds,
// radians, lbf. y is up; a bike built at the origin faces -z.
#pragma once
#include <ode/ode.h>
#include <stdint.h>

#include "bike/shape.h"
#include "common/vecmath.h"
#include "terrain/erosion.h"

struct BikeModel;
struct Terrain;

enum { BIKE_SLOTS = 160 };
static const double k_tic_seconds = 1.0 / 128;

// Body order; bit 1 << body in the part masks of collisions.
enum BikeBody {
    BODY_FRAME, BODY_FRONT_WHEEL, BODY_REAR_WHEEL, BODY_UPPER_FORK, BODY_LOWER_FORK,
    BODY_SWINGARM, BODY_RIDER, BODY_COUNT
};
enum BikeJoint {
    JOINT_FRONT_AXLE, JOINT_REAR_AXLE, JOINT_STEERING, JOINT_FORK, JOINT_SWINGARM,
    JOINT_RIDER, JOINT_COUNT
};

// Flags byte.
enum {
    BIKE_FLAG_STEERING = 1 << 0,
    BIKE_FLAG_WHEELIE_THROTTLE = 1 << 1,
    BIKE_FLAG_WHEELIE_BRAKE = 1 << 2,
    BIKE_FLAG_FRONT_ANTILOCK = 1 << 3,
    BIKE_FLAG_REAR_ANTILOCK = 1 << 4,
    BIKE_FLAG_AUTO_SHIFT = 1 << 5,
    BIKE_FLAG_AUTO_DAB = 1 << 6,
    BIKE_FLAG_REALIGN = 1 << 7,
};

// One wheel's ground contact for this tic.
struct WheelContact {
    dBodyID wheel;
    Vec3 axle;                      // wheel-body coordinates, (1, 0, 0)
    float major_radius, minor_radius;
    Vec3 point;                     // world
    Vec3 velocity;                  // of the wheel body at the point, spin included
    Vec3 normal;                    // from the ground towards the wheel
    float depth;                    // > 0 while touching
    dJointFeedback feedback;
    ErodeProducer erode;            // the ruts this wheel is making
    // After the step: wheel speed, slip speed, the tyre's force on the ground across (fx) and
    // along (fz) the direction of travel, and the erosion push resolved the same way.
    float speed, slip, fx, fz, pfx, pfz;
};

// Physical parameters derived from the setup (angles in radians, speeds in ft/s).
struct BikeParams {
    float leveling, roll_damping, steering_damping, steering_strength;
    float roll_limit_angle, roll_limit_factor, max_steering_force, direct_steering;
    float slow_damping_speed, slow_damping_factor, land_damping_falloff, land_damping_factor;
    float full_lock_speed, restricted_lock_speed, restricted_lock_angle;
    bool arcade;
    float auto_clutch_rpm, front_brake_torque, rear_brake_torque, max_dab_speed;
    float final_drive;
    float fork_hs_compression, fork_ls_compression, fork_hs_rebound, fork_ls_rebound;
    float fork_spring, fork_preload, fork_air_gap;
    float shock_hs_compression, shock_ls_compression, shock_hs_rebound, shock_ls_rebound;
    float shock_spring, shock_preload;
    float rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
    float rider_mass_split;         // share of the rider's mass on the rider body
};

// The rider's inputs, written once a tic by the player's controls or a robot.
struct BikeInputs {
    float throttle, front_brake, rear_brake;    // 0..1
    float clutch;                   // the clutch lever, 0 released .. 1 pulled
    float steer;                    // -1..1, positive to the right
    float lean;                     // -1..1, positive backwards
    float sit;                      // the sit/dab value, 0..1
    float back_up;                  // 0..1
    int shift;                      // the last shift input, -1, 0 or 1: holding it shifts once
};

// A foot as the rider figure places it (world), and the rider body's velocity there.
struct BikeFoot {
    Vec3 point, velocity;
};

struct BikeEngine {
    float speed;                    // crank angular velocity, rad/s
    float angle;                    // drive-line angle, (-pi, pi], measured like the rear axle hinge
    int gear;                       // 0 is first gear: there is no neutral
    float clutch;                   // engagement, 0 open .. 1 fully engaged
};

// The suspension as the last control update read it (the HUD's suspension graph).
struct BikeSuspension {
    float fork_position;            // ft: 0 fully extended, down to -travel
    float fork_speed;               // ft/s, negative compressing
    float swingarm_angle;           // rad: 0 fully extended, down to -(travel angle)
    float shock_speed;              // the shock's speed w = swingarm rate x dL/ds
    float fork_force, shock_torque; // lbf and lbf ft, positive towards extension
};

// A shape of solid scenery placed in the world (a statue, a starting-gate piece). The scenery
// owns it; each tic it lists the ones near every bike in the bike's state.
struct WorldSolid {
    const Shape *shape;
    ShapePlace place;
    int object;                     // the scenery's id for it
};
enum { BIKE_NEAR_SOLIDS = 32, BIKE_TOUCHED_SOLIDS = 8 };

struct BikeState {
    bool built;
    int model;                      // catalogue row
    int slot;
    dBodyID body[BODY_COUNT];
    dJointID joint[JOINT_COUNT];
    dJointFeedback feedback[JOINT_COUNT];
    WheelContact wheel[2];          // front, rear
    int shape[BODY_COUNT];          // shape ids, 0 none
    BikeParams params;
    BikeInputs inputs;
    BikeEngine engine;
    BikeSuspension suspension;
    uint8_t flags;
    float activity;
    int fall_timer;                 // tics; 0 riding, above 0 fallen
    int fall_count;                 // falls this session: picks the knockout delay
    float bump_timer;               // raised by bike-to-bike hits; limits the leveling torque
    int takeoff_tic, landing_tic;   // -1 after a reset
    Vec3 rider_velocity[4];         // ring indexed by tic mod 4
    float foot_down;                // 0..1: how far a dabbing foot is put down
    float land_multiplier;          // >= 1: the roll damping right after a landing
    float steer_indicator;          // 0..1, for the lean indicator
    BikeFoot feet[2];               // -x, +x: where the feet were when the fall began, moved since
    bool sticky_dab;                // the sticky sit/dab toggle is on
    float sit_channel;              // the sit/dab channel of the last tic (its rises toggle)
    int contact_stamp;              // last tic with wheel contact queries
    int collide_stamp;              // last tic this bike met another by joints
    // Solid scenery near the bike this tic (gathered before bike_touches_world), and what the
    // last bike_touches_world met of it: the parts that touched (bit 1 << body), the objects
    // touched (the first eight) and whether the rider hit it hard enough to fall.
    const WorldSolid *near_solids[BIKE_NEAR_SOLIDS];
    int near_solid_count;
    int scenery_mask;
    int touched_solids[BIKE_TOUCHED_SOLIDS];
    int touched_solid_count;
    bool scenery_fall;
};

// What the rider's part of a control update needs from the race around it.
struct RiderTic {
    int tic;                        // the race tic
    int gate_drop_tic;
    const Terrain *ground;          // null: no ground (nothing is judged against it)
    // The point a bike stopped on its side turns towards at a standstill; false: no turn (no
    // timing, nothing passed yet, finished). Null: never.
    bool (*standstill_target)(const BikeState *bike, float *x, float *z);
    // Whether the rider body hit solid scenery this tic hard enough to fall. Null: never.
    bool (*rider_hit_scenery)(const BikeState *bike);
};

// --- the world ---
// Creates the world, its contact group and the 160 slots. False when the library failed.
bool bike_world_create(void);
void bike_world_destroy(void);      // destroys every built bike too
dWorldID bike_world(void);          // null before create
dJointGroupID bike_contact_group(void);
void bike_world_step(void);         // one 1/128 s step, then the contact group is emptied

// --- bikes ---
BikeState *bike_slot(int slot);     // null outside 0..159 or before the world
// The looks of a bike: its plate number (at most 7 characters) and the texture names chosen
// for the riding gear, helmet, bike graphics and wheels. Null or "" takes the catalogue row's.
struct BikeLooks {
    const char *number;
    const char *rider_texture, *head_texture, *bike_texture, *wheel_texture;
};

// The renderer's share of a bike: models and textures loaded as a bike is built and released
// with it. Either entry may be null; without them (skorva-sim, a server) bikes are physics only.
struct BikeRenderHooks {
    void (*load)(const BikeState *bike, const BikeLooks *looks);
    void (*release)(const BikeState *bike);
};
void bike_set_render_hooks(const BikeRenderHooks *hooks);   // null: none

// Builds the named model (with the catalogue's fallback) into a slot, replacing what was
// there; null for a slot outside 0..159 or without a world. Missing shapes leave that body
// without collisions. The looks go to the render hooks (null: the catalogue's).
BikeState *build_bike(int slot, const char *model, const char *number = nullptr, const char *rider_texture = nullptr,
                      const char *head_texture = nullptr, const char *bike_texture = nullptr,
                      const char *wheel_texture = nullptr);
void destroy_bike(BikeState *bike);
const BikeModel *bike_catalogue_row(const BikeState *bike);
const char *bike_class(const BikeState *bike);

void reset_bike(BikeState *bike);
// Rotates every body by angle about the axis through the world origin.
void turn_bike(BikeState *bike, float ax, float ay, float az, float angle);
void move_bike(BikeState *bike, float dx, float dy, float dz);
// This tic's ground contacts of both wheels and of the other parts' shapes (frame, forks,
// swingarm, rider); true when any touches.
// The ground and the solid scenery listed near the bike: contact joints for this step. Fills
// the bike's scenery mask, touched objects and scenery fall; true when anything touched.
bool bike_touches_world(BikeState *bike, const Terrain *t);
// Reset, face heading (about +y), stand on the ground at (x, z), then rise 0.25 ft at a time
// until nothing touches (at most 400 steps). Returns the number of rises.
int place_bike(BikeState *bike, const Terrain *t, float x, float z, float heading);
// Up 0.125 ft, rise 0.25 ft at a time while it touches (at most 400 steps), then down 0.125 ft:
// a bike left in or just above the ground ends standing on it. Returns the number of rises.
int settle_bike(BikeState *bike, const Terrain *t);
// Empties the contact group (touch tests made joints that no step should use).
void bike_contacts_empty(void);

// Shape collision of two bikes in tic `tic`: each of a's seven parts against each of b's (b's
// wheels by their tyres). A bike meets at most one other bike by contact joints per tic; further
// pairs push by forces. online: the own bike (a) against a remote one, where a's rear wheel,
// frame, swingarm and rider only test b's front wheel and forks. The masks get bit 1 << body
// of the parts that touched; true when any did.
bool collide_bikes(BikeState *a, BikeState *b, bool online, int tic, int *mask_a, int *mask_b);

// How far any part of the bike (shape or tyre) reaches from the frame's position: two bikes
// whose frames are farther apart than the sum cannot touch. 0 for a bike not built.
float bike_reach(const BikeState *bike);

// Takes out of the frame the net force and torque (about the frame) that the joints' last
// step left over, so the mechanism cannot push itself along. Nothing when a joint has lost a
// body (the rider after a fall).
void correct_internal_forces(BikeState *bike);

// Activity: at 0.25 or below the bike is frozen: its bodies are disabled, take no part in the
// step and gather no forces.
void bike_set_activity(BikeState *bike, float level);
bool bike_frozen(const BikeState *bike);
void bike_wake(BikeState *bike);
void bike_fade(BikeState *bike);

// The setup's values to the bike's parameters, flags and masses.
void apply_setup_to_bike(BikeState *bike);
// While false (a server's rule), arcade physics stays off whatever the setup says.
void bike_allow_arcade(bool allowed);

// Readings for the HUD, sound, scripts and robots; 0 for no bike.
float bike_engine_rpm(const BikeState *bike);
int   bike_gear(const BikeState *bike);             // 0 is first gear: people count from 1
float bike_throttle(const BikeState *bike);
float bike_clutch_engagement(const BikeState *bike);
float bike_front_brake(const BikeState *bike);
float bike_rear_brake(const BikeState *bike);
// The suspension as the last control update left it; all 0 for no bike.
BikeSuspension bike_suspension(const BikeState *bike);
// True when every body's position, orientation and velocities are finite, and so are the
// engine's speed and the drive-line's angle, which the physics library never sees.
bool bike_is_finite(const BikeState *bike);
