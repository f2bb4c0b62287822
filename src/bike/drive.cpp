#include "bike/drive.h"

#include <math.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/setup.h"

static const double k_pi = 3.14159265358979323846;
static const double k_rpm_per_rad_s = 9.549296585513721;
static const double k_engage_per_tic = 4.0 / 128;  // a quarter second from open to closed
static const int k_auto_shift_tics = 32;
static const float k_grip_speed_squared = 4;       // (2 ft/s)^2: a contact sliding faster slips

// The player's control channels read here.
enum { CH_STEER, CH_THROTTLE, CH_FRONT_BRAKE, CH_REAR_BRAKE, CH_SHIFT, CH_CLUTCH, CH_SIT_DAB, CH_BACK_UP, CH_LEAN };

// Not-a-number falls to the low end.
static double clampd(double v, double lo, double hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

static float clamp01(float x) { return (float)clampd(x, 0, 1); }
static float clamp_signed(float x) { return isnan(x) ? 0 : (float)clampd(x, -1, 1); }

static bool fallen(const BikeState *bike) { return bike->fall_timer > 0; }

static bool built(const BikeState *bike) { return bike && bike->built; }

void set_throttle(BikeState *bike, float x)
{
    if (built(bike))
        bike->inputs.throttle = fallen(bike) ? 0 : clamp01(x);
}

void set_front_brake(BikeState *bike, float x)
{
    if (built(bike))
        bike->inputs.front_brake = clamp01(x);
}

void set_rear_brake(BikeState *bike, float x)
{
    if (built(bike))
        bike->inputs.rear_brake = clamp01(x);
}

void set_clutch_lever(BikeState *bike, float x)
{
    if (built(bike))
        bike->inputs.clutch = clamp01(x);
}

// The gear asked for, at most fifth index (the sixth gear), or the next lower one that exists.
static int existing_gear(const BikeModel &m, int target)
{
    if (target > 5)
        target = 5;
    while (target > 0 && !(m.gears[target] > 0))
        target--;
    return target > 0 ? target : 0;
}

void shift(BikeState *bike, int direction)
{
    if (!built(bike) || fallen(bike) || direction < -1 || direction > 1 || direction == bike->inputs.shift)
        return;
    bike->inputs.shift = direction;
    int target = bike->engine.gear + direction;
    bike->engine.gear = target <= 0 ? 0 : existing_gear(*bike_model(bike->model), target);
}

static bool setup_says_yes(const ChoiceItem &c) { return strcmp(choice_label(&c), "Yes") == 0; }

void bike_apply_channels(BikeState *bike, const float *channels)
{
    if (!built(bike) || !channels)
        return;
    BikeInputs &in = bike->inputs;
    // Keys give +1 for "Left": the setup's reversal (on by default) makes that a left turn.
    float steer = clamp_signed(channels[CH_STEER]);
    in.steer = setup_says_yes(g_setup.reverse_steering) ? -steer : steer;
    float sit = channels[CH_SIT_DAB];
    bool rises = sit > 0.5f && !(bike->sit_channel > 0.5f);
    bike->sit_channel = sit;
    if (setup_says_yes(g_setup.sticky_dab)) {
        if (rises)
            bike->sticky_dab = !bike->sticky_dab;
        sit = bike->sticky_dab ? 1 : 0;
    }
    bool down = fallen(bike);
    in.sit = down ? 0 : clamp01(sit);
    in.back_up = down ? 0 : clamp01(channels[CH_BACK_UP]);
    in.lean = down ? 0 : clamp_signed(channels[CH_LEAN]);
    set_throttle(bike, channels[CH_THROTTLE]);
    set_front_brake(bike, channels[CH_FRONT_BRAKE]);
    set_rear_brake(bike, channels[CH_REAR_BRAKE]);
    float s = channels[CH_SHIFT];
    shift(bike, s > 0.5f ? 1 : s < -0.5f ? -1 : 0);
    set_clutch_lever(bike, channels[CH_CLUTCH]);
}

double bike_gear_ratio(const BikeState *bike, int gear)
{
    if (!built(bike) || gear < 0 || gear > 5)
        return 0;
    const BikeModel &m = *bike_model(bike->model);
    return (double)m.gears[gear] * m.primary_ratio * bike->params.final_drive;
}

static double curve_at(const float *curve, int i, int j, double t)
{
    return curve[i] + (curve[j] - curve[i]) * t;
}

// The frame's rate of pitch about its own lateral axis: positive lifts the front.
static double pitch_rate(const BikeState *bike)
{
    dVector3 w;
    const dReal *a = dBodyGetAngularVel(bike->body[BODY_FRAME]);
    dBodyVectorFromWorld(bike->body[BODY_FRAME], a[0], a[1], a[2], w);
    return w[0];
}

float engine_torque(const BikeState *bike)
{
    if (!built(bike))
        return 0;
    const BikeModel &m = *bike_model(bike->model);
    double u = clampd(bike_engine_rpm(bike) * 0.002, 0, BIKE_TORQUE_POINTS - 1);
    int i = (int)u, j = i + 1 < BIKE_TORQUE_POINTS ? i + 1 : i;
    double closed = curve_at(m.closed_torque, i, j, u - i), full = curve_at(m.full_torque, i, j, u - i);
    double torque = closed + bike->inputs.throttle * (full - closed);
    if (torque > 0 && (bike->flags & BIKE_FLAG_WHEELIE_THROTTLE) && !(bike->wheel[0].depth > 0) &&
        bike->wheel[1].depth > 0 && pitch_rate(bike) > -1.0 / 32)
        torque = 0;
    return (float)torque;
}

void update_clutch(BikeState *bike)
{
    if (!built(bike))
        return;
    double target = clampd(1 - bike->inputs.clutch * 8.0 / 7.0, 0, 1);
    float &engaged = bike->engine.clutch;
    if (engaged < target)
        engaged = (float)clampd(engaged + k_engage_per_tic, 0, 1);
    else
        engaged = (float)target;
}

static float speed_squared(Vec3 v) { return v.x * v.x + v.y * v.y + v.z * v.z; }

void auto_shift(BikeState *bike, int tic)
{
    if (!built(bike) || !(bike->flags & BIKE_FLAG_AUTO_SHIFT) || tic % k_auto_shift_tics != 0)
        return;
    if (!(dJointGetHingeAngle(bike->joint[JOINT_SWINGARM]) < -0.01))
        return;
    const WheelContact &rear = bike->wheel[1];
    if (rear.depth > 0 && speed_squared(rear.velocity) > k_grip_speed_squared)
        return;
    const BikeModel &m = *bike_model(bike->model);
    int &gear = bike->engine.gear;
    double rpm = dJointGetHingeAngleRate(bike->joint[JOINT_REAR_AXLE]) * bike_gear_ratio(bike, gear) * k_rpm_per_rad_s;
    if (rpm > m.shift_points[1] && gear < 5)
        gear = existing_gear(m, gear + 1);
    else if (rpm < m.shift_points[0] && gear > 0)
        gear = existing_gear(m, gear - 1);
}

// Into [-pi, pi].
static double wrap(double a)
{
    return remainder(a, 2 * k_pi);
}

void update_drivetrain(BikeState *bike)
{
    if (!built(bike))
        return;
    const BikeModel &m = *bike_model(bike->model);
    BikeEngine &e = bike->engine;
    double ratio = bike_gear_ratio(bike, e.gear);
    if (!(ratio > 0) || !(m.engine_inertia > 0))
        return;
    dJointID axle = bike->joint[JOINT_REAR_AXLE];
    double beta = dJointGetHingeAngle(axle), beta_rate = dJointGetHingeAngleRate(axle);
    double windup = wrap(e.angle - beta);
    double rpm = e.speed * k_rpm_per_rad_s, auto_rpm = bike->params.auto_clutch_rpm;
    double c = e.clutch;
    // The automatic clutch slips the drive near idle.
    if (rpm <= auto_rpm + 2000)
        c = fmin(c, clampd((rpm - auto_rpm) * 0.0005, 0, 1));
    double coupling = clampd((e.speed - beta_rate * ratio) * m.driveline_damping, -500, 500) + m.driveline_stiffness * windup;
    // Engine braking goes through whatever the lever lets through, idle or not.
    if (coupling < 0)
        c = e.clutch;
    coupling = clampd(coupling, -1e6, 1e6);
    double slip = k_pi / 4 * c;
    if (windup > slip)
        e.angle = (float)(beta + slip);
    else if (windup < -slip)
        e.angle = (float)(beta - slip);
    double applied = coupling * c * c;
    if (applied != 0) {
        dBodyAddRelTorque(bike->body[BODY_REAR_WHEEL], -applied, 0, 0);
        dBodyAddRelTorque(bike->body[BODY_FRAME], applied, 0, 0);
    }
    double accel = (engine_torque(bike) - applied / ratio) / m.engine_inertia;
    e.speed = (float)(e.speed + accel * k_tic_seconds);
    double angle = wrap(e.angle + e.speed * k_tic_seconds / ratio);
    e.angle = (float)(angle <= -k_pi ? angle + 2 * k_pi : angle);
}

void update_brakes(BikeState *bike)
{
    if (!built(bike))
        return;
    const WheelContact &front = bike->wheel[0], &rear = bike->wheel[1];
    bool front_down = front.depth > 0, rear_down = rear.depth > 0;
    double demand = bike->inputs.front_brake * bike->params.front_brake_torque;
    if ((bike->flags & BIKE_FLAG_FRONT_ANTILOCK) && front_down && speed_squared(front.velocity) > k_grip_speed_squared)
        demand = 0;
    if ((bike->flags & BIKE_FLAG_WHEELIE_BRAKE) && front_down && !rear_down)
        demand = 0;
    // At no demand the motor adds no row to the solver.
    dJointSetHingeParam(bike->joint[JOINT_FRONT_AXLE], dParamVel, 0);
    dJointSetHingeParam(bike->joint[JOINT_FRONT_AXLE], dParamFMax, demand);
    demand = bike->inputs.rear_brake * bike->params.rear_brake_torque;
    if ((bike->flags & BIKE_FLAG_REAR_ANTILOCK) && rear_down && speed_squared(rear.velocity) > k_grip_speed_squared)
        demand = 0;
    dJointSetHingeParam(bike->joint[JOINT_REAR_AXLE], dParamVel, 0);
    dJointSetHingeParam(bike->joint[JOINT_REAR_AXLE], dParamFMax, demand);
}

void bike_drive_update(BikeState *bike, int tic)
{
    if (!built(bike))
        return;
    update_clutch(bike);
    auto_shift(bike, tic);
    update_drivetrain(bike);
    update_brakes(bike);
}
