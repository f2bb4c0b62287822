#include "bike/suspension.h"

#include <math.h>

#include "bike/bike.h"
#include "bike/catalogue.h"

// The air column's pressure times the fork's piston area at full extension (lbf).
static const double k_air_force = 82.4616928100586;
// The motors' target speeds when they push towards extension: never reached, so the motor
// pushes with exactly its maximum.
static const float k_fork_extend_speed = 100;      // ft/s
static const float k_shock_extend_speed = 100;     // rad/s

static double clampd(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

double suspension_damping(double u, double k, double offset)
{
    double line = k * u;
    return clampd(line + offset, line / 8, 8 * line);
}

static double damping(const SuspensionSettings *s, double speed)
{
    if (speed < 0)
        return suspension_damping(-speed, s->hs_compression, s->ls_compression);
    return -suspension_damping(speed, s->hs_rebound, s->ls_rebound);
}

double fork_force(const SuspensionSettings *s, double travel, double x, double v)
{
    double f = (s->preload - x) * s->spring + damping(s, v);
    if (x <= 0) {
        double c = fmin(-x, travel), column = s->air_gap + travel;
        f += (pow(column / (column - c), 1.4) - 1) * k_air_force;
    }
    return f * clampd(-32 * x / travel, 0, 1);
}

void linkage_curve(const float table[7], double s, double *length, double *slope)
{
    double b = table[LINKAGE_SPLIT];
    s = clampd(s, 0, 1);
    double p0, p1, t0, t1, u, span;
    if (s <= b) {
        span = b;
        u = s / b;
        p0 = 0;
        p1 = table[LINKAGE_SHOCK_SPLIT];
        t0 = table[LINKAGE_SLOPE_START] * span;
        t1 = table[LINKAGE_SLOPE_SPLIT] * span;
    } else {
        span = 1 - b;
        u = (s - b) / span;
        p0 = table[LINKAGE_SHOCK_SPLIT];
        p1 = table[LINKAGE_SHOCK_FULL];
        t0 = table[LINKAGE_SLOPE_SPLIT] * span;
        t1 = table[LINKAGE_SLOPE_FULL] * span;
    }
    double a2 = 3 * (p1 - p0) - t1 - 2 * t0, a3 = t0 + t1 - 2 * (p1 - p0);
    if (length)
        *length = ((a3 * u + a2) * u + t0) * u + p0;
    if (slope)
        *slope = ((3 * a3 * u + 2 * a2) * u + t0) / span;
}

double shock_torque(const SuspensionSettings *s, const float table[7], double theta, double omega,
                    double *shock_speed)
{
    double travel = table[LINKAGE_TRAVEL_ANGLE];
    double length, slope;
    linkage_curve(table, -theta / travel, &length, &slope);
    double w = omega * slope;
    if (shock_speed)
        *shock_speed = w;
    double force = (s->preload + length) * s->spring + damping(s, w);
    return clampd(-32 * theta / travel, 0, 1) * slope * force;
}

SuspensionMotor suspension_motor(double force, float extend_speed)
{
    if (!isfinite(force))
        return { 0, 0 };
    return { force >= 0 ? extend_speed : 0.0f, (float)fabs(force) };
}

SuspensionSettings bike_fork_settings(const BikeState *bike)
{
    const BikeParams &p = bike->params;
    return { p.fork_hs_compression, p.fork_ls_compression, p.fork_hs_rebound, p.fork_ls_rebound,
             p.fork_spring, p.fork_preload, p.fork_air_gap };
}

SuspensionSettings bike_shock_settings(const BikeState *bike)
{
    const BikeParams &p = bike->params;
    return { p.shock_hs_compression, p.shock_ls_compression, p.shock_hs_rebound, p.shock_ls_rebound,
             p.shock_spring, p.shock_preload, 0 };
}

void update_suspension(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    const BikeModel &m = *bike_model(bike->model);
    BikeSuspension &r = bike->suspension;
    dJointID fork = bike->joint[JOINT_FORK], arm = bike->joint[JOINT_SWINGARM];

    SuspensionSettings settings = bike_fork_settings(bike);
    double x = dJointGetSliderPosition(fork), v = dJointGetSliderPositionRate(fork);
    double f = fork_force(&settings, m.fork_travel, x, v);
    SuspensionMotor motor = suspension_motor(f, k_fork_extend_speed);
    dJointSetSliderParam(fork, dParamVel, motor.velocity);
    dJointSetSliderParam(fork, dParamFMax, motor.max_force);
    r.fork_position = (float)x;
    r.fork_speed = (float)v;
    r.fork_force = isfinite(f) ? (float)f : 0;

    settings = bike_shock_settings(bike);
    double theta = dJointGetHingeAngle(arm), omega = dJointGetHingeAngleRate(arm), w = 0;
    double t = shock_torque(&settings, m.linkage, theta, omega, &w);
    motor = suspension_motor(t, k_shock_extend_speed);
    dJointSetHingeParam(arm, dParamVel, motor.velocity);
    dJointSetHingeParam(arm, dParamFMax, motor.max_force);
    r.swingarm_angle = (float)theta;
    r.shock_speed = (float)w;
    r.shock_torque = isfinite(t) ? (float)t : 0;
}
