#include "bike/falls.h"

#include <math.h>

#include <initializer_list>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/rider.h"
#include "bike/shape.h"
#include "bike/steering.h"
#include "terrain/terrain.h"

static const double k_pi = 3.14159265358979323846;
static const int k_fall_tics = 512;         // lying still this long brings the rider back
static const int k_return_tics = 511;       // from here on the ropes pull the rider to the seat
static const double k_still_speed = 2;      // ft/s: a rider slower than this counts down
static const double k_rope_stiffness = 5000, k_rope_damping = 500;
static const double k_hit_speed = 10, k_slow_speed = 5;

static struct {
    int knockout[KNOCKOUT_DELAYS];
} g_falls;

static double clampd(double v, double lo, double hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

static Vec3 to_vec(const dReal *v) { return v3((float)v[0], (float)v[1], (float)v[2]); }

static double speed_of(dBodyID body)
{
    const dReal *v = dBodyGetLinearVel(body);
    return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

void set_knockout_delays(const int *tics, int count)
{
    for (int i = 0; i < KNOCKOUT_DELAYS; i++) {
        int t = tics && i < count ? tics[i] : 0;
        g_falls.knockout[i] = t < 0 ? 0 : t > KNOCKOUT_MAX_TICS ? KNOCKOUT_MAX_TICS : t;
    }
}

int knockout_delay(int fall_count)
{
    int i = fall_count < 0 ? 0 : fall_count > KNOCKOUT_DELAYS - 1 ? KNOCKOUT_DELAYS - 1 : fall_count;
    return g_falls.knockout[i];
}

// --- fall test ---

void fall_limits(int now, int takeoff_tic, int landing_tic, double *velocity, double *acceleration)
{
    double o = 1.5;
    if (!(takeoff_tic > landing_tic)) {
        // A hard landing after a long jump lowers both limits by a third for an eighth of a second.
        double airtime = (landing_tic - takeoff_tic) / 128.0;
        double a = clampd((airtime - 0.559) * 7.9365087, 0, 1);
        double b = clampd(((now - landing_tic) / 128.0 - 0.25) * -8, 0, 1);
        o = 1.5 - 0.5 * a * b;
    }
    *velocity = 31 * o;
    *acceleration = 1376 * o;
}

static bool touches(const WheelContact &w) { return w.depth > 0; }

bool check_fall(BikeState *bike, const RiderTic *ctx)
{
    if (!bike || !bike->built || bike->fall_timer > 0 || bike->params.arcade)
        return false;
    int now = ctx ? ctx->tic : 0;
    double vlim, alim;
    fall_limits(now, bike->takeoff_tic, bike->landing_tic, &vlim, &alim);
    dBodyID rider = bike->body[BODY_RIDER], frame = bike->body[BODY_FRAME];
    const dReal *q = dBodyGetPosition(rider), *vr = dBodyGetLinearVel(rider);
    dVector3 vf;
    dBodyGetPointVel(frame, q[0], q[1], q[2], vf);
    double rel[3] = { vr[0] - vf[0], vr[1] - vf[1], vr[2] - vf[2] };
    bool fall = rel[0] * rel[0] + rel[1] * rel[1] + rel[2] * rel[2] > vlim * vlim;

    Vec3 &before = bike->rider_velocity[((now % 4) + 4) % 4];
    double acc[3] = { (vr[0] - before.x) * 32, (vr[1] - before.y) * 32 + 32, (vr[2] - before.z) * 32 };
    fall |= acc[0] * acc[0] + acc[1] * acc[1] + acc[2] * acc[2] > alim * alim;
    before = to_vec(vr);
    if (ctx && ctx->rider_hit_scenery && ctx->rider_hit_scenery(bike))
        fall = true;

    bool front = touches(bike->wheel[0]), rear = touches(bike->wheel[1]);
    if (!front && !rear && dBodyGetLinearVel(frame)[1] < 0 && bike->landing_tic >= bike->takeoff_tic)
        bike->takeoff_tic = now;
    else if ((front || rear) && bike->landing_tic < bike->takeoff_tic)
        bike->landing_tic = now;
    if (fall)
        start_fall(bike, ctx);
    return fall;
}

// --- feet ---

static Vec3 pose_point(const BikeState *bike, int body, int index, float dx, float dy, float dz)
{
    const float *p = bike_model(bike->model)->rider_pose + index;
    dVector3 w;
    dBodyGetRelPointPos(bike->body[body], p[0] + dx, p[1] + dy, p[2] + dz, w);
    return to_vec(w);
}

enum { POSE_HIP_LEFT = 9, POSE_HIP_RIGHT = 12, POSE_GRIP_LEFT = 15, POSE_GRIP_RIGHT = 18, POSE_PEG_LEFT = 21,
       POSE_PEG_RIGHT = 24, POSE_SHOULDER_LEFT = 3, POSE_SHOULDER_RIGHT = 6, POSE_UPPER_ARM = 27, POSE_FOREARM = 28 };

void foot_points(const BikeState *bike, const Terrain *ground, Vec3 feet[2], float down[2])
{
    feet[0] = feet[1] = v3(0, 0, 0);
    down[0] = down[1] = 0;
    if (!bike || !bike->built)
        return;
    int t = bike->fall_timer;
    float dx = 0, dy = 0, dz = 0;
    if (t >= 1) {
        // Thrown off: the legs fly up and back from the pegs.
        float k = (float)(t < 128 ? t : 128) / 128;
        dx = (float)(0.5 * clampd(2 * k - 1, 0, 1));
        dy = (float)(1.75 * clampd(2 * k, 0, 1));
        dz = (float)clampd(4 * k / 3, 0, 1);
    }
    feet[0] = pose_point(bike, BODY_FRAME, POSE_PEG_LEFT, -dx, dy, dz);
    feet[1] = pose_point(bike, BODY_FRAME, POSE_PEG_RIGHT, dx, dy, dz);

    float f = bike->foot_down;
    if (f != 0 && t <= 127) {
        dBodyID frame = bike->body[BODY_FRAME];
        double lean = lean_angle(frame);
        Vec3 hl = pose_point(bike, BODY_RIDER, POSE_HIP_LEFT, 0, 0, 0);
        Vec3 hr = pose_point(bike, BODY_RIDER, POSE_HIP_RIGHT, 0, 0, 0);
        Vec3 across = v3_sub(hr, hl);
        double z_lean = clampd(fabs(lean) * 4 / k_pi, 0, 1);
        dVector3 back;
        dBodyVectorToWorld(frame, 0, 0, 1, back);
        const dReal *v = dBodyGetLinearVel(frame);
        double ratio = clampd(-(v[0] * back[0] + v[1] * back[1] + v[2] * back[2]) / 15, 0, 1);
        float o = (float)((1.25 * ratio - 0.25) * 2.5 * z_lean);
        Vec3 forward = v3((float)-back[0], (float)-back[1], (float)-back[2]);
        auto place = [&](int side, Vec3 target) {
            target = v3_madd(target, forward, o);
            target.y = (ground && ground->heights ? terrain_height(ground, target.x, target.z) : target.y) + 0.125f;
            feet[side] = v3_lerp(feet[side], target, f);
            down[side] = f;
        };
        if (lean > -0.1)
            place(0, v3_madd(hl, across, (float)(z_lean - 1) / 2));
        if (lean < 0.1)
            place(1, v3_madd(hr, across, (float)(0.5 - z_lean / 2)));
    }
    if (t >= 1) {
        float w = (float)clampd(2.0 * t - 128, 1, 128) / 128;
        for (int k = 0; k < 2; k++) {
            feet[k] = v3_lerp(feet[k], bike->feet[k].point, w);
            down[k] = 1;
        }
    }
}

// --- falling and getting back on ---

void start_fall(BikeState *bike, const RiderTic *ctx)
{
    if (!bike || !bike->built || bike->fall_timer > 0)
        return;
    dJointAttach(bike->joint[JOINT_RIDER], nullptr, nullptr);
    Vec3 feet[2];
    float down[2];
    foot_points(bike, ctx ? ctx->ground : nullptr, feet, down);
    for (int k = 0; k < 2; k++) {
        dVector3 v;
        dBodyGetPointVel(bike->body[BODY_RIDER], feet[k].x, feet[k].y, feet[k].z, v);
        bike->feet[k].point = feet[k];
        bike->feet[k].velocity = to_vec(v);
    }
    bike->fall_timer = k_fall_tics + knockout_delay(bike->fall_count);
    bike->fall_count++;
    bike->foot_down = 0;
    bike->inputs.throttle = bike->inputs.sit = bike->inputs.back_up = bike->inputs.lean = 0;
}

bool rope(BikeState *bike, int body_a, const double a[3], int body_b, const double b[3], double length)
{
    dVector3 pa, pb;
    dBodyGetRelPointPos(bike->body[body_a], a[0], a[1], a[2], pa);
    dBodyGetRelPointPos(bike->body[body_b], b[0], b[1], b[2], pb);
    double d[3] = { pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2] };
    double dist = sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (!(dist > length) || !(dist > 0) || !isfinite(dist))
        return false;
    const double h = k_tic_seconds, hk = h * k_rope_stiffness;
    dContact contact = {};
    contact.surface.mode = dContactSoftERP | dContactSoftCFM;
    contact.surface.mu = 0;
    contact.surface.soft_erp = hk / (hk + k_rope_damping);
    contact.surface.soft_cfm = 1 / (hk + k_rope_damping);
    for (int i = 0; i < 3; i++) {
        contact.geom.pos[i] = (pa[i] + pb[i]) / 2;
        contact.geom.normal[i] = d[i] / dist;      // A is pushed this way: towards B
    }
    contact.geom.depth = dist - length;
    dJointID j = dJointCreateContact(bike_world(), bike_contact_group(), &contact);
    dJointAttach(j, bike->body[body_a], bike->body[body_b]);
    return true;
}

// The foot on the side of the lean steps back towards its peg.
static void move_feet(BikeState *bike)
{
    int t = bike->fall_timer;
    int lean_side = lean_angle(bike->body[BODY_FRAME]) > 0 ? 0 : 1;
    for (int k = 0; k < 2; k++) {
        BikeFoot &foot = bike->feet[k];
        if (t < 320 && k == lean_side) {
            Vec3 peg = pose_point(bike, BODY_FRAME, k == 0 ? POSE_PEG_LEFT : POSE_PEG_RIGHT, 0, 0, 0);
            Vec3 dir = v3_sub(peg, foot.point);
            float len = v3_length(dir);
            if (len > 1)
                dir = v3_scale(dir, 1 / len);
            foot.velocity = v3_scale(dir, 4);
        } else {
            dVector3 v;
            dBodyGetPointVel(bike->body[BODY_RIDER], foot.point.x, foot.point.y, foot.point.z, v);
            foot.velocity = to_vec(v);
        }
        foot.point = v3_madd(foot.point, foot.velocity, (float)k_tic_seconds);
    }
}

void update_fallen(BikeState *bike, const RiderTic *)
{
    if (!bike || !bike->built || bike->fall_timer <= 0)
        return;
    const BikeModel &b = *bike_model(bike->model);
    if (speed_of(bike->body[BODY_RIDER]) < k_still_speed)
        bike->fall_timer--;
    if (bike->fall_timer <= 0) {
        bike->fall_timer = 0;
        reseat_rider(bike);
        return;
    }
    int t = bike->fall_timer;
    const float *p = b.rider_pose;
    double arm = 0.875 * ((double)p[POSE_UPPER_ARM] + p[POSE_FOREARM]);
    for (int side = 0; side < 2; side++) {
        const float *s = p + (side ? POSE_SHOULDER_RIGHT : POSE_SHOULDER_LEFT);
        const float *g = p + (side ? POSE_GRIP_RIGHT : POSE_GRIP_LEFT);
        double sa[3] = { s[0], s[1], s[2] }, ga[3] = { g[0], g[1], g[2] };
        rope(bike, BODY_RIDER, sa, BODY_UPPER_FORK, ga, arm);
    }
    const double centre[3] = { 0, 0, 0 };
    if (t > k_return_tics) {
        const double behind[3] = { 0, 0, 10 };
        rope(bike, BODY_RIDER, centre, BODY_UPPER_FORK, behind, 8);
    }
    const Shape *rider_shape = shape_get(bike->shape[BODY_RIDER]);
    for (int part : { BODY_FRAME, BODY_UPPER_FORK })
        shape_contact(rider_shape, bike->body[BODY_RIDER], shape_get(bike->shape[part]), bike->body[part], SHAPE_JOINTS);
    if (t <= k_return_tics) {
        // Shorter and shorter ropes pull the rider back to the seat and turn it upright.
        double length = 5 * clampd((t - 128) / 384.0, 0, 1);
        double rest[3];
        for (int i = 0; i < 3; i++)
            rest[i] = (double)b.rider_position[i] - b.frame_position[i];
        rope(bike, BODY_FRAME, rest, BODY_RIDER, centre, length);
        for (double side : { -5.0, 5.0 }) {
            double fa[3] = { rest[0] + side, rest[1] + 10, rest[2] }, ra[3] = { side, 10, 0 };
            rope(bike, BODY_FRAME, fa, BODY_RIDER, ra, length);
        }
    }
    move_feet(bike);
}

// --- bike against bike ---

static const int k_front_end = 1 << BODY_FRONT_WHEEL | 1 << BODY_LOWER_FORK;

void bump_after_collision(BikeState *a, int mask_a, BikeState *b, int mask_b)
{
    if (!a || !b || !a->built || !b->built)
        return;
    double va = speed_of(a->body[BODY_FRAME]), vb = speed_of(b->body[BODY_FRAME]);
    if (mask_a & mask_b & k_front_end) {
        // Front to front: both riders get the wobble.
        if (va >= k_hit_speed)
            a->bump_timer = fmaxf(a->bump_timer, 64);
        if (vb >= k_hit_speed)
            b->bump_timer = fmaxf(b->bump_timer, 64);
        return;
    }
    BikeState *hitter = nullptr, *other = nullptr;
    double v_hitter = 0, v_other = 0;
    if (mask_a & k_front_end)
        hitter = a, other = b, v_hitter = va, v_other = vb;
    else if (mask_b & k_front_end)
        hitter = b, other = a, v_hitter = vb, v_other = va;
    if (hitter && other->fall_timer <= 0 && v_other >= k_slow_speed && v_hitter >= k_hit_speed)
        hitter->bump_timer = fmaxf(hitter->bump_timer, 128);
}

void bump_tick(BikeState *bike)
{
    if (bike)
        bike->bump_timer = bike->bump_timer > 1 ? bike->bump_timer - 1 : 0;
}
