// The fork and the rear shock. They are not springs of the physics library: every tic the
// force is worked out from the joint's position and speed and handed to the joint's motor as
// a one-sided actuator, which keeps stiff springs stable at the 1/128 s step. Units: lbf, ft,
// s, rad; positive forces and torques push towards full extension.
#pragma once

struct BikeState;

// One end's settings, derived from the catalogue row and the setup: high-speed slopes
// (lbf per ft/s), low-speed offsets (lbf), spring rate (lbf/ft), preload (ft) and, for the
// fork only, the air column above the oil (ft).
struct SuspensionSettings {
    float hs_compression, ls_compression, hs_rebound, ls_rebound;
    float spring, preload, air_gap;
};

// What a joint motor is asked for: the target speed (positive extends) and the most force or
// torque it may use to reach it.
struct SuspensionMotor {
    float velocity, max_force;
};

// The damping D(u, k, L) at a speed magnitude u >= 0: k u + L, held between k u / 8 and 8 k u.
double suspension_damping(double u, double k, double offset);
// The fork's force at slider position x (0 fully extended, -travel fully compressed) moving at
// v (negative compresses): spring and preload, damping, the air spring, and the taper that
// fades it all out over the last 1/32 of travel before full extension.
double fork_force(const SuspensionSettings *s, double travel, double x, double v);
// The rear linkage table (c0, c1, A, b, m0, m1, m2: shock travel at the split and at full
// travel, the swingarm travel angle, the split as a share of the travel, and the slopes at 0, b
// and 1) read at swingarm position s (0 extended, 1 fully compressed; clamped): the shock's
// compression (ft) and its slope dL/ds.
void linkage_curve(const float table[7], double s, double *length, double *slope);
// The shock's torque at the swingarm pivot at hinge angle theta (0 extended, down to -A) turning
// at omega; *shock_speed (may be null) gets the shock speed w = omega L'(s).
double shock_torque(const SuspensionSettings *s, const float table[7], double theta, double omega,
                    double *shock_speed);
// The motor for a force or torque: a positive one pushes towards extension (at the given
// speed) with exactly its size; a negative one only brakes the extension with at most its size.
SuspensionMotor suspension_motor(double force, float extend_speed);

// The fork's and the shock's settings of a bike (its derived parameters).
SuspensionSettings bike_fork_settings(const BikeState *bike);
SuspensionSettings bike_shock_settings(const BikeState *bike);

// Part of the control update, after the rider's springs and before the drive-train: reads the
// fork slider and the swingarm hinge, keeps the readings, and sets both joints' motors.
void update_suspension(BikeState *bike);
