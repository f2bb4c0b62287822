// The rider figure's geometry: two-bone limbs, the lean-back correction, bone frames that
// carry the rest pose onto the solved joints, and the head's turn.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "bike/figure.h"
#include "ride_fixture.h"

static float dist(Vec3 a, Vec3 b) { return v3_length(v3_sub(a, b)); }

static bool finite3(Vec3 v) { return isfinite(v.x) && isfinite(v.y) && isfinite(v.z); }

TEST(Figure, TwoBoneKeepsLengthsBendsTowardsThePoleAndNeverStraightens)
{
    const Vec3 root = v3(0, 0, 0), pole = v3(0, 0, 5);
    const float a = 1.0f, b = 0.8f;
    // Reachable: both bones keep their lengths and the joint is on the pole's side.
    Vec3 target = v3(0, -1.2f, 0.3f);
    Vec3 j = solve_two_bone(root, target, a, b, pole);
    EXPECT_NEAR(dist(root, j), a, 1e-5);
    EXPECT_NEAR(dist(j, target), b, 1e-5);
    EXPECT_GT(j.z, 0);
    // Beyond 95 % of the reach: the limb stays bent by the clamped reach, pointing at the target.
    struct { float far; } reaches[] = { { 0.96f * (a + b) }, { a + b }, { 10 } };
    for (auto &r : reaches) {
        SCOPED_TRACE(r.far);
        j = solve_two_bone(root, v3(0, -r.far, 0), a, b, pole);
        float d = 0.95f * (a + b), h = (a * a - b * b + d * d) / (2 * d);
        EXPECT_NEAR(dist(root, j), a, 1e-5);
        EXPECT_NEAR(j.y, -h, 1e-5);
        EXPECT_NEAR(j.z, sqrtf(a * a - h * h), 1e-5) << "bent towards the pole, not straight";
    }
    // Degenerate cases give a finite joint one upper bone from the root.
    Vec3 cases[][2] = {
        { root, pole },                         // target on the root
        { v3(0, -0.1f, 0), pole },              // closer than |a - b|
        { v3(0, -1.2f, 0), v3(0, -3, 0) },      // pole on the line
        { v3(0, 0, -1.2f), v3(0, 0, 4) },       // pole on the line, limb along z
    };
    for (auto &c : cases) {
        j = solve_two_bone(root, c[0], a, b, c[1]);
        ASSERT_TRUE(finite3(j));
        EXPECT_NEAR(dist(root, j), a, 1e-4);
    }
}

TEST(Figure, LeanBackTiltAndHeadTurn)
{
    struct { float d, tilt; } tilts[] = { { 2, 0 }, { 1.25f, 0 }, { 1, 0.09375f }, { 0.25f, 0.375f }, { 0, 0.375f } };
    for (auto &t : tilts)
        EXPECT_FLOAT_EQ(posture_tilt(t.d), t.tilt) << t.d;

    const Vec3 forward = v3(0, 0, -1);
    EXPECT_EQ(head_turn(forward, 0, 0), 0) << "at rest";
    EXPECT_EQ(head_turn(forward, 2, -1), 0) << "below 3 ft/s";
    // A small drift to the -x side: the head follows it exactly.
    float t = head_turn(forward, -1, -10);
    Vec3 look = m3_apply(m3_axis_angle(v3(0, 1, 0), t), forward);
    EXPECT_NEAR(look.x, -1 / sqrtf(101), 1e-5);
    EXPECT_NEAR(look.z, -10 / sqrtf(101), 1e-5);
    // Sideways or backwards travel: at most 45 degrees.
    EXPECT_NEAR(head_turn(forward, 10, 0), -M_PI / 4, 1e-6);
    EXPECT_NEAR(fabsf(head_turn(forward, 0.1f, 10)), M_PI / 4, 1e-6);
}

// rotation * (rest - centre) + translation
static Vec3 skin(const FigureBone &b, Vec3 rest) { return v3_add(m3_apply(b.rotation, v3_sub(rest, b.centre)), b.translation); }

