#include "bike/rider.h"

#include <math.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/falls.h"
#include "bike/steering.h"
#include "terrain/terrain.h"

static const double k_h = 1.0 / 128;
static const double k_fore_aft_limit = 0.75;

static const double k_pi = 3.14159265358979323846;
static const double k_slow_speed = 5;       // ft/s
static const double k_fast_dab_limit = 15;  // ft/s
static const double k_foot_rate = 1.0 / 16; // of the foot-down amount per tic

// Not-a-number falls to the low end.
static double clampd(double v, double lo, double hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

void rider_rest_point(const BikeState *bike, double out[3])
{
    const BikeModel &b = *bike_model(bike->model);
    dBodyID frame = bike->body[BODY_FRAME];
    dVector3 p;
    dBodyGetRelPointPos(frame, b.rider_position[0] - b.frame_position[0], b.rider_position[1] - b.frame_position[1],
                        b.rider_position[2] - b.frame_position[2], p);
    out[0] = p[0];
    out[1] = p[1];
    out[2] = p[2];
}

// A one-sided soft contact along +-axis whose depth is |error|: as the sign follows the error
// every tic, it acts as a spring of stiffness k and damping c towards zero error.
static void spring_joint(BikeState *bike, const dReal *q, const dReal *axis, double error, double k, double c)
{
    if (!(k + c > 0) || !isfinite(error))
        return;
    double s = error < 0 ? -1 : 1;
    dContact contact = {};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = 0;
    contact.surface.soft_erp = k_h * k / (k_h * k + c);
    contact.surface.soft_cfm = 1 / (k_h * k + c);
    for (int i = 0; i < 3; i++) {
        contact.geom.pos[i] = q[i];
        contact.geom.normal[i] = s * axis[i];
    }
    contact.geom.depth = fabs(error);
    dJointID j = dJointCreateContact(bike_world(), bike_contact_group(), &contact);
    dJointAttach(j, bike->body[BODY_RIDER], bike->body[BODY_FRAME]);
}

// The rider mount as built: its anchor 50 ft from the bike turns its swing about axis 2 into an
// almost straight up-and-down movement at the rider.
static const double k_mount_anchor_z = -50;
static const double k_mount_axis1[3] = { 0, 1, 1 }, k_mount_axis2[3] = { 1, 0, 0 };

void reseat_rider(BikeState *bike)
{
    if (!bike || !bike->built)
        return;
    const BikeModel &b = *bike_model(bike->model);
    dBodyID frame = bike->body[BODY_FRAME], rider = bike->body[BODY_RIDER];
    dJointID j = bike->joint[JOINT_RIDER];
    // The rider takes the rest point of the frame, turned and moving with it, and the mount is
    // laid out in the frame's own coordinates, wherever the bike stands and however it is turned.
    double p[3];
    rider_rest_point(bike, p);
    dVector3 v;
    dBodyGetPointVel(frame, p[0], p[1], p[2], v);
    dBodySetPosition(rider, p[0], p[1], p[2]);
    dBodySetRotation(rider, dBodyGetRotation(frame));
    dBodySetLinearVel(rider, v[0], v[1], v[2]);
    const dReal *w = dBodyGetAngularVel(frame);
    dBodySetAngularVel(rider, w[0], w[1], w[2]);
    // The fall test compares with the velocities of four tics ago: those from before a fall
    // would throw the rider off again at once.
    for (Vec3 &r : bike->rider_velocity)
        r = v3((float)v[0], (float)v[1], (float)v[2]);
    dJointAttach(j, rider, frame);
    const float *f = b.frame_position;
    dVector3 anchor, axis1, axis2;
    dBodyGetRelPointPos(frame, -f[0], b.rider_position[1] - f[1], k_mount_anchor_z - f[2], anchor);
    dBodyVectorToWorld(frame, k_mount_axis1[0], k_mount_axis1[1], k_mount_axis1[2], axis1);
    dBodyVectorToWorld(frame, k_mount_axis2[0], k_mount_axis2[1], k_mount_axis2[2], axis2);
    dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
    dJointSetHinge2Axes(j, axis1, axis2);
    dJointSetHinge2Param(j, dParamLoStop, 0);
    dJointSetHinge2Param(j, dParamHiStop, 0);
    dJointSetHinge2Param(j, dParamSuspensionERP, 0);
    dJointSetHinge2Param(j, dParamSuspensionCFM, 0);
}

double rider_fore_aft_target(double jump, double sit, double lean)
{
    return clampd((1 + sit) * 0.5 * jump - lean, -k_fore_aft_limit, k_fore_aft_limit);
}

double rider_vertical_error(double jump, double sit)
{
    return 0.125 - 0.5 * sit + jump;
}

void update_rider_mount(BikeState *bike)
{
    if (!bike || !bike->built || !bike_world() || bike->fall_timer > 0)
        return;
    const BikeModel &b = *bike_model(bike->model);
    const BikeParams &pr = bike->params;
    dBodyID frame = bike->body[BODY_FRAME];
    dVector3 u, w;
    dBodyVectorToWorld(frame, 0, 1, 0, u);
    dBodyVectorToWorld(frame, 0, 0, 1, w);
    double p[3];
    rider_rest_point(bike, p);
    const dReal *q = dBodyGetPosition(bike->body[BODY_RIDER]);
    double d[3] = { p[0] - q[0], p[1] - q[1], p[2] - q[2] };
    double jump = d[0] * u[0] + d[1] * u[1] + d[2] * u[2];
    double fore = d[0] * w[0] + d[1] * w[1] + d[2] * w[2];
    double sit = bike->inputs.sit, lean = bike->inputs.lean;
    double scale = b.rider_mass * 0.21333333333333335;

    double e = fore - rider_fore_aft_target(jump, sit, lean);
    double K, C;
    if (fore < -k_fore_aft_limit || fore > k_fore_aft_limit) {
        K = C = 2500;
    } else {
        K = 100 * fabs(e) + 600 * pr.rider_zspring;
        C = 0;
    }
    if (K * scale > 0)
        spring_joint(bike, q, w, e, K * scale, C * scale);

    double drop = rider_vertical_error(jump, sit);
    if (jump > 0.5 || jump < -0.75) {
        K = C = 2500;
    } else {
        K = 400 * pr.rider_yspring;
        C = 100 * pr.rider_ydamping;
    }
    spring_joint(bike, q, u, drop, K * scale, C * scale);

    dJointID mount = bike->joint[JOINT_RIDER];
    if (mount && dJointGetBody(mount, 0)) {
        dJointSetHinge2Param(mount, dParamSuspensionERP, 0);
        dJointSetHinge2Param(mount, dParamSuspensionCFM, 1 / (scale * (30 * pr.rider_zdamping + 5)));
    }
}

// --- dabbing and backing up ---

static double length3(const dReal *v) { return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

void hold_force(BikeState *bike, double vx, double vy, double vz, double h)
{
    dBodyID frame = bike->body[BODY_FRAME];
    const dReal *v = dBodyGetLinearVel(frame);
    double d[3] = { v[0] - vx, v[1] - vy, v[2] - vz };
    double n2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    if (!(n2 >= 1.0 / 16))
        return;
    double n = sqrt(n2), k = clampd((n - 0.25) * 0.8, 0, 1) * h / n;
    dBodyAddForce(frame, -d[0] * k, 0, -d[2] * k);
}

double backup_pulse(int tic, int gate_drop_tic)
{
    // Before the start the bike walks back in one second out of four.
    double start = floor((gate_drop_tic + 128.0) / 128) * 128;
    if (tic < start && (tic & (1 << 7 | 1 << 8)))
        return 0;
    int phase = ((tic % 128) + 128) % 128;
    return (1 - cos(phase * 2 * k_pi / 127)) / 2;
}

double dab_reserve(double v, double limit, double lean, double roll_limit_angle, double steer)
{
    double d = fabs(lean);
    if (v >= limit)
        d -= 5 * k_pi / 2;
    else if (v > k_fast_dab_limit)      // only reached with limit > 15: the divisor is positive
        d -= 1.25 * (roll_limit_angle + clampd((v * v - 225) / (limit * limit - 225), 0, 1) * (2 * k_pi - roll_limit_angle));
    else
        d -= 1.25 * roll_limit_angle * (1 - pow(1 - fmin(v * v / (limit * limit), 1.0), 32));
    double f = clampd(4 * d, 0, 1);
    // Steering towards the foot (to the left when leaning left) keeps the support.
    double towards = lean >= 0 ? -steer : steer;
    double g = clampd((towards - 0.5) * 2, 0, 1);
    return g * (1 - f) + f;
}

static bool touches(const WheelContact &w) { return w.depth > 0; }

static double total_mass(const BikeState *bike)
{
    double m = 0;
    for (dBodyID body : bike->body) {
        dMass mass;
        dBodyGetMass(body, &mass);
        m += mass.mass;
    }
    return m;
}

// A motor of this step between the frame and the world turning it about world y.
static void yaw_motor(BikeState *bike, double rate, double max_torque)
{
    dJointID motor = dJointCreateAMotor(bike_world(), bike_contact_group());
    dJointAttach(motor, bike->body[BODY_FRAME], nullptr);
    dJointSetAMotorNumAxes(motor, 1);
    dJointSetAMotorAxis(motor, 0, 0, 0, 1, 0);
    dJointSetAMotorParam(motor, dParamVel, rate);
    dJointSetAMotorParam(motor, dParamFMax, max_torque);
}

// The turn at a standstill towards where the track goes on. False when the rest of the dab
// support is skipped this tic.
static bool standstill_turn(BikeState *bike, const RiderTic *ctx, double v, double lean)
{
    if (!(v < k_slow_speed) || !(fabs(lean) > k_pi / 8) || !(fabs(lean) < 1.0995574287564276))
        return true;
    if (!(bike->flags & BIKE_FLAG_REALIGN) || bike->inputs.back_up > 0.125)
        return true;
    float tx, tz;
    if (!ctx || !ctx->standstill_target || !ctx->standstill_target(bike, &tx, &tz))
        return true;
    dBodyID frame = bike->body[BODY_FRAME];
    dVector3 f;
    dBodyVectorToWorld(frame, 0, 0, 1, f);
    double h2 = f[0] * f[0] + f[2] * f[2];
    if (!(h2 > 1.0 / 1024))
        return true;
    double fx = f[0] / sqrt(h2), fz = f[2] / sqrt(h2);
    const dReal *p = dBodyGetPosition(frame);
    double dx = tx - p[0], dz = tz - p[2];
    double a = dx * fx + dz * fz, b = fx * -dz + fz * dx;
    double mass = total_mass(bike);
    if (a < 0 && fabs(b) < -a / 4) {
        yaw_motor(bike, b >= 0 ? -k_pi / 2 : k_pi / 2, 320 * mass * fabs(4 * b / a));
        return true;
    }
    yaw_motor(bike, b >= 0 ? -k_pi / 2 : k_pi / 2, 320 * mass);
    // The wheels carry no weight while the bike is turned on its side.
    for (int k = 0; k < 2; k++)
        if (touches(bike->wheel[k]))
            dBodyAddForce(bike->wheel[k].wheel, 0, mass * 32, 0);
    return false;
}

static void dab_support(BikeState *bike, const RiderTic *ctx, double v, double lean)
{
    const BikeModel &b = *bike_model(bike->model);
    const BikeParams &p = bike->params;
    double limit = p.max_dab_speed;
    bool support = !(bike->inputs.sit == 0) && !p.arcade && !(v > limit);
    if (support && !touches(bike->wheel[0])) {
        // Judged by the rider body's height above the ground below it.
        const dReal *r = dBodyGetPosition(bike->body[BODY_RIDER]);
        double ground = ctx && ctx->ground && ctx->ground->heights ? terrain_height(ctx->ground, (float)r[0], (float)r[2]) : -1e9;
        support = r[1] - ground <= b.rider_position[1] + 1;
    }
    if (support && v > k_fast_dab_limit &&
        (!touches(bike->wheel[0]) || !touches(bike->wheel[1]) || fabs(lean) < 3 * k_pi / 16))
        support = false;
    if (!support) {
        bike->foot_down = (float)fmax(0.0, bike->foot_down - k_foot_rate);
        return;
    }
    bike->foot_down = (float)fmin(1.0, bike->foot_down + k_foot_rate);
    if (!standstill_turn(bike, ctx, v, lean))
        return;

    dBodyID frame = bike->body[BODY_FRAME];
    double roll = roll_rate(frame);
    double o = lean < 0 ? k_pi / 8 : -k_pi / 8;
    if (fabs(lean) < k_pi / 16)
        o *= fabs(lean) * 16 / k_pi;
    double e = o > 0 && roll < o ? -400 : o < 0 && roll > o ? 400 : 0;
    if (fabs(lean) < k_pi / 32)
        e *= fabs(lean) * 32 / k_pi;
    if (bike->foot_down < 0.125 || v > k_slow_speed) {
        e *= dab_reserve(v, limit, lean, p.roll_limit_angle, bike->inputs.steer);
        if (v > k_slow_speed)
            e *= bike->steer_indicator;
    }
    if (e == 0 || !isfinite(e))
        return;
    dVector3 up;
    dBodyVectorToWorld(frame, 0, 1, 0, up);
    if (up[1] < 0.707) {
        dBodyAddForceAtRelPos(frame, 0, fabs(e), 0, 0, 4, 0);
    } else {
        dBodyAddForceAtRelPos(frame, 0, fabs(e) / 8, 0, 0, 4, 0);
        dBodyAddRelForceAtRelPos(frame, e, 0, 0, 0, 4, 0);
    }
}

void update_dab_and_backup(BikeState *bike, const RiderTic *ctx)
{
    if (!bike || !bike->built || !bike_world() || bike->fall_timer > 0)
        return;
    BikeInputs &in = bike->inputs;
    dBodyID frame = bike->body[BODY_FRAME];
    double v = length3(dBodyGetLinearVel(frame));
    double lean = lean_angle(frame);
    double limit = bike->params.max_dab_speed;
    if ((in.back_up == 0 || v >= k_slow_speed) && (bike->flags & BIKE_FLAG_AUTO_DAB) && v <= limit &&
        !(v > k_fast_dab_limit && fabs(lean) < fmin((v - k_fast_dab_limit) / k_fast_dab_limit, 1.0) * k_pi / 4)) {
        bool idle = in.throttle == 0 || bike->engine.clutch == 0;
        if (idle || v < k_slow_speed || fabs(lean) > k_pi / 16)
            in.sit = (float)clampd((limit - v) / limit, fmax((double)in.sit, 0.0), 1);
        if (v < k_slow_speed && idle && touches(bike->wheel[0]) && touches(bike->wheel[1])) {
            in.front_brake = in.rear_brake = 1;
            hold_force(bike, 0, 0, 0, 1000);
        }
    }
    if (in.back_up > 0 && v < k_slow_speed) {
        in.sit = 1;
        double a = backup_pulse(ctx ? ctx->tic : 0, ctx ? ctx->gate_drop_tic : 0);
        dVector3 z;
        dBodyVectorToWorld(frame, 0, 0, 1, z);
        hold_force(bike, 4 * a * z[0], 4 * a * z[1], 4 * a * z[2], 2000);
        yaw_motor(bike, a * -in.steer * k_pi / 2, 2000);
    }
    dab_support(bike, ctx, v, lean);
}

void bike_dab_and_falls(BikeState *bike, const RiderTic *ctx)
{
    if (!bike || !bike->built || !bike_world())
        return;
    bump_tick(bike);
    if (bike->fall_timer > 0) {
        update_fallen(bike, ctx);
        return;
    }
    update_dab_and_backup(bike, ctx);
    if (!bike->params.arcade)
        check_fall(bike, ctx);
}

bool bike_fallen(const BikeState *bike) { return bike && bike->built && bike->fall_timer > 0; }
int bike_fall_timer(const BikeState *bike) { return bike && bike->built ? bike->fall_timer : 0; }
float bike_foot_down(const BikeState *bike) { return bike && bike->built ? bike->foot_down : 0; }
bool bike_sticky_dab_on(const BikeState *bike) { return bike && bike->built && bike->sticky_dab; }
float bike_steer_indicator(const BikeState *bike) { return bike && bike->built ? bike->steer_indicator : 0; }
const BikeFoot *bike_recorded_feet(const BikeState *bike) { return bike && bike->built ? bike->feet : nullptr; }
