#include "bike/steering.h"

#include <math.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "terrain/terrain.h"
#include "terrain/tiles.h"

static const double k_pi = 3.14159265358979323846;
static const double k_full_lock = k_pi / 4;
static const double k_centring = 50;        // lbf ft per rad of steering angle off the ground
static const double k_roll_motor_torque = 1000;
static const double k_frame_build_height = 1.98;  // how high a frame stands on its wheels

// Not-a-number falls to the low end.
static double clampd(double v, double lo, double hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

static double dot3(const dReal *a, const dReal *b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The unit steering axis in frame coordinates: lower fork point to steering head.
static void steering_axis_local(const BikeState *bike, double k[3])
{
    const BikeModel &b = *bike_model(bike->model);
    double d[3];
    double len = 0;
    for (int i = 0; i < 3; i++) {
        d[i] = b.head_point[i] - b.lower_fork_point[i];
        len += d[i] * d[i];
    }
    len = sqrt(len);
    for (int i = 0; i < 3; i++)
        k[i] = len > 0 ? d[i] / len : (i == 1);
}

void apply_steering(BikeState *bike, double torque)
{
    if (!bike || !bike->built || !isfinite(torque) || torque == 0)
        return;
    double k[3];
    steering_axis_local(bike, k);
    dVector3 a;
    dBodyVectorToWorld(bike->body[BODY_FRAME], k[0], k[1], k[2], a);
    dBodyAddTorque(bike->body[BODY_FRONT_WHEEL], torque * a[0], torque * a[1], torque * a[2]);
    dBodyAddTorque(bike->body[BODY_FRAME], -torque * a[0], -torque * a[1], -torque * a[2]);
}

double lean_angle(dBodyID frame)
{
    dVector3 up, forward, side;
    dBodyVectorToWorld(frame, 0, 1, 0, up);
    dBodyVectorToWorld(frame, 0, 0, -1, forward);
    double h = sqrt(forward[0] * forward[0] + forward[2] * forward[2]);
    // Standing on its tail or nose the forward axis has no horizontal direction to measure
    // against; the lateral axis's tilt gives the same angle wherever both are defined.
    if (!(h > 1e-9)) {
        dBodyVectorToWorld(frame, 1, 0, 0, side);
        return asin(clampd(side[1], -1, 1));
    }
    double fx = forward[0] / h, fz = forward[2] / h;
    double s = clampd(fx * up[2] - fz * up[0], -1, 1);
    return acos(s) - k_pi / 2;
}

double roll_rate(dBodyID frame)
{
    const dReal *w = dBodyGetAngularVel(frame);
    dVector3 local;
    dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
    return local[2];
}

double natural_steer(const BikeState *bike)
{
    if (!bike || !bike->built)
        return 0;
    const dReal *v = dBodyGetLinearVel(bike->body[BODY_FRONT_WHEEL]);
    dVector3 u;
    dBodyVectorFromWorld(bike->body[BODY_UPPER_FORK], v[0], v[1], v[2], u);
    double k[3];
    steering_axis_local(bike, k);
    double a = u[2] * k[1], e = u[1] * k[2];
    if ((a - e) * (a - e) + u[0] * u[0] > 1)
        return -atan2(u[0], e - a);
    return 0;
}

double steering_lock_limit(const BikeParams *p, double mu0, double v_w)
{
    double m = fmin(p->restricted_lock_angle / fmax(mu0, 0.125), k_full_lock);
    double fls = p->full_lock_speed;
    double n1 = 1 / fmax(1 + fls, (double)p->restricted_lock_speed);
    // 1 / fls - n1 > 0 for every full lock speed of at least 1: n1 <= 1 / (1 + fls).
    double t = clampd((1 / fmax(1.0, v_w) - n1) / (1 / fls - n1), 0, 1);
    return m + t * (k_full_lock - m);
}

void steering_force_bounds(double f_max, double lock, double v_w, double height, double q, double *kl, double *ku)
{
    *kl = -f_max;
    *ku = f_max;
    if (!(v_w > 1) || !(height < 0.5))
        return;
    // A wheel in the air may turn further.
    double o = clampd(2 * height, 0, 1) * (k_full_lock - lock) + lock;
    double r = 1.125 * o + 0.015;
    if (q > o)
        *kl = (0.25 - 1.25 * clampd((q - r) / (o - r), 0, 1)) * f_max;
    if (q < -o)
        *ku = f_max * (1.25 * clampd((q + r) / (r - o), 0, 1) - 0.25);
}

double steering_command(const BikeParams *p, double s, double lean, double roll)
{
    double ks = p->steering_strength, d = p->direct_steering;
    double e = s * ks * d;
    if (!(d < 1))
        return e;
    // The wanted roll rate towards the lean that the input asks for, faster when it pushes
    // the bike further over.
    double x = -2.5 * (s * p->roll_limit_angle + lean);
    bool over = (x >= 0 && lean < 0) || (x < 0 && lean >= 0);
    double y = over ? 9.817477 : 3.926991;
    x = clampd(x, -y, y);
    double err = roll - x + clampd(x - roll, -0.125, 0.125);
    double g = err < -0.25 ? -ks : err > 0.25 ? ks : ks * 4 * err;
    return (e - g) * d + g;
}

double stability_torque(const BikeParams *p, double lean, double roll, double land, double speed)
{
    double damping = p->roll_damping * land * roll;
    double leveling = p->leveling * lean;
    // Nothing lies below a slow damping speed of 0, so nothing divides by it.
    if (speed < p->slow_damping_speed) {
        double f = clampd(speed / p->slow_damping_speed, 0, 1) * (1 - p->slow_damping_factor) + p->slow_damping_factor;
        damping *= f;
        leveling *= f;
    }
    bool outwards = (lean >= 0 && roll >= 0) || (lean < 0 && roll < 0);
    if (outwards && fabs(lean) > p->roll_limit_angle)
        damping *= 1 + p->roll_limit_factor * (fabs(lean) - p->roll_limit_angle);
    return leveling + damping;
}

double landing_decay(const BikeParams *p, float *land)
{
    double before = *land;
    if (*land > 1) {
        if (p->land_damping_falloff > 0)
            *land = (float)fmax(1.0, *land - (p->land_damping_factor - 1) / 128.0 / p->land_damping_falloff);
        else
            *land = 1;
    }
    return before;
}

double bump_limited(double c, double bump_timer)
{
    if (!(bump_timer > 0))
        return c;
    double lr = 200 * clampd((64 - bump_timer) / 64, 0, 1);
    return clampd(c, -lr, lr);
}

double steering_indicator(double v_w, double lock, double lean, double q, double delta)
{
    double w = clampd((v_w - 5) / 10, 0, 1);
    double c2 = 0.25 * w * lock;
    double width = (0.375 * w + 0.125) * lock;
    // A lock limit of 0 (no restricted lock at speed) leaves no width: the reading steps.
    auto ratio = [width](double n) { return width > 0 ? n / width : n > 0 ? 1.0 : 0.0; };
    if (lean < 0)
        return fmax(fmin(ratio(q - c2), 1), clampd((delta + k_pi / 12) * (-12 / k_pi), 0, 1));
    return fmax(fmin(ratio(-(q + c2)), 1), clampd((delta - k_pi / 12) * 12 / k_pi, 0, 1));
}

double arcade_roll_rate(double s, double lean, double roll_damping)
{
    double o = fabs(k_full_lock * s + lean);
    double p = clampd((roll_damping - 40) * 0.025, 0, 1);
    double q = fmin(o, 1.0 / 16) * (1.5 - 0.5 * p) * 16;
    return lean >= -k_full_lock * s ? -q : q;
}

// Moves v towards 0 by band, not past it.
static double dead_band(double v, double band)
{
    return v > band ? v - band : v < -band ? v + band : 0;
}

double arcade_steering(double natural, double s, double delta, double delta_rate)
{
    double w = dead_band(clampd(natural - 0.5 * s - delta, -0.25, 0.25), 1.0 / 32);
    double e = dead_band(8 * w - delta_rate, 1.0 / 2400);
    if (e < -4.0 / 3)
        return -2.0 / 3;
    if (e > 4.0 / 3)
        return 2.0 / 3;
    return e / 2;
}

// --- the updates ---

static double ground_at(const RiderTic *ctx, double x, double z)
{
    return ctx && ctx->ground && ctx->ground->heights ? terrain_height(ctx->ground, (float)x, (float)z) : -1e9;
}

// Friction slot 0 of the tile under the front wheel; 1 without ground.
static double front_friction(const BikeState *bike, const RiderTic *ctx)
{
    if (!ctx || !ctx->ground)
        return 1;
    const dReal *p = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
    const TileType *tile = tile_type(ctx->ground, tile_at(ctx->ground, (float)p[0], (float)p[2]));
    return tile ? tile->friction_value[0] : 1;
}

static double frame_speed(const BikeState *bike)
{
    const dReal *v = dBodyGetLinearVel(bike->body[BODY_FRAME]);
    return sqrt(dot3(v, v));
}

static void update_normal(BikeState *bike, const RiderTic *ctx)
{
    const BikeParams &p = bike->params;
    const WheelContact &front = bike->wheel[0];
    dBodyID frame = bike->body[BODY_FRAME];
    double s = bike->inputs.steer;
    double spin = dJointGetHingeAngleRate(bike->joint[JOINT_FRONT_AXLE]);
    double v_w = spin * ((double)front.major_radius + front.minor_radius);
    double delta = dJointGetHingeAngle(bike->joint[JOINT_STEERING]);
    double lean = lean_angle(frame), roll = roll_rate(frame);
    bike->steer_indicator = 0;

    double lock = steering_lock_limit(&p, front_friction(bike, ctx), v_w);
    const dReal *fw = dBodyGetPosition(bike->body[BODY_FRONT_WHEEL]);
    double height = fw[1] - ground_at(ctx, fw[0], fw[2]) - ((double)front.major_radius + front.minor_radius);
    double q = natural_steer(bike);
    double kl, ku;
    steering_force_bounds(p.max_steering_force, lock, v_w, height, q, &kl, &ku);

    double c, e = s * p.steering_strength * p.direct_steering;
    if (!(front.depth > 0) || spin < k_pi / 4) {
        bike->land_multiplier = p.land_damping_factor;
        c = -k_centring * delta;
        if (!(bike->flags & BIKE_FLAG_STEERING))
            e = 0;
    } else {
        double land = landing_decay(&p, &bike->land_multiplier);
        c = stability_torque(&p, lean, roll, land, frame_speed(bike));
        e = steering_command(&p, s, lean, roll);
        c = bump_limited(c, bike->bump_timer);
        bike->steer_indicator = (float)steering_indicator(v_w, lock, lean, q, delta);
    }
    apply_steering(bike, clampd(1.5 * (c + e), kl, ku));
}

static void update_arcade(BikeState *bike, const RiderTic *ctx)
{
    const BikeParams &p = bike->params;
    dBodyID frame = bike->body[BODY_FRAME];
    double s = bike->inputs.steer;
    double delta = dJointGetHingeAngle(bike->joint[JOINT_STEERING]);
    const dReal *pos = dBodyGetPosition(frame), *vel = dBodyGetLinearVel(frame);
    // Where the frame would be in a second, falling: still high above the ground means a jump.
    double x = pos[0] + vel[0], y = pos[1] + vel[1] - 16, z = pos[2] + vel[2];
    if (!(bike->wheel[0].depth > 0) && y - ground_at(ctx, x, z) > k_frame_build_height) {
        double e = (bike->flags & BIKE_FLAG_STEERING) ? s * p.steering_strength * p.direct_steering : 0;
        apply_steering(bike, 1.5 * (-k_centring * delta + e));
        return;
    }
    double lean = lean_angle(frame);
    dVector3 axis;
    dBodyVectorToWorld(frame, 0, 0, 1, axis);
    dJointID motor = dJointCreateAMotor(bike_world(), bike_contact_group());
    dJointAttach(motor, frame, nullptr);
    dJointSetAMotorNumAxes(motor, 1);
    dJointSetAMotorAxis(motor, 0, 0, axis[0], axis[1], axis[2]);
    dJointSetAMotorParam(motor, dParamVel, arcade_roll_rate(s, lean, p.roll_damping));
    dJointSetAMotorParam(motor, dParamFMax, k_roll_motor_torque);

    double g = arcade_steering(natural_steer(bike), s, delta, dJointGetHingeAngleRate(bike->joint[JOINT_STEERING]));
    apply_steering(bike, g * p.steering_strength);

    // Yaw damping: the frame's tail, 20 ft behind, is held back from sliding.
    dVector3 v;
    dBodyGetRelPointVel(frame, 0, 0, 20, v);
    dBodyAddForceAtRelPos(frame, -0.25 * v[0], -0.25 * v[1], -0.25 * v[2], 0, 0, 20);
}

// Damps the front wheel's turning about every axis but its own axle.
static void steering_damping(BikeState *bike)
{
    dBodyID wheel = bike->body[BODY_FRONT_WHEEL];
    const dReal *w = dBodyGetAngularVel(wheel);
    dVector3 a;
    dBodyVectorToWorld(wheel, 1, 0, 0, a);
    double spin = dot3(a, w), k = bike->params.steering_damping;
    double t[3];
    for (int i = 0; i < 3; i++)
        t[i] = k * (spin * a[i] - w[i]);
    if (!isfinite(t[0] + t[1] + t[2]))
        return;
    dBodyAddTorque(wheel, t[0], t[1], t[2]);
    dBodyAddTorque(bike->body[BODY_FRAME], -t[0], -t[1], -t[2]);
}

void bike_steering_update(BikeState *bike, const RiderTic *ctx)
{
    if (!bike || !bike->built || !bike_world())
        return;
    if (bike->fall_timer <= 0) {
        if (bike->params.arcade)
            update_arcade(bike, ctx);
        else
            update_normal(bike, ctx);
    }
    steering_damping(bike);
}
