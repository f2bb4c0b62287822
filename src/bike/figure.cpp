// The rider figure: posture correction, two-bone limbs, bone frames and the head's turn.
#include "bike/figure.h"

#include <math.h>
#include <string.h>

#include "bike/bike.h"
#include "bike/catalogue.h"
#include "bike/falls.h"

static float clampf(float x, float lo, float hi) { return x < lo ? lo : x > hi ? hi : x; }

Vec3 solve_two_bone(Vec3 root, Vec3 target, float a, float b, Vec3 pole)
{
    Vec3 to = v3_sub(target, root);
    float d = v3_length(to);
    Vec3 n = d > 0 ? v3_scale(to, 1 / d) : v3(0, -1, 0);
    d = clampf(d, fmaxf(fabsf(a - b), 1e-4f), 0.95f * (a + b));
    Vec3 off = v3_sub(pole, root);
    Vec3 m = v3_madd(off, n, -v3_dot(off, n));
    float len = v3_length(m);
    if (!(len > 1e-6f)) {
        // The pole on the line: bend along whichever axis is least along the limb.
        Vec3 axis = fabsf(n.z) < 0.9f ? v3(0, 0, 1) : v3(1, 0, 0);
        m = v3_madd(axis, n, -v3_dot(axis, n));
        len = v3_length(m);
    }
    m = v3_scale(m, 1 / len);
    float h = (a * a - b * b + d * d) / (2 * d);
    return v3_add(root, v3_add(v3_scale(n, h), v3_scale(m, sqrtf(fmaxf(0.0f, a * a - h * h)))));
}

float posture_tilt(float distance)
{
    return 0.375f * clampf(1.25f - distance, 0, 1);
}

float head_turn(Vec3 forward, float vx, float vz)
{
    const float limit = (float)M_PI / 4;
    if (!(vx * vx + vz * vz > 9) || !(forward.x * forward.x + forward.z * forward.z > 0))
        return 0;
    // Yaw about +y that takes the heading onto the velocity (a rotation by t about +y turns
    // (x, z) to (x cos t + z sin t, -x sin t + z cos t)).
    float heading = atan2f(forward.x, forward.z), travel = atan2f(vx, vz);
    float t = travel - heading;
    t = remainderf(t, 2 * (float)M_PI);
    return clampf(t, -limit, limit);
}

static Mat3 columns(Vec3 x, Vec3 y, Vec3 z)
{
    Mat3 m;
    const Vec3 c[3] = { x, y, z };
    for (int j = 0; j < 3; j++) {
        m.m[0][j] = c[j].x;
        m.m[1][j] = c[j].y;
        m.m[2][j] = c[j].z;
    }
    return m;
}

static Vec3 column(const Mat3 &m, int j) { return v3(m.m[0][j], m.m[1][j], m.m[2][j]); }

Mat3 limb_frame(Vec3 from, Vec3 to, Vec3 body_x)
{
    Vec3 y = v3_normalize(v3_sub(from, to));
    if (v3_dot(y, y) == 0)
        y = v3(0, 1, 0);
    Vec3 x = v3_madd(body_x, y, -v3_dot(body_x, y));
    if (v3_length(x) < 1e-5f) {
        // A bone along the body's x: any axis across it will do.
        Vec3 other = fabsf(y.y) < 0.9f ? v3(0, 1, 0) : v3(0, 0, 1);
        x = v3_madd(other, y, -v3_dot(other, y));
    }
    x = v3_normalize(x);
    return columns(x, y, v3_cross(x, y));
}

static Mat3 body_rotation(dBodyID body)
{
    const dReal *r = dBodyGetRotation(body);     // rows of 4
    Mat3 m;
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            m.m[i][j] = (float)r[i * 4 + j];
    return m;
}

static Vec3 body_position(dBodyID body)
{
    const dReal *p = dBodyGetPosition(body);
    return v3((float)p[0], (float)p[1], (float)p[2]);
}

static Vec3 at(Vec3 origin, const Mat3 &r, const float *local)
{
    return v3_add(origin, m3_apply(r, v3(local[0], local[1], local[2])));
}

static void set_body(dBodyID body, Vec3 p, const Mat3 &r)
{
    dMatrix3 m;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            m[i * 4 + j] = r.m[i][j];
        m[i * 4 + 3] = 0;
    }
    dBodySetRotation(body, m);
    dBodySetPosition(body, p.x, p.y, p.z);
}

