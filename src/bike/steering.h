// Steering and the stability assists: the rider's steer input becomes a torque about the
// steering head, helped by leveling, roll damping, a roll limit, a lock limit that closes with
// speed, slow-speed and landing damping, and a blend of direct and lean-following steering.
// Arcade physics holds the lean with a motor instead. Signs: a positive steer input turns right;
// a positive lean angle has the bike's right side up (leaning left); a positive steering torque
// or angle turns the bars to the left.
#pragma once
#include <ode/ode.h>

struct BikeState;
struct BikeParams;
struct RiderTic;

// Adds torque about the steering axis to the front wheel and the opposite to the frame.
void apply_steering(BikeState *bike, double torque);
// The frame's lean from upright (rad), positive with its right side up. A frame standing on its
// tail or nose reads the tilt of its lateral axis instead.
double lean_angle(dBodyID frame);
// The frame's roll rate about its own z axis (positive: the lean angle grows).
double roll_rate(dBodyID frame);
// The steering angle that would point the front wheel along its path; 0 when it barely moves.
double natural_steer(const BikeState *bike);

// The pure steps of the normal-mode update (exposed for tests). Angles in rad, speeds in ft/s.
// The lock limit M at the front tyre's ground speed v_w on ground of friction mu0.
double steering_lock_limit(const BikeParams *p, double mu0, double v_w);
// The torque bounds near the lock limit: *kl, *ku start at -+f_max and one of them is cut when
// the wheel rolls (v_w > 1) within 0.5 ft of the ground (height of its lowest point) and the
// natural steer q lies beyond the limit.
void steering_force_bounds(double f_max, double lock, double v_w, double height, double q, double *kl, double *ku);
// The steer command: direct s K_s d blended with the lean-following torque towards the lean
// s x roll limit angle (only while d < 1).
double steering_command(const BikeParams *p, double s, double lean, double roll);
// Leveling and roll damping at frame speed `speed`, with the landing multiplier, the slow-speed
// scaling and the roll limit.
double stability_torque(const BikeParams *p, double lean, double roll, double land, double speed);
// One tic of the landing multiplier's decay; returns the value before it.
double landing_decay(const BikeParams *p, float *land);
// The bump limit on the stability torque while the bump timer is positive.
double bump_limited(double c, double bump_timer);
// The lean indicator's value, 0..1.
double steering_indicator(double v_w, double lock, double lean, double q, double delta);
// Arcade mode: the roll motor's target rate and the steering command (before x K_s).
double arcade_roll_rate(double s, double lean, double roll_damping);
double arcade_steering(double natural, double s, double delta, double delta_rate);

// The steering update of a riding bike (normal or arcade), then the steering damping, which
// acts every tic, fallen or not. Part of the control update.
void bike_steering_update(BikeState *bike, const RiderTic *ctx);