TEST_F(BikeWorld, FigureBonesCarryTheRestPoseOntoTheJointsWithoutMovingTheBody)
{
    BikeState *b = bike_on_ground("yz250f(2017)");
    ASSERT_NE(b, nullptr);
    const float *p = bike_catalogue_row(b)->rider_pose;
    for (int crouch = 0; crouch < 2; crouch++) {
        SCOPED_TRACE(crouch);
        if (crouch) {
            // The rider pushed forward onto the bars: the lean-back correction comes in.
            const dReal *at = dBodyGetPosition(b->body[BODY_RIDER]);
            dBodySetPosition(b->body[BODY_RIDER], at[0], at[1] - 0.3, at[2] - 1.0);
        }
        dMatrix3 rot;
        dVector3 pos;
        memcpy(rot, dBodyGetRotation(b->body[BODY_RIDER]), sizeof rot);
        memcpy(pos, dBodyGetPosition(b->body[BODY_RIDER]), sizeof pos);
        dVector3 hip;
        dBodyGetRelPointPos(b->body[BODY_RIDER], p[9], p[10], p[11], hip);

        RiderFigure f;
        ASSERT_TRUE(rider_figure(b, &terrain, &f));
        EXPECT_EQ(memcmp(rot, dBodyGetRotation(b->body[BODY_RIDER]), sizeof rot), 0);
        EXPECT_EQ(memcmp(pos, dBodyGetPosition(b->body[BODY_RIDER]), sizeof pos), 0);
        if (crouch)
            EXPECT_GT(f.lean_back, 0.05f);
        else
            EXPECT_EQ(f.lean_back, 0);
        EXPECT_NEAR(dist(f.hip[0], v3((float)hip[0], (float)hip[1], (float)hip[2])), 0, 1e-4) << "turned about the -x hip";
        // Leaning back turns the body's up axis towards its rear (+z).
        Vec3 up = v3(f.body_rotation.m[0][1], f.body_rotation.m[1][1], f.body_rotation.m[2][1]);
        Vec3 phys_up = v3((float)rot[1], (float)rot[5], (float)rot[9]);
        Vec3 back = v3((float)rot[2], (float)rot[6], (float)rot[10]);
        EXPECT_NEAR(v3_dot(up, back), f.lean_back / sqrtf(1 + f.lean_back * f.lean_back), 1e-4);
        EXPECT_GT(v3_dot(up, phys_up), 0.9f);

        for (int side = 0; side < 2; side++) {
            EXPECT_NEAR(dist(f.shoulder[side], f.elbow[side]), p[27], 1e-4);
            EXPECT_NEAR(dist(f.hip[side], f.knee[side]), p[29], 1e-4);
            EXPECT_LE(dist(f.knee[side], f.foot[side]), p[30] + 1e-4);
            // The rest pose hangs the limbs down; the bones put each rest joint on the solved one.
            Vec3 rest_shoulder = v3(p[3 + 3 * side], p[4 + 3 * side], p[5 + 3 * side]);
            Vec3 rest_hip = v3(p[9 + 3 * side], p[10 + 3 * side], p[11 + 3 * side]);
            Vec3 rest_elbow = v3_sub(rest_shoulder, v3(0, p[27], 0));
            Vec3 rest_hand = v3_sub(rest_elbow, v3(0, p[28], 0));
            Vec3 rest_knee = v3_sub(rest_hip, v3(0, p[29], 0));
            EXPECT_NEAR(dist(skin(f.bones[BONE_UPPER_ARM_L + side], rest_shoulder), f.shoulder[side]), 0, 1e-4);
            EXPECT_NEAR(dist(skin(f.bones[BONE_UPPER_ARM_L + side], rest_elbow), f.elbow[side]), 0, 1e-4);
            EXPECT_NEAR(dist(skin(f.bones[BONE_FOREARM_L + side], rest_elbow), f.elbow[side]), 0, 1e-4);
            Vec3 hand = skin(f.bones[BONE_FOREARM_L + side], rest_hand);
            EXPECT_NEAR(dist(hand, f.elbow[side]), p[28], 1e-4);
            EXPECT_LT(dist(hand, f.grip[side]), 0.05f * (p[27] + p[28]) + 1e-3) << "the hand at the grip";
            EXPECT_NEAR(dist(skin(f.bones[BONE_THIGH_L + side], rest_knee), f.knee[side]), 0, 1e-4);
            EXPECT_NEAR(dist(skin(f.bones[BONE_SHIN_L + side], rest_knee), f.knee[side]), 0, 1e-4);
            // Limb frames are rotations: orthonormal, right-handed.
            const Mat3 &r = f.bones[BONE_SHIN_L + side].rotation;
            Mat3 rtr = m3_mul(m3_transpose(r), r);
            for (int i = 0; i < 3; i++)
                for (int k = 0; k < 3; k++)
                    EXPECT_NEAR(rtr.m[i][k], i == k ? 1 : 0, 1e-5);
            Vec3 c0 = v3(r.m[0][0], r.m[1][0], r.m[2][0]), c1 = v3(r.m[0][1], r.m[1][1], r.m[2][1]);
            Vec3 c2 = v3(r.m[0][2], r.m[1][2], r.m[2][2]);
            EXPECT_NEAR(v3_dot(v3_cross(c0, c1), c2), 1, 1e-5);
        }
        // The torso and the head ride with the corrected body.
        Vec3 head = v3_add(f.body_position, m3_apply(f.body_rotation, v3(p[0], p[1], p[2])));
        EXPECT_NEAR(dist(head, f.head_position), 0, 1e-5);
        EXPECT_NEAR(dist(skin(f.bones[BONE_TORSO], v3(p[0], p[1], p[2])), head), 0, 1e-4);
    }
    EXPECT_FALSE(rider_figure(nullptr, &terrain, nullptr));
}