bool rider_figure(BikeState *bike, const Terrain *ground, RiderFigure *out)
{
    if (!bike || !bike->built || !out)
        return false;
    const float *p = bike_catalogue_row(bike)->rider_pose;
    dBodyID rider = bike->body[BODY_RIDER], fork = bike->body[BODY_UPPER_FORK];
    dBodyID frame = bike->body[BODY_FRAME];
    Vec3 pos = body_position(rider);
    Mat3 rot = body_rotation(rider);
    dMatrix3 saved_rot;
    dVector3 saved_pos;
    memcpy(saved_rot, dBodyGetRotation(rider), sizeof saved_rot);
    memcpy(saved_pos, dBodyGetPosition(rider), sizeof saved_pos);
    Vec3 fork_pos = body_position(fork);
    Mat3 fork_rot = body_rotation(fork);

    // Shoulders too close to the bars: the rider leans back about the -x hip.
    const float mid_shoulder[3] = { 0, p[4], p[5] }, mid_grip[3] = { 0, p[16], p[17] };
    float tilt = posture_tilt(v3_length(v3_sub(at(pos, rot, mid_shoulder), at(fork_pos, fork_rot, mid_grip))));
    out->lean_back = tilt;
    if (tilt > 0) {
        Vec3 x = column(rot, 0);
        Vec3 up = v3_normalize(v3_madd(column(rot, 1), column(rot, 2), tilt));
        Vec3 z = v3_normalize(v3_cross(x, up));
        Mat3 turned = columns(x, v3_cross(z, x), z);
        Vec3 hip = at(pos, rot, p + 9);
        pos = v3_sub(hip, m3_apply(turned, v3(p[9], p[10], p[11])));
        rot = turned;
        set_body(rider, pos, rot);      // the feet's dab targets read the hips from the body
    }
    out->body_position = pos;
    out->body_rotation = rot;

    foot_points(bike, ground, out->foot, out->foot_down);
    Vec3 bx = column(rot, 0);
    for (int side = 0; side < 2; side++) {
        float s = side ? 1.0f : -1.0f;
        out->shoulder[side] = at(pos, rot, p + 3 + 3 * side);
        out->hip[side] = at(pos, rot, p + 9 + 3 * side);
        out->grip[side] = at(fork_pos, fork_rot, p + 15 + 3 * side);
        Vec3 elbow_pole = v3_add(out->shoulder[side], m3_apply(rot, v3(0.5f * s, -1, 1)));
        Vec3 knee_pole = v3_add(out->hip[side], m3_apply(rot, v3(0.4f * s, 0, -2)));
        out->elbow[side] = solve_two_bone(out->shoulder[side], out->grip[side], p[27], p[28], elbow_pole);
        out->knee[side] = solve_two_bone(out->hip[side], out->foot[side], p[29], p[30], knee_pole);
        // A limb's far joint sits a bone's length from the middle one, along the solved line.
        Vec3 hand = v3_madd(out->elbow[side], v3_normalize(v3_sub(out->grip[side], out->elbow[side])), p[28]);
        Vec3 ankle = v3_madd(out->knee[side], v3_normalize(v3_sub(out->foot[side], out->knee[side])), p[30]);
        struct { int bone; Vec3 from, to; } limbs[4] = {
            { BONE_FOREARM_L + side, out->elbow[side], hand },
            { BONE_UPPER_ARM_L + side, out->shoulder[side], out->elbow[side] },
            { BONE_SHIN_L + side, out->knee[side], ankle },
            { BONE_THIGH_L + side, out->hip[side], out->knee[side] },
        };
        for (auto &l : limbs) {
            FigureBone &b = out->bones[l.bone];
            b.centre = v3(p[31 + 3 * l.bone], p[32 + 3 * l.bone], p[33 + 3 * l.bone]);
            b.translation = l.from;
            b.rotation = limb_frame(l.from, l.to, bx);
        }
    }
    FigureBone &torso = out->bones[BONE_TORSO];
    torso.centre = v3(p[55], p[56], p[57]);
    torso.translation = at(pos, rot, p + 55);
    torso.rotation = rot;

    // The head looks where the bike goes.
    dVector3 fwd;
    dBodyVectorToWorld(frame, 0, 0, -1, fwd);
    const dReal *v = dBodyGetLinearVel(frame);
    float yaw = head_turn(v3((float)fwd[0], (float)fwd[1], (float)fwd[2]), (float)v[0], (float)v[2]);
    out->head_position = at(pos, rot, p);
    out->head_rotation = m3_mul(m3_axis_angle(v3(0, 1, 0), yaw), rot);

    if (tilt > 0) {
        // Exactly as it was: drawing never reaches the physics.
        dBodySetRotation(rider, saved_rot);
        dBodySetPosition(rider, saved_pos[0], saved_pos[1], saved_pos[2]);
    }
    return true;
}
